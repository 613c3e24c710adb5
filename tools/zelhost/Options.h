#pragma once
// The command line:
//   zelhost run [--module PATH] --store FILE [--instance ID[,ID...]|all] [--seconds N] [--jsonl]
//               [--kernel-state N] [--refuse LIST]
//               [--mqtt URL [--mqtt-prefix P] [--mqtt-client-id ID] [--mqtt-cafile FILE]
//                           [--mqtt-password-file FILE] [--mqtt-discovery [PREFIX]]]
//   zelhost set --store FILE --instance ID KEY=VALUE...
//   zelhost get --store FILE --instance ID
//   zelhost page --module PATH --store FILE --instance ID [--screenshot FILE.png] [--click NAME]
//                [--kernel-state N] [--jsonl]
//   zelhost detect --module PATH --store FILE --instance ID [--kernel-state N] [--jsonl]
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Exceptions.h"

namespace zelhost {

// Bad arguments: the message goes out with the usage text, exit code 2.
class EUsage : public zel::Exception {
public:
    using Exception::Exception;
};

// Services the kernel answers E_NOINTERFACE for, so that tests can see a module cope without them.
struct TRefusals {
    bool Settings = false;
    bool Variables = false;
    bool Instances = false;
    bool Scripter = false;
    bool Debug = false;
};

// `run --mqtt URL ...`: the broker the readings go to, and how.
struct TMqttOptions {
    bool Tls = false;  // mqtts://
    std::string Host;
    uint16_t Port = 1883;  // 8883 for mqtts:// without a port
    std::string User;      // empty: no login
    std::string Prefix = "zelhost";
    std::string ClientId;      // empty: "zelhost-" and the host's name
    std::string CaFile;        // mqtts:// only; empty: the system's CA store
    std::string PasswordFile;  // empty: ZELHOST_MQTT_PASSWORD when it is set
    std::optional<std::string> DiscoveryPrefix;  // --mqtt-discovery [PREFIX]
};

struct TRunOptions {
    std::string Module;  // empty for `run`: the module installed beside zelhost
    std::string Store;
    std::vector<uint16_t> Instances;
    // `run` without --instance or with --instance all: every instance of the store.
    bool AllInstances = false;
    std::optional<TMqttOptions> Mqtt;
    // Without it the host runs until SIGINT or SIGTERM.
    std::optional<int> Milliseconds;
    bool Json = false;
    std::optional<int32_t> KernelState;
    TRefusals Refuse;
    // `page`: show the one instance's configuration page; the run ends when it is closed, or,
    // with a screenshot file, once the page has been rendered into it.
    bool Page = false;
    std::string Screenshot;
    // A button of the page (by name) clicked before the screenshot is taken.
    std::string Click;
    // `detect`: runs the one instance's sensor detection instead of the event loop.
    bool Detect = false;
};

struct TAssignment {
    std::vector<std::string> Path;  // sections
    std::string Key;
    std::string Value;  // bytes as given, no conversion
};

struct TSetOptions {
    std::string Store;
    uint16_t Instance = 0;
    std::vector<TAssignment> Values;
};

struct TGetOptions {
    std::string Store;
    uint16_t Instance = 0;
};

enum class TCommand { Help, Run, Set, Get, Page, Detect };

struct TCommandLine {
    TCommand Command = TCommand::Help;
    TRunOptions Run;
    TSetOptions Set;
    TGetOptions Get;
};

// `args` without the program name. EUsage for anything that is not exactly the forms above.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
const char* UsageText();

// The broker's password, read when the bridge starts: the password file's contents without one
// trailing line break, else ZELHOST_MQTT_PASSWORD when it is set and not empty, else none. zel::Exception, with
// the reason but never the contents, when the file cannot be read or a password comes with a URL
// that names no user (a login needs both).
std::optional<std::string> LoadMqttPassword(const TMqttOptions& options);
// "zelhost-" and this machine's name: the client id when --mqtt-client-id is not given.
std::string DefaultClientId();

}  // namespace zelhost
