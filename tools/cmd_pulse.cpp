// wexo pulse: pulse mode, its configuration, the counters and the pulse
// alert. The board's pulse set (basic, full or ASCII) decides which calls
// exist; what it lacks is refused before anything is sent.
#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "board_features.hpp"
#include "watch.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

struct PulseChannel {
    int channel = 0;
    std::optional<bool> enabled; // unknown on the basic set but for the counting channel
    std::optional<bool> down;
    std::optional<long long> count; // -1: the basic set's overflow mark
};

struct Alert {
    int channel = 0;
    int mode = 0;
    long long value = 0;
};

struct PulseState {
    bool on = false;
    bool continuous = false;
    int setting_a = 0;
    int setting_b = 0;
    std::vector<PulseChannel> channels;
    std::optional<Alert> alert;
};

// What the command line asks to change; checked before the unit is reached.
struct PulseRequest {
    std::optional<bool> on;
    std::optional<bool> continuous;
    struct Config { int channel; bool down; int a; int b; };
    std::optional<Config> config;
    struct ChannelSetup { int channel; bool enable; bool down; };
    std::optional<ChannelSetup> channel_setup;
    std::optional<Alert> alert;
};

template <typename T>
T check(::wexo::result<T> result, const char* call, const Unit& unit, const std::string& what) {
    return checked(std::move(result), call, "cannot " + what + " of " + unit.label);
}

const char* on_off(bool on) { return on ? "on" : "off"; }
const char* sense(bool down) { return down ? "DOWN" : "UP"; }

bool parse_sense(const std::string& text) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "UP" || upper == "DOWN") return upper == "DOWN";
    fail_usage("--config: '" + text + "' is not UP or DOWN");
}

int parse_setting_b(const std::string& text) {
    const int b = static_cast<int>(parse_number(text, "--config B", 0, 20));
    if (b >= 1 && b <= 3) fail_usage("--config B: " + text + " is not 0 or 4 to 20");
    return b;
}

PulseRequest parse_request(const Args& args) {
    PulseRequest req;
    const auto& words = args.positional;
    if (args.has("on") && args.has("off")) fail_usage("pulse: give either --on or --off");
    if (args.has("on") || args.has("off")) req.on = args.has("on");
    if (const auto* v = args.value("continuous")) req.continuous = parse_switch(*v, "--continuous");
    if (args.has("config") && args.has("alert")) fail_usage("pulse: give --config and --alert in separate runs");
    if (args.has("config")) {
        if (words.size() != 4) fail_usage("pulse: --config needs CH UP|DOWN A B");
        req.config = PulseRequest::Config{parse_channel(words[0]), parse_sense(words[1]),
                                          static_cast<int>(parse_number(words[2], "--config A", 0, 3)),
                                          parse_setting_b(words[3])};
    } else if (args.has("alert")) {
        if (words.size() != 3) fail_usage("pulse: --alert needs CH MODE VALUE");
        req.alert = Alert{parse_channel(words[0]), static_cast<int>(parse_number(words[1], "--alert MODE", 0, 3)),
                          parse_number(words[2], "--alert VALUE", -2147483648LL, 2147483647LL)};
    } else {
        check_arity(args, 0, 0, "pulse");
    }
    if (const auto* v = args.value("channel")) {
        const auto* enable = args.value("enable");
        if (!enable) fail_usage("pulse: --channel needs --enable on|off");
        req.channel_setup = PulseRequest::ChannelSetup{parse_channel(*v), parse_switch(*enable, "--enable"),
                                                       args.has("down")};
    } else if (args.has("enable") || args.has("down")) {
        fail_usage("pulse: --enable and --down need --channel CH");
    }
    return req;
}

