// Digital outputs (ZuWexoOutPio, ZuWexoOutPioAll, ZuWexoGetOut, ZuWexoGetOutAll).
#include "dio/digital_output.hpp"

#include "core/call.hpp"
#include "wire/exchange.hpp"
#include "module/configurable_pins.hpp"
#include "session/unit_context.hpp"

namespace wexo::dio {

namespace {

constexpr uint8_t kReadBinary = 0xE0;
constexpr uint8_t kWriteBinary = 0xF0;
// The binary pair carries outputs 0 to 4 only.
constexpr int kBinaryOutputs = 5;
// Model 1's outputs are the module's three pins.
constexpr int kPins = 3;
constexpr int kPinOutputMode[kPins] = {5, 7, 9};

void trace_dy(const char* name, int index, std::span<const uint8_t>, const ReplyView& reply) {
    output_log(kLogTrace, "%s %d -> %s", name, index, reply_hex(reply, 0, 5).c_str());
}
void trace_do(const char* name, int index, std::span<const uint8_t>, const ReplyView& reply) {
    output_log(kLogTrace, "%s %s -> %d", name, reply_hex(reply, 2, 2).c_str(), index);
}
void trace_dk(const char* name, int index, std::span<const uint8_t>, const ReplyView& reply) {
    output_log(kLogTrace, "%s %s -> %d", name, reply_hex(reply, 2, 4).c_str(), index);
}

// get_do_E0 keeps the name of its lines from the status exchange it grew from.
constexpr Command kGetDoE0{.name = "getpio_55", .drain = Drain::kYes,
                           .reply = ReplyShape::binary(2, 1), .trace = trace_request_reply};
constexpr Command kSetDoF0{.name = "set_do_F0", .drain = Drain::kYes,
                           .reply = ReplyShape::binary(2, 2), .trace = trace_request_reply};
constexpr Command kGetDoDY{.name = "get_do_DY", .drain = Drain::kYes,
                           .reply = ReplyShape::ascii(), .trace = trace_dy};
constexpr Command kSetDoDO{.name = "set_do_DO", .drain = Drain::kYes,
                           .reply = ReplyShape::ascii(), .trace = trace_do};
constexpr Command kSetDoDK{.name = "set_do_DK", .drain = Drain::kYes,
                           .reply = ReplyShape::ascii(), .trace = trace_dk};

int output_count(UnitContext& unit) {
    return Board(unit.rec.model_code, unit.rec.unit_kind).outputs();
}

OutputVariant variant_of(UnitContext& unit) {
    return output_variant(unit.rec.unit_kind, unit.rec.model_code);
}

// Reads every output by the variant into values.
int read_outputs(UnitContext& unit, OutputVariant variant, Values& values) {
    switch (variant) {
        case OutputVariant::kAsciiMasked:
        case OutputVariant::kAscii: return get_do_DY(unit, values);
        case OutputVariant::kPins: return getcp(unit, &values[0], &values[1], &values[2]);
        case OutputVariant::kBinary: return get_do_E0(unit, values);
    }
    return 0;
}

// Writes every output by the variant from values.
int write_outputs(UnitContext& unit, OutputVariant variant, const Values& values) {
    switch (variant) {
        case OutputVariant::kAsciiMasked:
        case OutputVariant::kAscii: return set_do_DO(unit, values);
        case OutputVariant::kPins: return setcp(unit, values[0], values[1], values[2]);
        case OutputVariant::kBinary: return set_do_F0(unit, values);
    }
    return 0;
}

// The unit's output count, or 0 with code 6 when a single-output call names
// no output of the model (or a pin not configured as one), or a whole-board
// call finds none.
int checked_outputs(UnitContext& unit, int channel, bool single) {
    const auto board = unit.board();
    if (!board) return 0;
    const int outputs = board->outputs();
    if (!single) return offered(outputs != 0) ? outputs : 0;
    if (!in_range(channel, 0, std::min(outputs, kMaxChannels) - 1)) return 0;
    if (board->outputs_on_pins() && !offered(pin_is_output(unit.rec, channel))) return 0;
    return outputs;
}

}  // namespace

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

int get_do_E0(UnitContext& unit, Values& values) {
    const uint8_t request[] = {kReadBinary};
    Reply reply;
    if (!exchange(unit.link, kGetDoE0, request, reply)) return 0;
    for (int k = 0; k < kBinaryOutputs; ++k) values[k] = (reply.byte(1) >> k) & 1;
    return 1;
}

int set_do_F0(UnitContext& unit, const Values& values) {
    Reply reply;
    return exchange(unit.link, kSetDoF0, f0_request(values).bytes(), reply) ? 1 : 0;
}

int get_do_DY(UnitContext& unit, Values& values) {
    const int outputs = output_count(unit);
    const Frame request = Frame::ascii('D', 'Y').terminate();
    Reply reply;
    if (!exchange(unit.link, kGetDoDY.at_least(3 + reply_groups(outputs)), request.bytes(),
                  reply)) {
        return 0;
    }
    const uint32_t bits = group_bits(reply.view());
    for (int i = 0; i < outputs && i < kMaxChannels; ++i) values[i] = group_value(bits, i);
    return 1;
}

int set_do_DO(UnitContext& unit, const Values& values) {
    Reply reply;
    return exchange(unit.link, kSetDoDO, do_request(output_count(unit), values).bytes(), reply) ? 1
                                                                                                : 0;
}

int set_do_DK(UnitContext& unit, int channel, int value) {
    Reply reply;
    const Frame request = dk_request(output_count(unit), channel, value != 0);
    return exchange(unit.link, kSetDoDK, request.bytes(), reply) ? 1 : 0;
}

int write_output(UnitContext& unit, int channel, int value) {
    if (checked_outputs(unit, channel, true) == 0) return 0;
    const OutputVariant variant = variant_of(unit);
    if (variant == OutputVariant::kAsciiMasked) return set_do_DK(unit, channel, value);
    // Read back, change one, write all: the other outputs keep their state,
    // and a failed or short read-back sends nothing.
    Values values{};
    if (!read_outputs(unit, variant, values)) return 0;
    values[channel] = value;
    return write_outputs(unit, variant, values);
}

int write_all_outputs(UnitContext& unit, uint32_t bits) {
    const int outputs = checked_outputs(unit, -1, false);
    if (outputs == 0) return 0;
    const OutputVariant variant = variant_of(unit);
    // The read-back keeps whatever the write does not cover (binary outputs
    // above the model's count); a failed read-back sends nothing.
    Values values{};
    if (!read_outputs(unit, variant, values)) return 0;
    for (int i = 0; i < outputs && i < kMaxChannels; ++i) {
        values[i] = static_cast<int32_t>(bits & (1u << i));
    }
    return write_outputs(unit, variant, values);
}

int read_output(UnitContext& unit, int channel, int32_t& value) {
    if (checked_outputs(unit, channel, true) == 0) return 0;
    Values values{};
    if (!read_outputs(unit, variant_of(unit), values)) return 0;
    value = values[channel];
    return 1;
}

int read_all_outputs(UnitContext& unit, uint32_t& bits) {
    const int outputs = checked_outputs(unit, -1, false);
    if (outputs == 0) return 0;
    bits = 0;
    Values values{};
    if (!read_outputs(unit, variant_of(unit), values)) return 0;
    bits = values_to_bits(values, outputs);
    return 1;
}

}  // namespace wexo::dio

