// Connecting and disconnecting the TCP client, against loopback peers.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include "LoopbackPeer.h"
#include "NetTestUtil.h"
#include "net/IdException.h"
#include "net/IdIOHandlerStack.h"

using namespace zel;
using namespace zeltest;

TEST(TCPClient, ConnectTimeoutEndsAtItsDeadline) {
    TLoopbackPeer queueOnly([](TPeerConnection&) {}, -1);
    TFullQueue full(queueOnly.Port());
    TIdTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = queueOnly.Port();
    client.SetConnectTimeout(500);
    auto t0 = std::chrono::steady_clock::now();
    try {
        client.Connect();
        FAIL() << "connected to a full queue";
    } catch (const EIdConnectTimeout& e) {
        EXPECT_STREQ(e.what(), "Connect timed out.");
    }
    EXPECT_GE(ElapsedMs(t0), 490);
    EXPECT_LT(ElapsedMs(t0), 1500);
    EXPECT_FALSE(client.Socket()->BindingAllocated());  // the attempt's socket is gone
    EXPECT_FALSE(client.IOHandler()->Opened());
    EXPECT_FALSE(client.IsConnected());

    // The handler itself closes the attempt's socket, with no client around it.
    TIdIOHandlerStack bare;
    bare.Host = "127.0.0.1";
    bare.Port = queueOnly.Port();
    bare.ConnectTimeout = 200;
    EXPECT_THROW(bare.Open(), EIdConnectTimeout);
    EXPECT_FALSE(bare.BindingAllocated());
    // Whichever comes first of the deadline and the time-out ends the attempt.
    bare.ConnectTimeout = 5000;
    bare.Deadline = MonotonicMs() + 200;
    t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(bare.Open(), EIdConnectTimeout);
    EXPECT_LT(ElapsedMs(t0), 1000);
}

// A cancel raised by another thread ends each wait of a connect, lookup, read or send at once; a
// lookup the resolver never answers ends with the connect's time-out.
TEST(TCPClient, CancelsAndSilentLookupsEndTheWaits) {
    TLoopbackPeer silent([](TPeerConnection& c) { c.Silent(); });
    TLoopbackPeer deaf([](TPeerConnection& c) { c.Pause(60000); });  // reads nothing, so a send fills up
    TLoopbackPeer queueOnly([](TPeerConnection&) {}, -1);
    TFullQueue full(queueOnly.Port());
    TSilentResolver resolver;
    const std::string flood(64 << 20, 'x');  // made before any clock starts: under a sanitizer that takes a while
    // host | port | connect time-out | then read (r) or send (s) | cancel after ms (0 before; -1 never)
    struct Case { std::string host; int port; int32_t connectTimeout; char then; int cancelMs; } cases[] = {
        {"127.0.0.1", queueOnly.Port(), 0, '-', 150}, {"127.0.0.1", silent.Port(), 0, 'r', 150},
        {"127.0.0.1", deaf.Port(), 0, 's', 150},       {"127.0.0.1", silent.Port(), 0, 'r', 0},
        {"box.invalid", 80, 0, '-', 150},              {"box.invalid", 80, 300, '-', -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host + " " + c.then + " " + std::to_string(c.cancelMs));
        const bool lookup = c.host != "127.0.0.1";
        if (lookup && !resolver.Ready()) continue;  // no network namespace here to hold a name server
        const int queries = lookup ? resolver.Queries() : 0;
        TIdCancelSignal cancel;
        EXPECT_TRUE(IsOpenAndNotInherited(cancel.Handle()));  // a host's child processes do not inherit it
        TIdTCPClient client;
        client.Host = c.host;
        client.Port = c.port;
        client.SetConnectTimeout(c.connectTimeout);
        client.Cancel = &cancel;
        if (c.cancelMs == 0) cancel.Cancel();
        std::thread canceller([&] {
            if (c.cancelMs <= 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(c.cancelMs));
            cancel.Cancel();
        });
        const auto t0 = std::chrono::steady_clock::now();
        const bool timesOut = c.cancelMs < 0;
        try {
            client.Connect();
            if (c.then == 'r') client.IOHandler()->ReadLine();
            if (c.then == 's') client.IOHandler()->WriteBytes(flood);
            ADD_FAILURE() << "nothing ended the wait";
        } catch (const EIdCancelled&) {
            EXPECT_FALSE(timesOut);
        } catch (const EIdConnectTimeout&) {
            EXPECT_TRUE(timesOut);
        }
        const int64_t ms = ElapsedMs(t0);
        canceller.join();
        const int expected = timesOut ? c.connectTimeout : c.cancelMs;
        EXPECT_GE(ms, expected - 20);
        // Far short of the deaf peer's minute; the slack is for a loaded machine under a sanitizer.
        EXPECT_LT(ms, expected + 1000);
        EXPECT_EQ(resolver.Ready() && resolver.Queries() > queries, lookup) << "the lookup asks the silent resolver";
    }
}

