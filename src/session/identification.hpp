// Board identification: asking the I/O board behind a unit for its board ID,
// model code and unit kind, with the binary 0x55 0x55 request of older boards
// and the ASCII "MI" request of newer ones.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace wexo {

struct UnitContext;

// Board ID and model code from the 2-byte reply to 0x55 0x55.
struct BinaryId {
    uint8_t board_id;
    int32_t model_code;  // 0..10, or -1 for an unknown extended pattern
};

// Whether a 0x55 0x55 reply is the extended form (high nibble of byte 1 is 7).
constexpr bool binary_reply_extended(uint8_t byte1) { return (byte1 >> 4) == 0x7; }

// Model code of a 0x55 0x55 reply. The extended form carries a pattern in
// bits 4..6 of byte 0: 4, 5, 2, 3 name models 7, 8, 9, 10; other patterns -1.
int32_t binary_model_code(uint8_t byte0, uint8_t byte1);

// Full decoding for identification. The extended form sends the board ID
// only when bit 6 of byte 0 is set; without it the board ID is 0.
BinaryId decode_binary_id(uint8_t byte0, uint8_t byte1);

// What an "MI" reply says about the board.
struct MiId {
    uint8_t board_id;
    int32_t model_code;  // 16..31 (extended reply) or 32..47 (basic reply)
    int32_t unit_kind;   // 4 or 5 (extended), 6 (basic)
};

constexpr int kMiBasicLength = 5;
constexpr int kMiExtendedLength = 6;

// Length of an "MI" reply, known once its byte 3 is in: 0xF in the low
// nibble marks the extended reply, which carries the model in one more byte.
constexpr int mi_reply_length(uint8_t byte3) {
    return (byte3 & 0x0F) == 0x0F ? kMiExtendedLength : kMiBasicLength;
}

// Decodes a complete "MI" reply (5 or 6 bytes as mi_reply_length says);
// nothing when the letters "mi" or the terminator are not where expected.
std::optional<MiId> decode_mi_id(std::span<const uint8_t> reply);

// The MI identification on the unit's open channel: stores board_id,
// model_code and unit_kind in its record. Returns 1, or 0 with the code set
// (errno + 10000 on send or receive failure, 9 for a malformed reply).
int RequestIdModel_MI(UnitContext& unit);

// Body of ZuWexoRequestIdModel after validation: identifies the unit over
// its command channel, or over a temporary connection when unconnected.
int request_id_model(UnitContext& unit, int* id, int* model);

// The unit kind a record has once identification found model_code; kind is
// the record's kind before (what the module's firmware type gave).
int32_t identified_kind(int32_t model_code, int32_t kind);

// What the search and the connect calls run to identify a unit: the steps of
// ZuWexoRequestIdModel, its entry line included, with codes and lines going
// to the unit's sink. 1, or 0 with the code set.
int identify_as_requested(UnitContext& unit);

}  // namespace wexo
