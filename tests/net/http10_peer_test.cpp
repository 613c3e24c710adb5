// The HTTP client against Python's HTTP/1.0 server on 127.0.0.1: bodies without a length, ended by
// the connection's close. One table for Linux, where the test starts the server, and for Windows,
// where a wrapper runs it around the program (see Http10Peer.h).
#include <gtest/gtest.h>

#include <optional>

#include "Http10Peer.h"
#include "NetTestUtil.h"
#include "net/IdHTTP.h"

using namespace zel;
using namespace zeltest;

TEST(HTTPPeers, PythonHttp10) {
    THttp10Peer peer;
    // One GET per row, in order, all from one client: every reply ends its connection, so each GET
    // after the first connects again, also after a failed one. No content: no file, a 404.
    struct Case { const char* name; std::optional<std::string> served; } cases[] = {
        {"xml", DeviceReply()},
        {"missing", std::nullopt},
        {"small.xml", "<xml><data><t0> 21.50</t0></data></xml>\r\n"},
        {"empty", ""},
        {"again.xml", DeviceReply()},
    };
    TIdHTTP http;
    http.SetReadTimeout(5000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.served) peer.Serve(c.name, *c.served);
        try {
            const std::string body = http.Get(peer.Url(std::string("/") + c.name));
            EXPECT_TRUE(c.served.has_value()) << "answered: " << body;
            EXPECT_TRUE(c.served && body == *c.served) << body.size();  // compared quietly: 70 KB
            EXPECT_FALSE(http.Response().HasContentLength());
        } catch (const EIdHTTPProtocolException& e) {
            EXPECT_FALSE(c.served.has_value()) << e.Message();
            EXPECT_EQ(e.ErrorCode(), 404);
            EXPECT_EQ(e.Message(), "HTTP/1.0 404 Not Found");
            EXPECT_NE(e.ErrorMessage().find("404"), std::string::npos) << e.ErrorMessage();  // the server's page
        }
        EXPECT_EQ(http.Response().ResponseVersion, "1.0");
        EXPECT_FALSE(http.IsConnected());
    }
}
