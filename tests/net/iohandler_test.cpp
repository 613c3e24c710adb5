// Buffered reading and writing through a connected client, against scripted loopback peers.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <vector>
#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#include <sys/socket.h>
#endif

#include "LoopbackPeer.h"
#include "NetTestUtil.h"
#include "net/IdException.h"

using namespace zel;
using namespace zeltest;

namespace {

// A peer that sends each part after a short pause (so parts arrive in separate receives), then
// stays silent until the client goes.
TLoopbackPeer::TScript SendParts(std::vector<std::string> parts, bool closeAfter = false) {
    return [parts = std::move(parts), closeAfter](TPeerConnection& c) {
        for (const auto& p : parts) {
            c.Send(p);
            if (!c.Pause(30)) return;
        }
        if (!closeAfter) c.Silent();
    };
}

// A peer that records everything the client sends until it closes.
struct TRecorder {
    std::promise<std::string> Received;
    TLoopbackPeer Peer{[this](TPeerConnection& c) { Received.set_value(c.ReceiveAll()); }};
    std::string Wait() { return Received.get_future().get(); }
};

}  // namespace

TEST(ReadLine, Terminators) {
    // parts the peer sends | terminator | the lines read
    struct Case { std::vector<std::string> parts; std::string term; std::vector<std::string> lines; } cases[] = {
        {{"abc\r\n"}, "\n", {"abc"}},
        {{"abc\n"}, "\n", {"abc"}},
        {{"\r\n"}, "\n", {""}},
        {{"a\rb\n"}, "\n", {"a\rb"}},          // only a CR right before the LF goes
        {{"a\r\r\n"}, "\n", {"a\r"}},
        {{"one\ntwo\n"}, "\n", {"one", "two"}},  // two lines, one receive
        {{"ab", "c", "\nd", "e\n"}, "\n", {"abc", "de"}},
        {{"ab\r\n\r", "\ncd\r\n\r\n"}, "\r\n\r\n", {"ab", "cd"}},  // a terminator split across receives
        {{"x\r\n"}, "\r\n", {"x"}},
        {{"k=1;k=2;"}, ";", {"k=1", "k=2"}},
        {{"a\r\n"}, "", {"a"}},  // an empty terminator is LF
    };
    for (const auto& c : cases) {
        TLoopbackPeer peer(SendParts(c.parts));
        auto client = ConnectedClient(peer.Port());
        for (const auto& line : c.lines) EXPECT_EQ(client->IOHandler()->ReadLine(c.term), line) << c.parts[0];
        EXPECT_FALSE(client->IOHandler()->ReadLnSplit());
    }
}

TEST(ReadLine, MaximumLength) {
    const std::string line16384(16384, 'a');
    const std::string line16385(16385, 'b');
    const std::string line20000(20000, 'c');
    TLoopbackPeer peer(SendParts({line16384, "\n" + line16385 + "\n", line20000 + "\n"}));  // the first LF comes later
    auto client = ConnectedClient(peer.Port());
    TIdIOHandler& io = *client->IOHandler();
    EXPECT_EQ(io.ReadLine(), line16384);
    try {
        io.ReadLine();
        FAIL() << "a line of 16385 bytes was accepted";
    } catch (const EIdReadLnMaxLineLengthExceeded& e) {
        EXPECT_STREQ(e.what(), "Max line length exceeded.");
    }
    EXPECT_EQ(io.ReadLine("\n", IdTimeoutDefault, 0), line16385);  // the line stayed whole
    io.MaxLineAction = maSplit;
    EXPECT_EQ(io.ReadLine(), line20000.substr(0, 16384));
    EXPECT_TRUE(io.ReadLnSplit());
    EXPECT_EQ(io.ReadLine(), line20000.substr(0, 3616));
    EXPECT_FALSE(io.ReadLnSplit());
    // An explicit maximum overrides MaxLineLength; 0 means no limit.
    EXPECT_EQ(io.MaxLineLength, 16384);
}

TEST(ReadLine, ExplicitMaximumAndNoLimit) {
    const std::string longLine(40000, 'z');
    TLoopbackPeer peer(SendParts({"12345\n", longLine + "\n"}));
    auto client = ConnectedClient(peer.Port());
    TIdIOHandler& io = *client->IOHandler();
    EXPECT_THROW(io.ReadLine("\n", IdTimeoutDefault, 4), EIdReadLnMaxLineLengthExceeded);
    EXPECT_EQ(io.ReadLine("\n", IdTimeoutDefault, 5), "12345");
    EXPECT_EQ(io.ReadLine("\n", IdTimeoutDefault, 0), longLine);
}

