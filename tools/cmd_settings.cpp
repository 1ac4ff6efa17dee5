// wexo settings: the unit settings the board keeps (in parameter memory or
// EEPROM, as its model says), by name, with their units and ranges.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "board_features.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {


enum class Shape { time, mask, code };

struct Setting {
    const char* name;
    int column;        // bit of WEXO_SETTING_* (0 disconnection time .. 4 mail masks); -1: the analog inputs decide
    Shape shape;
    int min;
    int max;           // masks: also bounded by the number of inputs
    std::optional<::wexo::Setting> which; // none: the analog inputs' sampling rate
    const char* get_call;
    const char* set_call;
};

// The library refuses values out of these spans too; checking here lets the
// refusal name the span before anything is sent.
const std::vector<Setting>& settings_table() {
    static const std::vector<Setting> table = {
        {"disconnection-time", 0, Shape::time, 0, 15, ::wexo::Setting::disconnection_time,
         "ZuWexoGetDisconnectionTime", "ZuWexoSetDisconnectionTime"},
        {"notice-time", 1, Shape::time, 0, 4, ::wexo::Setting::notice_time, "ZuWexoGetNoticeTime",
         "ZuWexoSetNoticeTime"},
        {"resend-wait-time", 2, Shape::time, 1, 15, ::wexo::Setting::resend_wait_time, "ZuWexoGetResendWaitTime",
         "ZuWexoSetResendWaitTime"},
        {"di-detect-time", 3, Shape::time, 4, 20, ::wexo::Setting::di_detect_time, "ZuWexoGetDiDetectTime",
         "ZuWexoSetDiDetectTime"},
        {"mail-logic", 4, Shape::mask, 0, 31, ::wexo::Setting::di_mail_logic, "ZuWexoGetDiMailLogic",
         "ZuWexoSetDiMailLogic"},
        {"mail-enable", 4, Shape::mask, 0, 31, ::wexo::Setting::di_mail_enable, "ZuWexoGetDiMailEnable",
         "ZuWexoSetDiMailEnable"},
        {"sampling-rate", -1, Shape::code, 0, 7, std::nullopt, "ZuWexoGetAnalogInputADCsps",
         "ZuWexoSetAnalogInputADCsps"},
    };
    return table;
}

const Setting* find_setting(const std::string& name) {
    for (const auto& s : settings_table())
        if (name == s.name) return &s;
    return nullptr;
}

std::string names() {
    std::string out;
    for (const auto& s : settings_table()) out += (out.empty() ? "" : ", ") + std::string(s.name);
    return out;
}

static_assert(WEXO_SETTING_DISCONNECT_TIME == 1u << 0 && WEXO_SETTING_MAIL_MASKS == 1u << 4);
unsigned bit_of(const Setting& s) { return 1u << s.column; }

bool available(const Setting& s, const BoardRow& row) {
    return s.column < 0 ? row.analog_inputs > 0 : (row.here.settings & bit_of(s)) != 0;
}

// A mask has one bit per digital input, five at most.
int max_of(const Setting& s, const BoardRow& row) {
    return s.shape == Shape::mask ? std::min(s.max, (1 << std::min(row.inputs, 5)) - 1) : s.max;
}

const char* unit_of(Shape shape) {
    switch (shape) {
    case Shape::time: return "steps";
    case Shape::mask: return "bit i = DIi";
    default: return "code";
    }
}

std::string value_text(const Setting& s, unsigned value) {
    if (s.shape != Shape::mask) return std::to_string(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02x", value);
    return buf;
}

std::string range_text(const Setting& s, const BoardRow& row) {
    return value_text(s, static_cast<unsigned>(s.min)) + ".." + value_text(s, static_cast<unsigned>(max_of(s, row)));
}

std::string where_text(const Setting& s, const BoardRow& row) {
    if (s.column < 0) return "EEPROM";
    return (row.here.settings_in_eeprom & bit_of(s)) != 0 ? "EEPROM" : "parameter memory";
}

unsigned read_setting(const Unit& unit, const Setting& s) {
    const BorrowedUnit board = api(unit);
    const std::string what = "cannot read " + std::string(s.name) + " of " + unit.label;
    if (s.which) return checked(board->setting(*s.which), s.get_call, what);
    return static_cast<unsigned>(checked(board->sampling_rate(), s.get_call, what));
}

struct Reading {
    const Setting* setting;
    unsigned value;
};

std::vector<Reading> read_all(const Unit& unit, const BoardRow& row) {
    std::vector<Reading> out;
    for (const auto& s : settings_table())
        if (available(s, row)) out.push_back({&s, read_setting(unit, s)});
    return out;
}

void print_settings(const std::vector<Reading>& readings, const BoardRow& row, bool json) {
    if (json) {
        Json j;
        j.begin_object().key("settings").begin_array();
        for (const auto& [s, value] : readings)
            j.begin_object().field("name", s->name).field("value", value).field("unit", unit_of(s->shape))
                .field("min", s->min).field("max", max_of(*s, row)).field("stored", where_text(*s, row)).end_object();
        print_line(j.end_array().end_object().text());
        return;
    }
    std::vector<std::vector<std::string>> rows = {{"NAME", "VALUE", "UNIT", "RANGE", "STORED IN"}};
    for (const auto& [s, value] : readings)
        rows.push_back({s->name, value_text(*s, value), unit_of(s->shape), range_text(*s, row), where_text(*s, row)});
    print_text(format_table(rows));
}

std::string why_missing(const Setting& s, const BoardRow& row) {
    if (s.column < 0) return "has no analog inputs";
    if (only_behind_l(row, bit_of(s))) return "keeps its settings only behind a network module of firmware type _L";
    return "does not have it";
}

} // namespace