TEST(TCPClient, RefusalArrivesBeforeTheTimeOut) {
    for (int32_t timeout : {0, 2000}) {
        TIdTCPClient client;
        client.Host = "127.0.0.1";
        client.Port = UnusedPort();
        client.SetConnectTimeout(timeout);
        auto t0 = std::chrono::steady_clock::now();
        try {
            client.Connect();
            FAIL();
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), 10061);
            EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
        }
        EXPECT_LT(ElapsedMs(t0), 1000) << timeout;
        EXPECT_FALSE(client.Socket()->BindingAllocated());
    }
}

TEST(TCPClient, ConnectWithTimeoutWorks) {
    TLoopbackPeer peer([](TPeerConnection& c) { c.Send(c.Receive(5)); c.Silent(); });
    TIdTCPClient client;
    client.Host = "localhost";
    client.Port = peer.Port();
    client.SetConnectTimeout(2000);
    client.SetReadTimeout(2000);
    client.Connect();
    client.IOHandler()->WriteText("ping\n");
    EXPECT_EQ(client.IOHandler()->ReadLine(), "ping");
    client.IOHandler()->Deadline = MonotonicMs() + 100;  // cuts short, and raises, a read with its own time-out
    EXPECT_THROW(client.IOHandler()->ReadLine("\n", 5000), EIdReadTimeout);
    client.IOHandler()->Deadline = MonotonicMs() - 1;  // passed: a mere poll neither waits nor raises
    EXPECT_TRUE(client.IOHandler()->IsConnected());
    client.IOHandler()->Deadline = 0;
    // The socket is a blocking one after the timed connect and the reads that did not wait.
    EXPECT_TRUE(IsBlocking(client.Socket()->Binding()->Handle()));
}

TEST(TCPClient, StatusesAndOptions) {
    TLoopbackPeer peer([](TPeerConnection& c) { c.Silent(); });
    TIdTCPClient client;
    std::vector<std::string> seen;
    client.OnStatus = [&](TIdComponent&, TIdStatus s, const std::string& text) {
        seen.push_back(std::to_string(s) + " " + text);
    };
    int connected = 0, disconnected = 0;
    client.OnConnected = [&](TIdTCPClientCustom&) { ++connected; };
    client.OnDisconnected = [&](TIdTCPConnection&) { ++disconnected; };
    client.Host = "LocalHost";
    client.Port = peer.Port();
    client.Connect();
    EXPECT_EQ(seen, (std::vector<std::string>{"0 Resolving hostname LocalHost.", "1 Connecting to 127.0.0.1.", "2 Connected."}));
    // TCP_NODELAY as the system reports it for the client's socket.
    auto noDelay = [&client] {
        int on = 0;  // Winsock writes one byte here
        socklen_t len = sizeof on;
        ::getsockopt(static_cast<TPeerSocket>(client.Socket()->Binding()->Handle()), IPPROTO_TCP, TCP_NODELAY,
                     reinterpret_cast<char*>(&on), &len);
        return on;
    };
    EXPECT_EQ(noDelay(), 0);  // UseNagle is on by default
    seen.clear();
    client.Disconnect();
    client.Disconnect();  // not opened any more: nothing
    EXPECT_EQ(seen, (std::vector<std::string>{"3 Disconnecting.", "4 Disconnected."}));
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(disconnected, 1);

    client.Socket()->UseNagle = false;
    client.Connect();
    EXPECT_EQ(noDelay(), 1);
}

TEST(TCPClient, ConnectTwiceAndReconnect) {
    TLoopbackPeer peer([](TPeerConnection& c) {
        c.Send(c.Receive(3));
        c.Silent();
    });
    TIdTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = peer.Port();
    client.SetReadTimeout(2000);
    client.Connect();
    try {
        client.Connect();
        FAIL();
    } catch (const EIdAlreadyConnected& e) {
        EXPECT_STREQ(e.what(), "Already connected.");
    }
    EXPECT_TRUE(client.IsConnected());  // the refused second connect changed nothing
    TIdIOHandler* handler = client.IOHandler();
    for (const char* word : {"one", "two"}) {
        client.IOHandler()->WriteText(word);
        TIdBytes echo;
        client.IOHandler()->ReadBytes(echo, 3);
        EXPECT_EQ(echo, word);
        client.Disconnect();
        EXPECT_FALSE(client.IsConnected());
        if (std::string(word) == "one") client.Connect();
    }
    EXPECT_EQ(client.IOHandler(), handler);  // the same handler served both
    EXPECT_EQ(peer.Accepted(), 2);
}

