// Parameter memory access (setPICparameter, getPICparameter, getPICparameter2,
// setPICparameter2).
#include "pulse/pic_parameters.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "wire/exchange.hpp"
#include "session/unit_context.hpp"

namespace wexo {

namespace {

// "getPICparameter2 <index>:" then "xx " per request byte, "->", "xx " per
// reply byte: built as text and logged as an argument, never as a format.
void trace_parameter2(const char* name, int index, std::span<const uint8_t> request,
                      const ReplyView& reply) {
    std::string line = std::string(name) + " " + std::to_string(index) + ":";
    char digits[4];
    for (uint8_t b : request) {
        std::snprintf(digits, sizeof(digits), "%02x ", b);
        line += digits;
    }
    line += "->";
    for (uint8_t b : reply.bytes()) {
        std::snprintf(digits, sizeof(digits), "%02x ", b);
        line += digits;
    }
    output_log(kLogTrace, "%s", line.c_str());
}

constexpr Command kSetParameter{.name = "setPICparameter", .drain = Drain::kYes,
                                .reply = ReplyShape::binary(2, 2), .trace = trace_request_reply};
constexpr Command kGetParameter{.name = "getPICparameter", .drain = Drain::kYes,
                                .reply = ReplyShape::binary(2, 1), .trace = trace_request_reply};
constexpr Command kGetParameter2{.name = "getPICparameter2", .drain = Drain::kYes,
                                 .reply = ReplyShape::binary(1, 1), .trace = trace_parameter2};

bool frame_length_ok(int length) { return length >= 1 && length <= kMaxParameterFrame; }

}  // namespace

int setPICparameter_(UnitContext& unit, int code, int value) {
    const uint8_t request[] = {static_cast<uint8_t>(code), static_cast<uint8_t>(value)};
    Reply reply;
    return exchange(unit.link, kSetParameter, request, reply) ? 1 : 0;
}

int getPICparameter_(UnitContext& unit, int code, int argument, uint32_t& value) {
    const uint8_t request[] = {static_cast<uint8_t>(code), static_cast<uint8_t>(argument)};
    Reply reply;
    if (!exchange(unit.link, kGetParameter, request, reply)) return 0;
    value = reply.byte(1);
    return 1;
}

int getPICparameter2_(UnitContext& unit, std::span<const uint8_t> request,
                      std::span<uint8_t> reply) {
    Command command = kGetParameter2;
    command.reply = ReplyShape::binary(static_cast<int>(reply.size()), 1);
    Reply got;
    if (!exchange(unit.link, command, request, got)) return 0;
    std::copy_n(got.view().bytes().begin(), reply.size(), reply.begin());
    return 1;
}

int setPICparameter2_(UnitContext& unit, std::span<const uint8_t> request) {
    output_log(kLogTrace, "setPICparameter2...");
    std::array<uint8_t, kMaxParameterFrame> reply{};
    const std::span<uint8_t> echo(reply.data(), request.size());
    if (!getPICparameter2_(unit, request, echo)) return 0;
    if (!std::equal(request.begin() + 1, request.end(), echo.begin() + 1)) {
        set_error(kBadReply);
        output_log(kLogError, "setPICparameter2 chk error.");
        return 0;
    }
    return 1;
}

std::array<uint8_t, 6> six_bit_groups(uint32_t value) {
    return {static_cast<uint8_t>((value >> 30) & 0x03), static_cast<uint8_t>((value >> 24) & 0x3F),
            static_cast<uint8_t>((value >> 18) & 0x3F), static_cast<uint8_t>((value >> 12) & 0x3F),
            static_cast<uint8_t>((value >> 6) & 0x3F),  static_cast<uint8_t>(value & 0x3F)};
}

int32_t from_six_bit_groups(std::span<const uint8_t, 6> g) {
    const uint32_t value = (static_cast<uint32_t>(g[0] & 0x03) << 30) |
                           (static_cast<uint32_t>(g[1] & 0x3F) << 24) |
                           (static_cast<uint32_t>(g[2] & 0x3F) << 18) |
                           (static_cast<uint32_t>(g[3] & 0x3F) << 12) |
                           (static_cast<uint32_t>(g[4] & 0x3F) << 6) | (g[5] & 0x3Fu);
    return static_cast<int32_t>(value);
}

}  // namespace wexo

using namespace wexo;

// The four routines are exported for applications that speak to the
// parameter memory themselves; called from outside they check the unit and
// the lengths first, as every other call does.
extern "C" int setPICparameter(int index, int code, int value) {
    return guarded(0, [&] {
        return with_unit(index, [&](UnitContext& unit) {
            return setPICparameter_(unit, code, value);
        });
    });
}

extern "C" int getPICparameter(int index, int code, int argument, unsigned int* value) {
    return guarded(0, [&] {
        return with_unit(index, [&](UnitContext& unit) {
            if (!outputs_given(value)) return 0;
            uint32_t got = 0;
            if (!getPICparameter_(unit, code, argument, got)) return 0;
            *value = got;
            return 1;
        });
    });
}

extern "C" int getPICparameter2(int index, const unsigned char* request, int request_length,
                                unsigned char* reply, int reply_length) {
    return guarded(0, [&] {
        return with_unit(index, [&](UnitContext& unit) {
            if (!outputs_given(request, reply) ||
                !offered(frame_length_ok(request_length) && frame_length_ok(reply_length))) {
                return 0;
            }
            return getPICparameter2_(unit, {request, static_cast<std::size_t>(request_length)},
                                     {reply, static_cast<std::size_t>(reply_length)});
        });
    });
}

extern "C" int setPICparameter2(int index, const unsigned char* request, int length) {
    return guarded(0, [&] {
        return with_unit(index, [&](UnitContext& unit) {
            if (!outputs_given(request) || !offered(frame_length_ok(length))) return 0;
            return setPICparameter2_(unit, {request, static_cast<std::size_t>(length)});
        });
    });
}
