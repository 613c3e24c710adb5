#include "Options.h"

#include "platform/TextUtils.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "MachineName.h"
#include "SettingsStore.h"

namespace zelhost {

namespace {

// Longer runs would overflow the millisecond timer.
constexpr double MaxSeconds = 2000000;

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

uint16_t ParseInstanceID(std::string_view text) {
    uint32_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (!AllDigits(text) || ec != std::errc() || v > 65535)
        throw EUsage("instance id \"" + std::string(text) + "\" is not a number from 0 to 65535");
    return static_cast<uint16_t>(v);
}

std::vector<std::string> Split(std::string_view s, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(separator, start);
        parts.emplace_back(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

int ParseSeconds(std::string_view text) {
    size_t dot = text.find('.');
    bool ok = dot == std::string_view::npos ? AllDigits(text) : AllDigits(text.substr(0, dot)) && AllDigits(text.substr(dot + 1));
    double v = 0;
    if (ok) {
        auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        ok = ec == std::errc() && ptr == text.data() + text.size() && v <= MaxSeconds;
    }
    if (!ok) throw EUsage("--seconds \"" + std::string(text) + "\" is not a number of seconds from 0 to 2000000");
    return static_cast<int>(std::llround(v * 1000));
}

int32_t ParseKernelState(std::string_view text) {
    int32_t v = 0;
    // The runtime's integer text, but without a '+' sign, which this option has never taken.
    if (text.starts_with('+') || !zel::TryStrToInt(text, v))
        throw EUsage("--kernel-state \"" + std::string(text) + "\" is not a 32-bit whole number");
    return v;
}

TRefusals ParseRefusals(std::string_view text) {
    TRefusals r;
    // Each service by its short name, or by the name the module's refusal log line uses.
    const struct {
        const char* shortName;
        const char* serviceName;
        bool TRefusals::*flag;
    } services[] = {
        {"settings", "settings", &TRefusals::Settings},
        {"variables", "variablemanager", &TRefusals::Variables},
        {"instances", "instancecontrol", &TRefusals::Instances},
        {"scripter", "eventscripter", &TRefusals::Scripter},
        {"debug", "debugserver", &TRefusals::Debug},
    };
    for (const std::string& name : Split(text, ',')) {
        bool known = false;
        for (const auto& s : services) {
            if (zel::SameText(name, s.shortName) || zel::SameText(name, s.serviceName)) {
                r.*(s.flag) = true;
                known = true;
            }
        }
        if (!known)
            throw EUsage("--refuse: \"" + name + "\" is not one of settings, variables, instances, scripter, debug");
    }
    return r;
}

TAssignment ParseAssignment(const std::string& arg) {
    size_t eq = arg.find('=');
    if (eq == std::string::npos) throw EUsage("\"" + arg + "\" is not KEY=VALUE");
    std::vector<std::string> names = Split(std::string_view(arg).substr(0, eq), '/');
    if (names.size() < 2)
        throw EUsage("key \"" + arg.substr(0, eq) + "\" needs a section path and a key, as in Settings/IPAddress");
    for (const std::string& name : names)
        if (!ValidName(name))
            throw EUsage("key \"" + arg.substr(0, eq) + "\": \"" + name +
                         "\" is not a valid name (a letter or _, then letters, digits, _, - or .)");
    if (names.size() - 1 > MaxSections)
        throw EUsage("key \"" + arg.substr(0, eq) + "\" has " + std::to_string(names.size() - 1) +
                     " sections; the store takes at most " + std::to_string(MaxSections));
    TAssignment a;
    a.Key = names.back();
    names.pop_back();
    a.Path = std::move(names);
    a.Value = arg.substr(eq + 1);
    return a;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool HasControlOrBlank(std::string_view s) {
    for (char c : s)
        if (IsControl(static_cast<unsigned char>(c)) || c == ' ') return true;
    return false;
}

// The code points of `s` when it is well-formed UTF-8 (no overlong forms, no surrogates);
// nullopt otherwise.
std::optional<std::vector<char32_t>> DecodeUtf8(std::string_view s) {
    std::vector<char32_t> points;
    for (size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        // The lead byte's high one bits count the sequence's bytes: none for ASCII, else 2 to 4.
        const int ones = std::countl_one(lead);
        const size_t length = ones == 0 ? 1 : static_cast<size_t>(ones);
        if (ones == 1 || ones > 4 || i + length > s.size()) return std::nullopt;
        char32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            point = point << 6 | (next & 0x3Fu);
        }
        constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kShortest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return std::nullopt;
        points.push_back(point);
        i += length;
    }
    return points;
}

// Text a broker takes as a topic or client id: UTF-8 without C0 or C1 controls (brokers drop a
// client that sends them).
bool IsCleanUtf8(std::string_view s) {
    const auto points = DecodeUtf8(s);
    if (!points) return false;
    for (char32_t p : *points)
        if (p < 0x20 || (p >= 0x7F && p <= 0x9F)) return false;
    return true;
}

// `option`'s value as the first levels of every topic: EUsage unless it is a name a subscriber's
// filter can match level by level.
std::string CheckTopicPrefix(const std::string& option, const std::string& prefix) {
    // Far below the 64 KiB of a whole topic, which the names after the prefix need room in.
    constexpr size_t kMaxPrefix = 32 * 1024;
    const std::string what = option + " \"" + prefix + "\": ";
    if (prefix.empty()) throw EUsage(option + ": the topic prefix is empty");
    if (!IsCleanUtf8(prefix)) throw EUsage(option + ": the topic prefix is not UTF-8 text without control bytes");
    if (prefix.size() > kMaxPrefix) throw EUsage(option + ": the topic prefix is longer than 32 KiB");
    if (prefix.find_first_of("+#") != std::string::npos) throw EUsage(what + "+ and # are wildcards, not names");
    if (prefix.starts_with('/') || prefix.ends_with('/') || prefix.find("//") != std::string::npos)
        throw EUsage(what + "a topic level is empty (a / at either end or //)");
    // Brokers keep topics that start with $ for themselves ($SYS).
    if (prefix.starts_with('$')) throw EUsage(what + "topics that start with $ belong to the broker");
    return prefix;
}

// `mqtt[s]://[user@]host[:port]` into the options' connection fields; EUsage for anything else.
void ParseBrokerUrl(const std::string& url, TMqttOptions& mqtt) {
    constexpr std::string_view kForm = "mqtt://[user@]host[:port] or mqtts://[user@]host[:port]";
    // The URL itself is never repeated: a mistyped one may still hold a password.
    auto bad = [](const std::string& why) { return EUsage("--mqtt: " + why); };
    if (HasControlOrBlank(url)) throw bad("a control byte or a blank in the broker URL");
    const size_t schemeEnd = url.find("://");
    const std::string_view scheme = std::string_view(url).substr(0, schemeEnd);
    if (schemeEnd != std::string::npos && zel::SameText(scheme, "mqtts"))
        mqtt.Tls = true;
    else if (schemeEnd == std::string::npos || !zel::SameText(scheme, "mqtt"))
        throw bad("unknown scheme: the broker URL is " + std::string(kForm));
    // The authority ends where a path, a query or a fragment would start; none may follow.
    std::string_view rest = std::string_view(url).substr(schemeEnd + 3);
    const size_t authorityEnd = rest.find_first_of("/?#");
    const std::string_view authority = rest.substr(0, authorityEnd);
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view user = authority.substr(0, at);
        if (user.find(':') != std::string_view::npos)
            throw bad("the broker URL holds a password; the password goes in ZELHOST_MQTT_PASSWORD or "
                      "--mqtt-password-file, never on the command line (where other users can read it)");
        if (user.empty()) throw bad("the user name before @ is empty");
        mqtt.User = user;
    }
    if (authorityEnd != std::string_view::npos)
        throw bad("nothing may follow host:port; the form is " + std::string(kForm));
    std::string_view hostPort = authority.substr(at == std::string_view::npos ? 0 : at + 1);
    std::string_view host, port;
    bool hasPort = false;
    if (hostPort.starts_with('[')) {
        const size_t close = hostPort.find(']');
        if (close == std::string_view::npos) throw bad("the [ of an IPv6 address has no ]");
        host = hostPort.substr(1, close - 1);
        const std::string_view after = hostPort.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) throw bad("only :port may follow the ] of an IPv6 address");
        hasPort = !after.empty();
        port = hasPort ? after.substr(1) : after;
        if (host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos)
            throw bad("the host in [] is not an IPv6 address");
    } else {
        const size_t colon = hostPort.find(':');
        host = hostPort.substr(0, colon);
        hasPort = colon != std::string_view::npos;
        port = hasPort ? hostPort.substr(colon + 1) : std::string_view();
        constexpr std::string_view kNameBytes = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_";
        if (host.find_first_not_of(kNameBytes) != std::string_view::npos)
            throw bad("the host is not a name, an IPv4 address or an IPv6 address in []");
    }
    if (host.empty()) throw bad("the host is empty");
    mqtt.Host = host;
    mqtt.Port = mqtt.Tls ? 8883 : 1883;
    if (hasPort) {
        uint32_t value = 0;
        auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (!AllDigits(port) || ec != std::errc() || value < 1 || value > 65535)
            throw bad("the port is not a number from 1 to 65535");
        mqtt.Port = static_cast<uint16_t>(value);
    }
}

// The --mqtt options given, each by its name; the broker URL under "--mqtt".
TMqttOptions ParseMqttOptions(const std::map<std::string, std::optional<std::string>>& given) {
    for (const auto& [option, value] : given)
        if (option != "--mqtt" && !given.contains("--mqtt")) throw EUsage(option + " goes with --mqtt URL");
    TMqttOptions mqtt;
    ParseBrokerUrl(*given.at("--mqtt"), mqtt);
    for (const auto& [option, value] : given) {
        if (option == "--mqtt-prefix") {
            mqtt.Prefix = CheckTopicPrefix(option, *value);
        } else if (option == "--mqtt-discovery") {
            mqtt.DiscoveryPrefix = CheckTopicPrefix(option, value.value_or("homeassistant"));
        } else if (option == "--mqtt-client-id") {
            if (!IsCleanUtf8(*value) || value->size() > 65535)
                throw EUsage("--mqtt-client-id: the client id is not UTF-8 text without control bytes, up to 64 KiB");
            mqtt.ClientId = *value;
        } else if (option == "--mqtt-cafile") {
            if (!mqtt.Tls) throw EUsage("--mqtt-cafile goes with an mqtts:// broker URL");
            mqtt.CaFile = *value;
        } else if (option == "--mqtt-password-file") {
            // A login is a user and a password; a password alone is no login the protocol has.
            if (mqtt.User.empty())
                throw EUsage("--mqtt-password-file needs a user in the broker URL (mqtt://user@host)");
            mqtt.PasswordFile = *value;
        }
    }
    return mqtt;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine cl;
    if (args.empty()) throw EUsage("no command given");
    const std::string& command = args[0];
    if (command == "-h" || command == "--help" || command == "help") {
        if (args.size() != 1) throw EUsage("help takes no arguments");
        cl.Command = TCommand::Help;
        return cl;
    }
    std::set<std::string> allowed = {"--store", "--instance"};
    if (command == "run") {
        cl.Command = TCommand::Run;
        allowed.insert({"--module", "--seconds", "--jsonl", "--kernel-state", "--refuse", "--mqtt", "--mqtt-prefix",
                        "--mqtt-client-id", "--mqtt-cafile", "--mqtt-password-file", "--mqtt-discovery"});
    } else if (command == "page") {
        cl.Command = TCommand::Page;
        cl.Run.Page = true;
        allowed.insert({"--module", "--jsonl", "--kernel-state", "--screenshot", "--click"});
    } else if (command == "detect") {
        cl.Command = TCommand::Detect;
        cl.Run.Detect = true;
        allowed.insert({"--module", "--jsonl", "--kernel-state"});
    } else if (command == "set") {
        cl.Command = TCommand::Set;
    } else if (command == "get") {
        cl.Command = TCommand::Get;
    } else {
        throw EUsage("unknown command \"" + command + "\"");
    }

    std::set<std::string> seen;
    std::string store, instance;
    std::map<std::string, std::optional<std::string>> mqtt;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.starts_with("--")) {
            if (cl.Command != TCommand::Set) throw EUsage("unexpected argument \"" + arg + "\"");
            cl.Set.Values.push_back(ParseAssignment(arg));
            continue;
        }
        if (!allowed.contains(arg)) throw EUsage("unknown option \"" + arg + "\" for " + command);
        if (!seen.insert(arg).second) throw EUsage(arg + " is given twice");
        if (arg == "--jsonl") {
            cl.Run.Json = true;
            continue;
        }
        // Its prefix is optional: a following argument is taken unless it is the next option.
        if (arg == "--mqtt-discovery") {
            mqtt[arg] = i + 1 < args.size() && !args[i + 1].starts_with("--") ? std::optional(args[++i]) : std::nullopt;
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].starts_with("--"))
            throw EUsage(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--store")
            store = value;
        else if (arg == "--instance")
            instance = value;
        else if (arg == "--module")
            cl.Run.Module = value;
        else if (arg == "--seconds")
            cl.Run.Milliseconds = ParseSeconds(value);
        else if (arg == "--kernel-state")
            cl.Run.KernelState = ParseKernelState(value);
        else if (arg == "--refuse")
            cl.Run.Refuse = ParseRefusals(value);
        else if (arg == "--screenshot")
            cl.Run.Screenshot = value;
        else if (arg == "--click")
            cl.Run.Click = value;
        else if (arg.starts_with("--mqtt"))
            mqtt[arg] = value;
    }

