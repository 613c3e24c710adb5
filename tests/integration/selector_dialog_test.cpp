// The host's variable selector as a user meets it: the dialog lists the variables of the kind
// asked for, filters them, and fails on cancel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <cstdlib>

#include "SelectorCases.h"
#include "Toolkit.h"
#include "VariableSelector.h"
#include "platform/TextUtils.h"

using namespace zelhost;

namespace {

// Runs `drive` on the selector dialog once it is open.
void WhenOpen(std::function<void(QDialog&)> drive) {
    QTimer::singleShot(0, [drive] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "dlgSelectVariable" && w->isVisible()) return drive(*static_cast<QDialog*>(w));
        ADD_FAILURE() << "no selector dialog";
    });
}

}  // namespace

TEST(SelectorDialog, FiltersChoosesAndCancels) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("ZELHOST_SELECT");
    int argc = 1;
    char arg0[] = "zelhost_test";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    std::string chosen;
    for (const selector_cases::TCase& c : selector_cases::kCases) {
        const QString filter = QString::fromStdString(zel::Win1252ToUtf8(c.Filter));
        int visible = -1;
        WhenOpen([&](QDialog& d) {
            d.findChild<QLineEdit*>("edFilter")->setText(filter);
            auto* list = d.findChild<QListWidget*>("lbVariables");
            std::vector<QListWidgetItem*> shown;
            for (int i = 0; i < list->count(); ++i)
                if (!list->item(i)->isHidden()) shown.push_back(list->item(i));
            visible = static_cast<int>(shown.size());
            if (c.Row >= 0) {
                list->setCurrentItem(shown.at(static_cast<size_t>(c.Row)));
                shown.at(static_cast<size_t>(c.Row))->setSelected(true);
            }
            if (c.How == 'D') emit list->itemDoubleClicked(list->currentItem());
            if (c.How == 'A') d.accept();
            if (d.isVisible()) d.reject();  // 'R', or a double-click that did not accept
        });
        chosen.clear();
        EXPECT_EQ(DefaultVariableChooser(zel::VariableKindFloat, selector_cases::kNames, chosen), c.Result) << c.Filter;
        EXPECT_EQ(chosen, c.Chosen) << c.Filter;
        EXPECT_EQ(visible, c.Visible) << c.Filter;
    }
}

TEST(SelectorDialog, FilterMatchesWithoutCaseOverWindows1252) {
    for (const selector_cases::TMatch& m : selector_cases::kMatches)
        EXPECT_EQ(NameMatchesFilter(m.Name, m.Filter), m.Listed) << m.Name << " / " << m.Filter;
}
