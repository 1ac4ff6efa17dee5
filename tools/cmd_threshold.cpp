// wexo threshold: the two thresholds of an analog channel, their switch,
// and the mail condition of an analog input.
#include <optional>
#include <vector>

#include "analog_channels.hpp"
#include "output.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

constexpr long long threshold_min = -32768;
constexpr long long threshold_max = 32767;

struct Thresholds {
    int channel = 0;
    int enabled = 0;
    int first = 0;
    int second = 0;
    std::optional<int> mail; // analog inputs only
};

Thresholds read_thresholds(const Unit& unit, const AnalogChannels& channels, int channel) {
    const std::string what = "cannot read the thresholds of " + channels.name(channel) + " of " + unit.label;
    Thresholds t;
    t.channel = channel;
    const BorrowedUnit board = api(unit);
    const auto now = checked(board->thresholds(channel), "ZuWexoGetAnalogThresholds", what);
    t.enabled = now.enabled ? 1 : 0;
    t.first = now.first;
    t.second = now.second;
    if (channels.inputs) t.mail = checked(board->mail_condition(channel), "ZuWexoGetAiMailCondition", what);
    return t;
}

void print_thresholds(const AnalogChannels& channels, const std::vector<Thresholds>& list, bool json) {
    if (json) {
        Json j;
        j.begin_object().field("analog", channels.inputs ? "inputs" : "outputs").key("channels").begin_array();
        for (const auto& t : list) {
            j.begin_object().field("channel", t.channel).field("enabled", t.enabled != 0);
            j.field("threshold1", t.first).field("threshold2", t.second).key("mail_condition");
            if (t.mail) j.value(*t.mail); else j.null();
            j.end_object();
        }
        print_line(j.end_array().end_object().text());
        return;
    }
    std::vector<std::vector<std::string>> rows = {{"CH", "ENABLED", "THRESHOLD 1", "THRESHOLD 2", "MAIL"}};
    for (const auto& t : list)
        rows.push_back({channels.name(t.channel), t.enabled ? "on" : "off", std::to_string(t.first),
                        std::to_string(t.second), t.mail ? std::to_string(*t.mail) : "-"});
    print_text(format_table(rows));
}

} // namespace

static int cmd_threshold(Context& ctx) {
    const Args& args = ctx.args;
    const UnitSelector selector = take_unit(ctx);
    const auto channel = optional_channel(args, "threshold", {"enable", "t1", "t2", "mail"});
    std::optional<bool> enable;
    std::optional<int> first, second;
    std::optional<unsigned> mail;
    if (const auto* v = args.value("enable")) enable = parse_switch(*v, "--enable");
    if (const auto* v = args.value("t1")) first = static_cast<int>(parse_number(*v, "--t1", threshold_min, threshold_max));
    if (const auto* v = args.value("t2")) second = static_cast<int>(parse_number(*v, "--t2", threshold_min, threshold_max));
    if (const auto* v = args.value("mail")) mail = static_cast<unsigned>(parse_number(*v, "--mail", 0, 2));

    const Unit unit = open_unit(ctx, selector, true);
    const AnalogChannels channels = threshold_channels(unit);
    const auto selected = selected_channels(unit, channels, channel);
    if (mail && !channels.inputs)
        fail_unit("--mail: " + unit.label + " (model " + std::to_string(channels.model) +
                  ") has no analog inputs; mail conditions belong to analog inputs");
    const std::string where = channel ? " of " + channels.name(*channel) + " of " + unit.label : std::string();
    if (enable || first || second) {
        // What is not given stays as the unit has it.
        const Thresholds now = read_thresholds(unit, channels, *channel);
        const ::wexo::Thresholds wanted{enable.value_or(now.enabled != 0), first.value_or(now.first),
                                        second.value_or(now.second)};
        checked(api(unit)->set_thresholds(*channel, wanted), "ZuWexoSetAnalogThresholds",
                "cannot set the thresholds" + where);
    }
    if (mail)
        checked(api(unit)->set_mail_condition(*channel, static_cast<int>(*mail)), "ZuWexoSetAiMailCondition",
                "cannot set the mail condition" + where);
    std::vector<Thresholds> list;
    for (int c : selected) list.push_back(read_thresholds(unit, channels, c));
    print_thresholds(channels, list, ctx.globals.json);
    return exit_ok;
}

void register_threshold(Registry& registry) {
    registry.option({"t1", "N", "threshold 1 in counts, -32768..32767"});
    registry.option({"t2", "N", "threshold 2 in counts, -32768..32767"});
    registry.option({"mail", "C", "mail condition code 0..2 (analog inputs only)"});
    registry.add(
        {"threshold", "UNIT [CH] [--enable on|off] [--t1 N] [--t2 N] [--mail C]",
         "show or set analog thresholds and mail conditions",
         "Shows the thresholds of all analog channels (or channel CH): on or off, threshold 1 and\n"
         "threshold 2 in raw counts (-32768..32767), and the mail condition code (0..2). The\n"
         "channels are the analog inputs, or on models without inputs (41, 43) the analog outputs,\n"
         "which have no mail condition. --enable, --t1 and --t2 change channel CH (what is not\n"
         "given stays), --mail C its mail condition.",
         {"enable", "t1", "t2", "mail"}, true, cmd_threshold});
}

} // namespace wexo::cli
