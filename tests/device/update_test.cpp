// The device at work against loopback peers: the update cycle, sensor detection, the connection
// test, the reader thread and the wait that keeps messages flowing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <functional>
#include <thread>

#include "FakeHost.h"
#include "Held.h"
#include "LoopbackPeer.h"
#include "device/UThread.h"
#include "device/UZELUtils.h"
#include "host/Core.Selector_Types.h"
#include "net/IdHTTP.h"
#include "platform/EventLoop.h"
#include "platform/Exceptions.h"

using namespace zel;
using namespace zel::test;
using zeltest::TLoopbackPeer;
using zeltest::TPeerConnection;

namespace {

constexpr uint16_t kId = 1;

std::string HttpReply(const std::string& body, const std::string& status = "200 OK") {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A box on 127.0.0.1 that answers every request with `reply` and closes.
TLoopbackPeer::TScript Answer(std::string reply) {
    return [reply = std::move(reply)](TPeerConnection& c) {
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos) {
            std::string b = c.Receive(1);
            if (b.empty()) return;
            head += b;
        }
        c.Send(reply);
    };
}

// A reply with the given readings t0..t7 ("" leaves the element out) and sensor codes s0..s7.
std::string Readings(const std::vector<std::string>& t, const std::vector<std::string>& codes = {}) {
    std::string xml = "<?xml version=\"1.0\"?>\r\n<xml><data>\r\n<devicename>ALL3000</devicename>\r\n";
    for (size_t i = 0; i < t.size(); ++i)
        if (!t[i].empty()) xml += "<t" + std::to_string(i) + ">" + t[i] + "</t" + std::to_string(i) + ">";
    for (size_t i = 0; i < codes.size(); ++i)
        xml += "<s" + std::to_string(i) + ">" + codes[i] + "</s" + std::to_string(i) + ">";
    return xml + "\r\n</data></xml>\r\n";
}

// A host whose instance 1 points at 127.0.0.1:port with the given bindings ("name:type" per input,
// "" unbound).
void Configure(FakeHost& host, int port, const std::vector<std::string>& bindings, int32_t kernelState = 10014) {
    host.settings.strings[FakeSettings::Key(kId, "Settings/IPAddress")] = "127.0.0.1:" + std::to_string(port);
    host.BindInputs(kId, bindings);
    host.kernel.state = kernelState;
}

std::string Joined(const std::vector<std::string>& v) {
    std::string r;
    for (const auto& s : v) r += (r.empty() ? "" : " | ") + s;
    return r;
}

// Records message boxes instead of showing them, for one test.
struct TBoxes {
    std::vector<std::string> texts;
    TBoxes() {
        SetMessageBoxHandler([this](const std::string& t) { texts.push_back(t); });
    }
    ~TBoxes() { SetMessageBoxHandler({}); }
};

const std::vector<std::string> kBindings = {"T0:1", "Sw:4", "", "N3:0", "X4:7", "P5:2", "", "C7:6"};

}  // namespace