static int cmd_settings(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    check_arity(ctx.args, 0, 2, "settings");
    const auto& words = ctx.args.positional;
    if (words.size() == 1) fail_usage("settings: NAME needs a VALUE");
    const Setting* setting = nullptr;
    long long value = 0;
    if (words.size() == 2) {
        setting = find_setting(words[0]);
        if (!setting) fail_usage("settings: '" + words[0] + "' is not one of " + names());
        value = parse_number(words[1], setting->name, setting->min, setting->max);
    }
    const Unit unit = open_unit(ctx, selector, true);
    const BoardRow row = board_row(unit);
    const bool json = ctx.globals.json;
    if (!setting) {
        const auto readings = read_all(unit, row);
        if (readings.empty() && only_behind_l(row, bit_of(settings_table().front())))
            fail_unit(unit_model_text(unit, row) + " " + why_missing(settings_table().front(), row));
        if (readings.empty()) fail_unit(unit_model_text(unit, row) + " has none of the settings " + names());
        print_settings(readings, row, json);
        return exit_ok;
    }
    if (!available(*setting, row))
        fail_unit(std::string(setting->name) + ": " + unit_model_text(unit, row) + " " + why_missing(*setting, row));
    if (value > max_of(*setting, row))
        fail_unit(std::string(setting->name) + " " + words[1] + ": " + unit_model_text(unit, row) + " takes " +
                  range_text(*setting, row) + " (" + std::to_string(row.inputs) + " digital inputs)");
    // Some settings share a byte on the board (disconnection and notice
    // time), so every setting is compared before and after.
    const auto before = read_all(unit, row);
    const auto old = std::find_if(before.begin(), before.end(), [&](const Reading& r) { return r.setting == setting; });
    if (old->value != static_cast<unsigned>(value)) {
        const BorrowedUnit board = api(unit);
        const int v = static_cast<int>(value);
        checked(setting->which ? board->set_setting(*setting->which, v) : board->set_sampling_rate(v), setting->set_call,
                "cannot set " + std::string(setting->name) + " of " + unit.label);
    }
    const auto after = read_all(unit, row);
    // The setting asked for first, then what changed with it.
    std::vector<Change> changes;
    for (const bool asked : {true, false})
        for (std::size_t i = 0; i < after.size(); ++i)
            if ((after[i].setting == setting) == asked && (asked || after[i].value != before[i].value))
                changes.push_back({after[i].setting->name, value_text(*after[i].setting, before[i].value),
                                   value_text(*after[i].setting, after[i].value)});
    if (json) {
        Json j;
        j.begin_object();
        write_changes(j, changes);
        print_line(j.end_object().text());
    } else {
        print_changes(changes);
    }
    return exit_ok;
}

void register_settings(Registry& registry) {
    registry.add(
        {"settings", "UNIT [NAME VALUE]", "show or set the unit settings the board keeps",
         "Without NAME, shows every setting the unit's model has: disconnection-time, notice-time,\n"
         "resend-wait-time, di-detect-time (in the board's time steps), mail-logic, mail-enable\n"
         "(masks, bit i = input DIi) and sampling-rate (code, analog input boards), with value,\n"
         "range and where the board keeps it. NAME VALUE sets one and reports every setting that\n"
         "changed as 'old -> new' (disconnection and notice time share one byte on the board).",
         {}, true, cmd_settings});
}

} // namespace wexo::cli
