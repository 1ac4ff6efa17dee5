#include "unit_record.hpp"

#include <cstdio>

#include "wexo.h"

namespace wexo::cli {

namespace {

template <typename T>
T check(::wexo::result<T> result, const char* call, int index) {
    return checked(std::move(result), call, "cannot read the record of unit #" + std::to_string(index));
}

char printable(unsigned char c) { return (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?'; }

} // namespace

UnitRecord read_record(int index) {
    UnitRecord r;
    r.index = index;
    const Device record(index);
    r.ip = check(record.ip(), "ZuWexoGetIpAddress", index);
    r.mac = mac_text(check(record.mac(), "ZuWexoGetMacAddress", index).data());
    r.firm_version = check(record.firmware_version(), "ZuWexoGetFirmVersion", index);
    const std::string type = check(record.firmware_type(), "ZuWexoGetFirmType2", index);
    if (type != std::string(2, '\0'))
        for (char letter : type) r.firm_type += printable(static_cast<unsigned char>(letter));
    r.id = check(record.id(), "ZuWexoGetId", index);
    r.model = check(record.model(), "ZuWexoGetModel", index);
    // The record shows the flag byte as the module holds it (--option N);
    // the API's PinModes tells only whether it is set.
    if (ZuWexoGetCPMode(index, &r.cp_mode[0], &r.cp_mode[1], &r.cp_mode[2], &r.cp_flag) != 1)
        fail_library("ZuWexoGetCPMode", "cannot read the record of unit #" + std::to_string(index));
    const auto serial = check(record.serial_parameters(), "ZuWexoGetSerialParameter", index);
    r.baud = serial.baud;
    r.data_bits = serial.data_bits;
    r.parity = serial.parity;
    r.stop_bits = serial.stop_bits;
    r.flow = serial.flow;
    r.data_port = serial.port;
    return r;
}

// The model's own answer is the one on plain units (kind 0); auto switching
// that appears only on kind 3 units is told apart by asking for both.
std::optional<Capabilities> capabilities(int model) {
    wexo_unit_capabilities plain{}, full_l{};
    if (wexo_model_capabilities(model, 0, &plain) != 1 || wexo_model_capabilities(model, 3, &full_l) != 1)
        return std::nullopt;
    int switching = 0;
    if (full_l.switching_frames == WEXO_SWITCHING_ASCII) switching = 3;
    else if (plain.switching_frames == WEXO_SWITCHING_BINARY) switching = 1;
    else if (full_l.switching_frames == WEXO_SWITCHING_BINARY) switching = 2;
    return Capabilities{plain.digital_outputs, plain.digital_inputs, switching, plain.analog_outputs,
                        plain.analog_inputs};
}

const char* auto_switching_name(int variant) {
    switch (variant) {
    case 1: return "binary";
    case 2: return "binary (kind 3 units only)";
    case 3: return "ascii";
    default: return "none";
    }
}

std::string firmware_text(int version) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d.%d", version / 100, version % 100 / 10);
    return buf;
}

std::string id_text(int id) { return id == 255 ? "-" : std::to_string(id); }

std::string model_text(int model) { return model < 0 ? "-" : std::to_string(model); }

std::string ip_text(const UnitRecord& r) { return r.ip.empty() ? "-" : r.ip; }

std::string mac_field(const UnitRecord& r) { return r.module_known ? r.mac : "-"; }

std::string firmware_field(const UnitRecord& r) {
    return r.module_known ? firmware_text(r.firm_version) + " (type " + r.firm_type + ")" : "-";
}

std::string serial_text(const UnitRecord& r) {
    char flow[8];
    std::snprintf(flow, sizeof flow, "0x%02x", static_cast<unsigned>(r.flow));
    return std::to_string(r.baud) + " baud, " + std::to_string(r.data_bits) + " data bits, parity " +
           (r.parity == 0 ? std::string("none") : std::to_string(r.parity)) + ", " +
           std::to_string(r.stop_bits) + " stop bit" + (r.stop_bits == 1 ? "" : "s") +
           ", flow control " + flow;
}

std::string cp_text(const UnitRecord& r) {
    return "CP1 " + std::to_string(r.cp_mode[0]) + ", CP2 " + std::to_string(r.cp_mode[1]) + ", CP3 " +
           std::to_string(r.cp_mode[2]) + " (block flag " + std::to_string(r.cp_flag) + ")";
}

void write_record(Json& json, const UnitRecord& r, bool full) {
    const bool known = r.module_known;
    // Unknown values are null, never zeros that look real.
    auto field_or_null = [&](std::string_view name, bool have, const auto& v) {
        json.key(name);
        if (have) json.value(v); else json.null();
    };
    json.begin_object();
    field_or_null("index", r.listed, r.index);
    field_or_null("ip", !r.ip.empty(), r.ip);
    field_or_null("mac", known, r.mac);
    field_or_null("firmware", known, firmware_text(r.firm_version));
    field_or_null("firmware_type", known, r.firm_type);
    field_or_null("id", r.id != 255, r.id);
    field_or_null("model", r.model >= 0, r.model);
    json.field("data_port", r.data_port);
    if (full) {
        json.key("serial");
        if (known) {
            json.begin_object();
            json.field("baud", r.baud).field("data_bits", r.data_bits).field("parity", r.parity);
            json.field("stop_bits", r.stop_bits).field("flow", r.flow).end_object();
        } else {
            json.null();
        }
        json.key("cp_modes");
        if (known) {
            json.begin_array();
            for (int mode : r.cp_mode) json.value(mode);
            json.end_array();
        } else {
            json.null();
        }
        field_or_null("cp_flag", known, r.cp_flag);
        json.key("capabilities");
        if (const auto caps = capabilities(r.model)) {
            json.begin_object();
            json.field("digital_outputs", caps->outputs).field("digital_inputs", caps->inputs);
            json.field("auto_switching", auto_switching_name(caps->auto_switching));
            json.field("analog_outputs", caps->analog_outputs);
            json.field("analog_inputs", caps->analog_inputs).end_object();
        } else {
            json.null();
        }
    }
    json.end_object();
}

} // namespace wexo::cli
