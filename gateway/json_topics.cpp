#include "json_topics.hpp"

#include <nlohmann/json.hpp>

namespace wexo::gateway {

using nlohmann::json;

namespace {

json sample_json(const Sample& s) {
    json j;
    // Digital values and counters are whole numbers.
    if (!s.raw && s.unit.empty()) j["value"] = static_cast<long long>(s.value);
    else j["value"] = s.value;
    if (!s.unit.empty()) j["unit"] = s.unit;
    if (s.raw) j["raw"] = *s.raw;
    j["ts"] = rfc3339(s.ts);
    return j;
}

}  // namespace

std::string value_topic(const std::string& base, const std::string& unit, ChannelId channel) {
    return base + "/" + unit + "/" + kind_name(channel.kind) + "/" + std::to_string(channel.channel);
}

std::string value_payload(const Sample& sample) { return sample_json(sample).dump(); }

std::string status_payload(const UnitInfo& info) {
    json j;
    j["online"] = info.online;
    j["model"] = info.model;
    // A board ID not yet known (a unit configured by its model) is null.
    j["id"] = info.id >= 0 ? json(info.id) : json(nullptr);
    j["ip"] = info.ip;
    j["mac"] = info.mac;
    return j.dump();
}

std::string result_payload(const WriteResult& r) {
    json j;
    j["ok"] = r.ok;
    if (!r.ok) {
        j["code"] = r.code;
        j["message"] = r.message;
    }
    if (r.now) {
        const json now = sample_json(*r.now);
        for (const auto& [k, v] : now.items()) j[k] = v;
    }
    return j.dump();
}

std::optional<CommandTopic> parse_command_topic(const std::string& base, const std::string& topic) {
    if (topic.rfind(base + "/", 0) != 0) return std::nullopt;
    const std::string rest = topic.substr(base.size() + 1);
    // unit / kind / ch / set
    const auto a = rest.find('/');
    if (a == std::string::npos) return std::nullopt;
    const auto b = rest.find('/', a + 1);
    if (b == std::string::npos) return std::nullopt;
    const auto c = rest.find('/', b + 1);
    if (c == std::string::npos || rest.substr(c + 1) != "set") return std::nullopt;
    const auto output = parse_output(rest.substr(a + 1, c - a - 1));
    if (!output || a == 0) return std::nullopt;
    return CommandTopic{rest.substr(0, a), *output};
}

ParsedWrite parse_write_payload(Kind kind, const std::string& payload) {
    json j = json::parse(payload, nullptr, false);
    if (j.is_discarded()) return std::string("the payload is not JSON: ") + payload.substr(0, 64);
    std::string unit;
    if (j.is_object()) {
        if (!j.contains("value")) return std::string("the payload has no \"value\"");
        if (j.contains("unit")) {
            if (!j["unit"].is_string()) return std::string("\"unit\" must be \"V\" or \"mA\"");
            unit = j["unit"].get<std::string>();
        }
        j = j["value"];
    }
    double value = 0;
    if (j.is_boolean()) value = j.get<bool>() ? 1 : 0;
    else if (j.is_number()) value = j.get<double>();
    else return std::string("the value must be a number or true/false");
    if (kind == Kind::kDO) {
        if (!unit.empty()) return std::string("digital outputs take no unit");
        return std::pair{value, WriteRequest::Scale::kState};
    }
    if (j.is_boolean()) return std::string("analog outputs take a number");
    if (unit.empty()) return std::pair{value, WriteRequest::Scale::kCounts};
    if (unit == "V") return std::pair{value, WriteRequest::Scale::kVolts};
    if (unit == "mA") return std::pair{value, WriteRequest::Scale::kMilliamps};
    return std::string("\"unit\" must be \"V\" or \"mA\"");
}

}  // namespace wexo::gateway
