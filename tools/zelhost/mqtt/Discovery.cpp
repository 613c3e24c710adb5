#include "Discovery.h"

#include <fstream>
#include <map>

#include "Events.h"
#include "StoreFile.h"
#include "device/IO.ALL3000_Types.h"
#include "platform/TextUtils.h"

namespace zelhost {

namespace {

// What a sensor type adds to the common fields: the component, then the fields in key order.
struct TKind {
    const char* Component;
    const char* Fields;
};

TKind KindOf(uint8_t type) {
    switch (type) {
        case zel::stTemperature:
            return {"sensor", R"("device_class":"temperature","unit_of_measurement":"°C","state_class":"measurement",)"};
        case zel::stPressure:
            return {"sensor",
                    R"("device_class":"atmospheric_pressure","unit_of_measurement":"hPa","state_class":"measurement",)"};
        case zel::stMoisture:
            return {"sensor", R"("device_class":"humidity","unit_of_measurement":"%","state_class":"measurement",)"};
        case zel::stSwitch: return {"binary_sensor", R"("payload_on":"ON","payload_off":"OFF",)"};
        case zel::stAnalog: return {"sensor", R"("state_class":"measurement",)"};
        default: return {"sensor", R"("state_class":"total_increasing",)"};  // the counter only grows
    }
}

// availability and device, shared by every entity of the instance.
std::string CommonTail(const TDiscoveryNames& names, uint16_t instance) {
    const std::string id = std::to_string(instance);
    return R"("availability":[{"topic":)" + JsonString(names.Topics.Status()) + R"(},{"topic":)" +
           JsonString(names.Topics.InstanceStatus(instance)) +
           R"(,"value_template":"{{ 'online' if value == '102' else 'offline' }}"}],"availability_mode":"all",)" +
           R"("device":{"identifiers":[)" + JsonString(names.Node + "_i" + id) + R"(],"name":"ALL3000 #)" + id +
           R"(","model":"ALL3000","manufacturer":"zelhost"}})";
}

}  // namespace

std::vector<TBoundInput> BoundInputs(const std::vector<TSettingsStore::TValue>& values) {
    std::map<std::string, std::string, std::less<>> byKey;
    for (const TSettingsStore::TValue& v : values) byKey[v.Key] = v.Value;
    std::vector<TBoundInput> inputs;
    for (int i = 0; i < zel::kALL3000Inputs; ++i) {
        const std::string section = "Settings/S" + std::to_string(i) + "/";
        auto name = byKey.find(section + "VarName");
        auto stored = byKey.find(section + "DeviceType");
        int32_t type = 0;
        // The module's reading: a '+' sign is no number to it, and only the low byte is the type.
        if (name == byKey.end() || name->second.empty() || stored == byKey.end() || stored->second.starts_with('+') ||
            !zel::TryStrToInt(stored->second, type))
            continue;
        const auto low = static_cast<uint8_t>(static_cast<uint32_t>(type) & 0xFFu);
        if (low >= zel::stTemperature && low <= zel::stCounter) inputs.push_back({i, name->second, low});
    }
    return inputs;
}

std::vector<TRetainedMessage> DiscoveryConfigs(const TDiscoveryNames& names, uint16_t instance,
                                               const std::vector<TBoundInput>& inputs) {
    const std::string object = names.Node + "_i" + std::to_string(instance);
    std::vector<TRetainedMessage> configs;
    for (const TBoundInput& input : inputs) {
        const TKind kind = KindOf(input.Type);
        const std::string unique = object + "_s" + std::to_string(input.Index);
        configs.push_back({names.Prefix + "/" + kind.Component + "/" + names.Node + "/i" + std::to_string(instance) +
                               "_s" + std::to_string(input.Index) + "/config",
                           "{\"name\":" + JsonString(zel::Win1252ToUtf8(input.Name)) +
                               ",\"unique_id\":" + JsonString(unique) +
                               ",\"state_topic\":" + JsonString(names.Topics.Variable(input.Name)) + "," + kind.Fields +
                               CommonTail(names, instance)});
    }
    configs.push_back({names.Prefix + "/button/" + names.Node + "/i" + std::to_string(instance) + "_update/config",
                       R"({"name":"Update now","unique_id":)" + JsonString(object + "_update") +
                           ",\"command_topic\":" + JsonString(names.Topics.Command(instance)) +
                           R"(,"payload_press":"update",)" + CommonTail(names, instance)});
    return configs;
}

std::vector<TPublishedConfig> ReadPublishedConfigs(const std::string& fileName) {
    std::vector<TPublishedConfig> configs;
    std::ifstream in(fileName, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        int32_t id = 0;
        if (space == std::string::npos || space + 1 == line.size() || !zel::TryStrToInt(line.substr(0, space), id) ||
            id < 0 || id > 65535)
            continue;
        configs.push_back({static_cast<uint16_t>(id), line.substr(space + 1)});
    }
    return configs;
}

void WritePublishedConfigs(const std::string& fileName, const std::vector<TPublishedConfig>& configs) {
    std::string text;
    for (const TPublishedConfig& c : configs) text += std::to_string(c.Instance) + " " + c.Topic + "\n";
    AtomicWriteFile(fileName, text);
}

}  // namespace zelhost
