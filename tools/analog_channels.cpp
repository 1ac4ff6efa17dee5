#include "analog_channels.hpp"

#include "unit_record.hpp"

namespace wexo::cli {

AnalogChannels analog_channels(const Unit& unit, bool inputs, const std::string& what) {
    AnalogChannels channels;
    channels.inputs = inputs;
    channels.model = unit_model(unit);
    if (const auto caps = capabilities(channels.model))
        channels.count = inputs ? caps->analog_inputs : caps->analog_outputs;
    if (channels.count == 0)
        fail_unit(unit.label + " (model " + model_text(channels.model) + ") has no " +
                  (what.empty() ? (inputs ? "analog inputs" : "analog outputs") : what));
    return channels;
}

AnalogChannels threshold_channels(const Unit& unit) {
    const auto caps = capabilities(unit_model(unit));
    return analog_channels(unit, !caps || caps->analog_inputs > 0 || caps->analog_outputs == 0,
                           "analog inputs or outputs");
}

std::vector<int> selected_channels(const Unit& unit, const AnalogChannels& channels,
                                   std::optional<int> channel) {
    if (channel) {
        if (*channel >= channels.count)
            fail_unit("channel " + std::to_string(*channel) + ": " + unit.label + " has analog " +
                      (channels.inputs ? "inputs" : "outputs") + " 0.." + std::to_string(channels.count - 1) +
                      " (model " + std::to_string(channels.model) + ")");
        return {*channel};
    }
    std::vector<int> all;
    for (int i = 0; i < channels.count; ++i) all.push_back(i);
    return all;
}

std::optional<int> optional_channel(const Args& args, const std::string& command,
                                    const std::vector<std::string>& settings) {
    check_arity(args, 0, 1, command);
    if (args.positional.empty()) {
        for (const auto& name : settings)
            if (args.has(name)) fail_usage(command + ": --" + name + " needs CH");
        return std::nullopt;
    }
    return parse_channel(args.positional[0]);
}

} // namespace wexo::cli
