// Thermocouple settings of the analog inputs (ZuWexoSetTCConfig, ZuWexoSetTCType,
// ZuWexoGetTCConfig, ZuWexoSetTCTransmitScale, ZuWexoGetTCTransmitScale).
#include <cstdint>

#include "analog/analog.hpp"
#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "session/unit_context.hpp"

namespace wexo::analog {

namespace {

constexpr unsigned kHighestType = 7;
constexpr unsigned kHighestScaleMode = 3;
constexpr int kScaleDigits = 4;

constexpr Command kTC = analog_setter("requestid TC");
constexpr Command kTF = analog_setter("requestid TF");
constexpr Command kTJ = analog_query("requestid TJ", 15);

// A unit whose analog inputs take thermocouples, and channel one of them.
bool thermocouple_channel(UnitContext& unit, int channel) {
    const auto board = unit.board();
    return board && offered(board->thermocouples()) &&
           in_range(channel, 0, board->analog_inputs() - 1);
}

// The steps of ZuWexoSetTCConfig after its entry line and checks.
int set_config(UnitContext& unit, int channel, int type, int flag0, int flag1, int flag2) {
    if (!thermocouple_channel(unit, channel)) return 0;
    const int flags = (flag0 != 0 ? 1 : 0) + (flag1 != 0 ? 2 : 0) + (flag2 != 0 ? 4 : 0);
    return set_tc_TC(unit, channel, type, flags);
}

}  // namespace

int set_tc_TC(UnitContext& unit, int channel, int type, int flags) {
    if (!in_range(static_cast<unsigned>(type), 0, kHighestType)) return 0;
    const Frame request = Frame::ascii('T', 'C')
                              .push(channel_byte(channel))
                              .push_small(type)
                              .push_small(flags)
                              .terminate();
    Reply reply;
    if (!exchange(unit.link, kTC, request, reply)) return 0;
    return result_line("set_tc_TC : %d %d", type, flags);
}

int set_tc_TF(UnitContext& unit, int channel, int mode, int32_t low_tenths, int32_t high_tenths) {
    if (!in_range(static_cast<unsigned>(mode), 0, kHighestScaleMode)) return 0;
    const int32_t low = clamp16(low_tenths);
    const int32_t high = clamp16(high_tenths);
    const Frame request = Frame::ascii('T', 'F')
                              .push(channel_byte(channel))
                              .push_small(mode)
                              .push_hex(static_cast<uint32_t>(low) & 0xFFFF, kScaleDigits)
                              .push_hex(static_cast<uint32_t>(high) & 0xFFFF, kScaleDigits)
                              .terminate();
    Reply reply;
    if (!exchange(unit.link, kTF, request, reply)) return 0;
    return result_line("set_tc_TF : %d %d %d %d", channel, mode, low, high);
}

int get_tc_TJ(UnitContext& unit, int channel, int32_t* type, int32_t* flags, int32_t* mode,
              int32_t* low_tenths, int32_t* high_tenths) {
    const Frame request = Frame::ascii('T', 'J').push(channel_byte(channel)).terminate();
    Reply reply;
    if (!exchange(unit.link, kTJ, request, reply)) return 0;
    const auto low = reply.signed_hex(6, kScaleDigits);
    const auto high = reply.signed_hex(10, kScaleDigits);
    if (!hex_fields_read(low, high)) return 0;
    *type = reply.byte(3) & 0x0F;
    *flags = reply.byte(4) & 0x0F;
    *mode = reply.byte(5) & 3;
    *low_tenths = *low;
    *high_tenths = *high;
    return result_line("get_tc_TJ : %d %d %d %d %d", *type, *flags, *mode, *low_tenths,
                       *high_tenths);
}

}  // namespace wexo::analog

using namespace wexo;
using namespace wexo::analog;

extern "C" int ZuWexoSetTCConfig(int index, int channel, int type, int flag0, int flag1, int flag2) {
    return api_call("ZuWexoSetTCConfig", 0, [&] {
        return with_unit(index, [&](UnitContext& unit) {
            return set_config(unit, channel, type, flag0, flag1, flag2);
        });
    });
}

extern "C" int ZuWexoSetTCType(int index, int channel, int type) {
    return api_call("ZuWexoSetTCType", 0, [&] {
        entry_line("ZuWexoSetTCConfig");
        return with_unit(index, [&](UnitContext& unit) {
            return set_config(unit, channel, type, 1, 1, 0);
        });
    });
}

extern "C" int ZuWexoGetTCConfig(int index, int channel, int* type, int* flag0, int* flag1,
                                 int* flag2) {
    return on_unit("ZuWexoGetTCConfig", index, [&](UnitContext& unit) {
        if (!outputs_given(type, flag0, flag1, flag2) || !thermocouple_channel(unit, channel)) {
            return 0;
        }
        int32_t flags = 0, mode = 0, low = 0, high = 0;
        if (!get_tc_TJ(unit, channel, type, &flags, &mode, &low, &high)) return 0;
        *flag0 = flags & 1;
        *flag1 = (flags >> 1) & 1;
        *flag2 = (flags >> 2) & 1;
        return 1;
    });
}

extern "C" int ZuWexoSetTCTransmitScale(int index, int channel, int mode, double low, double high) {
    return on_unit("ZuWexoSetTCTransmitScale", index, [&](UnitContext& unit) {
        if (!thermocouple_channel(unit, channel)) return 0;
        return set_tc_TF(unit, channel, mode, truncate_saturating(low * 10),
                         truncate_saturating(high * 10));
    });
}

extern "C" int ZuWexoGetTCTransmitScale(int index, int channel, int* mode, double* low,
                                        double* high) {
    return on_unit("ZuWexoGetTCTransmitScale", index, [&](UnitContext& unit) {
        if (!outputs_given(mode, low, high) || !thermocouple_channel(unit, channel)) return 0;
        int32_t type = 0, flags = 0, low_tenths = 0, high_tenths = 0;
        if (!get_tc_TJ(unit, channel, &type, &flags, mode, &low_tenths, &high_tenths)) return 0;
        *low = low_tenths * 0.1;
        *high = high_tenths * 0.1;
        return 1;
    });
}
