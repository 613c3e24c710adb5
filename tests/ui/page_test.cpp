// The configuration page driven as a user would, over the instance's configuration interface of a
// real instance whose host is the tests' recording fake.
#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QHideEvent>
#include <QLabel>
#include <QPointer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

#include "FakeHost.h"
#include "Held.h"
#include "ui/FPropertyPage.h"

using namespace zel;
using namespace zel::test;

namespace {

constexpr uint16_t kId = 3;

// A host whose instance has the given interval and bindings ("name:type" per input); the kernel is
// not running, so nothing goes on the network.
void Configure(FakeHost& host, int32_t interval, const std::vector<std::string>& bindings) {
    host.settings.strings[FakeSettings::Key(kId, "Settings/IPAddress")] = "127.0.0.1:9";
    host.settings.integers[FakeSettings::Key(kId, "Settings/Interval")] = interval;
    host.BindInputs(kId, bindings);
}

struct TPage {
    TfrmPropertyPage* page = new TfrmPropertyPage();
    IZELALL3000* config;
    explicit TPage(IZELALL3000* c, FakeHost& host) : config(c) {
        page->SetReferences(c, &host.control, &host.variables);
        page->ShowPage();
    }
    ~TPage() {
        page->SetReferences(nullptr, nullptr, nullptr);
        delete page;
        config->Release();
    }
    template <class W>
    W* Get(const QString& name) const {
        W* w = page->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    TZELALL3000Settings Stored() const {
        TZELALL3000Settings c;
        config->GetConfiguration(c);
        return c;
    }
};

}  // namespace

TEST(Page, ShowsTheConfiguration) {
    FakeHost host;
    Configure(host, 300, {"Inside:1", "Door:4", "Hidden:0", "", "", "", "", "Odd:132"});
    Held inst(host, kId);
    TPage p(ConfigOf(inst.Module()), host);
    EXPECT_EQ(p.page->windowTitle(), "ALL3000 - Configuration");
    EXPECT_EQ(p.page->size(), QSize(443, 689));
    EXPECT_EQ(p.Get<QLineEdit>("edIPAdress")->text(), "127.0.0.1:9");
    EXPECT_EQ(p.Get<QSpinBox>("udInterval")->value(), 300);
    EXPECT_EQ(p.Get<QLabel>("Label2")->text(), QString::fromUtf8("Use the ALL3000 to read I\xc2\xb2" "C Sensors"));
    // label | field | button enabled, per row
    const struct { const char* type; const char* field; bool enabled; } rows[] = {
        {"Temperature", "Inside", true}, {"Switch", "Door", true}, {"Unknown", "", false}, {"Unknown", "", false},
        {"Unknown", "", false}, {"Unknown", "", false}, {"Unknown", "", false}, {"Switch", "Odd", true},
    };
    for (int i = 0; i < 8; ++i) {
        const QString n = QString::number(i);
        EXPECT_EQ(p.Get<QLabel>("lblSensor" + n)->text(), rows[i].type) << i;
        EXPECT_EQ(p.Get<QLineEdit>("edStatus" + n)->text(), rows[i].field) << i;
        EXPECT_FALSE(p.Get<QLineEdit>("edStatus" + n)->isEnabled()) << i;  // never typed into
        EXPECT_EQ(p.Get<QPushButton>("btnSelectVar" + n)->isEnabled(), rows[i].enabled) << i;
    }
}

TEST(Page, ApplyAndOKSendTheFieldsAndIntervalsAreClamped) {
    // stored interval | shown and applied
    for (auto [stored, shown] : {std::pair{300, 300}, {40000, 32000}, {-5, 0}, {65536 + 10, 32000}}) {
        FakeHost host;
        Configure(host, stored, {"Inside\xb0:1", "", "Hidden:0", "", "", "", "", "Last:2"});
        Held inst(host, kId);
        TPage p(ConfigOf(inst.Module()), host);
        EXPECT_EQ(p.Get<QSpinBox>("udInterval")->value(), shown) << stored;
        p.Get<QLineEdit>("edIPAdress")->setText("127.0.0.1:8");
        p.Get<QLineEdit>("edStatus7")->setText(QString::fromUtf8("Gate\xc2\xb0"));  // as the selector sets it
        QTest::mouseClick(p.Get<QPushButton>("btnApply"), Qt::LeftButton);
        EXPECT_TRUE(p.page->isVisible());  // only OK hides
        TZELALL3000Settings c = p.Stored();
        EXPECT_EQ(c.Interval, shown);
        EXPECT_EQ(c.IPAddress.Str(), "127.0.0.1:8");
        EXPECT_EQ(c.Devices[0].VarName.Str(), "Inside\xb0");  // Windows-1252 there and back
        EXPECT_EQ(c.Devices[7].VarName.Str(), "Gate\xb0");
        EXPECT_EQ(c.Devices[2].VarName.Str(), "");  // the type-0 row sends its empty field
        EXPECT_EQ(c.Devices[2].DeviceType, 0);
    }
    FakeHost host;
    Configure(host, 10, {"Inside:1"});
    Held inst(host, kId);
    TPage p(ConfigOf(inst.Module()), host);
    p.Get<QSpinBox>("udInterval")->setValue(45);
    EXPECT_EQ(p.config->GetRefCount(), 3);  // the host's, the test's and the shown page's
    QHideEvent minimised;
    QSpontaneKeyEvent::setSpontaneous(&minimised);
    static_cast<QObject*>(p.page)->event(&minimised);
    EXPECT_EQ(p.config->GetRefCount(), 3);  // minimised by the user, the page is still open
    QTest::mouseClick(p.Get<QPushButton>("btnOK"), Qt::LeftButton);
    EXPECT_FALSE(p.page->isVisible());
    EXPECT_EQ(p.config->GetRefCount(), 2);  // hidden, the page let go of the instance
    EXPECT_EQ(p.Stored().Interval, 45);
    p.Get<QSpinBox>("udInterval")->setValue(99);  // not applied: showing again reloads
    p.page->SetReferences(p.config, &host.control, &host.variables);  // as the instance does before showing
    p.page->ShowPage();
    EXPECT_EQ(p.Get<QSpinBox>("udInterval")->value(), 45);
}

TEST(Page, SelectionAsksTheRowsKindAndKeepsTheFieldOnCancel) {
    FakeHost host;
    FakeSelector selector;
    host.control.selector = &selector;
    Configure(host, 10, {"Inside:1", "Door:4"});
    Held inst(host, kId);
    TPage p(ConfigOf(inst.Module()), host);
    selector.answer = "Garden";
    QTest::mouseClick(p.Get<QPushButton>("btnSelectVar1"), Qt::LeftButton);
    EXPECT_EQ(p.Get<QLineEdit>("edStatus1")->text(), "Garden");
    selector.answer.reset();  // cancelled
    QTest::mouseClick(p.Get<QPushButton>("btnSelectVar0"), Qt::LeftButton);
    EXPECT_EQ(p.Get<QLineEdit>("edStatus0")->text(), "Inside");
    EXPECT_EQ(selector.kinds, (std::vector<int>{1, 4}));
    EXPECT_EQ(selector.refs, 0);  // every reference to the selector came back
    EXPECT_EQ(p.Stored().Devices[1].VarName.Str(), "Door");  // only Apply stores it
}

TEST(Page, DetectionUsesTheStoredAddressAndReloads) {
    FakeHost host;
    Configure(host, 10, {"Inside:1"});
    Held inst(host, kId);
    TPage p(ConfigOf(inst.Module()), host);
    p.Get<QLineEdit>("edIPAdress")->setText("127.0.0.1:1");  // not applied
    SetMessageBoxHandler([](const std::string&) {});  // nothing answers on port 9
    QTest::mouseClick(p.Get<QPushButton>("btnDeviceSetup"), Qt::LeftButton);
    EXPECT_EQ(p.Get<QLineEdit>("edIPAdress")->text(), "127.0.0.1:9");
    QTest::mouseClick(p.Get<QPushButton>("btnUpdateNow"), Qt::LeftButton);
    SetMessageBoxHandler({});
    EXPECT_EQ(std::count(host.debug.texts.begin(), host.debug.texts.end(), "Updating..."), 1);
}

TEST(Page, FreeingWaitsForTheRunningHandler) {
    FakeHost host;
    FakeSelector selector;
    host.control.selector = &selector;
    Configure(host, 10, {"Inside:1"});
    RegisterPropertyPage();
    Held inst(host, kId);
    IZELALL3000* config = ConfigOf(inst.Module());
    ASSERT_EQ(config->ShowPropertyPage(), S_OK) << "the page factory is installed by RegisterPropertyPage";
    TfrmPropertyPage* page = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* candidate = dynamic_cast<TfrmPropertyPage*>(w)) page = candidate;
    ASSERT_NE(page, nullptr);
    QPointer<QDialog> alive(page);
    selector.answer = "X";
    // While the selector is open the host hides the page and lets go of the instance.
    selector.whileOpen = [&] {
        config->HidePropertyPage();
        config->Release();
        inst.Release();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // as the dialog's own event loop would
    };
    page->btnSelectVar0Click(0);  // must not touch freed memory (ASan watches)
    EXPECT_TRUE(alive);  // not freed under the handler
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(alive);
    EXPECT_EQ(host.kernel.log.back().text, "Interface Destroy");
}

