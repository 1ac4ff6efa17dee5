#include "core/capabilities.hpp"

#include "core/call.hpp"

namespace wexo {

namespace {

constexpr int32_t kNoRow[WEXO_MODEL_COLUMNS] = {};
constexpr int kRowsOnKind3 = 2;  // a column value offered on kind 3 units only
constexpr int kExtendedKind = 3;

// The settings bits follow the columns: disconnection time first.
static_assert(WEXO_SETTING_DISCONNECT_TIME == 1u << 0 &&
              WEXO_SETTING_MAIL_MASKS == 1u << (kColMailLogic - kColDisconnectTime));

// Model 1's outputs and model 2's inputs 5 and 6 are the module's pins.
constexpr int kOutputPinModel = 1;
constexpr int kInputPinModel = 2;

int switching_frames(SwitchVariant v) {
    switch (v) {
        case SwitchVariant::kBinary: return WEXO_SWITCHING_BINARY;
        case SwitchVariant::kAscii: return WEXO_SWITCHING_ASCII;
        default: return WEXO_SWITCHING_NONE;
    }
}

int pulse_frames(PulseVariant v) {
    switch (v) {
        case PulseVariant::kPicBasic: return WEXO_PULSE_BASIC;
        case PulseVariant::kPicFull: return WEXO_PULSE_FULL;
        case PulseVariant::kAscii: return WEXO_PULSE_ASCII;
        default: return WEXO_PULSE_NONE;
    }
}

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

std::optional<Board> Board::known(int model_code, int unit_kind) {
    if (!known_model(model_code)) return std::nullopt;
    return Board(model_code, unit_kind);
}

std::optional<Board> Board::of(int index) {
    const wexo_device& device = record(index);
    auto board = known(device.model_code, device.unit_kind);
    if (!board) set_error(kNotPossible);
    return board;
}

int Board::counters() const {
    switch (pulse()) {
        case PulseVariant::kPicBasic: return 1;
        case PulseVariant::kPicFull:
        case PulseVariant::kAscii: return inputs();
        default: return 0;
    }
}

bool Board::eeprom() const {
    for (int column = kColDisconnectTime; column <= kColMailLogic; ++column) {
        const SettingsVariant v = settings_variant(row_[column], kind_);
        if (v == SettingsVariant::kEepromLayout1 || v == SettingsVariant::kEepromLayout2) return true;
    }
    return analog_inputs() > 0;
}

bool Board::settings() const {
    for (int column = kColDisconnectTime; column <= kColMailLogic; ++column)
        if (settings_variant(row_[column], kind_) != SettingsVariant::kUnavailable) return true;
    return false;
}

bool known_unit_kind(int unit_kind) { return unit_kind == 0 || (unit_kind >= 3 && unit_kind <= 6); }

wexo_unit_capabilities capabilities_of(const Board& board) {
    wexo_unit_capabilities c{};
    c.model = board.model_code();
    c.unit_kind = board.unit_kind();
    c.digital_inputs = board.inputs();
    c.digital_outputs = board.outputs();
    c.analog_inputs = board.analog_inputs();
    c.analog_outputs = board.analog_outputs();
    c.counters = board.counters();
    c.thermocouples = board.thermocouples() ? board.analog_inputs() : 0;
    const std::pair<bool, unsigned> bits[] = {
        {board.outputs() > 0, WEXO_CAN_DIGITAL_OUTPUTS},
        {board.analog_outputs() > 0, WEXO_CAN_ANALOG_OUTPUTS},
        {board.auto_switching() != SwitchVariant::kUnsupported, WEXO_CAN_AUTO_SWITCHING},
        {board.pulse() != PulseVariant::kUnsupported, WEXO_CAN_PULSE},
        {board.settings(), WEXO_CAN_SETTINGS},
        {board.eeprom(), WEXO_CAN_EEPROM},
        {board.thermocouples(), WEXO_CAN_THERMOCOUPLES},
        {board.output_alerts(), WEXO_CAN_OUTPUT_ALERTS},
        {board.firmware_transfer(), WEXO_CAN_FIRMWARE},
        {board.outputs() > 0 && board.outputs_on_pins(), WEXO_CAN_OUTPUTS_ON_PINS},
    };
    for (const auto& [yes, bit] : bits)
        if (yes) c.writable |= bit;
    c.switching_frames = switching_frames(board.auto_switching());
    c.pulse_frames = pulse_frames(board.pulse());
    for (int column = kColDisconnectTime; column <= kColMailLogic; ++column) {
        const unsigned bit = 1u << (column - kColDisconnectTime);
        const SettingsVariant v = board.setting(static_cast<ModelColumn>(column));
        if (v != SettingsVariant::kUnavailable) c.settings |= bit;
        if (v == SettingsVariant::kEepromLayout1 || v == SettingsVariant::kEepromLayout2) c.settings_in_eeprom |= bit;
    }
    return c;
}

}  // namespace wexo

using namespace wexo;

extern "C" WEXO_API int wexo_capabilities(int index, wexo_unit_capabilities* out) {
    return record_call("wexo_capabilities", index, [&] {
        if (!outputs_given(out)) return 0;
        const auto board = Board::of(index);
        if (!board) return 0;
        *out = capabilities_of(*board);
        return result_line("wexo_capabilities:%d:%d", index, out->model);
    });
}

extern "C" WEXO_API int wexo_model_capabilities(int model, int unit_kind, wexo_unit_capabilities* out) {
    return api_call("wexo_model_capabilities", 0, [&] {
        set_error(kOk);
        if (!outputs_given(out) || !offered(model >= 0 && model < WEXO_MODEL_COUNT && known_unit_kind(unit_kind)))
            return 0;
        *out = capabilities_of(Board(model, unit_kind));
        return result_line("wexo_model_capabilities:%d:%d", model, unit_kind);
    });
}
