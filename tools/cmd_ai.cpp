// wexo ai: analog inputs read once, watched or logged as CSV; an input's
// range, the unit's sampling rate and its transmit cycle.
#include <optional>
#include <vector>

#include "analog_channels.hpp"
#include "output.hpp"
#include "watch.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

// Full scale of each range code (counts of -2^23 to 2^23 - 1 span minus to
// plus full scale), the decimals that still show a step of one count, and
// those of CSV, one fixed number per unit of measure (voltage ranges 0..3,
// current ranges 4 and 5, the temperature range 6): a column keeps its
// format whatever the range, and the finest range of the unit loses nothing.
struct RangeScale {
    double full_scale;
    int decimals;
    int csv_decimals;
};
constexpr RangeScale range_scales[] = {{0.1, 8, 8}, {1, 7, 8},  {10, 6, 8},    {30, 6, 8},
                                       {20, 6, 6},  {20, 6, 6}, {3276.8, 4, 4}};
constexpr int max_range = 6;
// The one model with analog inputs but without range 6 (it has no
// thermocouple inputs).
constexpr int model_without_range6 = 40;

// ZuWexoGetAnalogInputByValue's conversion, applied to counts read in one
// exchange so that all values of a reading belong to the same sample.
std::optional<double> to_value(int count, int range) {
    if (range < 0 || range > max_range) return std::nullopt; // 7: the board names no range
    const double full = range_scales[range].full_scale;
    // Ranges 4 and 5 scale both signs by 2^23 - 1 and range 6 both by 2^23;
    // the others scale negative counts by 2^23, so that -2^23 reads as
    // exactly minus full scale.
    const bool by_power_of_two = range == 6 || (range < 4 && count < 0);
    return by_power_of_two ? count * (1.0 / 8388608.0) * full : count / 8388607.0 * full;
}

std::string value_text(int count, int range) {
    const auto value = to_value(count, range);
    return value ? fixed_text(*value, range_scales[range].decimals) : "-";
}

// A value the range cannot give is an empty field.
std::string csv_value(int count, int range) {
    const auto value = to_value(count, range);
    return value ? fixed_text(*value, range_scales[range].csv_decimals) : "";
}

std::vector<int> read_ranges(const Unit& unit, const std::vector<int>& channels) {
    std::vector<int> ranges;
    for (int channel : channels) {
        ranges.push_back(checked(api(unit)->analog_input_range(channel), "ZuWexoGetAnalogInputRange",
                                 "cannot read the range of analog input " + std::to_string(channel) + " of " +
                                     unit.label));
    }
    return ranges;
}

// All channels in one exchange, so that they are one sample.
std::vector<int> read_counts(const Unit& unit, const std::vector<int>& channels) {
    if (channels.size() == 1)
        return {checked(api(unit)->analog_input(channels[0]), "ZuWexoGetAnalogInput",
                        "cannot read analog input " + std::to_string(channels[0]) + " of " + unit.label)};
    // channels are all the model's inputs, which is what the call reads.
    const char* call = "ZuWexoGetAnalogInputAll";
    const std::string text = "cannot read the analog inputs of " + unit.label;
    auto counts = checked(api(unit)->analog_inputs(), call, text);
    if (counts.size() != channels.size()) fail_library(call, text);
    return counts;
}

// One reading of the selected channels, printed as its format wants.
class Printer {
public:
    Printer(Format format, std::vector<int> channels, std::vector<int> ranges)
        : format_(format), channels_(std::move(channels)), ranges_(std::move(ranges)) {}

    void csv_header() const {
        std::vector<std::string> columns;
        for (int channel : channels_) {
            const std::string name = "AI" + std::to_string(channel);
            columns.push_back(name + "_count");
            columns.push_back(name + "_value");
        }
        print_csv_header(columns);
    }

    // A line of a watch or a CSV log.
    void reading(long long t_ms, const std::vector<int>& counts) const {
        if (format_ == Format::csv) {
            std::vector<std::string> fields;
            for (std::size_t i = 0; i < counts.size(); ++i) {
                fields.push_back(std::to_string(counts[i]));
                fields.push_back(csv_value(counts[i], ranges_[i]));
            }
            print_csv_row(t_ms, fields);
        } else if (format_ == Format::json) {
            Json j;
            j.begin_object().field("t_ms", t_ms);
            write_channels(j, counts);
            print_line(j.end_object().text());
        } else {
            std::string line = "+" + std::to_string(t_ms) + " ms";
            for (std::size_t i = 0; i < counts.size(); ++i)
                line += "  AI" + std::to_string(channels_[i]) + " " + value_text(counts[i], ranges_[i]);
            print_line(line);
        }
    }

    // The one-shot report: every channel with its range, and the unit's
    // transmit cycle (and sampling rate, when it was just set).
    void report(const std::vector<int>& counts, int cycle, std::optional<int> sps) const {
        if (format_ == Format::json) {
            Json j;
            j.begin_object();
            write_channels(j, counts);
            j.field("transmit_cycle", cycle);
            if (sps) j.field("sampling_rate", *sps);
            print_line(j.end_object().text());
            return;
        }
        std::vector<std::vector<std::string>> rows = {{"CH", "RANGE", "FULL SCALE", "COUNT", "VALUE"}};
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const int range = ranges_[i];
            const bool known = range >= 0 && range <= max_range;
            rows.push_back({"AI" + std::to_string(channels_[i]), std::to_string(range),
                            known ? number_text(range_scales[range].full_scale) : "-",
                            std::to_string(counts[i]), value_text(counts[i], range)});
        }
        print_text(format_table(rows));
        print_line("transmit cycle  code " + std::to_string(cycle));
        if (sps) print_line("sampling rate   code " + std::to_string(*sps) + " (set now; the unit does not report it)");
    }