// Refuses what the board's pulse set lacks, naming what it has.
void check_request(const Unit& unit, const BoardRow& row, PulseSet set, const PulseRequest& req) {
    const std::string who = unit_model_text(unit, row);
    if (req.config) check_input(unit, row, req.config->channel, "--config");
    if (req.channel_setup) {
        check_input(unit, row, req.channel_setup->channel, "--channel");
        if (set == PulseSet::basic)
            fail_unit("--channel: " + who + " has the basic pulse set: one counting channel, chosen with --config");
    }
    if (req.alert) {
        check_input(unit, row, req.alert->channel, "--alert");
        if (set != PulseSet::full)
            fail_unit("--alert: " + who + " has no pulse alert (models 1, 2, 4 behind firmware type _L)");
    }
}

// The basic set names its one counting channel; the others keep a setup
// per channel, which GetConfig would reduce to the first counting one.
std::string config_text(const Unit& unit, const BoardRow& row, PulseSet set) {
    const BorrowedUnit board = api(unit);
    int a = 0, b = 0;
    std::string counting;
    if (set == PulseSet::basic) {
        const auto config =
            check(board->pulse_config(), "ZuWexoPulseModeGetConfig", unit, "read the pulse configuration");
        a = config.setting_a;
        b = config.setting_b;
        if (config.channel >= 0) counting = input_name(config.channel) + " " + sense(config.down);
    } else {
        const auto settings = check(board->pulse_settings(), "ZuWexoPulseModeGetConfig2", unit, "read the pulse settings");
        a = settings.setting_a;
        b = settings.setting_b;
        for (int i = 0; i < row.inputs; ++i) {
            const auto setup = check(board->pulse_channel(i), "ZuWexoPulseModeGetConfigChannel", unit,
                                     "read the pulse setup of " + input_name(i));
            if (setup.enabled) counting += (counting.empty() ? "" : " ") + input_name(i) + " " + sense(setup.down);
        }
    }
    return "counting " + (counting.empty() ? std::string("none") : counting) + ", a " + std::to_string(a) + ", b " +
           std::to_string(b);
}

std::string channel_text(const Unit& unit, int channel) {
    const auto setup = check(api(unit)->pulse_channel(channel), "ZuWexoPulseModeGetConfigChannel", unit,
                             "read the pulse setup of " + input_name(channel));
    return setup.enabled ? std::string("counting ") + sense(setup.down) : "not counting";
}

Alert read_alert(const Unit& unit) {
    const auto alert = check(api(unit)->pulse_alert(), "ZuWexoPulseModeGetAlart", unit, "read the pulse alert");
    return {alert.channel, alert.mode, alert.value};
}

std::string alert_text(const Alert& alert) {
    return input_name(alert.channel) + ", mode " + std::to_string(alert.mode) + ", value " + std::to_string(alert.value);
}

bool read_on(const Unit& unit) {
    return check(api(unit)->pulse_mode(), "ZuWexoPulseModeGetState", unit, "read the pulse mode");
}

bool read_continuous(const Unit& unit) {
    return check(api(unit)->continuous_pulse_mode(), "ZuWexoPulseModeContinuesGetState", unit,
                 "read the continuous mode");
}

