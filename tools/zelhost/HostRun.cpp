#include "HostRun.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QPushButton>
#include <QWidget>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

#include "Display.h"
#include "HostServices.h"
#include "ModuleLibrary.h"
#include "StoreOwner.h"
#include "platform/ProcessLimits.h"
#include "platform/TextUtils.h"

namespace zelhost {

namespace {

int gSignalPipe[2] = {-1, -1};
// Set by the signal handler: seen by the steps that run before the event loop does.
volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void OnStopSignal(int) {
    int saved = errno;
    gStopRequested = 1;
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

// SIGINT and SIGTERM end the event loop. The handler only writes a byte into a pipe; the loop
// sees it through a socket notifier, so no Qt call ever runs inside a signal handler.
class TStopSignals {
public:
    explicit TStopSignals(std::function<void()> onStop) {
        gStopRequested = 0;
        if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            throw zel::Exception(std::string("cannot create the signal pipe: ") + std::strerror(errno));
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &sa, &FOldInt);
        ::sigaction(SIGTERM, &sa, &FOldTerm);
        // A parent may have blocked them; then they would never arrive.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        FNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this, onStop] {
            char buf[64];
            while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
            }
            // A second signal during shutdown then acts as it normally would.
            Restore();
            try {
                onStop();
            } catch (...) {
            }
        });
    }
    ~TStopSignals() {
        Restore();
        FNotifier.reset();
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    void Restore() {
        if (FRestored) return;
        FRestored = true;
        ::sigaction(SIGINT, &FOldInt, nullptr);
        ::sigaction(SIGTERM, &FOldTerm, nullptr);
    }

private:
    struct sigaction FOldInt {};
    struct sigaction FOldTerm {};
    bool FRestored = false;
    std::unique_ptr<QSocketNotifier> FNotifier;
};

// Module entries are functions of another library: whatever escapes one is reported and counts as
// a failure, so the host still takes everything down in order.
template <class R, class F>
R CallModule(TEventPrinter& events, const std::string& what, R failed, F&& call) noexcept {
    try {
        return call();
    } catch (...) {
        try {
            events.Notice("warning: " + what + " let an exception escape");
        } catch (...) {
        }
        return failed;
    }
}

// The page of the instance, found among the application's windows by its name.
QWidget* FindPage() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("frmPropertyPage")) return w;
    return nullptr;
}

// Shows the instance's page. With a screenshot file, renders it there once it has been laid out
// and ends the run; otherwise ends the run when the user closes the page. 0, or 1 when the
// instance has no page.
int ShowPage(TEventPrinter& events, zel::IZELModule* module, const std::string& screenshot, const std::string& click,
             QTimer& watch) {
    zel::HRESULT r = module ? CallModule(events, "ShowPropertyPage", zel::E_FAIL, [&] { return module->ShowPropertyPage(); })
                            : zel::E_FAIL;
    if (zel::Failed(r) || !FindPage()) {
        std::fprintf(stderr, "zelhost: the instance shows no page (%s)\n", HexResult(r).c_str());
        return 1;
    }
    if (!screenshot.empty()) {
        QTimer::singleShot(200, [screenshot, click] {
            if (!click.empty()) {
                QPushButton* button = FindPage() ? FindPage()->findChild<QPushButton*>(QString::fromStdString(click)) : nullptr;
                if (!button) {
                    std::fprintf(stderr, "zelhost: the page has no button %s\n", click.c_str());
                    QCoreApplication::exit(1);
                    return;
                }
                button->click();
                QCoreApplication::processEvents();
            }
            QWidget* page = FindPage();
            if (!page || !page->grab().save(QString::fromStdString(screenshot), "PNG")) {
                std::fprintf(stderr, "zelhost: cannot write the screenshot %s\n", screenshot.c_str());
                QCoreApplication::exit(1);
                return;
            }
            QCoreApplication::quit();
        });
        return 0;
    }
    QObject::connect(&watch, &QTimer::timeout, [] {
        QWidget* page = FindPage();
        if (!page || !page->isVisible()) QCoreApplication::quit();
    });
    watch.start(200);
    return 0;
}

struct TInstance {
    uint16_t ID;
    zel::IZELModule* Module;
};

}  // namespace

