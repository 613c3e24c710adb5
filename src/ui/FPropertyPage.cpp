#include "ui/FPropertyPage.h"

#include <QFrame>
#include <QGroupBox>
#include <QHideEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include "device/UZELUtils.h"
#include "platform/TextUtils.h"

namespace zel {

namespace {

constexpr int kIntervalMax = 32000;

// Module text is Windows-1252; the widgets show Unicode.
QString FromWin1252(std::string_view text) { return QString::fromUtf8(Win1252ToUtf8(text)); }

std::string ToWin1252(const QString& text) { return Utf8ToWin1252(text.toStdString()); }

// Simple artwork of our own: 16 × 16 button pictures drawn on a background colour that FormCreate
// may make transparent, and two 32 × 32 icons.
enum class TArt { List, Check, Apply, Detect, Update, Box, Clock };

QPixmap Draw(TArt art, int size, QColor background) {
    QPixmap pm(size, size);
    pm.fill(background);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 16.0;
    QPen pen(QColor(0, 0, 128), 1.6 * s);
    p.setPen(pen);
    switch (art) {
        case TArt::List:
            for (int i = 0; i < 3; ++i) p.drawLine(QPointF(4 * s, (4 + 4 * i) * s), QPointF(13 * s, (4 + 4 * i) * s));
            break;
        case TArt::Check:
        case TArt::Apply:
            p.setPen(QPen(art == TArt::Check ? QColor(0, 128, 0) : QColor(0, 0, 160), 2.2 * s));
            p.drawPolyline(QPolygonF({QPointF(3 * s, 8 * s), QPointF(6.5 * s, 12 * s), QPointF(13 * s, 4 * s)}));
            break;
        case TArt::Detect:
            p.drawEllipse(QPointF(6.5 * s, 6.5 * s), 4 * s, 4 * s);
            p.drawLine(QPointF(9.5 * s, 9.5 * s), QPointF(14 * s, 14 * s));
            break;
        case TArt::Update:
            p.drawArc(QRectF(3 * s, 3 * s, 10 * s, 10 * s), 30 * 16, 270 * 16);
            p.drawLine(QPointF(12 * s, 3 * s), QPointF(12.5 * s, 7 * s));
            break;
        case TArt::Box:
            p.setBrush(QColor(230, 230, 240));
            p.drawRoundedRect(QRectF(2 * s, 4 * s, 12 * s, 8 * s), 1 * s, 1 * s);
            p.setBrush(QColor(0, 160, 0));
            for (int i = 0; i < 8; ++i) p.drawEllipse(QPointF((3.5 + 1.3 * i) * s, 10 * s), 0.45 * s, 0.45 * s);
            break;
        case TArt::Clock:
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(8 * s, 8 * s), 6 * s, 6 * s);
            p.drawLine(QPointF(8 * s, 8 * s), QPointF(8 * s, 4 * s));
            p.drawLine(QPointF(8 * s, 8 * s), QPointF(11 * s, 9.5 * s));
            break;
    }
    return pm;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->adjustSize();
    l->move(left, top);
    return l;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text, QRect geometry, TArt art, QColor background) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(geometry);
    b->setFlat(true);
    b->setIcon(QIcon(Draw(art, 16, background)));
    b->setIconSize(QSize(16, 16));
    return b;
}

QGroupBox* Group(QWidget* parent, const char* name, const QString& title, QRect geometry) {
    auto* g = new QGroupBox(title, parent);
    g->setObjectName(name);
    g->setGeometry(geometry);
    return g;
}

}  // namespace

