// The board's parameter memory: binary frames whose first byte is the
// parameter code. Reads answer the code and their value bytes; writes echo
// the request. Pulse frames: E4/F4 on-off, E7/F7 continuous, E6/F6 counting
// channel and settings, F5 04 16-bit count (the basic set), and E5 32-bit
// channel count, E8/F8 settings, E9/F9 pulse alert, EB/FB channel setup (the
// full set). Unit settings: 0x90 selector reads, 0x91..0x95 write. A board
// whose model lacks a frame, or a value outside its set, gets no answer.
#include "board_ascii.hpp"

namespace wexosim::detail {

namespace {

using Run = std::optional<Bytes> (*)(Unit&, const Bytes&);

std::uint8_t byte(std::size_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

std::optional<std::size_t> pulse_channel(const Unit& u, unsigned ch) {
    return ch < u.pulse_channels() ? std::optional<std::size_t>(ch) : std::nullopt;
}

// The one counting channel: the first enabled one.
std::optional<std::size_t> counting_channel(const Unit& u) {
    for (std::size_t i = 0; i < u.pulse_channels(); ++i)
        if (u.st.pulse.channels[i].enabled) return i;
    return std::nullopt;
}

// 32 bits as six groups, most significant first: bits 30..31, then 6 bits each.
void put_groups(Bytes& out, std::uint32_t v) {
    for (int shift = 30; shift >= 0; shift -= 6) out.push_back(byte((v >> shift) & 0x3F));
}
std::uint32_t groups_value(const Bytes& f, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 6; ++i) v = v << 6 | (f[at + i] & 0x3Fu);
    return v;
}

// F4 / F7: 01 on, 02 off.
std::optional<Bytes> switch_flag(bool& flag, const Bytes& f) {
    if (f[1] != 1 && f[1] != 2) return std::nullopt;
    flag = f[1] == 1;
    return f;
}

std::optional<Bytes> read_config(Unit& u, const Bytes&) {
    const Pulse& p = u.st.pulse;
    auto ch = counting_channel(u);
    std::size_t c = static_cast<std::size_t>(p.setting_a & 3) << 4;
    if (ch) c |= ((*ch + 1) & 7) | (p.channels[*ch].down ? 8u : 0u);
    return Bytes{0xE6, byte(c), byte(static_cast<unsigned>(p.setting_b))};
}

// Makes the channel in bits 0..2 (minus one; 0: none) the one counting channel.
std::optional<Bytes> write_config(Unit& u, const Bytes& f) {
    const int ch = (f[1] & 7) - 1;
    if (ch >= 0 && !pulse_channel(u, static_cast<unsigned>(ch))) return std::nullopt;
    Pulse& p = u.st.pulse;
    for (std::size_t i = 0; i < kPulseChannels; ++i) p.channels[i].enabled = static_cast<int>(i) == ch;
    if (ch >= 0) p.channels[static_cast<std::size_t>(ch)].down = (f[1] & 8) != 0;
    p.setting_a = (f[1] >> 4) & 3;
    p.setting_b = f[2];
    return f;
}

std::optional<Bytes> read_count16(Unit& u, const Bytes& f) {
    if (f[1] != 4) return std::nullopt;
    auto ch = counting_channel(u);
    const std::uint32_t n = ch ? u.pulse_count(*ch) : 0;
    return Bytes{0xF5, byte(((n >> 12) & 0x0F) | (n > 0xFFFF ? 0x10 : 0)), byte((n >> 8) & 0x0F), byte((n >> 4) & 0x0F),
                 byte(n & 0x0F)};
}

std::optional<Bytes> read_count32(Unit& u, const Bytes& f) {
    auto ch = pulse_channel(u, f[1]);
    if (!ch) return std::nullopt;
    Bytes out{0xE5, f[1]};
    put_groups(out, u.pulse_count(*ch));
    return out;
}

std::optional<Bytes> write_settings(Unit& u, const Bytes& f) {
    u.st.pulse.setting_a = f[1] & 3;
    u.st.pulse.setting_b = f[2];
    return f;
}

std::optional<Bytes> read_alert(Unit& u, const Bytes&) {
    const Pulse& p = u.st.pulse;
    Bytes out{0xE9, byte(static_cast<unsigned>((p.alert_mode & 3) << 3 | (p.alert_channel & 7)))};
    put_groups(out, p.alert_value);
    return out;
}

std::optional<Bytes> write_alert(Unit& u, const Bytes& f) {
    Pulse& p = u.st.pulse;
    p.alert_channel = f[1] & 7;
    p.alert_mode = (f[1] >> 3) & 3;
    p.alert_value = groups_value(f, 2);
    return f;
}

// Channel setup byte: channel in bits 4..6, enabled bit 3, DOWN bit 2.
std::optional<Bytes> read_channel(Unit& u, const Bytes& f) {
    auto ch = pulse_channel(u, f[1] & 7u);
    if (!ch) return std::nullopt;
    const PulseChannel& c = u.st.pulse.channels[*ch];
    return Bytes{0xEB, byte(*ch), byte(*ch << 4 | (c.enabled ? 8u : 0u) | (c.down ? 4u : 0u))};
}

std::optional<Bytes> write_channel(Unit& u, const Bytes& f) {
    auto ch = pulse_channel(u, (f[1] >> 4) & 7u);
    if (!ch) return std::nullopt;
    PulseChannel& c = u.st.pulse.channels[*ch];
    c.enabled = (f[1] & 8) != 0;
    c.down = (f[1] & 4) != 0;
    return f;
}

// ---------------------------------------------------------------- unit settings

// Selector 0 holds two settings (disconnection and notice time), 3 and 4 the
// two mail masks of one column.
constexpr std::size_t kSettingColumns[5][2] = {{0, 1}, {2, 2}, {3, 3}, {4, 4}, {4, 4}};

bool in_parameters(const Unit& u, std::size_t selector) {
    const BoardModel m = board_model(u.st.model);
    auto param = [](int v) { return v == 1 || v == 2; };
    return selector < 5 && (param(m.settings[kSettingColumns[selector][0]]) ||
                            param(m.settings[kSettingColumns[selector][1]]));
}

std::optional<Bytes> read_setting(Unit& u, const Bytes& f) {
    if (!in_parameters(u, f[1])) return std::nullopt;
    return Bytes{0x90, u.st.parameters[f[1]]};
}

std::optional<Bytes> write_setting(Unit& u, const Bytes& f) {
    const std::size_t selector = f[0] - 0x91u;
    if (!in_parameters(u, selector)) return std::nullopt;
    u.st.parameters[selector] = f[1];
    return f;
}

// ---------------------------------------------------------------- table

enum class Needs { Basic, Full, Setting };

struct Frame {
    std::uint8_t code;
    std::size_t length;  // request length
    Needs needs;
    Run run;
};

constexpr Frame kFrames[] = {
    {0xE4, 1, Needs::Basic, [](Unit& u, const Bytes&) -> std::optional<Bytes> {
         return Bytes{0xE4, byte(u.st.pulse.on ? 0 : 1)};  // 0 means on
     }},
    {0xF4, 2, Needs::Basic, [](Unit& u, const Bytes& f) { return switch_flag(u.st.pulse.on, f); }},
    {0xE7, 1, Needs::Basic, [](Unit& u, const Bytes&) -> std::optional<Bytes> {
         return Bytes{0xE7, byte(u.st.pulse.continuous ? 1 : 0)};
     }},
    {0xF7, 2, Needs::Basic, [](Unit& u, const Bytes& f) { return switch_flag(u.st.pulse.continuous, f); }},
    {0xE6, 1, Needs::Basic, read_config},
    {0xF6, 3, Needs::Basic, write_config},
    {0xF5, 2, Needs::Basic, read_count16},
    {0xE5, 2, Needs::Full, read_count32},
    {0xE8, 1, Needs::Full, [](Unit& u, const Bytes&) -> std::optional<Bytes> {
         return Bytes{0xE8, byte(static_cast<unsigned>(u.st.pulse.setting_a & 3)),
                      byte(static_cast<unsigned>(u.st.pulse.setting_b))};
     }},
    {0xF8, 3, Needs::Full, write_settings},
    {0xE9, 1, Needs::Full, read_alert},
    {0xF9, 8, Needs::Full, write_alert},
    {0xEB, 2, Needs::Full, read_channel},
    {0xFB, 2, Needs::Full, write_channel},
    {0x90, 2, Needs::Setting, read_setting},
    {0x91, 2, Needs::Setting, write_setting},
    {0x92, 2, Needs::Setting, write_setting},
    {0x93, 2, Needs::Setting, write_setting},
    {0x94, 2, Needs::Setting, write_setting},
    {0x95, 2, Needs::Setting, write_setting},
};

bool has_frame(const Unit& u, Needs needs) {
    const int pulse = board_model(u.st.model).pulse;
    switch (needs) {
    case Needs::Basic: return pulse == 1 || pulse == 2;
    case Needs::Full: return pulse == 2;
    case Needs::Setting: return true;  // per selector, in the handler
    }
    return false;
}

}  // namespace

void install_parameter_commands(Unit& unit) {
    Unit* u = &unit;
    for (const Frame& fr : kFrames)
        u->binary[fr.code] = {fr.length, [u, fr](const Bytes& f) -> std::optional<Bytes> {
                                  return has_frame(*u, fr.needs) ? fr.run(*u, f) : std::nullopt;
                              }};
}

}  // namespace wexosim::detail
