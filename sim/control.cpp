// The line-based control language of wexo-sim (stdin and control socket):
// one table row per command.
#include "internal.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>

namespace wexosim {

using detail::parse_bool;
using detail::parse_number;

namespace {

std::string hexnum(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

long number(const std::string& s) { return parse_number("number", s, LONG_MIN, LONG_MAX); }

// The words of one command line with typed access by position.
struct Args {
    std::vector<std::string> t;
    bool has(std::size_t i) const { return t.size() > i; }
    const std::string& word(std::size_t i) const { return t.at(i); }
    long num(std::size_t i) const { return number(word(i)); }
    int unit() const { return static_cast<int>(num(1)); }
    std::uint32_t bits(std::size_t i) const { return static_cast<std::uint32_t>(num(i)); }
    bool onoff(std::size_t i) const { return parse_bool("switch", word(i)); }
    Endpoint ep(std::size_t i = 2) const {
        auto e = endpoint_from_name(word(i));
        if (!e) throw std::invalid_argument("unknown endpoint: " + word(i));
        return *e;
    }
    std::string rest(std::size_t from) const {
        std::string s;
        for (std::size_t i = from; i < t.size(); ++i) s += t[i];
        return s;
    }
};

Fault parse_fault(const Args& a, std::size_t from) {
    Fault f;
    auto kind = fault_from_name(a.word(from));
    if (!kind) throw std::invalid_argument("unknown fault: " + a.word(from));
    f.kind = *kind;
    for (std::size_t i = from + 1; i < a.t.size(); ++i) {
        std::size_t eq = a.t[i].find('=');
        if (eq == std::string::npos) throw std::invalid_argument("expected key=value: " + a.t[i]);
        std::string k = a.t[i].substr(0, eq), v = a.t[i].substr(eq + 1);
        auto size = [&] { return static_cast<std::size_t>(parse_number(k, v, 0, LONG_MAX)); };
        if (k == "count") f.count = v == "forever" ? kForever : static_cast<int>(parse_number(k, v, 0, INT_MAX));
        else if (k == "delay") f.delay = Millis{parse_number(k, v, 0, LONG_MAX)};
        else if (k == "piece") f.piece = size();
        else if (k == "pause") f.pause = Millis{parse_number(k, v, 0, LONG_MAX)};
        else if (k == "length") f.length = size();
        else if (k == "frames") f.frames = size();
        else if (k == "bytes") f.bytes = from_hex(v);
        else if (k == "match") f.match = from_hex(v);
        else if (k == "source") f.source_ip = v;
        else throw std::invalid_argument("unknown fault key: " + k);
    }
    return f;
}

ConnectMode connect_mode(const std::string& m) {
    if (m == "accept") return ConnectMode::Accept;
    if (m == "refuse") return ConnectMode::Refuse;
    if (m == "stall") return ConnectMode::Stall;
    throw std::invalid_argument("unknown connect mode: " + m);
}

std::string units_line(Simulator& sim, int u) {
    UnitConfig c = sim.config(u);
    UnitState s = sim.state(u);
    std::string out = "unit " + std::to_string(u) + " ip=" + s.ip + " model=" + std::to_string(s.model) +
                      " id=" + std::to_string(s.board_id) + " data=" + std::to_string(sim.port(u, Endpoint::Data));
    if (c.module)
        out += " udp=" + std::to_string(sim.port(u, Endpoint::Udp)) + " pins=" + std::to_string(sim.port(u, Endpoint::Pins));
    return out;
}

// ---------------------------------------------------------------- analog

// One settable number of the state with the values it may take.
struct Field {
    std::variant<int*, bool*, std::uint8_t*, std::uint32_t*> value;
    long lo, hi;
    long get() const {
        return std::visit([](auto* v) { return static_cast<long>(*v); }, value);
    }
    void set(long v) const {
        std::visit([v](auto* p) { *p = static_cast<std::remove_reference_t<decltype(*p)>>(v); }, value);
    }
};
using Fields = std::vector<Field>;
using Pick = Fields (*)(UnitState&, std::size_t channel);

constexpr long kS16Lo = -32768, kS16Hi = 32767;

Fields ai_range(UnitState& s, std::size_t ch) { return {{&s.analog.inputs[ch].range, 0, 7}}; }
Fields ai_timing(UnitState& s, std::size_t) {
    return {{&s.analog.sampling_rate, 0, 7}, {&s.analog.transmit_cycle, 0, 13}};
}
Fields ao_present(UnitState& s, std::size_t ch) {
    AnalogOutput& o = s.analog.outputs[ch];
    return {{&o.value, kS16Lo, kS16Hi}, {&o.mode, 0, 1}};
}
Fields ao_start(UnitState& s, std::size_t ch) {
    AnalogOutput& o = s.analog.outputs[ch];
    return {{&o.start_value, kS16Lo, kS16Hi}, {&o.start_mode, 0, 1}};
}
Fields tc_config(UnitState& s, std::size_t ch) {
    AnalogInput& in = s.analog.inputs[ch];
    return {{&in.tc_type, 0, 7}, {&in.tc_flags, 0, 7}};
}
Fields tc_scale(UnitState& s, std::size_t ch) {
    AnalogInput& in = s.analog.inputs[ch];
    return {{&in.tc_scale_mode, 0, 3}, {&in.tc_low, kS16Lo, kS16Hi}, {&in.tc_high, kS16Lo, kS16Hi}};
}
Fields threshold(UnitState& s, std::size_t ch) {
    AnalogThreshold& t = s.analog.thresholds[ch];
    return {{&t.flags, 0, 15}, {&t.first, kS16Lo, kS16Hi}, {&t.second, kS16Lo, kS16Hi}};
}

// ---------------------------------------------------------------- pulse, alerts, settings

constexpr long kU32Hi = 0xFFFFFFFFL;
constexpr long kMaxRate = 1000000;
constexpr int kOutputAlerts = 2;

Fields pulse_mode(UnitState& s, std::size_t) {
    Pulse& p = s.pulse;
    return {{&p.on, 0, 1}, {&p.continuous, 0, 1}, {&p.setting_a, 0, 3}, {&p.setting_b, 0, 255}};
}
Fields pulse_channel(UnitState& s, std::size_t ch) {
    PulseChannel& c = s.pulse.channels[ch];
    return {{&c.enabled, 0, 1}, {&c.down, 0, 1}};
}
Fields pulse_count(UnitState& s, std::size_t ch) { return {{&s.pulse.channels[ch].count, 0, kU32Hi}}; }
Fields pulse_rate(UnitState& s, std::size_t ch) { return {{&s.pulse.channels[ch].rate_hz, 0, kMaxRate}}; }
Fields pulse_counter(UnitState& s, std::size_t ch) {
    PulseChannel& c = s.pulse.channels[ch];
    return {{&c.enabled, 0, 1}, {&c.down, 0, 1}, {&c.count, 0, kU32Hi}, {&c.rate_hz, 0, kMaxRate}};
}
Fields pulse_alert(UnitState& s, std::size_t) {
    Pulse& p = s.pulse;
    return {{&p.alert_channel, 0, 7}, {&p.alert_mode, 0, 3}, {&p.alert_value, 0, kU32Hi}};
}
Fields output_alert(UnitState& s, std::size_t ch) {
    OutputAlert& o = s.output_alerts[ch];
    return {{&o.started, 0, 1}, {&o.mode, 0, 7}, {&o.flag, 0, 1}, {&o.value, 0, 0xFFFF}};
}
Fields reset_time(UnitState& s, std::size_t) { return {{&s.reset_time, 0, 10}}; }
Fields parameters(UnitState& s, std::size_t) {
    Fields out;
    for (auto& b : s.parameters) out.push_back({&b, 0, 255});
    return out;
}

std::string join(const Fields& fields, const char* sep) {
    std::string out;
    for (const Field& f : fields) out += (out.empty() ? "" : sep) + std::to_string(f.get());
    return out;
}

// COUNT, or WAVE:AMPLITUDE:PERIOD_MS:COUNT while a wave runs.
std::string input_text(const AnalogInput& in) {
    if (in.wave == Wave::Constant) return std::to_string(in.count);
    return std::string(wave_name(in.wave)) + ":" + std::to_string(in.amplitude) + ":" + std::to_string(in.period_ms) +
           ":" + std::to_string(in.count);
}

std::size_t channel_arg(const Args& a, std::size_t i, int channels = kAnalogChannels) {
    return static_cast<std::size_t>(parse_number("channel", a.word(i), 0, channels - 1));
}

// "NAME U [CH] [VALUE...]": sets every field `P` names (when values are given)
// and shows them. `Channels` 0: unit-wide fields, no CH.
template <Pick P, int Channels = kAnalogChannels>
std::string fields_command(Simulator& sim, const Args& a) {
    const std::size_t ch = Channels > 0 ? channel_arg(a, 2, Channels) : 0, first = Channels > 0 ? 3 : 2;
    if (a.has(first))
        sim.update(a.unit(), [&](UnitState& s) {
            std::size_t i = first;
            for (const Field& f : P(s, ch)) {
                f.set(parse_number("argument " + std::to_string(i), a.word(i), f.lo, f.hi));
                ++i;
            }
        });
    UnitState s = sim.state(a.unit());
    return "ok " + join(P(s, ch), " ");
}

std::string show_input(Simulator& sim, const Args& a) {
    return "ok " + input_text(sim.state(a.unit()).analog.inputs[channel_arg(a, 2)]);
}

// The analog part of the state line: only what the model has.
std::string analog_text(UnitState s) {
    const BoardModel m = board_model(s.model);
    auto list = [&](int n, const std::function<std::string(std::size_t)>& item) {
        std::string out;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) out += (i ? "," : "") + item(i);
        return out;
    };
    auto fields = [&](Pick p) { return [&s, p](std::size_t i) { return join(p(s, i), ":"); }; };
    std::string out;
    if (m.analog_inputs > 0) {
        out += " ai=" + list(m.analog_inputs, [&](std::size_t i) { return input_text(s.analog.inputs[i]); }) +
               " ai-range=" + list(m.analog_inputs, fields(ai_range)) +
               " ai-rate=" + std::to_string(s.analog.sampling_rate) +
               " ai-cycle=" + std::to_string(s.analog.transmit_cycle);
        if (m.thermocouple)
            out += " tc=" + list(m.analog_inputs, fields(tc_config)) + " tc-scale=" + list(m.analog_inputs, fields(tc_scale));
    }
    if (m.analog_outputs > 0)
        out += " ao=" + list(m.analog_outputs, fields(ao_present)) + " ao-start=" + list(m.analog_outputs, fields(ao_start));
    const int domain = m.analog_inputs > 0 ? m.analog_inputs : m.analog_outputs;
    if (domain > 0) out += " thresholds=" + list(domain, fields(threshold));
    return out;
}

// Pulse mode, alerts and settings: only what the model has.
std::string pulse_text(UnitState s) {
    const BoardModel m = board_model(s.model);
    auto list = [&](int n, Pick p) {
        std::string out;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) out += (i ? "," : "") + join(p(s, i), ":");
        return out;
    };
    std::string out;
    if (m.pulse != 0)
        out += " pulse=" + join(pulse_mode(s, 0), ":") + " pulse-ch=" + list(std::min(m.inputs, kPulseChannels), pulse_counter);
    if (m.pulse == 2) out += " pulse-alert=" + join(pulse_alert(s, 0), ":");
    if (std::any_of(m.settings.begin(), m.settings.end(), [](int v) { return v == 1 || v == 2; }))
        out += " parameters=" + join(parameters(s, 0), ":");
    if (s.model == 42) out += " do-alert=" + list(kOutputAlerts, output_alert);
    return out + " reset-time=" + std::to_string(s.reset_time);
}

// EEPROM bytes from ADDR: written (when HEX is given) and shown (16 when not).
std::string eeprom_command(Simulator& sim, const Args& a) {
    const auto at = static_cast<std::size_t>(parse_number("address", a.word(2), 0, kEepromSize - 1));
    const Bytes data = from_hex(a.rest(3));
    if (at + data.size() > kEepromSize) throw std::invalid_argument("past the EEPROM's end");
    if (!data.empty()) sim.update(a.unit(), [&](UnitState& s) { std::copy(data.begin(), data.end(), s.eeprom.begin() + static_cast<long>(at)); });
    const std::size_t n = data.empty() ? std::min<std::size_t>(16, kEepromSize - at) : data.size();
    const Eeprom e = sim.state(a.unit()).eeprom;
    return "ok " + to_hex(Bytes(e.begin() + static_cast<long>(at), e.begin() + static_cast<long>(at + n)));
}

std::string state_line(const UnitState& s) {
    auto num = [](int v) { return std::to_string(v); };
    const SerialSettings& se = s.serial;
    return "ok inputs=" + hexnum(s.inputs) + " outputs=" + hexnum(s.outputs) + " pins=" + hexnum(s.pins) +
           " id=" + num(s.board_id) + " model=" + num(s.model) + " auto-active=" + num(s.auto_switching.active) +
           " auto-mask=" + hexnum(s.auto_switching.mask) + " auto-time=" + num(s.auto_switching.time_index) +
           " cp=" + num(s.cp_modes[0]) + "." + num(s.cp_modes[1]) + "." + num(s.cp_modes[2]) +
           " cp-flag=" + num(s.cp_flag) + " ip=" + s.ip + " data-port=" + num(s.data_port) +
           " serial=" + hexnum(se.flags) + "." + num(se.baud) + "." + num(se.flow) +
           " performance=" + num(s.performance) + " restarting=" + num(s.restarting) + " restarts=" + num(s.restarts) +
           " firmware-loads=" + num(s.firmware_loads) + analog_text(s) + pulse_text(s);
}

// "NAME U [BITS]": set one bit field of the state (if given) and show it.
template <auto Field>
std::string bits_command(Simulator& sim, const Args& a) {
    using T = std::remove_reference_t<decltype(std::declval<UnitState&>().*Field)>;
    if (a.has(2)) sim.update(a.unit(), [&](UnitState& s) { s.*Field = static_cast<T>(a.bits(2)); });
    return "ok " + hexnum(sim.state(a.unit()).*Field);
}

// The answer to a change that reports nothing back.
std::string done() { return "ok"; }

struct Command {
    const char* name;
    const char* args;
    const char* help;
    std::string (*run)(Simulator&, const Args&);
};

constexpr Command kCommands[] = {
    {"help", "", "this list", [](Simulator&, const Args&) { return "ok\n" + control_help(); }},
    {"units", "", "ok N, then one unit line per unit",
     [](Simulator& sim, const Args&) {
         std::string out = "ok " + std::to_string(sim.unit_count());
         for (int u = 0; u < sim.unit_count(); ++u) out += "\n" + units_line(sim, u);
         return out;
     }},
    {"state", "U", "the unit's state", [](Simulator& sim, const Args& a) { return state_line(sim.state(a.unit())); }},
    {"inputs", "U [BITS]", "set (if given) and show the inputs",
     bits_command<&UnitState::inputs>},
    {"input", "U CH 0|1", "set one input",
     [](Simulator& sim, const Args& a) {
         sim.set_input(a.unit(), static_cast<int>(a.num(2)), a.onoff(3));
         return "ok " + hexnum(sim.inputs(a.unit()));
     }},
    {"outputs", "U [BITS]", "set (if given) and show the outputs",
     bits_command<&UnitState::outputs>},
    {"pins", "U [BITS]", "set (if given) and show the pins",
     bits_command<&UnitState::pins>},
    {"id", "U ID", "change the board ID",
     [](Simulator& sim, const Args& a) { return sim.set_board_id(a.unit(), static_cast<int>(a.num(2))), done(); }},
    {"model", "U CODE", "change the model code",
     [](Simulator& sim, const Args& a) { return sim.set_model(a.unit(), static_cast<int>(a.num(2))), done(); }},
    {"ident", "U on|off", "answer identification or not",
     [](Simulator& sim, const Args& a) { return sim.set_answer_ident(a.unit(), a.onoff(2)), done(); }},
    {"discovery", "U on|off", "answer discovery or not",
     [](Simulator& sim, const Args& a) { return sim.set_ignore_discovery(a.unit(), !a.onoff(2)), done(); }},
    {"setup-query", "U on|off", "answer the F8 setup query or not",
     [](Simulator& sim, const Args& a) { return sim.set_answer_setup_query(a.unit(), a.onoff(2)), done(); }},
    {"restart", "U [MS]", "restart the module: its ports go away for MS (the unit's restart time)",
     [](Simulator& sim, const Args& a) {
         Millis down{a.has(2) ? a.num(2) : sim.config(a.unit()).restart_ms};
         return sim.restart_module(a.unit(), down), done();
     }},
    {"wait-restart", "U N [MS]", "ok once N restarts have begun and the module is up again",
     [](Simulator& sim, const Args& a) -> std::string {
         int n = static_cast<int>(a.num(2));
         Millis ms{a.has(3) ? a.num(3) : 10000};
         bool up = sim.wait_state(a.unit(), [n](const UnitState& s) { return s.restarts >= n && !s.restarting; }, ms);
         return up ? "ok" : "error timeout";
     }},
    {"firmware", "U", "ok N HEX: images committed so far, the last one",
     [](Simulator& sim, const Args& a) {
         UnitState s = sim.state(a.unit());
         return "ok " + std::to_string(s.firmware_loads) + (s.firmware.empty() ? "" : " ") + to_hex(s.firmware);
     }},
    {"fault", "U EP KIND [KEY=VALUE...]", "queue a fault (keys: count delay piece pause length frames bytes match source)",
     [](Simulator& sim, const Args& a) { return sim.inject(a.unit(), a.ep(), parse_fault(a, 3)), done(); }},
    {"clear-faults", "U [EP]", "drop queued faults",
     [](Simulator& sim, const Args& a) {
         return a.has(2) ? sim.clear_faults(a.unit(), a.ep()) : sim.clear_faults(a.unit()), done();
     }},
    {"connect", "U EP accept|refuse|stall", "connect mode of a TCP endpoint",
     [](Simulator& sim, const Args& a) { return sim.set_connect_mode(a.unit(), a.ep(), connect_mode(a.word(3))), done(); }},
    {"close", "U EP", "close the endpoint's open connections",
     [](Simulator& sim, const Args& a) { return sim.close_connections(a.unit(), a.ep()), done(); }},
    {"unsolicited", "U EP HEX", "send bytes on the endpoint's open connections",
     [](Simulator& sim, const Args& a) { return sim.send_unsolicited(a.unit(), a.ep(), from_hex(a.rest(3))), done(); }},
    {"log", "U EP", "ok N, then one frame line per received request",
     [](Simulator& sim, const Args& a) {
         auto frames = sim.frames(a.unit(), a.ep());
         std::string out = "ok " + std::to_string(frames.size());
         for (const Bytes& f : frames) out += "\nframe " + to_hex(f);
         return out;
     }},
    {"clear-log", "U [EP]", "forget received requests",
     [](Simulator& sim, const Args& a) {
         return a.has(2) ? sim.clear_log(a.unit(), a.ep()) : sim.clear_log(a.unit()), done();
     }},
    {"wait", "U EP N [MS]", "ok once N requests are logged, error timeout after MS (2000)",
     [](Simulator& sim, const Args& a) -> std::string {
         Millis ms{a.has(4) ? a.num(4) : 2000};
         return sim.wait_frames(a.unit(), a.ep(), static_cast<std::size_t>(a.num(3)), ms) ? "ok" : "error timeout";
     }},
    {"accepted", "U EP", "ok N: connections accepted so far",
     [](Simulator& sim, const Args& a) { return "ok " + std::to_string(sim.accepted(a.unit(), a.ep())); }},
    {"ai", "U CH [COUNT]", "set (if given: constant) and show an analog input count",
     [](Simulator& sim, const Args& a) {
         if (a.has(3))
             sim.set_analog_input(a.unit(), static_cast<int>(channel_arg(a, 2)),
                                  static_cast<std::int32_t>(parse_number("count", a.word(3), -0x800000, 0x7FFFFF)));
         return show_input(sim, a);
     }},
    {"ai-wave", "U CH constant|ramp|sine [AMPLITUDE PERIOD_MS [OFFSET]]", "let an analog input change with time",
     [](Simulator& sim, const Args& a) {
         auto wave = wave_from_name(a.word(3));
         if (!wave) throw std::invalid_argument("unknown wave: " + a.word(3));
         sim.update(a.unit(), [&](UnitState& s) {
             AnalogInput& in = s.analog.inputs[channel_arg(a, 2)];
             in.wave = *wave;
             if (a.has(4)) in.amplitude = static_cast<std::int32_t>(parse_number("amplitude", a.word(4), -0xFFFFFF, 0xFFFFFF));
             if (a.has(5)) in.period_ms = static_cast<int>(parse_number("period", a.word(5), 1, INT_MAX));
             if (a.has(6)) in.count = static_cast<std::int32_t>(parse_number("offset", a.word(6), -0x800000, 0x7FFFFF));
         });
         return show_input(sim, a);
     }},
    {"ai-range", "U CH [RANGE]", "set (if given) and show an input's range code", fields_command<ai_range>},
    {"ai-timing", "U [RATE CYCLE]", "set (if given) and show the sampling-rate and transmit-cycle codes",
     fields_command<ai_timing, 0>},
    {"ao", "U CH [VALUE MODE]", "set (if given) and show an analog output (mode 0 voltage, 1 current)",
     fields_command<ao_present>},
    {"ao-start", "U CH [VALUE MODE]", "the same for the start-up value", fields_command<ao_start>},
    {"tc", "U CH [TYPE FLAGS]", "set (if given) and show a thermocouple's type and flags", fields_command<tc_config>},
    {"tc-scale", "U CH [MODE LOW HIGH]", "set (if given) and show a thermocouple's transmit scale",
     fields_command<tc_scale>},
    {"threshold", "U CH [FLAGS T1 T2]", "set (if given) and show an analog channel's threshold flags and values",
     fields_command<threshold>},
    {"pulse", "U CH [N]", "count N (1) pulses on an input's counter: ok COUNT",
     [](Simulator& sim, const Args& a) {
         const std::size_t ch = channel_arg(a, 2, kPulseChannels);
         const auto n = static_cast<std::uint32_t>(a.has(3) ? parse_number("pulses", a.word(3), 0, kU32Hi) : 1);
         sim.update(a.unit(), [&](UnitState& s) { s.pulse.channels[ch].count += n; });
         return "ok " + std::to_string(sim.state(a.unit()).pulse.channels[ch].count);
     }},
    {"pulse-count", "U CH [COUNT]", "set (if given) and show an input's pulse count",
     fields_command<pulse_count, kPulseChannels>},
    {"pulse-rate", "U CH [HZ]", "set (if given) and show the pulses an input counts per second",
     fields_command<pulse_rate, kPulseChannels>},
    {"pulse-channel", "U CH [ENABLED DOWN]", "set (if given) and show an input's pulse setup (0/1 each)",
     fields_command<pulse_channel, kPulseChannels>},
    {"pulse-mode", "U [ON CONTINUOUS A B]", "set (if given) and show pulse mode, continuous mode, settings a and b",
     fields_command<pulse_mode, 0>},
    {"pulse-alert", "U [CH MODE VALUE]", "set (if given) and show the pulse alert", fields_command<pulse_alert, 0>},
    {"do-alert", "U CH [STARTED MODE FLAG VALUE]", "set (if given) and show an output alert (model 42)",
     fields_command<output_alert, kOutputAlerts>},
    {"reset-time", "U [T]", "set (if given) and show the reset time (0..10)", fields_command<reset_time, 0>},
    {"parameters", "U [B0 B1 B2 B3 B4]", "set (if given) and show the settings in parameter memory (0x90 selectors)",
     fields_command<parameters, 0>},
    {"eeprom", "U ADDR [HEX]", "write (if given) and show EEPROM bytes from ADDR (16 when no HEX)", eeprom_command},
    {"eeprom-save", "U FILE", "save the EEPROM to a raw 4096-byte file",
     [](Simulator& sim, const Args& a) { return write_eeprom_file(a.word(2), sim.state(a.unit()).eeprom), done(); }},
    {"eeprom-load", "U FILE", "load the EEPROM from a raw 4096-byte file",
     [](Simulator& sim, const Args& a) {
         const Eeprom e = read_eeprom_file(a.word(2));
         return sim.update(a.unit(), [&](UnitState& s) { s.eeprom = e; }), done();
     }},
    {"quit", "", "end the simulator", [](Simulator&, const Args&) { return std::string("ok bye"); }},
};

}  // namespace

std::string control_help() {
    std::string out = "commands (U: unit number, EP: data|udp|pins|pinmode|setup):";
    for (const Command& c : kCommands) {
        std::string syntax = std::string(c.name) + (*c.args ? " " : "") + c.args;
        out += "\n  " + syntax + std::string(syntax.size() < 28 ? 28 - syntax.size() : 1, ' ') + c.help;
    }
    return out;
}

std::string control_command(Simulator& sim, const std::string& line) {
    std::istringstream in(line);
    Args a;
    for (std::string w; in >> w;) a.t.push_back(w);
    if (a.t.empty()) return "ok";
    for (const Command& c : kCommands) {
        if (a.t[0] != c.name) continue;
        try {
            return c.run(sim, a);
        } catch (const std::out_of_range& e) {
            return std::string("error missing argument or no such unit (") + e.what() + ")";
        } catch (const std::exception& e) {
            return std::string("error ") + e.what();
        }
    }
    return "error unknown command: " + a.t[0];
}

}  // namespace wexosim
