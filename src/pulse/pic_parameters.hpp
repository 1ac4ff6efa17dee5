// The board's parameter memory: short binary frames whose first byte is the
// parameter code, answered by a reply that repeats it (a write repeats the
// whole request). Used by pulse mode, the pulse counters and alerts, and the
// settings kept in parameters.
#pragma once

#include "session/unit_context.hpp"

#include <array>
#include <cstdint>
#include <span>

namespace wexo {

// Longest parameter frame either way.
constexpr int kMaxParameterFrame = 16;

// On a validated, connected unit: 1, or 0 with the code set and the
// routine's error line written.
int setPICparameter_(UnitContext& unit, int code, int value);
int getPICparameter_(UnitContext& unit, int code, int argument, uint32_t& value);
int getPICparameter2_(UnitContext& unit, std::span<const uint8_t> request,
                      std::span<uint8_t> reply);
int setPICparameter2_(UnitContext& unit, std::span<const uint8_t> request);

// A 32-bit value as six bytes of six bits, most significant first (the top
// group holds bits 30 and 31), and back as a signed 32-bit value.
std::array<uint8_t, 6> six_bit_groups(uint32_t value);
int32_t from_six_bit_groups(std::span<const uint8_t, 6> groups);

}  // namespace wexo