TEST(ReadLine, PeerClose) {
    {
        TLoopbackPeer peer(SendParts({"abc"}, true));
        auto client = ConnectedClient(peer.Port());
        EXPECT_THROW(client->IOHandler()->ReadLine(), EIdConnClosedGracefully);
        EXPECT_FALSE(client->Socket()->BindingAllocated());
        // What came stays readable, and a connection with unread bytes still counts as connected.
        EXPECT_EQ(client->IOHandler()->InputBuffer()->View(), "abc");
        EXPECT_TRUE(client->IsConnected());
        client->CheckGracefulDisconnect(true);  // unread bytes: not an error yet
        TIdBytes rest;
        client->IOHandler()->ReadBytes(rest, 3);
        EXPECT_THROW(client->CheckGracefulDisconnect(true), EIdConnClosedGracefully);
    }
    {
        TLoopbackPeer peer(SendParts({"abc\n"}, true));
        auto client = ConnectedClient(peer.Port());
        std::vector<TIdStatus> statuses;
        client->IOHandler()->OnStatus = [&](TIdComponent&, TIdStatus s, const std::string&) { statuses.push_back(s); };
        EXPECT_EQ(client->IOHandler()->ReadLine(), "abc");
        try {
            client->IOHandler()->ReadLine();
            FAIL();
        } catch (const EIdConnClosedGracefully& e) {
            EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
        }
        EXPECT_EQ(statuses, std::vector<TIdStatus>{hsDisconnected});
        EXPECT_FALSE(client->IOHandler()->Opened());
        EXPECT_FALSE(client->Socket()->BindingAllocated());
        client->Connect();  // a new connection does not inherit the old one's close
        EXPECT_EQ(client->IOHandler()->ReadLine(), "abc");
    }
}

TEST(ReadLine, TimeOuts) {
    TLoopbackPeer silent([](TPeerConnection& c) { c.Silent(); });
    {
        auto client = ConnectedClient(silent.Port(), 300);
        auto t0 = std::chrono::steady_clock::now();
        try {
            client->IOHandler()->ReadLine();
            FAIL();
        } catch (const EIdReadTimeout& e) {
            EXPECT_STREQ(e.what(), "Read Timeout");
        }
        EXPECT_GE(ElapsedMs(t0), 290);
        EXPECT_LT(ElapsedMs(t0), 2000);
        // An explicit time-out answers "" with the flag instead of raising.
        t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(client->IOHandler()->ReadLine("\n", 150), "");
        EXPECT_TRUE(client->IOHandler()->ReadLnTimedOut());
        EXPECT_GE(ElapsedMs(t0), 140);
        EXPECT_EQ(client->IOHandler()->ReadLine("\n", 0), "");
        EXPECT_TRUE(client->IOHandler()->ReadLnTimedOut());
    }
    {
        // An explicit time-out bounds the whole line, not each wait: bytes dripping in every 40 ms
        // do not keep a 200 ms read alive.
        TLoopbackPeer drip(SendParts(std::vector<std::string>(40, "x")));
        auto client = ConnectedClient(drip.Port(), 0);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(client->IOHandler()->ReadLine("\n", 200), "");
        EXPECT_TRUE(client->IOHandler()->ReadLnTimedOut());
        EXPECT_LT(ElapsedMs(t0), 1000);
    }
    {
        // ReadTimeout 0: the read waits for as long as the answer takes.
        TLoopbackPeer late([](TPeerConnection& c) {
            if (c.Pause(300)) c.Send("late\n");
            c.Silent();
        });
        auto client = ConnectedClient(late.Port(), 0);
        EXPECT_EQ(client->IOHandler()->ReadLine(), "late");
        EXPECT_FALSE(client->IOHandler()->ReadLnTimedOut());
    }
}

TEST(ReadBytes, CountedAndWhateverArrives) {
    TLoopbackPeer peer(SendParts({"0123", "456789", "ab"}, true));
    auto client = ConnectedClient(peer.Port());
    TIdIOHandler& io = *client->IOHandler();
    TIdBytes buf = "XYZXYZXYZ";
    io.ReadBytes(buf, 6, false);  // written over the start, not shortened
    EXPECT_EQ(buf, "012345XYZ");
    io.ReadBytes(buf, 2, true);
    EXPECT_EQ(buf, "012345XYZ67");
    TIdBytes rest;
    io.ReadBytes(rest, 0, true);
    io.ReadBytes(rest, -7, true);
    EXPECT_EQ(rest, "");
    io.ReadBytes(rest, 3, true);
    EXPECT_EQ(rest, "89a");
    EXPECT_THROW(io.ReadBytes(rest, 2, true), EIdConnClosedGracefully);  // "b" is all that is left
    EXPECT_THROW(io.ReadBytes(rest, -1, true), EIdConnClosedGracefully);
    EXPECT_EQ(rest, "89a");
    EXPECT_EQ(io.InputBuffer()->View(), "b");
}

