// Thresholds of the analog channels and the inputs' mail condition
// (ZuWexoGetAnalogThresholds, ZuWexoSetAnalogThresholds, ZuWexoGetAiMailCondition,
// ZuWexoSetAiMailCondition).
#include <cstdint>

#include "analog/analog.hpp"
#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "session/unit_context.hpp"

namespace wexo::analog {

namespace {

constexpr int kEnabled = 0x08;    // flags bit 3: thresholds enabled
constexpr int kMailMask = 0x03;   // flags bits 0, 1: mail condition
constexpr unsigned kHighestMailCondition = 2;
constexpr int kThresholdDigits = 4;

constexpr Command kAK = analog_query("requestid AK", 13);
constexpr Command kAL = analog_setter("requestid AL");

// Which channels the threshold calls name: the analog inputs, or on a model
// without inputs its analog outputs.
enum class Domain { kNone, kInputs, kOutputs };
struct Channels {
    Domain domain = Domain::kNone;
    int count = 0;
};

// The unit's threshold channels with channel one of them; code 6 otherwise.
bool threshold_channel(UnitContext& unit, int channel, Channels& channels) {
    const auto board = unit.board();
    if (!board) return false;
    if (board->analog_inputs() > 0) {
        channels = {Domain::kInputs, board->analog_inputs()};
    } else if (board->analog_outputs() > 0) {
        channels = {Domain::kOutputs, board->analog_outputs()};
    }
    return offered(channels.domain != Domain::kNone) && in_range(channel, 0, channels.count - 1);
}

// The mail condition belongs to analog inputs only.
bool mail_channel(UnitContext& unit, int channel) {
    Channels channels;
    return threshold_channel(unit, channel, channels) &&
           offered(channels.domain == Domain::kInputs);
}

}  // namespace

int get_aio_AK(UnitContext& unit, int channel, int32_t* flags, int32_t* threshold1,
               int32_t* threshold2) {
    const Frame request = Frame::ascii('A', 'K').push(channel_byte(channel)).terminate();
    Reply reply;
    if (!exchange(unit.link, kAK, request, reply)) return 0;
    const auto first = reply.signed_hex(4, kThresholdDigits);
    const auto second = reply.signed_hex(8, kThresholdDigits);
    if (!hex_fields_read(first, second)) return 0;
    *flags = reply.byte(3) & 0x0F;
    *threshold1 = *first;
    *threshold2 = *second;
    return result_line("get_aio_AK : %d %d %d", *flags, *threshold1, *threshold2);
}

int set_aio_AL(UnitContext& unit, int channel, int flags, int32_t threshold1, int32_t threshold2) {
    const int32_t t1 = clamp16(threshold1);
    const int32_t t2 = clamp16(threshold2);
    const Frame request = Frame::ascii('A', 'L')
                              .push(channel_byte(channel))
                              .push_small(flags)
                              .push_hex(static_cast<uint32_t>(t1) & 0xFFFF, kThresholdDigits)
                              .push_hex(static_cast<uint32_t>(t2) & 0xFFFF, kThresholdDigits)
                              .terminate();
    Reply reply;
    if (!exchange(unit.link, kAL, request, reply)) return 0;
    return result_line("set_aio_AL : %d %d %d %d", channel, flags, t1, t2);
}

int set_ai_AL(UnitContext& unit, int channel, int flags, int32_t threshold1, int32_t threshold2) {
    // Read first: the mail condition in the same nibble is kept.
    int32_t read_flags = 0, read1 = 0, read2 = 0;
    if (!get_aio_AK(unit, channel, &read_flags, &read1, &read2)) return 0;
    return set_aio_AL(unit, channel, (flags & kEnabled) | (read_flags & kMailMask), threshold1,
                      threshold2);
}

int set_ao_AL(UnitContext& unit, int channel, int flags, int32_t threshold1, int32_t threshold2) {
    return set_aio_AL(unit, channel, flags & kEnabled, threshold1, threshold2);
}

}  // namespace wexo::analog

using namespace wexo;
using namespace wexo::analog;

extern "C" int ZuWexoGetAnalogThresholds(int index, int channel, int* enabled, int* threshold1,
                                         int* threshold2) {
    return on_unit("ZuWexoGetAnalogThresholds", index, [&](UnitContext& unit) {
        Channels channels;
        if (!outputs_given(enabled, threshold1, threshold2) ||
            !threshold_channel(unit, channel, channels)) {
            return 0;
        }
        int32_t flags = 0;
        if (!get_aio_AK(unit, channel, &flags, threshold1, threshold2)) return 0;
        *enabled = (flags & kEnabled) != 0 ? 1 : 0;
        return 1;
    });
}

extern "C" int ZuWexoSetAnalogThresholds(int index, int channel, int enable, int threshold1,
                                         int threshold2) {
    return on_unit("ZuWexoSetAnalogThresholds", index, [&](UnitContext& unit) {
        Channels channels;
        if (!threshold_channel(unit, channel, channels)) return 0;
        const int flags = enable != 0 ? kEnabled : 0;
        return channels.domain == Domain::kInputs
                   ? set_ai_AL(unit, channel, flags, threshold1, threshold2)
                   : set_ao_AL(unit, channel, flags, threshold1, threshold2);
    });
}

extern "C" int ZuWexoGetAiMailCondition(int index, int channel, int* condition) {
    return on_unit("ZuWexoGetAiMailCondition", index, [&](UnitContext& unit) {
        if (!outputs_given(condition) || !mail_channel(unit, channel)) return 0;
        int32_t flags = 0, threshold1 = 0, threshold2 = 0;
        if (!get_aio_AK(unit, channel, &flags, &threshold1, &threshold2)) return 0;
        *condition = flags & kMailMask;
        return 1;
    });
}

extern "C" int ZuWexoSetAiMailCondition(int index, int channel, unsigned int condition) {
    return on_unit("ZuWexoSetAiMailCondition", index, [&](UnitContext& unit) {
        if (!mail_channel(unit, channel) || !in_range(condition, 0, kHighestMailCondition)) {
            return 0;
        }
        int32_t flags = 0, threshold1 = 0, threshold2 = 0;
        if (!get_aio_AK(unit, channel, &flags, &threshold1, &threshold2)) return 0;
        return set_aio_AL(unit, channel, (flags & kEnabled) | static_cast<int>(condition),
                          threshold1, threshold2);
    });
}
