// Our HTTP GET against libcurl's on the same loopback server and the same reply, one new client and
// connection per fetch as the module does (a new easy handle per fetch for libcurl). The two are
// interleaved fetch by fetch, so that a noisy machine slows both alike; the counters report the
// median wall time, the CPU time of the fetching thread and the ratio ours / libcurl.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ReplyServer.h"
#include "net/IdHTTP.h"

namespace {

double ThreadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

size_t AppendToString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

std::string CurlGet(const std::string& url) {
    std::string body;
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, AppendToString);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    CURLcode r = curl_easy_perform(h);
    curl_easy_cleanup(h);
    if (r != CURLE_OK) throw std::runtime_error(curl_easy_strerror(r));
    return body;
}

std::string OurGet(const std::string& url) {
    zel::TIdHTTP http;
    http.MaxBodySize = 64 << 20;
    return http.Get(url);
}

struct TSamples {
    std::vector<double> Wall;
    double Cpu = 0;
    template <class F>
    void Measure(F&& fetch, size_t expected) {
        double cpu0 = ThreadCpuUs();
        auto t0 = std::chrono::steady_clock::now();
        std::string body = fetch();
        auto t1 = std::chrono::steady_clock::now();
        Cpu += ThreadCpuUs() - cpu0;
        Wall.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        if (body.size() != expected) throw std::runtime_error("wrong body size");
    }
    double Median() {
        std::sort(Wall.begin(), Wall.end());
        return Wall.empty() ? 0 : Wall[Wall.size() / 2];
    }
};

void BM_Get(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    std::string body(size, 'x');
    for (size_t i = 0; i < size; i += 64) body[i] = '\n';
    TReplyServer server("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    const std::string url = server.Url();
    TSamples ours, curl;
    for (auto _ : state) {
        ours.Measure([&] { return OurGet(url); }, size);
        curl.Measure([&] { return CurlGet(url); }, size);
    }
    const auto n = static_cast<double>(state.iterations());
    const double oursMedian = ours.Median(), curlMedian = curl.Median();
    state.counters["ours_us"] = oursMedian;
    state.counters["curl_us"] = curlMedian;
    state.counters["ratio"] = oursMedian / curlMedian;
    state.counters["ours_cpu_us"] = ours.Cpu / n;
    state.counters["curl_cpu_us"] = curl.Cpu / n;
    state.counters["cpu_ratio"] = ours.Cpu / curl.Cpu;
    state.counters["ours_MBps"] = static_cast<double>(size) / oursMedian;
    state.counters["curl_MBps"] = static_cast<double>(size) / curlMedian;
}

}  // namespace

BENCHMARK(BM_Get)->Arg(1500)->Arg(1 << 20)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
