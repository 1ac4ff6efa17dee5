// The pulse variant and the ASCII pulse frames (PJ, PL, PH, PC, PG, PP, PS).
#include <algorithm>

#include "core/call.hpp"
#include "wire/exchange.hpp"
#include "pulse/pulse.hpp"
#include "session/unit_context.hpp"

namespace wexo::pulse {

namespace {

// The pulse frames write no error lines; a reply must hold the bytes read.
constexpr Command kQuery5{.reply = ReplyShape::ascii(5), .recv_line = nullptr};  // letters, 2 bytes, 0xC8
constexpr Command kQuery4{.reply = ReplyShape::ascii(4), .recv_line = nullptr};  // letters, 1 byte, 0xC8
constexpr Command kWrite{.reply = ReplyShape::ascii(), .recv_line = nullptr};

int send_only(UnitContext& unit, const Frame& request) {
    Reply reply;
    return exchange(unit.link, kWrite, request, reply) ? 1 : 0;
}

uint8_t channel_param(int channel) { return static_cast<uint8_t>(channel | 0x20); }

}  // namespace

std::optional<PulseVariant> variant(UnitContext& unit,
                                    std::initializer_list<PulseVariant> accepted) {
    const auto board = unit.board();
    if (!board) return std::nullopt;
    const PulseVariant v = board->pulse();
    if (!offered(std::find(accepted.begin(), accepted.end(), v) != accepted.end())) return std::nullopt;
    return v;
}

int pulse_channels(UnitContext& unit) {
    return Board(unit.rec.model_code, unit.rec.unit_kind).inputs();
}

bool channel_below_inputs(UnitContext& unit, int channel) {
    // A negative channel would reach the frames' masks as a high one and set
    // the bits of other fields.
    return offered(channel >= 0 && channel < pulse_channels(unit));
}

int status_query(UnitContext& unit, Status& status) {
    Reply reply;
    if (!exchange(unit.link, kQuery5, Frame::ascii('P', 'J').terminate(), reply)) return 0;
    status = {reply.byte(2), reply.byte(3)};
    return 1;
}

int status_write(UnitContext& unit, uint8_t s, uint8_t t) {
    return send_only(unit, Frame::ascii('P', 'L').push(s).push(t).terminate());
}

int channel_query(UnitContext& unit, int channel, int& code) {
    Reply reply;
    const Frame request = Frame::ascii('P', 'H').push(channel_param(channel)).terminate();
    if (!exchange(unit.link, kQuery5, request, reply)) return 0;
    code = reply.byte(3) & 3;
    return 1;
}

int channel_write(UnitContext& unit, int channel, uint8_t x) {
    return send_only(unit, Frame::ascii('P', 'C').push(channel_param(channel)).push(x).terminate());
}

int counter_query(UnitContext& unit, int channel, uint32_t& count) {
    Reply reply;
    const Frame request = Frame::ascii('P', 'G').push(channel_param(channel)).terminate();
    // The count field is eight hex digits; a shorter field, or one with
    // anything else in it, is no count.
    if (!exchange(unit.link, kQuery5, request, reply)) return 0;
    const auto digits = reply.hex(3, 8);
    if (!hex_fields_read(digits)) return 0;
    count = *digits;
    return 1;
}

int continuous_query(UnitContext& unit, uint8_t& c) {
    Reply reply;
    if (!exchange(unit.link, kQuery4, Frame::ascii('P', 'P').terminate(), reply)) return 0;
    c = reply.byte(2);
    return 1;
}

int continuous_write(UnitContext& unit, uint8_t on_off) {
    return send_only(unit, Frame::ascii('P', 'S').push(on_off).terminate());
}

}  // namespace wexo::pulse