TEST(Page, LayoutTabOrderAndHints) {
    FakeHost host;
    Configure(host, 10, {"A:1", "B:4", "", "", "", "", "", "H:2"});
    Held inst(host, kId);
    TPage p(ConfigOf(inst.Module()), host);
    // name | left, top, width, height (in its parent)
    const struct { const char* name; QRect geometry; } places[] = {
        {"GroupBox1", {8, 72, 425, 73}}, {"edIPAdress", {104, 28, 121, 21}}, {"btnUpdateNow", {312, 27, 103, 22}},
        {"GroupBox2", {8, 154, 425, 423}}, {"edStatus0", {72, 48, 313, 21}}, {"btnSelectVar7", {392, 384, 23, 22}},
        {"edStatus7", {72, 384, 313, 21}}, {"GroupBox3", {8, 583, 427, 65}}, {"btnDeviceSetup", {162, 654, 103, 22}},
        {"btnOK", {274, 654, 73, 22}}, {"btnApply", {362, 654, 73, 22}}, {"Image1", {16, 8, 32, 32}},
    };
    for (const auto& place : places) EXPECT_EQ(p.Get<QWidget>(place.name)->geometry(), place.geometry) << place.name;
    EXPECT_EQ(p.Get<QLabel>("lblSensor3")->pos(), QPoint(72, 28 + 3 * 48));
    EXPECT_EQ(p.Get<QLabel>("Label26")->text(), "Sensor 7:");
    EXPECT_EQ(p.Get<QLabel>("Label25")->text(), "Status:");
    EXPECT_EQ(p.Get<QPushButton>("btnSelectVar4")->toolTip(), "List All Variables");
    EXPECT_TRUE(p.Get<QPushButton>("btnOK")->isFlat());
    EXPECT_EQ(p.Get<QSpinBox>("udInterval")->maximum(), 32000);

    // Tab goes through the enabled controls in this order.
    QApplication::setActiveWindow(p.page);
    p.Get<QLineEdit>("edIPAdress")->setFocus();
    std::vector<std::string> order;
    for (int i = 0; i < 8; ++i) {
        order.push_back(QApplication::focusWidget()->objectName().toStdString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"edIPAdress", "btnUpdateNow", "btnSelectVar0", "btnSelectVar1", "btnSelectVar7",
                                               "udInterval", "btnDeviceSetup", "btnOK"}));
}

