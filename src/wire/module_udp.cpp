#include "wire/module_udp.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "core/state.hpp"

namespace wexo {

namespace {

// Copies a datagram into a zeroed buffer of the size its layout needs, so
// that offsets past the end of a short datagram read as zero.
template <std::size_t N>
std::array<uint8_t, N> padded(std::span<const uint8_t> datagram) {
    std::array<uint8_t, N> bytes{};
    std::copy_n(datagram.begin(), std::min(datagram.size(), N), bytes.begin());
    return bytes;
}

uint16_t little_endian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

DiscoveryReply decode_discovery_reply(std::span<const uint8_t> datagram) {
    const auto bytes = padded<kDiscoveryReplySize>(datagram);
    DiscoveryReply reply;
    std::copy_n(bytes.begin() + 24, reply.mac.size(), reply.mac.begin());
    reply.firm_major = static_cast<uint8_t>(bytes[5] >> 4);
    reply.firm_minor = static_cast<uint8_t>(bytes[6] >> 4);
    reply.firm_type = {static_cast<char>(bytes[8]), static_cast<char>(bytes[9])};
    return reply;
}

SerialSetup decode_setup_record(std::span<const uint8_t> record_bytes, SetupLayout layout) {
    const auto bytes = padded<kSetupRecordSize>(record_bytes);
    const std::size_t base = layout == SetupLayout::kFirst ? 20 : 68;
    SerialSetup setup;
    setup.serial_flags = bytes[base];
    setup.baud_code = bytes[base + 1];
    setup.flow_control = bytes[base + 2];
    setup.data_port = little_endian16(&bytes[base + 4]);
    return setup;
}

uint16_t setup_record_data_port(std::span<const uint8_t> record_bytes) {
    return decode_setup_record(record_bytes, SetupLayout::kFirst).data_port;
}

bool id_text_has_gc(std::span<const uint8_t> reply) {
    const auto bytes = padded<kIdTextReplySize>(reply);
    // The text is at most 16 bytes with its NUL; a module that fills all 16
    // is read no further than byte 31.
    const auto begin = bytes.begin() + 16;
    const auto end = std::find(begin, begin + 16, uint8_t{0});
    const uint8_t gc[] = {'G', 'C'};
    return std::search(begin, end, std::begin(gc), std::end(gc)) != end;
}

CpConfig decode_cp_block(std::span<const uint8_t> datagram) {
    CpConfig config;
    config.block = padded<kCpBlockSize>(datagram);
    config.modes = {config.block[4], config.block[5], config.block[6]};
    config.flag = config.block[129] != 0 ? 1 : 0;
    return config;
}


sockaddr_in config_broadcast() {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kConfigPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    return to;
}

bool same_host(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_family == AF_INET && b.sin_family == AF_INET &&
           a.sin_addr.s_addr == b.sin_addr.s_addr;
}

ModuleSocket ModuleSocket::open(Broadcast broadcast, Sink sink) {
    Socket udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!udp.valid()) {
        sink.set_system_error(errno);
        return ModuleSocket(Socket());
    }
    if (!bind_local_interface(udp.get(), sink)) return ModuleSocket(Socket());
    const int on = 1;
    if (broadcast == Broadcast::kYes &&
        ::setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) < 0) {
        sink.set_system_error(errno);
        return ModuleSocket(Socket());
    }
    return ModuleSocket(std::move(udp));
}

int ModuleSocket::send(std::span<const uint8_t> bytes, const sockaddr_in& to) const {
    const ssize_t sent = ::sendto(fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    return sent < 0 ? errno : 0;
}

int ModuleSocket::send_discovery(const sockaddr_in& to) const {
    if (int err = send(kDiscoveryQuery, to)) return err;
    Sleep(10);
    if (int err = send(kDiscoveryProbe, to)) return err;
    Sleep(10);
    return 0;
}

int ModuleSocket::wait(const Deadline& deadline) const { return wait_until(fd(), POLLIN, deadline); }

long ModuleSocket::receive_waiting(std::span<uint8_t> buffer, sockaddr_in* from) const {
    std::fill(buffer.begin(), buffer.end(), uint8_t{0});
    sockaddr_in source{};
    socklen_t length = sizeof(source);
    const ssize_t received = ::recvfrom(fd(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&source), &length);
    if (received < 0) return -1;
    if (from) *from = source;
    return static_cast<long>(received);
}

int ModuleSocket::wait_from(const sockaddr_in& host, const Deadline& deadline) const {
    for (;;) {
        const int ready = wait(deadline);
        if (ready <= 0) return ready;
        sockaddr_in source{};
        socklen_t length = sizeof(source);
        uint8_t first[1];
        if (::recvfrom(fd(), first, sizeof(first), MSG_PEEK | MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&source), &length) < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return -1;
        }
        if (same_host(source, host)) return 1;
        ::recv(fd(), first, sizeof(first), MSG_DONTWAIT | MSG_TRUNC);  // another host's: drop it
    }
}

void ModuleSocket::discard_waiting() const {
    // Bounded even against a peer that keeps sending; each receive drops one
    // datagram whole, however long.
    constexpr int kMostDiscarded = 1024;
    uint8_t scratch[1];
    for (int i = 0; i < kMostDiscarded; ++i) {
        if (::recv(fd(), scratch, sizeof(scratch), MSG_DONTWAIT | MSG_TRUNC) < 0) return;
    }
}

long ModuleSocket::query(const sockaddr_in& module, std::span<const uint8_t> request,
                         std::span<uint8_t> reply, std::size_t held, sockaddr_in* from,
                         int timeout_ms) const {
    discard_waiting();
    if (int err = send(request, module)) {
        errno = err;
        return -1;
    }
    const Deadline deadline = Deadline::after_ms(timeout_ms);
    for (;;) {
        const int ready = wait(deadline);
        if (ready <= 0) {
            if (ready == 0) errno = EAGAIN;
            return -1;
        }
        sockaddr_in source{};
        const long received = receive_waiting(reply, &source);
        if (received < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return -1;
        }
        if (same_host(source, module) && static_cast<std::size_t>(received) >= held) {
            if (from) *from = source;
            return received;
        }
        // Another host, or too short to be this query's answer.
    }
}

}  // namespace wexo