TfrmPropertyPage::TfrmPropertyPage() : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("frmPropertyPage");
    setWindowTitle("ALL3000 - Configuration");
    setFixedSize(443, 689);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    setAutoFillBackground(true);

    auto* pTop = new QFrame(this);
    pTop->setObjectName("pTop");
    pTop->setGeometry(0, 0, 443, 65);
    pTop->setAutoFillBackground(true);
    QPalette white = pTop->palette();
    white.setColor(QPalette::Window, Qt::white);
    pTop->setPalette(white);
    auto* image1 = new QLabel(pTop);
    image1->setObjectName("Image1");
    image1->setPixmap(Draw(TArt::Box, 32, Qt::white));
    image1->setGeometry(16, 8, 32, 32);
    QLabel* title = Label(pTop, "Label1", "ALL3000 - Configuration", 72, 8);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->adjustSize();
    Label(pTop, "Label2", FromWin1252("Use the ALL3000 to read I\xb2" "C Sensors"), 88, 24);
    Label(pTop, "Label3", "You will need to setup the IPAdress of the Device", 88, 40);
    auto* bevel = new QFrame(pTop);
    bevel->setObjectName("Bevel2");
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(0, 63, 443, 2);

    QGroupBox* group1 = Group(this, "GroupBox1", "Device Parameters", {8, 72, 425, 73});
    Label(group1, "Label4", "IP-Adress:", 24, 32);
    auto* edIPAdress = new QLineEdit("192.168.20.1", group1);
    edIPAdress->setObjectName("edIPAdress");
    edIPAdress->setGeometry(104, 28, 121, 21);
    QPushButton* btnUpdateNow = Button(group1, "btnUpdateNow", "Update Values", {312, 27, 103, 22}, TArt::Update, Qt::yellow);

    QGroupBox* group2 = Group(this, "GroupBox2", "Status Variables", {8, 154, 425, 423});
    static const char* const kSensorCaptions[8] = {"Label5", "Label8", "Label11", "Label14", "Label17", "Label20", "Label23", "Label26"};
    static const char* const kStatusCaptions[8] = {"Label6", "Label7", "Label10", "Label13", "Label16", "Label19", "Label22", "Label25"};
    QWidget* previous = nullptr;
    for (int i = 0; i < kALL3000Inputs; ++i) {
        const int y = 48 * i;
        const QString n = QString::number(i);
        Label(group2, kSensorCaptions[i], "Sensor " + n + ":", 16, 28 + y);
        QLabel* type = Label(group2, ("lblSensor" + n).toLatin1().constData(), "Unknown", 72, 28 + y);
        type->setProperty("Tag", 0);
        Label(group2, kStatusCaptions[i], "Status:", 16, 52 + y);
        auto* status = new QLineEdit(group2);
        status->setObjectName("edStatus" + n);
        status->setGeometry(72, 48 + y, 313, 21);
        status->setEnabled(false);
        QPushButton* select = Button(group2, ("btnSelectVar" + n).toLatin1().constData(), "", {392, 48 + y, 23, 22}, TArt::List,
                                     QColor(192, 192, 192));
        select->setProperty("Tag", i);
        select->setToolTip("List All Variables");
        connect(select, &QPushButton::clicked, this, [this, i] { btnSelectVar0Click(i); });
        if (previous) setTabOrder(previous, select);
        previous = select;
    }

    QGroupBox* group3 = Group(this, "GroupBox3", "General Settings", {8, 583, 427, 65});
    Label(group3, "Label12", "Update within an Interval of", 8, 33);
    auto* udInterval = new QSpinBox(group3);
    udInterval->setObjectName("udInterval");
    udInterval->setRange(0, kIntervalMax);
    udInterval->setSingleStep(1);
    udInterval->setGeometry(160, 31, 73, 17);
    if (auto* edit = udInterval->findChild<QLineEdit*>()) edit->setObjectName("edInterval");
    Label(group3, "Label9", "seconds", 248, 33);
    auto* image2 = new QLabel(group3);
    image2->setObjectName("Image2");
    image2->setPixmap(Draw(TArt::Clock, 32, Qt::transparent));
    image2->setGeometry(376, 16, 32, 32);

    QPushButton* btnDeviceSetup = Button(this, "btnDeviceSetup", "Detect Sensors", {162, 654, 103, 22}, TArt::Detect, Qt::yellow);
    QPushButton* btnOK = Button(this, "btnOK", "OK", {274, 654, 73, 22}, TArt::Check, Qt::green);
    QPushButton* btnApply = Button(this, "btnApply", "Apply", {362, 654, 73, 22}, TArt::Apply, QColor(192, 192, 192));

    // Tab order: the address, Update Values, the selection buttons, the interval, then the buttons.
    setTabOrder(edIPAdress, btnUpdateNow);
    setTabOrder(btnUpdateNow, findChild<QPushButton*>("btnSelectVar0"));
    setTabOrder(previous, udInterval);
    setTabOrder(udInterval, btnDeviceSetup);
    setTabOrder(btnDeviceSetup, btnOK);
    setTabOrder(btnOK, btnApply);

    connect(btnUpdateNow, &QPushButton::clicked, this, [this] { btnUpdateNowClick(); });
    connect(btnDeviceSetup, &QPushButton::clicked, this, [this] { btnDeviceSetupClick(); });
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnApply, &QPushButton::clicked, this, [this] { btnApplyClick(); });
    FormCreate();
}

TfrmPropertyPage::~TfrmPropertyPage() = default;

template <class F>
void TfrmPropertyPage::Handle(F&& body) {
    ++FHandlerDepth;
    IZELALL3000* config = FConfigIntf.Get();
    if (config) config->AddRef();
    try {
        body(config);
    } catch (...) {
        // A handler reports nothing of its own; the instance reports its failures.
    }
    // May free the instance, which then hides and frees this page: deferred below.
    if (config) config->Release();
    if (--FHandlerDepth == 0 && FFreeRequested) deleteLater();
}

