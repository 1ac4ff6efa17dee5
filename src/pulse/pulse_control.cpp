// Pulse mode on and off, continuous mode, and the pulse alert
// (ZuWexoPulseModeGetState, ...On, ...Off, ...ContinuesOn, ...ContinuesOff,
// ...ContinuesGetState, ...SetAlart, ...GetAlart).
#include <array>
#include <cstdint>

#include "core/call.hpp"
#include "pulse/pic_parameters.hpp"
#include "pulse/pulse.hpp"
#include "session/unit_context.hpp"

namespace wexo::pulse {

namespace {

constexpr uint8_t kReadState[] = {0xE4};
constexpr uint8_t kReadContinuous[] = {0xE7};
constexpr uint8_t kReadAlert[] = {0xE9};
constexpr uint8_t kWriteState = 0xF4;
constexpr uint8_t kWriteContinuous = 0xF7;
constexpr uint8_t kWriteAlert = 0xF9;
constexpr uint8_t kOn = 0x01;
constexpr uint8_t kOff = 0x02;
constexpr uint8_t kPulseOnBit = 0x08;  // status byte S, and C of "pp"
constexpr uint8_t kContinuousOn = 0x28;
constexpr uint8_t kContinuousOff = 0x20;

constexpr std::initializer_list<PulseVariant> kFullSetOnly = {PulseVariant::kPicFull};

int write2(UnitContext& unit, uint8_t code, uint8_t value) {
    const uint8_t request[] = {code, value};
    return setPICparameter2_(unit, request);
}

// The steps of ZuWexoPulseModeGetState after its entry line and checks.
int get_state(UnitContext& unit, int& state) {
    const auto v = variant(unit, kAnyVariant);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) {
        Status st;
        if (!status_query(unit, st)) return 0;
        state = (st.s & kPulseOnBit) != 0 ? 1 : 0;
    } else {
        std::array<uint8_t, 2> r{};
        if (!getPICparameter2_(unit, kReadState, r)) return 0;
        state = r[1] == 0 ? 1 : 0;  // the board reports 0 for on
    }
    return result_line("ZuWexoPulseModeGetState:%d:%d", unit.index, state);
}

// On (target 1) or off (target 0). The state is asked first, through the
// steps of ZuWexoPulseModeGetState; a failed query ends the call with its
// code rather than switching blind.
int switch_pulse_mode(UnitContext& unit, int target) {
    const auto v = variant(unit, kAnyVariant);
    if (!v) return 0;
    entry_line("ZuWexoPulseModeGetState");
    int state = 0;
    if (!check_common(unit.index, 1) || !get_state(unit, state)) return 0;
    if (state == target) return -1;  // already so: nothing to send
    if (*v == PulseVariant::kAscii) {
        Status st;
        if (!status_query(unit, st)) return 0;
        const auto s = static_cast<uint8_t>(target ? (st.s | kPulseOnBit) : (st.s & ~kPulseOnBit));
        return status_write(unit, s, st.t);
    }
    return write2(unit, kWriteState, target ? kOn : kOff);
}

int switch_continuous(UnitContext& unit, bool on) {
    const auto v = variant(unit, kAnyVariant);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) {
        return continuous_write(unit, on ? kContinuousOn : kContinuousOff);
    }
    return write2(unit, kWriteContinuous, on ? kOn : kOff);
}

int get_continuous(UnitContext& unit, int& state) {
    const auto v = variant(unit, kAnyVariant);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) {
        uint8_t c = 0;
        if (!continuous_query(unit, c)) return 0;
        state = (c & kPulseOnBit) != 0 ? 1 : 0;
    } else {
        std::array<uint8_t, 2> r{};
        if (!getPICparameter2_(unit, kReadContinuous, r)) return 0;
        state = r[1] != 0 ? 1 : 0;
    }
    return result_line("ZuWexoPulseModeContinuesGetState:%d:%d", unit.index, state);
}

// The alert mode has two bits on the wire and the value 32, signed or
// unsigned: anything beyond them would be cut to some other alert.
bool alert_fits(int alert_mode, long long alert_value) {
    return in_range(alert_mode, 0, 3) && in_range(alert_value, INT32_MIN, UINT32_MAX);
}

