#include "board_features.hpp"

#include "unit_record.hpp"

namespace wexo::cli {

namespace {

constexpr int kind_full_access = 3; // network firmware type "_L"

} // namespace

BoardRow board_row(const Unit& unit) {
    BoardRow row;
    row.model = unit_model(unit);
    if (wexo_capabilities(unit.index, &row.here) != 1 ||
        wexo_model_capabilities(row.model, kind_full_access, &row.full_l) != 1)
        fail_unit(unit.label + ": model " + model_text(row.model) + " is not in the model table");
    row.inputs = row.here.digital_inputs;
    row.analog_inputs = row.here.analog_inputs;
    return row;
}

bool only_behind_l(const BoardRow& row, unsigned setting_bit) {
    return (row.here.settings & setting_bit) == 0 && (row.full_l.settings & setting_bit) != 0;
}

std::string unit_model_text(const Unit& unit, const BoardRow& row) {
    return unit.label + " (model " + std::to_string(row.model) + ")";
}

PulseSet pulse_set(const Unit& unit, const BoardRow& row) {
    if (row.here.pulse_frames == WEXO_PULSE_NONE && row.full_l.pulse_frames != WEXO_PULSE_NONE)
        fail_unit(unit_model_text(unit, row) +
                  " counts pulses only behind a network module of firmware type _L, and this one is not");
    switch (row.here.pulse_frames) {
    case WEXO_PULSE_BASIC: return PulseSet::basic;
    case WEXO_PULSE_FULL: return PulseSet::full;
    case WEXO_PULSE_ASCII: return PulseSet::ascii;
    default:
        fail_unit(unit_model_text(unit, row) +
                  " has no pulse mode (models 0, 5, 6, 17, 21, 22, 25, 26; 1, 2, 4 behind firmware type _L)");
    }
}

const char* pulse_set_name(PulseSet set) {
    switch (set) {
    case PulseSet::basic: return "basic";
    case PulseSet::full: return "full";
    default: return "ascii";
    }
}

void require_eeprom(const Unit& unit, const BoardRow& row) {
    if ((row.here.writable & WEXO_CAN_EEPROM) == 0)
        fail_unit(unit_model_text(unit, row) + " has no EEPROM (models 17, 21, 22, 25, 26, 40 to 44)");
}

std::string input_name(int channel) { return "DI" + std::to_string(channel); }

void check_input(const Unit& unit, const BoardRow& row, int channel, const std::string& what) {
    if (channel < row.inputs) return;
    fail_unit(what + ": " + unit_model_text(unit, row) +
              (row.inputs == 0 ? std::string(" has no digital inputs")
                               : " has digital inputs 0.." + std::to_string(row.inputs - 1)));
}

std::string change_line(const Change& change) {
    if (change.old_text == change.new_text) return change.name + ": " + change.new_text + " (unchanged)";
    return change.name + ": " + change.old_text + " -> " + change.new_text;
}

void print_changes(const std::vector<Change>& changes) {
    for (const auto& change : changes) print_line(change_line(change));
}

void write_changes(Json& json, const std::vector<Change>& changes) {
    json.key("changes").begin_array();
    for (const auto& c : changes)
        json.begin_object().field("name", c.name).field("old", c.old_text).field("new", c.new_text).end_object();
    json.end_array();
}

} // namespace wexo::cli