TEST(Update, WritesEachBoundReading) {
    // the peer's reply | the variable writes | the debug messages after "Updating..."
    struct Case { std::string reply; std::string writes; std::string debug; } cases[] = {
        {HttpReply(Readings({"21.5", "0", "9", "1", "3,25", "1013.2", "7", "42"})),
         "T0=21.5 | Sw=false | X4=3.25 | P5=1013.2 | C7=42", ""},
        {HttpReply(Readings({"21,5", "0.0", "", "x", "-1e2", "0,01", "", "-0"})),
         "T0=21.5 | Sw=false | X4=-100 | P5=0.01 | C7=-0", "Error Updating..."},  // N3: type 0, unreadable
        {HttpReply(Readings({"1,234.5", "-1", "", "", "", "1e39", "", " 5 "})), "Sw=true | C7=5",
         "Error Updating... | Error Updating... | Error Updating... | Error Updating..."},  // text comes trimmed
        {HttpReply(Readings({"", "0,01"})), "Sw=true",
         "Error Updating... | Error Updating... | Error Updating... | Error Updating... | Error Updating..."},
        {HttpReply("<xml><other/></xml>"), "",
         "Error Updating... | Error Updating... | Error Updating... | Error Updating... | Error Updating... | Error Updating..."},
        {HttpReply(" \r\n\t "), "", ">Error reading Values! |   cause: The reply is empty"},
        {HttpReply(""), "", ">Error reading Values! |   cause: The reply is empty"},
        {HttpReply("<xml><data><t0>1</t0"), "", ">Error reading Values! |   cause: Unterminated tag on line 1"},  // cannot be loaded
        // Replies cut short or dirty: nothing of them is written.
        {HttpReply(Readings({std::string("21\0.5", 4), "1"})), "", ">Error reading Values! |   cause: The reply holds a NUL byte"},  // a NUL byte
        {HttpReply(Readings({"1"}) + std::string(1, '\0')), "", ">Error reading Values! |   cause: The reply holds a NUL byte"},  // one past the document
        {"HTTP/1.1 200 OK\r\n\r\n" + Readings({"1013.25"}).substr(0, 70), "", ">Error reading Values! |   cause: The reply ends inside an element"},  // close-delimited, cut inside t0
        {HttpReply(Readings({"1013.25"})).substr(0, 140), "", ">Error reading Values! |   cause: Connection closed before the whole body arrived."},  // shorter than its length
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n<a/>\r\n", "", ">Error reading Values! |   cause: Conflicting Content-Length values."},
        {HttpReply(Readings({"2"}), "404 Not Found"), "", ">Error reading Values! |   cause: HTTP/1.1 404 Not Found"},
        {"", "", ">Error reading Values! |   cause: Connection Closed Gracefully."},  // closed without an answer
        // One line of 6000 bytes: loaded through the whole-stream window.
        {HttpReply("<xml><data><pad>" + std::string(6000, 'p') + "</pad><t0>4.5</t0></data></xml>"), "T0=4.5",
         "Error Updating... | Error Updating... | Error Updating... | Error Updating... | Error Updating..."},
    };
    for (const auto& c : cases) {
        TLoopbackPeer box(Answer(c.reply));
        FakeHost host;
        Configure(host, box.Port(), kBindings);
        Held inst(host, kId);
        IZELALL3000* face = ConfigOf(inst.Module());
        const TDateTime before = inst->LastUpdate();
        EXPECT_EQ(face->UpdateNow(), S_OK);
        face->Release();
        EXPECT_EQ(Joined(host.variables.writes), c.writes) << c.reply.substr(0, 200);
        ASSERT_FALSE(host.debug.texts.empty());
        EXPECT_EQ(host.debug.texts[0], "Updating...");
        host.debug.texts.erase(host.debug.texts.begin());
        EXPECT_EQ(Joined(host.debug.texts), c.debug) << c.reply.substr(0, 200);
        EXPECT_GT(inst->LastUpdate(), before);  // after a failure too
        EXPECT_EQ(box.Accepted(), 1);
    }
}

TEST(Update, UnreachableBoxAndTheRequestSent) {
    FakeHost host;
    Configure(host, zeltest::UnusedPort(), kBindings);
    Held inst(host, kId);
    IZELALL3000* face = ConfigOf(inst.Module());
    EXPECT_EQ(face->UpdateNow(), S_OK);
    face->Release();
    EXPECT_EQ(Joined(host.debug.texts), "Updating... | >Error reading Values! |   cause: Socket Error # 10061 Connection refused.");
    EXPECT_TRUE(host.variables.writes.empty());
}

