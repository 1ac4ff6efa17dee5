// Pulse mode on and off, continuous mode, and the pulse alert
// (ZuWexoPulseModeGetState, ...On, ...Off, ...ContinuesOn, ...ContinuesOff,
// ...ContinuesGetState, ...SetAlart, ...GetAlart).
#include <array>
#include <cstdint>

#include "core/call.hpp"
#include "pulse/pic_parameters.hpp"
#include "pulse/pulse.hpp"

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

int write2(int index, uint8_t code, uint8_t value) {
    const uint8_t request[] = {code, value};
    return setPICparameter2_(index, request);
}

// The steps of ZuWexoPulseModeGetState after its entry line.
int get_state(int index, int& state) {
    if (!check_common(index, 1)) return 0;
    const auto v = variant(index, kAnyVariant);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) {
        Status st;
        if (!status_query(index, st)) return 0;
        state = (st.s & kPulseOnBit) != 0 ? 1 : 0;
    } else {
        std::array<uint8_t, 2> r{};
        if (!getPICparameter2_(index, kReadState, r)) return 0;
        state = r[1] == 0 ? 1 : 0;  // the board reports 0 for on
    }
    return result_line("ZuWexoPulseModeGetState:%d:%d", index, state);
}

// On (target 1) or off (target 0). The state is asked first, through the
// steps of ZuWexoPulseModeGetState; a failed query ends the call with its
// code rather than switching blind.
int switch_pulse_mode(int index, int target) {
    const auto v = variant(index, kAnyVariant);
    if (!v) return 0;
    entry_line("ZuWexoPulseModeGetState");
    int state = 0;
    if (!get_state(index, state)) return 0;
    if (state == target) return -1;  // already so: nothing to send
    if (*v == PulseVariant::kAscii) {
        Status st;
        if (!status_query(index, st)) return 0;
        const auto s = static_cast<uint8_t>(target ? (st.s | kPulseOnBit) : (st.s & ~kPulseOnBit));
        return status_write(index, s, st.t);
    }
    return write2(index, kWriteState, target ? kOn : kOff);
}

int switch_continuous(int index, bool on) {
    const auto v = variant(index, kAnyVariant);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) return continuous_write(index, on ? kContinuousOn : kContinuousOff);
    return write2(index, kWriteContinuous, on ? kOn : kOff);
}

int get_continuous(int index, int& state) {
    const auto v = variant(index, kAnyVariant);
    if (!v) return 0;
    if (*v == PulseVariant::kAscii) {
        uint8_t c = 0;
        if (!continuous_query(index, c)) return 0;
        state = (c & kPulseOnBit) != 0 ? 1 : 0;
    } else {
        std::array<uint8_t, 2> r{};
        if (!getPICparameter2_(index, kReadContinuous, r)) return 0;
        state = r[1] != 0 ? 1 : 0;
    }
    return result_line("ZuWexoPulseModeContinuesGetState:%d:%d", index, state);
}

// The alert mode has two bits on the wire and the value 32, signed or
// unsigned: anything beyond them would be cut to some other alert.
bool alert_fits(int alert_mode, long long alert_value) {
    return in_range(alert_mode, 0, 3) && in_range(alert_value, INT32_MIN, UINT32_MAX);
}

int set_alert(int index, int channel, int alert_mode, long long alert_value) {
    if (!channel_below_inputs(index, channel) || !alert_fits(alert_mode, alert_value) ||
        !variant(index, kFullSetOnly)) {
        return 0;
    }
    const auto groups = six_bit_groups(static_cast<uint32_t>(alert_value));
    const uint8_t request[] = {kWriteAlert, static_cast<uint8_t>((alert_mode & 3) * 8 + (channel & 7)),
                               groups[0], groups[1], groups[2], groups[3], groups[4], groups[5]};
    if (!setPICparameter2_(index, request)) return 0;
    return result_line("ZuWexoPulseModeSetAlart:%d:%d:%d:%lld", index, channel, alert_mode, alert_value);
}

int get_alert(int index, int* channel, int* alert_mode, long long* alert_value) {
    if (!variant(index, kFullSetOnly)) return 0;
    std::array<uint8_t, 8> r{};
    if (!getPICparameter2_(index, kReadAlert, r)) return 0;
    *channel = r[1] & 7;
    *alert_mode = (r[1] >> 3) & 3;
    *alert_value = from_six_bit_groups(std::span<const uint8_t, 6>(r.data() + 2, 6));
    return result_line("ZuWexoPulseModeGetAlart:%d:%d:%d:%lld", index, *channel, *alert_mode,
                       *alert_value);
}

}  // namespace

}  // namespace wexo::pulse

using namespace wexo;

extern "C" int ZuWexoPulseModeGetState(int index, int* state) {
    return api_call("ZuWexoPulseModeGetState", 0, [&] {
        int got = 0;
        if (!check_common(index, 1) || !outputs_given(state) || !pulse::get_state(index, got)) return 0;
        *state = got;
        return 1;
    });
}

extern "C" int ZuWexoPulseModeOn(int index) {
    return unit_call("ZuWexoPulseModeOn", index, [&] {
        const int done = pulse::switch_pulse_mode(index, 1);
        return done <= 0 ? (done < 0 ? 1 : 0) : result_line("ZuWexoPulseModeOn:%d", index);
    });
}

extern "C" int ZuWexoPulseModeOff(int index) {
    return unit_call("ZuWexoPulseModeOff", index, [&] {
        const int done = pulse::switch_pulse_mode(index, 0);
        return done <= 0 ? (done < 0 ? 1 : 0) : result_line("ZuWexoPulseModeOff:%d", index);
    });
}

extern "C" int ZuWexoPulseModeContinuesOn(int index) {
    return unit_call("ZuWexoPulseModeContinuesOn", index, [&] {
        return pulse::switch_continuous(index, true) ? result_line("ZuWexoPulseModeContinuesOn:%d", index) : 0;
    });
}

extern "C" int ZuWexoPulseModeContinuesOff(int index) {
    return unit_call("ZuWexoPulseModeContinuesOff", index, [&] {
        return pulse::switch_continuous(index, false) ? result_line("ZuWexoPulseModeContinuesOff:%d", index) : 0;
    });
}

extern "C" int ZuWexoPulseModeContinuesGetState(int index, int* state) {
    return unit_call("ZuWexoPulseModeContinuesGetState", index, [&] {
        int got = 0;
        if (!outputs_given(state) || !pulse::get_continuous(index, got)) return 0;
        *state = got;
        return 1;
    });
}

extern "C" int ZuWexoPulseModeSetAlart(int index, int channel, int alert_mode, long long alert_value) {
    return unit_call("ZuWexoPulseModeSetAlart", index,
                     [&] { return pulse::set_alert(index, channel, alert_mode, alert_value); });
}

extern "C" int ZuWexoPulseModeGetAlart(int index, int* channel, int* alert_mode, long long* alert_value) {
    return unit_call("ZuWexoPulseModeGetAlart", index, [&] {
        return outputs_given(channel, alert_mode, alert_value)
                   ? pulse::get_alert(index, channel, alert_mode, alert_value)
                   : 0;
    });
}
