#include "VariableSelector.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>
#include <QString>
#include <array>
#include <cstdlib>

#include "platform/TextUtils.h"

namespace zelhost {

using zel::E_FAIL;
using zel::E_NOINTERFACE;
using zel::E_NOTIMPL;
using zel::S_OK;

TSelectorInstance::TSelectorInstance(TSelectorHost& host) : FHost(host) { FHost.LiveSelectors.fetch_add(1); }

TSelectorInstance::~TSelectorInstance() { FHost.LiveSelectors.fetch_sub(1); }

HRESULT ZEL_CALL TSelectorInstance::QueryInterface(const TGUID& iid, void** obj) {
    if (!obj) return E_FAIL;
    if (iid == zel::IID_IUnknown || iid == zel::IID_IZELMessageSink || iid == zel::IID_IZELModule ||
        iid == zel::IID_IZELVariableSelector) {
        AddRef();
        *obj = static_cast<zel::IZELVariableSelector*>(this);
        return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
}

int32_t ZEL_CALL TSelectorInstance::AddRef() { return FRefs.fetch_add(1) + 1; }

int32_t ZEL_CALL TSelectorInstance::Release() {
    int32_t left = FRefs.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT ZEL_CALL TSelectorInstance::MessageSink(void*) { return E_FAIL; }

HRESULT ZEL_CALL TSelectorInstance::ExchangeCallbacks(zel::TZELCallbackPair& pair) {
    pair.ModuleCallback = {nullptr, nullptr};
    return S_OK;
}

HRESULT ZEL_CALL TSelectorInstance::ShowPropertyPage() { return E_NOTIMPL; }
HRESULT ZEL_CALL TSelectorInstance::HidePropertyPage() { return E_NOTIMPL; }
HRESULT ZEL_CALL TSelectorInstance::LoadSettings() { return E_NOTIMPL; }
HRESULT ZEL_CALL TSelectorInstance::SaveSettings() { return E_NOTIMPL; }
int32_t ZEL_CALL TSelectorInstance::GetRefCount() { return FRefs.load(); }

HRESULT ZEL_CALL TSelectorInstance::SelectVariable(uint8_t kind, char** name) {
    return FHost.GuardSlot("SelectVariable", [&]() -> HRESULT {
        if (!name) return E_FAIL;
        std::vector<std::string> names = FHost.VariableNames(kind);
        std::string chosen;
        HRESULT r = FHost.ChooseVariable(kind, names, chosen);
        if (zel::Failed(r)) return r;
        if (chosen.empty()) return E_FAIL;
        *name = zel::hoststr::Alloc(chosen);
        return S_OK;
    });
}

std::string Utf8ToWin1252(const QString& text) { return zel::Utf8ToWin1252(text.toStdString()); }

HRESULT DefaultVariableChooser(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) {
    if (const char* scripted = std::getenv("ZELHOST_SELECT")) {
        if (!*scripted) return E_FAIL;
        chosen = scripted;
        return S_OK;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return E_FAIL;
    const QString kindName = kind == zel::VariableKindBoolean ? QStringLiteral("boolean")
                             : kind == zel::VariableKindFloat ? QStringLiteral("float")
                                                              : QStringLiteral("kind %1").arg(kind);
    // A list of the host's variables with a filter box above it. The filter text itself is the
    // answer when no listed variable is chosen, so a variable not written yet can still be named.
    QDialog dialog;
    dialog.setObjectName("dlgSelectVariable");
    dialog.setWindowTitle(QStringLiteral("Select variable"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Host variables (%1):").arg(kindName)));
    auto* filter = new QLineEdit;
    filter->setObjectName("edFilter");
    filter->setPlaceholderText(QStringLiteral("Filter, or a new name"));
    layout->addWidget(filter);
    auto* list = new QListWidget;
    list->setObjectName("lbVariables");
    for (const std::string& n : names) list->addItem(QString::fromUtf8(zel::Win1252ToUtf8(n)));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    QObject::connect(filter, &QLineEdit::textChanged, list, [list](const QString& text) {
        for (int i = 0; i < list->count(); ++i) list->item(i)->setHidden(!list->item(i)->text().contains(text, Qt::CaseInsensitive));
        list->clearSelection();
    });
    if (dialog.exec() != QDialog::Accepted) return E_FAIL;
    QListWidgetItem* item = list->currentItem();
    const QString choice = item && item->isSelected() && !item->isHidden() ? item->text() : filter->text().trimmed();
    if (choice.isEmpty()) return E_FAIL;
    chosen = Utf8ToWin1252(choice);
    return S_OK;
}

}  // namespace zelhost