TEST(Update, ReadingsIgnoreTheProcessLocale) {
    // A locale whose decimal separator is the comma must change nothing.
    // The C runtimes name it differently.
#ifdef _WIN32
    const char* const comma = "German_Germany.1252";
#else
    const char* const comma = "de_DE.UTF-8";  // scripts/setup-deps.sh generates it
#endif
    ASSERT_NE(std::setlocale(LC_ALL, comma), nullptr) << comma;
    const double half = 0.5;
    EXPECT_EQ(std::to_string(half).find(','), 1u);  // the locale really is in force
    struct Case { std::string text; double value; } good[] = {
        {"21.5", 21.5}, {"21,5", 21.5}, {"-3", -3}, {"+4.25", 4.25}, {".5", 0.5}, {"5.", 5}, {"1e3", 1000},
        {"2,5E-1", 0.25}, {"-20480.00", -20480}, {"0079", 79},
        {"3.4028234663852886e38", 3.4028234663852886e38},  // the largest float still fits
        {"1e-400", 0}, {"-0,00012e-330", -0.0}, {"1e-99999999999999999999", 0},  // below any float: 0
        {"0." + std::string(400, '0') + "1e5", 0},  // the zeros after the point place the first digit
    };
    for (const auto& c : good) {
        EXPECT_EQ(ParseReading(c.text), c.value) << c.text;
        EXPECT_EQ(std::signbit(ParseReading(c.text)), std::signbit(c.value)) << c.text;
    }
    for (const char* bad : {"", " ", "1,2.3", "1.2.3", "abc", "1e", "e5", "-", ".", "1 ", " 1", "0x10", "inf", "nan",
                            "1e39", "-1e39", "3.4e38x", "1,5,", "1e400", "0.001e99999999999999999999", "0e"})
        EXPECT_THROW(ParseReading(bad), EConvertError) << '"' << bad << '"';
    std::setlocale(LC_ALL, "C");
}

TEST(Update, FailureTextIsOneLineAndNeverEmpty) {
    // what was thrown | what people are told
    struct Case { std::function<void()> raise; const char* text; } cases[] = {
        {[] { throw Exception("a\r\nb\nc\rd"); }, "a b c d"},
        {[] { throw Exception(""); }, "unknown failure"},
        {[] { throw 42; }, "unknown failure"},  // no std::exception: nothing to tell
    };
    for (const auto& c : cases) {
        try {
            c.raise();
        } catch (...) {
            EXPECT_EQ(CurrentFailureText(), c.text);
        }
    }
}

TEST(Detect, CodesToTypes) {
    const std::vector<std::string> codes = {"1", "9", "32", "40", "65", "97", "100", "133"};
    const uint8_t types[] = {1, 1, 5, 2, 3, 4, 4, 6};
    const std::vector<std::string> more = {"0", "10", "98", "99", "102", "134", "-1", "101"};
    const uint8_t moreTypes[] = {0, 0, 0, 0, 0, 0, 0, 4};
    for (int round = 0; round < 2; ++round) {
        TLoopbackPeer box(Answer(HttpReply(Readings({}, round == 0 ? codes : more))));
        FakeHost host;
        Configure(host, box.Port(), {"A:0", "", "", "", "", "", "", "H:0"});
        Held inst(host, kId);
        IZELALL3000* face = ConfigOf(inst.Module());
        TBoxes boxes;
        EXPECT_EQ(face->DetectSensors(), S_OK);
        TZELALL3000Settings c;
        face->GetConfiguration(c);
        face->Release();
        for (int i = 0; i < 8; ++i) EXPECT_EQ(c.Devices[i].DeviceType, (round == 0 ? types : moreTypes)[i]) << i;
        EXPECT_EQ(c.Devices[0].VarName.Str(), "A");  // names stay
        EXPECT_TRUE(boxes.texts.empty());
        EXPECT_TRUE(host.settings.writes.empty());  // nothing is stored by detection
    }
}

