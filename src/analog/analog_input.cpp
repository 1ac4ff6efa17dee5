// Analog inputs (ZuWexoGetAnalogInput, ...All, ...ByValue, ...Range, the
// sampling-rate and transmit-cycle codes).
#include <algorithm>
#include <cstdint>

#include "analog/analog.hpp"
#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "session/unit_context.hpp"

namespace wexo::analog {

namespace {

constexpr int kAllChannels = 7;  // the AI channel code that asks for every input
constexpr int kCountDigits = 6;
constexpr int kHighestRange = 6;
constexpr unsigned kHighestSamplingRate = 7;
constexpr unsigned kHighestTransmitCycle = 13;
// The range call alone has no value to deliver.
constexpr double kNoValueNeeded = 0;

constexpr Command kAI = analog_query("requestid AI", 0);  // length set per request
constexpr Command kAJ = analog_query("requestid AJ", 6);
constexpr Command kAR = analog_setter("requestid AR");
constexpr Command kAP = analog_setter("requestid AP");
constexpr Command kAS = analog_setter("requestid AS");

// A unit with analog inputs, and channel one of them; code 6 otherwise.
bool input_channel(UnitContext& unit, int channel) {
    const auto board = unit.board();
    return board && offered(board->analog_inputs() > 0) &&
           in_range(channel, 0, board->analog_inputs() - 1);
}

// A unit with analog inputs at all; code 6 otherwise.
int analog_inputs(UnitContext& unit) {
    const auto board = unit.board();
    return board && offered(board->analog_inputs() > 0) ? board->analog_inputs() : 0;
}

// One of the unit-wide code setters: 'A' letter (code + 0x20).
int set_code(UnitContext& unit, const Command& command, char letter, int code, unsigned highest,
             const char* line) {
    if (!in_range(static_cast<unsigned>(code), 0, highest)) return 0;
    Reply reply;
    const Frame request = Frame::ascii('A', letter).push_small(code).terminate();
    if (!exchange(unit.link, command, request, reply)) return 0;
    return result_line(line, code);
}

// The steps of ZuWexoGetAnalogInputRange after its entry line and checks. `value`, the
// by-value read's second result, must be given too.
int read_range(UnitContext& unit, int channel, int32_t* range, const double* value) {
    if (!outputs_given(range, value) || !input_channel(unit, channel)) return 0;
    int32_t cycle = 0;
    return get_ai_AJ(unit, channel, range, &cycle);
}

}  // namespace

int get_ai_AI(UnitContext& unit, int channel, int n, int32_t* counts) {
    const int count = channel == kAllChannels ? n : 1;
    const Frame request = Frame::ascii('A', 'I').push(channel_byte(channel)).terminate();
    Reply reply;
    if (!exchange(unit.link, kAI.at_least(kCountDigits * count + 4), request, reply)) return 0;
    // Every count's digits are judged before any is stored.
    for (int i = 0; i < count; ++i) {
        if (!hex_fields_read(reply.signed_hex(3 + kCountDigits * i, kCountDigits))) return 0;
    }
    for (int i = 0; i < count; ++i) {
        counts[i] = *reply.signed_hex(3 + kCountDigits * i, kCountDigits);
        result_line("get_ai_AI : %d", counts[i]);
    }
    return count;
}

int get_ai_AJ(UnitContext& unit, int channel, int32_t* range, int32_t* cycle) {
    const Frame request = Frame::ascii('A', 'J').push(channel_byte(channel)).terminate();
    Reply reply;
    if (!exchange(unit.link, kAJ, request, reply)) return 0;
    *range = reply.byte(3) & 7;
    *cycle = reply.byte(4) & 0x0F;
    return result_line("get_ai_AJ : %d %d", *range, *cycle);
}

int set_ai_AR(UnitContext& unit, int channel, int range) {
    const Board board(unit.rec.model_code, unit.rec.unit_kind);
    if (!in_range(range, 0, kHighestRange) || (range == kHighestRange && !offered(board.analog_range6()))) {
        return 0;
    }
    const Frame request =
        Frame::ascii('A', 'R').push(channel_byte(channel)).push_small(range).terminate();
    Reply reply;
    if (!exchange(unit.link, kAR, request, reply)) return 0;
    return result_line("set_ai_AR : %d %d", channel, range);
}

int set_ai_AP(UnitContext& unit, int code) {
    return set_code(unit, kAP, 'P', code, kHighestSamplingRate, "set_ai_AP : %d");
}

int set_ai_AS(UnitContext& unit, int code) {
    return set_code(unit, kAS, 'S', code, kHighestTransmitCycle, "set_ai_AS : %d");
}

}  // namespace wexo::analog

