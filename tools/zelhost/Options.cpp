#include "Options.h"

#include "platform/TextUtils.h"

#include <charconv>
#include <cmath>
#include <set>

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
        allowed.insert({"--module", "--seconds", "--jsonl", "--kernel-state", "--refuse"});
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
    }

    if (store.empty()) throw EUsage(command + " needs --store FILE");
    if (instance.empty()) throw EUsage(command + " needs --instance ID");
    switch (cl.Command) {
        case TCommand::Page:
        case TCommand::Detect:
            if (cl.Run.Module.empty()) throw EUsage(command + " needs --module PATH");
            if (!cl.Run.Click.empty() && cl.Run.Screenshot.empty()) throw EUsage("--click goes with --screenshot");
            cl.Run.Store = store;
            cl.Run.Instances.push_back(ParseInstanceID(instance));
            break;
        case TCommand::Run: {
            if (cl.Run.Module.empty()) throw EUsage("run needs --module PATH");
            cl.Run.Store = store;
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
           "  zelhost run --module PATH --store FILE --instance ID[,ID...] [--seconds N] [--jsonl]\n"
           "              [--kernel-state N] [--refuse LIST]\n"
           "  zelhost set --store FILE --instance ID KEY=VALUE...\n"
           "  zelhost get --store FILE --instance ID\n"
           "  zelhost page --module PATH --store FILE --instance ID [--screenshot FILE.png]\n"
           "               [--click NAME] [--kernel-state N] [--jsonl]\n"
           "  zelhost detect --module PATH --store FILE --instance ID [--kernel-state N] [--jsonl]\n"
           "\n"
           "run        loads the module, creates an instance per ID (0 to 65535) and runs until N seconds\n"
           "           have passed (fractions allowed) or until SIGINT/SIGTERM; then releases the\n"
           "           instances, which saves their settings, and writes the store.\n"
           "  --jsonl          one JSON object per event and line instead of readable lines\n"
           "  --kernel-state N what the kernel reports as its state (default 10013, running)\n"
           "  --refuse LIST    services to refuse, comma-separated: settings, variables, instances,\n"
           "                   scripter, debug\n"
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
