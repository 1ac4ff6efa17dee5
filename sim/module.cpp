// The network module: UDP configuration port, configurable pins, and
// the pin-mode and setup-menu listeners.
#include "internal.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace wexosim::detail {

std::unique_ptr<Protocol> make_board_protocol(Unit& unit);

namespace {

constexpr std::size_t kDiscoveryLen = 30, kRecordLen = 124, kTextLen = 33, kBlockLen = 130;

// Replies carry the query byte plus one at offset 3.
Bytes header(std::size_t len, std::uint8_t query) {
    Bytes b(len, 0);
    b[3] = static_cast<std::uint8_t>(query + 1);
    return b;
}

void put_serial(Bytes& b, std::size_t at, const SerialSettings& s, std::uint16_t data_port) {
    std::uint16_t port = s.port ? s.port : data_port;
    b[at] = s.flags;
    b[at + 1] = s.baud;
    b[at + 2] = s.flow;
    b[at + 4] = static_cast<std::uint8_t>(port & 0xFF);
    b[at + 5] = static_cast<std::uint8_t>(port >> 8);
}

// Datagrams are frames by themselves.
class UdpProtocol : public Protocol {
public:
    explicit UdpProtocol(Unit& u) : u_(u) {}
    std::size_t frame_length(const Bytes& in) override { return in.size(); }
    std::optional<Bytes> answer(const Bytes& f) override {
        auto it = u_.udp.find(udp_key(f));
        return it == u_.udp.end() ? std::nullopt : it->second(f);
    }

private:
    Unit& u_;
};

// Configurable pins. The request's first byte fixes the form: 0x03 / 0x02 s
// (short, 4-byte replies) or 0x13 / 0x1B with 8 more bytes (long, 5 bytes).
// Modules before firmware 1.5 greet every connection first.
class PinsProtocol : public Protocol {
public:
    explicit PinsProtocol(Unit& u) : u_(u) {}
    Bytes greeting() override { return u_.short_pin_form() ? u_.cfg.pins_greeting : Bytes{}; }
    std::size_t frame_length(const Bytes& in) override {
        std::size_t need = in[0] == 0x02 ? 2 : (in[0] == 0x13 || in[0] == 0x1B) ? 9 : 1;
        return in.size() >= need ? need : 0;
    }
    std::optional<Bytes> answer(const Bytes& f) override {
        std::uint8_t& pins = u_.st.pins;
        switch (f[0]) {
        case 0x03: return Bytes{0x03, pins, 0, 0};
        case 0x02:
            pins = f[1] & 0x07;
            return Bytes{0x02, pins, 0, 0};
        case 0x13: return Bytes{0x13, pins, 0, 0, 0};
        case 0x1B: {
            std::uint8_t mask = f[1], value = f[5];  // low bytes of the two LE32 fields
            pins = static_cast<std::uint8_t>(((pins & ~mask) | (value & mask)) & 0x07);
            return Bytes{0x1B, pins, 0, 0, 0};
        }
        default: return std::nullopt;
        }
    }

private:
    Unit& u_;
};

// Pin mode write on TCP 30718: one 130-byte block, answered with 4 bytes.
class PinModeProtocol : public Protocol {
public:
    explicit PinModeProtocol(Unit& u) : u_(u) {}
    std::size_t frame_length(const Bytes& in) override { return in.size() >= kBlockLen ? kBlockLen : 0; }
    std::optional<Bytes> answer(const Bytes& f) override {
        if (f[3] != 0xC7) return std::nullopt;
        u_.cfg.cp_modes = std::array<std::uint8_t, 3>{f[4], f[5], f[6]};
        u_.cfg.cp_flag = f[129];
        return header(4, 0xC7);
    }

private:
    Unit& u_;
};

// Setup menu on TCP 9999, enough of it to walk to "factory defaults, save".
class SetupProtocol : public Protocol {
public:
    Bytes greeting() override { return text("*** WEXO network module ***\r\nPress Enter to go into Setup Mode\r\n"); }
    std::size_t frame_length(const Bytes& in) override {
        auto nl = std::find(in.begin(), in.end(), '\n');
        return nl == in.end() ? 0 : static_cast<std::size_t>(nl - in.begin()) + 1;
    }
    std::optional<Bytes> answer(const Bytes& f) override {
        std::uint8_t key = f.empty() ? 0 : f[0];
        if (!in_menu_) {
            in_menu_ = true;
            return menu();
        }
        if (key == '9') return text("Parameters stored ...\r\n");
        return menu();
    }

private:
    static Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }
    static Bytes menu() {
        return text("Change Setup:\r\n  0 Server\r\n  1 Channel 1\r\n  7 Defaults\r\n"
                    "  8 Exit without save\r\n  9 Save and exit\r\nYour choice ? ");
    }
    bool in_menu_ = false;
};

}  // namespace

