#include "Display.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zelhost {

namespace {

// Whether a local X display (":N", ":N.S", "unix:N") accepts a connection. Displays on other hosts
// are left to the toolkit: probing them here would send traffic nobody asked for.
bool LocalDisplayAnswers(const std::string& display) {
    std::string rest = display;
    if (rest.rfind("unix:", 0) == 0) rest = rest.substr(4);
    if (rest.empty() || rest[0] != ':') return true;
    std::string number = rest.substr(1, rest.find('.') == std::string::npos ? std::string::npos : rest.find('.') - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::string path = "/tmp/.X11-unix/X" + number;
    // The server listens on the socket file, or on the same name in the abstract namespace.
    for (bool abstract : {false, true}) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const size_t offset = abstract ? 1 : 0;
        if (path.size() + offset >= sizeof addr.sun_path) {
            ::close(fd);
            return false;
        }
        path.copy(addr.sun_path + offset, path.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0;
        ::close(fd);
        if (ok) return true;
    }
    return false;
}

}  // namespace

void ChooseQtPlatform() {
    if (std::getenv("QT_QPA_PLATFORM")) return;
    const char* display = std::getenv("DISPLAY");
    if (std::getenv("WAYLAND_DISPLAY") || (display && *display && LocalDisplayAnswers(display))) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

void EnsureRuntimeDir() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) return;
    const std::string path = "/tmp/zelhost-runtime-" + std::to_string(::getuid());
    ::mkdir(path.c_str(), 0700);
    struct stat st {};
    // Only a folder that is ours and private will do; otherwise the toolkit picks its own.
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0777) == 0700)
        ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
}

TMessageBoxWatch::TMessageBoxWatch(TEventPrinter& events)
    : FEvents(events), FCloseBoxes(QGuiApplication::platformName() == QLatin1String("offscreen")) {}

bool TMessageBoxWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        if (auto* box = qobject_cast<QMessageBox*>(watched)) {
            FEvents.MessageBox(box->text().toStdString());
            if (FCloseBoxes) {
                QPointer<QMessageBox> guard(box);
                QTimer::singleShot(0, box, [guard] {
                    if (guard) guard->done(QMessageBox::Ok);
                });
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace zelhost
