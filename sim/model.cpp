// Model table, names and text forms of the simulator's types.
#include "internal.hpp"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace wexosim {

namespace {

struct Row {
    int code, outputs, inputs, auto_switching;
};
// The rows that are not all zero; every other code offers nothing.
constexpr Row kModels[] = {
    {0, 2, 3, 2},  {1, 3, 2, 2},  {2, 0, 7, 0},  {3, 5, 0, 1},  {4, 5, 2, 1},
    {5, 0, 5, 0},  {6, 3, 3, 2},  {7, 2, 2, 0},  {8, 2, 2, 0},  {9, 2, 2, 0},
    {10, 2, 2, 0}, {17, 4, 4, 3}, {19, 8, 0, 3}, {20, 8, 0, 3}, {21, 0, 8, 0},
    {22, 4, 4, 3}, {25, 2, 2, 3}, {26, 2, 2, 3}, {40, 2, 3, 0}, {41, 0, 3, 0},
    {42, 2, 3, 0}, {43, 0, 2, 0}, {44, 0, 5, 0},
};

constexpr const char* kEndpointNames[] = {"data", "udp", "pins", "pinmode", "setup"};
constexpr const char* kFaultNames[] = {"none",     "silence", "split",         "stale",
                                       "foreign",  "overlong", "garbage",     "close",
                                       "truncate", "wrongecho", "raw"};

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

IdentForm parse_ident(const std::string& v) {
    if (v == "auto") return IdentForm::Auto;
    if (v == "plain") return IdentForm::BinaryPlain;
    if (v == "extended") return IdentForm::BinaryExtended;
    if (v == "mi-basic") return IdentForm::MiBasic;
    if (v == "mi-extended") return IdentForm::MiExtended;
    throw std::invalid_argument("bad value for ident: " + v);
}

// "a.b.c" or "a/b/c" -> three bytes
std::array<std::uint8_t, 3> parse_triple(const std::string& key, const std::string& v) {
    std::array<std::uint8_t, 3> out{};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t end = v.find_first_of("./", start);
        if ((i < 2) != (end != std::string::npos)) throw std::invalid_argument("bad value for " + key + ": " + v);
        out[i] = static_cast<std::uint8_t>(parse_number(key, v.substr(start, end - start), 0, 255));
        start = end + 1;
    }
    return out;
}

}  // namespace

ModelSpec model_spec(int model_code) {
    for (const Row& r : kModels)
        if (r.code == model_code) return {r.outputs, r.inputs, r.auto_switching};
    return {};
}

const char* endpoint_name(Endpoint ep) { return kEndpointNames[detail::idx(ep)]; }

std::optional<Endpoint> endpoint_from_name(const std::string& name) {
    for (int i = 0; i < detail::kEndpoints; ++i)
        if (name == kEndpointNames[i]) return static_cast<Endpoint>(i);
    return std::nullopt;
}

const char* fault_name(FaultKind kind) { return kFaultNames[static_cast<int>(kind)]; }

std::optional<FaultKind> fault_from_name(const std::string& name) {
    for (std::size_t i = 0; i < std::size(kFaultNames); ++i)
        if (name == kFaultNames[i]) return static_cast<FaultKind>(i);
    return std::nullopt;
}

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

UnitConfig parse_unit_spec(const std::string& text) {
    UnitConfig c;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("expected key=value: " + item);
        std::string k = item.substr(0, eq), v = item.substr(eq + 1);
        auto num = [&](long lo, long hi) { return parse_number(k, v, lo, hi); };
        auto port = [&] { return static_cast<std::uint16_t>(num(0, 65535)); };
        auto byte = [&] { return static_cast<std::uint8_t>(num(0, 255)); };
        auto flag = [&] { return parse_bool(k, v); };
        auto serial2 = [&]() -> SerialSettings& {
            if (!c.serial2) c.serial2 = c.serial;
            return *c.serial2;
        };

        if (k == "ip") {
            in_addr a{};
            if (inet_pton(AF_INET, v.c_str(), &a) != 1) throw std::invalid_argument("bad ip: " + v);
            c.ip = v;
        } else if (k == "model") c.model = static_cast<int>(num(0, 255));
        else if (k == "id") c.board_id = static_cast<int>(num(0, 15));
        else if (k == "ident") c.ident = parse_ident(v);
        else if (k == "outputs") c.outputs = static_cast<int>(num(0, 16));
        else if (k == "inputs") c.inputs = static_cast<int>(num(0, 16));
        else if (k == "port") c.data_port = port();
        else if (k == "answer-ident") c.answer_ident = flag();
        else if (k == "status") c.status_reply = from_hex(v);
        else if (k == "in") c.initial_inputs = static_cast<std::uint32_t>(num(0, 0xFFFF));
        else if (k == "out") c.initial_outputs = static_cast<std::uint32_t>(num(0, 0xFFFF));
        else if (k == "module") c.module = flag();
        else if (k == "udp-port") c.udp_port = port();
        else if (k == "pins-port") c.pins_port = port();
        else if (k == "pinmode") c.pinmode_listener = flag();
        else if (k == "pinmode-port") c.pinmode_port = port();
        else if (k == "setup") c.setup_listener = flag();
        else if (k == "setup-port") c.setup_port = port();
        else if (k == "ignore-discovery") c.ignore_discovery = flag();
        else if (k == "answer-query") c.answer_query = flag();
        else if (k == "answer-probe") c.answer_probe = flag();
        else if (k == "answer-setup") c.answer_setup_query = flag();
        else if (k == "answer-text") c.answer_ident_text = flag();
        else if (k == "answer-cp") c.answer_cp_query = flag();
        else if (k == "firm") {
            if (v.size() != 2) throw std::invalid_argument("firm needs two letters: " + v);
            c.firm_type = v;
        } else if (k == "version") {
            std::size_t dot = v.find('.');
            if (dot == std::string::npos) throw std::invalid_argument("version needs major.minor: " + v);
            c.firm_major = static_cast<int>(parse_number(k, v.substr(0, dot), 0, 15));
            c.firm_minor = static_cast<int>(parse_number(k, v.substr(dot + 1), 0, 15));
        } else if (k == "mac") {
            Bytes m = from_hex(v);
            if (m.size() != 6) throw std::invalid_argument("mac needs 6 bytes: " + v);
            std::array<std::uint8_t, 6> a{};
            std::copy(m.begin(), m.end(), a.begin());
            c.mac = a;
        } else if (k == "text") {
            if (v.size() > 15) throw std::invalid_argument("text longer than 15: " + v);
            c.ident_text = v;
        } else if (k == "serial-flags") c.serial.flags = byte();
        else if (k == "baud") c.serial.baud = byte();
        else if (k == "flow") c.serial.flow = byte();
        else if (k == "record-port") c.serial.port = port();
        else if (k == "serial-flags2") serial2().flags = byte();
        else if (k == "baud2") serial2().baud = byte();
        else if (k == "flow2") serial2().flow = byte();
        else if (k == "record-port2") serial2().port = port();
        else if (k == "cp") c.cp_modes = parse_triple(k, v);
        else if (k == "cp-flag") c.cp_flag = byte();
        else if (k == "setup-record") c.setup_record = from_hex(v);
        else if (k == "cp-block") c.cp_block = from_hex(v);
        else if (k == "greeting") c.pins_greeting = from_hex(v);
        else if (k == "pins") c.initial_pins = static_cast<std::uint8_t>(num(0, 7));
        else throw std::invalid_argument("unknown unit key: " + k);
    }
    return c;
}

}  // namespace wexosim
