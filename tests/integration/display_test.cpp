// zelhost without a user: the platform it falls back to, and the message boxes it reports and
// closes so that a run never waits for a click.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Without a runtime folder the host uses its own, if that is a private folder of ours; whatever
// else has its name is left alone. Each case runs in a child with a /tmp of its own, so that no
// other process's folder is touched.
TEST(Display, TheRuntimeFolderIsTheUsersOrAPrivateOneOfOurOwn) {
    const std::string own = "/tmp/zelhost-runtime-" + std::to_string(::getuid());
    auto nothing = [] { return true; };
    const struct {
        const char* name;
        std::optional<std::string> given;
        std::function<bool()> prepare;
        std::optional<std::string> used;
    } cases[] = {
        {"unset", std::nullopt, nothing, own},
        {"set but empty", "", nothing, own},
        {"the user's", "/run/user/elsewhere", nothing, "/run/user/elsewhere"},
        {"ours, open to others", std::nullopt,
         [&] { return ::mkdir(own.c_str(), 0700) == 0 && ::chmod(own.c_str(), 0755) == 0; }, std::nullopt},
        {"someone else's", std::nullopt,
         [&] { return ::mkdir(own.c_str(), 0700) == 0 && ::chown(own.c_str(), ::getuid() + 1, static_cast<gid_t>(-1)) == 0; },
         std::nullopt},
        {"a link to a private folder", std::nullopt,
         [&] { return ::mkdir("/tmp/private", 0700) == 0 && ::symlink("/tmp/private", own.c_str()) == 0; }, std::nullopt},
    };
    enum { Right = 10, Wrong = 11, CannotPrepare = 12 };
    for (const auto& c : cases) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Private mounts first, or the new /tmp would show through to everybody.
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", "/tmp", "tmpfs", 0, nullptr) != 0 || !c.prepare())
                ::_exit(CannotPrepare);
            if (c.given)
                ::setenv("XDG_RUNTIME_DIR", c.given->c_str(), 1);
            else
                ::unsetenv("XDG_RUNTIME_DIR");
            EnsureRuntimeDir();
            const char* dir = std::getenv("XDG_RUNTIME_DIR");
            ::_exit((c.used ? dir && *c.used == dir : !dir) ? Right : Wrong);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << c.name;
        if (WEXITSTATUS(status) == CannotPrepare) {
            std::printf("not tried without the rights to set it up: %s\n", c.name);
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(status), Right) << c.name;
    }
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