    if (store.empty()) throw EUsage(command + " needs --store FILE");
    if (instance.empty() && cl.Command != TCommand::Run) throw EUsage(command + " needs --instance ID");
    switch (cl.Command) {
        case TCommand::Page:
        case TCommand::Detect:
            if (cl.Run.Module.empty()) throw EUsage(command + " needs --module PATH");
            if (!cl.Run.Click.empty() && cl.Run.Screenshot.empty()) throw EUsage("--click goes with --screenshot");
            cl.Run.Store = store;
            cl.Run.Instances.push_back(ParseInstanceID(instance));
            break;
        case TCommand::Run: {
            cl.Run.Store = store;
            if (!mqtt.empty()) cl.Run.Mqtt = ParseMqttOptions(mqtt);
            if (instance.empty() || instance == "all") {
                cl.Run.AllInstances = true;
                break;
            }
            std::set<uint16_t> ids;
            for (const std::string& part : Split(instance, ',')) {
                uint16_t id = ParseInstanceID(part);
                if (!ids.insert(id).second) throw EUsage("instance " + std::to_string(id) + " is given twice");
                cl.Run.Instances.push_back(id);
            }
            break;
        }
        case TCommand::Set:
            if (cl.Set.Values.empty()) throw EUsage("set needs at least one KEY=VALUE");
            cl.Set.Store = store;
            cl.Set.Instance = ParseInstanceID(instance);
            break;
        case TCommand::Get:
            cl.Get.Store = store;
            cl.Get.Instance = ParseInstanceID(instance);
            break;
        case TCommand::Help: break;
    }
    return cl;
}

