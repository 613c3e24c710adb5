// The HTTP client against scripted loopback peers: the bytes it sends, every reply shape it must
// read, and the bounds that keep a hostile peer from holding or flooding it.
#include <gtest/gtest.h>

#include <mutex>

#include "LoopbackPeer.h"
#include "NetTestUtil.h"
#include "net/IdHTTP.h"

using namespace zel;
using namespace zeltest;

namespace {

// A peer that answers every connection with `reply` after reading the request head, then closes
// (or, with keepOpen, waits for the client to go). It keeps the heads it read.
class THttpPeer {
public:
    explicit THttpPeer(std::string reply, bool keepOpen = false)
        : FPeer([this, reply = std::move(reply), keepOpen](TPeerConnection& c) {
              std::string head;
              while (head.find("\r\n\r\n") == std::string::npos) {
                  std::string part = c.Receive(1);
                  if (part.empty()) break;
                  if (head.empty()) FirstReceive(c, part);
                  head += part;
              }
              {
                  std::lock_guard<std::mutex> lock(FLock);
                  FHeads.push_back(head);
                  FFirstReceives.push_back(FPending);
              }
              c.Send(reply);
              if (keepOpen) c.Silent();
          }) {}
    int Port() const { return FPeer.Port(); }
    int Accepted() const { return FPeer.Accepted(); }
    std::string Head(size_t i = 0) {
        std::lock_guard<std::mutex> lock(FLock);
        return i < FHeads.size() ? FHeads[i] : "";
    }
    // The bytes of the head that the first receive brought.
    std::string FirstReceived(size_t i = 0) {
        std::lock_guard<std::mutex> lock(FLock);
        return i < FFirstReceives.size() ? FFirstReceives[i] : "";
    }
    std::string Url(const std::string& path = "/xml") const { return "http://127.0.0.1:" + std::to_string(Port()) + path; }

private:
    // Reads whatever is already there after the first byte, to see how the head arrived.
    void FirstReceive(TPeerConnection& c, std::string& part) {
        part += c.ReceiveWaiting();
        FPending = part;
    }

    std::mutex FLock;
    std::vector<std::string> FHeads;
    std::vector<std::string> FFirstReceives;
    std::string FPending;
    TLoopbackPeer FPeer;
};

// "body:<bytes>" on success; "http <code> <status line>|<error body>" for a failing status;
// otherwise the exception's message.
std::string Outcome(TIdHTTP& http, const std::string& url) {
    try {
        return "body:" + http.Get(url);
    } catch (const EIdHTTPProtocolException& e) {
        return "http " + std::to_string(e.ErrorCode()) + " " + e.Message() + "|" + e.ErrorMessage();
    } catch (const EIdException& e) {
        return e.Message();
    }
}

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kCutShort = "Connection closed before the whole body arrived.";
const std::string kConflict = "Conflicting Content-Length values.";

}  // namespace

TEST(HTTP, RequestHeadIsExactAndLeavesInOneSend) {
    for (const char* agent : {"", "Mozilla"}) {
        THttpPeer peer(kOk + "Content-Length: 2\r\n\r\nok");
        TIdHTTP http;
        if (*agent) http.Request().UserAgent = agent;
        EXPECT_EQ(http.Get(peer.Url()), "ok");
        const std::string expected = "GET /xml HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(peer.Port()) +
                                     "\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\nUser-Agent: " +
                                     (*agent ? agent : "Mozilla/3.0 (compatible; Net Library)") + "\r\n\r\n";
        EXPECT_EQ(peer.Head(), expected);
        EXPECT_EQ(peer.FirstReceived(), expected);
        // A second Get of the same client does not add "identity" twice.
        EXPECT_EQ(http.Get(peer.Url("/cgi/xml?x=1#top")), "ok");
        EXPECT_NE(peer.Head(1).find("GET /cgi/xml?x=1 HTTP/1.1\r\n"), std::string::npos);
        EXPECT_NE(peer.Head(1).find("\r\nAccept-Encoding: identity\r\n"), std::string::npos);
    }
}

TEST(HTTP, HostLineNamesPortsOtherThan80) {
    TIdHTTP http;
    EXPECT_THROW(http.Get("http://127.0.0.1:80/xml"), EIdSocketError);  // nothing listens there
    EXPECT_EQ(http.Request().Host, "127.0.0.1");
    EXPECT_THROW(http.Get("http://127.0.0.1:8080/xml"), EIdSocketError);
    EXPECT_EQ(http.Request().Host, "127.0.0.1:8080");
    EXPECT_EQ(http.Port, 8080);
}

