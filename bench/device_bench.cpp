// The CPU cost of one complete update cycle of one instance against a box on loopback: the reader
// thread, connect, GET, the XML load and eight variable writes. CPU time is the process's, less what
// the box's own thread used; wall time includes the cycle's 100 ms waiting steps and is not the
// point here.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <ctime>

#include "FakeHost.h"
#include "Held.h"
#include "ReplyServer.h"
#include "device/IO.ALL3000_Interface.h"

namespace {

double ProcessCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// A reply as the box sends it: eight inputs with name, reading, limits and code on one line each.
std::string BoxReply() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<xml><data>\r\n<devicename>ALL3000</devicename>\r\n";
    const char* codes[8] = {"1", "40", "65", "97", "32", "133", "2", "101"};
    for (int i = 0; i < 8; ++i) {
        std::string n = std::to_string(i);
        xml += "<n" + n + ">Sensor " + n + "</n" + n + "><t" + n + "> 2" + n + ".50</t" + n + "><min" + n + "> 19.00</min" + n +
               "><max" + n + "> 25.00</max" + n + "><l" + n + ">-20.00</l" + n + "><h" + n + "> 50.00</h" + n + "><s" + n + ">" +
               codes[i] + "</s" + n + ">\r\n";
    }
    xml += "<date>08.12.2026</date><time>12:00:00</time><fw>1.50</fw>\r\n</data></xml>\r\n";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(xml.size()) +
           "\r\nConnection: close\r\n\r\n" + xml;
}

void BM_UpdateCycle(benchmark::State& state) {
    using namespace zel;
    using namespace zel::test;
    TReplyServer box(BoxReply());
    FakeHost host;
    host.settings.strings[FakeSettings::Key(1, "Settings/IPAddress")] = box.Address();
    const int types[8] = {1, 2, 3, 4, 5, 6, 1, 4};
    for (int i = 0; i < 8; ++i) {
        const std::string s = "Settings/S" + std::to_string(i) + "/";
        host.settings.strings[FakeSettings::Key(1, s + "VarName")] = "V" + std::to_string(i);
        host.settings.integers[FakeSettings::Key(1, s + "DeviceType")] = types[i];
    }
    Held inst(host, 1);
    IZELALL3000* face = ConfigOf(inst.Module());
    double cpu = 0;
    for (auto _ : state) {
        const double server0 = box.CpuUs();
        const double cpu0 = ProcessCpuUs();
        face->UpdateNow();
        cpu += (ProcessCpuUs() - cpu0) - (box.CpuUs() - server0);
    }
    face->Release();
    if (host.variables.writes.size() != 8 * static_cast<size_t>(state.iterations())) state.SkipWithError("missing writes");
    state.counters["cpu_us_per_cycle"] = cpu / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(BM_UpdateCycle)->Unit(benchmark::kMillisecond)->Iterations(100);

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