TEST(ReadToStream, CountsAndPeerClose) {
    {
        // 10 announced, 4 arrive: the 4 are kept, and the stream ends after them (old bytes past
        // what came are cut, on the path that raises too).
        TLoopbackPeer peer(SendParts({"abcd"}, true));
        auto client = ConnectedClient(peer.Port());
        TMemoryStream s("0123456789ZZ");
        try {
            client->IOHandler()->ReadToStream(s, 10, false);
        } catch (const EIdConnClosedGracefully&) {
        }
        EXPECT_EQ(s.DataString(), "abcd");
    }
    {
        // Up to the close, bytes already buffered by a line read included.
        TLoopbackPeer peer(SendParts({"head\nbody1", "body2"}, true));
        auto client = ConnectedClient(peer.Port());
        EXPECT_EQ(client->IOHandler()->ReadLine(), "head");
        TMemoryStream s;
        client->IOHandler()->ReadToStream(s, -1, true);
        EXPECT_EQ(s.DataString(), "body1body2");
    }
    {
        // Count 0 writes nothing and cuts the stream at its position; a 4-byte network-order
        // count announces the next read.
        TLoopbackPeer peer(SendParts({std::string("\0\0\0\x03xyzrest", 11)}));
        auto client = ConnectedClient(peer.Port());
        TMemoryStream s("KEEPdrop");
        s.SetPosition(4);
        client->IOHandler()->ReadToStream(s, 0, false);
        EXPECT_EQ(s.DataString(), "KEEP");
        client->IOHandler()->ReadToStream(s, -1, false);
        EXPECT_EQ(s.DataString(), "KEEPxyz");
        client->IOHandler()->ReadToStream(s, 4, false);
        EXPECT_EQ(s.DataString(), "KEEPxyzrest");
    }
}

TEST(ReadToStream, AnnouncedCountReservesNothing) {
    TLoopbackPeer peer(SendParts({std::string("\x7f\xff\xff\xff", 4) + "0123456789"}, true));
    auto client = ConnectedClient(peer.Port());
    TMemoryStream s;
    try {
        client->IOHandler()->ReadToStream(s, -1, false);
    } catch (const EIdConnClosedGracefully&) {
    }
    EXPECT_EQ(s.DataString(), "0123456789");
    EXPECT_LT(s.DataString().capacity(), 1u << 20);
}

TEST(Write, LinesBuffersAndStreams) {
    TRecorder rec;
    auto client = ConnectedClient(rec.Peer.Port());
    TIdIOHandler& io = *client->IOHandler();
    io.WriteText("");
    io.WriteLine("");
    io.WriteLine("GET");
    io.OpenWriteBuffer();
    io.WriteText("dropped");
    io.CancelWriteBuffer();
    EXPECT_FALSE(io.WriteBufferOpen());
    io.OpenWriteBuffer(4);
    io.WriteText("ab");
    io.WriteText("cdef");  // reaches the threshold: 4 bytes go, "ef" waits
    io.WriteText("|");
    io.CloseWriteBuffer();
    TMemoryStream s("0123456789");
    s.SetPosition(7);
    io.WriteFromStream(s, -1, false);  // from the position
    io.WriteFromStream(s, 0, true);    // the whole stream, after its length
    io.SendBufferSize = 3;
    s.SetPosition(0);
    io.WriteFromStream(s, 5, false);   // in chunks of SendBufferSize
    client->Disconnect();
    const std::string count10("\0\0\0\x0a", 4);
    EXPECT_EQ(rec.Wait(), "\r\nGET\r\n" "abcdef|" "789" + count10 + "0123456789" "01234");
}

TEST(Write, WriteBufferThresholdSendsEarly) {
    TLoopbackPeer peer([](TPeerConnection& c) {
        c.Send(c.Receive(4));  // echoes the first four bytes once they came
        c.Silent();
    });
    auto client = ConnectedClient(peer.Port());
    TIdIOHandler& io = *client->IOHandler();
    io.OpenWriteBuffer(4);
    io.WriteText("abcd");  // exactly the threshold
    TIdBytes echo;
    io.ReadBytes(echo, 4);  // would time out if nothing had been sent yet
    EXPECT_EQ(echo, "abcd");
    io.CancelWriteBuffer();
}

