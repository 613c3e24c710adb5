// The socket stack and socket handle over real loopback sockets.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>

#include "LoopbackPeer.h"
#include "net/IdException.h"
#include "net/IdSocketHandle.h"
#include "net/IdSocketHeaders.h"
#include "net/IdStack.h"
#include "platform/Exceptions.h"

using namespace zel;
using zeltest::TLoopbackPeer;
using zeltest::TPeerConnection;

namespace {

// On Winsock the cancel signal is a socket and keeps the stack (and Winsock) started.
#ifdef _WIN32
constexpr bool kSignalHoldsStack = true;

// Whether Winsock is started in this process: a socket can be made only then.
bool WinsockStarted() {
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET) return ::WSAGetLastError() != WSANOTINITIALISED;
    ::closesocket(probe);
    return true;
}
#else
constexpr bool kSignalHoldsStack = false;
#endif

// Holds one use of the stack for a test.
struct TStackUser {
    TStackUser() { TIdStack::IncUsage(); }
    ~TStackUser() { TIdStack::DecUsage(); }
    TIdStack& operator*() const { return *TIdStack::Instance(); }
    TIdStack* operator->() const { return TIdStack::Instance(); }
};

// A handle connected to `port` on 127.0.0.1.
std::unique_ptr<TIdSocketHandle> Connected(int port) {
    auto h = std::make_unique<TIdSocketHandle>();
    h->AllocateSocket(SOCK_STREAM);
    h->Bind();
    h->SetPeer("127.0.0.1", port);
    h->Connect();
    return h;
}

}  // namespace

