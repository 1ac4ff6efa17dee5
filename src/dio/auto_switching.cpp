#include "dio/auto_switching.hpp"

#include "core/state.hpp"
#include "dio/channel_groups.hpp"
#include "core/call.hpp"
#include "wire/exchange.hpp"
#include "session/unit_context.hpp"

// Binary auto-switching times in ms, by the index the board stores: 100 ms
// steps up to 2 s, then whole seconds up to 15 s.
extern "C" const int32_t autoswitchtime[wexo::dio::kSwitchTimes] = {
    100,  200,  300,  400,  500,  600,  700,  800,  900,  1000, 1100,
    1200, 1300, 1400, 1500, 1600, 1700, 1800, 1900, 2000, 3000, 4000,
    5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000, 13000, 14000, 15000,
};

namespace wexo::dio {

namespace {

// One binary setting: its set command (command, value; the 2-byte reply is
// not inspected) and its get command (reply byte 1 is the value).
struct BinarySetting {
    uint8_t set;
    uint8_t get;
};
constexpr BinarySetting kActive{0xF1, 0xE1};
constexpr BinarySetting kOutputs{0xF3, 0xE3};
constexpr BinarySetting kTime{0xF2, 0xE2};

// None of the auto-switching exchanges drains or writes log lines.
constexpr Command kBinary{.reply = ReplyShape::binary(2)};
constexpr Command kAscii{.reply = ReplyShape::ascii()};
constexpr Command kAsciiFlags{.reply = ReplyShape::ascii(4)};      // "oj", flags, terminator
constexpr Command kAsciiDurations{.reply = ReplyShape::ascii(8)};  // "oi", output, 2 x 2 hex digits

// The binary set command carries outputs 0 to 4.
constexpr uint32_t kBinaryOutputMask = 0x1F;
// ASCII flags byte: bit 3 is the active flag.
constexpr int kActiveFlag = 0x08;
// ASCII durations: 1 to 255 steps of 100 ms.
constexpr int kStepMs = 100;
constexpr int kMaxSteps = 255;
constexpr int kMaxAsciiTime = kMaxSteps * kStepMs;

struct Switching {
    SwitchVariant variant = SwitchVariant::kUnsupported;
    int outputs = 0;
};

// The unit's variant and output count; code 6 when it has no auto switching.
bool switching_board(UnitContext& unit, Switching& board) {
    const auto found = unit.board();
    if (!found) return false;
    board.variant = found->auto_switching();
    board.outputs = found->outputs();
    return offered(board.variant != SwitchVariant::kUnsupported);
}

// The per-output calls exist only on ASCII boards.
bool ascii_board(UnitContext& unit, int output, Switching& board) {
    return switching_board(unit, board) && offered(board.variant == SwitchVariant::kAscii) &&
           in_range(output, 0, board.outputs - 1);
}

int binary_set(UnitContext& unit, uint8_t command, uint8_t value) {
    const uint8_t request[] = {command, value};
    Reply reply;
    return exchange(unit.link, kBinary, request, reply) ? 1 : 0;
}

int binary_get(UnitContext& unit, uint8_t command, uint8_t& value) {
    const uint8_t request[] = {command};
    Reply reply;
    if (!exchange(unit.link, kBinary, request, reply)) return 0;
    value = reply.byte(1);
    return 1;
}

int ascii_send(UnitContext& unit, const Frame& request) {
    Reply reply;
    return exchange(unit.link, kAscii, request.bytes(), reply) ? 1 : 0;
}

// A reply without one mask byte per group of outputs fails with code 9: it is
// never read as "none take part".
int ascii_outputs(UnitContext& unit, int outputs, uint32_t& mask) {
    Reply reply;
    if (!exchange(unit.link, kAscii.at_least(3 + reply_groups(outputs)),
                  Frame::ascii('O', 'H').terminate().bytes(), reply)) {
        return 0;
    }
    mask = group_bits(reply.view());
    return 1;
}

// Durations of one output in steps.
int ascii_durations(UnitContext& unit, int output, int& first_steps, int& second_steps) {
    Reply reply;
    if (!exchange(unit.link, kAsciiDurations, oi_request(output).bytes(), reply)) return 0;
    const auto first = reply.hex(3, 2);
    const auto second = reply.hex(5, 2);
    if (!hex_fields_read(first, second)) return 0;
    first_steps = static_cast<int>(*first);
    second_steps = static_cast<int>(*second);
    return 1;
}

}  // namespace

int autoswitch_index(int ms) {
    if (ms <= autoswitchtime[0]) return 0;
    for (int i = 1; i < kSwitchTimes; ++i) {
        if (autoswitchtime[i] >= ms) return i;
    }
    return -1;
}

Frame ol_request(bool active) {
    return Frame::ascii('O', 'L').push_small(active ? kActiveFlag : 0).terminate();
}

Frame oc_request(int outputs, uint32_t mask) {
    Frame frame = Frame::ascii('O', 'C');
    return push_groups(frame, mask, group_count(outputs)).terminate();
}

Frame ot_request(int output, int first_steps, int second_steps) {
    return Frame::ascii('O', 'T')
        .push_small(output)
        .push_hex(static_cast<uint32_t>(first_steps), 2)
        .push_hex(static_cast<uint32_t>(second_steps), 2)
        .terminate();
}

Frame oi_request(int output) { return Frame::ascii('O', 'I').push_small(output).terminate(); }

int lowest_output(uint32_t mask, int outputs) {
    for (int i = 0; i < outputs && i < 32; ++i) {
        if (mask & (1u << i)) return i;
    }
    return -1;
}

int set_switching_active(UnitContext& unit, int flag) {
    Switching board;
    if (!switching_board(unit, board)) return 0;
    if (board.variant == SwitchVariant::kBinary) return binary_set(unit, kActive.set, flag != 0);
    return ascii_send(unit, ol_request(flag != 0));
}

int get_switching_active(UnitContext& unit, int32_t& flag) {
    Switching board;
    if (!switching_board(unit, board)) return 0;
    if (board.variant == SwitchVariant::kBinary) {
        uint8_t value = 0;
        if (!binary_get(unit, kActive.get, value)) return 0;
        flag = value;
        return 1;
    }
    Reply reply;
    if (!exchange(unit.link, kAsciiFlags, Frame::ascii('O', 'J').terminate().bytes(), reply)) {
        return 0;
    }
    flag = (reply.byte(2) & kActiveFlag) != 0 ? 1 : 0;
    return 1;
}

int set_switching_outputs(UnitContext& unit, uint32_t mask) {
    Switching board;
    if (!switching_board(unit, board)) return 0;
    if (board.variant == SwitchVariant::kBinary) {
        return binary_set(unit, kOutputs.set, static_cast<uint8_t>(mask & kBinaryOutputMask));
    }
    return ascii_send(unit, oc_request(board.outputs, mask));
}

int get_switching_outputs(UnitContext& unit, uint32_t& mask) {
    Switching board;
    if (!switching_board(unit, board)) return 0;
    if (board.variant == SwitchVariant::kBinary) {
        uint8_t value = 0;
        if (!binary_get(unit, kOutputs.get, value)) return 0;
        mask = value;
        return 1;
    }
    mask = 0;
    return ascii_outputs(unit, board.outputs, mask);
}

int set_switching_time(UnitContext& unit, int ms, int& shown) {
    Switching board;
    if (!switching_board(unit, board)) return 0;
    if (board.variant == SwitchVariant::kBinary) {
        // The board has no time above 15 s; sending the longest instead would
        // quietly shorten what the caller asked for, so such a time is refused.
        const int time_index = autoswitch_index(ms);
        if (time_index < 0) {
            set_error(kNotPossible);
            return 0;
        }
        if (!binary_set(unit, kTime.set, static_cast<uint8_t>(time_index))) return 0;
        shown = ms;
        return 1;
    }
    if (ms < 1 || ms > kMaxAsciiTime) {
        set_error(kNotPossible);
        return 0;
    }
    const int steps = ms / kStepMs;
    // One frame per output; a failure leaves the outputs before it changed.
    for (int output = 0; output < board.outputs; ++output) {
        if (!ascii_send(unit, ot_request(output, steps, steps))) return 0;
    }
    shown = steps;
    return 1;
}

int get_switching_time(UnitContext& unit, int32_t& ms) {
    Switching board;
    if (!switching_board(unit, board)) return 0;
    if (board.variant == SwitchVariant::kBinary) {
        uint8_t time_index = 0;
        if (!binary_get(unit, kTime.get, time_index)) return 0;
        if (time_index >= kSwitchTimes) {
            set_error(kBadReply);
            return 0;
        }
        ms = autoswitchtime[time_index];
        return 1;
    }
    // All outputs share the time that the set call wrote; ask the first one
    // taking part.
    uint32_t mask = 0;
    if (!ascii_outputs(unit, board.outputs, mask)) return 0;
    const int output = lowest_output(mask, board.outputs);
    if (output < 0) {
        set_error(kBadReply);
        return 0;
    }
    int first_steps = 0;
    int second_steps = 0;
    if (!ascii_durations(unit, output, first_steps, second_steps)) return 0;
    ms = first_steps * kStepMs;
    return 1;
}

int set_switching_channel(UnitContext& unit, int output, int first_ms, int second_ms,
                          int& first_steps, int& second_steps) {
    Switching board;
    if (!ascii_board(unit, output, board)) return 0;
    const int first = first_ms / kStepMs;
    const int second = second_ms / kStepMs;
    if (first < 1 || first > kMaxSteps || second < 1 || second > kMaxSteps) {
        set_error(kNotPossible);
        return 0;
    }
    if (!ascii_send(unit, ot_request(output, first, second))) return 0;
    first_steps = first;
    second_steps = second;
    return 1;
}

int get_switching_channel(UnitContext& unit, int output, uint32_t& first_ms, uint32_t& second_ms) {
    Switching board;
    if (!ascii_board(unit, output, board)) return 0;
    first_ms = 0;
    second_ms = 0;
    int first_steps = 0;
    int second_steps = 0;
    if (!ascii_durations(unit, output, first_steps, second_steps)) return 0;
    first_ms = static_cast<uint32_t>(first_steps * kStepMs);
    second_ms = static_cast<uint32_t>(second_steps * kStepMs);
    return 1;
}

}  // namespace wexo::dio

