// What a unit's board offers and which command variant each family of
// operations uses. All model knowledge of the library is here: the model
// table's counts and variant columns (with the rule that a column value of 2
// is offered on units of kind 3 only), and the few model codes that are
// tested by value. No other code reads MODEL_spec.
#pragma once

#include <cstdint>
#include <optional>

#include "core/state.hpp"

namespace wexo {

// How the digital inputs are read.
enum class InputVariant {
    kAsciiDI,        // "DI" on the boards that identify by "MI"
    kQueryEC,        // one-byte query 0xEC: model 2 on kind 3 firmware
    kPinsAndStatus,  // model 2 otherwise: status exchange plus CP1, CP2
    kStatus,         // status exchange 0x55 0x55
};

// How the digital outputs are driven and read back.
enum class OutputVariant {
    kAsciiMasked,  // kinds 4 and 5: "DK" changes one output, "DY" then "DO" all
    kAscii,        // kind 6: "DY" then "DO", also for one output
    kPins,         // model 1 outside kind 3: the outputs are CP1..CP3
    kBinary,       // 0xE0 then 0xF0
};

// Frames of auto switching (column 2).
enum class SwitchVariant { kUnsupported, kBinary, kAscii };
// Frames of pulse mode and counters (column 3).
enum class PulseVariant { kUnsupported, kPicBasic, kPicFull, kAscii };
// Path of one unit setting (columns 4 to 8).
enum class SettingsVariant { kUnavailable, kPicParameter, kEepromLayout1, kEepromLayout2 };

InputVariant input_variant(int unit_kind, int model_code);
OutputVariant output_variant(int unit_kind, int model_code);
SwitchVariant switch_variant(int column_value, int unit_kind);
PulseVariant pulse_variant(int column_value, int unit_kind);
SettingsVariant settings_variant(int column_value, int unit_kind);

class Board {
public:
    // The board of record index, or nullopt with code 6 when its model code
    // has no row of the table (unknown, or outside 0..47).
    static std::optional<Board> of(int index);
    // The board of a model code and unit kind, or nullopt (no code set) when
    // the code has no row of the table.
    static std::optional<Board> known(int model_code, int unit_kind);
    // Codes without a row read as an all-zero row: a board offering nothing.
    Board(int model_code, int unit_kind);

    int outputs() const { return row_[kColOutputs]; }
    int inputs() const { return row_[kColInputs]; }
    int analog_outputs() const { return row_[kColAnalogOutputs]; }
    int analog_inputs() const { return row_[kColAnalogInputs]; }

    InputVariant inputs_variant() const { return input_variant(kind_, model_); }
    OutputVariant outputs_variant() const { return output_variant(kind_, model_); }
    SwitchVariant auto_switching() const { return switch_variant(row_[kColAutoSwitch], kind_); }
    PulseVariant pulse() const { return pulse_variant(row_[kColPulse], kind_); }
    // column: kColDisconnectTime .. kColMailLogic.
    SettingsVariant setting(ModelColumn column) const {
        return settings_variant(row_[column], kind_);
    }

    // Model 1 drives its outputs through the module's pins unless kind 3.
    bool outputs_on_pins() const { return outputs_variant() == OutputVariant::kPins; }
    // Thermocouples need analog inputs; model 40 has none that take them.
    bool thermocouples() const { return analog_inputs() != 0 && model_ != kNoThermocoupleModel; }
    // Analog input range 6 is refused on the same model.
    bool analog_range6() const { return model_ != kNoThermocoupleModel; }
    // Output alerts exist on model 42 only.
    bool output_alerts() const { return model_ == kOutputAlertModel; }
    // The board's firmware loader answers on models 0 and 3 to 6 only.
    bool firmware_transfer() const { return model_ == 0 || (model_ >= 3 && model_ <= 6); }
    // Pulse counters: the basic frames read the counting channel only, the
    // full and ASCII frames every input's own counter.
    int counters() const;
    // Boards that keep their settings in EEPROM, and the analog input boards.
    bool eeprom() const;
    // Any of the five unit settings.
    bool settings() const;

    int model_code() const { return model_; }
    int unit_kind() const { return kind_; }

private:
    static constexpr int kNoThermocoupleModel = 40;
    static constexpr int kOutputAlertModel = 42;

    const int32_t* row_;
    int model_;
    int kind_;
};

// The exported answer (wexo_capabilities): every count and write a board offers.
wexo_unit_capabilities capabilities_of(const Board& board);
// The unit kinds a record may hold.
bool known_unit_kind(int unit_kind);

// true when offered; otherwise false with code 6, the refusal of every
// operation a unit does not offer.
inline bool offered(bool yes) {
    if (!yes) set_error(kNotPossible);
    return yes;
}

}  // namespace wexo
