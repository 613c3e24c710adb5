#pragma once
// A loopback server for the benchmarks: it answers every connection with one fixed reply and waits
// for the client to close, one connection after the other.
#include <arpa/inet.h>
#include <atomic>
#include <ctime>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class TReplyServer {
public:
    explicit TReplyServer(std::string reply) : FReply(std::move(reply)) {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(FListen, 64) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen");
        FPort = ntohs(addr.sin_port);
        FThread = std::thread([this] { Run(); });
    }
    ~TReplyServer() {
        FStop = true;
        ::shutdown(FListen, SHUT_RDWR);
        FThread.join();
        ::close(FListen);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/xml"; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    // CPU time the server's thread has used so far, in microseconds.
    double CpuUs() const { return FCpuUs.load(); }

private:
    void Run() {
        char buf[65536];
        while (!FStop) {
            int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::string head;
            while (head.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                head.append(buf, static_cast<size_t>(n));
            }
            for (size_t sent = 0; sent < FReply.size();) {
                ssize_t n = ::send(fd, FReply.data() + sent, FReply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            while (::recv(fd, buf, sizeof buf, 0) > 0) {
            }
            ::close(fd);
            timespec ts{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
            FCpuUs = static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
        }
    }

    std::string FReply;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<double> FCpuUs{0};
    std::thread FThread;
};

}  // namespace
