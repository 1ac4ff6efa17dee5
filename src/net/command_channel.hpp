// Requests and replies on a unit's command channel: binary frames of fixed
// reply length, ASCII frames ending in 0xC8, the drain of stale input, and the
// hex text fields inside ASCII frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

namespace wexo {

constexpr uint8_t kTerminator = 0xC8;
// Longest ASCII reply accepted by every command but the EEPROM write.
constexpr int kMaxAsciiReply = 256;

// Reads exactly n bytes; returns n, or 0 (code errno + 10000 on a failed
// receive; ECONNRESET + 10000 when the unit closed the connection; EAGAIN +
// 10000 when the reply is not complete after 100 receives or eleven times
// the channel's time-out).
int receivedata(int sock, uint8_t* buffer, int n);

// Reads one ASCII reply of unit index answering request's two letters into
// buffer (at most max bytes, terminator included). Frames answering other
// letters are skipped. Returns the frame's length or 0 (code 9 for a frame of
// max bytes without terminator, errno + 10000 after eleven failed receives,
// EAGAIN + 10000 when no answering frame is complete within eleven times the
// channel's time-out, ECONNRESET + 10000 at end of stream).
int receive_until_0xc8(int index, uint8_t* buffer, int max, const uint8_t* request);

// One receive of at most size bytes, waiting at most the channel's
// time-out. The count (0 when the unit closed the connection), or -1 with
// errno (EAGAIN when nothing came in time).
long receive_some(int sock, uint8_t* buffer, std::size_t size);

// Discards input already waiting on sock, spending at most about 1 ms.
void ClearReceiveBuffer(int sock);

// Hex text fields. VAL2HEX returns a static buffer valid until the next call.
const char* VAL2HEX(uint32_t value, int width);
uint32_t HEX2VAL(const char* text, int width);
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
bool send_bytes(int sock, std::span<const uint8_t> bytes, const char* name);

// Sends request on the unit's command channel. On failure: code errno +
// 10000 and, when name is given, the error line "<name> send error.".
bool send_request(int index, std::span<const uint8_t> request, const char* name);

}  // namespace wexo
