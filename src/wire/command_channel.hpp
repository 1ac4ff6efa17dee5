// Requests and replies on a unit's command channel: binary frames of fixed
// reply length, ASCII frames ending in 0xC8, the drain of stale input, and the
// hex text fields inside ASCII frames.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

#include "core/deadline.hpp"
#include "core/state.hpp"

namespace wexo {

constexpr uint8_t kTerminator = 0xC8;
// Longest ASCII reply accepted by every command but the EEPROM write.
constexpr int kMaxAsciiReply = 256;

// Bytes received on a connection but not yet read. A reader receives all the
// socket holds (up to the capacity), so a reply that arrives whole costs one
// recv; what follows the reply waits here for the next reader, as it would
// have waited in the socket.
class Inbox {
public:
    // A new connection sock whose receive time-out (SO_RCVTIMEO) was set to
    // timeout_ms as set_socket_timeout sets it.
    void attach(int sock, int timeout_ms);
    // The same, with the time-out read from the socket itself.
    void attach(int sock);
    static Inbox for_socket(int sock) {
        Inbox inbox;
        inbox.attach(sock);
        return inbox;
    }
    // The connection it was attached to.
    int sock() const { return sock_; }

    std::size_t size() const { return end_ - begin_; }
    bool empty() const { return begin_ == end_; }
    void clear() { begin_ = end_ = 0; }
    // Moves up to n waiting bytes to out; returns how many.
    std::size_t take(uint8_t* out, std::size_t n);
    uint8_t pop() {
        const uint8_t byte = bytes_[begin_++];
        if (begin_ == end_) clear();
        return byte;
    }

    // How long one receive waits.
    std::chrono::milliseconds per_receive() const { return std::chrono::milliseconds(timeout_ms_); }
    // One receive of at most room bytes into out, waiting at most one
    // receive's time-out and never past overall (when given): the count, 0
    // when the peer closed the connection, -1 with errno (EAGAIN when nothing
    // came).
    long receive(int sock, uint8_t* out, std::size_t room, const Deadline* overall) const;
    // One such receive into the free space behind the waiting bytes.
    long fill(int sock, const Deadline& overall);

private:
    static constexpr std::size_t kCapacity = 512;
    std::array<uint8_t, kCapacity> bytes_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    int sock_ = -1;
    int timeout_ms_ = 1000;
    // Whether the socket's own time-out equals one receive's wait, so that
    // a plain blocking recv is bounded as a poll would be.
    bool socket_waits_ = false;
};

// A connection as the readers and senders see it: its socket, its inbox, the
// unit number its trace lines show, and where its codes and log lines go.
struct Link {
    int sock;
    Inbox& inbox;
    int unit = -1;
    Sink sink{};
};

// The command channel of record index (its sock) with the unit's inbox.
// An inbox attached to another descriptor starts afresh on this one. The
// one place a link is resolved from the table (see session/unit_context).
Link unit_link(int index, Sink sink = {});
// The same for a channel whose descriptor the caller holds (a search
// worker's copy of the record).
Link unit_link(int index, int sock, Sink sink);
// Forgets what the unit's inbox holds: its channel sock was just opened with
// the given time-out.
void reset_unit_inbox(int index, int sock, int timeout_ms);

// Reads exactly n bytes; returns n, or 0 (code errno + 10000 on a failed
// receive; ECONNRESET + 10000 when the peer closed the connection; EAGAIN +
// 10000 when the reply is not complete after 100 receives or eleven times
// the channel's time-out).
int receivedata(Link link, uint8_t* buffer, int n);

// Reads one ASCII reply on link answering request's two letters into
// buffer (at most max bytes, terminator included). Frames answering other
// letters are skipped. Returns the frame's length or 0 (code 9 for a frame of
// max bytes without terminator, errno + 10000 after eleven failed receives,
// EAGAIN + 10000 when no answering frame is complete within eleven times the
// channel's time-out, ECONNRESET + 10000 at end of stream).
int receive_until_0xc8(Link link, uint8_t* buffer, int max, const uint8_t* request);

// One receive of at most size bytes, waiting at most the channel's
// time-out: the bytes already waiting in the inbox and what the socket has
// beside them, or else the next bytes to come. The count (0 when the peer
// closed the connection), or -1 with errno (EAGAIN when nothing came in time).
long receive_some(Link link, uint8_t* buffer, std::size_t size);

// Discards input already waiting on the link, spending at most about 1 ms.
void ClearReceiveBuffer(Link link);
// Discards only what is already waiting, without waiting for more: for
// exchanges that send many short items in a row, where the window would
// cost more than the exchange itself.
void DiscardWaiting(Link link);

// Hex text fields. VAL2HEX returns a static buffer valid until the next call.
const char* VAL2HEX(uint32_t value, int width);
uint32_t HEX2VAL(const char* text, int width);
// The value of a hex text field of width digits (1..8) at the start of text,
// only when text holds width bytes and every one is a hex digit of either
// case: a field that is cut short or carries anything else has no value, so
// that no reader turns it into a number.
std::optional<uint32_t> hex_field(std::span<const uint8_t> text, int width);
// Writes the low width (1..8) hex digits of value, upper case, into out.
void write_hex(uint8_t* out, uint32_t value, int width);

// A request frame under construction (requests are short).
class Frame {
public:
    Frame() = default;
    Frame(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) push(b);
    }
    // An ASCII request: the two command letters.
    static Frame ascii(char first, char second) {
        return Frame{static_cast<uint8_t>(first), static_cast<uint8_t>(second)};
    }
    Frame& push(uint8_t byte) {
        if (size_ < bytes_.size()) bytes_[size_++] = byte;
        return *this;
    }
    // A small number sent as value + 0x20.
    Frame& push_small(int value) { return push(static_cast<uint8_t>(value + 0x20)); }
    Frame& push_hex(uint32_t value, int width);
    Frame& terminate() { return push(kTerminator); }

    const uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }
    std::span<const uint8_t> bytes() const { return {bytes_.data(), size_}; }
    operator std::span<const uint8_t>() const { return bytes(); }
    uint8_t operator[](std::size_t i) const { return bytes_[i]; }

private:
    std::array<uint8_t, 64> bytes_{};
    std::size_t size_ = 0;
};

// Whether an exchange discards stale input before sending.
enum class Drain { kNo, kYes };

// Sends bytes on sock in one send. On failure: code errno + 10000 and, when
// name is given, the error line "<name> send error.".
bool send_bytes(int sock, std::span<const uint8_t> bytes, const char* name, Sink sink = {});

// Sends request on link. On failure: code errno + 10000 and, when name is
// given, the error line "<name> send error.", both to the link's sink.
bool send_request(Link link, std::span<const uint8_t> request, const char* name);

}  // namespace wexo