TEST(Detect, FailuresShowTheBoxAndKeepTypes) {
    const std::string text = "Error Reading Configuration! Please check IP-Adress";
    // reply | result | types afterwards (from 1,2,3,4,5,6,1,4) | the cause sent after the box
    struct Case { std::string reply; HRESULT result; std::vector<uint8_t> types; std::string cause; } cases[] = {
        // Replies without the box's data or without a single code: no box answered.
        {HttpReply(""), E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "The reply has no data"},
        {HttpReply("It works!"), E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "The reply has no data"},
        {HttpReply("<xml><data><t0>1</t0><s0></s0></data></xml>"), E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "The reply has no sensor code"},
        {HttpReply("<xml><other><s0>40</s0></other></xml>"), E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "The reply has no data"},
        {"HTTP/1.1 200 OK\r\n\r\n<xml><data><s0>40</s0><s1>6", E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "The reply ends inside an element"},  // cut: 6 of 65
        {HttpReply("<xml><data><s0>40</s0></data></xml>"), S_OK, {2, 0, 0, 0, 0, 0, 0, 0}, ""},  // one code: the rest unknown
        {HttpReply(Readings({}, {"40", "", "abc", "65"})), E_FAIL, {2, 0, 3, 4, 5, 6, 1, 4}, "'abc' is not a valid integer value"},
        {HttpReply("<xml><data><s0>40</s0><s1"), E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "Unterminated tag on line 1"},
        {HttpReply("nope", "500 Oops"), E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "HTTP/1.1 500 Oops"},
        {"", E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "Connection Closed Gracefully."},
        {HttpReply(Readings({std::string(1 << 20, '1')}, std::vector<std::string>(8, "40"))), E_FAIL, {1, 2, 3, 4, 5, 6, 1, 4}, "Response too large."},  // over the cap
    };
    for (const auto& c : cases) {
        TLoopbackPeer box(Answer(c.reply));
        FakeHost host;
        Configure(host, box.Port(), {"a:1", "b:2", "c:3", "d:4", "e:5", "f:6", "g:1", "h:4"});
        Held inst(host, kId);
        IZELALL3000* face = ConfigOf(inst.Module());
        TBoxes boxes;
        size_t debugAtBox = 0;
        SetMessageBoxHandler([&](const std::string& t) {
            boxes.texts.push_back(t);
            debugAtBox = host.debug.texts.size();
        });
        EXPECT_EQ(face->DetectSensors(), c.result) << c.reply.substr(0, 200);
        EXPECT_EQ(debugAtBox, 0u) << "the cause follows the box";
        TZELALL3000Settings conf;
        face->GetConfiguration(conf);
        face->Release();
        for (int i = 0; i < 8; ++i) EXPECT_EQ(conf.Devices[i].DeviceType, c.types[static_cast<size_t>(i)]) << c.reply.substr(0, 200) << " " << i;
        EXPECT_EQ(boxes.texts, c.result == S_OK ? std::vector<std::string>{} : std::vector<std::string>{text});
        EXPECT_EQ(Joined(host.debug.texts), c.cause.empty() ? "" : "  cause: " + c.cause) << c.reply.substr(0, 200);
    }
}

TEST(Detect, TheClientLivesUntilTheBoxIsClosed) {
    // A failing status on a connection the box keeps open: the client still holds it while the
    // user reads the box.
    std::atomic<bool> closed{false};
    TLoopbackPeer box([&closed](TPeerConnection& c) {
        Answer(HttpReply("", "404 Not Found"))(c);
        c.Silent();
        closed = true;
    });
    FakeHost host;
    Configure(host, box.Port(), {});
    Held inst(host, kId);
    bool openDuringBox = false;
    SetMessageBoxHandler([&](const std::string&) {
        // A close sent before the box would reach the peer meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        openDuringBox = !closed;
    });
    IZELALL3000* face = ConfigOf(inst.Module());
    EXPECT_EQ(face->DetectSensors(), E_FAIL);
    face->Release();
    SetMessageBoxHandler({});
    EXPECT_TRUE(openDuringBox);
}

