#pragma once
// A scripted TCP peer on 127.0.0.1 for the transport tests: it accepts connections on a port the
// system chooses and runs the test's script on each, one after the other, on a thread of its own.
// The destructor stops it, also while a script waits.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace zeltest {

// One accepted connection, as the script sees it. Every wait also ends when the peer is stopped.
class TPeerConnection {
public:
    TPeerConnection(int fd, int stopFd) : FFd(fd), FStopFd(stopFd) {}
    int Fd() const noexcept { return FFd; }
    void Send(std::string_view bytes);
    // Reads until `count` bytes came, the client closed, or the peer is stopped.
    std::string Receive(size_t count);
    // Everything until the client closes (or the peer is stopped).
    std::string ReceiveAll();
    // Waits `ms` milliseconds (or until stopped); false when stopped.
    bool Pause(int ms);
    // Waits without answering until the client closes or the peer is stopped.
    void Silent();

private:
    // Waits until the socket is readable: false when stopped.
    bool WaitReadable();

    int FFd;
    int FStopFd;
};

class TLoopbackPeer {
public:
    using TScript = std::function<void(TPeerConnection&)>;
    // With `backlog` -1 no thread accepts: connections only queue (for connect time-out tests).
    explicit TLoopbackPeer(TScript script, int backlog = 16);
    ~TLoopbackPeer();
    TLoopbackPeer(const TLoopbackPeer&) = delete;
    TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

    int Port() const noexcept { return FPort; }
    int Accepted() const noexcept { return FAccepted.load(); }

private:
    void Run();

    TScript FScript;
    int FListen = -1;
    int FPort = 0;
    int FStopPipe[2] = {-1, -1};
    std::atomic<int> FAccepted{0};
    std::thread FThread;
};

// A port on 127.0.0.1 where nothing listens (bound and released at once).
int UnusedPort();

}  // namespace zeltest