TEST(Write, EmptyStreamRead) {
    TRecorder rec;
    auto client = ConnectedClient(rec.Peer.Port());
    // A stream that says it has bytes but yields none.
    struct TLiar : TMemoryStream {
        int64_t Read(void*, int64_t) override { return 0; }
    } liar;
    liar.WriteString("abc");
    liar.SetPosition(0);
    try {
        client->IOHandler()->WriteFromStream(liar, 3, false);
        FAIL();
    } catch (const EIdNoDataToRead& e) {
        EXPECT_STREQ(e.what(), "No data to read.");
    }
}

// Windows has no signals that cut a system call short, so this case is POSIX only.
#ifndef _WIN32
namespace {
void IgnoreSignal(int) {}
}  // namespace

// Signals that interrupt the client's system calls must neither fail a call nor lose bytes: an
// interrupted wait or receive goes on, and a send cut short by a signal sends the rest.
TEST(Write, InterruptedCallsGoOnAndPartialSendsAreCompleted) {
    struct sigaction sa {};
    sa.sa_handler = IgnoreSignal;  // no SA_RESTART: calls really return early
    ASSERT_EQ(::sigaction(SIGUSR1, &sa, nullptr), 0);  // kept: a late signal must stay harmless

    const std::string payload = [] {
        std::string p(2 << 20, '\0');
        for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>(i * 7 + i / 4096);
        return p;
    }();
    std::promise<std::string> received;
    TLoopbackPeer peer([&](TPeerConnection& c) {
        c.Pause(200);  // the client waits in its read meanwhile
        c.Send("go\n");
        std::string all;
        while (all.size() < payload.size()) {
            std::string part = c.Receive(std::min<size_t>(65536, payload.size() - all.size()));
            if (part.empty()) break;
            all += part;
            c.Pause(1);  // a slow reader keeps the client's send blocked
        }
        received.set_value(all);
        c.Silent();
    });
    auto client = ConnectedClient(peer.Port());
    const int sndbuf = 16384;
    ::setsockopt(client->Socket()->Binding()->Handle(), SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);

    std::atomic<bool> done{false};
    const pthread_t target = pthread_self();
    std::thread storm([&] {
        while (!done) {
            pthread_kill(target, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    int sends = 0;
    client->OnWork = [&](TIdComponent&, TWorkMode mode, int64_t) { sends += mode == wmWrite; };
    std::string line;
    try {
        line = client->IOHandler()->ReadLine();
        client->BeginWork(wmWrite, static_cast<int64_t>(payload.size()));
        client->IOHandler()->WriteBytes(payload);
        client->EndWork(wmWrite);
    } catch (...) {
        done = true;
        storm.join();
        throw;
    }
    done = true;
    storm.join();
    EXPECT_EQ(line, "go");
    std::string got = received.get_future().get();
    EXPECT_EQ(got.size(), payload.size());
    EXPECT_TRUE(got == payload);
    EXPECT_GT(sends, 1) << "no send was cut short, so the rest-sending loop went untested";
}
#endif

TEST(Work, NestedNotificationsReachTheConnection) {
    TLoopbackPeer peer(SendParts({"0123456789AB"}));
    auto client = ConnectedClient(peer.Port(), 100);
    std::vector<std::string> events;
    client->OnWorkBegin = [&](TIdComponent&, TWorkMode m, int64_t max) {
        events.push_back("begin" + std::to_string(m) + ":" + std::to_string(max));
    };
    client->OnWork = [&](TIdComponent&, TWorkMode m, int64_t n) { events.push_back("work" + std::to_string(m) + ":" + std::to_string(n)); };
    client->OnWorkEnd = [&](TIdComponent&, TWorkMode m) { events.push_back("end" + std::to_string(m)); };
    client->BeginWork(wmRead, 100);
    TMemoryStream s;
    client->IOHandler()->ReadToStream(s, 4, false);  // nested: no second begin or end
    TIdBytes b;
    client->IOHandler()->ReadBytes(b, 6);
    client->EndWork(wmRead);
    client->IOHandler()->ReadBytes(b, -1);  // outside any begin: no progress events
    EXPECT_EQ(events, (std::vector<std::string>{"begin0:100", "work0:4", "work0:10", "end0"}));
}
