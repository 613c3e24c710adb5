// The live Qt page read back against the control table and against the facts written out apart
// from it (PageCases.h).
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

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
        if (c.Kind == TControlKind::Window) continue;  // Page.ShowsTheConfiguration checks it
        const QWidget* w = page->findChild<QWidget*>(c.Name);
        ASSERT_NE(w, nullptr) << c.Name;
        // The interval's edit lies inside the spin box that stands for the pair.
        const QWidget* parent = c.Flags & kBuddy ? w->parentWidget()->parentWidget() : w->parentWidget();
        EXPECT_EQ(parent->objectName(), c.Parent) << c.Name;
        if (c.Kind == TControlKind::Label) {
            EXPECT_EQ(w->pos(), QPoint(c.Left, c.Top)) << c.Name;
            EXPECT_EQ(w->size(), w->sizeHint()) << c.Name;  // sized to its text
        } else if (c.Kind == TControlKind::UpDown) {
            EXPECT_EQ(w->geometry().topRight(), QPoint(c.Left + c.Width - 1, c.Top)) << c.Name;
            EXPECT_EQ(w->height(), c.Height) << c.Name;
        } else if (!(c.Flags & kBuddy)) {
            EXPECT_EQ(w->geometry(), QRect(c.Left, c.Top, c.Width, c.Height)) << c.Name;
        }
        if (c.Kind != TControlKind::UpDown) {
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
