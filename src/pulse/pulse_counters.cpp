// Pulse counters (ZuWexoPulseModeGetCount, ZuWexoPulseModeGetCount2).
#include <array>

#include "core/call.hpp"
#include "pulse/pic_parameters.hpp"
#include "pulse/pulse.hpp"
#include "session/unit_context.hpp"

namespace wexo::pulse {

namespace {

constexpr uint8_t kCount16[] = {0xF5, 0x04};
constexpr uint8_t kReadCount32 = 0xE5;
constexpr uint32_t kLargest16 = 65535;

int get_count(UnitContext& unit, int* count) {
    const auto v = variant(unit, kAnyVariant);
    if (!v) return 0;
    int result = 0;
    if (*v != PulseVariant::kAscii) {
        std::array<uint8_t, 5> r{};
        if (!getPICparameter2_(unit, kCount16, r)) return 0;
        // Bit 4 of the first nibble byte marks a count the board cannot give.
        result = (r[1] & 0x10) != 0 ? -1
                                    : (r[1] & 0x0F) * 4096 + (r[2] & 0x0F) * 256 + (r[3] & 0x0F) * 16 + (r[4] & 0x0F);
    } else {
        // The counter of the first enabled channel.
        int channel = -1;
        for (int i = 0; i < pulse_channels(unit) && channel < 0; ++i) {
            int code = 0;
            if (!channel_query(unit, i, code)) return 0;
            if (code != 0) channel = i;
        }
        if (!offered(channel >= 0)) return 0;
        uint32_t value = 0;
        if (!counter_query(unit, channel, value)) return 0;
        result = static_cast<int>(value > kLargest16 ? kLargest16 : value);
    }
    *count = result;
    return result_line("ZuWexoPulseModeGetCount:%d:%d", unit.index, result);
}

int get_count2(UnitContext& unit, int channel, long long* count) {
    if (!channel_below_inputs(unit, channel)) return 0;
    const auto v = variant(unit, kFullOrAscii);
    if (!v) return 0;
    long long result = 0;
    if (*v == PulseVariant::kAscii) {
        uint32_t value = 0;
        if (!counter_query(unit, channel, value)) return 0;
        result = value;
    } else {
        const uint8_t request[] = {kReadCount32, static_cast<uint8_t>(channel)};
        std::array<uint8_t, 8> r{};
        if (!getPICparameter2_(unit, request, r)) return 0;
        result = from_six_bit_groups(std::span<const uint8_t, 6>(r.data() + 2, 6));
    }
    *count = result;
    return result_line("ZuWexoPulseModeGetCount2:%d:%d:%lld", unit.index, channel, result);
}

}  // namespace

}  // namespace wexo::pulse

using namespace wexo;

extern "C" int ZuWexoPulseModeGetCount(int index, int* count) {
    return on_unit("ZuWexoPulseModeGetCount", index, [&](UnitContext& unit) {
        return outputs_given(count) ? pulse::get_count(unit, count) : 0;
    });
}

extern "C" int ZuWexoPulseModeGetCount2(int index, int channel, long long* count) {
    return on_unit("ZuWexoPulseModeGetCount2", index, [&](UnitContext& unit) {
        return outputs_given(count) ? pulse::get_count2(unit, channel, count) : 0;
    });
}
