// The URL record and the header list.
#include <gtest/gtest.h>

#include "net/IdHeaderList.h"
#include "net/IdURI.h"

using namespace zel;

TEST(URI, Parts) {
    // url | scheme | user | password | host | port | path | document | params | fragment | IPv6
    struct Case { const char* url; const char* parts[9]; bool ipv6; } cases[] = {
        {"http://192.168.20.1/xml", {"http", "", "", "192.168.20.1", "", "/", "xml", "", ""}, false},
        {"http://10.0.0.5:8080/cgi/xml?x=1#top", {"http", "", "", "10.0.0.5", "8080", "/cgi/", "xml", "?x=1", "top"}, false},
        {"http://[fe80::1]:81/a", {"http", "", "", "fe80::1", "81", "/", "a", "", ""}, true},
        {"http://[fe80::1]/a", {"http", "", "", "fe80::1", "", "/", "a", "", ""}, true},
        {"http://:secret@host/x", {"http", "", "", "host", "", "/", "x", "", ""}, false},
        {"http://user:pw:x@host:1/", {"http", "user", "pw:x", "host", "1", "/", "", "", ""}, false},
        {"http://user@host", {"http", "user", "", "host", "", "/", "", "", ""}, false},
        {"http://host", {"http", "", "", "host", "", "/", "", "", ""}, false},
        {"http://host/a/b=c", {"http", "", "", "host", "", "/a/", "b", "=c", ""}, false},
        {"http://host/a?b/c=d", {"http", "", "", "host", "", "/", "a", "?b/c=d", ""}, false},
        {"HTTP://host\\dir\\doc", {"HTTP", "", "", "host", "", "/dir/", "doc", "", ""}, false},
        {"http://host/doc#frag?x#y", {"http", "", "", "host", "", "/", "doc", "?x#y", "frag"}, false},
        {"http://host/p/?q#f", {"http", "", "", "host", "", "/p/", "", "?q", "f"}, false},
        {"/rel/doc?x", {"", "", "", "", "", "/rel/", "doc", "?x", ""}, false},
        {"doc", {"", "", "", "", "", "", "doc", "", ""}, false},
        {"", {"", "", "", "", "", "", "", "", ""}, false},
    };
    for (const auto& c : cases) {
        TIdURI u(c.url);
        const std::string got[9] = {u.Scheme, u.Username, u.Password, u.Host, u.Port, u.Path, u.Document, u.Params, u.Fragment};
        for (int i = 0; i < 9; ++i) EXPECT_EQ(got[i], c.parts[i]) << c.url << " part " << i;
        EXPECT_EQ(u.IPVersion == Id_IPv6, c.ipv6) << c.url;
    }
    TIdURI reused("http://[::1]:9/a?b#c");
    reused.SetURI("x");  // every part is replaced
    EXPECT_EQ(reused.Host + reused.Port + reused.Params + reused.Fragment + reused.Path, "");
    EXPECT_EQ(reused.IPVersion, Id_IPv4);
}

TEST(HeaderList, ValuesUnfoldAndNamesAsWritten) {
    TIdHeaderList h;
    h.SetText("Content-Type: text/xml\r\nX-Long: a \r\n  b\r\n\tc\r\nContent-Length : 5\r\nEmpty:\r\nX-Long: second");
    EXPECT_EQ(h.Values("content-type"), "text/xml");
    EXPECT_EQ(h.Values("X-Long"), "a b c");
    EXPECT_EQ(h.Values("Content-Length"), "");  // the name is "Content-Length " as written
    EXPECT_EQ(h.Values("Content-Length "), "5");
    EXPECT_EQ(h.Values("Empty"), "");
    EXPECT_EQ(h.Values("Missing"), "");
    TStringList all;
    h.Extract("x-long", &all);
    EXPECT_EQ(all.Lines(), (std::vector<std::string>{"a b c", "second"}));
    h.Extract("x-long", nullptr);  // no target: nothing
}

TEST(HeaderList, SetValues) {
    TIdHeaderList h;
    h.SetText("Accept: x\r\nhost: old\r\n more\r\nUser-Agent: u");
    h.SetValues("Host", "h");
    EXPECT_EQ(h.Text(), "Accept: x\r\nHost: h\r\nUser-Agent: u\r\n");  // in place, continuation gone
    h.SetValues("New", "n");
    EXPECT_EQ(h.Strings(3), "New: n");
    h.SetValues("HOST", "");
    h.SetValues("Absent", "");
    EXPECT_EQ(h.Text(), "Accept: x\r\nUser-Agent: u\r\nNew: n\r\n");
    h.SetText("A: 1\r\n 2\r\nZ: 3");
    h.SetValues("a", "");  // its continuation goes with it
    EXPECT_EQ(h.Text(), "Z: 3\r\n");

    // A value longer than the fold length is broken at blanks, in place.
    TIdHeaderList folded(20);
    folded.SetText("A: 1\r\nZ: 2");
    folded.SetValues("A", "one two three four five");
    EXPECT_EQ(folded.Text(), "A: one two three\r\n four five\r\nZ: 2\r\n");
    EXPECT_EQ(folded.Values("A"), "one two three four five");
    folded.SetValues("A", "1 2 3 4 5 6 7 8 9");  // exactly the fold length: one line
    EXPECT_EQ(folded.Text(), "A: 1 2 3 4 5 6 7 8 9\r\nZ: 2\r\n");
    folded.SetValues("B", std::string(30, 'b'));  // nowhere to break: kept whole
    EXPECT_EQ(folded.Strings(2), "B: " + std::string(30, 'b'));
}
