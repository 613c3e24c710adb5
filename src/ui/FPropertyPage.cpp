#include "ui/FPropertyPage.h"

#include <QFrame>
#include <QGroupBox>
#include <QHideEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include <iterator>
#include <stdexcept>

#include "platform/TextUtils.h"
#include "ui/PageArt.h"
#include "ui/PageLayout.h"

namespace zel {

namespace {

// Module text is Windows-1252; the widgets show Unicode.
QString FromWin1252(std::string_view text) { return QString::fromUtf8(Win1252ToUtf8(text)); }

std::string ToWin1252(const QString& text) { return Utf8ToWin1252(text.toStdString()); }

QRect Place(const TPageControl& c) { return {c.Left, c.Top, c.Width, c.Height}; }

// The widget of row `c` under `parent`, for every kind but the window and the up-down with its
// buddy, which the page makes itself.
QWidget* Create(const TPageControl& c, QWidget* parent) {
    const QString text = FromWin1252(c.Text);
    switch (c.Kind) {
        case TControlKind::Window:
        case TControlKind::UpDown:
            break;
        case TControlKind::Edit: {
            auto* edit = new QLineEdit(text, parent);
            edit->setGeometry(Place(c));
            return edit;
        }
        case TControlKind::Panel: {
            auto* panel = new QFrame(parent);
            panel->setGeometry(Place(c));
            panel->setAutoFillBackground(true);
            QPalette fill = panel->palette();
            fill.setColor(QPalette::Window, QColor::fromRgba(c.Back));
            panel->setPalette(fill);
            return panel;
        }
        case TControlKind::Picture: {
            auto* picture = new QLabel(parent);
            picture->setPixmap(QPixmap::fromImage(DrawArt(c.Art, ArtSize(c), QColor::fromRgba(c.Back))));
            picture->setGeometry(Place(c));
            return picture;
        }
        case TControlKind::Label: {
            auto* label = new QLabel(text, parent);
            if (c.Flags & kBold) {
                QFont bold = label->font();
                bold.setBold(true);
                label->setFont(bold);
            }
            label->adjustSize();
            label->move(c.Left, c.Top);
            return label;
        }
        case TControlKind::Line: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            line->setGeometry(Place(c));
            return line;
        }
        case TControlKind::Group: {
            auto* group = new QGroupBox(text, parent);
            group->setGeometry(Place(c));
            return group;
        }
        case TControlKind::Button: {
            auto* button = new QPushButton(text, parent);
            button->setGeometry(Place(c));
            button->setFlat(true);
            button->setIcon(QIcon(QPixmap::fromImage(DrawArt(c.Art, ArtSize(c), QColor::fromRgba(c.Back)))));
            button->setIconSize(QSize(ArtSize(c), ArtSize(c)));
            if (c.Hint) button->setToolTip(c.Hint);
            return button;
        }
    }
    throw std::logic_error(std::string("no widget is made this way for ") + c.Name);
}

}  // namespace

TfrmPropertyPage::TfrmPropertyPage()
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), FControls(std::size(kPageControls), nullptr) {
    const TPageControl& window = kPageControls[0];
    setObjectName(window.Name);
    setWindowTitle(FromWin1252(window.Text));
    setFixedSize(window.Width, window.Height);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    setAutoFillBackground(true);
    FControls[0] = this;

    for (int i = 1; i < kPageControlCount; ++i) {
        const TPageControl& c = kPageControls[i];
        QWidget* parent = FControls[static_cast<size_t>(PageControl(c.Parent))];
        if (c.Flags & kBuddy) continue;  // made with its up-down
        QWidget* w = nullptr;
        if (c.Kind == TControlKind::UpDown) {
            // One spin box over the buddy edit and the arrows; its line edit carries the edit's name.
            const TPageControl& buddy = kPageControls[i - 1];
            auto* spin = new QSpinBox(parent);
            spin->setRange(0, kIntervalMax);
            spin->setSingleStep(1);
            spin->setGeometry(Place(buddy).united(Place(c)));
            if (auto* edit = spin->findChild<QLineEdit*>()) {
                edit->setObjectName(buddy.Name);
                FControls[static_cast<size_t>(i - 1)] = edit;
            }
            w = spin;
        } else {
            w = Create(c, parent);
        }
        w->setObjectName(c.Name);
        if (c.Flags & kDisabled) w->setEnabled(false);
        if (c.Handler != THandler::NoHandler)
            connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, [this, i] { FLogic.Click(i); });
        FControls[static_cast<size_t>(i)] = w;
    }

    // The table's tab ranks are dense from 0.
    std::vector<QWidget*> stops(std::size(kPageControls), nullptr);
    for (size_t i = 0; i < stops.size(); ++i)
        if (kPageControls[i].Tab >= 0) stops[static_cast<size_t>(kPageControls[i].Tab)] = FControls[i];
    for (size_t rank = 1; rank < stops.size() && stops[rank]; ++rank) setTabOrder(stops[rank - 1], stops[rank]);
    FormCreate();
}

