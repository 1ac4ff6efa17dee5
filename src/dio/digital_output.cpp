#include "dio/digital_output.hpp"

#include "core/state.hpp"
#include "dio/unit_call.hpp"
#include "net/command_channel.hpp"
#include "xport/configurable_pins.hpp"

namespace wexo::dio {

namespace {

constexpr uint8_t kReadBinary = 0xE0;
constexpr uint8_t kWriteBinary = 0xF0;
// The binary pair carries outputs 0 to 4 only.
constexpr int kBinaryOutputs = 5;
// Model 1's outputs are the module's three pins.
constexpr int kPinModel = 1;
constexpr int kPins = 3;
constexpr int kPinOutputMode[kPins] = {5, 7, 9};

int output_count(int index) { return MODEL_spec[record(index).model_code][kColOutputs]; }

// Reads every output by the variant into values.
int read_outputs(int index, OutputVariant variant, Values& values) {
    switch (variant) {
        case OutputVariant::kAsciiMasked:
        case OutputVariant::kAscii: return get_do_DY(index, values);
        case OutputVariant::kPins: return getcp(index, &values[0], &values[1], &values[2]);
        case OutputVariant::kBinary: return get_do_E0(index, values);
    }
    return 0;
}

// Writes every output by the variant from values.
int write_outputs(int index, OutputVariant variant, const Values& values) {
    switch (variant) {
        case OutputVariant::kAsciiMasked:
        case OutputVariant::kAscii: return set_do_DO(index, values);
        case OutputVariant::kPins: return setcp(index, values[0], values[1], values[2]);
        case OutputVariant::kBinary: return set_do_F0(index, values);
    }
    return 0;
}

// The unit's output count, or 0 with code 6 when a single-output call names
// no output of the model or a whole-board call finds none.
int checked_outputs(int index, int channel, bool single) {
    const int32_t* row = model_row(index);
    if (row == nullptr) return 0;
    const int outputs = row[kColOutputs];
    const bool refused = single ? (channel < 0 || channel >= outputs || channel >= kMaxChannels)
                                : outputs == 0;
    if (refused) {
        set_error(kNotPossible);
        return 0;
    }
    return outputs;
}

}  // namespace

OutputVariant output_variant(int unit_kind, int model_code) {
    if (unit_kind == 4 || unit_kind == 5) return OutputVariant::kAsciiMasked;
    if (unit_kind == 6) return OutputVariant::kAscii;
    if (model_code == kPinModel && unit_kind != 3) return OutputVariant::kPins;
    return OutputVariant::kBinary;
}

Frame f0_request(const Values& values) {
    return Frame{kWriteBinary, static_cast<uint8_t>(values_to_bits(values, kBinaryOutputs))};
}

Frame do_request(int outputs, const Values& values) {
    Frame frame = Frame::ascii('D', 'O');
    return push_groups(frame, values_to_bits(values, outputs), group_count(outputs)).terminate();
}

Frame dk_request(int outputs, int channel, bool on) {
    const uint32_t mask = channel >= 0 && channel < 32 ? 1u << channel : 0;
    const uint32_t state = on ? mask : 0;
    Frame frame = Frame::ascii('D', 'K');
    for (int k = 0; k < group_count(outputs); ++k) {
        frame.push_small(group_nibble(state, k)).push_small(group_nibble(mask, k));
    }
    return frame.terminate();
}

bool pin_is_output(const wexo_device& device, int channel) {
    return channel >= 0 && channel < kPins && device.cp_mode[channel] == kPinOutputMode[channel];
}

int get_do_E0(int index, Values& values) {
    const uint8_t request[] = {kReadBinary};
    uint8_t reply[2] = {};
    if (!binary_exchange(index, request, reply, "getpio_55", Drain::kYes)) return 0;
    output_log(kLogTrace, "getpio_55 %02x -> %d -> %02x%02x", request[0], index, reply[0],
               reply[1]);
    if (reply[0] != kReadBinary) {
        for (int k = 0; k < kBinaryOutputs; ++k) values[k] = 0;
        set_error(kBadReply);
        output_log(kLogError, "getpio_55 chk error.");
        return 0;
    }
    for (int k = 0; k < kBinaryOutputs; ++k) values[k] = (reply[1] >> k) & 1;
    return 1;
}

int set_do_F0(int index, const Values& values) {
    const Frame request = f0_request(values);
    uint8_t reply[2] = {};
    if (!binary_exchange(index, request.bytes(), reply, "set_do_F0", Drain::kYes)) return 0;
    output_log(kLogTrace, "set_do_F0 %02x%02x -> %d -> %02x%02x", request[0], request[1], index,
               reply[0], reply[1]);
    if (reply[0] != request[0] || reply[1] != request[1]) {
        set_error(kBadReply);
        output_log(kLogError, "set_do_F0 chk error.");
        return 0;
    }
    return 1;
}

int get_do_DY(int index, Values& values) {
    const Frame request = Frame::ascii('D', 'Y').terminate();
    uint8_t reply[kMaxAsciiReply] = {};
    const int length =
        ascii_exchange(index, request.bytes(), reply, kMaxAsciiReply, "get_do_DY", Drain::kYes);
    if (length == 0) return 0;
    output_log(kLogTrace, "get_do_DY %d -> %02x%02x%02x%02x%02x", index, reply[0], reply[1],
               reply[2], reply[3], reply[4]);
    const uint32_t bits = group_bits(reply, length);
    const int outputs = output_count(index);
    for (int i = 0; i < outputs && i < kMaxChannels; ++i) values[i] = group_value(bits, i);
    return 1;
}

int set_do_DO(int index, const Values& values) {
    const Frame request = do_request(output_count(index), values);
    uint8_t reply[kMaxAsciiReply] = {};
    if (ascii_exchange(index, request.bytes(), reply, kMaxAsciiReply, "set_do_DO", Drain::kYes) ==
        0) {
        return 0;
    }
    output_log(kLogTrace, "set_do_DO %02x%02x -> %d", reply[2], reply[3], index);
    return 1;
}

int set_do_DK(int index, int channel, int value) {
    const Frame request = dk_request(output_count(index), channel, value != 0);
    uint8_t reply[kMaxAsciiReply] = {};
    if (ascii_exchange(index, request.bytes(), reply, kMaxAsciiReply, "set_do_DK", Drain::kYes) ==
        0) {
        return 0;
    }
    output_log(kLogTrace, "set_do_DK %02x%02x%02x%02x -> %d", reply[2], reply[3], reply[4],
               reply[5], index);
    return 1;
}

int write_output(int index, int channel, int value) {
    if (checked_outputs(index, channel, true) == 0) return 0;
    const wexo_device& device = record(index);
    const OutputVariant variant = output_variant(device.unit_kind, device.model_code);
    if (variant == OutputVariant::kAsciiMasked) return set_do_DK(index, channel, value);
    if (variant == OutputVariant::kPins && !pin_is_output(device, channel)) {
        set_error(kNotPossible);
        return 0;
    }
    // Read back, change one, write all: the other outputs keep their state.
    Values values{};
    if (!read_outputs(index, variant, values)) return 0;
    values[channel] = value;
    return write_outputs(index, variant, values);
}

int write_all_outputs(int index, uint32_t bits) {
    const int outputs = checked_outputs(index, -1, false);
    if (outputs == 0) return 0;
    const wexo_device& device = record(index);
    const OutputVariant variant = output_variant(device.unit_kind, device.model_code);
    // The read-back keeps whatever the write does not cover (binary outputs
    // above the model's count); a failed read-back sends nothing.
    Values values{};
    if (!read_outputs(index, variant, values)) return 0;
    for (int i = 0; i < outputs && i < kMaxChannels; ++i) {
        values[i] = static_cast<int32_t>(bits & (1u << i));
    }
    return write_outputs(index, variant, values);
}

int read_output(int index, int channel, int32_t& value) {
    if (checked_outputs(index, channel, true) == 0) return 0;
    const wexo_device& device = record(index);
    const OutputVariant variant = output_variant(device.unit_kind, device.model_code);
    if (variant == OutputVariant::kPins && !pin_is_output(device, channel)) {
        set_error(kNotPossible);
        return 0;
    }
    Values values{};
    if (!read_outputs(index, variant, values)) return 0;
    value = values[channel];
    return 1;
}

int read_all_outputs(int index, uint32_t& bits) {
    const int outputs = checked_outputs(index, -1, false);
    if (outputs == 0) return 0;
    bits = 0;
    const wexo_device& device = record(index);
    Values values{};
    if (!read_outputs(index, output_variant(device.unit_kind, device.model_code), values)) {
        return 0;
    }
    bits = values_to_bits(values, outputs);
    return 1;
}

}  // namespace wexo::dio

