// Auto switching: the board switches its outputs by itself on a timetable.
// Binary boards keep one time for all outputs (an index into
// autoswitchtime); ASCII boards keep two durations per output in 100 ms steps.
#pragma once

#include <cstdint>

#include "core/capabilities.hpp"
#include "wire/command_channel.hpp"
#include "session/unit_context.hpp"

namespace wexo::dio {

// Longest binary time; above it there is no index to send.
constexpr int kLongestSwitchTime = 15000;
constexpr int kSwitchTimes = 33;

// Index of the binary time for ms: 0 up to 100 ms, otherwise the first time
// at or above ms (a time between two entries goes up to the next). -1 above
// the longest time.
int autoswitch_index(int ms);

// ASCII requests. Durations are in 100 ms steps, sent as two hex digits.
Frame ol_request(bool active);
Frame oc_request(int outputs, uint32_t mask);
Frame ot_request(int output, int first_steps, int second_steps);
Frame oi_request(int output);

// The lowest output below `outputs` whose bit is set in mask, or -1.
int lowest_output(uint32_t mask, int outputs);


// The work of the eight exported calls after validation; 1, or 0 with the
// code set. Outputs hold what the result lines show.
int set_switching_active(UnitContext& unit, int flag);
int get_switching_active(UnitContext& unit, int32_t& flag);
int set_switching_outputs(UnitContext& unit, uint32_t mask);
int get_switching_outputs(UnitContext& unit, uint32_t& mask);
// shown: ms as passed (binary) or the steps sent (ASCII).
int set_switching_time(UnitContext& unit, int ms, int& shown);
int get_switching_time(UnitContext& unit, int32_t& ms);
int set_switching_channel(UnitContext& unit, int output, int first_ms, int second_ms,
                          int& first_steps, int& second_steps);
// Stores 0 into both durations before the exchange.
int get_switching_channel(UnitContext& unit, int output, uint32_t& first_ms, uint32_t& second_ms);

}  // namespace wexo::dio
