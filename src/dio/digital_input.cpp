// Digital inputs (ZuWexoInPio, ZuWexoInPioAll).
#include "dio/digital_input.hpp"

#include "core/call.hpp"
#include "wire/exchange.hpp"
#include "session/identification.hpp"
#include "module/configurable_pins.hpp"
#include "session/unit_context.hpp"

namespace wexo::dio {

namespace {

// Model 2 has seven inputs: five on the board, the last two are the
// module's pins CP1 and CP2.
constexpr int kBoardInputs = 5;
constexpr int kPinModelInputs = 7;
constexpr uint8_t kStatusRequest[] = {0x55, 0x55};
// Kind 3 firmware of model 2 reads all seven itself through 0xEC.
constexpr uint8_t kQueryInputs[] = {0xEC};

void trace_di(const char* name, int, std::span<const uint8_t>, const ReplyView& reply) {
    output_log(kLogTrace, "%s %s", name, reply_hex(reply, 0, 5).c_str());
}

constexpr Command kGetDi55{.name = "get_di_55", .drain = Drain::kYes,
                           .reply = ReplyShape::binary(2), .trace = trace_request_reply};
constexpr Command kGetDiDI{.name = "get_di_DI", .drain = Drain::kYes,
                           .reply = ReplyShape::ascii(), .trace = trace_di};
// Not drained and without log lines.
constexpr Command kQueryEC{.reply = ReplyShape::binary(2)};

// 0xEC: inputs 0 to 6 in bits 0 to 6 of reply byte 1 (bit 7 is no input).
int query_ec(UnitContext& unit, Values& values) {
    Reply reply;
    if (!exchange(unit.link, kQueryEC, kQueryInputs, reply)) return 0;
    for (int i = 0; i < kPinModelInputs; ++i) values[i] = (reply.byte(1) >> i) & 1;
    return 1;
}

// Model 2 without kind 3 firmware: the pins first, then the board's five.
int read_pins_and_status(UnitContext& unit, Values& values) {
    int cp1 = 0;
    int cp2 = 0;
    int cp3 = 0;
    if (!getcp(unit, &cp1, &cp2, &cp3) || !get_di_55(unit, values)) return 0;
    values[5] = cp1;
    values[6] = cp2;  // CP3 is no input of this model
    return 1;
}

}  // namespace

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

int get_di_55(UnitContext& unit, Values& values) {
    Reply reply;
    if (!exchange(unit.link, kGetDi55, kStatusRequest, reply)) return 0;
    const StatusReply status = decode_status(reply.byte(0), reply.byte(1));
    wexo_device& device = unit.rec;
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

int get_di_DI(UnitContext& unit, Values& values) {
    const int inputs = Board(unit.rec.model_code, unit.rec.unit_kind).inputs();
    Reply reply;
    const Frame request = Frame::ascii('D', 'I').terminate();
    if (!exchange(unit.link, kGetDiDI.at_least(3 + reply_groups(inputs)), request, reply)) return 0;
    const uint32_t bits = group_bits(reply.view());
    for (int i = 0; i < inputs && i < kMaxChannels; ++i) values[i] = group_value(bits, i);
    return 1;
}

int read_inputs(UnitContext& unit, Values& values) {
    const wexo_device& device = unit.rec;
    switch (input_variant(device.unit_kind, device.model_code)) {
        case InputVariant::kAsciiDI: return get_di_DI(unit, values);
        case InputVariant::kStatus: return get_di_55(unit, values);
        case InputVariant::kPinsAndStatus: return read_pins_and_status(unit, values);
        case InputVariant::kQueryEC: return query_ec(unit, values);
    }
    return 0;
}

int read_input(UnitContext& unit, int channel, int32_t& value) {
    const auto board = unit.board();
    if (!board || !in_range(channel, 0, std::min(board->inputs(), kMaxChannels) - 1)) return 0;
    Values values{};
    if (!read_inputs(unit, values)) return 0;
    value = values[channel];
    return 1;
}

int read_all_inputs(UnitContext& unit, uint32_t& bits) {
    const auto board = unit.board();
    if (!board || !offered(board->inputs() != 0)) return 0;
    bits = 0;
    Values values{};
    if (!read_inputs(unit, values)) return 0;
    bits = values_to_bits(values, board->inputs());
    return 1;
}

}  // namespace wexo::dio

using namespace wexo;

extern "C" int ZuWexoInPio(int index, int channel, int* value) {
    return on_unit("ZuWexoInPio", index, [&](UnitContext& unit) {
        int32_t result = 0;
        if (!outputs_given(value) || !dio::read_input(unit, channel, result)) return 0;
        *value = result;
        return result_line("ZuWexoInPio:%d:%d:%d", index, channel, result);
    });
}

extern "C" int ZuWexoInPioAll(int index, unsigned int* bits) {
    return on_unit("ZuWexoInPioAll", index, [&](UnitContext& unit) {
        if (!outputs_given(bits) || !dio::read_all_inputs(unit, *bits)) return 0;
        return result_line("ZuWexoInPioAll:%d:%d", index, static_cast<int>(*bits));
    });
}
