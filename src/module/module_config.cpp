// Network module configuration (ZuWexoSetIpAddress, ZuWexoFirstFoundSetIpAddress,
// ZuWexoSetPerformance, ZuWexoReset, ZuWexoSetCPMode, ZuWexoSetSerialParameter).
#include "module/module_config.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/call.hpp"
#include "wire/command_channel.hpp"
#include "wire/module_udp.hpp"
#include "wire/unit_socket.hpp"
#include "session/connections.hpp"
#include "session/unit_context.hpp"

namespace wexo {

namespace {

constexpr int kRestartAttempts = 20;
constexpr int kRestartPauseMs = 1000;
constexpr int kPerformanceSettleMs = 2000;
constexpr int kPerformanceProbes = 15;
constexpr int kProbeWaitMs = 1000;
constexpr int kWriteReplySize = 4;
constexpr uint8_t kRestartCode = 0x58;

// The command channel is closed before the module is changed under it.
void close_channel_first(UnitContext& unit) {
    if (unit.rec.connected) {
        entry_line("ZuWexoClose");
        close_channel(unit.index);
    }
}

int set_ip_address(unsigned mac4, unsigned mac5, const uint8_t (&ip)[4]) {
    set_error(kOk);
    ModuleSocket udp = ModuleSocket::open(Broadcast::kYes);
    if (!udp.valid()) return 0;
    // Nothing comes back: the module takes the address and restarts. A packet
    // that never left is no assignment.
    if (int err = udp.send(address_packet(static_cast<uint8_t>(mac4), static_cast<uint8_t>(mac5), ip),
                           config_broadcast())) {
        set_system_error(err);
        return 0;
    }
    return 1;
}

int first_found_set_ip(int timeout_ms, const uint8_t (&ip)[4]) {
    set_error(kOk);
    ModuleSocket udp = ModuleSocket::open(Broadcast::kYes);
    if (!udp.valid()) return 0;
    if (int err = udp.send(kDiscoveryQuery, config_broadcast())) {
        set_system_error(err);
        return 0;
    }
    const Deadline window = Deadline::after_ms(timeout_ms);
    bool assigned = false;
    for (;;) {
        const int ready = udp.wait(window);
        if (ready < 0) {
            set_system_error(errno);
            return 0;
        }
        if (ready == 0) break;
        std::array<uint8_t, kMacHeld> reply{};
        const long length = udp.receive_waiting(reply, nullptr);
        // Only a datagram that holds a MAC names a module: a shorter one in
        // the window is read and ignored.
        if (assigned || length < static_cast<long>(kMacHeld)) continue;
        assigned = true;
        entry_line("ZuWexoSetIpAddress");
        if (!set_ip_address(reply[28], reply[29], ip)) return 0;
        result_line("ZuWexoSetIpAddress:%d:%d:%d:%d:%d:%d", reply[28], reply[29], ip[0], ip[1], ip[2],
                    ip[3]);
    }
    return 1;
}

int set_performance(UnitContext& unit, int on) {
    close_channel_first(unit);
    ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    if (!udp.valid()) return 0;
    const sockaddr_in module = unit.rec.unit_addr;
    std::array<uint8_t, kWriteReplySize> reply{};
    if (udp.query(module, performance_packet(on != 0), reply, kAcknowledgement, nullptr,
                  unit.rec.timeout_ms) < 0) {
        set_system_error(errno);
        return 0;
    }
    Sleep(kPerformanceSettleMs);
    std::array<uint8_t, kSerialPacketSize> record_bytes{};
    for (int probe = 0; probe < kPerformanceProbes; ++probe) {
        errno = 0;
        // Any answer counts as the module being back.
        if (udp.query(module, kSetupQuery, record_bytes, kAcknowledgement, nullptr, kProbeWaitMs) >= 0) {
            return 1;
        }
        if (errno != EAGAIN) {
            set_system_error(errno);
            return 0;
        }
    }
    set_error(kNotPossible);
    return 0;
}

int reset_module(UnitContext& unit) {
    close_channel_first(unit);
    ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    if (!udp.valid()) return 0;
    const char type = unit.rec.firm_type[1];
    const uint8_t packet[] = {0x00, 0x00, 0x03, kRestartCode, static_cast<uint8_t>(type)};
    if (int err = udp.send(packet, unit.rec.unit_addr)) {
        set_system_error(err);
        return 0;
    }
    return 1;
}

// The module's whole pin block, read now: the record's copy may be another
// unit's (a '_' 'L' or '_' 'W' record asks for none) or none at all (a
// direct connection's record), and the write sends the block back whole.
bool read_pin_block(const wexo_device& rec, std::array<uint8_t, kPinModePacketSize>& block) {
    ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    if (!udp.valid()) return false;
    if (udp.query(rec.unit_addr, kCpQuery, block, kCpBlockHeld, nullptr, rec.timeout_ms) < 0) {
        set_system_error(errno);
        return false;
    }
    return true;
}

int set_cp_mode(UnitContext& unit, int cp1, int cp2, int cp3, int option) {
    close_channel_first(unit);
    wexo_device& rec = unit.rec;
    std::array<uint8_t, kPinModePacketSize> block{};
    if (!read_pin_block(rec, block)) return 0;
    // The pin block goes to the module's configuration port over TCP.
    Socket tcp = open_unit_connection(unit, ntohs(rec.unit_addr.sin_port));
    if (!tcp.valid()) return 0;
    const auto packet = pin_mode_packet(block, cp1, cp2, cp3, option);
    uint8_t reply[kWriteReplySize];
    Inbox inbox = Inbox::for_socket(tcp.get());
    if (!send_bytes(tcp.get(), packet, nullptr) ||
        receivedata(Link{tcp.get(), inbox}, reply, kWriteReplySize) != kWriteReplySize) {
        return 0;
    }
    // Kept once the module has taken them, not before.
    rec.cp_mode[0] = cp1;
    rec.cp_mode[1] = cp2;
    rec.cp_mode[2] = cp3;
    rec.cp_flag = option;
    tcp.reset();
    return wait_restart(unit);
}

int set_serial_parameter(UnitContext& unit, int baud, int data_bits, int parity, int stop_bits,
                         int flow, int port) {
    close_channel_first(unit);
    wexo_device& rec = unit.rec;
    ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    if (!udp.valid()) return 0;
    std::array<uint8_t, kSerialPacketSize> packet{};
    const long length =
        udp.query(rec.unit_addr, kSetupQuery, packet, kSetupRecordHeld, nullptr, rec.timeout_ms);
    if (length < 0) {
        set_system_error(errno);
        return 0;
    }
    // The record goes back whole: a short one would write zeros over the
    // settings that did not come.
    if (length < static_cast<long>(packet.size())) {
        set_error(kBadReply);
        return 0;
    }
    packet[3] = 0xFD;
    packet[20] = serial_flags_of(data_bits, parity, stop_bits);
    packet[21] = baud_code_of(baud);
    packet[22] = static_cast<uint8_t>(flow);
    packet[24] = static_cast<uint8_t>(port & 0xFF);
    packet[25] = static_cast<uint8_t>((port >> 8) & 0xFF);
    std::array<uint8_t, kWriteReplySize> reply{};
    if (udp.query(rec.unit_addr, packet, reply, kAcknowledgement, nullptr, rec.timeout_ms) < 0) {
        set_system_error(errno);
        return 0;
    }
    rec.serial_flags = packet[20];
    rec.baud_code = packet[21];
    rec.flow_control = packet[22];
    udp.close();
    return wait_restart(unit);
}

}  // namespace

std::array<uint8_t, 20> address_packet(uint8_t mac4, uint8_t mac5, const uint8_t (&ip)[4]) {
    std::array<uint8_t, 20> p{};
    p[3] = 0xFC;
    std::memcpy(&p[4], "IP-SETUP", 8);
    p[14] = mac4;
    p[15] = mac5;
    std::copy(std::begin(ip), std::end(ip), p.begin() + 16);
    return p;
}

std::array<uint8_t, 88> performance_packet(bool on) {
    std::array<uint8_t, 88> p{};
    p[3] = 0xC3;
    p[87] = on ? 0x80 : 0x00;
    return p;
}

std::array<uint8_t, kPinModePacketSize> pin_mode_packet(std::span<const uint8_t, kPinModePacketSize> block,
                                                        int cp1, int cp2, int cp3, int option) {
    std::array<uint8_t, kPinModePacketSize> p{};
    std::copy(block.begin(), block.end(), p.begin());
    p[3] = 0xC7;
    p[4] = static_cast<uint8_t>(cp1);
    p[5] = static_cast<uint8_t>(cp2);
    p[6] = static_cast<uint8_t>(cp3);
    // Each pin's function is also told by one flag byte among bytes 7..16.
    const auto flag = [](bool on) -> uint8_t { return on ? 0x80 : 0x00; };
    p[7] = flag(cp1 == 0);
    p[11] = flag(cp1 == 4);
    p[12] = flag(cp1 == 5);
    p[9] = flag(cp2 == 2);
    p[13] = flag(cp2 == 6);
    p[14] = flag(cp2 == 7);
    p[8] = flag(cp3 == 1);
    p[10] = flag(cp3 == 3);
    p[15] = flag(cp3 == 1 || cp3 == 3 || cp3 == 8);
    p[16] = flag(cp3 == 9);
    p[129] = static_cast<uint8_t>(option);
    return p;
}

uint8_t baud_code_of(int baud) {
    // Inverse of the decoding: the position of the rate in bps_value, through bps_decode.
    for (uint8_t position = 0; position < 12; ++position) {
        if (bps_value[position] == baud) return static_cast<uint8_t>(bps_decode[position]);
    }
    return 12;
}

uint8_t serial_flags_of(int data_bits, int parity, int stop_bits) {
    int flags = 0x48;
    if (parity == 2) flags += 0x30;
    else if (parity == 1) flags += 0x10;
    if (data_bits == 8) flags += 0x04;
    if (stop_bits == 2) flags += 0x80;
    return static_cast<uint8_t>(flags);
}

int wait_restart(UnitContext& unit) {
    for (int attempt = 0; attempt < kRestartAttempts; ++attempt) {
        // A fresh connection each time (one whose connect failed cannot be
        // reused); a failed attempt leaves its code, the last one stays.
        if (open_unit_connection(unit, kSetupPort).valid()) {
            set_error(kOk);  // the refusals while it restarted are no failure
            return 1;
        }
        if (attempt + 1 < kRestartAttempts) Sleep(kRestartPauseMs);
    }
    return 0;
}

}  // namespace wexo

