// wexo tc: thermocouple type, flags and transmit scale of analog inputs.
#include <cmath>
#include <optional>
#include <vector>

#include "analog_channels.hpp"
#include "output.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

// The board keeps the scale in tenths of a signed 16-bit count.
constexpr double scale_min = -3276.8;
constexpr double scale_max = 3276.7;
// The one model with analog inputs but no thermocouple commands.
constexpr int model_without_tc = 40;

struct Thermocouple {
    int channel = 0;
    int type = 0;
    int flags[3] = {0, 0, 0};
    int scale_mode = 0;
    double low = 0;
    double high = 0;
};

Thermocouple read_tc(const Unit& unit, int channel) {
    const std::string what = "cannot read thermocouple input " + std::to_string(channel) + " of " + unit.label;
    Thermocouple tc;
    tc.channel = channel;
    const BorrowedUnit board = api(unit);
    const auto config = checked(board->thermocouple(channel), "ZuWexoGetTCConfig", what);
    tc.type = config.type;
    for (int i = 0; i < 3; ++i) tc.flags[i] = config.flags[i];
    const auto scale = checked(board->transmit_scale(channel), "ZuWexoGetTCTransmitScale", what);
    tc.scale_mode = scale.mode;
    tc.low = scale.low;
    tc.high = scale.high;
    return tc;
}

// The unit holds tenths. The library reads them times 0.1 (-3276.7000000000003)
// and sends value x 10 truncated (-20.06 would become -20.0): round both ways.
double tenths(double value) { return std::round(value * 10) / 10; }

void print_tcs(const std::vector<Thermocouple>& tcs, bool json) {
    if (json) {
        Json j;
        j.begin_object().key("channels").begin_array();
        for (const auto& tc : tcs) {
            j.begin_object().field("channel", tc.channel).field("type", tc.type).key("flags").begin_array();
            for (int flag : tc.flags) j.value(flag);
            j.end_array().field("scale_mode", tc.scale_mode).field("scale_low", tenths(tc.low));
            j.field("scale_high", tenths(tc.high)).end_object();
        }
        print_line(j.end_array().end_object().text());
        return;
    }
    std::vector<std::vector<std::string>> rows = {
        {"CH", "TYPE", "FLAG0", "FLAG1", "FLAG2", "SCALE MODE", "SCALE LOW", "SCALE HIGH"}};
    for (const auto& tc : tcs)
        rows.push_back({"AI" + std::to_string(tc.channel), std::to_string(tc.type), std::to_string(tc.flags[0]),
                        std::to_string(tc.flags[1]), std::to_string(tc.flags[2]), std::to_string(tc.scale_mode),
                        fixed_text(tc.low, 1), fixed_text(tc.high, 1)});
    print_text(format_table(rows));
}

} // namespace

static int cmd_tc(Context& ctx) {
    const Args& args = ctx.args;
    const UnitSelector selector = take_unit(ctx);
    const bool set_config = args.has("type") || args.has("flags");
    const bool set_scale = args.has("scale-mode") || args.has("scale-low") || args.has("scale-high");
    const auto channel = optional_channel(args, "tc", {"type", "flags", "scale-mode", "scale-low", "scale-high"});
    std::optional<int> type, flags, scale_mode;
    std::optional<double> low, high;
    if (const auto* v = args.value("type")) type = static_cast<int>(parse_number(*v, "--type", 0, 7));
    if (const auto* v = args.value("flags")) flags = static_cast<int>(parse_number(*v, "--flags", 0, 7));
    if (const auto* v = args.value("scale-mode")) scale_mode = static_cast<int>(parse_number(*v, "--scale-mode", 0, 3));
    if (const auto* v = args.value("scale-low")) low = parse_decimal(*v, "--scale-low", scale_min, scale_max);
    if (const auto* v = args.value("scale-high")) high = parse_decimal(*v, "--scale-high", scale_min, scale_max);

    const Unit unit = open_unit(ctx, selector, true);
    const AnalogChannels inputs = analog_channels(unit, true, "thermocouple inputs");
    if (inputs.model == model_without_tc)
        fail_unit(unit.label + " (model " + std::to_string(model_without_tc) + ") has no thermocouple inputs");
    const auto channels = selected_channels(unit, inputs, channel);
    if (set_config || set_scale) {
        // What is not given stays as the unit has it.
        Thermocouple tc = read_tc(unit, *channel);
        const std::string where = " of thermocouple input " + std::to_string(*channel) + " of " + unit.label;
        if (set_config) {
            const int f = flags ? *flags : tc.flags[0] | tc.flags[1] << 1 | tc.flags[2] << 2;
            const ::wexo::Thermocouple config{type.value_or(tc.type), {(f & 1) != 0, (f & 2) != 0, (f & 4) != 0}};
            checked(api(unit)->set_thermocouple(*channel, config), "ZuWexoSetTCConfig",
                    "cannot set the type and flags" + where);
        }
        if (set_scale) {
            const TransmitScale scale{scale_mode.value_or(tc.scale_mode), tenths(low.value_or(tc.low)),
                                      tenths(high.value_or(tc.high))};
            checked(api(unit)->set_transmit_scale(*channel, scale), "ZuWexoSetTCTransmitScale",
                    "cannot set the transmit scale" + where);
        }
    }
    std::vector<Thermocouple> tcs;
    for (int c : channels) tcs.push_back(read_tc(unit, c));
    print_tcs(tcs, ctx.globals.json);
    return exit_ok;
}

void register_tc(Registry& registry) {
    registry.option({"type", "T", "thermocouple type code 0..7"});
    registry.option({"flags", "F", "thermocouple flags, bit i = flag i (0..7, e.g. 0b011)"});
    registry.option({"scale-mode", "M", "transmit-scale mode 0..3"});
    registry.option({"scale-low", "X", "transmit-scale low value, -3276.8..3276.7 (rounded to one decimal)"});
    registry.option({"scale-high", "X", "transmit-scale high value, -3276.8..3276.7 (rounded to one decimal)"});
    registry.add(
        {"tc", "UNIT [CH] [--type T] [--flags F] [--scale-mode M] [--scale-low X] [--scale-high X]",
         "show or set thermocouple inputs",
         "Shows the thermocouple settings of all analog inputs (or input CH): type code, the three\n"
         "flags and the transmit scale (mode, low and high value). Settings change input CH:\n"
         "--type T (0..7), --flags F (bit i = flag i, 0..7), --scale-mode M (0..3), --scale-low X\n"
         "and --scale-high X (-3276.8..3276.7, rounded to one decimal). What is not given stays as\n"
         "the unit has it. Models 42 and 44 have thermocouple inputs; model 40 has none.",
         {"type", "flags", "scale-mode", "scale-low", "scale-high"}, true, cmd_tc});
}

} // namespace wexo::cli
