// wexo ao: analog outputs set in volts, milliamperes or counts, their
// start-up values, and what the unit reports back.
#include <optional>
#include <vector>

#include "analog_channels.hpp"
#include "output.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

// How VALUE is given. Volts drive the output as a voltage, milliamperes as
// a current; counts keep the mode the output is in.
struct Mode {
    const char* name;
    const char* unit;   // of VALUE
    double min, max;    // the output's span, refused outside
    int output_mode;    // 0 voltage, 1 current, -1 (counts) the output's present mode
    const char* set_call;
    const char* initial_call;

    // VALUE is in V or mA rather than a raw count.
    bool physical() const { return output_mode >= 0; }
};

constexpr int raw_min = -32768;
constexpr int raw_max = 32767;

const Mode modes[] = {
    {"volts", "V", -10, 10, 0, "ZuWexoSetAnalogOutputVoltage", "ZuWexoSetInitialAnalogOutputVoltage"},
    {"ma", "mA", 0, 20, 1, "ZuWexoSetAnalogOutputCurrent", "ZuWexoSetInitialAnalogOutputCurrent"},
    {"counts", "counts", raw_min, raw_max, -1, "ZuWexoSetAnalogOutput", "ZuWexoSetInitialAnalogOutput"},
};

const Mode& parse_mode(const std::string* text) {
    if (text == nullptr) return modes[0];
    for (const auto& mode : modes)
        if (*text == mode.name) return mode;
    fail_usage("--mode: '" + *text + "' is not volts, ma or counts");
}

// Output modes as the unit reports them: 0 voltage, 1 current.
const char* mode_name(int mode) { return mode == 1 ? "current" : "voltage"; }
const char* mode_unit(int mode) { return mode == 1 ? "mA" : "V"; }

struct Output {
    int channel = 0;
    int mode = 0;
    int raw = 0;
    double value = 0;
};

Output read_output(const Unit& unit, int channel) {
    const std::string what = "cannot read back analog output " + std::to_string(channel) + " of " + unit.label;
    Output out;
    out.channel = channel;
    const auto raw = checked(api(unit)->analog_output(channel), "ZuWexoGetAnalogOutput", what);
    out.raw = raw.raw;
    const auto value = checked(api(unit)->analog_output_value(channel), "ZuWexoGetAnalogOutputByValue", what);
    out.mode = static_cast<int>(value.mode);
    out.value = value.value;
    return out;
}

// Sets the present or the start-up value; returns the output mode used.
int set_output(const Unit& unit, int channel, const Mode& mode, double value, bool initial) {
    const char* call = initial ? mode.initial_call : mode.set_call;
    const std::string what = std::string("cannot set the ") + (initial ? "start-up value" : "value") +
                             " of analog output " + std::to_string(channel) + " of " + unit.label;
    const BorrowedUnit api_unit = api(unit);
    if (mode.physical()) {
        const auto output_mode = static_cast<AnalogMode>(mode.output_mode);
        checked(initial ? api_unit->set_initial_analog_output_value(channel, output_mode, value)
                        : api_unit->set_analog_output_value(channel, output_mode, value),
                call, what);
        return mode.output_mode;
    }
    const AnalogMode present_mode =
        checked(api_unit->analog_output(channel), "ZuWexoGetAnalogOutput",
                "cannot read the mode of analog output " + std::to_string(channel) + " of " + unit.label)
            .mode;
    const int present = static_cast<int>(present_mode);
    const int raw = static_cast<int>(value);
    // The library would send a negative count of a current output as 0.
    if (present == 1 && raw < 0)
        fail_unit("AO" + std::to_string(channel) + " of " + unit.label +
                  " is a current output: counts 0.." + std::to_string(raw_max));
    const AnalogOutput output{present_mode, raw};
    checked(initial ? api_unit->set_initial_analog_output(channel, output) : api_unit->set_analog_output(channel, output),
            call, what);
    return present;
}

// A start-up value just set: the unit cannot report it back.
struct Initial {
    int channel = 0;
    int mode = 0;
    const Mode* given = nullptr;
    double value = 0;