TEST(HTTP, ReplyShapes) {
    const std::string chunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
    // reply | peer keeps the connection open | MaxBodySize (0: default) | outcome
    struct Case { std::string reply; bool keepOpen; int64_t cap; std::string outcome; } cases[] = {
        {kOk + "Content-Length: 5\r\n\r\nhelloEXTRA", true, 0, "body:hello"},
        {kOk + "content-length: 3\r\n\r\nabcdef", true, 0, "body:abc"},
        {kOk + "Content-Length: 0\r\n\r\n", true, 0, "body:"},
        {"HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\nabc", false, 0, "body:abc"},
        {kOk + "Content-Length: +2\r\n\r\nokEXTRA", false, 0, "body:okEXTRA"},  // no length: up to the close
        {chunked + "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", true, 0, "body:abcde"},
        {chunked + "3 ; ext=1\r\nabc\r\n0\r\n\r\n", true, 0, "body:abc"},
        {chunked + "3;ext=1\r\nabc\r\n0\r\n\r\n", true, 0, "body:abc"},
        {chunked + "A\r\n0123456789\r\n0\r\n\r\n", true, 0, "body:0123456789"},
        {kOk + "Transfer-Encoding: Chunked\r\nContent-Length: 99\r\n\r\n1\r\nx\r\n0\r\n\r\n", true, 0, "body:x"},
        {chunked + "zz\r\nabc\r\n0\r\n\r\n", true, 0, "Invalid chunk size."},
        {chunked + "\r\nabc\r\n0\r\n\r\n", true, 0, "Invalid chunk size."},
        {chunked + " 3\r\nabc\r\n0\r\n\r\n", true, 0, "Invalid chunk size."},  // a blank before the size
        {chunked + "3\t\r\nabc\r\n0\r\n\r\n", true, 0, "body:abc"},
        {chunked + "100000000\r\n", true, 0, "Invalid chunk size."},
        {"HTTP/1.1 204 No Content\r\n\r\n", true, 0, "body:"},
        {"HTTP/1.1 100 Continue\r\n\r\n" + kOk + "Content-Length: 2\r\n\r\nhi", true, 0, "body:hi"},
        {Repeat("HTTP/1.1 100 Continue\r\n\r\n", 8) + kOk + "Content-Length: 1\r\n\r\n!", true, 0, "body:!"},
        {Repeat("HTTP/1.1 100 Continue\r\n\r\n", 9) + kOk + "Content-Length: 1\r\n\r\n!", true, 0, "Too many interim responses."},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope", true, 0, "http 404 HTTP/1.1 404 Not Found|nope"},
        {"HTTP/1.1 500 Oops\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nno\r\n0\r\n\r\n", true, 0, "http 500 HTTP/1.1 500 Oops|no"},
        {"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n", true, 0, "http 302 HTTP/1.1 302 Found|"},
        {"HTTP/1.1 304 Not Modified\r\n\r\n", false, 0, "http 304 HTTP/1.1 304 Not Modified|"},
        {kOk + "Location: /x\r\nContent-Length: 2\r\n\r\nok", true, 0, "http 200 HTTP/1.1 200 OK|ok"},
        {"HTTP/1.1 abc\r\n\r\n", false, 0, "http -1 HTTP/1.1 abc|"},
        {"HTTP/1.1\r\n\r\n", false, 0, "http -1 HTTP/1.1|"},
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 3\r\n\r\nno!", true, 0,
         "http 401 HTTP/1.1 401 Unauthorized|no!"},
        {"HTTP/1.1 407 Proxy\r\nContent-Length: 0\r\n\r\n", true, 0, "http 407 HTTP/1.1 407 Proxy|"},
        {"", false, 0, "Connection Closed Gracefully."},
        {"HTTP/1.1 200 OK\r\n", false, 0, "Connection Closed Gracefully."},
        {kOk + "Content-Type: text/xml\r\nX: 1\r\n", false, 0, "body:"},  // closed inside the head
        {kOk + "Content-Length: 101\r\n\r\n", true, 100, "Response too large."},
        {kOk + "Content-Length: 18446744073709551621\r\n\r\n", true, 100, "Response too large."},  // 2^64+5
        {kOk + "Content-Length: 100\r\n\r\n" + std::string(100, 'b'), true, 100, "body:" + std::string(100, 'b')},
        {"HTTP/1.0 200 OK\r\n\r\n" + std::string(101, 'c'), false, 100, "Response too large."},
        {"HTTP/1.0 200 OK\r\n\r\n" + std::string(100, 'c'), false, 100, "body:" + std::string(100, 'c')},
        {chunked + "32\r\n" + std::string(50, 'd') + "\r\n33\r\n", true, 100, "Response too large."},
        {chunked + "4f\r\n" + std::string(79, 'd') + "\r\n15\r\n" + std::string(21, 'd') + "\r\n0\r\n\r\n", true, 100,
         "body:" + std::string(100, 'd')},
        {chunked + "ffffffff\r\n", true, 100, "Response too large."},
        {"HTTP/1.1 404 Not Found\r\n\r\n" + std::string(101, 'e'), false, 100, "Response too large."},
        {kOk + Repeat("X-A: 1\r\n", 255) + "Content-Length: 1\r\n\r\n!", true, 0, "Too many header lines."},
        {kOk + Repeat("X-A: 1\r\n", 254) + "Content-Length: 1\r\n\r\n!", true, 0, "body:!"},
        {"HTTP/1.1 200 " + std::string(16400, 'x') + "\r\n\r\n", false, 0, "Max line length exceeded."},
        // Faults of the framing: a body cut short by the close, and lengths that disagree.
        {kOk + "Content-Length: 10\r\n\r\nabcd", false, 0, kCutShort},
        {kOk + "Content-Length: 3\r\n\r\n", false, 0, kCutShort},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnope", false, 0, kCutShort},
        {kOk + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nokX", true, 0, kConflict},
        {kOk + "Transfer-Encoding: chunked\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n0\r\n\r\n", true, 0, kConflict},
        {kOk + "Content-Length: 2\r\ncontent-length: 2\r\nContent-Length:  002 \r\n\r\nokX", true, 0, "body:ok"},
    };
    for (const auto& c : cases) {
        THttpPeer peer(c.reply, c.keepOpen);
        TIdHTTP http;
        http.SetReadTimeout(2000);
        if (c.cap) http.MaxBodySize = c.cap;
        EXPECT_EQ(Outcome(http, peer.Url()), c.outcome) << c.reply.substr(0, 120);
        EXPECT_EQ(peer.Accepted(), 1) << c.reply.substr(0, 120);  // never a second request
    }
}