// Applies the request, configuration first and the on/off switch last, so
// that counting starts with the new setup. Each change is read before and after.
std::vector<Change> apply(const Unit& unit, const BoardRow& row, PulseSet set, const PulseRequest& req) {
    const BorrowedUnit board = api(unit);
    std::vector<Change> changes;
    if (const auto& c = req.config) {
        Change change{"configuration", config_text(unit, row, set), {}};
        check(board->set_pulse_config({c->channel, c->down, c->a, c->b}), "ZuWexoPulseModeSetConfig", unit,
              "set the pulse configuration");
        change.new_text = config_text(unit, row, set);
        changes.push_back(change);
    }
    if (const auto& s = req.channel_setup) {
        Change change{input_name(s->channel), channel_text(unit, s->channel), {}};
        check(board->set_pulse_channel(s->channel, {s->enable, s->down}), "ZuWexoPulseModeSetConfigChannel", unit,
              "set the pulse setup of " + input_name(s->channel));
        change.new_text = channel_text(unit, s->channel);
        changes.push_back(change);
    }
    if (const auto& a = req.alert) {
        Change change{"alert", alert_text(read_alert(unit)), {}};
        check(board->set_pulse_alert({a->channel, a->mode, a->value}), "ZuWexoPulseModeSetAlart", unit,
              "set the pulse alert");
        change.new_text = alert_text(read_alert(unit));
        changes.push_back(change);
    }
    if (req.continuous) {
        Change change{"continuous", on_off(read_continuous(unit)), {}};
        if (change.old_text != on_off(*req.continuous))
            check(board->set_continuous_pulse_mode(*req.continuous),
                  *req.continuous ? "ZuWexoPulseModeContinuesOn" : "ZuWexoPulseModeContinuesOff", unit,
                  "switch the continuous mode");
        change.new_text = on_off(read_continuous(unit));
        changes.push_back(change);
    }
    if (req.on) {
        // On and Off ask for the state first and send nothing when it is already so.
        Change change{"pulse mode", on_off(read_on(unit)), {}};
        check(board->set_pulse_mode(*req.on), *req.on ? "ZuWexoPulseModeOn" : "ZuWexoPulseModeOff", unit,
              "switch the pulse mode");
        change.new_text = on_off(read_on(unit));
        changes.push_back(change);
    }
    return changes;
}

long long read_count2(const Unit& unit, int channel) {
    return check(api(unit)->pulse_count(channel), "ZuWexoPulseModeGetCount2", unit,
                 "read the pulse count of " + input_name(channel));
}

// The basic set counts on one channel only: the one its configuration names.
int counting_channel(const Unit& unit) {
    return check(api(unit)->pulse_config(), "ZuWexoPulseModeGetConfig", unit, "read the pulse configuration").channel;
}

int read_count(const Unit& unit) {
    return check(api(unit)->pulse_count(), "ZuWexoPulseModeGetCount", unit, "read the pulse count");
}

PulseState read_state(const Unit& unit, const BoardRow& row, PulseSet set) {
    PulseState s;
    s.on = read_on(unit);
    s.continuous = read_continuous(unit);
    if (set == PulseSet::basic) {
        const auto config =
            check(api(unit)->pulse_config(), "ZuWexoPulseModeGetConfig", unit, "read the pulse configuration");
        s.setting_a = config.setting_a;
        s.setting_b = config.setting_b;
        for (int i = 0; i < row.inputs; ++i) {
            PulseChannel c;
            c.channel = i;
            c.enabled = i == config.channel;
            if (i == config.channel) {
                c.down = config.down;
                c.count = read_count(unit);
            }
            s.channels.push_back(c);
        }
        return s;
    }
    const auto settings = check(api(unit)->pulse_settings(), "ZuWexoPulseModeGetConfig2", unit, "read the pulse settings");
    s.setting_a = settings.setting_a;
    s.setting_b = settings.setting_b;
    for (int i = 0; i < row.inputs; ++i) {
        const auto setup = check(api(unit)->pulse_channel(i), "ZuWexoPulseModeGetConfigChannel", unit,
                                 "read the pulse setup of " + input_name(i));
        s.channels.push_back({i, setup.enabled, setup.down, read_count2(unit, i)});
    }
    if (set == PulseSet::full) s.alert = read_alert(unit);
    return s;
}

std::string count_text(const std::optional<long long>& count) {
    if (!count) return "-";
    return *count == -1 ? "overflow" : std::to_string(*count);
}

void write_count(Json& j, const std::optional<long long>& count) {
    j.key("count");
    if (count && *count != -1) j.value(*count); else j.null();
}