TEST(Page, OneInstanceOnePage) {
    RegisterPropertyPage();
    FakeHost host;
    Configure(host, 10, {"A:1"});
    Held inst(host, kId);
    auto pages = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) n += dynamic_cast<TfrmPropertyPage*>(w) != nullptr;
        return n;
    };
    EXPECT_EQ(inst.Module()->ShowPropertyPage(), S_OK);
    EXPECT_EQ(inst.Module()->ShowPropertyPage(), S_OK);
    EXPECT_EQ(pages(), 1);
    EXPECT_EQ(inst.Module()->HidePropertyPage(), S_OK);
    EXPECT_EQ(inst.Module()->HidePropertyPage(), S_OK);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(pages(), 0);
    EXPECT_EQ(inst.Module()->ShowPropertyPage(), S_OK);  // a new page after hiding
    EXPECT_EQ(pages(), 1);
    // Released while its page is shown, the instance lives until the page is hidden.
    IZELModule* module = inst.Module();
    inst.Release();
    EXPECT_EQ(host.kernel.log.back().text, "Interface Create");
    EXPECT_EQ(module->HidePropertyPage(), S_OK);  // must not touch freed memory (ASan watches)
    EXPECT_EQ(host.kernel.log.back().text, "Interface Destroy");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(pages(), 0);
}
