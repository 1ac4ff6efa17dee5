#include "dio/digital_input.hpp"

#include "core/state.hpp"
#include "dio/unit_call.hpp"
#include "net/command_channel.hpp"
#include "net/identification.hpp"
#include "xport/configurable_pins.hpp"

namespace wexo::dio {

namespace {

// Model 2 has seven inputs: five on the board, the last two are the
// module's pins CP1 and CP2.
constexpr int kPinModel = 2;
constexpr int kBoardInputs = 5;
constexpr int kPinModelInputs = 7;
// Kind 3 firmware of model 2 reads all seven itself through 0xEC.
constexpr uint8_t kQueryInputs = 0xEC;
constexpr uint8_t kStatusRequest[] = {0x55, 0x55};

// One-byte query 0xEC: inputs 0 to 6 in bits 0 to 6 of reply byte 1 (bit 7
// is no input). Not drained and without error lines.
int query_ec(int index, Values& values) {
    const uint8_t request[] = {kQueryInputs};
    uint8_t reply[2] = {};
    if (!binary_exchange(index, request, reply, nullptr, Drain::kNo)) return 0;
    for (int i = 0; i < kPinModelInputs; ++i) values[i] = (reply[1] >> i) & 1;
    return 1;
}

// Model 2 without kind 3 firmware: the pins first, then the board's five.
int read_pins_and_status(int index, Values& values) {
    int cp1 = 0;
    int cp2 = 0;
    int cp3 = 0;
    if (!getcp(index, &cp1, &cp2, &cp3) || !get_di_55(index, values)) return 0;
    values[5] = cp1;
    values[6] = cp2;  // CP3 is no input of this model
    return 1;
}

}  // namespace

InputVariant input_variant(int unit_kind, int model_code) {
    if (unit_kind == 4 || unit_kind == 5 || unit_kind == 6) return InputVariant::kAsciiDI;
    if (model_code == kPinModel) {
        return unit_kind == 3 ? InputVariant::kQueryEC : InputVariant::kPinsAndStatus;
    }
    return InputVariant::kStatus;
}

StatusReply decode_status(uint8_t byte0, uint8_t byte1) {
    StatusReply status;
    status.board_id = static_cast<uint8_t>(~byte0 & 0x0F);
    // The model is told as in identification; so is the board ID.
    status.model = binary_model_code(byte0, byte1);
    if (binary_reply_extended(byte1)) {
        // Extended reply of models 7 to 10: two inputs.
        status.inputs[0] = byte1 & 1;
        status.inputs[1] = (byte1 >> 1) & 1;
    } else {
        status.inputs[0] = (byte0 >> 7) & 1;
        for (int i = 1; i < kBoardInputs; ++i) status.inputs[i] = (byte1 >> (i - 1)) & 1;
    }
    return status;
}

int get_di_55(int index, Values& values) {
    uint8_t reply[2] = {};
    if (!binary_exchange(index, kStatusRequest, reply, "get_di_55", Drain::kYes)) return 0;
    output_log(kLogTrace, "get_di_55 %02x%02x -> %d -> %02x%02x", kStatusRequest[0],
               kStatusRequest[1], index, reply[0], reply[1]);

    const StatusReply status = decode_status(reply[0], reply[1]);
    wexo_device& device = record(index);
    // The ID is refreshed even when the model check then fails.
    device.board_id = status.board_id;
    for (int i = 0; i < kBoardInputs; ++i) values[i] = status.inputs[i];
    if (status.model != device.model_code) {
        set_error(kBadReply);
        output_log(kLogError, "get_di_55 model compair error.");
        return 0;
    }
    return 1;
}

int get_di_DI(int index, Values& values) {
    const Frame request = Frame::ascii('D', 'I').terminate();
    uint8_t reply[kMaxAsciiReply] = {};
    const int length =
        ascii_exchange(index, request.bytes(), reply, kMaxAsciiReply, "get_di_DI", Drain::kYes);
    if (length == 0) return 0;

    const int inputs = MODEL_spec[record(index).model_code][kColInputs];
    const uint32_t bits = group_bits(reply, length);
    for (int i = 0; i < inputs && i < kMaxChannels; ++i) values[i] = group_value(bits, i);
    output_log(kLogTrace, "get_di_DI %02x%02x%02x%02x%02x", reply[0], reply[1], reply[2],
               reply[3], reply[4]);
    return 1;
}

int read_inputs(int index, Values& values) {
    const wexo_device& device = record(index);
    switch (input_variant(device.unit_kind, device.model_code)) {
        case InputVariant::kAsciiDI: return get_di_DI(index, values);
        case InputVariant::kStatus: return get_di_55(index, values);
        case InputVariant::kPinsAndStatus: return read_pins_and_status(index, values);
        case InputVariant::kQueryEC: return query_ec(index, values);
    }
    return 0;
}

int read_input(int index, int channel, int32_t& value) {
    const int32_t* row = model_row(index);
    if (row == nullptr) return 0;
    if (channel < 0 || channel >= row[kColInputs] || channel >= kMaxChannels) {
        set_error(kNotPossible);
        return 0;
    }
    Values values{};
    if (!read_inputs(index, values)) return 0;
    value = values[channel];
    return 1;
}

int read_all_inputs(int index, uint32_t& bits) {
    const int32_t* row = model_row(index);
    if (row == nullptr) return 0;
    if (row[kColInputs] == 0) {
        set_error(kNotPossible);
        return 0;
    }
    bits = 0;
    Values values{};
    if (!read_inputs(index, values)) return 0;
    bits = values_to_bits(values, row[kColInputs]);
    return 1;
}

}  // namespace wexo::dio

using namespace wexo;

extern "C" int ZuWexoInPio(int index, int channel, int* value) {
    return dio::unit_call("ZuWexoInPio", index, [&] {
        int32_t result = 0;
        if (!dio::have_output(value) || !dio::read_input(index, channel, result)) return 0;
        *value = result;
        output_log(kLogResult, "ZuWexoInPio:%d:%d:%d", index, channel, result);
        return 1;
    });
}

extern "C" int ZuWexoInPioAll(int index, unsigned int* bits) {
    return dio::unit_call("ZuWexoInPioAll", index, [&] {
        if (!dio::have_output(bits) || !dio::read_all_inputs(index, *bits)) return 0;
        output_log(kLogResult, "ZuWexoInPioAll:%d:%d", index, static_cast<int>(*bits));
        return 1;
    });
}
