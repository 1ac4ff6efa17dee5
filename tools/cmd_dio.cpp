// wexo di / do: digital inputs (with a watch mode) and outputs.
#include <cstdio>
#include <optional>
#include <vector>

#include "output.hpp"
#include "unit_record.hpp"
#include "unit_api.hpp"
#include "watch.hpp"

namespace wexo::cli {

namespace {

std::string mask_text(unsigned bits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02x", bits);
    return buf;
}

// Channels the unit's model has; the mask alone is printed when the model
// table has no row for it.
int channel_count(const Unit& unit, bool outputs) {
    const auto caps = capabilities(unit_model(unit));
    if (!caps) return 0;
    return outputs ? caps->outputs : caps->inputs;
}

void print_one(const char* prefix, int channel, int value, bool json) {
    if (json) {
        Json j;
        j.begin_object().field("channel", channel).field("on", value != 0).field("value", value).end_object();
        print_line(j.text());
        return;
    }
    // ASCII boards report an input that is on as 1, 2, 4 or 8.
    std::string line = prefix + std::to_string(channel) + "  " + (value != 0 ? "on" : "off");
    if (value != 0 && value != 1) line += "  (value " + std::to_string(value) + ")";
    print_line(line);
}

void print_all(const char* prefix, unsigned bits, int count, bool json) {
    if (json) {
        Json j;
        j.begin_object().field("mask", bits).key("channels").begin_array();
        for (int i = 0; i < count; ++i) j.value(((bits >> i) & 1U) != 0);
        j.end_array().end_object();
        print_line(j.text());
        return;
    }
    for (int i = 0; i < count; ++i)
        print_line(prefix + std::to_string(i) + "  " + (((bits >> i) & 1U) ? "on" : "off"));
    print_line("mask " + mask_text(bits));
}

unsigned read_inputs(const Unit& unit) {
    return checked(api(unit)->inputs(), "ZuWexoInPioAll", "cannot read the inputs of " + unit.label);
}

// Refuses a channel the unit's model lacks before anything is sent, naming
// the channels it has (an unknown model is left to the library).
void check_channel(const Unit& unit, int channel, bool outputs) {
    const auto caps = capabilities(unit_model(unit));
    const int count = !caps ? 256 : outputs ? caps->outputs : caps->inputs;
    if (channel < count) return;
    const std::string kind = outputs ? "digital outputs" : "digital inputs";
    fail_unit("channel " + std::to_string(channel) + ": " + unit.label +
              (count == 0 ? " has no " + kind : " has " + kind + " 0.." + std::to_string(count - 1)) + " (model " +
              std::to_string(unit_model(unit)) + ")");
}

std::string bit_text(unsigned bits, int channel) { return ((bits >> channel) & 1U) ? "1" : "0"; }

// CSV columns: one per input read (0 or 1), and the mask when all are read.
std::vector<std::string> csv_fields(unsigned bits, int channel, int channels) {
    if (channel >= 0) return {bit_text(bits, channel)};
    std::vector<std::string> fields;
    for (int i = 0; i < channels; ++i) fields.push_back(bit_text(bits, i));
    fields.push_back(mask_text(bits));
    return fields;
}

void print_inputs_header(int channel, int channels) {
    std::vector<std::string> columns;
    if (channel >= 0) {
        columns.push_back("DI" + std::to_string(channel));
    } else {
        for (int i = 0; i < channels; ++i) columns.push_back("DI" + std::to_string(i));
        columns.push_back("mask");
    }
    print_csv_header(columns);
}

// Prints the first state and then every change (of input `channel` alone
// when one is given); CSV prints every reading.
void watch_inputs(const Unit& unit, const Watch& watch, int channel, Format format) {
    const int channels = channel_count(unit, false);
    const bool json = format == Format::json;
    // One input's change, or the state (of all inputs, or of `channel`).
    auto report = [&](long long t, int input, unsigned bits, bool change) {
        const bool on = input >= 0 && ((bits >> input) & 1U) != 0;
        if (json) {
            Json j;
            j.begin_object().field("t_ms", t);
            if (input >= 0) j.field("channel", input).field("on", on);
            j.field("mask", bits).end_object();
            print_line(j.text());
        } else if (input < 0) {
            print_line("+" + std::to_string(t) + " ms  inputs " + mask_text(bits));
        } else {
            const char* what = change ? (on ? "off -> on" : "on -> off") : (on ? "on" : "off");
            print_line("+" + std::to_string(t) + " ms  DI" + std::to_string(input) + " " + what + "  (inputs " +
                       mask_text(bits) + ")");
        }
    };
    std::optional<unsigned> last;
    run_watch(watch, unit, [&](long long t) {
        const unsigned bits = read_inputs(unit);
        if (format == Format::csv) {
            print_csv_row(t, csv_fields(bits, channel, channels));
        } else if (!last) {
            // A watch of one input starts with that input's state.
            report(t, channel, bits, false);
        } else {
            const unsigned changed = bits ^ *last;
            const int width = channels > 0 ? channels : 32;
            for (int i = 0; i < width; ++i)
                if (((changed >> i) & 1U) && (channel < 0 || channel == i)) report(t, i, bits, true);
        }
        last = bits;
    }, [&] { last.reset(); }); // what changed in a gap is unknown: the state again
}

} // namespace

static int cmd_di(Context& ctx) {
    const Args& args = ctx.args;
    const UnitSelector selector = take_unit(ctx);
    const auto watch = read_watch(args, "di");
    const Format format = read_format(ctx, "di");
    check_arity(args, 0, 1, "di");
    const int channel = args.positional.empty() ? -1 : parse_channel(args.positional[0]);

    const Unit unit = open_unit(ctx, selector, true);
    if (channel >= 0) check_channel(unit, channel, false);
    if (format == Format::csv) print_inputs_header(channel, channel_count(unit, false));
    if (watch) {
        watch_inputs(unit, *watch, channel, format);
    } else if (format == Format::csv) {
        print_csv_row(0, csv_fields(read_inputs(unit), channel, channel_count(unit, false)));
    } else if (channel >= 0) {
        const int value = checked(api(unit)->input_level(channel), "ZuWexoInPio",
                                  "cannot read input " + std::to_string(channel) + " of " + unit.label);
        print_one("DI", channel, value, ctx.globals.json);
    } else {
        print_all("DI", read_inputs(unit), channel_count(unit, false), ctx.globals.json);
    }
    return exit_ok;
}

static int cmd_do(Context& ctx) {
    const Args& args = ctx.args;
    const UnitSelector selector = take_unit(ctx);
    const bool set_all = args.has("all");
    const bool get_one = args.has("get");
    if (set_all && get_one) fail_usage("do: give either --all or --get, not both");
    if (set_all || get_one) check_arity(args, 0, 0, "do");
    else if (args.positional.size() == 1) fail_usage("do: CHANNEL needs a VALUE (on or off)");
    else check_arity(args, 0, 2, "do");
    const bool set_one = args.positional.size() == 2;
    int channel = -1;
    bool on = false;
    unsigned mask = 0;
    if (set_one) {
        channel = parse_channel(args.positional[0]);
        on = parse_switch(args.positional[1], "do VALUE");
    } else if (get_one) {
        channel = parse_channel(*args.value("get"));
    } else if (set_all) {
        mask = static_cast<unsigned>(parse_number(*args.value("all"), "--all", 0, 0xffffffffLL));
    }

    const Unit unit = open_unit(ctx, selector, true);
    const std::string where = " of " + unit.label;
    if (channel >= 0) check_channel(unit, channel, true);
    if (set_one) {
        checked(api(unit)->set_output(channel, on), "ZuWexoOutPio",
                "cannot set output " + std::to_string(channel) + where);
        print_one("DO", channel, on ? 1 : 0, ctx.globals.json);
    } else if (set_all) {
        // The library drops bits above the unit's outputs; refuse them so
        // that what is reported is what was set.
        const int outputs = channel_count(unit, true);
        if (outputs < 32 && (mask >> outputs) != 0)
            fail_unit("--all " + mask_text(mask) + " has bits above the " + std::to_string(outputs) +
                      " outputs of " + unit.label + " (highest mask " +
                      mask_text((1U << outputs) - 1U) + "); nothing was set");
        checked(api(unit)->set_outputs(mask), "ZuWexoOutPioAll", "cannot set the outputs" + where);
        print_all("DO", mask, channel_count(unit, true), ctx.globals.json);
    } else if (get_one) {
        const int value = checked(api(unit)->output_level(channel), "ZuWexoGetOut",
                                  "cannot read back output " + std::to_string(channel) + where);
        print_one("DO", channel, value, ctx.globals.json);
    } else {
        const unsigned bits = checked(api(unit)->outputs(), "ZuWexoGetOutAll", "cannot read back the outputs" + where);
        print_all("DO", bits, channel_count(unit, true), ctx.globals.json);
    }
    return exit_ok;
}

void register_dio(Registry& registry) {
    registry.option({"all", "MASK", "set all outputs at once, bit i = output i"});
    registry.option({"get", "CHANNEL", "read back one output"});
    registry.add(
        {"di", "UNIT [CHANNEL] [--csv]\nUNIT [CHANNEL] --watch [--interval MS] [--count N] [--csv]", "read digital inputs",
         "Without CHANNEL, reads all inputs and prints one line per channel and the mask (bit i =\n"
         "input i). With CHANNEL, reads that input. ASCII boards report an input that is on as 1,\n"
         "2, 4 or 8 by its place in its group of four; this shows as 'on (value N)'. A channel the\n"
         "model lacks is refused with the inputs it has, before anything is sent.\n"
         "--watch polls the inputs every --interval ms (default 500) and prints the first state and\n"
         "then one line per change (of CHANNEL alone when given), until --count polls were made or\n"
         "SIGINT/SIGTERM arrives; with --json one object per line. A unit that stops answering is\n"
         "reported on standard error and connected again, with back-off, until it answers. --csv\n"
         "prints a header line and one line per reading (UTC time, ms since the start, 0 or 1 per\n"
         "input and the mask), as ai and pulse count do.",
         {"watch", "interval", "count", "csv"}, true, cmd_di});
    registry.add(
        {"do", "UNIT [CHANNEL on|off]\nUNIT --get CHANNEL\nUNIT --all MASK", "set or read back digital outputs",
         "With no arguments, reads back all outputs. CHANNEL VALUE sets one output (VALUE on/off,\n"
         "1/0, true/false, high/low). --all MASK sets all outputs at once (bit i = output i, 0x and\n"
         "0b prefixes accepted); a mask with bits above the unit's outputs is refused and nothing\n"
         "is set. --get CHANNEL reads back one output.",
         {"all", "get"}, true, cmd_do});
}

} // namespace wexo::cli
