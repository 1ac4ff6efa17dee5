// Accessors of single device-record fields; no unit is contacted.
#include <cstring>

#include "core/call.hpp"
#include "core/state.hpp"

extern "C" {
const int32_t bps_value[13] = {300,   600,   1200,   2400,   4800,   9600,  19200,
                                        38400, 57600, 115200, 230400, 460800, 921600};
// Baud code -> position in bps_value; its own inverse.
const int32_t bps_decode[13] = {7, 6, 5, 4, 3, 2, 1, 0, 9, 8, 10, 11, 12};
}

namespace wexo {

// Rate of a module baud code. Codes above 12 have no table entry: they are
// reported as 0 (unknown) rather than read past the tables.
int baud_rate_of(uint8_t baud_code) {
    return baud_code < 13 ? bps_value[bps_decode[baud_code]] : 0;
}

}  // namespace wexo

using namespace wexo;

extern "C" WEXO_API int ZuWexoGetIpAddress(int index, char* text) {
    return record_call("ZuWexoGetIpAddress", index, [&] {
        if (!outputs_given(text)) return 0;
        std::memcpy(text, record(index).ip_text, sizeof(record(index).ip_text));
        return result_line("ZuWexoGetIpAddress:%d:%.16s", index, text);
    });
}

extern "C" WEXO_API int ZuWexoGetMacAddress(int index, unsigned char* mac) {
    return record_call("ZuWexoGetMacAddress", index, [&] {
        if (!outputs_given(mac)) return 0;
        std::memcpy(mac, record(index).mac_address, 6);
        // The six raw bytes as text, never read past them.
        return result_line("ZuWexoGetMacAddress:%d:%.6s", index, reinterpret_cast<const char*>(mac));
    });
}

extern "C" WEXO_API int ZuWexoGetFirmVersion(int index, int* version) {
    return record_call("ZuWexoGetFirmVersion", index, [&] {
        if (!outputs_given(version)) return 0;
        const wexo_device& d = record(index);
        *version = d.firm_major * 100 + d.firm_minor * 10;
        return result_line("ZuWexoGetFirmVersion:%d:%d", index, *version);
    });
}

extern "C" WEXO_API int ZuWexoGetFirmType(int index, char** type) {
    return record_call("ZuWexoGetFirmType", index, [&] {
        if (!outputs_given(type)) return 0;
        *type = record(index).firm_type;
        // The two letters carry no NUL of their own.
        return result_line("ZuWexoGetFirmType:%d:%.2s", index, *type);
    });
}

extern "C" WEXO_API int ZuWexoGetFirmType2(int index, unsigned short* type) {
    return record_call("ZuWexoGetFirmType2", index, [&] {
        if (!outputs_given(type)) return 0;
        const wexo_device& d = record(index);
        const auto first = static_cast<uint8_t>(d.firm_type[0]);
        const auto second = static_cast<uint8_t>(d.firm_type[1]);
        *type = static_cast<unsigned short>(first | (second << 8));
        return result_line("ZuWexoGetFirmType2:%d:%c%c", index, d.firm_type[0], d.firm_type[1]);
    });
}

extern "C" WEXO_API int ZuWexoGetId(int index, int* id) {
    return record_call("ZuWexoGetId", index, [&] {
        if (!outputs_given(id)) return 0;
        *id = record(index).board_id;
        return result_line("ZuWexoGetId:%d:%d", index, *id);
    });
}

extern "C" WEXO_API int ZuWexoGetModel(int index, int* model) {
    return record_call("ZuWexoGetModel", index, [&] {
        if (!outputs_given(model)) return 0;
        *model = record(index).model_code;
        return result_line("ZuWexoGetModel:%d:%d", index, *model);
    });
}

extern "C" WEXO_API int ZuWexoGetCPMode(int index, int* cp1, int* cp2, int* cp3, int* flag) {
    return record_call("ZuWexoGetCPMode", index, [&] {
        if (!outputs_given(cp1, cp2, cp3, flag)) return 0;
        const wexo_device& d = record(index);
        *cp1 = d.cp_mode[0];
        *cp2 = d.cp_mode[1];
        *cp3 = d.cp_mode[2];
        *flag = d.cp_flag;
        return result_line("ZuWexoGetCPMode:%d:%d:%d:%d:%d", index, *cp1, *cp2, *cp3, *flag);
    });
}

extern "C" WEXO_API int ZuWexoGetSerialParameter(int index, int* baud, int* databits, int* parity,
                                                 int* stopbits, int* flow, int* port) {
    return record_call("ZuWexoGetSerialParameter", index, [&] {
        if (!outputs_given(baud, databits, parity, stopbits, flow, port)) return 0;
        const wexo_device& d = record(index);
        const uint8_t f = d.serial_flags;
        *baud = baud_rate_of(d.baud_code);
        *databits = (f & 0x04) ? 8 : 7;
        *parity = ((f >> 4) & 1) + ((f >> 5) & 1);
        *stopbits = (f & 0x80) ? 2 : 1;
        *flow = d.flow_control;
        *port = d.data_port;
        return result_line("ZuWexoGetSerialParameter:%d:%d:%d:%d:%d:%d:%d", index, *baud,
                           *databits, *parity, *stopbits, *flow, *port);
    });
}

extern "C" WEXO_API int ZuWexoSetTimeOut(int index, int ms) {
    return record_call("ZuWexoSetTimeOut", index, [&] {
        record(index).timeout_ms = ms;
        return result_line("ZuWexoSetTimeOut:%d:%d", index, ms);
    });
}

extern "C" WEXO_API int ZuWexoSetModel(int index, int model) {
    return record_call("ZuWexoSetModel", index, [&] {
        record(index).model_code = model;
        return result_line("ZuWexoSetModel:%d:%d", index, model);
    });
}