TEST(ConnectionTest, StatusLogAndResult) {
    // reply | kernel state | result | statuses | debug | log lines 10025 | the host refuses status and debug
    struct Case { std::string reply; int32_t state; HRESULT result; std::vector<int32_t> statuses; std::string debug; int logs; bool bare = false; } cases[] = {
        {HttpReply("<xml><devicename>ALL3000</devicename></xml>"), 10013, S_OK, {102}, "Successfully connected!", 0},
        {HttpReply("Welcome to the ALL3000 web page"), 10013, S_OK, {102}, "Successfully connected!", 0},
        {HttpReply("<xml><devicename>all3000</devicename></xml>"), 10013, S_OK, {201}, "No response from Device! |   cause: The reply does not name an ALL3000", 0},
        {HttpReply("ALL3000", "404 Not Found"), 10013, E_FAIL, {201}, "No response from Device! |   cause: HTTP/1.1 404 Not Found", 1},
        {"", 10013, E_FAIL, {201}, "No response from Device! |   cause: Connection Closed Gracefully.", 1},
        {HttpReply("ALL3000"), 10014, S_OK, {}, "", 0},
        {HttpReply("ALL3000" + std::string(1 << 20, 'x')), 10013, E_FAIL, {201}, "No response from Device! |   cause: Response too large.", 1},  // over the cap
        {"", 10013, E_FAIL, {}, "", 1, true},  // no status or debug service: only the log line
    };
    for (const auto& c : cases) {
        TLoopbackPeer box(Answer(c.reply));
        FakeHost host;
        Configure(host, box.Port(), {}, c.state);
        if (c.bare) {
            host.kernel.refused.insert(GUIDToString(IID_IZELInstanceControl));
            host.kernel.refused.insert(GUIDToString(IID_IZELDebugServer));
        }
        Held inst(host, kId);  // the constructor applies the stored configuration: one test
        const std::string address = "127.0.0.1:" + std::to_string(box.Port());
        EXPECT_EQ(host.control.statuses, c.statuses) << c.reply.substr(0, 200);
        std::string expectedDebug = c.state == 10013 && !c.bare ? "Testing connection on " + address + " | " + c.debug : "";
        EXPECT_EQ(Joined(host.debug.texts), expectedDebug) << c.reply.substr(0, 200);
        int logs = 0;
        for (const auto& l : host.kernel.log)
            if (l.code == 10025) {
                ++logs;
                EXPECT_EQ(l.text, "Could not connect to Device!");
                EXPECT_EQ(l.sender, "ALL3000 #1");
            }
        EXPECT_EQ(logs, c.logs);
        // Applying again runs the test again, with the same outcome as the result.
        IZELALL3000* face = ConfigOf(inst.Module());
        TZELALL3000Settings conf;
        face->GetConfiguration(conf);
        EXPECT_EQ(face->SetConfiguration(conf), c.result) << c.reply.substr(0, 200);
        face->Release();
        EXPECT_EQ(box.Accepted(), c.state == 10013 ? 2 : 0);
    }
}

