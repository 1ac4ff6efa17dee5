// Intel HEX text as the firmware loader takes it: data (type 0) and
// end-of-file (type 1) records, gathered into blocks of contiguous
// addresses. The whole text is checked before any of it is used.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace wexo::firmware {

// The loader's buffer: no block may be longer.
constexpr std::size_t kMaxBlock = 65536;

struct Block {
    uint16_t address = 0;
    std::vector<uint8_t> bytes;
};

struct HexImage {
    // In transfer order. A block is closed by the first record whose address
    // does not follow on its data, the end-of-file record included: tool
    // chains put the end record at address 0, so their images end with an
    // empty block, whose transfer (count 0) every unit's loader expects.
    std::vector<Block> blocks;
    int error_line = 0;  // first bad record's line (1-based); 0 when valid
    bool valid() const { return error_line == 0; }
    std::size_t data_bytes() const;
};

// Parses text up to its end-of-file record. Refused (error_line set, no
// blocks): a character outside a record other than CR or LF, a record cut
// short or holding a character that is no hex digit, a type above 1, a
// checksum mismatch, data past address 0xFFFF, data at an address already
// given, or no end-of-file record.
HexImage parse_intel_hex(std::string_view text);

// The loader counts two-byte items: a block of n bytes is sent as (n + 1) / 2
// items, an odd last byte padded with 0xFF (erased program memory).
std::vector<uint8_t> as_items(const std::vector<uint8_t>& bytes);

}  // namespace wexo::firmware
