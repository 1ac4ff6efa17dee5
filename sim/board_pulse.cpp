// Pulse mode on ASCII boards (PJ PL PH PC PG PP PS), model 42's output
// alerts (DS DL DJ) and the reset time every board takes (RSET). Byte 2
// names a channel as channel + 0x20. As with the analog commands, a request
// the board cannot carry out is dropped unanswered and changes nothing.
#include "board_ascii.hpp"

namespace wexosim::detail {

namespace {

using Run = std::optional<Bytes> (*)(Unit&, const Bytes&);

constexpr int kAsciiPulse = 3;   // the model table's pulse column
constexpr int kAlertModel = 42;  // the only board with output alerts
constexpr int kAlertOutputs = 2;
constexpr int kMaxResetTime = 10;

std::optional<std::size_t> channel(const Bytes& f, std::size_t count) {
    const int ch = small_value(f[2]);
    return ch >= 0 && static_cast<std::size_t>(ch) < count ? std::optional<std::size_t>(ch) : std::nullopt;
}

// ---------------------------------------------------------------- pulse mode

// Status byte S: bit 0 = bit 4 of setting_b, bits 1..2 setting_a, bit 3 on;
// T: bits 0..3 of setting_b.
std::optional<Bytes> read_status(Unit& u, const Bytes& f) {
    const Pulse& p = u.st.pulse;
    const int s = ((p.setting_b >> 4) & 1) | (p.setting_a & 3) << 1 | (p.on ? 8 : 0);
    return ascii_reply(f, {small(s), small(p.setting_b & 0x0F)});
}

std::optional<Bytes> write_status(Unit& u, const Bytes& f) {
    Pulse& p = u.st.pulse;
    p.on = (f[2] & 8) != 0;
    p.setting_a = (f[2] >> 1) & 3;
    p.setting_b = (f[2] & 1) << 4 | (f[3] & 0x0F);
    return echo_reply(f);
}

// Channel code: 0 disabled, 1 enabled UP, 2 enabled DOWN.
std::optional<Bytes> read_channel(Unit& u, const Bytes& f) {
    auto ch = channel(f, u.pulse_channels());
    if (!ch) return std::nullopt;
    const PulseChannel& c = u.st.pulse.channels[*ch];
    return ascii_reply(f, {f[2], small(c.enabled ? (c.down ? 2 : 1) : 0)});
}

std::optional<Bytes> write_channel(Unit& u, const Bytes& f) {
    auto ch = channel(f, u.pulse_channels());
    const int code = small_value(f[3]);
    if (!ch || code < 0 || code > 2) return std::nullopt;
    PulseChannel& c = u.st.pulse.channels[*ch];
    c.enabled = code != 0;
    c.down = code == 2;
    return echo_reply(f);
}

std::optional<Bytes> read_count(Unit& u, const Bytes& f) {
    auto ch = channel(f, u.pulse_channels());
    if (!ch) return std::nullopt;
    Bytes payload{f[2]};
    put_hex(payload, u.pulse_count(*ch), 8);
    return ascii_reply(f, payload);
}

// ---------------------------------------------------------------- output alerts

std::optional<Bytes> start_alert(Unit& u, const Bytes& f) {
    auto ch = channel(f, kAlertOutputs);
    if (!ch) return std::nullopt;
    u.st.output_alerts[*ch].started = (f[3] & 1) != 0;
    return echo_reply(f);
}

std::optional<Bytes> set_alert(Unit& u, const Bytes& f) {
    auto ch = channel(f, kAlertOutputs);
    const int mode = small_value(f[3]);
    auto value = signed_hex_field(f, 5, 4);
    if (!ch || mode < 0 || mode > 7 || !value) return std::nullopt;
    OutputAlert& a = u.st.output_alerts[*ch];
    a.mode = mode;
    a.flag = (f[4] & 1) != 0;
    a.value = *value & 0xFFFF;
    return echo_reply(f);
}

std::optional<Bytes> read_alert(Unit& u, const Bytes& f) {
    auto ch = channel(f, kAlertOutputs);
    if (!ch) return std::nullopt;
    const OutputAlert& a = u.st.output_alerts[*ch];
    Bytes payload{f[2], small(a.started ? 1 : 0), small(a.mode & 7), small(a.flag ? 1 : 0)};
    put_hex(payload, static_cast<unsigned>(a.value), 4);
    return ascii_reply(f, payload);
}

// "RSET" t: the two letters "RS" name it, "ET" follows.
std::optional<Bytes> reset_time(Unit& u, const Bytes& f) {
    const int t = small_value(f[4]);
    if (f[2] != 'E' || f[3] != 'T' || t < 0 || t > kMaxResetTime) return std::nullopt;
    u.st.reset_time = t;
    return ascii_reply(f, {'e', 't', f[4]});
}

// ---------------------------------------------------------------- table

enum class Needs { AsciiPulse, Alerts, Any };

struct Command {
    const char* letters;
    std::size_t length;  // whole request, terminator included
    Needs needs;
    Run run;
};

constexpr Command kCommands[] = {
    {"PJ", 3, Needs::AsciiPulse, read_status},
    {"PL", 5, Needs::AsciiPulse, write_status},
    {"PH", 4, Needs::AsciiPulse, read_channel},
    {"PC", 5, Needs::AsciiPulse, write_channel},
    {"PG", 4, Needs::AsciiPulse, read_count},
    {"PP", 3, Needs::AsciiPulse,
     [](Unit& u, const Bytes& f) -> std::optional<Bytes> {
         return ascii_reply(f, {small(u.st.pulse.continuous ? 8 : 0)});
     }},
    {"PS", 4, Needs::AsciiPulse,
     [](Unit& u, const Bytes& f) -> std::optional<Bytes> {
         u.st.pulse.continuous = (f[2] & 8) != 0;
         return echo_reply(f);
     }},
    {"DS", 5, Needs::Alerts, start_alert},
    {"DL", 10, Needs::Alerts, set_alert},
    {"DJ", 4, Needs::Alerts, read_alert},
    {"RS", 6, Needs::Any, reset_time},
};

bool has_command(const Unit& u, Needs needs) {
    switch (needs) {
    case Needs::AsciiPulse: return board_model(u.st.model).pulse == kAsciiPulse;
    case Needs::Alerts: return u.st.model == kAlertModel;
    case Needs::Any: return true;
    }
    return false;
}

}  // namespace

void install_pulse_commands(Unit& unit) {
    Unit* u = &unit;
    for (const Command& c : kCommands)
        u->ascii[c.letters] = [u, c](const Bytes& f) -> std::optional<Bytes> {
            if (f.size() != c.length || !has_command(*u, c.needs)) return std::nullopt;
            return c.run(*u, f);
        };
}

}  // namespace wexosim::detail
