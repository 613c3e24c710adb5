// all3000-sim's fault modes as a client sees them on the wire, and many clients held at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "Simulator.h"

using namespace zeltest;

namespace {

// A connected socket to `address` ("127.0.0.1:PORT") that has sent GET /xml; -1 on failure.
int Request(const std::string& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(address.find(':') + 1))));
    const std::string get = "GET /xml HTTP/1.1\r\nHost: " + address + "\r\n\r\n";
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        ::send(fd, get.data(), get.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(get.size())) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

struct TExchange {
    std::string Head;
    std::string Body;
    int Error = 0;  // errno of the read that ended the stream, 0 for an orderly end
};

// Requests /xml and reads until the stream ends, for 5 s at most.
TExchange Fetch(const std::string& address) {
    TExchange x;
    int fd = Request(address);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string all;
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) != 0;) {
        if (n < 0) {
            x.Error = errno;
            break;
        }
        all.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    const size_t end = all.find("\r\n\r\n");
    x.Head = all.substr(0, end);
    if (end != std::string::npos) x.Body = all.substr(end + 4);
    return x;
}

// The head's Content-Length, or -1 without one.
long ContentLength(const std::string& head) {
    const std::string name = "\r\nContent-Length: ";
    const size_t at = head.find(name);
    return at == std::string::npos ? -1 : std::stol(head.substr(at + name.size()));
}

}  // namespace

TEST(Simulator, EachModeEndsTheExchangeAsItsNameSays) {
    // Input 0 reads -20480.00 (nothing connected), so the cut falls at a known place.
    // mode | errno at the stream's end | status line ("" for none) | body as long as announced | body ends with
    struct Case { const char* mode; int error; const char* status; bool whole; const char* bodyEnd; } cases[] = {
        {"normal", 0, "HTTP/1.1 200 OK", true, "</data></xml>\r\n"},
        {"cut", 0, "HTTP/1.1 200 OK", false, "</devicename>\r\n<n0>n/a</n0><t0>-2"},
        {"close", 0, "", false, ""},
        {"reset", ECONNRESET, "", false, ""},
    };
    for (const auto& c : cases) {
        TSimulator box({"--sensor", "0=0", "--mode", c.mode});
        TExchange x = Fetch(box.Address());
        EXPECT_EQ(x.Error, c.error) << c.mode;
        EXPECT_EQ(x.Head.substr(0, x.Head.find("\r\n")), c.status) << c.mode;
        EXPECT_EQ(ContentLength(x.Head) == static_cast<long>(x.Body.size()), c.whole) << c.mode;
        EXPECT_TRUE(x.Body.ends_with(c.bodyEnd)) << c.mode << ": " << x.Body;
    }
}

TEST(Simulator, HoldsMoreClientsThanItsSoftDescriptorLimit) {
    constexpr int kClients = 150;
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 2 * kClients) GTEST_SKIP() << "the hard limit on open files is below " << 2 * kClients;
    // Slow answers every client at once with its first byte and then holds it; 64 descriptors
    // would serve about sixty and leave the rest waiting in the listen queue.
    TSimulator box({"--mode", "slow"}, {"/bin/sh", "-c", "ulimit -S -n 64 && exec \"$@\"", "sh"});
    std::vector<pollfd> clients;
    for (int i = 0; i < kClients; ++i) {
        int fd = Request(box.Address());
        ASSERT_GE(fd, 0) << std::strerror(errno);
        clients.push_back({fd, POLLIN, 0});
    }
    int answered = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (answered < kClients && std::chrono::steady_clock::now() < deadline) {
        if (::poll(clients.data(), clients.size(), 100) <= 0) continue;
        for (pollfd& p : clients) {
            if (!(p.revents & POLLIN)) continue;
            char first = 0;
            if (::recv(p.fd, &first, 1, 0) == 1 && first == 'H') ++answered;
            p.events = 0;  // one byte is enough; the rest comes a byte a second
        }
    }
    for (const pollfd& p : clients) ::close(p.fd);
    EXPECT_EQ(answered, kClients);
}