int udp_key(const Bytes& d) {
    if (d.size() == 2 && d[0] == 'W' && d[1] == 'X') return kProbeKey;
    return d.size() >= 4 ? d[3] : -1;
}

Bytes discovery_reply(const Unit& u) {
    Bytes b = header(kDiscoveryLen, 0xF6);
    b[5] = static_cast<std::uint8_t>(u.cfg.firm_major << 4);
    b[6] = static_cast<std::uint8_t>(u.cfg.firm_minor << 4);
    for (std::size_t i = 0; i < 2 && i < u.cfg.firm_type.size(); ++i)
        b[8 + i] = static_cast<std::uint8_t>(u.cfg.firm_type[i]);
    std::array<std::uint8_t, 6> mac{0x00, 0x20, 0x4A, 0x00, 0x00, 0x00};
    if (u.cfg.mac) {
        mac = *u.cfg.mac;
    } else {
        // Distinct per address: the last two octets of the unit's IP.
        const auto* ip = reinterpret_cast<const std::uint8_t*>(&u.addr.sin_addr.s_addr);
        mac[4] = ip[2];
        mac[5] = ip[3];
    }
    std::copy(mac.begin(), mac.end(), b.begin() + 24);
    return b;
}

Bytes setup_record(const Unit& u) {
    if (u.cfg.setup_record) return *u.cfg.setup_record;
    Bytes b = header(kRecordLen, 0xF8);
    // The port actually bound, so that an ephemeral data port is found too.
    std::uint16_t data_port = u.eps[idx(Endpoint::Data)].listener.port;
    put_serial(b, 20, u.cfg.serial, data_port);
    put_serial(b, 68, u.cfg.serial2.value_or(u.cfg.serial), data_port);
    return b;
}

Bytes ident_text_reply(const Unit& u) {
    Bytes b = header(kTextLen, 0xF4);
    std::size_t n = std::min<std::size_t>(u.cfg.ident_text.size(), 15);
    std::copy_n(u.cfg.ident_text.begin(), n, b.begin() + 16);
    return b;
}

Bytes cp_block(const Unit& u) {
    if (u.cfg.cp_block) return *u.cfg.cp_block;
    Bytes b = header(kBlockLen, 0xE7);
    auto m = u.cp_modes();
    std::copy(m.begin(), m.end(), b.begin() + 4);
    // Each pin's function also shows as one flag byte 0x80 among bytes 7..16.
    auto flag = [&](int mode, std::initializer_list<std::pair<int, int>> where) {
        for (auto [mode_value, at] : where)
            if (mode == mode_value) b[static_cast<std::size_t>(at)] = 0x80;
    };
    flag(m[0], {{0, 7}, {4, 11}, {5, 12}});
    flag(m[1], {{2, 9}, {6, 13}, {7, 14}});
    flag(m[2], {{1, 8}, {1, 15}, {3, 10}, {3, 15}, {8, 15}, {9, 16}});
    b[129] = u.cfg.cp_flag;
    return b;
}

void install_module_commands(Unit& unit) {
    Unit* u = &unit;
    auto discovery = [u](bool probe) {
        return [u, probe](const Bytes&) -> std::optional<Bytes> {
            const UnitConfig& c = u->cfg;
            if (c.ignore_discovery || !(probe ? c.answer_probe : c.answer_query)) return std::nullopt;
            return discovery_reply(*u);
        };
    };
    auto when = [u](bool UnitConfig::*answer, Bytes (*build)(const Unit&)) {
        return [u, answer, build](const Bytes&) -> std::optional<Bytes> {
            if (!(u->cfg.*answer)) return std::nullopt;
            return build(*u);
        };
    };
    u->udp[0xF6] = discovery(false);
    u->udp[kProbeKey] = discovery(true);
    u->udp[0xF8] = when(&UnitConfig::answer_setup_query, setup_record);
    u->udp[0xF4] = when(&UnitConfig::answer_ident_text, ident_text_reply);
    u->udp[0xE7] = when(&UnitConfig::answer_cp_query, cp_block);
    // Configuration writes (address assignment 0xFC, performance 0xC3, restart
    // 0x58, serial settings 0xFD) go here as they are modelled.
}

std::unique_ptr<Protocol> make_protocol(Unit& unit, Endpoint ep) {
    switch (ep) {
    case Endpoint::Data: return make_board_protocol(unit);
    case Endpoint::Udp: return std::make_unique<UdpProtocol>(unit);
    case Endpoint::Pins: return std::make_unique<PinsProtocol>(unit);
    case Endpoint::PinMode: return std::make_unique<PinModeProtocol>(unit);
    case Endpoint::Setup: return std::make_unique<SetupProtocol>();
    }
    return nullptr;
}

}  // namespace wexosim::detail