void TfrmPropertyPage::SetReferences(IZELALL3000* config, IZELInstanceControl* control, IZELVariableManager* variables) {
    FInstanceControl = control;
    FVariableManager = variables;
    // Last: letting go of the instance may end it, and with it the host's services.
    FConfigIntf.Assign(config);
}

void TfrmPropertyPage::ShowPage() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
    show();
    raise();
}

void TfrmPropertyPage::HidePage() { hide(); }

void TfrmPropertyPage::Free() noexcept {
    hide();
    FInstanceControl = nullptr;
    FVariableManager = nullptr;
    FConfigIntf.Reset();
    if (FHandlerDepth > 0)
        FFreeRequested = true;
    else
        deleteLater();
}

void TfrmPropertyPage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TfrmPropertyPage::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // A window minimised by the user is still open.
    if (!event->spontaneous()) FConfigIntf.Reset();
}

void TfrmPropertyPage::FormCreate() {
    // The OK picture's green and the yellow of Detect Sensors and Update Values are transparent.
    const struct { const char* name; QColor colour; TArt art; } pictures[] = {
        {"btnOK", QColor(0, 255, 0), TArt::Check},
        {"btnDeviceSetup", QColor(255, 255, 0), TArt::Detect},
        {"btnUpdateNow", QColor(255, 255, 0), TArt::Update},
    };
    for (const auto& p : pictures) {
        QPixmap pm = Draw(p.art, 16, p.colour);
        pm.setMask(pm.createMaskFromColor(p.colour));
        findChild<QPushButton*>(p.name)->setIcon(QIcon(pm));
    }
}

void TfrmPropertyPage::FormShow() {
    Handle([this](IZELALL3000* config) {
        if (config) config->GetConfiguration(FConfig);
        findChild<QLineEdit*>("edIPAdress")->setText(FromWin1252(FConfig.IPAddress.View()));
        // The up-down's range is 0 to 32000: an interval outside it is shown clamped, not wrapped.
        findChild<QSpinBox*>("udInterval")->setValue(std::clamp(FConfig.Interval, 0, kIntervalMax));
        for (int i = 0; i < kALL3000Inputs; ++i) {
            const QString n = QString::number(i);
            const uint8_t type = FConfig.Devices[i].DeviceType;
            auto* label = findChild<QLabel*>("lblSensor" + n);
            label->setText(FromWin1252(SensorTypeName(type)));
            label->adjustSize();
            label->setProperty("Tag", type);
            findChild<QLineEdit*>("edStatus" + n)->setText(type != stNone ? FromWin1252(FConfig.Devices[i].VarName.View()) : QString());
            findChild<QPushButton*>("btnSelectVar" + n)->setEnabled(type != stNone);
        }
    });
}

void TfrmPropertyPage::btnApplyClick() {
    Handle([this](IZELALL3000* config) {
        FConfig.IPAddress = ZELString(ToWin1252(findChild<QLineEdit*>("edIPAdress")->text()));
        FConfig.Interval = findChild<QSpinBox*>("udInterval")->value();
        for (int i = 0; i < kALL3000Inputs; ++i)
            FConfig.Devices[i].VarName = ZELString(ToWin1252(findChild<QLineEdit*>("edStatus" + QString::number(i))->text()));
        const TZELALL3000Settings copy = FConfig;
        if (config) config->SetConfiguration(copy);
    });
}

void TfrmPropertyPage::btnOKClick() {
    Handle([this](IZELALL3000*) {
        btnApplyClick();
        hide();
    });
}

void TfrmPropertyPage::btnSelectVar0Click(int row) {
    Handle([this, row](IZELALL3000*) {
        const QString n = QString::number(row);
        const auto type = static_cast<uint8_t>(findChild<QLabel*>("lblSensor" + n)->property("Tag").toUInt());
        ZELString name;
        const HRESULT r = RunVariableSelector(FInstanceControl, SensorVariableKind(type), name);
        // The page may have been freed meanwhile; its widgets live until the handler is done.
        if (Succeeded(r)) findChild<QLineEdit*>("edStatus" + n)->setText(FromWin1252(name.View()));
    });
}

void TfrmPropertyPage::btnDeviceSetupClick() {
    Handle([this](IZELALL3000* config) {
        if (config) config->DetectSensors();
        FormShow();
    });
}

void TfrmPropertyPage::btnUpdateNowClick() {
    Handle([](IZELALL3000* config) {
        if (config) config->UpdateNow();
    });
}

void RegisterPropertyPage() noexcept {
    SetPropertyPageFactory({[]() -> TPropertyPageBase* { return new TfrmPropertyPage(); },
                            [](TPropertyPageBase* page) noexcept { static_cast<TfrmPropertyPage*>(page)->Free(); }});
}

}  // namespace zel