TEST(TCPClient, WithoutHostOrPortThereIsNoSocket) {
    for (auto [host, port] : {std::pair<std::string, int>{"", 80}, {"127.0.0.1", 0}}) {
        TIdTCPClient client;
        client.Host = host;
        client.Port = port;
        client.Connect();
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(client.IOHandler()->Opened());
        EXPECT_THROW(client.IOHandler()->WriteLine("x"), EIdConnClosedGracefully);
        EXPECT_THROW(client.IOHandler()->ReadLine(), EIdConnClosedGracefully);
    }
}

TEST(TCPClient, PortOutOfRangeFailsBeforeAnySocket) {
    for (int port : {-1, 65536, 70000, 80 + 65536}) {
        TIdTCPClient client;
        client.Host = "127.0.0.1";
        client.Port = port;
        try {
            client.Connect();
            FAIL() << port;
        } catch (const EIdException& e) {
            EXPECT_EQ(e.Message(), "Invalid port " + std::to_string(port) + ".");
        }
        EXPECT_EQ(client.Socket()->Binding()->Port, 0) << "a socket was bound for port " << port;
    }
}

TEST(TCPClient, DestroyingAConnectedClientClosesItsSocket) {
    std::promise<std::string> got;
    TLoopbackPeer peer([&](TPeerConnection& c) { got.set_value(c.ReceiveAll()); });
    {
        auto client = ConnectedClient(peer.Port());
        client->IOHandler()->WriteText("bye");
    }
    auto f = got.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(f.get(), "bye");
}

TEST(TCPClient, ReopeningAnOpenHandlerClosesItsOldSocket) {
    std::promise<std::string> first;
    std::atomic<int> connections{0};
    TLoopbackPeer peer([&](TPeerConnection& c) {
        std::string all = c.ReceiveAll();
        if (connections++ == 0) first.set_value(all);
    });
    auto client = ConnectedClient(peer.Port());
    client->IOHandler()->WriteText("bye");
    client->IOHandler()->Open();  // a second connection; the first one's socket must be closed
    auto f = first.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(f.get(), "bye");
}

TEST(TCPClient, NeverOpenedHandler) {
    TIdIOHandlerStack handler;
    try {
        handler.ReadLine();
        FAIL();
    } catch (const EIdException& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
    TIdBytes b;
    EXPECT_THROW(handler.ReadBytes(b, 1), EIdException);
    EXPECT_THROW(handler.WriteLine("x"), EIdNotConnected);
    EXPECT_FALSE(handler.IsConnected());
    TIdTCPClient client;
    EXPECT_FALSE(client.IsConnected());
    EXPECT_THROW(client.CheckGracefulDisconnect(true), EIdException);
    client.CheckGracefulDisconnect(false);
}

TEST(TCPClient, HandlerAssignmentAndTimeOuts) {
    TIdTCPClient client;
    client.SetConnectTimeout(1500);
    client.SetReadTimeout(700);
    client.Host = "example.invalid";
    client.Port = 8080;
    {
        TIdIOHandlerStack own;
        client.SetIOHandler(&own);
        // The client's settings went to the handler, and reading them now reads the handler's.
        EXPECT_EQ(own.ConnectTimeout, 1500);
        EXPECT_EQ(own.ReadTimeout, 700);
        EXPECT_EQ(own.Host, "example.invalid");
        EXPECT_EQ(own.Port, 8080);
        own.ReadTimeout = 900;
        EXPECT_EQ(client.ReadTimeout(), 900);
        client.SetReadTimeout(300);
        EXPECT_EQ(own.ReadTimeout, 300);
        EXPECT_EQ(own.Connection(), &client);
    }  // a handler that goes away is forgotten by the client
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_EQ(client.ReadTimeout(), 300);

    auto* external = new TIdIOHandlerStack();
    client.SetIOHandler(external);
    TIdTCPClient other;
    other.SetIOHandler(external);  // taken over: the first client lets go of it
    EXPECT_EQ(client.IOHandler(), nullptr);
    other.SetIOHandler(nullptr);  // not owned: still alive
    EXPECT_EQ(external->Connection(), nullptr);
    delete external;
}
