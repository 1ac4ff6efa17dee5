// The I/O board behind the data port: binary and ASCII command frames.
#include "internal.hpp"

#include <algorithm>
#include <cstdio>

namespace wexosim::detail {

namespace {

constexpr std::uint8_t kEnd = 0xC8;

std::uint32_t low_bits(int n) { return n >= 32 ? ~0u : (1u << n) - 1; }
int groups(int channels, int at_least) { return std::max((channels + 3) / 4, at_least); }
std::uint8_t small(int v) { return static_cast<std::uint8_t>(0x20 + v); }

// One byte per group of four channels, 0x20 + the group's bits.
Bytes group_bytes(std::uint32_t bits, int count) {
    Bytes out;
    for (int k = 0; k < count; ++k) out.push_back(small(static_cast<int>((bits >> (4 * k)) & 0x0F)));
    return out;
}

// Inverse of group_bytes over the parameter bytes [from, to).
std::uint32_t group_bits(const Bytes& f, std::size_t from, std::size_t to) {
    std::uint32_t bits = 0;
    for (std::size_t i = from; i < to && i - from < 8; ++i) bits |= (f[i] & 0x0Fu) << (4 * (i - from));
    return bits;
}

// Parameter bytes of an ASCII frame: between the letters and the terminator.
std::size_t params_end(const Bytes& f) { return f.size() - 1; }

// Lower-case letters, payload, terminator.
Bytes ascii_reply(const Bytes& request, const Bytes& payload) {
    Bytes out{static_cast<std::uint8_t>(request[0] + 0x20), static_cast<std::uint8_t>(request[1] + 0x20)};
    out.insert(out.end(), payload.begin(), payload.end());
    out.push_back(kEnd);
    return out;
}

Bytes echo_params(const Bytes& f) { return Bytes(f.begin() + 2, f.end() - 1); }

int hex2(const Bytes& f, std::size_t at) {
    if (at + 2 > f.size()) return 0;
    char text[3] = {static_cast<char>(f[at]), static_cast<char>(f[at + 1]), 0};
    unsigned v = 0;
    return std::sscanf(text, "%2x", &v) == 1 ? static_cast<int>(v) : 0;
}

void put_hex2(Bytes& out, int v) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", v & 0xFF);
    out.push_back(static_cast<std::uint8_t>(text[0]));
    out.push_back(static_cast<std::uint8_t>(text[1]));
}

bool answers_binary_ident(const Unit& u) {
    IdentForm f = u.ident_form();
    return f == IdentForm::BinaryPlain || f == IdentForm::BinaryExtended;
}

// The data port's request stream: binary frames have a length fixed by their
// first byte; upper-case letters start an ASCII frame that runs to 0xC8;
// any other byte is a frame of its own that nobody answers.
class BoardProtocol : public Protocol {
public:
    explicit BoardProtocol(Unit& u) : u_(u) {}

    std::size_t frame_length(const Bytes& in) override {
        auto bin = u_.binary.find(in[0]);
        if (bin != u_.binary.end()) return in.size() >= bin->second.length ? bin->second.length : 0;
        if (in[0] >= 'A' && in[0] <= 'Z') {
            auto end = std::find(in.begin() + 1, in.end(), kEnd);
            if (end != in.end()) return static_cast<std::size_t>(end - in.begin()) + 1;
            // A frame this long will never be answered: give it up as one frame.
            return in.size() >= kMaxAscii ? in.size() : 0;
        }
        return 1;
    }

    std::optional<Bytes> answer(const Bytes& f) override {
        if (f.size() >= 3 && f.back() == kEnd && f[0] >= 'A' && f[0] <= 'Z') {
            auto it = u_.ascii.find(std::string{static_cast<char>(f[0]), static_cast<char>(f[1])});
            return it == u_.ascii.end() ? std::nullopt : it->second(f);
        }
        auto bin = u_.binary.find(f[0]);
        if (bin != u_.binary.end() && f.size() == bin->second.length) return bin->second.handler(f);
        return std::nullopt;
    }

private:
    static constexpr std::size_t kMaxAscii = 4096;
    Unit& u_;
};

}  // namespace

// ---------------------------------------------------------------- unit state

int Unit::n_outputs() const { return cfg.outputs >= 0 ? cfg.outputs : model_spec(st.model).outputs; }
int Unit::n_inputs() const { return cfg.inputs >= 0 ? cfg.inputs : model_spec(st.model).inputs; }