int set_alert(UnitContext& unit, int channel, int alert_mode, long long alert_value) {
    if (!channel_below_inputs(unit, channel) || !alert_fits(alert_mode, alert_value) ||
        !variant(unit, kFullSetOnly)) {
        return 0;
    }
    const auto groups = six_bit_groups(static_cast<uint32_t>(alert_value));
    const uint8_t request[] = {kWriteAlert, static_cast<uint8_t>((alert_mode & 3) * 8 + (channel & 7)),
                               groups[0], groups[1], groups[2], groups[3], groups[4], groups[5]};
    if (!setPICparameter2_(unit, request)) return 0;
    return result_line("ZuWexoPulseModeSetAlart:%d:%d:%d:%lld", unit.index, channel, alert_mode,
                       alert_value);
}

int get_alert(UnitContext& unit, int* channel, int* alert_mode, long long* alert_value) {
    if (!variant(unit, kFullSetOnly)) return 0;
    std::array<uint8_t, 8> r{};
    if (!getPICparameter2_(unit, kReadAlert, r)) return 0;
    *channel = r[1] & 7;
    *alert_mode = (r[1] >> 3) & 3;
    *alert_value = from_six_bit_groups(std::span<const uint8_t, 6>(r.data() + 2, 6));
    return result_line("ZuWexoPulseModeGetAlart:%d:%d:%d:%lld", unit.index, *channel, *alert_mode,
                       *alert_value);
}

}  // namespace

}  // namespace wexo::pulse

using namespace wexo;

extern "C" int ZuWexoPulseModeGetState(int index, int* state) {
    return api_call("ZuWexoPulseModeGetState", 0, [&] {
        return with_unit(index, [&](UnitContext& unit) {
            int got = 0;
            if (!outputs_given(state) || !pulse::get_state(unit, got)) return 0;
            *state = got;
            return 1;
        });
    });
}

extern "C" int ZuWexoPulseModeOn(int index) {
    return on_unit("ZuWexoPulseModeOn", index, [&](UnitContext& unit) {
        const int done = pulse::switch_pulse_mode(unit, 1);
        return done <= 0 ? (done < 0 ? 1 : 0) : result_line("ZuWexoPulseModeOn:%d", index);
    });
}

extern "C" int ZuWexoPulseModeOff(int index) {
    return on_unit("ZuWexoPulseModeOff", index, [&](UnitContext& unit) {
        const int done = pulse::switch_pulse_mode(unit, 0);
        return done <= 0 ? (done < 0 ? 1 : 0) : result_line("ZuWexoPulseModeOff:%d", index);
    });
}

extern "C" int ZuWexoPulseModeContinuesOn(int index) {
    return on_unit("ZuWexoPulseModeContinuesOn", index, [&](UnitContext& unit) {
        return pulse::switch_continuous(unit, true)
                   ? result_line("ZuWexoPulseModeContinuesOn:%d", index)
                   : 0;
    });
}

extern "C" int ZuWexoPulseModeContinuesOff(int index) {
    return on_unit("ZuWexoPulseModeContinuesOff", index, [&](UnitContext& unit) {
        return pulse::switch_continuous(unit, false)
                   ? result_line("ZuWexoPulseModeContinuesOff:%d", index)
                   : 0;
    });
}

extern "C" int ZuWexoPulseModeContinuesGetState(int index, int* state) {
    return on_unit("ZuWexoPulseModeContinuesGetState", index, [&](UnitContext& unit) {
        int got = 0;
        if (!outputs_given(state) || !pulse::get_continuous(unit, got)) return 0;
        *state = got;
        return 1;
    });
}

extern "C" int ZuWexoPulseModeSetAlart(int index, int channel, int alert_mode, long long alert_value) {
    return on_unit("ZuWexoPulseModeSetAlart", index, [&](UnitContext& unit) {
        return pulse::set_alert(unit, channel, alert_mode, alert_value);
    });
}

extern "C" int ZuWexoPulseModeGetAlart(int index, int* channel, int* alert_mode, long long* alert_value) {
    return on_unit("ZuWexoPulseModeGetAlart", index, [&](UnitContext& unit) {
        return outputs_given(channel, alert_mode, alert_value)
                   ? pulse::get_alert(unit, channel, alert_mode, alert_value)
                   : 0;
    });
}