using namespace wexo;

extern "C" int ZuWexoSetAutoSwitchingActive(int index, int flag) {
    return on_unit("ZuWexoSetAutoSwitchingActive", index, [&](UnitContext& unit) {
        if (!dio::set_switching_active(unit, flag)) return 0;
        return result_line("ZuWexoSetAutoSwitchingActive:%d:%d", index, flag);
    });
}

extern "C" int ZuWexoGetAutoSwitchingActive(int index, int* flag) {
    return on_unit("ZuWexoGetAutoSwitchingActive", index, [&](UnitContext& unit) {
        int32_t result = 0;
        if (!outputs_given(flag) || !dio::get_switching_active(unit, result)) return 0;
        *flag = result;
        return result_line("ZuWexoGetAutoSwitchingActive:%d:%d", index, result);
    });
}

extern "C" int ZuWexoSetAutoSwitchingPio(int index, int mask) {
    return on_unit("ZuWexoSetAutoSwitchingPio", index, [&](UnitContext& unit) {
        if (!dio::set_switching_outputs(unit, static_cast<uint32_t>(mask))) return 0;
        return result_line("ZuWexoSetAutoSwitchingPio:%d:%d", index, mask);
    });
}

extern "C" int ZuWexoGetAutoSwitchingPio(int index, unsigned int* mask) {
    return on_unit("ZuWexoGetAutoSwitchingPio", index, [&](UnitContext& unit) {
        if (!outputs_given(mask) || !dio::get_switching_outputs(unit, *mask)) return 0;
        return result_line("ZuWexoGetAutoSwitchingPio:%d:%d", index, static_cast<int>(*mask));
    });
}