using namespace wexo;

extern "C" int ZuWexoSetIpAddress(unsigned int mac4, unsigned int mac5, unsigned int ip1,
                                  unsigned int ip2, unsigned int ip3, unsigned int ip4) {
    return api_call("ZuWexoSetIpAddress", 0, [&] {
        const uint8_t ip[4] = {static_cast<uint8_t>(ip1), static_cast<uint8_t>(ip2),
                               static_cast<uint8_t>(ip3), static_cast<uint8_t>(ip4)};
        if (!set_ip_address(mac4, mac5, ip)) return 0;
        return result_line("ZuWexoSetIpAddress:%d:%d:%d:%d:%d:%d", mac4 & 0xFF, mac5 & 0xFF, ip[0],
                           ip[1], ip[2], ip[3]);
    });
}

extern "C" int ZuWexoFirstFoundSetIpAddress(int timeout_ms, unsigned int ip1, unsigned int ip2,
                                            unsigned int ip3, unsigned int ip4) {
    return api_call("ZuWexoFirstFoundSetIpAddress", 0, [&] {
        const uint8_t ip[4] = {static_cast<uint8_t>(ip1), static_cast<uint8_t>(ip2),
                               static_cast<uint8_t>(ip3), static_cast<uint8_t>(ip4)};
        if (!first_found_set_ip(timeout_ms, ip)) return 0;
        return result_line("ZuWexoFirstFoundSetIpAddress:%d:%d:%d:%d:%d", timeout_ms, ip[0], ip[1],
                           ip[2], ip[3]);
    });
}