TEST(Fetches, SilentBoxesAreBounded) {
    // kernel state | what runs after the constructor | its bound | statuses | the last debug message |
    // the box dribbles a byte every 1.5 s, inside every read time-out
    struct Case { int32_t state; HRESULT (*call)(IZELALL3000*); int ms; std::vector<int32_t> statuses; std::string debug; bool dribble = false; } cases[] = {
        {10013, nullptr, 2000, {201}, "  cause: Read Timeout"},  // the constructor's connection test: its read time-out
        {10013, nullptr, 3000, {201}, "  cause: Read Timeout", true},  // and its whole exchange
        {10014, [](IZELALL3000* f) { return f->DetectSensors(); }, 5000, {}, "  cause: Read Timeout"},
        {10014, [](IZELALL3000* f) { return f->UpdateNow(); }, 5000, {}, "  cause: Read Timeout"},
    };
    for (const auto& c : cases) {
        TLoopbackPeer box([&c](TPeerConnection& conn) {
            if (!c.dribble) return conn.Silent();
            for (char b : HttpReply("<xml>ALL3000</xml>"))
                if (conn.Pause(1500)) conn.Send(std::string(1, b));
        });
        FakeHost host;
        Configure(host, box.Port(), {"T0:1"}, c.state);
        TBoxes boxes;
        auto t0 = std::chrono::steady_clock::now();
        Held inst(host, kId);
        if (c.call) {
            IZELALL3000* face = ConfigOf(inst.Module());
            c.call(face);
            face->Release();
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_GE(ms, c.ms - 100) << c.ms;
        EXPECT_LT(ms, c.ms + 2000) << c.ms;
        EXPECT_EQ(host.control.statuses, c.statuses) << c.ms;
        EXPECT_EQ(host.debug.texts.back(), c.debug) << c.ms;
    }
    // The bounds a silent box cannot show (a connect that never completes, a reply dribbled for ever),
    // checked on the client itself.
    TIdHTTP http;
    LimitFetch(http, 1234, 5678);
    EXPECT_EQ(http.ConnectTimeout(), 1234);
    EXPECT_EQ(http.ReadTimeout(), 1234);
    EXPECT_EQ(http.ExchangeTimeout, 5678);
    EXPECT_EQ(http.MaxBodySize, 1 << 20);
}

TEST(ReaderThread, OutcomesAndHandOver) {
    {
        TLoopbackPeer box(Answer(HttpReply("")));
        TReaderThread t("http://127.0.0.1:" + std::to_string(box.Port()) + "/xml");
        while (t.Busy()) WaitWithMessages(10);
        EXPECT_TRUE(t.Success());
        EXPECT_EQ(t.Body(), "");
    }
    {
        std::string head;
        TLoopbackPeer box([&head](TPeerConnection& c) {
            while (head.find("\r\n\r\n") == std::string::npos) {
                std::string b = c.Receive(1);
                if (b.empty()) return;
                head += b;
            }
            c.Send(HttpReply("<xml/>"));
        });
        TReaderThread t("http://127.0.0.1:" + std::to_string(box.Port()) + "/xml");
        while (t.Busy()) WaitWithMessages(10);
        EXPECT_TRUE(t.Success());
        EXPECT_EQ(t.Body(), "<xml/>");
        EXPECT_NE(head.find("\r\nUser-Agent: Mozilla\r\n"), std::string::npos) << head;
    }
    {
        TReaderThread t("http://127.0.0.1:" + std::to_string(zeltest::UnusedPort()) + "/xml");
        while (t.Busy()) WaitWithMessages(10);
        EXPECT_FALSE(t.Success());
        EXPECT_EQ(t.Body(), "");
    }
    {
        // A reply over the module's 1 MiB cap is a failed fetch.
        TLoopbackPeer box(Answer(HttpReply(std::string((1 << 20) + 1, 'x'))));
        TReaderThread t("http://127.0.0.1:" + std::to_string(box.Port()) + "/xml");
        while (t.Busy()) WaitWithMessages(10);
        EXPECT_FALSE(t.Success());
    }
}

TEST(WaitWithMessages, HandlesMessagesAndKeepsItsTime) {
    auto t0 = std::chrono::steady_clock::now();
    WaitWithMessages(0);
    WaitWithMessages(-5);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20));

    std::chrono::steady_clock::time_point handled{};
    WindowTimer timer(30, [&] { if (handled == decltype(handled){}) handled = std::chrono::steady_clock::now(); }, true);
    t0 = std::chrono::steady_clock::now();
    WaitWithMessages(150);
    auto total = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(total, std::chrono::milliseconds(148));
    EXPECT_LT(total, std::chrono::milliseconds(400));
    ASSERT_NE(handled, decltype(handled){});
    EXPECT_LT(handled - t0, std::chrono::milliseconds(100));  // at once, not at the end

    // Off the main thread it sleeps and handles nothing.
    std::thread other([] {
        auto s = std::chrono::steady_clock::now();
        WaitWithMessages(60);
        EXPECT_GE(std::chrono::steady_clock::now() - s, std::chrono::milliseconds(59));
    });
    other.join();
}

TEST(Types, NamesAndKinds) {
    struct Case { int type; const char* name; uint8_t kind; } cases[] = {
        {0, "Unknown", 4}, {1, "Temperature", 4}, {2, "Pressure", 4}, {3, "Moisture", 4}, {4, "Switch", 1},
        {5, "Analog", 4}, {6, "Counter", 4}, {7, "Unknown", 4}, {128, "Unknown", 4}, {129, "Temperature", 4},
        {132, "Switch", 4}, {134, "Counter", 4}, {135, "Unknown", 4}, {255, "Unknown", 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SensorTypeName(static_cast<uint8_t>(c.type)), c.name) << c.type;
        EXPECT_EQ(SensorVariableKind(static_cast<uint8_t>(c.type)), c.kind) << c.type;
    }
}