TEST(Stack, ErrorTextsAndNumbers) {
    EXPECT_EQ(SocketErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(SocketErrorText(11001), "Socket Error # 11001\r\n");
    EXPECT_EQ(SocketErrorText(10004), "Socket Error # 10004\r\nInterrupted system call.");
    EXPECT_EQ(SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
    EXPECT_EQ(EIdSocketError(10054).LastError(), 10054);
    EXPECT_STREQ(EIdSocketError(10054).what(), "Socket Error # 10054\r\nConnection reset by peer.");

    // Winsock reports the numbers themselves (the failures below check them); POSIX maps errno.
#ifndef _WIN32
    struct Case { int err; int32_t number; } cases[] = {
        {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ECONNRESET, 10054}, {EHOSTUNREACH, 10065},
        {EWOULDBLOCK, 10035}, {ENOTSUP, 10045}, {ENOTSOCK, 10038}, {EBADF, 10009}, {EPIPE, 10058},
        {EADDRINUSE, 10048}, {EINTR, 10004}, {ENOTEMPTY, 10066}, {EDOM, EDOM}, {0, 0},
        {EACCES, 10013}, {EPERM, 10013}, {EFAULT, 10014}, {EINVAL, 10022}, {EMFILE, 10024}, {ENFILE, 10024},
        {EINPROGRESS, 10036}, {EALREADY, 10037}, {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040}, {EPROTOTYPE, 10041},
        {ENOPROTOOPT, 10042}, {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EPFNOSUPPORT, 10046},
        {EAFNOSUPPORT, 10047}, {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050}, {ENETUNREACH, 10051}, {ENETRESET, 10052},
        {ECONNABORTED, 10053}, {ENOBUFS, 10055}, {ENOMEM, 10055}, {EISCONN, 10056}, {ENOTCONN, 10057},
        {ESHUTDOWN, 10058}, {ETOOMANYREFS, 10059}, {ELOOP, 10062}, {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
    };
    for (const auto& c : cases) EXPECT_EQ(SocketErrorFromErrno(c.err), c.number) << c.err;
#endif
}

TEST(Stack, LivesWhileItHasUsers) {
    ASSERT_EQ(TIdStack::Instance(), nullptr);
#ifdef _WIN32
    // The stack starts Winsock with its first use and cleans it up with its last (a test peer of
    // an earlier test in this process may hold it started for good).
    const bool startedBefore = WinsockStarted();
#endif
    {
        TStackUser first;
        TIdStack* stack = TIdStack::Instance();
        ASSERT_NE(stack, nullptr);
#ifdef _WIN32
        EXPECT_TRUE(WinsockStarted());
#endif
        EXPECT_FALSE(stack->HostName().empty());
        {
            TStackUser second;
            EXPECT_EQ(TIdStack::Instance(), stack);
        }
        EXPECT_EQ(TIdStack::Instance(), stack);
    }
    EXPECT_EQ(TIdStack::Instance(), nullptr);
#ifdef _WIN32
    EXPECT_EQ(WinsockStarted(), startedBefore);
#endif
    {
        TIdCancelSignal signal;
        EXPECT_EQ(TIdStack::Instance() != nullptr, kSignalHoldsStack);
    }
    EXPECT_EQ(TIdStack::Instance(), nullptr);
}

TEST(Stack, IsIPv4Address) {
    struct Case { const char* text; bool ok; } cases[] = {
        {"1.2.3.4", true}, {"127.0.0.1", true}, {"255.255.255.255", true}, {"0.0.0.0", true},
        {"01.002.3.4", true}, {"256.1.1.1", false}, {"1.2.3.256", false}, {"", false}, {"1.2.3", false},
        {"1.2.3.4.5", false}, {"1.2.3.4.", false}, {"1..3.4", false}, {"a.b.c.d", false}, {"-1.2.3.4", false},
        {"1.2.3.4 ", false}, {" 1.2.3.4", false}, {"0x7f.0.0.1", false}, {"1.2.3.99999999999", false},
    };
    for (const auto& c : cases) EXPECT_EQ(TIdStack::IsIPv4Address(c.text), c.ok) << '"' << c.text << '"';
}

TEST(Stack, ResolveHost) {
    TStackUser stack;
    for (const char* name : {"localhost", "LOCALHOST", "LocalHost"}) EXPECT_EQ(stack->ResolveHost(name, Id_IPv4), "127.0.0.1");
    // A dotted address comes back as it is, leading zeros and all, without a lookup.
    EXPECT_EQ(stack->ResolveHost("10.1.2.3", Id_IPv4), "10.1.2.3");
    EXPECT_EQ(stack->ResolveHost("010.001.2.3", Id_IPv4), "010.001.2.3");
    // Not in dotted form, so looked up; the resolver reads it as an address without a name server.
    EXPECT_EQ(stack->ResolveHost("127.1", Id_IPv4), "127.0.0.1");
    // A name that cannot exist fails with a lookup error number and no table text.
    try {
        stack->ResolveHost("no-such-host.invalid", Id_IPv4);
        FAIL() << "resolved";
    } catch (const EIdSocketError& e) {
        EXPECT_TRUE(e.LastError() == Id_WSAHOST_NOT_FOUND || e.LastError() == Id_WSATRY_AGAIN) << e.LastError();
        EXPECT_EQ(e.Message(), "Socket Error # " + std::to_string(e.LastError()) + "\r\n");
    }
    EXPECT_THROW(stack->ResolveHost("localhost", Id_IPv6), EIdIPVersionUnsupported);
}

TEST(Stack, DottedAddressConversion) {
    EXPECT_EQ(TIdStack::AddressToDotted(TIdStack::DottedToAddress("192.0.2.255")), "192.0.2.255");
    EXPECT_EQ(TIdStack::AddressToDotted(TIdStack::DottedToAddress("010.1.2.3")), "10.1.2.3");
    // Each part is kept as one byte, as the conversion always did.
    EXPECT_EQ(TIdStack::AddressToDotted(TIdStack::DottedToAddress("1.2.3.260")), "1.2.3.4");
    EXPECT_THROW(TIdStack::DottedToAddress("1.2.x.4"), EConvertError);
    EXPECT_THROW(TIdStack::DottedToAddress("1.2.3"), EConvertError);
}

TEST(Stack, CheckSocketResult) {
    TStackUser stack;
    EXPECT_EQ(TIdStack::CheckSocketResult(5), 5);
    char c;
    TIdStackSocketHandle closed;
    {
        // A handle that is no socket: EIdNotASocket with 10038, for the calls with and without a wait.
        zeltest::TNonSocket nonSocket;
        closed = static_cast<TIdStackSocketHandle>(nonSocket.Handle());
        for (bool wait : {false, true}) {
            try {
                if (wait)
                    stack->Send(closed, &c, 1);
                else
                    stack->Receive(closed, &c, 1);
                FAIL() << wait;
            } catch (const EIdNotASocket& e) {
                EXPECT_EQ(e.LastError(), Id_WSAENOTSOCK);
                EXPECT_STREQ(e.what(), "Socket Error # 10038\r\nSocket operation on non-socket.");
            }
        }
    }
    // The same handle closed: a bad descriptor on POSIX; Winsock does not tell a handle that is gone
    // from one that never was a socket.
#ifdef _WIN32
    EXPECT_THROW(stack->Send(closed, &c, 1), EIdNotASocket);
#else
    try {
        stack->Send(closed, &c, 1);
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), Id_WSAEBADF);
    }
#endif
}

TEST(Stack, CancelSignalStaysRaised) {
    TLoopbackPeer peer([](TPeerConnection& c) {
        c.Send("x");
        c.Silent();
    });
    TStackUser stack;
    auto h = Connected(peer.Port());
    TIdCancelSignal cancel;
    EXPECT_TRUE(zeltest::IsOpenAndNotInherited(cancel.Handle()));  // a host's child processes do not get it
    EXPECT_FALSE(cancel.Cancelled());
    EXPECT_FALSE(stack->WaitReadable(cancel.Handle(), 0));
    EXPECT_TRUE(h->WaitReadable(5000, &cancel));
    cancel.Cancel();
    cancel.Cancel();  // twice: still one raised signal
    EXPECT_TRUE(cancel.Cancelled());
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(stack->WaitReadable(cancel.Handle(), 0)) << i;  // a wait does not lower it
    // Raised, it wins over a socket that is ready too.
    EXPECT_THROW(h->WaitReadable(5000, &cancel), EIdCancelled);
    EXPECT_THROW(h->WaitWritable(5000, &cancel), EIdCancelled);
}

TEST(SocketHandle, WaitReadableAndPeerClose) {
    TLoopbackPeer peer([](TPeerConnection& c) {
        c.Receive(1);  // close once told to
    });
    auto h = Connected(peer.Port());
    EXPECT_EQ(h->PeerIP(), "127.0.0.1");
    EXPECT_EQ(h->PeerPort(), peer.Port());
    EXPECT_EQ(h->IP, "127.0.0.1");
    EXPECT_NE(h->Port, 0);

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(h->WaitReadable(0));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
    char buf[16];
    EXPECT_EQ(h->Receive(buf, sizeof buf), TIdStack::kWouldBlock);  // readable never blocks the reader

    ASSERT_EQ(h->Send("x", 1), 1);
    EXPECT_TRUE(h->WaitReadable(5000));
    EXPECT_EQ(h->Receive(buf, sizeof buf), 0);

    h->CloseSocket();
    EXPECT_FALSE(h->HandleAllocated());
    h->CloseSocket();  // twice: nothing
    EXPECT_THROW(h->WaitReadable(0), EIdConnClosedGracefully);
}

TEST(SocketHandle, CallsThatDoNotWaitLeaveItBlocking) {
    TLoopbackPeer peer([](TPeerConnection& c) { c.Silent(); });
    // One row per call that must not wait itself (Winsock has no per-call flag for that, so there
    // the socket is switched for the call), each on a connection of its own.
    struct Case { const char* call; bool connectFirst; std::function<void(TIdSocketHandle&)> run; } cases[] = {
        {"connect with a time-out", false, [](TIdSocketHandle& h) { EXPECT_TRUE(h.ConnectWithTimeout(5000)); }},
        {"receive", true, [](TIdSocketHandle& h) {
             char buf[4];
             EXPECT_EQ(h.Receive(buf, sizeof buf), TIdStack::kWouldBlock);
         }},
        {"send without a wait", true, [](TIdSocketHandle& h) { EXPECT_EQ(h.Send("x", 1, false), 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        TIdSocketHandle h;
        h.AllocateSocket(SOCK_STREAM);
        h.SetPeer("127.0.0.1", peer.Port());
        if (c.connectFirst) h.Connect();
        c.run(h);
        EXPECT_TRUE(zeltest::IsBlocking(h.Handle()));
    }
}

TEST(SocketHandle, SendReturnsWhatTheSystemTook) {
    TLoopbackPeer peer([](TPeerConnection& c) { c.Pause(60000); });  // never reads
    auto h = Connected(peer.Port());
    // On a socket that cannot wait, the first send fills the system's buffers and reports less.
    ASSERT_TRUE(zeltest::SetNonBlocking(h->Handle()));
    ASSERT_FALSE(zeltest::IsBlocking(h->Handle()));
    std::string big(16 << 20, 'x');
    int32_t n = h->Send(big.data(), static_cast<int32_t>(big.size()));
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int32_t>(big.size()));
    try {
        h->Send(big.data(), static_cast<int32_t>(big.size()));
        FAIL() << "a full buffer accepted more";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), Id_WSAEWOULDBLOCK);
    }
}

TEST(SocketHandle, ConnectRefusedAndBindFailures) {
    TIdSocketHandle h;
    h.AllocateSocket(SOCK_STREAM);
    h.SetPeer("127.0.0.1", zeltest::UnusedPort());
    try {
        h.Connect();
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), Id_WSAECONNREFUSED);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }

    TLoopbackPeer peer([](TPeerConnection&) {});
    TIdSocketHandle taken;
    taken.AllocateSocket(SOCK_STREAM);
    taken.IP = "127.0.0.1";
    taken.Port = peer.Port();
    try {
        taken.Bind();
        FAIL();
    } catch (const EIdCouldNotBindSocket& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }

    EXPECT_THROW(taken.SetIPVersion(Id_IPv6), EIdCannotSetIPVersionWhenConnected);
    taken.CloseSocket();
    taken.SetIPVersion(Id_IPv6);
    EXPECT_EQ(taken.IPVersion(), Id_IPv6);
    EXPECT_THROW(taken.AllocateSocket(SOCK_STREAM), EIdIPVersionUnsupported);
}

TEST(SocketHandle, ResetForgetsWithoutClosing) {
    TLoopbackPeer peer([](TPeerConnection& c) { c.Silent(); });
    auto h = Connected(peer.Port());
    TIdStackSocketHandle fd = h->Handle();
    h->Reset(false);
    EXPECT_FALSE(h->HandleAllocated());
    EXPECT_EQ(h->PeerIP(), "");
    EXPECT_EQ(h->PeerPort(), 0);
    EXPECT_EQ(h->IP, "127.0.0.1");  // kept without reset-local
    EXPECT_TRUE(zeltest::IsOpenAndNotInherited(fd));  // still open, and kept from child processes
    TIdStack::Instance()->Disconnect(fd);
    h->Reset(true);
    EXPECT_EQ(h->IP, "");
    EXPECT_EQ(h->Port, 0);
}
