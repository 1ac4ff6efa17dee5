// The network module's UDP configuration port: one socket type for every
// datagram exchange with a module (discovery, the configuration queries of a
// search or a direct connection, and the module's configuration writes).
//
// A configuration reply is trusted only when it comes from the module that
// was asked (its IPv4 address; the port may differ) and holds every field
// that is read from it. What the bytes hold is not judged: modules differ in
// what they put around the fields. Anything else that arrives while the
// reply is awaited is read and ignored, so that another host, or a shorter
// datagram of the module's such as a late discovery reply, cannot stand in
// for it.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/deadline.hpp"
#include "wire/unit_socket.hpp"

namespace wexo {

constexpr uint16_t kConfigPort = 30718;

// Queries on the configuration port; byte 3 names the query.
constexpr std::array<uint8_t, 4> kDiscoveryQuery{0x00, 0x00, 0x00, 0xF6};
constexpr std::array<uint8_t, 2> kDiscoveryProbe{'W', 'X'};
constexpr std::array<uint8_t, 4> kSetupQuery{0x00, 0x00, 0x00, 0xF8};
constexpr std::array<uint8_t, 4> kIdTextQuery{0x00, 0x00, 0x00, 0xF4};
constexpr std::array<uint8_t, 4> kCpQuery{0x00, 0x00, 0x00, 0xE7};

// The bytes a reply must hold to be taken: up to the end of the last field read.
constexpr std::size_t kMacHeld = 30;           // discovery reply: the MAC at 24..29
constexpr std::size_t kSetupRecordHeld = 74;   // setup record: the second layout's port at 72..73
constexpr std::size_t kIdTextHeld = 32;        // identification text: 16..31
constexpr std::size_t kCpBlockHeld = 130;      // the whole pin block
constexpr std::size_t kAcknowledgement = 0;    // not inspected: any datagram of the module

// Every module's configuration port: 255.255.255.255:30718.
sockaddr_in config_broadcast();

// Whether two socket addresses name the same IPv4 host, whatever their ports.
bool same_host(const sockaddr_in& a, const sockaddr_in& b);

enum class Broadcast { kNo, kYes };

// Receive sizes of the replies.
constexpr std::size_t kDiscoveryReplySize = 30;
constexpr std::size_t kSetupRecordSize = 124;
constexpr std::size_t kIdTextReplySize = 33;
constexpr std::size_t kCpBlockSize = 130;

// What a discovery reply tells about the module. Bytes beyond the end of a
// short datagram read as zero.
struct DiscoveryReply {
    std::array<uint8_t, 6> mac{};
    uint8_t firm_major = 0;
    uint8_t firm_minor = 0;
    std::array<char, 2> firm_type{};
};
DiscoveryReply decode_discovery_reply(std::span<const uint8_t> datagram);

// The serial settings and data port of a setup record. Modules keep them at
// offset 20 (first layout) or, in some 'X' '6' firmware, at offset 68.
enum class SetupLayout { kFirst, kSecond };
struct SerialSetup {
    uint8_t serial_flags = 0;
    uint8_t baud_code = 0;
    uint8_t flow_control = 0;
    uint16_t data_port = 0;
};
SerialSetup decode_setup_record(std::span<const uint8_t> record, SetupLayout layout);
// The data port alone (offset 24), which is all '_' 'L' and '_' 'W' modules give.
uint16_t setup_record_data_port(std::span<const uint8_t> record);

// Whether the text at bytes 16..31 of the identification text reply holds "GC".
bool id_text_has_gc(std::span<const uint8_t> reply);
// Layout of the setup record of an 'X' '6' module, from its identification text.
inline SetupLayout x6_layout(std::span<const uint8_t> id_text_reply) {
    return id_text_has_gc(id_text_reply) ? SetupLayout::kFirst : SetupLayout::kSecond;
}

// The CP configuration block as the record keeps it.
struct CpConfig {
    std::array<uint8_t, kCpBlockSize> block{};
    std::array<int32_t, 3> modes{};
    int32_t flag = 0;
};
CpConfig decode_cp_block(std::span<const uint8_t> datagram);

class ModuleSocket {
public:
    // A datagram socket bound to the selected local interface, allowed to
    // broadcast when asked. Invalid, with the code set (to sink), on failure.
    static ModuleSocket open(Broadcast broadcast, Sink sink = {});

    bool valid() const { return socket_.valid(); }
    int fd() const { return socket_.get(); }
    void close() { socket_.reset(); }

    // One datagram; 0 or the errno of the failure.
    int send(std::span<const uint8_t> bytes, const sockaddr_in& to) const;
    // The discovery query and, 10 ms later, the probe, then a 10 ms pause.
    // 0 or the errno of the first failed send.
    int send_discovery(const sockaddr_in& to) const;
    // 1 readable, 0 the deadline passed, -1 the wait failed (errno).
    int wait(const Deadline& deadline) const;
    // Takes one waiting datagram without waiting. buffer is zero-filled
    // first, so a short datagram leaves no stale bytes. Its length, or -1
    // with errno (EAGAIN when none is waiting).
    long receive_waiting(std::span<uint8_t> buffer, sockaddr_in* from) const;
    // Waits until a datagram from host (any port) is the next to be read,
    // dropping datagrams of other hosts: 1, 0 when the deadline passed, -1
    // when the wait failed (errno).
    int wait_from(const sockaddr_in& host, const Deadline& deadline) const;
    // Reads and drops every datagram already waiting.
    void discard_waiting() const;

    // One query to module and its reply (see above): a datagram of the
    // module's host of at least held bytes, awaited at most timeout_ms. The
    // reply's length, or -1 with errno (EAGAIN when no such reply came in
    // time; the send's errno when the query could not be sent). from
    // receives the reply's source.
    long query(const sockaddr_in& module, std::span<const uint8_t> query, std::span<uint8_t> reply,
               std::size_t held, sockaddr_in* from, int timeout_ms) const;

private:
    explicit ModuleSocket(Socket socket) : socket_(std::move(socket)) {}
    Socket socket_;
};

}  // namespace wexo