    std::string text() const {
        const std::string amount = given->physical() ? number_text(value) + " " + given->unit
                                              : "raw " + std::to_string(static_cast<int>(value));
        return "AO" + std::to_string(channel) + "  start-up value set: " + amount + " (" + mode_name(mode) + ")";
    }

    void write(Json& j) const {
        j.begin_object().field("channel", channel).field("mode", mode_name(mode));
        if (given->physical()) j.field("value", value).field("unit", given->unit);
        else j.field("raw", static_cast<int>(value));
        j.end_object();
    }
};

void print_outputs(const std::vector<Output>& outputs, const std::optional<Initial>& initial, bool json) {
    if (json) {
        Json j;
        j.begin_object();
        if (initial) initial->write(j.key("initial"));
        j.key("channels").begin_array();
        for (const auto& o : outputs)
            j.begin_object().field("channel", o.channel).field("mode", mode_name(o.mode)).field("value", o.value)
                .field("unit", mode_unit(o.mode)).field("raw", o.raw).end_object();
        print_line(j.end_array().end_object().text());
        return;
    }
    if (initial) print_line(initial->text());
    std::vector<std::vector<std::string>> rows = {{"CH", "MODE", "VALUE", "RAW"}};
    for (const auto& o : outputs)
        rows.push_back({"AO" + std::to_string(o.channel), mode_name(o.mode),
                        fixed_text(o.value, 4) + " " + mode_unit(o.mode), std::to_string(o.raw)});
    print_text(format_table(rows));
}

} // namespace

static int cmd_ao(Context& ctx) {
    const Args& args = ctx.args;
    const UnitSelector selector = take_unit(ctx);
    check_arity(args, 0, 2, "ao");
    const bool set = args.positional.size() == 2;
    if (!set && (args.has("mode") || args.has("initial")))
        fail_usage(std::string("ao: ") + (args.has("mode") ? "--mode" : "--initial") + " needs CH VALUE");
    const std::optional<int> channel =
        args.positional.empty() ? std::nullopt : std::optional<int>(parse_channel(args.positional[0]));
    const Mode& mode = parse_mode(args.value("mode"));
    const bool initial = args.has("initial");
    double value = 0;
    if (set) {
        const std::string what = std::string("ao VALUE in ") + mode.unit;
        value = mode.physical() ? parse_decimal(args.positional[1], what, mode.min, mode.max)
                         : static_cast<double>(parse_number(args.positional[1], what, raw_min, raw_max));
    }

    const Unit unit = open_unit(ctx, selector, true);
    const AnalogChannels outputs = analog_channels(unit, false);
    const auto channels = selected_channels(unit, outputs, channel);
    std::optional<Initial> initial_set;
    if (set) {
        const int used = set_output(unit, *channel, mode, value, initial);
        if (initial) initial_set = Initial{*channel, used, &mode, value};
    }
    std::vector<Output> read;
    for (int c : channels) read.push_back(read_output(unit, c));
    print_outputs(read, initial_set, ctx.globals.json);
    return exit_ok;
}

void register_ao(Registry& registry) {
    registry.option({"mode", "M", "VALUE is in volts (-10..10, default), ma (0..20 mA) or counts (-32768..32767)"});
    registry.option({"initial", nullptr, "set the start-up value instead of the present output"});
    registry.add(
        {"ao", "UNIT CH VALUE [--mode volts|ma|counts] [--initial]\nUNIT [CH]",
         "set or read back analog outputs",
         "Without VALUE, reads back all analog outputs (or output CH): mode (voltage or current),\n"
         "value in V or mA, and raw count. CH VALUE sets output CH and reads it back. VALUE is in\n"
         "volts by default (-10..10 V, a voltage output); --mode ma takes milliamperes (0..20 mA,\n"
         "a current output); --mode counts takes the raw count (-32768..32767 = -10..10 V, or\n"
         "0..32767 = 0..20 mA) and keeps the output's present mode. --initial sets the value\n"
         "the output takes at power-up instead (the unit cannot report it back; the present\n"
         "output is shown). Models 41 (AO0..AO1) and 43 (AO0..AO2) have analog outputs.",
         {"mode", "initial"}, true, cmd_ao});
}

} // namespace wexo::cli
