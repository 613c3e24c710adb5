#pragma once
// A scripted TCP peer on 127.0.0.1 for the transport tests: it accepts connections on a port the
// system chooses and runs the test's script on each, one after the other, on a thread of its own.
// The destructor stops it, also while a script waits. Builds on POSIX and on Winsock.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zeltest {

// A socket as the system names it: Winsock's SOCKET is a pointer-sized unsigned handle (spelled
// here so that the tests do not get <windows.h> and its macros).
#ifdef _WIN32
using TPeerSocket = std::uintptr_t;
#else
using TPeerSocket = int;
#endif
inline constexpr TPeerSocket kNoPeerSocket = static_cast<TPeerSocket>(-1);

// One accepted connection, as the script sees it. Every wait also ends when the peer is stopped.
class TPeerConnection {
public:
    TPeerConnection(TPeerSocket fd, TPeerSocket stop) : FFd(fd), FStop(stop) {}
    TPeerSocket Fd() const noexcept { return FFd; }
    void Send(std::string_view bytes);
    // Reads until `count` bytes came, the client closed, or the peer is stopped.
    std::string Receive(size_t count);
    // Everything until the client closes (or the peer is stopped).
    std::string ReceiveAll();
    // What has already arrived, up to 64 KiB, without waiting.
    std::string ReceiveWaiting();
    // Waits `ms` milliseconds (or until stopped); false when stopped.
    bool Pause(int ms);
    // Waits without answering until the client closes or the peer is stopped.
    void Silent();

private:
    // Waits until the socket is readable: false when stopped.
    bool WaitReadable();

    TPeerSocket FFd;
    TPeerSocket FStop;
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
    TPeerSocket FListen = kNoPeerSocket;
    int FPort = 0;
    // A connected loopback pair: a byte sent on [1] makes [0] readable, which ends every wait
    // (a socket, not a pipe, because Winsock waits on sockets only).
    TPeerSocket FStop[2] = {kNoPeerSocket, kNoPeerSocket};
    std::atomic<int> FAccepted{0};
    std::thread FThread;
};

// A port on 127.0.0.1 where nothing listens (bound and released at once).
int UnusedPort();

// Makes calls on `s` return at once instead of waiting; false when the system refuses.
bool SetNonBlocking(TPeerSocket s);
// Whether calls on `s` wait. Winsock cannot be asked, so there a receive with a short receive
// time-out tells (a blocking one waits for it, a non-blocking one answers at once): only for a
// connected socket with nothing to read, and last, as Windows leaves a connection whose receive
// timed out in an undefined state.
bool IsBlocking(TPeerSocket s);
// True when `s` is an open handle that child processes do not inherit.
bool IsOpenAndNotInherited(TPeerSocket s);

// An open system handle that is no socket (a pipe on POSIX, an event on Windows), closed with
// this object.
class TNonSocket {
public:
    TNonSocket();
    ~TNonSocket();
    TNonSocket(const TNonSocket&) = delete;
    TNonSocket& operator=(const TNonSocket&) = delete;
    TPeerSocket Handle() const noexcept { return FHandle; }

private:
    TPeerSocket FHandle;
    TPeerSocket FOther = kNoPeerSocket;  // a pipe's second end
};

// Connections to 127.0.0.1:port that fill its listener's accept queue, so that the next connect
// there hangs; they close with this object.
class TFullQueue {
public:
    explicit TFullQueue(int port);
    ~TFullQueue();
    TFullQueue(const TFullQueue&) = delete;
    TFullQueue& operator=(const TFullQueue&) = delete;

private:
    std::vector<TPeerSocket> FFds;
};

// A name server on 127.0.0.1:53 that never answers, where scripts/in-netns.sh points the resolver;
// not Ready where the port cannot be had.
class TSilentResolver {
public:
    TSilentResolver();
    ~TSilentResolver();
    TSilentResolver(const TSilentResolver&) = delete;
    TSilentResolver& operator=(const TSilentResolver&) = delete;
    bool Ready() const noexcept { return FReady; }
    // The queries that arrived so far.
    int Queries();

private:
    TPeerSocket FFd;
    bool FReady = false;
    int FQueries = 0;
};

}  // namespace zeltest
