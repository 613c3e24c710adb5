// The host's variable selector as a user meets it: the dialog lists the variables of the kind
// asked for, filters them, and fails on cancel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <cstdlib>

#include "Toolkit.h"
#include "VariableSelector.h"

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
    const std::vector<std::string> names = {"Door", "Garden\xb0", "Gate"};
    std::string chosen;
    // filter text | row picked in the filtered list (-1: none) | Accept, Reject or Double-click | result
    struct Case { QString filter; int row; char how; HRESULT result; std::string chosen; int visible; } cases[] = {
        {"ga", 1, 'A', zel::S_OK, "Gate", 2},
        {"", 1, 'D', zel::S_OK, "Garden\xb0", 3},
        {" NewName ", -1, 'A', zel::S_OK, "NewName", 0},  // not written yet: named by hand
        {"door", 0, 'R', zel::E_FAIL, "", 1},
        {"", -1, 'A', zel::E_FAIL, "", 3},  // nothing chosen, nothing typed
    };
    for (const auto& c : cases) {
        int visible = -1;
        WhenOpen([&](QDialog& d) {
            d.findChild<QLineEdit*>("edFilter")->setText(c.filter);
            auto* list = d.findChild<QListWidget*>("lbVariables");
            std::vector<QListWidgetItem*> shown;
            for (int i = 0; i < list->count(); ++i)
                if (!list->item(i)->isHidden()) shown.push_back(list->item(i));
            visible = static_cast<int>(shown.size());
            if (c.row >= 0) {
                list->setCurrentItem(shown.at(static_cast<size_t>(c.row)));
                shown.at(static_cast<size_t>(c.row))->setSelected(true);
            }
            if (c.how == 'D') emit list->itemDoubleClicked(list->currentItem());
            if (c.how == 'A') d.accept();
            if (d.isVisible()) d.reject();  // 'R', or a double-click that did not accept
        });
        chosen.clear();
        EXPECT_EQ(DefaultVariableChooser(zel::VariableKindFloat, names, chosen), c.result) << c.filter.toStdString();
        EXPECT_EQ(chosen, c.chosen) << c.filter.toStdString();
        EXPECT_EQ(visible, c.visible) << c.filter.toStdString();
    }
}
