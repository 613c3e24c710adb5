// all3000-sim: a simulated ALL3000 sensor box. Serves GET /xml on 127.0.0.1 in the layout of the
// real box, with readings that drift slowly, and fault modes for tests and demos.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ProcessLimits.h"
#include "platform/TextUtils.h"

namespace {

constexpr int kInputs = 8;
constexpr const char* kUsage =
    "usage: all3000-sim [--port N] [--sensor I=CODE]... [--device-name NAME] [--mode MODE] [--delay MS]\n"
    "  --port N          port on 127.0.0.1 (0, the default: any free port)\n"
    "  --sensor I=CODE   sensor code of input I (0..7); 0: nothing connected\n"
    "  --device-name N   the box's name (default \"ALL3000 Simulator\")\n"
    "  --mode MODE       normal (default), hang, slow, close, reset, cut, garbage, chunked, http10,\n"
    "                    status:NNN, comma\n"
    "  --delay MS        wait MS milliseconds before each reply (a box that is slow to answer)\n";

struct TOptions {
    int Port = 0;
    int Codes[kInputs] = {1, 40, 65, 97, 32, 133, 2, 101};
    std::string DeviceName = "ALL3000 Simulator";
    std::string Mode = "normal";
    int Status = 200;
    int DelayMs = 0;
};

TOptions GOptions;
const auto GStart = std::chrono::steady_clock::now();
std::mutex GLogLock;

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "all3000-sim: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

// A whole number from lo to hi in the runtime's integer text, less two forms this option parser
// has never taken: a '+' sign, and more than nine characters (so "0000000080" is no port).
bool ParseInt(const std::string& s, int lo, int hi, int& out) {
    int32_t v = 0;
    if (s.size() > 9 || s.starts_with('+') || !zel::TryStrToInt(s, v) || v < lo || v > hi) return false;
    out = v;
    return true;
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) Usage(a + " needs a value");
        std::string v = argv[++i];
        if (a == "--port") {
            if (!ParseInt(v, 0, 65535, o.Port)) Usage("bad port " + v);
        } else if (a == "--sensor") {
            size_t eq = v.find('=');
            int input = 0, code = 0;
            if (eq == std::string::npos || !ParseInt(v.substr(0, eq), 0, kInputs - 1, input) ||
                !ParseInt(v.substr(eq + 1), -32768, 32767, code))
                Usage("bad sensor " + v + " (I=CODE, I from 0 to 7)");
            o.Codes[input] = code;
        } else if (a == "--delay") {
            if (!ParseInt(v, 0, 600000, o.DelayMs)) Usage("bad delay " + v);
        } else if (a == "--device-name") {
            o.DeviceName = v;
        } else if (a == "--mode") {
            const std::string modes[] = {"normal",  "hang",    "slow",   "close", "reset",
                                         "cut",     "garbage", "chunked", "http10", "comma"};
            if (v.rfind("status:", 0) == 0) {
                if (!ParseInt(v.substr(7), 100, 599, o.Status)) Usage("bad status in " + v);
            } else if (std::find(std::begin(modes), std::end(modes), v) == std::end(modes)) {
                Usage("unknown mode " + v);
            }
            o.Mode = v;
        } else {
            Usage("unknown option " + a);
        }
    }
    return o;
}

double Seconds() { return std::chrono::duration<double>(std::chrono::steady_clock::now() - GStart).count(); }

bool IsSwitch(int code) { return code == 97 || code == 100 || code == 101; }

// The reading of an input with `code` at `t` seconds: slow drifts around plausible values.
double Reading(int input, int code, double t) {
    if (code >= 1 && code <= 9) return 21.0 + 0.7 * input + 2.5 * std::sin(t / 60.0 + input);
    if (code == 40) return 1013.25 + 3.0 * std::sin(t / 300.0);
    if (code == 65) return 45.0 + 10.0 * std::sin(t / 120.0);
    if (IsSwitch(code)) return (static_cast<int>(t / 10.0) + input) % 2;
    if (code == 32) return 5.0 + 0.5 * std::sin(t / 30.0);
    if (code == 133) return std::floor(t * 2.0);
    return -20480.0;  // nothing connected
}

const char* SensorName(int code) {
    if (code >= 1 && code <= 9) return "Temperature";
    if (code == 40) return "Pressure";
    if (code == 65) return "Moisture";
    if (IsSwitch(code)) return "Switch";
    if (code == 32) return "Analog";
    if (code == 133) return "Counter";
    return "n/a";
}

// Two decimals, a leading blank for values that are not negative, as the box writes them.
std::string Fixed(double v, bool comma) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%.2f", v < 0 ? "" : " ", v);
    std::string s = buf;
    if (comma)
        for (char& c : s)
            if (c == '.') c = ',';
    return s;
}

std::string Element(const std::string& name, int index, const std::string& value) {
    std::string n = name + std::to_string(index);
    return "<" + n + ">" + value + "</" + n + ">";
}

