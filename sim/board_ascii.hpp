// The board's ASCII frame shape, shared by every board feature: "XX", the
// parameter bytes, 0xC8; answered by "xx", a payload, 0xC8. Small numbers
// travel as value + 0x20, larger ones as fixed-width hex text.
#pragma once

#include "internal.hpp"

#include <string>

namespace wexosim::detail {

constexpr std::uint8_t kEnd = 0xC8;

// A request of the ASCII shape: two upper-case letters, parameters, 0xC8.
bool is_ascii_request(const Bytes& frame);
std::string ascii_letters(const Bytes& frame);
// The parameter bytes between the letters and the terminator.
Bytes ascii_params(const Bytes& frame);
std::size_t params_end(const Bytes& frame);  // index of the terminator

// Lower-case letters of `request`, `payload`, terminator.
Bytes ascii_reply(const Bytes& request, const Bytes& payload);
// The usual answer to a setting: the parameters echoed.
Bytes echo_reply(const Bytes& request);

inline std::uint8_t small(int v) { return static_cast<std::uint8_t>(0x20 + v); }
inline int small_value(std::uint8_t b) { return b - 0x20; }

bool is_hex_digit(std::uint8_t c);
// Hex text field of `width` digits at `at` (0 when the frame is too short;
// digits of either case, stops at the first non-digit).
unsigned hex_field(const Bytes& frame, std::size_t at, int width);
void put_hex(Bytes& out, unsigned value, int width);  // upper case, low `width` digits
// A hex text field whose `width` characters are all digits, read as a signed
// number of 4 x `width` bits; nullopt otherwise.
std::optional<int> signed_hex_field(const Bytes& frame, std::size_t at, int width);

// Channel groups: one byte per four channels, 0x20 + the group's bits.
Bytes group_bytes(std::uint32_t bits, int count);
std::uint32_t group_bits(const Bytes& frame, std::size_t from, std::size_t to);
int groups(int channels, int at_least);

}  // namespace wexosim::detail
