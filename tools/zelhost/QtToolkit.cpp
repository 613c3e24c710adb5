// The toolkit seam (Toolkit.h) on Qt: the application and its event loop, the module's page, the
// variable selector's dialog, and the message-box watch of Display.h.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <optional>

#include "Display.h"
#include "Toolkit.h"
#include "VariableSelector.h"
#include "platform/TextUtils.h"

namespace zelhost {

namespace {

// The page of the instance, found among the application's windows by its name.
QWidget* FindPage() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("frmPropertyPage")) return w;
    return nullptr;
}

class TNotifierWatch final : public TWatch {
public:
    TNotifierWatch(int descriptor, std::function<void()> onReadable) : FNotifier(descriptor, QSocketNotifier::Read) {
        QObject::connect(&FNotifier, &QSocketNotifier::activated, [onReadable = std::move(onReadable)] {
            try {
                onReadable();
            } catch (...) {
                // Nothing may unwind through the event loop.
            }
        });
    }

private:
    QSocketNotifier FNotifier;
};

class TQtToolkit final : public TToolkit {
public:
    explicit TQtToolkit(TEventPrinter& events) : FApp(FArgc, FArgv), FBoxes(events) {
        // Only the time limit or a signal ends a run, not closing the selector dialog or a message box.
        FApp.setQuitOnLastWindowClosed(false);
        FApp.installEventFilter(&FBoxes);
    }

    int Run() override { return QApplication::exec(); }
    void Quit() override { QCoreApplication::quit(); }
    void QuitAfter(int milliseconds) override {
        QTimer::singleShot(milliseconds, &FApp, [] { QCoreApplication::quit(); });
    }
    void Post(std::function<void()> work) override {
        QMetaObject::invokeMethod(&FApp, std::move(work), Qt::QueuedConnection);
    }
    void RunPosted() override {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::sendPostedEvents();
    }
    std::unique_ptr<TWatch> WatchReadable(int descriptor, std::function<void()> onReadable) override {
        return std::make_unique<TNotifierWatch>(descriptor, std::move(onReadable));
    }

    bool HasPage() override { return FindPage() != nullptr; }
    void ScreenshotPage(const std::string& screenshot, const std::string& click) override {
        QTimer::singleShot(200, [screenshot, click] {
            if (!click.empty()) {
                QPushButton* button = FindPage() ? FindPage()->findChild<QPushButton*>(QString::fromStdString(click)) : nullptr;
                if (!button) {
                    std::fprintf(stderr, "zelhost: the page has no button %s\n", click.c_str());
                    QCoreApplication::exit(1);
                    return;
                }
                button->click();
                QCoreApplication::processEvents();
            }
            QWidget* page = FindPage();
            if (!page || !page->grab().save(QString::fromStdString(screenshot), "PNG")) {
                std::fprintf(stderr, "zelhost: cannot write the screenshot %s\n", screenshot.c_str());
                QCoreApplication::exit(1);
                return;
            }
            QCoreApplication::quit();
        });
    }
    void QuitWhenPageCloses() override {
        QObject::connect(&FPageWatch, &QTimer::timeout, [] {
            QWidget* page = FindPage();
            if (!page || !page->isVisible()) QCoreApplication::quit();
        });
        FPageWatch.start(200);
    }

    zel::HRESULT ChooseVariable(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) override {
        return DefaultVariableChooser(kind, names, chosen);
    }

private:
    // Qt sees no arguments of ours.
    static inline int FArgc = 1;
    static inline char FArg0[] = "zelhost";
    static inline char* FArgv[] = {FArg0, nullptr};

    QApplication FApp;
    TMessageBoxWatch FBoxes;
    QTimer FPageWatch;
};

}  // namespace

std::unique_ptr<TToolkit> MakeToolkit(TEventPrinter& events) {
    // The platform comes from the environment as usual, except that a session without a display
    // that opens runs offscreen instead of aborting.
    ChooseQtPlatform();
    EnsureRuntimeDir();
    return std::make_unique<TQtToolkit>(events);
}

zel::HRESULT DefaultVariableChooser(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) {
    if (std::optional<zel::HRESULT> scripted = ScriptedChoice(chosen)) return *scripted;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return zel::E_FAIL;
    // A list of the host's variables with a filter box above it. The filter text itself is the
    // answer when no listed variable is chosen, so a variable not written yet can still be named.
    QDialog dialog;
    dialog.setObjectName("dlgSelectVariable");
    dialog.setWindowTitle(QStringLiteral("Select variable"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Host variables (%1):").arg(QString::fromStdString(SelectorKindName(kind)))));
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
    // The items are `names` in order, so each is matched on its own bytes.
    QObject::connect(filter, &QLineEdit::textChanged, list, [list, &names](const QString& text) {
        const std::string typed = zel::Utf8ToWin1252(text.toStdString());
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setHidden(!NameMatchesFilter(names[static_cast<size_t>(i)], typed));
        list->clearSelection();
    });
    if (dialog.exec() != QDialog::Accepted) return zel::E_FAIL;
    QListWidgetItem* item = list->currentItem();
    const QString choice = item && item->isSelected() && !item->isHidden() ? item->text() : filter->text().trimmed();
    if (choice.isEmpty()) return zel::E_FAIL;
    chosen = zel::Utf8ToWin1252(choice.toStdString());
    return zel::S_OK;
}

}  // namespace zelhost
