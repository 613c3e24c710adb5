// The control table's lookups, and the page logic driven through a view of plain values: what the
// Qt page's tests cannot reach (each row's click, a view that frees itself at once).
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "FakeHost.h"
#include "Held.h"
#include "PageCases.h"
#include "PageViewStub.h"
#include "platform/EventLoop.h"

using namespace zel;
using namespace zel::test;

namespace {

constexpr uint16_t kId = 5;

}  // namespace

TEST(PageLayout, LookupsByNameAndInput) {
    // prefix | input (-2: by name alone) | the row's name, or null where the page has none
    const struct { const char* prefix; int row; const char* name; } cases[] = {
        {"edStatus", 3, "edStatus3"},     {"btnSelectVar", 0, "btnSelectVar0"}, {"lblSensor", 7, "lblSensor7"},
        {"Label", 12, "Label12"},         {"Label", 1, "Label1"},               {"Label1", 2, "Label12"},
        {"edStatus", 8, nullptr},         {"edStatus", -1, nullptr},            {"edStatus", 10, nullptr},
        {"btnOK", -2, "btnOK"},           {"udInterval", -2, "udInterval"},     {"btnNope", -2, nullptr},
        {"edStatus", -2, nullptr},
    };
    for (const auto& c : cases) {
        auto find = [&] { return c.row == -2 ? PageControl(c.prefix) : PageControl(c.prefix, c.row); };
        if (c.name) {
            EXPECT_STREQ(kPageControls[find()].Name, c.name) << c.prefix << c.row;
        } else {
            EXPECT_THROW(find(), std::out_of_range) << c.prefix << c.row;
        }
    }
}

TEST(PageLayout, TabRanksAreTheWrittenOrder) {
    std::vector<std::string> ranked(kTabOrder.size());
    for (const TPageControl& c : kPageControls)
        if (c.Tab >= 0) ranked.at(static_cast<size_t>(c.Tab)) = c.Name;
    EXPECT_EQ(ranked, std::vector<std::string>(kTabOrder.begin(), kTabOrder.end()));
}

TEST(PageLogic, EachClickRunsItsRowsHandler) {
    // control | address stored, address shown after the click | hides | "Updating..." | kinds asked
    const struct { const char* control; const char* stored; const char* shown; int hides; int updates; std::vector<int> kinds; } cases[] = {
        {"btnApply", ":8", ":8", 0, 0, {}},       {"btnOK", ":8", ":8", 1, 0, {}},
        {"btnDeviceSetup", ":9", ":9", 0, 0, {}}, {"btnUpdateNow", ":9", ":8", 0, 1, {}},
        {"btnSelectVar0", ":9", ":8", 0, 0, {4}}, {"btnSelectVar1", ":9", ":8", 0, 0, {1}},
        {"Label4", ":9", ":8", 0, 0, {}},         {"edIPAdress", ":9", ":8", 0, 0, {}},
    };
    SetMessageBoxHandler([](const std::string&) {});  // detection finds nothing on port 9
    for (const auto& c : cases) {
        FakeHost host;
        FakeSelector selector;
        selector.answer = "Garden";
        host.control.selector = &selector;
        host.settings.strings[FakeSettings::Key(kId, "Settings/IPAddress")] = "127.0.0.1:9";
        host.BindInputs(kId, {"In\xb0:1", "Door:4"});
        Held inst(host, kId);
        IZELALL3000* config = ConfigOf(inst.Module());
        TPageViewStub view;
        view.logic.SetReferences(config, &host.control, &host.variables);
        view.logic.FormShow();
        EXPECT_EQ(view.Text("edStatus0"), "In\xb0");  // bytes, as the instance holds them
        view.Text("edIPAdress") = "127.0.0.1:8";
        view.logic.Click(PageControl(c.control));
        TZELALL3000Settings stored;
        config->GetConfiguration(stored);
        EXPECT_EQ(stored.IPAddress.Str(), std::string("127.0.0.1") + c.stored) << c.control;
        EXPECT_EQ(view.Text("edIPAdress"), std::string("127.0.0.1") + c.shown) << c.control;
        EXPECT_EQ(view.hides, c.hides) << c.control;
        EXPECT_EQ(std::count(host.debug.texts.begin(), host.debug.texts.end(), "Updating..."), c.updates) << c.control;
        EXPECT_EQ(selector.kinds, c.kinds) << c.control;
        if (!c.kinds.empty()) {
            EXPECT_EQ(view.Text(PageControl("edStatus", std::string_view(c.control).back() - '0')), "Garden");
        }
        view.logic.SetReferences(nullptr, nullptr, nullptr);
        config->Release();
    }
    SetMessageBoxHandler({});
}

TEST(PageLogic, AViewFreedAtOnceIsFreedAfterTheRunningHandler) {
    // freed while the selector is open (else with no handler running) | freed when Free returns
    for (auto [whileOpen, freedAtOnce] : {std::pair{false, 1}, {true, 0}}) {
        FakeHost host;
        FakeSelector selector;
        selector.answer = "X";
        host.control.selector = &selector;
        auto* view = new TPageViewStub;
        int frees = 0, freesAfterFree = -1;
        std::string field;
        view->onDestroy = [&] {
            ++frees;
            field = view->Text("edStatus0");
            delete view;  // as DestroyWindow does: nothing of the page may be touched after (ASan watches)
        };
        view->logic.SetReferences(nullptr, &host.control, &host.variables);
        auto free = [&] {
            view->logic.Free();
            freesAfterFree = frees;
        };
        selector.whileOpen = free;
        if (whileOpen)
            view->logic.btnSelectVar0Click(0);
        else
            free();
        EXPECT_EQ(freesAfterFree, freedAtOnce) << whileOpen;
        EXPECT_EQ(frees, 1) << whileOpen;
        EXPECT_EQ(field, whileOpen ? "X" : "") << "the answer reaches the field before the view goes";
    }
}