IdentForm Unit::ident_form() const {
    if (cfg.ident != IdentForm::Auto) return cfg.ident;
    if (st.model >= 7 && st.model <= 10) return IdentForm::BinaryExtended;
    if (st.model >= 16 && st.model <= 31) return IdentForm::MiExtended;
    if (st.model >= 32) return IdentForm::MiBasic;
    return IdentForm::BinaryPlain;
}

std::array<std::uint8_t, 3> Unit::cp_modes() const {
    if (cfg.cp_modes) return *cfg.cp_modes;
    // Model 1 drives its outputs through the pins, so they default to outputs.
    return st.model == 1 ? std::array<std::uint8_t, 3>{5, 7, 9} : std::array<std::uint8_t, 3>{0, 2, 1};
}

std::uint32_t Unit::outputs() const { return st.model == 1 ? st.pins & 0x07u : st.outputs; }

void Unit::set_outputs(std::uint32_t bits) {
    bits &= low_bits(n_outputs());
    if (st.model == 1)
        st.pins = static_cast<std::uint8_t>((st.pins & ~0x07u) | (bits & 0x07u));
    else
        st.outputs = bits;
}

std::uint32_t Unit::inputs() const {
    if (st.model != 2) return st.inputs;
    return (st.inputs & ~0x60u) | ((st.pins & 0x03u) << 5);
}

void Unit::set_inputs(std::uint32_t bits) {
    st.inputs = bits;
    if (st.model == 2) st.pins = static_cast<std::uint8_t>((st.pins & ~0x03u) | ((bits >> 5) & 0x03u));
}

// ---------------------------------------------------------------- identification

Bytes status_reply(const Unit& u) {
    if (u.cfg.status_reply) return *u.cfg.status_reply;
    const std::uint32_t in = u.inputs();
    const auto id = static_cast<std::uint8_t>(~u.st.board_id & 0x0F);
    if (u.ident_form() == IdentForm::BinaryExtended) {
        // Model pattern in bits 4..6; its bit 6 tells the reader to take the ID.
        static constexpr std::uint8_t kPattern[] = {4, 5, 2, 3};
        std::uint8_t pattern = (u.st.model >= 7 && u.st.model <= 10) ? kPattern[u.st.model - 7] : 0;
        return {static_cast<std::uint8_t>(pattern << 4 | id), static_cast<std::uint8_t>(0x70 | (in & 0x03))};
    }
    return {static_cast<std::uint8_t>((in & 1) << 7 | (u.st.model & 0x07) << 4 | id),
            static_cast<std::uint8_t>((in >> 1) & 0x0F)};
}

namespace {

std::optional<Bytes> mi_reply(const Unit& u) {
    if (!u.cfg.answer_ident) return std::nullopt;
    const auto id = static_cast<std::uint8_t>(~u.st.board_id & 0x0F);
    const auto model = static_cast<std::uint8_t>(u.st.model & 0x0F);
    switch (u.ident_form()) {
    case IdentForm::MiBasic: return Bytes{'m', 'i', id, model, kEnd};
    case IdentForm::MiExtended: return Bytes{'m', 'i', id, 0x0F, model, kEnd};
    default: return std::nullopt;  // boards that identify in binary do not know "MI"
    }
}

}  // namespace

// ---------------------------------------------------------------- command table