void print_state(const PulseState& s, PulseSet set, const std::vector<Change>& changes, bool json) {
    if (json) {
        Json j;
        j.begin_object().field("set", pulse_set_name(set)).field("on", s.on).field("continuous", s.continuous);
        j.field("setting_a", s.setting_a).field("setting_b", s.setting_b).key("channels").begin_array();
        for (const auto& c : s.channels) {
            j.begin_object().field("channel", c.channel).field("enabled", c.enabled.value_or(false)).key("down");
            if (c.down) j.value(*c.down); else j.null();
            write_count(j, c.count);
            j.end_object();
        }
        j.end_array().key("alert");
        if (s.alert)
            j.begin_object().field("channel", s.alert->channel).field("mode", s.alert->mode).field("value", s.alert->value).end_object();
        else
            j.null();
        if (!changes.empty()) write_changes(j, changes);
        print_line(j.end_object().text());
        return;
    }
    print_changes(changes);
    std::vector<std::vector<std::string>> rows = {
        {"pulse mode", on_off(s.on)},
        {"continuous", on_off(s.continuous)},
        {"settings", "a " + std::to_string(s.setting_a) + ", b " + std::to_string(s.setting_b) + " (" +
                         pulse_set_name(set) + " pulse set)"}};
    if (s.alert) rows.push_back({"alert", alert_text(*s.alert)});
    print_text(format_table(rows));
    rows = {{"CH", "COUNTING", "SENSE", "COUNT"}};
    for (const auto& c : s.channels)
        rows.push_back({input_name(c.channel), c.enabled.value_or(false) ? "yes" : "no",
                        c.down ? sense(*c.down) : "-", count_text(c.count)});
    print_text(format_table(rows));
}

// pulse UNIT count [CH]: the counts alone, once or watched.
int pulse_count(Context& ctx, const UnitSelector& selector) {
    const Args& args = ctx.args;
    check_arity(args, 1, 2, "pulse count");
    std::optional<int> channel;
    if (args.positional.size() == 2) channel = parse_channel(args.positional[1]);
    for (const char* option : {"on", "off", "continuous", "config", "channel", "enable", "down", "alert"})
        if (args.has(option)) fail_usage("pulse count: --" + std::string(option) + " does not apply");
    const auto watch = read_watch(args, "pulse count");
    const Format format = read_format(ctx, "pulse count");
    const Unit unit = open_unit(ctx, selector, true);
    const BoardRow row = board_row(unit);
    const PulseSet set = pulse_set(unit, row);
    std::vector<int> channels;
    if (channel) check_input(unit, row, *channel, "channel " + std::to_string(*channel));
    if (set == PulseSet::basic) {
        const int counting = counting_channel(unit);
        if (counting < 0)
            fail_unit(unit_model_text(unit, row) + " has no counting channel; choose one with --config");
        if (channel && *channel != counting)
            fail_unit("channel " + std::to_string(*channel) + ": " + unit_model_text(unit, row) +
                      " has the basic pulse set and counts on " + input_name(counting) + " only");
        channels = {counting};
    } else if (channel) {
        channels = {*channel};
    } else {
        for (int i = 0; i < row.inputs; ++i) channels.push_back(i);
    }
    auto read_all = [&] {
        std::vector<std::pair<int, long long>> counts;
        for (int c : channels) counts.emplace_back(c, set == PulseSet::basic ? read_count(unit) : read_count2(unit, c));
        return counts;
    };
    const bool json = format == Format::json;
    auto print = [&](std::optional<long long> t_ms) {
        const auto counts = read_all();
        if (format == Format::csv) {
            // An overflow is an empty field, as a value the unit cannot give.
            std::vector<std::string> fields;
            for (const auto& [c, n] : counts) fields.push_back(n == -1 ? "" : std::to_string(n));
            print_csv_row(t_ms.value_or(0), fields);
        } else if (json) {
            Json j;
            j.begin_object();
            if (t_ms) j.field("t_ms", *t_ms);
            j.key("channels").begin_array();
            for (const auto& [c, n] : counts) {
                j.begin_object().field("channel", c);
                write_count(j, n);
                j.end_object();
            }
            print_line(j.end_array().end_object().text());
        } else if (t_ms) {
            std::string line = "+" + std::to_string(*t_ms) + " ms";
            for (const auto& [c, n] : counts) line += "  " + input_name(c) + " " + count_text(n);
            print_line(line);
        } else {
            std::vector<std::vector<std::string>> rows = {{"CH", "COUNT"}};
            for (const auto& [c, n] : counts) rows.push_back({input_name(c), count_text(n)});
            print_text(format_table(rows));
        }
    };
    if (format == Format::csv) {
        std::vector<std::string> columns;
        for (int c : channels) columns.push_back(input_name(c) + "_count");
        print_csv_header(columns);
    }
    if (watch) run_watch(*watch, unit, [&](long long t_ms) { print(t_ms); });
    else print(std::nullopt);
    return exit_ok;
}

} // namespace

