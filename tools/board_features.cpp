#include "board_features.hpp"

#include "unit_record.hpp"
#include "wexo.h"
// The model table and the record's unit kind are only exported as data.
#include "wexo_data.h"

namespace wexo::cli {

namespace {

constexpr int kind_full_access = 3; // network firmware type "_L"

} // namespace

BoardRow board_row(const Unit& unit) {
    BoardRow row;
    row.model = unit_model(unit);
    if (row.model < 0 || row.model >= WEXO_MODEL_COUNT)
        fail_unit(unit.label + ": model " + model_text(row.model) + " is not in the model table");
    const int32_t* columns = MODEL_spec[row.model];
    row.inputs = columns[1];
    row.pulse = columns[3];
    for (int i = 0; i < 5; ++i) row.settings[i] = columns[4 + i];
    row.analog_inputs = columns[10];
    row.unit_kind = xportset[unit.index].unit_kind;
    return row;
}

bool variant_usable(const BoardRow& row, int variant) {
    return variant == 1 || variant == 3 || variant == 4 || (variant == 2 && row.unit_kind == kind_full_access);
}

std::string unit_model_text(const Unit& unit, const BoardRow& row) {
    return unit.label + " (model " + std::to_string(row.model) + ")";
}

PulseSet pulse_set(const Unit& unit, const BoardRow& row) {
    if (row.pulse == 2 && !variant_usable(row, 2))
        fail_unit(unit_model_text(unit, row) +
                  " counts pulses only behind a network module of firmware type _L, and this one is not");
    switch (row.pulse) {
    case 1: return PulseSet::basic;
    case 2: return PulseSet::full;
    case 3: return PulseSet::ascii;
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
    // The boards that keep settings in EEPROM, and the analog input boards.
    bool eeprom = row.analog_inputs > 0;
    for (int variant : row.settings) eeprom = eeprom || variant == 3 || variant == 4;
    if (!eeprom)
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