extern "C" int ZuWexoSetAutoSwitchingTime(int index, int ms) {
    return on_unit("ZuWexoSetAutoSwitchingTime", index, [&](UnitContext& unit) {
        int shown = 0;
        if (!dio::set_switching_time(unit, ms, shown)) return 0;
        return result_line("ZuWexoSetAutoSwitchingTime:%d:%d", index, shown);
    });
}

extern "C" int ZuWexoGetAutoSwitchingTime(int index, int* ms) {
    return on_unit("ZuWexoGetAutoSwitchingTime", index, [&](UnitContext& unit) {
        int32_t result = 0;
        if (!outputs_given(ms) || !dio::get_switching_time(unit, result)) return 0;
        *ms = result;
        return result_line("ZuWexoGetAutoSwitchingTime:%d:%d", index, result);
    });
}

extern "C" int ZuWexoSetAutoSwitchingChannel(int index, int output, int first_ms, int second_ms) {
    return on_unit("ZuWexoSetAutoSwitchingChannel", index, [&](UnitContext& unit) {
        int first = 0;
        int second = 0;
        if (!dio::set_switching_channel(unit, output, first_ms, second_ms, first, second)) {
            return 0;
        }
        return result_line("ZuWexoSetAutoSwitchingChannel:%d:%d:%d:%d", index, output, first,
                   second);
    });
}

extern "C" int ZuWexoGetAutoSwitchingChannel(int index, int output, unsigned int* first_ms,
                                             unsigned int* second_ms) {
    return on_unit("ZuWexoGetAutoSwitchingChannel", index, [&](UnitContext& unit) {
        if (!outputs_given(first_ms, second_ms) ||
            !dio::get_switching_channel(unit, output, *first_ms, *second_ms)) {
            return 0;
        }
        return result_line("ZuWexoGetAutoSwitchingChannel:%d:%d:%d:%d", index, output,
                   static_cast<int>(*first_ms), static_cast<int>(*second_ms));
    });
}
