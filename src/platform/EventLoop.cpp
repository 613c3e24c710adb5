#include "platform/EventLoop.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLocale>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include "platform/TextUtils.h"

namespace zel {

struct WindowTimer::Impl {
    QTimer timer;
    std::function<void()> handler;
};

WindowTimer::WindowTimer(int intervalMs, std::function<void()> handler, bool enabled) : FImpl(std::make_unique<Impl>()) {
    FImpl->handler = std::move(handler);
    FImpl->timer.setInterval(intervalMs);
    Impl* impl = FImpl.get();
    QObject::connect(&impl->timer, &QTimer::timeout, [impl] {
        // Copy first: the handler may replace or clear itself while it runs.
        auto h = impl->handler;
        if (!h) return;
        try {
            h();
        } catch (...) {
            // Handlers report their own failures; nothing may unwind through the event loop.
        }
    });
    if (enabled) FImpl->timer.start();
}

WindowTimer::~WindowTimer() { FImpl->timer.stop(); }

void WindowTimer::SetEnabled(bool enabled) {
    if (enabled)
        FImpl->timer.start();
    else
        FImpl->timer.stop();
}

bool WindowTimer::Enabled() const { return FImpl->timer.isActive(); }

int WindowTimer::Interval() const { return FImpl->timer.interval(); }

void WindowTimer::SetHandler(std::function<void()> handler) { FImpl->handler = std::move(handler); }

namespace {

// A run of a posted call: a plain event, owned by the receiver's queue from the moment it is posted,
// so the posting thread never touches it again, whenever the main thread handles it.
const QEvent::Type kPostedCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// Lives on the creating thread; events still queued for it die with it.
struct PostedCall::Impl : QObject {
    std::function<void()> handler;

    bool event(QEvent* e) override {
        if (e->type() != kPostedCallEvent) return QObject::event(e);
        try {
            handler();
        } catch (...) {
            // Handlers report their own failures; nothing may unwind through the event loop.
        }
        return true;
    }
};

PostedCall::PostedCall(std::function<void()> handler) : FImpl(std::make_unique<Impl>()) {
    FImpl->handler = std::move(handler);
}

PostedCall::~PostedCall() = default;

void PostedCall::Post() { QCoreApplication::postEvent(FImpl.get(), new QEvent(kPostedCallEvent)); }

void ProcessMessages() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitForMessages(int timeoutMs) {
    if (timeoutMs <= 0) return false;
    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(timeoutMs));
        return false;
    }
    bool timedOut = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, [&timedOut] { timedOut = true; });
    deadline.start(timeoutMs);
    // Returns after handling at least one event: ours (the deadline) or one that arrived first.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !timedOut;
}

bool IsMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace {
std::function<void(const std::string&)>& MessageBoxHandler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}
}  // namespace

void ShowMessageBox(const std::string& text) {
    if (auto& h = MessageBoxHandler()) {
        h(text);
        return;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(),
                    QString::fromUtf8(Win1252ToUtf8(text)), QMessageBox::Ok);
    box.exec();
}

void SetMessageBoxHandler(std::function<void(const std::string&)> handler) { MessageBoxHandler() = std::move(handler); }

char LocaleDecimalSeparator() {
    QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80) return static_cast<char>(point.at(0).unicode());
    return '.';
}

}  // namespace zel