const char* UsageText() {
    return "usage:\n"
           "  zelhost run [--module PATH] --store FILE [--instance ID[,ID...]|all] [--seconds N]\n"
           "              [--jsonl] [--kernel-state N] [--refuse LIST]\n"
           "              [--mqtt URL [--mqtt-prefix P] [--mqtt-client-id ID] [--mqtt-cafile FILE]\n"
           "                          [--mqtt-password-file FILE] [--mqtt-discovery [PREFIX]]]\n"
           "  zelhost set --store FILE --instance ID KEY=VALUE...\n"
           "  zelhost get --store FILE --instance ID\n"
           "  zelhost page --module PATH --store FILE --instance ID [--screenshot FILE.png]\n"
           "               [--click NAME] [--kernel-state N] [--jsonl]\n"
           "  zelhost detect --module PATH --store FILE --instance ID [--kernel-state N] [--jsonl]\n"
           "\n"
           "run        loads the module, creates an instance per ID (0 to 65535; without --instance or\n"
           "           with all: every instance the store has) and runs until N seconds have passed\n"
           "           (fractions allowed) or until SIGINT/SIGTERM; then releases the instances, which\n"
           "           saves their settings, and writes the store.\n"
           "  --module PATH    the module file; without it, IO.ALL3000 beside zelhost, else in\n"
           "                   ../lib/zelhost/modules from zelhost's folder (where it is installed)\n"
           "  --jsonl          one JSON object per event and line instead of readable lines\n"
           "  --kernel-state N what the kernel reports as its state (default 10013, running)\n"
           "  --refuse LIST    services to refuse, comma-separated: settings, variables, instances,\n"
           "                   scripter, debug\n"
           "  --mqtt URL       also sends the readings to the MQTT broker at mqtt://[user@]host[:port]\n"
           "                   (port 1883) or mqtts://[user@]host[:port] (TLS, port 8883)\n"
           "  --mqtt-prefix P  the first levels of every topic (default zelhost)\n"
           "  --mqtt-client-id ID  the client id at the broker (default zelhost-<this host's name>)\n"
           "  --mqtt-cafile FILE   the CA certificates for mqtts (default: the system's)\n"
           "  --mqtt-password-file FILE  the login's password, the file's first line; without it,\n"
           "                   ZELHOST_MQTT_PASSWORD (never on the command line)\n"
           "  --mqtt-discovery [PREFIX]  announces each bound input as a sensor under PREFIX\n"
           "                   (default homeassistant)\n"
           "set        stores values for one instance; KEY is the section path and the key joined by\n"
           "           \"/\" (Settings/IPAddress, Settings/S3/VarName); VALUE is taken byte for byte.\n"
           "get        prints the instance's values as KEY=VALUE lines in store order, byte for byte.\n"
           "page       creates the instance and shows its configuration page; runs until the page is\n"
           "           closed (OK and Apply change the configuration, saved when the host ends), or,\n"
           "           with --screenshot, renders the page into a PNG file and ends; --click NAME\n"
           "           first clicks the page's button of that name (btnDeviceSetup, btnApply, ...).\n"
           "detect     creates the instance, has it detect its box's sensors (what the page's\n"
           "           btnDeviceSetup does; a failure shows a message box) and releases it, which saves\n"
           "           the sensor types found; exits with 1 when the detection failed.\n"
           "\n"
           "A store serves one process at a time (gets may read it together): run, page and detect\n"
           "hold it until they end, set and get while they use it; a process that finds it held exits\n"
           "with 1 and changes nothing.\n"
           "\n"
           "Environment: ZELHOST_SELECT=NAME answers the variable selector with NAME instead of a\n"
           "dialog; set but empty, it refuses every selection.\n";
}

}  // namespace zelhost

