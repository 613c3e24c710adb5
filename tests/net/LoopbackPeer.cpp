#include "LoopbackPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace zeltest {

namespace {

int ListenOn127(int backlog, int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("test peer cannot listen");
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

void TPeerConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

bool TPeerConnection::WaitReadable() {
    pollfd fds[2] = {{FFd, POLLIN, 0}, {FStopFd, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
    }
    return fds[1].revents == 0;
}

std::string TPeerConnection::Receive(size_t count) {
    std::string got;
    char buf[65536];
    while (got.size() < count && WaitReadable()) {
        ssize_t n = ::recv(FFd, buf, std::min(sizeof buf, count - got.size()), 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string TPeerConnection::ReceiveAll() { return Receive(std::string::npos); }

bool TPeerConnection::Pause(int ms) {
    pollfd stop{FStopFd, POLLIN, 0};
    return ::poll(&stop, 1, ms) == 0;
}

void TPeerConnection::Silent() {
    char buf[4096];
    while (WaitReadable() && ::recv(FFd, buf, sizeof buf, 0) > 0) {
    }
}

TLoopbackPeer::TLoopbackPeer(TScript script, int backlog) : FScript(std::move(script)) {
    FListen = ListenOn127(backlog < 0 ? 0 : backlog, FPort);
    if (::pipe2(FStopPipe, O_CLOEXEC) != 0) throw std::runtime_error("test peer cannot make a pipe");
    if (backlog >= 0) FThread = std::thread([this] { Run(); });
}

TLoopbackPeer::~TLoopbackPeer() {
    (void)!::write(FStopPipe[1], "x", 1);
    if (FThread.joinable()) FThread.join();
    ::close(FListen);
    ::close(FStopPipe[0]);
    ::close(FStopPipe[1]);
}

void TLoopbackPeer::Run() {
    for (;;) {
        pollfd fds[2] = {{FListen, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++FAccepted;
        TPeerConnection connection(fd, FStopPipe[0]);
        FScript(connection);
        ::close(fd);
    }
}

int UnusedPort() {
    int port = 0;
    ::close(ListenOn127(1, port));
    return port;
}

}  // namespace zeltest
