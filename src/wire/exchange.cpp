// The exchange helper every board command goes through.
#include "wire/exchange.hpp"

#include <algorithm>
#include <cstdio>

#include "core/state.hpp"

namespace wexo {

namespace {

// Lower-case hex of bytes, no separators, cut to fit out.
template <std::size_t N>
void hex_text(std::span<const uint8_t> bytes, char (&out)[N]) {
    out[0] = '\0';
    std::size_t used = 0;
    for (uint8_t b : bytes) {
        if (used + 3 > N) break;
        std::snprintf(out + used, N - used, "%02x", b);
        used += 2;
    }
}

void recv_line(Sink sink, const Command& command, int length) {
    if (command.name != nullptr && command.recv_line != nullptr) {
        sink.log(kLogError, command.recv_line, command.name, length);
    }
}

// A reply that came but cannot be taken: code 9 and the family's line.
bool refuse_reply(Sink sink, const Command& command, int length, bool too_short) {
    sink.set_error(kBadReply);
    if (command.errors == ReplyErrors::kBadReply) {
        if (too_short) recv_line(sink, command, length);
    } else if (command.name != nullptr) {
        sink.log(kLogError, "%s chk error.", command.name);
    }
    return false;
}

}  // namespace

std::optional<uint32_t> ReplyView::hex(int at, int width) const {
    if (at < 0 || at > size()) return std::nullopt;
    return hex_field(bytes_.subspan(static_cast<std::size_t>(at)), width);
}

std::optional<int32_t> ReplyView::signed_hex(int at, int width) const {
    const auto value = hex(at, width);
    if (!value) return std::nullopt;
    return sign_extend_hex(*value, width);
}

bool refuse_hex_fields() {
    set_error(kBadReply);
    return false;
}

int32_t sign_extend_hex(uint32_t value, int width) {
    if (width <= 0 || width >= 8) return static_cast<int32_t>(value);
    const int bits = 4 * width;
    const uint32_t sign = 1u << (bits - 1);
    const uint32_t mask = (1u << bits) - 1;
    value &= mask;
    return static_cast<int32_t>(value ^ sign) - static_cast<int32_t>(sign);
}

bool echo_matches(const ReplyShape& shape, std::span<const uint8_t> request,
                  std::span<const uint8_t> reply) {
    // Binary replies repeat from their first byte; ASCII replies repeat the
    // request's parameters after their two letters.
    const std::size_t from = shape.is_binary() ? 0 : 2;
    const std::size_t count = static_cast<std::size_t>(shape.echo);
    if (count == 0) return true;
    if (request.size() < from + count || reply.size() < from + count) return false;
    return std::equal(request.begin() + static_cast<long>(from),
                      request.begin() + static_cast<long>(from + count),
                      reply.begin() + static_cast<long>(from));
}

bool exchange(Link link, const Command& command, std::span<const uint8_t> request, Reply& reply) {
    const ReplyShape& shape = command.reply;
    if (command.drain == Drain::kYes) ClearReceiveBuffer(link);
    if (!send_request(link, request, command.name)) return false;

    int length = 0;
    if (shape.is_binary()) {
        length = receivedata(link, reply.data(), std::min(shape.length, kMaxAsciiReply));
    } else {
        length = receive_until_0xc8(link, reply.data(), std::min(shape.max, kMaxAsciiReply),
                                    request.data());
    }
    reply.set_length(length);
    if (length == 0) {
        recv_line(link.sink, command, 0);
        if (command.errors == ReplyErrors::kBadReply) link.sink.set_error(kBadReply);
        return false;
    }
    // Built only when shown: a call without tracing costs no formatting.
    if (command.trace != nullptr && (output_loglevel & kLogTrace) != 0) {
        command.trace(command.name, link.unit, request, reply.view());
    }
    if (length < shape.min) return refuse_reply(link.sink, command, length, true);
    if (!echo_matches(shape, request, reply.view().bytes())) {
        return refuse_reply(link.sink, command, length, false);
    }
    return true;
}

std::string reply_hex(const ReplyView& reply, int from, int count) {
    std::string text;
    for (int at = std::max(from, 0); at < from + count && at < reply.size(); ++at) {
        char digits[3];
        std::snprintf(digits, sizeof(digits), "%02x", reply.byte(at));
        text += digits;
    }
    return text;
}

void trace_request_reply(const char* name, int index, std::span<const uint8_t> request,
                         const ReplyView& reply) {
    char sent[2 * 16 + 1];
    char got[2 * 16 + 1];
    hex_text(request, sent);
    hex_text(reply.bytes(), got);
    output_log(kLogTrace, "%s %s -> %d -> %s", name, sent, index, got);
}

}  // namespace wexo