using namespace wexo;

extern "C" int ZuWexoOutPio(int index, int channel, int value) {
    return on_unit("ZuWexoOutPio", index, [&](UnitContext& unit) {
        if (!dio::write_output(unit, channel, value)) return 0;
        return result_line("ZuWexoOutPio:%d:%d:%d", index, channel, value);
    });
}

extern "C" int ZuWexoOutPioAll(int index, unsigned int bits) {
    return on_unit("ZuWexoOutPioAll", index, [&](UnitContext& unit) {
        if (!dio::write_all_outputs(unit, bits)) return 0;
        return result_line("ZuWexoOutPioAll:%d:%d", index, static_cast<int>(bits));
    });
}

extern "C" int ZuWexoGetOut(int index, int channel, int* value) {
    return on_unit("ZuWexoGetOut", index, [&](UnitContext& unit) {
        int32_t result = 0;
        if (!outputs_given(value) || !dio::read_output(unit, channel, result)) return 0;
        *value = result;
        return result_line("ZuWexoGetOut:%d:%d:%d", index, channel, result);
    });
}

extern "C" int ZuWexoGetOutAll(int index, unsigned int* bits) {
    return on_unit("ZuWexoGetOutAll", index, [&](UnitContext& unit) {
        if (!outputs_given(bits) || !dio::read_all_outputs(unit, *bits)) return 0;
        return result_line("ZuWexoGetOutAll:%d:%d", index, static_cast<int>(*bits));
    });
}
