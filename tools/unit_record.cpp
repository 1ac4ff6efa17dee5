#include "unit_record.hpp"

#include <cstdio>

#include "wexo.h"
// The model table is only exported as data; the tool needs its counts to
// print every channel of a unit.
#include "wexo_data.h"

namespace wexo::cli {

namespace {

void check(int result, const char* call, int index) {
    if (result != 1) fail_library(call, "cannot read the record of unit #" + std::to_string(index));
}

char printable(unsigned char c) { return (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?'; }

} // namespace

UnitRecord read_record(int index) {
    UnitRecord r;
    r.index = index;
    char ip[16] = {};
    check(ZuWexoGetIpAddress(index, ip), "ZuWexoGetIpAddress", index);
    ip[15] = '\0';
    r.ip = ip;
    unsigned char mac[6] = {};
    check(ZuWexoGetMacAddress(index, mac), "ZuWexoGetMacAddress", index);
    r.mac = mac_text(mac);
    check(ZuWexoGetFirmVersion(index, &r.firm_version), "ZuWexoGetFirmVersion", index);
    unsigned short type = 0;
    check(ZuWexoGetFirmType2(index, &type), "ZuWexoGetFirmType2", index);
    if (type != 0) {
        r.firm_type += printable(static_cast<unsigned char>(type & 0xff));
        r.firm_type += printable(static_cast<unsigned char>(type >> 8));
    }
    check(ZuWexoGetId(index, &r.id), "ZuWexoGetId", index);
    check(ZuWexoGetModel(index, &r.model), "ZuWexoGetModel", index);
    check(ZuWexoGetCPMode(index, &r.cp_mode[0], &r.cp_mode[1], &r.cp_mode[2], &r.cp_flag),
          "ZuWexoGetCPMode", index);
    check(ZuWexoGetSerialParameter(index, &r.baud, &r.data_bits, &r.parity, &r.stop_bits, &r.flow,
                                   &r.data_port),
          "ZuWexoGetSerialParameter", index);
    return r;
}

std::optional<Capabilities> capabilities(int model) {
    if (model < 0 || model >= WEXO_MODEL_COUNT) return std::nullopt;
    const int32_t* row = MODEL_spec[model];
    return Capabilities{row[0], row[1], row[2], row[9], row[10]};
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

void write_record(Json& json, const UnitRecord& r, bool full) {
    json.begin_object();
    json.field("index", r.index).field("ip", r.ip).field("mac", r.mac);
    json.field("firmware", firmware_text(r.firm_version)).field("firmware_type", r.firm_type);
    json.key("id");
    if (r.id == 255) json.null(); else json.value(r.id);
    json.key("model");
    if (r.model < 0) json.null(); else json.value(r.model);
    json.field("data_port", r.data_port);
    if (full) {
        json.key("serial").begin_object();
        json.field("baud", r.baud).field("data_bits", r.data_bits).field("parity", r.parity);
        json.field("stop_bits", r.stop_bits).field("flow", r.flow).end_object();
        json.key("cp_modes").begin_array();
        for (int mode : r.cp_mode) json.value(mode);
        json.end_array().field("cp_flag", r.cp_flag);
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