using namespace wexo;
using namespace wexo::analog;

extern "C" int ZuWexoGetAnalogInput(int index, int channel, int* count) {
    return on_unit("ZuWexoGetAnalogInput", index, [&](UnitContext& unit) {
        if (!outputs_given(count) || !input_channel(unit, channel)) return 0;
        return get_ai_AI(unit, channel, 1, count);
    });
}

extern "C" int ZuWexoGetAnalogInputAll(int index, int n, int* counts) {
    return on_unit("ZuWexoGetAnalogInputAll", index, [&](UnitContext& unit) {
        const int inputs = outputs_given(counts) ? analog_inputs(unit) : 0;
        if (inputs == 0 || !in_range(n, 1, INT32_MAX)) return 0;
        return get_ai_AI(unit, kAllChannels, std::min(n, inputs), counts);
    });
}

extern "C" int ZuWexoGetAnalogInputRange(int index, int channel, int* range) {
    return api_call("ZuWexoGetAnalogInputRange", 0, [&] {
        return with_unit(index, [&](UnitContext& unit) {
            return read_range(unit, channel, range, &kNoValueNeeded);
        });
    });
}

extern "C" int ZuWexoGetAnalogInputByValue(int index, int channel, int* range, double* value) {
    return api_call("ZuWexoGetAnalogInputByValue", 0, [&] {
        entry_line("ZuWexoGetAnalogInputRange");
        return with_unit(index, [&](UnitContext& unit) {
            if (!read_range(unit, channel, range, value)) return 0;
            int32_t count = 0;
            if (!get_ai_AI(unit, channel, 1, &count)) return 0;
            double converted = 0;
            if (!count_to_value(count, *range, converted)) {
                set_error(kBadReply);  // range code 7 has no full scale
                return 0;
            }
            *value = converted;
            return 1;
        });
    });
}

extern "C" int ZuWexoSetAnalogInputRange(int index, int channel, int range) {
    return on_unit("ZuWexoSetAnalogInputRange", index, [&](UnitContext& unit) {
        return input_channel(unit, channel) ? set_ai_AR(unit, channel, range) : 0;
    });
}

extern "C" int ZuWexoSetAnalogInputADCsps(int index, int code) {
    return on_unit("ZuWexoSetAnalogInputADCsps", index, [&](UnitContext& unit) {
        return analog_inputs(unit) != 0 ? set_ai_AP(unit, code) : 0;
    });
}

extern "C" int ZuWexoGetAiTransmitCycle(int index, int* code) {
    return on_unit("ZuWexoGetAiTransmitCycle", index, [&](UnitContext& unit) {
        if (!outputs_given(code) || analog_inputs(unit) == 0) return 0;
        int32_t range = 0;
        return get_ai_AJ(unit, 0, &range, code);
    });
}

extern "C" int ZuWexoSetAiTransmitCycle(int index, int code) {
    return on_unit("ZuWexoSetAiTransmitCycle", index, [&](UnitContext& unit) {
        return analog_inputs(unit) != 0 ? set_ai_AS(unit, code) : 0;
    });
}