TEST(Reentry, HostReleasesTheInstanceWhileItWaits) {
    // During the message box of a failed detection.
    {
        FakeHost host;
        Configure(host, zeltest::UnusedPort(), {});
        Held inst(host, kId);
        IZELALL3000* face = ConfigOf(inst.Module());
        face->Release();  // only the host's reference is left
        SetMessageBoxHandler([&](const std::string&) { inst.Release(); });
        EXPECT_EQ(face->DetectSensors(), E_FAIL);  // runs on although the host let go meanwhile
        SetMessageBoxHandler({});
        ASSERT_FALSE(host.kernel.log.empty());
        EXPECT_EQ(host.kernel.log.back().text, "Interface Destroy");  // freed only afterwards
        EXPECT_TRUE(host.AllReleased());
    }
    // During the wait of an update, from a timer of the event loop.
    {
        TLoopbackPeer box([](TPeerConnection& c) {
            if (c.Pause(300)) c.Send(HttpReply(Readings({"1"})));
        });
        FakeHost host;
        Configure(host, box.Port(), {"T0:1"});
        Held inst(host, kId);
        IZELALL3000* face = ConfigOf(inst.Module());
        face->Release();
        WindowTimer release(50, [&] { inst.Release(); }, true);
        EXPECT_EQ(face->UpdateNow(), S_OK);
        EXPECT_EQ(host.variables.writes, std::vector<std::string>{"T0=1"});
        EXPECT_EQ(host.kernel.log.back().text, "Interface Destroy");
        EXPECT_TRUE(host.AllReleased());
    }
}

// A timer update never waits on the main thread: a box that never answers holds its own instance's
// fetch, not the event loop, and another instance keeps writing beside it. Released while its fetch
// runs, the instance ends at once and its fetch's result is dropped.
TEST(TimerUpdate, ASilentBoxHoldsNobodyAndDiesWithItsInstance) {
    TLoopbackPeer silentBox([](TPeerConnection& c) { c.Silent(); });
    TLoopbackPeer goodBox(Answer(HttpReply(Readings({"1"}))));
    FakeHost silentHost, goodHost;
    Configure(silentHost, silentBox.Port(), {"S0:1"});
    Configure(goodHost, goodBox.Port(), {"G0:1"});
    silentHost.settings.integers[FakeSettings::Key(kId, "Settings/Interval")] = 0;
    goodHost.settings.integers[FakeSettings::Key(kId, "Settings/Interval")] = 1;
    Held silent(silentHost, kId), good(goodHost, kId);
    auto t0 = std::chrono::steady_clock::now();
    silent->OnTimerTick();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
    while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(2700)) WaitWithMessages(50);
    EXPECT_GE(goodHost.variables.writes.size(), 2u);
    ASSERT_TRUE(silent->FetchRunning());
    t0 = std::chrono::steady_clock::now();
    silent.Release();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
    WaitWithMessages(100);
    EXPECT_EQ(silentHost.debug.texts, std::vector<std::string>{"Updating..."});
    EXPECT_TRUE(silentHost.AllReleased());
}

// The host lets go of its only reference inside a variable write of a timer update, and handles
// messages there; the instance lives until the update is done, then ends normally.
TEST(TimerUpdate, HostReleaseDuringItsVariableWrite) {
    TLoopbackPeer box(Answer(HttpReply(Readings({"1", "2"}))));
    FakeHost host;
    Configure(host, box.Port(), {"T0:1", "T1:1"});
    host.settings.integers[FakeSettings::Key(kId, "Settings/Interval")] = 0;
    Held inst(host, kId);
    host.variables.whileWriting = [&] {
        host.variables.whileWriting = nullptr;
        inst.Release();
        ProcessMessages();
    };
    for (int i = 0; i < 250 && !host.AllReleased(); ++i) WaitWithMessages(20);
    EXPECT_EQ(host.variables.writes, (std::vector<std::string>{"T0=1", "T1=2"}));
    EXPECT_EQ(host.settings.writes.size(), 18u);
    EXPECT_TRUE(host.AllReleased());
}

