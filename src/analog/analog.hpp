// Analog I/O: the analog inputs' 24-bit counts, ranges and codes, the analog
// outputs' 16-bit raw values, thermocouple settings and the thresholds of
// both. Numbers and their conversions are pure functions here; the board
// exchanges follow.
#pragma once

#include <cstdint>

#include "wire/command_channel.hpp"
#include "wire/exchange.hpp"
#include "session/unit_context.hpp"

namespace wexo::analog {

// ------------------------------------------------------------ numbers

// The byte that names a channel in every analog request.
constexpr uint8_t channel_byte(int channel) { return static_cast<uint8_t>((channel & 7) + 0x20); }
// The analog-output channel byte: current mode adds 8.
constexpr uint8_t output_channel_byte(int channel, int mode) {
    return static_cast<uint8_t>(channel_byte(channel) + (mode == 1 ? 8 : 0));
}

// Clamps to the signed 16 bits the boards carry.
constexpr int32_t clamp16(int32_t value) {
    return value > 32767 ? 32767 : (value < -32768 ? -32768 : value);
}
// A double truncated toward zero to 32 bits, saturating; NaN gives 0.
int32_t truncate_saturating(double value);

// An input count in its range's engineering value; nullopt-like false for
// range code 7, which has no full scale.
bool count_to_value(int32_t count, int range, double& value);
// Volts (mode 0) and milliamperes (mode 1) as raw output values, before the
// frame's clamp.
int32_t volts_to_raw(double volts);
int32_t milliamperes_to_raw(double milliamperes);
// A raw output value read back in volts (mode 0) or milliamperes (mode 1).
double raw_to_value(int32_t raw, int mode);

// ------------------------------------------------------------ frames

// The AO / AQ request: per entry the channel byte and four hex digits.
// false, with nothing built, when an entry's mode is neither 0 nor 1.
bool output_request(char letter, int n, const int* channels, const int* modes, const int* raws,
                    Frame& frame);

// ------------------------------------------------------------ exchanges
// Each on a validated, connected unit: 1 (or the count stored), or 0 with the code set.

int get_ai_AI(UnitContext& unit, int channel, int n, int32_t* counts);
int get_ai_AJ(UnitContext& unit, int channel, int32_t* range, int32_t* cycle);
int set_ai_AR(UnitContext& unit, int channel, int range);
int set_ai_AP(UnitContext& unit, int code);
int set_ai_AS(UnitContext& unit, int code);

int set_ao_AO(UnitContext& unit, int n, const int* channels, const int* modes, const int* raws);
int set_ao_AQ(UnitContext& unit, int n, const int* channels, const int* modes, const int* raws);
int get_ao_AY(UnitContext& unit, int channel, int32_t* mode, int32_t* raw);

int set_tc_TC(UnitContext& unit, int channel, int type, int flags);
int set_tc_TF(UnitContext& unit, int channel, int mode, int32_t low_tenths, int32_t high_tenths);
int get_tc_TJ(UnitContext& unit, int channel, int32_t* type, int32_t* flags, int32_t* mode,
              int32_t* low_tenths, int32_t* high_tenths);

int get_aio_AK(UnitContext& unit, int channel, int32_t* flags, int32_t* threshold1,
               int32_t* threshold2);
int set_aio_AL(UnitContext& unit, int channel, int flags, int32_t threshold1, int32_t threshold2);
int set_ai_AL(UnitContext& unit, int channel, int flags, int32_t threshold1, int32_t threshold2);
int set_ao_AL(UnitContext& unit, int channel, int flags, int32_t threshold1, int32_t threshold2);

// The command rows of the analog family: queries check length and channel
// echo (code 9, with the "recv error." line for a short or missing reply);
// setters take any reply frame and keep the reader's code when none comes.
constexpr Command analog_query(const char* name, int min_length) {
    return {.name = name, .reply = ReplyShape::ascii(min_length, 1),
            .errors = ReplyErrors::kBadReply};
}
constexpr Command analog_setter(const char* name) {
    return {.name = name, .reply = ReplyShape::ascii(), .recv_line = nullptr};
}

}  // namespace wexo::analog
