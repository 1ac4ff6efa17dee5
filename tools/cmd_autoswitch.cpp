// wexo autoswitch: the board's own output timetable.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <vector>

#include "output.hpp"
#include "unit_record.hpp"
#include "unit_api.hpp"
// The binary boards' fixed switching times.
#include "wexo_data.h"

namespace wexo::cli {

namespace {

struct Durations {
    int channel;
    unsigned first_ms;
    unsigned second_ms;
};

struct State {
    bool active = false;
    unsigned mask = 0;
    std::optional<int> time_ms;      // none when no output is selected
    std::vector<Durations> channels; // ASCII boards only
};

State read_state(const Unit& unit) {
    const std::string where = " of " + unit.label;
    const BorrowedUnit board = api(unit);
    State s;
    s.active = checked(board->auto_switching(), "ZuWexoGetAutoSwitchingActive", "cannot read auto switching" + where);
    s.mask = checked(board->auto_switching_outputs(), "ZuWexoGetAutoSwitchingPio",
                     "cannot read the auto-switching outputs" + where);
    if (const auto time = board->auto_switching_time()) {
        s.time_ms = static_cast<int>(time->count());
    } else if (time.error() != errc::bad_reply || s.mask != 0) {
        // ASCII boards read the time of the first selected output, so an
        // empty mask leaves no time to show; anything else is a failure.
        fail_library(time.error(), "ZuWexoGetAutoSwitchingTime", "cannot read the switching time" + where);
    }
    const auto caps = capabilities(unit_model(unit));
    if (caps && caps->auto_switching == 3) {
        for (int i = 0; i < caps->outputs; ++i) {
            const auto times = checked(board->auto_switching_channel(i), "ZuWexoGetAutoSwitchingChannel",
                                       "cannot read the durations of output " + std::to_string(i) + where);
            s.channels.push_back({i, static_cast<unsigned>(times.first.count()),
                                  static_cast<unsigned>(times.second.count())});
        }
    }
    return s;
}

void print_state(const State& s, bool json) {
    if (json) {
        Json j;
        j.begin_object().field("active", s.active).field("mask", s.mask).key("time_ms");
        if (s.time_ms) j.value(*s.time_ms); else j.null();
        j.key("channels").begin_array();
        for (const auto& d : s.channels)
            j.begin_object().field("channel", d.channel).field("first_ms", d.first_ms)
                .field("second_ms", d.second_ms).end_object();
        j.end_array().end_object();
        print_line(j.text());
        return;
    }
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%02x", s.mask);
    std::vector<std::vector<std::string>> rows = {
        {"active", s.active ? "on" : "off"},
        {"mask", mask},
        {"time", s.time_ms ? std::to_string(*s.time_ms) + " ms" : "- (no output selected)"},
    };
    for (const auto& d : s.channels)
        rows.push_back({"DO" + std::to_string(d.channel),
                        std::to_string(d.first_ms) + " ms / " + std::to_string(d.second_ms) + " ms"});
    print_text(format_table(rows));
}

// ASCII boards hold whole 100-ms steps, 1 to 255 of them.
constexpr long long kStepMs = 100;
constexpr long long kMostSteps = 255;

// "100 or 200": the times next to ms that the board holds.
std::string neighbours(const std::vector<long long>& held, long long ms) {
    std::optional<long long> below, above;
    for (long long t : held) {
        if (t < ms) below = t;
        if (t > ms && !above) above = t;
    }
    if (below && above) return std::to_string(*below) + " or " + std::to_string(*above);
    return std::to_string(below ? *below : *above);
}

// The library rounds a time the board cannot hold (down to whole steps on
// ASCII boards, 50 ms becoming 0; up to the next fixed time on binary
// boards) and reports success; the tool sets only what the board holds.
void check_time(const Unit& unit, int variant, const char* option, long long ms) {
    std::vector<long long> held;
    std::string steps;
    if (variant == 3) {
        for (long long n = 1; n <= kMostSteps; ++n) held.push_back(n * kStepMs);
        steps = "100 to 25500 ms in steps of 100 ms";
    } else {
        held.assign(std::begin(autoswitchtime), std::end(autoswitchtime));
        steps = "100 to 2000 ms in steps of 100 ms, 3000 to 15000 ms in steps of 1000 ms";
    }
    if (std::find(held.begin(), held.end(), ms) != held.end()) return;
    fail_usage(std::string("autoswitch: ") + option + " " + std::to_string(ms) + " ms is not a time " + unit.label +
               " can hold (" + steps + "; nearest " + neighbours(held, ms) + "); nothing was set");
}

} // namespace

static int cmd_autoswitch(Context& ctx) {
    const Args& args = ctx.args;
    const UnitSelector selector = take_unit(ctx);
    check_arity(args, 0, 0, "autoswitch");
    const bool per_channel = args.has("channel") || args.has("first") || args.has("second");
    if (per_channel && !(args.has("channel") && args.has("first") && args.has("second")))
        fail_usage("autoswitch: --channel, --first and --second go together");
    std::optional<bool> active;
    std::optional<long long> mask, time, channel, first, second;
    if (const auto* v = args.value("active")) active = parse_switch(*v, "--active");
    if (const auto* v = args.value("mask")) mask = parse_number(*v, "--mask", 0, 0xffffffffLL);
    if (const auto* v = args.value("time")) time = parse_number(*v, "--time", 0, INT_MAX);
    if (per_channel) {
        channel = parse_number(*args.value("channel"), "--channel", 0, 255);
        first = parse_number(*args.value("first"), "--first", 0, INT_MAX);
        second = parse_number(*args.value("second"), "--second", 0, INT_MAX);
    }

    const Unit unit = open_unit(ctx, selector, true);
    const std::string where = " of " + unit.label;
    // Boards without auto switching are refused by the library itself.
    const auto caps = capabilities(unit_model(unit));
    const int variant = caps ? caps->auto_switching : 0;
    if (variant >= 1 && variant <= 3) {
        if (time) check_time(unit, variant, "--time", *time);
        if (per_channel && variant == 3) {
            check_time(unit, variant, "--first", *first);
            check_time(unit, variant, "--second", *second);
        }
    }
    const BorrowedUnit board = api(unit);
    // The mask travels as a plain int; bit 31 keeps its place.
    if (mask)
        checked(board->set_auto_switching_outputs(static_cast<std::uint32_t>(*mask)), "ZuWexoSetAutoSwitchingPio",
                "cannot set the auto-switching outputs" + where);
    if (time)
        checked(board->set_auto_switching_time(std::chrono::milliseconds{*time}), "ZuWexoSetAutoSwitchingTime",
                "cannot set the switching time" + where);
    // The per-output durations go after the common time so that they win.
    if (per_channel)
        checked(board->set_auto_switching_channel(static_cast<int>(*channel), {std::chrono::milliseconds{*first},
                                                                               std::chrono::milliseconds{*second}}),
                "ZuWexoSetAutoSwitchingChannel", "cannot set the durations" + where);
    // The switch last: the board starts with its new timetable.
    if (active)
        checked(board->set_auto_switching(*active), "ZuWexoSetAutoSwitchingActive",
                "cannot switch auto switching" + where);
    print_state(read_state(unit), ctx.globals.json);
    return exit_ok;
}

void register_autoswitch(Registry& registry) {
    registry.option({"active", "0|1", "switch auto switching off or on"});
    registry.option({"mask", "M", "outputs that take part, bit i = output i"});
    registry.option({"time", "MS", "switching time of all outputs, in the board's steps (100 ms; binary boards 1000 ms above 2000)"});
    registry.option({"first", "MS", "first duration of --channel, 100..25500 in steps of 100"});
    registry.option({"second", "MS", "second duration of --channel, 100..25500 in steps of 100"});
    registry.add(
        {"autoswitch", "UNIT [--active 0|1] [--mask M] [--time MS] [--channel N --first MS --second MS]",
         "show or change automatic output switching",
         "Applies the given settings (durations, mask, time, then the on/off switch) and prints the\n"
         "state: active, the outputs that take part, the switching time and, on ASCII boards, the\n"
         "two durations of every output. Times are set only as the board holds them: binary boards\n"
         "100 to 2000 ms in steps of 100 ms and 3000 to 15000 ms in steps of 1000 ms (--time);\n"
         "ASCII boards 100 to 25500 ms in steps of 100 ms (--time, --first, --second). Any other\n"
         "time is refused with the nearest ones (exit status 2) and nothing is set.",
         {"active", "mask", "time", "channel", "first", "second"}, true, cmd_autoswitch});
}

} // namespace wexo::cli