extern "C" int ZuWexoSetPerformance(int index, int on) {
    return on_record("ZuWexoSetPerformance", index, [&](UnitContext& unit) {
        return set_performance(unit, on) ? result_line("ZuWexoSetPerformance:%d:%d", index, on) : 0;
    });
}

extern "C" int ZuWexoReset(int index) {
    return on_record("ZuWexoReset", index, [&](UnitContext& unit) {
        return reset_module(unit) ? result_line("ZuWexoReset:%d", index) : 0;
    });
}

extern "C" int ZuWexoSetCPMode(int index, int cp1_mode, int cp2_mode, int cp3_mode, int option) {
    return on_record("ZuWexoSetCPMode", index, [&](UnitContext& unit) {
        if (!set_cp_mode(unit, cp1_mode, cp2_mode, cp3_mode, option)) return 0;
        return result_line("ZuWexoSetCPMode:%d:%d:%d:%d:%d", index, cp1_mode, cp2_mode, cp3_mode, option);
    });
}

extern "C" int ZuWexoSetSerialParameter(int index, int baud, int data_bits, int parity,
                                        int stop_bits, int flow, int port) {
    return on_record("ZuWexoSetSerialParameter", index, [&](UnitContext& unit) {
        // A data port must fit 16 bits; another port would be written instead.
        if (!in_range(port, 0, 65535)) return 0;
        if (!set_serial_parameter(unit, baud, data_bits, parity, stop_bits, flow, port)) return 0;
        return result_line("ZuWexoSetSerialParameter:%d:%d:%d:%d:%d:%d:%d", index, baud, data_bits,
                           parity, stop_bits, flow, port);
    });
}