TfrmPropertyPage::~TfrmPropertyPage() = default;

void TfrmPropertyPage::SetReferences(IZELALL3000* config, IZELInstanceControl* control, IZELVariableManager* variables) {
    FLogic.SetReferences(config, control, variables);
}

void TfrmPropertyPage::ShowPage() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
    show();
    raise();
}

void TfrmPropertyPage::HidePage() { hide(); }

void TfrmPropertyPage::Free() noexcept { FLogic.Free(); }

void TfrmPropertyPage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FLogic.FormShow();
}

void TfrmPropertyPage::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // A window minimised by the user is still open.
    if (!event->spontaneous()) FLogic.Hidden();
}

void TfrmPropertyPage::FormCreate() { FLogic.FormCreate(); }
void TfrmPropertyPage::FormShow() { FLogic.FormShow(); }
void TfrmPropertyPage::btnApplyClick() { FLogic.btnApplyClick(); }
void TfrmPropertyPage::btnOKClick() { FLogic.btnOKClick(); }
void TfrmPropertyPage::btnSelectVar0Click(int row) { FLogic.btnSelectVar0Click(row); }
void TfrmPropertyPage::btnDeviceSetupClick() { FLogic.btnDeviceSetupClick(); }
void TfrmPropertyPage::btnUpdateNowClick() { FLogic.btnUpdateNowClick(); }

std::string TfrmPropertyPage::Text(int control) const {
    QWidget* w = FControls.at(static_cast<size_t>(control));
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return ToWin1252(edit->text());
    if (auto* label = qobject_cast<QLabel*>(w)) return ToWin1252(label->text());
    if (auto* button = qobject_cast<QPushButton*>(w)) return ToWin1252(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) return ToWin1252(group->title());
    return ToWin1252(w->windowTitle());
}

void TfrmPropertyPage::SetText(int control, std::string_view text) {
    QWidget* w = FControls.at(static_cast<size_t>(control));
    const QString value = FromWin1252(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(value);
        if (kPageControls[control].Width == 0) label->adjustSize();
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        button->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(value);
    } else {
        w->setWindowTitle(value);
    }
}

int TfrmPropertyPage::Position(int upDown) const {
    return static_cast<QSpinBox*>(FControls.at(static_cast<size_t>(upDown)))->value();
}

void TfrmPropertyPage::SetPosition(int upDown, int value) {
    static_cast<QSpinBox*>(FControls.at(static_cast<size_t>(upDown)))->setValue(value);
}

void TfrmPropertyPage::SetEnabled(int control, bool enabled) { FControls.at(static_cast<size_t>(control))->setEnabled(enabled); }

void TfrmPropertyPage::SetPictureKey(int button, uint32_t rgb) {
    const QColor key = QColor::fromRgb(rgb);
    QPixmap pm = QPixmap::fromImage(DrawArt(kPageControls[button].Art, ArtSize(kPageControls[button]), key));
    pm.setMask(pm.createMaskFromColor(key));
    static_cast<QPushButton*>(FControls.at(static_cast<size_t>(button)))->setIcon(QIcon(pm));
}

void TfrmPropertyPage::HideWindow() noexcept { hide(); }

void TfrmPropertyPage::Destroy() noexcept { deleteLater(); }

void RegisterPropertyPage() noexcept {
    SetPropertyPageFactory({[]() -> TPropertyPageBase* { return new TfrmPropertyPage(); },
                            [](TPropertyPageBase* page) noexcept { static_cast<TfrmPropertyPage*>(page)->Free(); }});
}

}  // namespace zel
