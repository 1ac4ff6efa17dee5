// Model table, names and text forms of the simulator's types.
#include "internal.hpp"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace wexosim {

namespace {

// The columns of the library's model table: outputs, inputs, auto
// switching, pulse, the five settings, analog outputs, analog inputs.
struct Row {
    int code, outputs, inputs, auto_switching, pulse;
    std::array<int, 5> settings;
    int analog_outputs, analog_inputs;
};
// The rows that are not all zero; every other code offers nothing.
constexpr Row kModels[] = {
    {0, 2, 3, 2, 1, {1, 1, 1, 1, 1}, 0, 0},  {1, 3, 2, 2, 2, {2, 2, 2, 2, 2}, 0, 0},
    {2, 0, 7, 0, 2, {2, 2, 2, 2, 2}, 0, 0},  {3, 5, 0, 1, 0, {0, 0, 0, 0, 0}, 0, 0},
    {4, 5, 2, 1, 2, {2, 2, 2, 2, 2}, 0, 0},  {5, 0, 5, 0, 1, {1, 1, 1, 1, 1}, 0, 0},
    {6, 3, 3, 2, 1, {1, 1, 1, 1, 1}, 0, 0},  {7, 2, 2, 0, 0, {0, 1, 0, 1, 0}, 0, 0},
    {8, 2, 2, 0, 0, {0, 1, 0, 1, 0}, 0, 0},  {9, 2, 2, 0, 0, {0, 1, 0, 1, 0}, 0, 0},
    {10, 2, 2, 0, 0, {0, 1, 0, 1, 0}, 0, 0}, {17, 4, 4, 3, 3, {3, 3, 3, 3, 3}, 0, 0},
    {19, 8, 0, 3, 0, {0, 0, 0, 0, 0}, 0, 0}, {20, 8, 0, 3, 0, {0, 0, 0, 0, 0}, 0, 0},
    {21, 0, 8, 0, 3, {3, 3, 3, 3, 3}, 0, 0}, {22, 4, 4, 3, 3, {3, 3, 3, 3, 3}, 0, 0},
    {25, 2, 2, 3, 3, {3, 3, 3, 3, 3}, 0, 0}, {26, 2, 2, 3, 3, {3, 3, 3, 3, 3}, 0, 0},
    {40, 2, 3, 0, 0, {0, 0, 0, 0, 0}, 0, 3}, {41, 0, 3, 0, 0, {0, 4, 0, 4, 4}, 2, 0},
    {42, 2, 3, 0, 0, {0, 0, 0, 0, 0}, 0, 3}, {43, 0, 2, 0, 0, {0, 4, 0, 4, 4}, 3, 0},
    {44, 0, 5, 0, 0, {0, 0, 0, 0, 0}, 0, 5},
};
// Model 40's analog inputs take no thermocouples.
constexpr int kNoThermocouple = 40;

constexpr const char* kEndpointNames[] = {"data", "udp", "pins", "pinmode", "setup"};
constexpr const char* kFaultNames[] = {"none",     "silence", "split",         "stale",
                                       "foreign",  "overlong", "garbage",     "close",
                                       "truncate", "wrongecho", "raw",      "drip",
                                       "flood"};
constexpr const char* kWaveNames[] = {"constant", "ramp", "sine"};

}  // namespace

BoardModel board_model(int model_code) {
    for (const Row& r : kModels)
        if (r.code == model_code)
            return {r.outputs,        r.inputs,        r.auto_switching,
                    r.analog_outputs, r.analog_inputs, r.analog_inputs > 0 && r.code != kNoThermocouple,
                    r.pulse,          r.settings};
    return {};
}

const char* endpoint_name(Endpoint ep) { return kEndpointNames[detail::idx(ep)]; }

std::optional<Endpoint> endpoint_from_name(const std::string& name) {
    for (int i = 0; i < detail::kEndpoints; ++i)
        if (name == kEndpointNames[i]) return static_cast<Endpoint>(i);
    return std::nullopt;
}

const char* fault_name(FaultKind kind) {
    auto i = static_cast<std::size_t>(kind);
    return i < std::size(kFaultNames) ? kFaultNames[i] : nullptr;
}

std::optional<FaultKind> fault_from_name(const std::string& name) {
    for (std::size_t i = 0; i < std::size(kFaultNames); ++i)
        if (name == kFaultNames[i]) return static_cast<FaultKind>(i);
    return std::nullopt;
}

const char* wave_name(Wave wave) {
    auto i = static_cast<std::size_t>(wave);
    return i < std::size(kWaveNames) ? kWaveNames[i] : nullptr;
}

std::optional<Wave> wave_from_name(const std::string& name) {
    for (std::size_t i = 0; i < std::size(kWaveNames); ++i)
        if (name == kWaveNames[i]) return static_cast<Wave>(i);
    return std::nullopt;
}

namespace detail {

long parse_number(const std::string& key, const std::string& value, long lo, long hi) {
    try {
        std::size_t used = 0;
        long v = std::stol(value, &used, 0);
        if (used == value.size() && v >= lo && v <= hi) return v;
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("bad value for " + key + ": " + value);
}

bool parse_bool(const std::string& key, const std::string& value) {
    if (value == "on" || value == "1" || value == "yes" || value == "true") return true;
    if (value == "off" || value == "0" || value == "no" || value == "false") return false;
    throw std::invalid_argument("bad value for " + key + ": " + value + " (on/off)");
}

}  // namespace detail

std::string to_hex(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

Bytes from_hex(const std::string& text) {
    Bytes out;
    int nibble = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-' || c == ',') {
            if (nibble >= 0) throw std::invalid_argument("odd hex digit count: " + text);
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument("not hex: " + text);
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(nibble << 4 | v));
            nibble = -1;
        }
    }
    if (nibble >= 0) throw std::invalid_argument("odd hex digit count: " + text);
    return out;
}

}  // namespace wexosim
