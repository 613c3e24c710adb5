// The live Qt page read back against the control table and against the facts written out apart
// from it (PageCases.h).
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "FakeHost.h"
#include "Held.h"
#include "PageCases.h"
#include "platform/TextUtils.h"
#include "ui/FPropertyPage.h"
#include "ui/PageLayout.h"

using namespace zel;
using namespace zel::test;

namespace {

QString Caption(const QWidget* w) {
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text();
    if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<const QPushButton*>(w)) return button->text();
    if (auto* group = qobject_cast<const QGroupBox*>(w)) return group->title();
    return {};
}

}  // namespace

TEST(PageLayout, TheQtPageIsTheTable) {
    auto page = std::make_unique<TfrmPropertyPage>();
    for (const TPageControl& c : kPageControls) {
        const QWidget* w = c.Parent ? page->findChild<QWidget*>(c.Name) : page.get();
        ASSERT_NE(w, nullptr) << c.Name;
        EXPECT_EQ(w->objectName(), c.Name);
        // The interval's edit lies inside the spin box that stands for the pair.
        const QWidget* parent = c.Flags & kBuddy ? w->parentWidget()->parentWidget() : w->parentWidget();
        EXPECT_EQ(parent ? parent->objectName() : QString(), c.Parent ? c.Parent : "") << c.Name;
        if (c.Kind == TControlKind::Window) {
            EXPECT_EQ(w->size(), QSize(c.Width, c.Height));
            EXPECT_EQ(w->windowTitle().toStdString(), c.Text);
        } else if (c.Kind == TControlKind::Label) {
            EXPECT_EQ(w->pos(), QPoint(c.Left, c.Top)) << c.Name;
            EXPECT_EQ(w->size(), w->sizeHint()) << c.Name;  // sized to its text
        } else if (c.Kind == TControlKind::UpDown) {
            EXPECT_EQ(w->geometry().topRight(), QPoint(c.Left + c.Width - 1, c.Top)) << c.Name;
            EXPECT_EQ(w->height(), c.Height) << c.Name;
        } else if (!(c.Flags & kBuddy)) {
            EXPECT_EQ(w->geometry(), QRect(c.Left, c.Top, c.Width, c.Height)) << c.Name;
        }
        if (c.Kind != TControlKind::Window && c.Kind != TControlKind::UpDown) {
            EXPECT_EQ(Caption(w).toStdString(), Win1252ToUtf8(c.Text)) << c.Name;
        }
        EXPECT_EQ(w->isEnabled(), !(c.Flags & kDisabled)) << c.Name;
        EXPECT_EQ(w->toolTip(), c.Hint ? c.Hint : "") << c.Name;
    }
    for (const TPlace& p : kPlaces)
        EXPECT_EQ(page->findChild<QWidget*>(p.name)->geometry(), QRect(p.left, p.top, p.width, p.height)) << p.name;
    // Nothing of ours is missing from the table.
    for (const QWidget* w : page->findChildren<QWidget*>()) {
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) {
            EXPECT_NO_THROW(PageControl(w->objectName().toStdString())) << w->objectName().toStdString();
        }
    }
}

TEST(PageLayout, TabGoesThroughTheTabStopsInTheirRankAndTheWrittenOrder) {
    std::vector<std::string> ranked(kTabOrder.size());
    for (const TPageControl& c : kPageControls)
        if (c.Tab >= 0) ranked.at(static_cast<size_t>(c.Tab)) = c.Name;
    EXPECT_EQ(ranked, std::vector<std::string>(kTabOrder.begin(), kTabOrder.end()));

    FakeHost host;
    host.settings.strings[FakeSettings::Key(1, "Settings/IPAddress")] = "127.0.0.1:9";
    host.BindInputs(1, {"A:1", "B:2", "C:3", "D:4", "E:5", "F:6", "G:1", "H:2"});
    Held inst(host, 1);
    IZELALL3000* config = ConfigOf(inst.Module());
    auto page = std::make_unique<TfrmPropertyPage>();
    page->SetReferences(config, &host.control, &host.variables);
    page->ShowPage();
    QApplication::setActiveWindow(page.get());
    page->findChild<QWidget*>("edIPAdress")->setFocus();
    std::vector<std::string> order;
    for (size_t i = 0; i <= kTabOrder.size(); ++i) {
        order.push_back(QApplication::focusWidget()->objectName().toStdString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    ranked.push_back(kTabOrder[0]);  // and round again
    EXPECT_EQ(order, ranked);
    page->SetReferences(nullptr, nullptr, nullptr);
    config->Release();
}
