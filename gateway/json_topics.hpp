// The JSON namespace: topic names and payloads, and the parsing of write
// commands. Pure functions; the MQTT side is in json_publisher.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "unit_state.hpp"

namespace wexo::gateway {

// <base>/<unit>/<kind>/<ch>
std::string value_topic(const std::string& base, const std::string& unit, ChannelId channel);
// {"value":1,"ts":"..."} or {"value":2.5,"unit":"V","raw":16384,"ts":"..."}
std::string value_payload(const Sample& sample);
// {"online":true,"model":17,"id":3,"ip":"...","mac":"..."}
std::string status_payload(const UnitInfo& info);
// {"ok":true,"value":..,"ts":..} or {"ok":false,"code":6,"message":"..."}
std::string result_payload(const WriteResult& result);

// A command topic "<base>/<unit>/<kind>/<ch>/set" split up; nullopt for any
// other topic.
struct CommandTopic {
    std::string unit;
    OutputRef output;
};
std::optional<CommandTopic> parse_command_topic(const std::string& base, const std::string& topic);

// The value of a write: do takes 1, 0, true, false or {"value":..};
// ao takes {"value":2.5,"unit":"V"|"mA"} or counts (a bare number or
// {"value":N}). A refusal is its message.
using ParsedWrite = std::variant<std::pair<double, WriteRequest::Scale>, std::string>;
ParsedWrite parse_write_payload(Kind kind, const std::string& payload);

}  // namespace wexo::gateway
