// Pulse mode: which frames a unit takes (parameter frames, basic or full
// set, or ASCII commands), and the ASCII status and channel frames that the
// configuration, the counters and the on/off control share.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "core/capabilities.hpp"
#include "session/unit_context.hpp"

namespace wexo::pulse {

// The unit's pulse variant when it is one of accepted; code 6 otherwise.
std::optional<PulseVariant> variant(UnitContext& unit,
                                    std::initializer_list<PulseVariant> accepted);

constexpr std::initializer_list<PulseVariant> kAnyVariant = {
    PulseVariant::kPicBasic, PulseVariant::kPicFull, PulseVariant::kAscii};
constexpr std::initializer_list<PulseVariant> kFullOrAscii = {PulseVariant::kPicFull,
                                                              PulseVariant::kAscii};

// The number of digital inputs, the bound of pulse channels.
int pulse_channels(UnitContext& unit);
// A channel from 0 to below the input count; code 6 otherwise.
bool channel_below_inputs(UnitContext& unit, int channel);

// ASCII frames. Each 1, or 0 with the code set (a reply too short to hold
// the bytes read is code 9).
struct Status {
    uint8_t s = 0;  // bit 0: bit 4 of setting_b; bits 1-2: setting_a; bit 3: pulse mode on
    uint8_t t = 0;  // bits 0-3: bits 0-3 of setting_b
};
int status_query(UnitContext& unit, Status& status);                 // PJ
int status_write(UnitContext& unit, uint8_t s, uint8_t t);           // PL
int channel_query(UnitContext& unit, int channel, int& code);        // PH: K, low 2 bits
int channel_write(UnitContext& unit, int channel, uint8_t x);        // PC
int counter_query(UnitContext& unit, int channel, uint32_t& count);  // PG
int continuous_query(UnitContext& unit, uint8_t& c);                 // PP
int continuous_write(UnitContext& unit, uint8_t on_off);             // PS

// setting_a and setting_b as the status byte and T carry them.
constexpr int setting_a_of(const Status& st) { return (st.s >> 1) & 3; }
constexpr int setting_b_of(const Status& st) { return (st.s & 1) * 16 + (st.t & 0x0F); }

// "UP" for 0, "DOWN" otherwise, as the result lines say it.
constexpr const char* direction(int updown) { return updown != 0 ? "DOWN" : "UP"; }

}  // namespace wexo::pulse