void install_board_commands(Unit& unit) {
    Unit* u = &unit;
    AutoSwitching& as = unit.st.auto_switching;
    auto bin = [u](std::uint8_t first, std::size_t len, Handler h) { u->binary[first] = {len, std::move(h)}; };
    auto ascii = [u](const char* letters, Handler h) { u->ascii[letters] = std::move(h); };
    auto echo = [](const Bytes& f) -> std::optional<Bytes> { return f; };

    // ---- binary frames
    bin(0x55, 2, [u](const Bytes& f) -> std::optional<Bytes> {
        if (f[1] != 0x55 || !u->cfg.answer_ident) return std::nullopt;
        if (!u->cfg.status_reply && !answers_binary_ident(*u)) return std::nullopt;
        return status_reply(*u);
    });
    bin(0xEC, 1, [u](const Bytes&) -> std::optional<Bytes> {
        return Bytes{0xEC, static_cast<std::uint8_t>(u->inputs() & 0x7F)};
    });
    bin(0xE0, 1, [u](const Bytes&) -> std::optional<Bytes> {
        return Bytes{0xE0, static_cast<std::uint8_t>(u->outputs() & 0xFF)};
    });
    bin(0xF0, 2, [u, echo](const Bytes& f) {
        u->set_outputs(f[1]);
        return echo(f);
    });
    bin(0xF1, 2, [&as, echo](const Bytes& f) {
        as.active = f[1] != 0;
        return echo(f);
    });
    bin(0xF2, 2, [&as, echo](const Bytes& f) {
        as.time_index = f[1];
        return echo(f);
    });
    bin(0xF3, 2, [&as, echo](const Bytes& f) {
        as.mask = f[1];
        return echo(f);
    });
    bin(0xE1, 1, [&as](const Bytes&) -> std::optional<Bytes> {
        return Bytes{0xE1, static_cast<std::uint8_t>(as.active ? 1 : 0)};
    });
    bin(0xE2, 1, [&as](const Bytes&) -> std::optional<Bytes> { return Bytes{0xE2, as.time_index}; });
    bin(0xE3, 1, [&as](const Bytes&) -> std::optional<Bytes> {
        return Bytes{0xE3, static_cast<std::uint8_t>(as.mask & 0xFF)};
    });

    // ---- ASCII frames
    ascii("MI", [u](const Bytes&) { return mi_reply(*u); });
    ascii("DI", [u](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, group_bytes(u->inputs(), groups(u->n_inputs(), 1)));
    });
    ascii("DY", [u](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, group_bytes(u->outputs(), groups(u->n_outputs(), 1)));
    });
    ascii("DO", [u](const Bytes& f) -> std::optional<Bytes> {
        u->set_outputs(group_bits(f, 2, params_end(f)));
        return ascii_reply(f, echo_params(f));
    });
    ascii("DK", [u](const Bytes& f) -> std::optional<Bytes> {
        // Pairs of (new state, change mask) per group of four outputs.
        std::uint32_t out = u->outputs();
        for (std::size_t i = 2, k = 0; i + 1 < params_end(f) && k < 8; i += 2, ++k) {
            std::uint32_t mask = (f[i + 1] & 0x0Fu) << (4 * k), state = (f[i] & 0x0Fu) << (4 * k);
            out = (out & ~mask) | (state & mask);
        }
        u->set_outputs(out);
        return ascii_reply(f, echo_params(f));
    });
    ascii("OL", [&as](const Bytes& f) -> std::optional<Bytes> {
        if (f.size() > 3) as.active = (f[2] & 0x08) != 0;
        return ascii_reply(f, echo_params(f));
    });
    ascii("OJ", [&as](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, {small(as.active ? 0x08 : 0)});
    });
    ascii("OC", [&as](const Bytes& f) -> std::optional<Bytes> {
        as.mask = group_bits(f, 2, params_end(f));
        return ascii_reply(f, echo_params(f));
    });
    ascii("OH", [u, &as](const Bytes& f) -> std::optional<Bytes> {
        return ascii_reply(f, group_bytes(as.mask, groups(u->n_outputs(), 2)));
    });
    ascii("OT", [&as](const Bytes& f) -> std::optional<Bytes> {
        // output + 0x20, first and second duration as two hex digits each
        if (f.size() >= 8 && f[2] >= 0x20 && f[2] < 0x30) {
            as.first[f[2] - 0x20u] = static_cast<std::uint8_t>(hex2(f, 3));
            as.second[f[2] - 0x20u] = static_cast<std::uint8_t>(hex2(f, 5));
        }
        return ascii_reply(f, echo_params(f));
    });
    ascii("OI", [&as](const Bytes& f) -> std::optional<Bytes> {
        std::uint8_t ch = f.size() > 3 ? f[2] : 0x20;
        Bytes payload{ch};
        std::size_t k = ch >= 0x20 && ch < 0x30 ? ch - 0x20u : 0;
        put_hex2(payload, as.first[k]);
        put_hex2(payload, as.second[k]);
        return ascii_reply(f, payload);
    });
}

std::unique_ptr<Protocol> make_board_protocol(Unit& unit) { return std::make_unique<BoardProtocol>(unit); }

}  // namespace wexosim::detail