private:
    void write_channels(Json& j, const std::vector<int>& counts) const {
        j.key("channels").begin_array();
        for (std::size_t i = 0; i < counts.size(); ++i) {
            j.begin_object().field("channel", channels_[i]).field("range", ranges_[i]).field("count", counts[i]);
            j.key("value");
            if (const auto value = to_value(counts[i], ranges_[i])) j.value(*value); else j.null();
            j.end_object();
        }
        j.end_array();
    }

    Format format_;
    std::vector<int> channels_;
    std::vector<int> ranges_;
};

} // namespace

static int cmd_ai(Context& ctx) {
    const Args& args = ctx.args;
    const UnitSelector selector = take_unit(ctx);
    const auto watch = read_watch(args, "ai");
    const Format format = read_format(ctx, "ai");
    const bool csv = format == Format::csv;
    const auto channel = optional_channel(args, "ai", {"range"});
    std::optional<int> range, sps, cycle;
    if (const auto* v = args.value("range")) range = static_cast<int>(parse_number(*v, "--range", 0, max_range));
    if (const auto* v = args.value("sps")) sps = static_cast<int>(parse_number(*v, "--sps", 0, 7));
    if (const auto* v = args.value("cycle")) cycle = static_cast<int>(parse_number(*v, "--cycle", 0, 13));

    const Unit unit = open_unit(ctx, selector, true);
    const AnalogChannels inputs = analog_channels(unit, true);
    const auto channels = selected_channels(unit, inputs, channel);
    const std::string where = " of " + unit.label;
    if (range) {
        if (*range == 6 && inputs.model == model_without_range6)
            fail_unit("--range 6: " + unit.label + " (model " + std::to_string(inputs.model) +
                      ") takes input ranges 0..5");
        checked(api(unit)->set_analog_input_range(*channel, *range), "ZuWexoSetAnalogInputRange",
                "cannot set the range of analog input " + std::to_string(*channel) + where);
    }
    if (sps)
        checked(api(unit)->set_sampling_rate(*sps), "ZuWexoSetAnalogInputADCsps", "cannot set the sampling rate" + where);
    if (cycle)
        checked(api(unit)->set_transmit_cycle(*cycle), "ZuWexoSetAiTransmitCycle",
                "cannot set the transmit cycle" + where);

    // Ranges change only by command, so one read serves a whole watch.
    const Printer printer(format, channels, read_ranges(unit, channels));
    if (csv) printer.csv_header();
    if (watch) {
        run_watch(*watch, unit, [&](long long t_ms) { printer.reading(t_ms, read_counts(unit, channels)); });
    } else if (csv) {
        printer.reading(0, read_counts(unit, channels));
    } else {
        const auto counts = read_counts(unit, channels);
        const int code =
            checked(api(unit)->transmit_cycle(), "ZuWexoGetAiTransmitCycle", "cannot read the transmit cycle" + where);
        printer.report(counts, code, sps);
    }
    return exit_ok;
}

void register_ai(Registry& registry) {
    registry.option({"range", "R", "input range code 0..6 of CH (full scale 0: 0.1, 1: 1, 2: 10, 3: 30, 4/5: 20, 6: 3276.8)"});
    registry.option({"sps", "CODE", "the unit's sampling-rate code, 0..7"});
    registry.option({"cycle", "CODE", "the unit's transmit-cycle code, 0..13"});
    registry.add(
        {"ai", "UNIT [CH] [--range R] [--sps CODE] [--cycle CODE]\n"
               "UNIT [CH] --watch [--interval MS] [--count N] [--csv]\nUNIT [CH] --csv",
         "read analog inputs; set their range, sampling rate and transmit cycle",
         "Reads all analog inputs (or input CH) in one exchange and prints, per input, the range\n"
         "code, its full scale, the raw count (signed 24 bits, -8388608..8388607) and the value:\n"
         "the count scaled to the range's full scale, in the range's own unit. Full scales:\n"
         "range 0: 0.1, 1: 1, 2: 10, 3: 30, 4 and 5: 20, 6: 3276.8 (not on model 40). Then the\n"
         "unit's transmit-cycle code. --range R sets the range of CH (0..6), --sps CODE the unit's\n"
         "sampling-rate code (0..7; the unit does not report it back), --cycle CODE its\n"
         "transmit-cycle code (0..13); the settings go in first, then the inputs are read.\n"
         "--watch prints one reading every --interval ms (default 500), with --json one object\n"
         "per reading, until --count readings were made or SIGINT/SIGTERM arrives; a unit that\n"
         "stops answering is connected again, with back-off. --csv prints a header line and one\n"
         "line per reading (UTC time, ms since the start, count and value of every input; values\n"
         "with 8 decimals on the voltage ranges 0..3, 6 on the current ranges 4 and 5, 4 on range\n"
         "6), for a spreadsheet or a plotting tool. A channel the model lacks is refused with the\n"
         "channels it has (models 40 and 42: AI0..AI2, 44: AI0..AI4).",
         {"range", "sps", "cycle", "watch", "interval", "count", "csv"}, true, cmd_ai});
}

} // namespace wexo::cli
