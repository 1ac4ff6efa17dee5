// The analog channels of a connected unit, from its model. Commands check a
// channel here first, so that a refusal names the channels the model has
// instead of the library's bare "operation not possible".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "unit_select.hpp"

namespace wexo::cli {

struct AnalogChannels {
    bool inputs = true; // analog inputs, else analog outputs
    int count = 0;
    int model = -1;

    const char* prefix() const { return inputs ? "AI" : "AO"; }
    std::string name(int channel) const { return prefix() + std::to_string(channel); }
};

// The unit's analog inputs or outputs; fails (status 1) when its model has
// none. `what` names them in that message ("thermocouple inputs").
AnalogChannels analog_channels(const Unit& unit, bool inputs, const std::string& what = {});
// Thresholds belong to the analog inputs, or to the outputs of a model
// without inputs.
AnalogChannels threshold_channels(const Unit& unit);

// The channels a command works on: all of them, or the one given, which
// must be one of the model's ("channel 3: unit 10.200.0.4 has analog inputs 0..2").
std::vector<int> selected_channels(const Unit& unit, const AnalogChannels& channels,
                                   std::optional<int> channel);

// The optional CH of "COMMAND UNIT [CH]"; the options in `settings` change
// one channel, so any of them given needs CH.
std::optional<int> optional_channel(const Args& args, const std::string& command,
                                    const std::vector<std::string>& settings);

} // namespace wexo::cli
