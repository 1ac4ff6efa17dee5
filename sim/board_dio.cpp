// Digital inputs and outputs: binary EC / E0 / F0 and ASCII DI / DY / DO / DK.
#include "board_ascii.hpp"

namespace wexosim::detail {

void install_dio_commands(Unit& unit) {
    Unit* u = &unit;
    auto bin = [u](std::uint8_t first, std::size_t len, Handler h) { u->binary[first] = {len, std::move(h)}; };
    auto ascii = [u](const char* letters, Handler h) { u->ascii[letters] = std::move(h); };

    bin(0xEC, 1, [u](const Bytes&) -> std::optional<Bytes> {
        return Bytes{0xEC, static_cast<std::uint8_t>(u->inputs() & 0x7F)};
    });
    bin(0xE0, 1, [u](const Bytes&) -> std::optional<Bytes> {
        return Bytes{0xE0, static_cast<std::uint8_t>(u->outputs() & 0xFF)};
    });
    bin(0xF0, 2, [u](const Bytes& f) -> std::optional<Bytes> {
        u->set_outputs(f[1]);
        return f;
    });

    ascii("DI", [u](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, group_bytes(u->inputs(), groups(u->n_inputs(), 1)));
    });
    ascii("DY", [u](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, group_bytes(u->outputs(), groups(u->n_outputs(), 1)));
    });
    ascii("DO", [u](const Bytes& f) -> std::optional<Bytes> {
        u->set_outputs(group_bits(f, 2, params_end(f)));
        return echo_reply(f);
    });
    ascii("DK", [u](const Bytes& f) -> std::optional<Bytes> {
        // Pairs of (new state, change mask) per group of four outputs.
        std::uint32_t out = u->outputs();
        for (std::size_t i = 2, k = 0; i + 1 < params_end(f) && k < 8; i += 2, ++k) {
            std::uint32_t mask = (f[i + 1] & 0x0Fu) << (4 * k), state = (f[i] & 0x0Fu) << (4 * k);
            out = (out & ~mask) | (state & mask);
        }
        u->set_outputs(out);
        return echo_reply(f);
    });
}

}  // namespace wexosim::detail
