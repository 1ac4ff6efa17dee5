// The network module's UDP configuration port: discovery, the configuration
// queries, and the configuration writes that make the module restart.
#include "internal.hpp"

#include <algorithm>
#include <cstring>

namespace wexosim::detail {

namespace {

constexpr std::size_t kDiscoveryLen = 30, kRecordLen = 124, kTextLen = 33, kBlockLen = 130;
constexpr std::size_t kAssignLen = 20, kPerformanceLen = 88, kRestartLen = 5;

// Replies carry the request's byte 3 plus one at offset 3.
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

// ---- configuration writes: each changes the module's state, answers with
// four bytes (the restart request excepted) and restarts the module.

std::optional<Bytes> assign_address(Unit& u, const Bytes& d) {
    // Broadcast to every module; only the one whose MAC ends in bytes 14, 15 takes it.
    if (d.size() < kAssignLen || std::memcmp(&d[4], "IP-SETUP", 8) != 0) return std::nullopt;
    if (d[14] != u.mac[4] || d[15] != u.mac[5]) return std::nullopt;
    u.st.ip = std::to_string(d[16]) + "." + std::to_string(d[17]) + "." + std::to_string(d[18]) + "." +
              std::to_string(d[19]);
    u.restart_requested = true;
    return header(4, d[3]);
}

std::optional<Bytes> set_performance(Unit& u, const Bytes& d) {
    if (d.size() < kPerformanceLen) return std::nullopt;
    u.st.performance = (d[87] & 0x80) != 0;
    u.restart_requested = true;
    return header(4, d[3]);
}

std::optional<Bytes> restart(Unit& u, const Bytes& d) {
    // 00 00 03 58 and the second letter of the firmware type; no answer.
    if (d.size() != kRestartLen || d[2] != 0x03 || u.cfg.firm_type.size() < 2 ||
        d[4] != static_cast<std::uint8_t>(u.cfg.firm_type[1]))
        return std::nullopt;
    u.restart_requested = true;
    return std::nullopt;
}

std::optional<Bytes> write_serial(Unit& u, const Bytes& d) {
    // The setup record sent back with the first layout changed.
    if (d.size() < kRecordLen) return std::nullopt;
    u.st.serial = {d[20], d[21], d[22], 0};
    if (std::uint16_t port = static_cast<std::uint16_t>(d[24] | d[25] << 8)) u.st.data_port = port;
    u.restart_requested = true;
    return header(4, d[3]);
}

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
    std::copy(u.mac.begin(), u.mac.end(), b.begin() + 24);
    return b;
}

Bytes setup_record(const Unit& u) {
    if (u.cfg.setup_record) return *u.cfg.setup_record;
    Bytes b = header(kRecordLen, 0xF8);
    put_serial(b, 20, u.st.serial, u.st.data_port);
    put_serial(b, 68, u.st.serial2, u.st.data_port);
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
    auto m = u.st.cp_modes;
    std::copy(m.begin(), m.end(), b.begin() + 4);
    // Each pin's function also shows as one flag byte 0x80 among bytes 7..16.
    auto flag = [&](int mode, std::initializer_list<std::pair<int, int>> where) {
        for (auto [mode_value, at] : where)
            if (mode == mode_value) b[static_cast<std::size_t>(at)] = 0x80;
    };
    flag(m[0], {{0, 7}, {4, 11}, {5, 12}});
    flag(m[1], {{2, 9}, {6, 13}, {7, 14}});
    flag(m[2], {{1, 8}, {1, 15}, {3, 10}, {3, 15}, {8, 15}, {9, 16}});
    b[129] = u.st.cp_flag;
    return b;
}

void install_module_commands(Unit& unit) {
    Unit* u = &unit;
    auto discovery = [u](bool probe) {
        return [u, probe](const Bytes&) -> std::optional<Bytes> {
            const UnitState& s = u->st;
            if (s.ignore_discovery || !(probe ? s.answer_probe : s.answer_query)) return std::nullopt;
            return discovery_reply(*u);
        };
    };
    auto when = [u](bool UnitState::*answer, Bytes (*build)(const Unit&)) {
        return [u, answer, build](const Bytes&) -> std::optional<Bytes> {
            if (!(u->st.*answer)) return std::nullopt;
            return build(*u);
        };
    };
    auto write = [u](std::optional<Bytes> (*apply)(Unit&, const Bytes&)) {
        return [u, apply](const Bytes& d) { return apply(*u, d); };
    };
    u->udp[0xF6] = discovery(false);
    u->udp[kProbeKey] = discovery(true);
    u->udp[0xF8] = when(&UnitState::answer_setup_query, setup_record);
    u->udp[0xF4] = when(&UnitState::answer_ident_text, ident_text_reply);
    u->udp[0xE7] = when(&UnitState::answer_cp_query, cp_block);
    u->udp[0xFC] = write(assign_address);
    u->udp[0xC3] = write(set_performance);
    u->udp[0x58] = write(restart);
    u->udp[0xFD] = write(write_serial);
}

std::unique_ptr<Protocol> make_udp_protocol(Unit& unit) { return std::make_unique<UdpProtocol>(unit); }

}  // namespace wexosim::detail