TEST(HTTP, KeepAliveAndConnectionClose) {
    {
        THttpPeer peer(kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", true);
        TIdHTTP http;
        EXPECT_EQ(http.Get(peer.Url()), "ok");
        EXPECT_TRUE(http.IsConnected());
        EXPECT_TRUE(http.IOHandler()->InputBufferEmpty());  // nothing of the reply is left for the next
        EXPECT_EQ(http.Response().ResponseVersion, "1.1");
    }
    {
        THttpPeer peer(kOk + "Connection: close\r\nContent-Length: 2\r\n\r\nok", true);
        TIdHTTP http;
        EXPECT_EQ(http.Get(peer.Url()), "ok");
        EXPECT_FALSE(http.IsConnected());
    }
    {
        // A failing reply is read to its end and the connection is closed as the reply says.
        THttpPeer peer("HTTP/1.0 404 No\r\nConnection: close\r\nContent-Length: 1\r\n\r\n!", true);
        TIdHTTP http;
        EXPECT_THROW(http.Get(peer.Url()), EIdHTTPProtocolException);
        EXPECT_FALSE(http.IsConnected());
        EXPECT_EQ(http.Response().ResponseVersion, "1.0");
    }
    // protocol | the reply's connection line | connection kept
    struct Case { TIdHTTPProtocolVersion version; std::string line; bool kept; } cases[] = {
        {pv1_1, "Proxy-Connection: close\r\n", false},
        {pv1_0, "Connection: Keep-Alive\r\n", true},
        {pv1_0, "", false},
    };
    for (const auto& c : cases) {
        THttpPeer peer(kOk + c.line + "Content-Length: 2\r\n\r\nok", true);
        TIdHTTP http;
        http.ProtocolVersion = c.version;
        EXPECT_EQ(http.Get(peer.Url()), "ok");
        EXPECT_EQ(http.IsConnected(), c.kept) << c.line;
        EXPECT_TRUE(peer.Head().starts_with(c.version == pv1_0 ? "GET /xml HTTP/1.0\r\n" : "GET /xml HTTP/1.1\r\n"));
    }
}

TEST(HTTP, UnauthorizedWithCredentialsStillFails) {
    THttpPeer peer("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest x\r\nWWW-Authenticate: basic realm=r\r\n"
                   "Content-Length: 4\r\n\r\npage");
    // user info | the authentication kept ("": none, for want of a password)
    size_t request = 0;
    for (auto [userInfo, kept] : {std::pair{"user:pw@", "Basic dXNlcjpwdw=="}, {"user@", ""}}) {
        TIdHTTP http;
        std::string url = "http://" + std::string(userInfo) + "127.0.0.1:" + std::to_string(peer.Port()) + "/xml";
        EXPECT_EQ(Outcome(http, url), "http 401 HTTP/1.1 401 Unauthorized|page");
        EXPECT_EQ(peer.Head(request++).find("Authorization"), std::string::npos);
        EXPECT_EQ(http.Request().Authentication ? http.Request().Authentication->Authentication() : "", kept) << userInfo;
        EXPECT_EQ(http.AuthRetries, 1);
    }
    EXPECT_THROW(RegisterAuthenticationMethod("BASIC", "TOther", nullptr), EIdAlreadyRegisteredAuthenticationMethod);
    EXPECT_EQ(FindAuthenticationMethod("Negotiate"), nullptr);
}

TEST(HTTP, RefusedUrlsSendNothing) {
    THttpPeer peer(kOk + "Content-Length: 0\r\n\r\n");
    const std::string base = "http://127.0.0.1:" + std::to_string(peer.Port());
    struct Case { std::string url; std::string outcome; } cases[] = {
        {base + "/x\r\nEvil: 1", "Invalid URL."},
        {base + "/x?a=\n", "Invalid URL."},
        {base + "/\x7f", "Invalid URL."},
        {base + "/a\tb/x", "Invalid URL."},
        {base + "\t/x", "Invalid URL."},
        {"http://127.0.0.1\r\n:" + std::to_string(peer.Port()) + "/x", "Invalid URL."},
        // A blank would split the request line: "GET /a HTTP/1.0 HTTP/1.1".
        {base + "/a HTTP/1.0", "Invalid URL."},
        {base + "/x?a=b c", "Invalid URL."},
        {"http://127.0.0.1 :" + std::to_string(peer.Port()) + "/x", "Invalid URL."},
        {"https://127.0.0.1:" + std::to_string(peer.Port()) + "/x", "IOHandler value is not valid"},
        {"ftp://127.0.0.1/x", ""},  // EIdUnknownProtocol has an empty message
    };
    for (const auto& c : cases) {
        TIdHTTP http;
        EXPECT_EQ(Outcome(http, c.url), c.outcome) << c.url;
    }
    TIdHTTP http;
    EXPECT_THROW(http.Get("http://127.0.0.1:8o/x"), EConvertError);
    EXPECT_EQ(peer.Accepted(), 0);
}

TEST(HTTP, ExchangeTimeoutBoundsTheWholeGet) {
    {
        // One byte every 50 ms never trips a 1 s read time-out, but the exchange ends at 400 ms.
        TLoopbackPeer drip([](TPeerConnection& c) {
            c.Receive(1);
            for (char ch : kOk + "Content-Length: 100\r\n\r\n" + std::string(100, 'z')) {
                c.Send(std::string(1, ch));
                if (!c.Pause(50)) return;
            }
        });
        TIdHTTP http;
        http.SetReadTimeout(1000);
        http.ExchangeTimeout = 400;
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(Outcome(http, "http://127.0.0.1:" + std::to_string(drip.Port()) + "/xml"), "Read Timeout");
        EXPECT_GE(ElapsedMs(t0), 390);
        EXPECT_LT(ElapsedMs(t0), 900);
        EXPECT_FALSE(http.Socket()->BindingAllocated());  // a half-read reply's connection is closed
    }
    {
        // A request the peer never reads cannot hold the send either.
        TLoopbackPeer deaf([](TPeerConnection& c) { c.Pause(60000); });
        TIdHTTP http;
        http.ExchangeTimeout = 300;
        http.Request().CustomHeaders.Add("X-Big: " + std::string(16 << 20, 'a'));
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(Outcome(http, "http://127.0.0.1:" + std::to_string(deaf.Port()) + "/xml"), "Read Timeout");
        EXPECT_LT(ElapsedMs(t0), 900);
    }
    {
        THttpPeer peer(kOk + "Content-Length: 2\r\n\r\nok", true);
        TIdHTTP http;
        http.ExchangeTimeout = 2000;  // a Get that finishes in time is not touched by it
        EXPECT_EQ(http.Get(peer.Url()), "ok");
        EXPECT_EQ(http.IOHandler()->Deadline, 0);
    }
}

TEST(HTTP, ExchangeTimeoutBoundsTheConnect) {
    TLoopbackPeer queueOnly([](TPeerConnection&) {}, -1);
    std::vector<std::unique_ptr<TIdTCPClient>> fillers;
    // Fill the accept queue (backlog 0 takes one connection), then the next connect hangs.
    for (int i = 0; i < 4; ++i) {
        auto c = std::make_unique<TIdTCPClient>();
        c->Host = "127.0.0.1";
        c->Port = queueOnly.Port();
        c->SetConnectTimeout(200);
        try {
            c->Connect();
        } catch (const EIdConnectTimeout&) {
            break;
        }
        fillers.push_back(std::move(c));
    }
    TIdHTTP http;
    http.ExchangeTimeout = 300;  // ConnectTimeout stays 0: a plain connect would wait for minutes
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Outcome(http, "http://127.0.0.1:" + std::to_string(queueOnly.Port()) + "/xml"), "Connect timed out.");
    EXPECT_GE(ElapsedMs(t0), 290);
    EXPECT_LT(ElapsedMs(t0), 1000);
}
