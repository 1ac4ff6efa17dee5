// Driving and reading back digital outputs: the variants by board, the
// request builders, and the exchanges get_do_E0, set_do_F0, get_do_DY,
// set_do_DO and set_do_DK.
#pragma once

#include <cstdint>

#include "core/capabilities.hpp"
#include "dio/channel_groups.hpp"
#include "wexo.h"
#include "session/unit_context.hpp"

namespace wexo::dio {

// 0xF0 and the output byte: bit k set when values[k] is not 0, k = 0 to 4.
Frame f0_request(const Values& values);
// "DO" with the group bytes of the first `outputs` values.
Frame do_request(int outputs, const Values& values);
// "DK": one (state, change mask) pair per group; only `channel` changes.
Frame dk_request(int outputs, int channel, bool on);

// Model 1: whether the pin behind output `channel` is configured as an
// output (function codes CP1 5, CP2 7, CP3 9).
bool pin_is_output(const wexo_device& device, int channel);

// The exchanges, on a validated and connected unit. 1, or 0 with the code
// set. A "DY" reply without a data byte for every group of the unit's
// outputs fails with code 9, so nothing is written back from it.
int get_do_E0(UnitContext& unit, Values& values);
int set_do_F0(UnitContext& unit, const Values& values);
int get_do_DY(UnitContext& unit, Values& values);
int set_do_DO(UnitContext& unit, const Values& values);
int set_do_DK(UnitContext& unit, int channel, int value);

// The work of the four exported output calls after validation.
int write_output(UnitContext& unit, int channel, int value);
int write_all_outputs(UnitContext& unit, uint32_t bits);
int read_output(UnitContext& unit, int channel, int32_t& value);
// Stores 0 into bits before the first exchange.
int read_all_outputs(UnitContext& unit, uint32_t& bits);

}  // namespace wexo::dio
