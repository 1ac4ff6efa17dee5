// Auto switching: binary F1..F3 / E1..E3 (one time for all outputs) and
// ASCII OL / OJ / OC / OH / OT / OI (two durations per output).
#include "board_ascii.hpp"

namespace wexosim::detail {

void install_autoswitch_commands(Unit& unit) {
    Unit* u = &unit;
    auto as = [u]() -> AutoSwitching& { return u->st.auto_switching; };
    auto bin = [u](std::uint8_t first, std::size_t len, Handler h) { u->binary[first] = {len, std::move(h)}; };
    auto ascii = [u](const char* letters, Handler h) { u->ascii[letters] = std::move(h); };
    // A binary setting: the byte goes into one field, the frame is echoed;
    // its read-back answers the field.
    auto setting = [&](std::uint8_t set, std::uint8_t get, auto field) {
        bin(set, 2, [as, field](const Bytes& f) -> std::optional<Bytes> {
            field(as()) = f[1];
            return f;
        });
        bin(get, 1, [as, field, get](const Bytes&) -> std::optional<Bytes> {
            return Bytes{get, static_cast<std::uint8_t>(field(as()) & 0xFF)};
        });
    };

    setting(0xF1, 0xE1, [](AutoSwitching& a) -> bool& { return a.active; });
    setting(0xF2, 0xE2, [](AutoSwitching& a) -> std::uint8_t& { return a.time_index; });
    setting(0xF3, 0xE3, [](AutoSwitching& a) -> std::uint32_t& { return a.mask; });

    ascii("OL", [as](const Bytes& f) -> std::optional<Bytes> {
        if (f.size() > 3) as().active = (f[2] & 0x08) != 0;
        return echo_reply(f);
    });
    ascii("OJ", [as](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, {small(as().active ? 0x08 : 0)});
    });
    ascii("OC", [as](const Bytes& f) -> std::optional<Bytes> {
        as().mask = group_bits(f, 2, params_end(f));
        return echo_reply(f);
    });
    ascii("OH", [u, as](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, group_bytes(as().mask, groups(u->n_outputs(), 2)));
    });
    ascii("OT", [as](const Bytes& f) -> std::optional<Bytes> {
        // output + 0x20, first and second duration as two hex digits each
        if (f.size() >= 8 && f[2] >= 0x20 && f[2] < 0x30) {
            as().first[f[2] - 0x20u] = static_cast<std::uint8_t>(hex_field(f, 3, 2));
            as().second[f[2] - 0x20u] = static_cast<std::uint8_t>(hex_field(f, 5, 2));
        }
        return echo_reply(f);
    });
    ascii("OI", [as](const Bytes& f) -> std::optional<Bytes> {
        std::uint8_t ch = f.size() > 3 ? f[2] : 0x20;
        Bytes payload{ch};
        std::size_t k = ch >= 0x20 && ch < 0x30 ? ch - 0x20u : 0;
        put_hex(payload, as().first[k], 2);
        put_hex(payload, as().second[k], 2);
        return ascii_reply(f, payload);
    });
}

}  // namespace wexosim::detail