static int cmd_pulse(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    if (!ctx.args.positional.empty() && ctx.args.positional[0] == "count") return pulse_count(ctx, selector);
    if (ctx.args.has("watch") || ctx.args.has("interval") || ctx.args.has("count"))
        fail_usage("pulse: --watch, --interval and --count go with 'pulse UNIT count'");
    if (ctx.args.has("csv")) fail_usage("pulse: --csv goes with 'pulse UNIT count'");
    const PulseRequest req = parse_request(ctx.args);
    const Unit unit = open_unit(ctx, selector, true);
    const BoardRow row = board_row(unit);
    const PulseSet set = pulse_set(unit, row);
    check_request(unit, row, set, req);
    const std::vector<Change> changes = apply(unit, row, set, req);
    print_state(read_state(unit, row, set), set, changes, ctx.globals.json);
    return exit_ok;
}

void register_pulse(Registry& registry) {
    registry.option({"on", nullptr, "switch pulse mode on (after the other settings)"});
    registry.option({"off", nullptr, "switch pulse mode off"});
    registry.option({"continuous", "on|off", "switch the pulse counters' continuous mode"});
    registry.option({"config", nullptr, "CH UP|DOWN A B follow: the counting channel, its sense, settings a (0..3) and b (0, 4..20)"});
    registry.option({"down", nullptr, "with --channel --enable on: count DOWN instead of UP"});
    registry.option({"alert", nullptr, "CH MODE VALUE follow: the pulse alert (mode 0..3, a 32-bit value)"});
    registry.add(
        {"pulse", "UNIT [--on|--off] [--continuous on|off] [--channel CH --enable on|off [--down]]\n"
                  "UNIT --config CH UP|DOWN A B\nUNIT --alert CH MODE VALUE\n"
                  "UNIT count [CH] [--watch [--interval MS] [--count N]] [--csv]",
         "show or set pulse mode and read the pulse counters",
         "Shows pulse mode (on/off), continuous mode, settings a and b, and per digital input whether\n"
         "it counts, its sense (UP/DOWN) and its count; boards with the full pulse set add the pulse\n"
         "alert. --config makes CH the counting channel with its sense and both settings; --channel\n"
         "CH --enable sets one input's counting (not on the basic set, which counts on one channel);\n"
         "--alert sets the pulse alert (full set only: models 1, 2, 4 behind firmware type _L).\n"
         "Settings go in before --on/--off; each change is reported as 'old -> new'. 'count' reads\n"
         "the counts alone; with --watch every --interval ms (default 500), reconnecting to a unit\n"
         "that stops answering; with --csv as a header line and one line per reading (UTC time, ms\n"
         "since the start, one count per input; an overflow is an empty field).",
         {"on", "off", "continuous", "config", "channel", "enable", "down", "alert", "watch", "interval", "count", "csv"},
         true, cmd_pulse});
}

} // namespace wexo::cli