// The host's variable write runs code that applies another configuration; the write in progress still
// has the name it was given.
TEST(Reentry, ConfigurationAppliedDuringAVariableWrite) {
    TLoopbackPeer box(Answer(HttpReply(Readings({"1"}))));
    FakeHost host;
    Configure(host, box.Port(), {"T0:1"});
    Held inst(host, kId);
    IZELALL3000* face = ConfigOf(inst.Module());
    TZELALL3000Settings other;
    face->GetConfiguration(other);
    other.Devices[0].VarName = ZELString("Renamed");
    host.variables.whileWriting = [&] { face->SetConfiguration(other); };
    EXPECT_EQ(face->UpdateNow(), S_OK);
    face->Release();
    EXPECT_EQ(host.variables.writes, std::vector<std::string>{"T0=1"});
}

namespace {

class SelectorControl : public FakeInstanceControl {
public:
    using FakeInstanceControl::FakeInstanceControl;
    HRESULT create = S_OK;
    IZELModule* module = nullptr;
    std::vector<uint32_t> deleted;
    HRESULT ZEL_CALL CreateInstance(TGUID, TZELModuleInstance* in, int32_t) override {
        if (Succeeded(create)) {
            in->InstanceID = 77;
            in->Module = module;
        }
        return create;
    }
    int refsAtDelete = -1;  // the references to the selector still held when it is deleted
    HRESULT ZEL_CALL DeleteInstance(uint32_t id) override {
        deleted.push_back(id);
        if (module) refsAtDelete = module->GetRefCount();
        return S_OK;
    }
};

}  // namespace

TEST(Selector, ResultNameAndCleanUp) {
    // created | module | query | query hands out nothing | answer | result | name | instances deleted
    struct Case { HRESULT create; bool module; HRESULT query; bool empty; HRESULT answer; HRESULT result; const char* name; size_t deleted; } cases[] = {
        {E_FAIL, false, S_OK, false, S_OK, E_FAIL, "", 0},
        {S_OK, false, S_OK, false, S_OK, E_FAIL, "", 1},
        {S_OK, true, E_NOINTERFACE, false, S_OK, E_NOINTERFACE, "", 1},
        {S_OK, true, S_OK, true, S_OK, E_FAIL, "", 1},  // success without an interface
        {S_OK, true, S_OK, false, S_OK, S_OK, "Garden1", 1},  // the choice for kind 1
        {S_OK, true, S_OK, false, E_FAIL, E_FAIL, "", 1},  // cancelled
        {S_OK, true, S_OK, false, E_NOTIMPL, S_OK, "", 1},  // throws
    };
    for (const auto& c : cases) {
        Journal journal;
        SelectorControl control(journal);
        FakeSelector selector;
        selector.refs = 1;  // the reference CreateInstance counted for the caller
        selector.query = c.query;
        selector.empty = c.empty;
        selector.throws = c.answer == E_NOTIMPL;
        if (c.answer == S_OK) selector.answer = "Garden1";
        control.create = c.create;
        control.module = c.module ? &selector : nullptr;
        ZELString name;
        if (c.answer == E_NOTIMPL) {
            EXPECT_THROW(RunVariableSelector(&control, VariableKindBoolean, name), std::runtime_error);
        } else {
            EXPECT_EQ(RunVariableSelector(&control, VariableKindBoolean, name), c.result) << c.name;
        }
        EXPECT_EQ(name.Str(), c.name);
        EXPECT_EQ(control.deleted, std::vector<uint32_t>(c.deleted, 77)) << c.name;
        EXPECT_EQ(selector.refs, c.module ? 0 : 1) << c.name;  // every reference handed over comes back
        EXPECT_EQ(control.refsAtDelete, c.module ? 1 + (Succeeded(c.query) && !c.empty) : -1) << c.name;  // deleted first
    }
    ZELString none;
    EXPECT_EQ(RunVariableSelector(nullptr, VariableKindFloat, none), E_FAIL);  // no control
}
