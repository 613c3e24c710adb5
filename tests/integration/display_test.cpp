// zelhost without a user: the platform it falls back to, and the message boxes it reports and
// closes so that a run never waits for a click.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "Display.h"
#include "platform/EventLoop.h"

using namespace zelhost;

TEST(Display, UnopenableDisplayFallsBackToOffscreen) {
    ::unsetenv("QT_QPA_PLATFORM");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("DISPLAY", ":93", 1);  // no X server of that number here
    ChooseQtPlatform();
    EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "offscreen");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);  // the user's choice stands
    ChooseQtPlatform();
    EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "xcb");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

TEST(Display, MessageBoxesAreReportedAndClosedOffscreen) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "zelhost_test";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    std::vector<std::string> lines;
    TEventPrinter events(true, [&](std::string_view line) { lines.emplace_back(line); });
    TMessageBoxWatch watch(events);
    app.installEventFilter(&watch);
    // Module text is Windows-1252: the event carries it as UTF-8.
    zel::ShowMessageBox("Error Reading Configuration! Please check IP-Adress \xb0");  // returns: closed by the watch
    EXPECT_EQ(lines, std::vector<std::string>{
                         "{\"event\":\"messagebox\",\"text\":\"Error Reading Configuration! Please check IP-Adress \xc2\xb0\"}"});
}
