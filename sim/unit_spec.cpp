// The --unit definition: "key=value,key=value,...", one table row per key.
#include "internal.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <stdexcept>

namespace wexosim {

using detail::parse_bool;
using detail::parse_number;

namespace {

struct Item {
    std::string key, value;
    long num(long lo, long hi) const { return parse_number(key, value, lo, hi); }
    std::uint16_t port() const { return static_cast<std::uint16_t>(num(0, 65535)); }
    std::uint8_t byte() const { return static_cast<std::uint8_t>(num(0, 255)); }
    bool flag() const { return parse_bool(key, value); }
    Bytes hex() const { return from_hex(value); }
    [[noreturn]] void bad(const std::string& why) const {
        throw std::invalid_argument("bad value for " + key + ": " + value + " (" + why + ")");
    }
};

IdentForm ident_form(const Item& it) {
    static constexpr std::pair<const char*, IdentForm> kForms[] = {
        {"auto", IdentForm::Auto},          {"plain", IdentForm::BinaryPlain},  {"extended", IdentForm::BinaryExtended},
        {"mi-basic", IdentForm::MiBasic},   {"mi-extended", IdentForm::MiExtended}};
    for (auto [name, form] : kForms)
        if (it.value == name) return form;
    it.bad("auto, plain, extended, mi-basic or mi-extended");
}

// "a.b.c" or "a/b/c" -> three bytes
std::array<std::uint8_t, 3> triple(const Item& it) {
    std::array<std::uint8_t, 3> out{};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t end = it.value.find_first_of("./", start);
        if ((i < 2) != (end != std::string::npos)) it.bad("M1.M2.M3");
        out[i] = static_cast<std::uint8_t>(parse_number(it.key, it.value.substr(start, end - start), 0, 255));
        start = end + 1;
    }
    return out;
}

SerialSettings& second_layout(UnitConfig& c) {
    if (!c.serial2) c.serial2 = c.serial;
    return *c.serial2;
}

struct Key {
    const char* name;
    const char* help;
    void (*parse)(UnitConfig&, const Item&);
};

constexpr Key kKeys[] = {
    {"ip", "unit address (127.0.0.2)",
     [](UnitConfig& c, const Item& it) {
         in_addr a{};
         if (inet_pton(AF_INET, it.value.c_str(), &a) != 1) it.bad("an IPv4 address");
         c.ip = it.value;
     }},
    {"model", "model code (17)", [](UnitConfig& c, const Item& it) { c.model = static_cast<int>(it.num(0, 255)); }},
    {"id", "board ID 0..15 (0)", [](UnitConfig& c, const Item& it) { c.board_id = static_cast<int>(it.num(0, 15)); }},
    {"ident", "auto|plain|extended|mi-basic|mi-extended (auto)",
     [](UnitConfig& c, const Item& it) { c.ident = ident_form(it); }},
    {"outputs", "output count (from the model)",
     [](UnitConfig& c, const Item& it) { c.outputs = static_cast<int>(it.num(0, 16)); }},
    {"inputs", "input count (from the model)",
     [](UnitConfig& c, const Item& it) { c.inputs = static_cast<int>(it.num(0, 16)); }},
    {"port", "data port (10003; 0: any)", [](UnitConfig& c, const Item& it) { c.data_port = it.port(); }},
    {"answer-ident", "answer identification (on)", [](UnitConfig& c, const Item& it) { c.answer_ident = it.flag(); }},
    {"status", "exact 55 55 reply, hex", [](UnitConfig& c, const Item& it) { c.status_reply = it.hex(); }},
    {"in", "initial inputs (0)",
     [](UnitConfig& c, const Item& it) { c.initial_inputs = static_cast<std::uint32_t>(it.num(0, 0xFFFF)); }},
    {"out", "initial outputs (0)",
     [](UnitConfig& c, const Item& it) { c.initial_outputs = static_cast<std::uint32_t>(it.num(0, 0xFFFF)); }},
    {"pins", "initial pin bits (0)",
     [](UnitConfig& c, const Item& it) { c.initial_pins = static_cast<std::uint8_t>(it.num(0, 7)); }},
    {"module", "serve the module's endpoints (off)", [](UnitConfig& c, const Item& it) { c.module = it.flag(); }},
    {"udp-port", "module UDP port (30718; 0: any)", [](UnitConfig& c, const Item& it) { c.udp_port = it.port(); }},
    {"pins-port", "pins port (30704; 0: any)", [](UnitConfig& c, const Item& it) { c.pins_port = it.port(); }},
    {"pinmode", "pin-mode listener (off)", [](UnitConfig& c, const Item& it) { c.pinmode_listener = it.flag(); }},
    {"pinmode-port", "pin-mode port (30718)", [](UnitConfig& c, const Item& it) { c.pinmode_port = it.port(); }},
    {"setup", "setup-menu listener (on with module)", [](UnitConfig& c, const Item& it) { c.setup_listener = it.flag(); }},
    {"setup-port", "setup-menu port (9999)", [](UnitConfig& c, const Item& it) { c.setup_port = it.port(); }},
    {"restart", "milliseconds a restart keeps the ports down (2000)",
     [](UnitConfig& c, const Item& it) { c.restart_ms = static_cast<int>(it.num(0, 600000)); }},
    {"ignore-discovery", "answer no discovery at all (off)",
     [](UnitConfig& c, const Item& it) { c.ignore_discovery = it.flag(); }},
    {"answer-query", "answer 00 00 00 F6 (on)", [](UnitConfig& c, const Item& it) { c.answer_query = it.flag(); }},
    {"answer-probe", "answer \"WX\" (off)", [](UnitConfig& c, const Item& it) { c.answer_probe = it.flag(); }},
    {"answer-setup", "answer 00 00 00 F8 (on)",
     [](UnitConfig& c, const Item& it) { c.answer_setup_query = it.flag(); }},
    {"answer-text", "answer 00 00 00 F4 (on)", [](UnitConfig& c, const Item& it) { c.answer_ident_text = it.flag(); }},
    {"answer-cp", "answer 00 00 00 E7 (on)", [](UnitConfig& c, const Item& it) { c.answer_cp_query = it.flag(); }},
    {"firm", "firmware type, two letters (X6)",
     [](UnitConfig& c, const Item& it) {
         if (it.value.size() != 2) it.bad("two letters");
         c.firm_type = it.value;
     }},
    {"version", "firmware MAJOR.MINOR (6.1)",
     [](UnitConfig& c, const Item& it) {
         std::size_t dot = it.value.find('.');
         if (dot == std::string::npos) it.bad("MAJOR.MINOR");
         c.firm_major = static_cast<int>(parse_number(it.key, it.value.substr(0, dot), 0, 15));
         c.firm_minor = static_cast<int>(parse_number(it.key, it.value.substr(dot + 1), 0, 15));
     }},
    {"mac", "MAC address, hex bytes with ':' (02:57:58:00 and the address's last two octets)",
     [](UnitConfig& c, const Item& it) {
         Bytes m = it.hex();
         if (m.size() != 6) it.bad("6 bytes");
         c.mac.emplace();
         std::copy(m.begin(), m.end(), c.mac->begin());
     }},
    {"text", "identification text, up to 15 characters (GC-WEXO)",
     [](UnitConfig& c, const Item& it) {
         if (it.value.size() > 15) it.bad("up to 15 characters");
         c.ident_text = it.value;
     }},
    {"serial-flags", "serial flags, first layout (0x4C)", [](UnitConfig& c, const Item& it) { c.serial.flags = it.byte(); }},
    {"baud", "baud code, first layout (2)", [](UnitConfig& c, const Item& it) { c.serial.baud = it.byte(); }},
    {"flow", "flow control, first layout (0)", [](UnitConfig& c, const Item& it) { c.serial.flow = it.byte(); }},
    {"record-port", "data port in the record, first layout (the data port)",
     [](UnitConfig& c, const Item& it) { c.serial.port = it.port(); }},
    {"serial-flags2", "serial flags, second layout (as the first)",
     [](UnitConfig& c, const Item& it) { second_layout(c).flags = it.byte(); }},
    {"baud2", "baud code, second layout", [](UnitConfig& c, const Item& it) { second_layout(c).baud = it.byte(); }},
    {"flow2", "flow control, second layout", [](UnitConfig& c, const Item& it) { second_layout(c).flow = it.byte(); }},
    {"record-port2", "data port in the record, second layout",
     [](UnitConfig& c, const Item& it) { second_layout(c).port = it.port(); }},
    {"cp", "pin modes M1.M2.M3 (model 1: 5.7.9, else 0.2.1)",
     [](UnitConfig& c, const Item& it) { c.cp_modes = triple(it); }},
    {"cp-flag", "pin block byte 129 (0)", [](UnitConfig& c, const Item& it) { c.cp_flag = it.byte(); }},
    {"setup-record", "exact 124-byte setup record, hex", [](UnitConfig& c, const Item& it) { c.setup_record = it.hex(); }},
    {"cp-block", "exact 130-byte pin block, hex", [](UnitConfig& c, const Item& it) { c.cp_block = it.hex(); }},
    {"eeprom", "EEPROM image to start with, a raw 4096-byte file (zeros)",
     [](UnitConfig& c, const Item& it) {
         try {
             const Eeprom e = read_eeprom_file(it.value);
             c.eeprom.assign(e.begin(), e.end());
         } catch (const std::runtime_error& e) {
             it.bad(e.what());
         }
     }},
    {"greeting", "pins greeting before firmware 1.5, hex (00 00 00 00)",
     [](UnitConfig& c, const Item& it) { c.pins_greeting = it.hex(); }},
};

}  // namespace

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
        Item it{item.substr(0, eq), item.substr(eq + 1)};
        auto key = std::find_if(std::begin(kKeys), std::end(kKeys), [&](const Key& k) { return it.key == k.name; });
        if (key == std::end(kKeys)) throw std::invalid_argument("unknown unit key: " + it.key);
        key->parse(c, it);
    }
    return c;
}

std::string unit_spec_help() {
    std::string out;
    for (const Key& k : kKeys) out += std::string("  ") + k.name + "=  " + k.help + "\n";
    return out;
}

}  // namespace wexosim
