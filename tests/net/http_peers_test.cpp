// The HTTP client against nginx on 127.0.0.1 (Content-Length and chunked bodies, keep-alive, 404).
// The cases against Python's HTTP/1.0 server, which also run on Windows, are in http10_peer_test.cpp.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "LoopbackPeer.h"
#include "NetTestUtil.h"
#include "Process.h"
#include "net/IdHTTP.h"
#include "platform/TextUtils.h"

using namespace zel;
using namespace zeltest;

namespace {

// The full path of a program found on PATH or in the system's folders ("" when there is none).
std::string Which(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/usr/bin:/sbin:/bin";
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find(':', start), path.size());
        std::string candidate = path.substr(start, end - start) + "/" + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

// Connects to 127.0.0.1:port until it answers (the server is starting) or the time is up.
bool WaitForListener(int port, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        TIdTCPClient probe;
        probe.Host = "127.0.0.1";
        probe.Port = port;
        try {
            probe.Connect();
            return true;
        } catch (const EIdException&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return false;
}

class TNginx {
public:
    TNginx() : FPort(UnusedPort()) {
        std::filesystem::create_directories(FDir.File("www"));
        std::filesystem::create_directories(FDir.File("tmp"));
        std::string conf =
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + FDir.File("nginx.pid") + ";\n"
            "error_log " + FDir.File("error.log") + ";\nevents { worker_connections 64; }\n"
            "http {\n  access_log off;\n  types { text/xml xml; }\n"
            "  client_body_temp_path " + FDir.File("tmp") + "; proxy_temp_path " + FDir.File("tmp") + ";\n"
            "  fastcgi_temp_path " + FDir.File("tmp") + "; uwsgi_temp_path " + FDir.File("tmp") + "; scgi_temp_path " + FDir.File("tmp") + ";\n"
            "  server {\n    listen 127.0.0.1:" + std::to_string(FPort) + ";\n    root " + FDir.File("www") + ";\n"
            // A filtered body has no known length, so nginx sends it chunked.
            "    location /chunked/ { alias " + FDir.File("www") + "/; sub_filter_types text/xml; sub_filter '<xml>' '<xml>'; sub_filter_once off; }\n"
            "  }\n}\n";
        WriteFile(FDir.File("nginx.conf"), conf);
        FProcess = std::make_unique<TChildProcess>(std::vector<std::string>{
            Which("nginx"), "-p", FDir.Path(), "-c", FDir.File("nginx.conf"), "-e", FDir.File("error.log")});
        FReady = WaitForListener(FPort, 5000);
    }
    ~TNginx() { FProcess->Signal(SIGQUIT); FProcess->Wait(5000); }
    bool Ready() const { return FReady; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(FPort) + path; }
    void Serve(const std::string& name, const std::string& body) { WriteFile(FDir.File("www/" + name), body); }
    std::string Log() const { return ReadFile(FDir.File("error.log")); }

private:
    TTempDir FDir;
    int FPort;
    std::unique_ptr<TChildProcess> FProcess;
    bool FReady = false;
};

}  // namespace

TEST(HTTPPeers, Nginx) {
    TNginx nginx;
    ASSERT_TRUE(nginx.Ready()) << nginx.Log();
    const std::string xml = DeviceReply();
    nginx.Serve("xml", xml);
    nginx.Serve("reply.xml", xml);
    nginx.Serve("small.xml", "<xml><data><t0> 21.50</t0></data></xml>\r\n");
    for (const char* path : {"/xml", "/reply.xml", "/chunked/reply.xml", "/chunked/small.xml", "/small.xml"}) {
        TIdHTTP http;
        http.SetReadTimeout(5000);
        std::string body = http.Get(nginx.Url(path));
        const bool small = std::string(path).find("small") != std::string::npos;
        EXPECT_TRUE(body == (small ? "<xml><data><t0> 21.50</t0></data></xml>\r\n" : xml)) << path << ": " << body.size();
        const bool chunked = std::string(path).starts_with("/chunked/");
        EXPECT_EQ(SameText(http.Response().RawHeaders.Values("Transfer-Encoding"), "chunked"), chunked) << path;
        EXPECT_EQ(http.Response().HasContentLength(), !chunked) << path;
        EXPECT_TRUE(http.IsConnected()) << path;  // nginx keeps HTTP/1.1 connections alive
    }
    TIdHTTP http;
    try {
        http.Get(nginx.Url("/missing"));
        FAIL();
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ErrorCode(), 404);
        EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
        EXPECT_NE(e.ErrorMessage().find("404 Not Found"), std::string::npos);  // nginx's error page
    }
}
