// Analog I/O: inputs (AI AJ AR AP AS), outputs (AO AQ AY), thermocouples
// (TC TF TJ), thresholds and the mail condition (AK AL). Byte 2 names the
// channel as channel + 0x20. A request the board cannot carry out (wrong
// length, a channel the model lacks, a value out of its set, no hex digits
// where they belong) is dropped unanswered and changes nothing.
#include "board_ascii.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace wexosim {

std::int32_t analog_count(const AnalogInput& in, Millis since_start) {
    const long long period = std::max(in.period_ms, 1);
    const double phase = static_cast<double>(since_start.count() % period) / static_cast<double>(period);
    double v = in.count;
    if (in.wave == Wave::Ramp) v += in.amplitude * phase;
    if (in.wave == Wave::Sine) v += in.amplitude * std::sin(2 * std::numbers::pi * phase);
    return static_cast<std::int32_t>(std::clamp(std::lround(v), -0x800000L, 0x7FFFFFL));
}

namespace detail {

namespace {

constexpr int kAllInputs = 7;  // AI channel code asking for every input at once

using Run = std::optional<Bytes> (*)(Unit&, const Bytes&);

BoardModel model_of(const Unit& u) { return board_model(u.st.model); }

// AK / AL name analog inputs, or the outputs of a model without inputs.
int threshold_channels(const BoardModel& m) { return m.analog_inputs > 0 ? m.analog_inputs : m.analog_outputs; }

// The channel byte 2 names, when the board has it (`count` channels).
std::optional<std::size_t> channel(const Bytes& f, int count) {
    const int ch = small_value(f[2]);
    return ch >= 0 && ch < count ? std::optional<std::size_t>(static_cast<std::size_t>(ch)) : std::nullopt;
}

// The small number at `at`, when it is 0..max.
std::optional<int> small_at(const Bytes& f, std::size_t at, int max) {
    const int v = small_value(f[at]);
    return v >= 0 && v <= max ? std::optional<int>(v) : std::nullopt;
}

void put_signed(Bytes& out, int value, int width) { put_hex(out, static_cast<unsigned>(value), width); }

// ---------------------------------------------------------------- inputs

std::optional<Bytes> read_inputs(Unit& u, const Bytes& f) {
    const int n = model_of(u).analog_inputs;
    std::size_t first = 0, last = static_cast<std::size_t>(n);
    if (small_value(f[2]) != kAllInputs) {
        auto ch = channel(f, n);
        if (!ch) return std::nullopt;
        first = *ch;
        last = *ch + 1;
    }
    if (n == 0) return std::nullopt;
    const auto now = std::chrono::duration_cast<Millis>(Clock::now() - u.born);
    Bytes payload{f[2]};
    for (std::size_t i = first; i < last; ++i) put_signed(payload, analog_count(u.st.analog.inputs[i], now), 6);
    return ascii_reply(f, payload);
}

std::optional<Bytes> read_range(Unit& u, const Bytes& f) {
    auto ch = channel(f, model_of(u).analog_inputs);
    if (!ch) return std::nullopt;
    const Analog& a = u.st.analog;
    return ascii_reply(f, {f[2], small(a.inputs[*ch].range & 7), small(a.transmit_cycle & 0x0F)});
}

std::optional<Bytes> set_range(Unit& u, const Bytes& f) {
    auto ch = channel(f, model_of(u).analog_inputs);
    auto range = small_at(f, 3, 7);
    if (!ch || !range) return std::nullopt;
    u.st.analog.inputs[*ch].range = *range;
    return echo_reply(f);
}

// AP and AS: one unit-wide code in byte 2.
std::optional<Bytes> set_unit_code(Unit& u, const Bytes& f, int max, int Analog::*field) {
    auto code = small_at(f, 2, max);
    if (model_of(u).analog_inputs == 0 || !code) return std::nullopt;
    u.st.analog.*field = *code;
    return echo_reply(f);
}

// ---------------------------------------------------------------- outputs

// AO and AQ: entries of channel byte (+ 8 for current) and four hex digits;
// all entries are taken or none.
std::optional<Bytes> set_outputs(Unit& u, const Bytes& f, int AnalogOutput::*value, int AnalogOutput::*mode) {
    const int n = model_of(u).analog_outputs;
    const std::size_t entries = (f.size() - 3) / 5;
    if (entries == 0 || f.size() != 5 * entries + 3) return std::nullopt;
    auto outputs = u.st.analog.outputs;
    for (std::size_t at = 2; at + 1 < f.size(); at += 5) {
        const int code = small_value(f[at]);
        auto v = signed_hex_field(f, at + 1, 4);
        if (code < 0 || code > 15 || (code & 7) >= n || !v) return std::nullopt;
        AnalogOutput& o = outputs[static_cast<std::size_t>(code & 7)];
        o.*value = *v;
        o.*mode = code >> 3;
    }
    u.st.analog.outputs = outputs;
    return echo_reply(f);
}

std::optional<Bytes> read_output(Unit& u, const Bytes& f) {
    auto ch = channel(f, model_of(u).analog_outputs);
    if (!ch) return std::nullopt;
    const AnalogOutput& o = u.st.analog.outputs[*ch];
    Bytes payload{static_cast<std::uint8_t>(f[2] + ((o.mode & 1) << 3))};
    put_signed(payload, o.value, 4);
    return ascii_reply(f, payload);
}

// ---------------------------------------------------------------- thermocouples

std::optional<std::size_t> tc_channel(const Unit& u, const Bytes& f) {
    const BoardModel m = model_of(u);
    return m.thermocouple ? channel(f, m.analog_inputs) : std::nullopt;
}

std::optional<Bytes> set_tc_config(Unit& u, const Bytes& f) {
    auto ch = tc_channel(u, f);
    auto type = small_at(f, 3, 7), flags = small_at(f, 4, 7);
    if (!ch || !type || !flags) return std::nullopt;
    AnalogInput& in = u.st.analog.inputs[*ch];
    in.tc_type = *type;
    in.tc_flags = *flags;
    return echo_reply(f);
}

std::optional<Bytes> set_tc_scale(Unit& u, const Bytes& f) {
    auto ch = tc_channel(u, f);
    auto mode = small_at(f, 3, 3);
    auto low = signed_hex_field(f, 4, 4), high = signed_hex_field(f, 8, 4);
    if (!ch || !mode || !low || !high) return std::nullopt;
    AnalogInput& in = u.st.analog.inputs[*ch];
    in.tc_scale_mode = *mode;
    in.tc_low = *low;
    in.tc_high = *high;
    return echo_reply(f);
}

std::optional<Bytes> read_tc(Unit& u, const Bytes& f) {
    auto ch = tc_channel(u, f);
    if (!ch) return std::nullopt;
    const AnalogInput& in = u.st.analog.inputs[*ch];
    Bytes payload{f[2], small(in.tc_type & 7), small(in.tc_flags & 7), small(in.tc_scale_mode & 3)};
    put_signed(payload, in.tc_low, 4);
    put_signed(payload, in.tc_high, 4);
    return ascii_reply(f, payload);
}

// ---------------------------------------------------------------- thresholds

std::optional<Bytes> read_thresholds(Unit& u, const Bytes& f) {
    auto ch = channel(f, threshold_channels(model_of(u)));
    if (!ch) return std::nullopt;
    const AnalogThreshold& t = u.st.analog.thresholds[*ch];
    Bytes payload{f[2], small(t.flags & 0x0F)};
    put_signed(payload, t.first, 4);
    put_signed(payload, t.second, 4);
    return ascii_reply(f, payload);
}

std::optional<Bytes> set_thresholds(Unit& u, const Bytes& f) {
    auto ch = channel(f, threshold_channels(model_of(u)));
    auto flags = small_at(f, 3, 15);
    auto first = signed_hex_field(f, 4, 4), second = signed_hex_field(f, 8, 4);
    if (!ch || !flags || !first || !second) return std::nullopt;
    u.st.analog.thresholds[*ch] = {*flags, *first, *second};
    return echo_reply(f);
}

struct Command {
    const char* letters;
    std::size_t length;  // whole request, terminator included; 0: the handler checks
    Run run;
};

constexpr Command kCommands[] = {
    {"AI", 4, read_inputs},
    {"AJ", 4, read_range},
    {"AR", 5, set_range},
    {"AP", 4,
     [](Unit& u, const Bytes& f) {
         auto r = set_unit_code(u, f, 7, &Analog::sampling_rate);
         if (r) u.st.eeprom[kSamplingRateByte] = static_cast<std::uint8_t>(u.st.analog.sampling_rate);
         return r;
     }},
    {"AS", 4, [](Unit& u, const Bytes& f) { return set_unit_code(u, f, 13, &Analog::transmit_cycle); }},
    {"AO", 0, [](Unit& u, const Bytes& f) { return set_outputs(u, f, &AnalogOutput::value, &AnalogOutput::mode); }},
    {"AQ", 0,
     [](Unit& u, const Bytes& f) { return set_outputs(u, f, &AnalogOutput::start_value, &AnalogOutput::start_mode); }},
    {"AY", 4, read_output},
    {"TC", 6, set_tc_config},
    {"TF", 13, set_tc_scale},
    {"TJ", 4, read_tc},
    {"AK", 4, read_thresholds},
    {"AL", 13, set_thresholds},
};

}  // namespace

void install_analog_commands(Unit& unit) {
    Unit* u = &unit;
    for (const Command& c : kCommands)
        u->ascii[c.letters] = [u, c](const Bytes& f) -> std::optional<Bytes> {
            if (c.length != 0 && f.size() != c.length) return std::nullopt;
            return c.run(*u, f);
        };
}

}  // namespace detail

}  // namespace wexosim
