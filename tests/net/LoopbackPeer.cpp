#include "LoopbackPeer.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace zeltest {

namespace {

// The few calls that differ between POSIX sockets and Winsock; everything else is shared.
#ifdef _WIN32
static_assert(sizeof(TPeerSocket) == sizeof(SOCKET) && kNoPeerSocket == INVALID_SOCKET);

// An IPv4 socket of `type` that child processes do not inherit.
TPeerSocket OpenSocket(int type) {
    // Winsock counts its users; the program's first test socket starts it for the rest of the run.
    static const int started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) return kNoPeerSocket;
    return ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}
// Accepted sockets take the listening socket's properties, not inheritable among them.
TPeerSocket AcceptOn(TPeerSocket listener) { return ::accept(listener, nullptr, nullptr); }
void CloseSocket(TPeerSocket s) noexcept { ::closesocket(s); }
int PollSockets(pollfd* fds, unsigned count, int ms) { return ::WSAPoll(fds, count, ms); }
// Bytes moved, 0 when the other side closed, below 0 on an error. Winsock raises no SIGPIPE.
int SendSome(TPeerSocket s, const char* data, size_t size) {
    return ::send(s, data, static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
}
int ReceiveSome(TPeerSocket s, char* buf, size_t size) {
    return ::recv(s, buf, static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
}
#else
TPeerSocket OpenSocket(int type) { return ::socket(AF_INET, type | SOCK_CLOEXEC, 0); }
TPeerSocket AcceptOn(TPeerSocket listener) { return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC); }
void CloseSocket(TPeerSocket s) noexcept { ::close(s); }
int PollSockets(pollfd* fds, unsigned count, int ms) { return ::poll(fds, count, ms); }
ssize_t SendSome(TPeerSocket s, const char* data, size_t size) { return ::send(s, data, size, MSG_NOSIGNAL); }
ssize_t ReceiveSome(TPeerSocket s, char* buf, size_t size) { return ::recv(s, buf, size, 0); }
#endif

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

TPeerSocket ListenOn127(int backlog, int& port) {
    TPeerSocket fd = OpenSocket(SOCK_STREAM);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (fd == kNoPeerSocket || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(fd, backlog) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd != kNoPeerSocket) CloseSocket(fd);
        throw std::runtime_error("test peer cannot listen");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// Connects pair[1] to pair[0] over loopback, so that a byte sent on one wakes a wait on the other.
void ConnectedPair(TPeerSocket (&pair)[2]) {
    int port = 0;
    TPeerSocket listener = ListenOn127(1, port);
    sockaddr_in addr = Loopback(port);
    pair[1] = OpenSocket(SOCK_STREAM);
    bool connected = pair[1] != kNoPeerSocket &&
                     ::connect(pair[1], reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (connected) pair[0] = AcceptOn(listener);
    CloseSocket(listener);
    if (!connected || pair[0] == kNoPeerSocket) throw std::runtime_error("test peer cannot make its stop signal");
}

// True when `fd` has something to read right now.
bool ReadableNow(TPeerSocket fd) {
    pollfd wait{fd, POLLIN, 0};
    return PollSockets(&wait, 1, 0) > 0;
}

}  // namespace

void TPeerConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        auto n = SendSome(FFd, bytes.data(), bytes.size());
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

bool TPeerConnection::WaitReadable() {
    pollfd fds[2] = {{FFd, POLLIN, 0}, {FStop, POLLIN, 0}};
    while (PollSockets(fds, 2, -1) < 0) {
    }
    return fds[1].revents == 0;
}

std::string TPeerConnection::Receive(size_t count) {
    std::string got;
    char buf[65536];
    while (got.size() < count && WaitReadable()) {
        auto n = ReceiveSome(FFd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string TPeerConnection::ReceiveAll() { return Receive(std::string::npos); }

std::string TPeerConnection::ReceiveWaiting() {
    char buf[65536];
    auto n = ReadableNow(FFd) ? ReceiveSome(FFd, buf, sizeof buf) : 0;
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool TPeerConnection::Pause(int ms) {
    pollfd stop{FStop, POLLIN, 0};
    return PollSockets(&stop, 1, ms) == 0;
}

void TPeerConnection::Silent() {
    char buf[4096];
    while (WaitReadable() && ReceiveSome(FFd, buf, sizeof buf) > 0) {
    }
}

TLoopbackPeer::TLoopbackPeer(TScript script, int backlog) : FScript(std::move(script)) {
    FListen = ListenOn127(backlog < 0 ? 0 : backlog, FPort);
    try {
        ConnectedPair(FStop);
    } catch (...) {  // the listener is ours until the constructor returns
        CloseSocket(FListen);
        throw;
    }
    if (backlog >= 0) FThread = std::thread([this] { Run(); });
}

TLoopbackPeer::~TLoopbackPeer() {
    SendSome(FStop[1], "x", 1);
    if (FThread.joinable()) FThread.join();
    CloseSocket(FListen);
    CloseSocket(FStop[0]);
    CloseSocket(FStop[1]);
}

void TLoopbackPeer::Run() {
    for (;;) {
        pollfd fds[2] = {{FListen, POLLIN, 0}, {FStop[0], POLLIN, 0}};
        if (PollSockets(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        TPeerSocket fd = AcceptOn(FListen);
        if (fd == kNoPeerSocket) continue;
        ++FAccepted;
        TPeerConnection connection(fd, FStop[0]);
        FScript(connection);
        CloseSocket(fd);
    }
}

#ifdef _WIN32
bool SetNonBlocking(TPeerSocket s) {
    u_long on = 1;
    return ::ioctlsocket(s, static_cast<long>(FIONBIO), &on) == 0;  // the macro is an unsigned long
}

bool IsBlocking(TPeerSocket s) {
    DWORD limitMs = 50;
    if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs), sizeof limitMs) != 0)
        throw std::runtime_error("cannot set a receive time-out");
    char c;
    const int n = ::recv(s, &c, 1, MSG_PEEK);
    const int err = ::WSAGetLastError();
    limitMs = 0;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs), sizeof limitMs);
    if (n != SOCKET_ERROR || (err != WSAETIMEDOUT && err != WSAEWOULDBLOCK))
        throw std::runtime_error("the blocking probe needs a connected socket with nothing to read");
    return err == WSAETIMEDOUT;
}

bool IsOpenAndNotInherited(TPeerSocket s) {
    DWORD flags = 0;
    return ::GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags) && (flags & HANDLE_FLAG_INHERIT) == 0;
}

TNonSocket::TNonSocket() : FHandle(reinterpret_cast<TPeerSocket>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
    if (FHandle == 0) throw std::runtime_error("cannot make an event");
}

TNonSocket::~TNonSocket() { ::CloseHandle(reinterpret_cast<HANDLE>(FHandle)); }
#else
bool SetNonBlocking(TPeerSocket s) {
    int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool IsBlocking(TPeerSocket s) {
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0) throw std::runtime_error("not an open descriptor");
    return (flags & O_NONBLOCK) == 0;
}

bool IsOpenAndNotInherited(TPeerSocket s) { return ::fcntl(s, F_GETFD) == FD_CLOEXEC; }

TNonSocket::TNonSocket() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    FHandle = fds[0];
    FOther = fds[1];
}

TNonSocket::~TNonSocket() {
    ::close(FHandle);
    ::close(FOther);
}
#endif

int UnusedPort() {
    int port = 0;
    CloseSocket(ListenOn127(1, port));
    return port;
}

TFullQueue::TFullQueue(int port) {
    const sockaddr_in addr = Loopback(port);
    for (int i = 0; i < 8; ++i) {
        TPeerSocket fd = OpenSocket(SOCK_STREAM);
        if (fd == kNoPeerSocket) break;
        FFds.push_back(fd);
        if (!SetNonBlocking(fd)) break;
        ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        pollfd p{fd, POLLOUT, 0};
        if (PollSockets(&p, 1, 300) == 0) return;  // this one hangs: the queue is full
    }
    for (TPeerSocket fd : FFds) CloseSocket(fd);
    throw std::runtime_error("the accept queue never filled");
}

TFullQueue::~TFullQueue() {
    for (TPeerSocket fd : FFds) CloseSocket(fd);
}

TSilentResolver::TSilentResolver() : FFd(OpenSocket(SOCK_DGRAM)) {
    sockaddr_in addr = Loopback(53);
    FReady = FFd != kNoPeerSocket && ::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

TSilentResolver::~TSilentResolver() {
    if (FFd != kNoPeerSocket) CloseSocket(FFd);
}

int TSilentResolver::Queries() {
    // Only what is already there: the socket blocks, so each read is asked for first.
    for (char packet[512]; FFd != kNoPeerSocket && ReadableNow(FFd) && ReceiveSome(FFd, packet, sizeof packet) > 0;)
        ++FQueries;
    return FQueries;
}

}  // namespace zeltest
