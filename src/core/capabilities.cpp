#include "core/capabilities.hpp"

namespace wexo {

namespace {

constexpr int32_t kNoRow[WEXO_MODEL_COLUMNS] = {};
constexpr int kRowsOnKind3 = 2;  // a column value offered on kind 3 units only
constexpr int kExtendedKind = 3;

// Model 1's outputs and model 2's inputs 5 and 6 are the module's pins.
constexpr int kOutputPinModel = 1;
constexpr int kInputPinModel = 2;

bool known_model(int model_code) { return model_code >= 0 && model_code < WEXO_MODEL_COUNT; }

// A column value with the kind-3 rule applied: 2 on another kind is 0.
int effective(int column_value, int unit_kind) {
    return column_value == kRowsOnKind3 && unit_kind != kExtendedKind ? 0 : column_value;
}

}  // namespace

InputVariant input_variant(int unit_kind, int model_code) {
    if (unit_kind == 4 || unit_kind == 5 || unit_kind == 6) return InputVariant::kAsciiDI;
    if (model_code == kInputPinModel) {
        return unit_kind == kExtendedKind ? InputVariant::kQueryEC : InputVariant::kPinsAndStatus;
    }
    return InputVariant::kStatus;
}

OutputVariant output_variant(int unit_kind, int model_code) {
    if (unit_kind == 4 || unit_kind == 5) return OutputVariant::kAsciiMasked;
    if (unit_kind == 6) return OutputVariant::kAscii;
    if (model_code == kOutputPinModel && unit_kind != kExtendedKind) return OutputVariant::kPins;
    return OutputVariant::kBinary;
}

SwitchVariant switch_variant(int column_value, int unit_kind) {
    switch (effective(column_value, unit_kind)) {
        case 1:
        case 2: return SwitchVariant::kBinary;
        case 3: return SwitchVariant::kAscii;
        default: return SwitchVariant::kUnsupported;
    }
}

PulseVariant pulse_variant(int column_value, int unit_kind) {
    switch (effective(column_value, unit_kind)) {
        case 1: return PulseVariant::kPicBasic;
        case 2: return PulseVariant::kPicFull;
        case 3: return PulseVariant::kAscii;
        default: return PulseVariant::kUnsupported;
    }
}

SettingsVariant settings_variant(int column_value, int unit_kind) {
    switch (effective(column_value, unit_kind)) {
        case 1:
        case 2: return SettingsVariant::kPicParameter;
        case 3: return SettingsVariant::kEepromLayout1;
        case 4: return SettingsVariant::kEepromLayout2;
        default: return SettingsVariant::kUnavailable;
    }
}

Board::Board(int model_code, int unit_kind)
    : row_(known_model(model_code) ? MODEL_spec[model_code] : kNoRow),
      model_(model_code),
      kind_(unit_kind) {}

std::optional<Board> Board::of(int index) {
    const wexo_device& device = record(index);
    if (!known_model(device.model_code)) {
        set_error(kNotPossible);
        return std::nullopt;
    }
    return Board(device.model_code, device.unit_kind);
}

}  // namespace wexo