std::string Document() {
    const double t = Seconds();
    const bool comma = GOptions.Mode == "comma";
    std::string x = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<xml><data>\r\n";
    x += "<devicename>" + GOptions.DeviceName + "</devicename>\r\n";
    for (int i = 0; i < kInputs; ++i) {
        const int code = GOptions.Codes[i];
        const bool connected = std::string(SensorName(code)) != "n/a";
        const double value = Reading(i, code, t);
        x += Element("n", i, connected ? std::string(SensorName(code)) + " " + std::to_string(i) : "n/a");
        x += Element("t", i, Fixed(value, comma));
        x += Element("min", i, Fixed(connected ? value - 1.5 : -20480.0, comma));
        x += Element("max", i, Fixed(connected ? value + 1.5 : -20480.0, comma));
        x += Element("l", i, Fixed(-20.0, comma)) + Element("h", i, Fixed(50.0, comma));
        x += Element("s", i, std::to_string(code)) + "\r\n";
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[32], clock[32];
    std::strftime(date, sizeof date, "%d.%m.%Y", &local);
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    x += "<date>" + std::string(date) + "</date><time>" + clock + "</time>\r\n";
    x += "<fw>1.50</fw><hw>3</hw><mac>00:00:00:00:00:00</mac>\r\n</data></xml>\r\n";
    return x;
}

void SendAll(int fd, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

std::string Reply(int status, const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\nContent-Type: text/xml\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n" + extra + "\r\n" + body;
}

// Where `cut` ends the body: after the blank or sign and the first digit of t0's reading.
size_t CutPoint(const std::string& doc) {
    constexpr std::string_view kOpen = "<t0>";
    return doc.find(kOpen) + kOpen.size() + 2;
}

// Closes `fd` so that the peer sees a reset instead of an end of stream.
void Reset(int fd) {
    linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

// Waits until the client closes (or sends something more, which is ignored).
void WaitForClose(int fd) {
    char buf[4096];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
}

void Serve(int fd, std::string peer) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    std::string line = head.substr(0, head.find("\r\n"));
    std::string path = line.size() > 4 && line.rfind("GET ", 0) == 0 ? line.substr(4, line.find(' ', 4) - 4) : "";
    const std::string& mode = GOptions.Mode;
    if (GOptions.DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(GOptions.DelayMs));
    std::string outcome;
    bool reset = false;
    if (head.find("\r\n\r\n") == std::string::npos) {
        outcome = "no request";
    } else if (path != "/xml") {
        SendAll(fd, Reply(404, "<html><body>404 Not Found</body></html>\r\n"));
        outcome = "404";
    } else if (mode == "hang") {
        outcome = "hang";
    } else if (mode == "close") {
        outcome = "closed without answer";
    } else if (mode == "reset") {
        outcome = "reset without answer";
        reset = true;
    } else if (mode == "cut") {
        const std::string doc = Document();
        const size_t cut = CutPoint(doc);
        // The head announces the whole document, so the client sees the stream end inside the body.
        const std::string reply = Reply(200, doc);
        SendAll(fd, reply.substr(0, reply.size() - doc.size() + cut));
        outcome = "200, cut after " + std::to_string(cut) + " of " + std::to_string(doc.size()) + " bytes";
    } else if (mode == "garbage") {
        std::mt19937 rng(static_cast<unsigned>(Seconds() * 1000));
        std::string junk = "\x13\x37 no http here\r\n";
        for (int i = 0; i < 300; ++i) junk += static_cast<char>(rng() % 256);
        SendAll(fd, junk);
        outcome = "garbage";
    } else if (mode == "chunked") {
        std::string doc = Document(), out = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
        for (size_t i = 0; i < doc.size(); i += 200) {
            std::string part = doc.substr(i, 200);
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", part.size());
            out += size + part + "\r\n";
        }
        SendAll(fd, out + "0\r\n\r\n");
        outcome = "200 chunked";
    } else if (mode == "http10") {
        SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + Document());
        outcome = "200 HTTP/1.0";
    } else if (mode.rfind("status:", 0) == 0) {
        SendAll(fd, Reply(GOptions.Status, "<html><body>" + std::to_string(GOptions.Status) + "</body></html>\r\n"));
        outcome = std::to_string(GOptions.Status);
    } else if (mode == "slow") {
        {
            std::lock_guard<std::mutex> lock(GLogLock);
            std::fprintf(stderr, "all3000-sim: %s %s -> 200, one byte per second\n", peer.c_str(), line.c_str());
        }
        for (char c : Reply(200, Document())) {
            SendAll(fd, std::string(1, c));
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) > 0) break;  // the client gave up
        }
        ::close(fd);
        return;
    } else {
        SendAll(fd, Reply(200, Document()));
        outcome = mode == "comma" ? "200 (decimal commas)" : "200";
    }
    {
        std::lock_guard<std::mutex> lock(GLogLock);
        std::fprintf(stderr, "all3000-sim: %s %s -> %s\n", peer.c_str(), line.c_str(), outcome.c_str());
    }
    if (mode == "hang") WaitForClose(fd);
    if (reset) {
        Reset(fd);
        return;
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    GOptions = ParseOptions(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    // The hang and slow modes hold every connection open: a soft limit of 1024 would cap how many
    // clients can wait at once.
    zel::RaiseDescriptorLimit();
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(GOptions.Port));
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener, 1024) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::fprintf(stderr, "all3000-sim: cannot listen on 127.0.0.1:%d: %s\n", GOptions.Port, std::strerror(errno));
        return 1;
    }
    std::printf("listening on http://127.0.0.1:%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&from), &fromLen, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            std::fprintf(stderr, "all3000-sim: accept failed: %s\n", std::strerror(errno));
            return 1;
        }
        char ip[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
        std::string peer = std::string(ip) + ":" + std::to_string(ntohs(from.sin_port));
        try {
            std::thread(Serve, fd, std::move(peer)).detach();
        } catch (const std::system_error&) {
            ::close(fd);  // no thread to spare: the client sees a closed connection
        }
    }
}