using namespace wexo;

extern "C" int ZuWexoOutPio(int index, int channel, int value) {
    return dio::unit_call("ZuWexoOutPio", index, [&] {
        if (!dio::write_output(index, channel, value)) return 0;
        output_log(kLogResult, "ZuWexoOutPio:%d:%d:%d", index, channel, value);
        return 1;
    });
}

extern "C" int ZuWexoOutPioAll(int index, unsigned int bits) {
    return dio::unit_call("ZuWexoOutPioAll", index, [&] {
        if (!dio::write_all_outputs(index, bits)) return 0;
        output_log(kLogResult, "ZuWexoOutPioAll:%d:%d", index, static_cast<int>(bits));
        return 1;
    });
}

extern "C" int ZuWexoGetOut(int index, int channel, int* value) {
    return dio::unit_call("ZuWexoGetOut", index, [&] {
        int32_t result = 0;
        if (!dio::have_output(value) || !dio::read_output(index, channel, result)) return 0;
        *value = result;
        output_log(kLogResult, "ZuWexoGetOut:%d:%d:%d", index, channel, result);
        return 1;
    });
}

extern "C" int ZuWexoGetOutAll(int index, unsigned int* bits) {
    return dio::unit_call("ZuWexoGetOutAll", index, [&] {
        if (!dio::have_output(bits) || !dio::read_all_outputs(index, *bits)) return 0;
        output_log(kLogResult, "ZuWexoGetOutAll:%d:%d", index, static_cast<int>(*bits));
        return 1;
    });
}
