// What a unit's board offers beyond plain I/O: pulse counting, named
// settings and the EEPROM, from the library's capability query, so that a
// refusal can say what the model allows before anything is sent.
#pragma once

#include <string>
#include <vector>

#include "output.hpp"
#include "wexo.h"
#include "unit_select.hpp"

namespace wexo::cli {

struct BoardRow {
    int model = -1;
    int inputs = 0;
    int analog_inputs = 0;
    wexo_unit_capabilities here{};    // on the unit's own kind
    wexo_unit_capabilities full_l{};  // the same model behind firmware type _L (kind 3)
};

// What the connected unit's model offers; fails when the model is unknown.
BoardRow board_row(const Unit& unit);

// Settings bit (WEXO_SETTING_*) that the board lacks here but has behind
// firmware type _L.
bool only_behind_l(const BoardRow& row, unsigned setting_bit);

enum class PulseSet { basic, full, ascii };
// The pulse frames the board answers; refuses a board without pulse mode,
// naming the models that have it.
PulseSet pulse_set(const Unit& unit, const BoardRow& row);
const char* pulse_set_name(PulseSet set);

// Refuses a unit whose model has no EEPROM.
void require_eeprom(const Unit& unit, const BoardRow& row);

// "DI0".."DIn"; fails naming the inputs the model has.
std::string input_name(int channel);
void check_input(const Unit& unit, const BoardRow& row, int channel, const std::string& what);

// "unit 10.200.0.2 (model 17)".
std::string unit_model_text(const Unit& unit, const BoardRow& row);

// A stored value that a command changed, for the "old -> new" report.
struct Change {
    std::string name;
    std::string old_text;
    std::string new_text;
};
// "NAME: OLD -> NEW", or "NAME: VALUE (unchanged)".
std::string change_line(const Change& change);
void print_changes(const std::vector<Change>& changes);
// "changes": [{"name":..,"old":..,"new":..}, ...]
void write_changes(Json& json, const std::vector<Change>& changes);

} // namespace wexo::cli