namespace zelhost {

std::optional<std::string> LoadMqttPassword(const TMqttOptions& options) {
    std::optional<std::string> password;
    if (!options.PasswordFile.empty()) {
        const std::string& name = options.PasswordFile;
        std::FILE* file = std::fopen(name.c_str(), "rb");
        if (!file) throw zel::Exception("cannot read the MQTT password file " + name + ": " + std::strerror(errno));
        std::string text;
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        // A folder opens on some systems and fails only at the first read.
        const int error = std::ferror(file) ? errno : 0;
        std::fclose(file);
        if (error != 0)
            throw zel::Exception("cannot read the MQTT password file " + name + ": " + std::strerror(error));
        // Editors end the last line; the line break is not part of the password.
        if (text.ends_with("\r\n"))
            text.resize(text.size() - 2);
        else if (text.ends_with('\n'))
            text.pop_back();
        password = std::move(text);
    } else if (const char* variable = std::getenv("ZELHOST_MQTT_PASSWORD"); variable && *variable) {
        // Set but empty is how a commented-out line of /etc/default/zelhost often ends up.
        password = variable;
    }
    if (password && options.User.empty())
        throw zel::Exception("an MQTT password is given but the broker URL names no user (mqtt://user@host)");
    return password;
}

std::string DefaultClientId() {
    const std::string name = MachineName();
    return name.empty() ? "zelhost" : "zelhost-" + name;
}

}  // namespace zelhost
