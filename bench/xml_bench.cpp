// Our XML loader and writer against pugixml on the same documents. Every case is registered as
// "<case>/ours" and "<case>/pugixml" so that compare.py can pair them.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "xml/ECXMLParser.h"

namespace {

// A device reply as the update cycle reads it: declaration, top-level element, a data element with
// t0..t7 and s0..s7 among a few others, CR LF line breaks.
std::string DeviceReply() {
    std::string r = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<response>\r\n";
    r += "<device>\r\n<name>Sensor box, hall 2</name>\r\n<serial>0004A3-1F22C7</serial>\r\n"
         "<firmware>3.41 build 2211</firmware>\r\n<uptime>1834211</uptime>\r\n"
         "<mac>00:04:A3:1F:22:C7</mac>\r\n<ip>192.168.20.1</ip>\r\n</device>\r\n";
    r += "<data>\r\n<date>14.03.2024</date>\r\n<time>12:30:05</time>\r\n";
    static const char* const values[8] = {"21.50", "-3.25", "1013.20", "45.10", "0", "12.75", "---", "7"};
    static const char* const units[8] = {"&#176;C", "&#176;C", "hPa", "%", "", "V", "", "Imp"};
    for (int i = 0; i < 8; ++i) {
        std::string n = std::to_string(i);
        r += "<t" + n + ">" + values[i] + "</t" + n + ">\r\n";
        r += "<l" + n + ">Input " + n + " &amp; label</l" + n + ">\r\n";
        r += "<u" + n + ">" + units[i] + "</u" + n + ">\r\n";
        r += "<min" + n + ">-20.00</min" + n + "><max" + n + ">50.00</max" + n + ">\r\n";
    }
    for (int i = 0; i < 8; ++i) {
        std::string n = std::to_string(i);
        r += "<s" + n + ">" + std::to_string(i % 7) + "</s" + n + ">\r\n";
    }
    r += "<alarm>0</alarm>\r\n<relay>0</relay>\r\n<interval>60</interval>\r\n</data>\r\n";
    r += "<status>\r\n<code>0</code>\r\n<message>OK</message>\r\n<clients>1</clients>\r\n"
         "<requests>18342</requests>\r\n<errors>0</errors>\r\n<temperature>31.5</temperature>\r\n"
         "<voltage>12.1</voltage>\r\n</status>\r\n</response>\r\n";
    return r;
}

// Nested records with attributes and text, one element per line, about `size` bytes.
std::string LargeDocument(size_t size) {
    std::string r = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<archive version=\"2\">\n";
    r.reserve(size + 1024);
    for (int station = 0; r.size() < size; ++station) {
        std::string id = std::to_string(station);
        r += "  <station id=\"" + id + "\" name=\"Station " + id + "\" active=\"yes\">\n";
        r += "    <location lat=\"52.52" + id + "\" lon=\"13.40\">Building " + id + ", floor 2</location>\n";
        for (int ch = 0; ch < 4; ++ch) {
            std::string c = std::to_string(ch);
            r += "    <channel no=\"" + c + "\" kind=\"temperature\">\n";
            for (int k = 0; k < 3; ++k)
                r += "      <reading time=\"2024-03-14T12:0" + std::to_string(k) + ":00\" unit=\"C\">" +
                     std::to_string(20 + ch) + "." + std::to_string(k * 25) + "</reading>\n";
            r += "      <note>calibrated &amp; checked &lt;ok&gt;</note>\n";
            r += "    </channel>\n";
        }
        r += "  </station>\n";
    }
    r += "</archive>\n";
    return r;
}

const std::string& Reply() {
    static const std::string reply = DeviceReply();
    return reply;
}

const std::string& Large(size_t size) {
    // Generated once per size and kept for the whole run.
    static std::map<size_t, std::string> docs;
    auto it = docs.find(size);
    if (it == docs.end()) it = docs.emplace(size, LargeDocument(size)).first;
    return it->second;
}

constexpr std::array<std::string_view, 16> kReadings = {"t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7",
                                                        "s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7"};

void DeviceReplyOurs(benchmark::State& state) {
    const std::string& reply = Reply();
    for (auto _ : state) {
        zel::TECXMLParser parser;
        parser.RootItem().LoadFromString(reply);
        zel::TXMLItem* data = parser.RootItem().ItemByName("data");
        size_t total = 0;
        for (std::string_view name : kReadings) total += data->ItemByName(name)->Text().size();
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
    state.counters["doc_bytes"] = static_cast<double>(reply.size());
}

void DeviceReplyPugixml(benchmark::State& state) {
    const std::string& reply = Reply();
    std::array<std::string, 16> names;
    for (size_t i = 0; i < names.size(); ++i) names[i] = kReadings[i];
    for (auto _ : state) {
        pugi::xml_document doc;
        doc.load_buffer(reply.data(), reply.size());
        pugi::xml_node data = doc.document_element().child("data");
        size_t total = 0;
        for (const std::string& name : names) total += std::string_view(data.child(name.c_str()).child_value()).size();
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
    state.counters["doc_bytes"] = static_cast<double>(reply.size());
}

void LoadOurs(benchmark::State& state) {
    const std::string& doc = Large(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        zel::TECXMLParser parser;
        parser.RootItem().LoadFromString(doc);
        benchmark::DoNotOptimize(parser.RootItem().SubItemCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
    state.counters["doc_bytes"] = static_cast<double>(doc.size());
}

void LoadPugixml(benchmark::State& state) {
    const std::string& doc = Large(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        pugi::xml_document xml;
        pugi::xml_parse_result ok = xml.load_buffer(doc.data(), doc.size());
        benchmark::DoNotOptimize(ok.status);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
    state.counters["doc_bytes"] = static_cast<double>(doc.size());
}

void WriteOurs(benchmark::State& state) {
    const std::string& doc = Large(static_cast<size_t>(state.range(0)));
    zel::TECXMLParser parser;
    parser.RootItem().LoadFromString(doc);
    size_t written = 0;
    for (auto _ : state) {
        std::string out = parser.RootItem().AsString(2);
        written = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(written));
    state.counters["doc_bytes"] = static_cast<double>(written);
}

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void WritePugixml(benchmark::State& state) {
    const std::string& doc = Large(static_cast<size_t>(state.range(0)));
    pugi::xml_document xml;
    xml.load_buffer(doc.data(), doc.size());
    size_t written = 0;
    for (auto _ : state) {
        StringWriter w;
        xml.save(w, "  ", pugi::format_default | pugi::format_no_declaration);
        written = w.out.size();
        benchmark::DoNotOptimize(w.out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(written));
    state.counters["doc_bytes"] = static_cast<double>(written);
}

// Shapes of input that once cost quadratic time, each at a size argument `n` (the count of its
// repeated part). Loaded through the parser's stream load, whose whole-stream window they need.
std::string RepeatedAttributeName(int64_t n) {
    // Many attributes, one name twice: the general attribute algorithm.
    std::string r = "<a";
    for (int64_t i = 0; i < n; ++i) r += " k" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return r + " k0=\"x\"/>\n<b/>\n";
}

std::string BlankEntitiesThenTextRuns(int64_t n) {
    // A text that decodes to line breaks only, then many runs that are appended to it.
    std::string r = "<a>";
    for (int64_t i = 0; i < n; ++i) r += "&lf&";
    r += "x";
    for (int64_t i = 0; i < n; ++i) r += "<b/>y";
    return r + "</a>\n";
}

std::string ManyTextRuns(int64_t n) {
    std::string r = "<a>";
    for (int64_t i = 0; i < n; ++i) r += "t<b/>";
    return r + "</a>\n";
}

std::string ManyDistinctAttributes(int64_t n) {
    std::string r = "<a";
    for (int64_t i = 0; i < n; ++i) r += " k" + std::to_string(i) + "=\"&amp;" + std::to_string(i) + "\"";
    return r + "/>\n";
}

std::string LongLineBreaksInTags(int64_t n) {
    // Tags broken over lines: every window is cut inside a tag and the cut is lifted.
    std::string r = "<a>\n";
    for (int64_t i = 0; i < n; ++i) r += "<b\r\n k=\"" + std::to_string(i) + "\"\r\n/>";
    return r + "</a>\n";
}

template <std::string (*Shape)(int64_t)>
void Hostile(benchmark::State& state) {
    const std::string doc = Shape(state.range(0));
    for (auto _ : state) {
        zel::TECXMLParser parser;
        zel::TBytesViewStream stream(doc);
        parser.LoadFromStream(stream);
        benchmark::DoNotOptimize(parser.RootItem().SubItemCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
    state.counters["doc_bytes"] = static_cast<double>(doc.size());
}

constexpr int64_t kMB = 1 << 20;

}  // namespace

BENCHMARK(DeviceReplyOurs)->Name("device_reply/ours");
BENCHMARK(DeviceReplyPugixml)->Name("device_reply/pugixml");
// Three sizes, so that a cost growing faster than the input shows as falling throughput.
BENCHMARK(LoadOurs)->Name("load/ours")->Arg(kMB / 4)->Arg(kMB)->Arg(4 * kMB)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadPugixml)->Name("load/pugixml")->Arg(kMB / 4)->Arg(kMB)->Arg(4 * kMB)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteOurs)->Name("write/ours")->Arg(kMB)->Unit(benchmark::kMillisecond);
BENCHMARK(WritePugixml)->Name("write/pugixml")->Arg(kMB)->Unit(benchmark::kMillisecond);

// Ours only, each at two sizes a factor 4 apart: compare.py prints how the time per byte grows.
BENCHMARK(Hostile<RepeatedAttributeName>)->Name("hostile/repeated attribute name")->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(Hostile<BlankEntitiesThenTextRuns>)->Name("hostile/blank entities, then text runs")->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(Hostile<ManyTextRuns>)->Name("hostile/text runs")->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(Hostile<ManyDistinctAttributes>)->Name("hostile/distinct attributes")->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(Hostile<LongLineBreaksInTags>)->Name("hostile/line breaks in tags")->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
