// Output alerts of model 42 and the reset time (ZuWexoSetResetTime,
// ZuWexoDOAlertStartStop, ZuWexoSetDOAlertConfig, ZuWexoGetDOAlertStatus).
#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "wire/exchange.hpp"
#include "session/unit_context.hpp"

namespace wexo::pulse {

namespace {

constexpr int kLongestResetTime = 10;
constexpr unsigned kLastAlertChannel = 1;
constexpr unsigned kLastAlertMode = 2;
constexpr int kValueDigits = 4;

// The reset time writes no error lines at all; the alert frames name theirs.
constexpr Command kRSET{.reply = ReplyShape::ascii(), .recv_line = nullptr};
constexpr Command kDS{.name = "requestid DS", .reply = ReplyShape::ascii(), .recv_line = nullptr};
constexpr Command kDL{.name = "requestid DL", .reply = ReplyShape::ascii(), .recv_line = nullptr};
constexpr Command kDJ{.name = "requestid DJ", .reply = ReplyShape::ascii(11, 1),
                      .errors = ReplyErrors::kBadReply, .recv_line = "%s recv error. len = %d"};

// Model 42 and channel 0 or 1; code 6 otherwise.
bool alert_channel(UnitContext& unit, int channel) {
    const auto board = unit.board();
    return board && offered(board->output_alerts()) &&
           in_range(static_cast<unsigned>(channel), 0, kLastAlertChannel);
}

uint8_t on_off(int flag) { return flag != 0 ? 0x21 : 0x20; }

int set_reset_time(UnitContext& unit, int reset_time) {
    // A negative time would be sent as 0xFF or some other byte.
    if (!in_range(reset_time, 0, kLongestResetTime)) return 0;
    Frame request = Frame::ascii('R', 'S');
    request.push('E').push('T').push(static_cast<uint8_t>(reset_time | 0x20)).terminate();
    Reply reply;
    if (!exchange(unit.link, kRSET, request, reply)) return 0;
    return result_line("ZuWexoSetResetTime:%d:%d", unit.index, reset_time);
}

int start_stop(UnitContext& unit, int channel, int start) {
    if (!alert_channel(unit, channel)) return 0;
    const Frame request = Frame::ascii('D', 'S').push_small(channel).push(on_off(start)).terminate();
    Reply reply;
    if (!exchange(unit.link, kDS, request, reply)) return 0;
    return result_line("command DS : %d %d\n", channel, start);
}

int set_config(UnitContext& unit, int channel, int mode, int flag, int value) {
    if (!alert_channel(unit, channel) ||
        !in_range(static_cast<unsigned>(mode), 0, kLastAlertMode)) {
        return 0;
    }
    const int clamped = value > 65535 ? 65535 : (value < 0 ? 0 : value);
    const Frame request = Frame::ascii('D', 'L')
                              .push_small(channel)
                              .push_small(mode)
                              .push(on_off(flag))
                              .push_hex(static_cast<uint32_t>(clamped), kValueDigits)
                              .terminate();
    Reply reply;
    if (!exchange(unit.link, kDL, request, reply)) return 0;
    return result_line("command DL : %d %d %d %d\n", channel, mode, flag, clamped);
}

int get_status(UnitContext& unit, int channel, int* started, int* mode, int* flag, int* value) {
    if (!alert_channel(unit, channel) || !outputs_given(started, mode, flag, value)) return 0;
    const Frame request = Frame::ascii('D', 'J').push_small(channel).terminate();
    Reply reply;
    if (!exchange(unit.link, kDJ, request, reply)) return 0;
    const auto digits = reply.hex(6, kValueDigits);
    if (!hex_fields_read(digits)) return 0;
    *started = reply.byte(3) & 1;
    *mode = reply.byte(4) & 7;
    *flag = reply.byte(5) & 1;
    *value = static_cast<int>(*digits);
    return result_line("command DJ : %d %d %d %d %d\n", channel, *started, *mode, *flag, *value);
}

}  // namespace

}  // namespace wexo::pulse

using namespace wexo;

extern "C" int ZuWexoSetResetTime(int index, int reset_time) {
    return on_unit("ZuWexoSetResetTime", index, [&](UnitContext& unit) {
        return pulse::set_reset_time(unit, reset_time);
    });
}

extern "C" int ZuWexoDOAlertStartStop(int index, int channel, int start) {
    return on_unit("ZuWexoDOAlertStartStop", index,
                   [&](UnitContext& unit) { return pulse::start_stop(unit, channel, start); });
}

extern "C" int ZuWexoSetDOAlertConfig(int index, int channel, int mode, int flag, int value) {
    return on_unit("ZuWexoSetDOAlertConfig", index, [&](UnitContext& unit) {
        return pulse::set_config(unit, channel, mode, flag, value);
    });
}

extern "C" int ZuWexoGetDOAlertStatus(int index, int channel, int* started, int* mode, int* flag,
                                      int* value) {
    return on_unit("ZuWexoGetDOAlertStatus", index, [&](UnitContext& unit) {
        return pulse::get_status(unit, channel, started, mode, flag, value);
    });
}