int RunHost(const TRunOptions& options) {
    // Held until the store has been written for the last time, after everything else is gone.
    TStoreOwner owner(options.Store, TStoreOwner::TUse::Write);
    TSettingsStore store(options.Store);
    store.Load();
    TEventPrinter events(options.Json);
    // Every box being fetched holds a socket and a wake-up descriptor for a while: a host with
    // hundreds of boxes needs more than the usual soft limit of 1024.
    zel::RaiseDescriptorLimit();

    // Qt sees no arguments of ours; platform choice comes from the environment as usual, except that
    // a session without a display that opens runs offscreen instead of aborting.
    ChooseQtPlatform();
    EnsureRuntimeDir();
    static int qtArgc = 1;
    static char qtArg0[] = "zelhost";
    static char* qtArgv[] = {qtArg0, nullptr};
    QApplication app(qtArgc, qtArgv);
    // Only the time limit or a signal ends a run, not closing the selector dialog or a message box.
    app.setQuitOnLastWindowClosed(false);
    TMessageBoxWatch boxes(events);
    app.installEventFilter(&boxes);
    // A reader of our output that goes away must not kill the host before it saved the store.
    std::signal(SIGPIPE, SIG_IGN);

    THost host(events, store, options.Refuse, options.KernelState.value_or(zel::KernelStateRunning));
    host.Instances.ReserveIDs(options.Instances);
    host.Variables.DeclareBindings(store);

    // The writes of one SaveSettings come in a burst; the file is written once at the end of the
    // current event loop turn, after the burst.
    std::atomic<bool> flushQueued{false};
    auto flush = [&] {
        try {
            std::lock_guard lock(host.StoreLock);
            store.Flush();
        } catch (const std::exception& e) {
            try {
                events.Notice(std::string("warning: settings not saved: ") + e.what());
            } catch (...) {
            }
        }
    };
    store.OnChanged = [&] {
        if (flushQueued.exchange(true)) return;
        QMetaObject::invokeMethod(
            &app,
            [&] {
                flushQueued = false;
                flush();
            },
            Qt::QueuedConnection);
    };

    TStopSignals stopSignals([] { QCoreApplication::quit(); });
    TModuleLibrary library(options.Module);
    const zel::TZELModuleInfo& info = library.Info();
    if (!options.Json)
        std::fprintf(stderr, "zelhost: module %s (%s) %s\n", zel::Win1252ToUtf8(zel::hoststr::View(info.Name)).c_str(),
                     zel::Win1252ToUtf8(zel::hoststr::View(info.Description)).c_str(),
                     zel::GUIDToString(info.ModuleID).c_str());

    zel::HRESULT r = CallModule(events, "Register", zel::E_FAIL, [&] { return info.Register(&host.Kernel); });
    if (zel::Failed(r)) {
        std::fprintf(stderr, "zelhost: the module refused to register (%s)\n", HexResult(r).c_str());
        return 1;
    }

    std::vector<TInstance> instances;
    for (uint16_t id : options.Instances) {
        // Each creation may test its box for a few seconds: a stop must not wait for all of them.
        if (gStopRequested) break;
        zel::IZELModule* module = nullptr;
        r = CallModule(events, "CreateInstance", zel::E_FAIL, [&] { return info.CreateInstance(id, &module); });
        if (zel::Failed(r) || !module) {
            events.Notice("warning: instance " + std::to_string(id) + " was not created (" + HexResult(r) + ")");
            continue;
        }
        instances.push_back({id, module});
    }

    if (options.Milliseconds) QTimer::singleShot(*options.Milliseconds, &app, [] { QCoreApplication::quit(); });
    int exitCode = 0;
    QTimer pageWatch;
    if (options.Page) exitCode = ShowPage(events, instances.empty() ? nullptr : instances.front().Module, options.Screenshot,
                                         options.Click, pageWatch);
    if (exitCode == 0 && !gStopRequested) exitCode = app.exec();
    stopSignals.Restore();

    bool instancesAlive = false;
    for (const TInstance& instance : instances) {
        std::string name = "instance " + std::to_string(instance.ID);
        CallModule(events, name + " HidePropertyPage", zel::E_FAIL, [&] { return instance.Module->HidePropertyPage(); });
        // An instance whose release failed may still be alive: its code must stay loaded.
        int32_t left = CallModule(events, name + " Release", 1, [&] { return instance.Module->Release(); });
        if (left > 0) {
            instancesAlive = true;
            events.Notice("warning: instance " + std::to_string(instance.ID) + " is still referenced " +
                          std::to_string(left) + " times after the host released it");
        }
    }
    r = CallModule(events, "Unregister", zel::E_FAIL, [&] { return info.Unregister(); });
    if (zel::Failed(r)) events.Notice("warning: Unregister failed (" + HexResult(r) + ")");

    // What the module posted or scheduled for deletion runs while its code is still loaded.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
    if (instancesAlive) {
        events.Notice("warning: the module stays loaded: some of its instances are still alive");
        library.Keep();
    } else {
        library.Close();
    }
    host.CheckReleased();

    std::lock_guard lock(host.StoreLock);
    store.OnChanged = nullptr;
    store.Flush();
    return exitCode;
}

}  // namespace zelhost
