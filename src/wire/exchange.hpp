// The one exchange every board command goes through: a command is described
// by a table row (name for its log lines, drain or not, reply shape, echo
// rule, trace line), and the exchange drains, sends, reads a bounded reply
// and checks it, returning a view with typed field readers.
//
//   constexpr Command kGetDiDI{.name = "get_di_DI", .drain = Drain::kYes,
//                              .reply = ReplyShape::ascii(), .trace = trace_di};
//   Reply reply;
//   if (!exchange(unit.link, kGetDiDI.at_least(3 + groups), request, reply)) return 0;
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "wire/command_channel.hpp"

namespace wexo {

class ReplyView;

// How a reply is framed and how much of the request it must repeat.
struct ReplyShape {
    int length = 0;         // binary: exact byte count; 0: ASCII frame up to 0xC8
    int max = kMaxAsciiReply;  // ASCII: longest frame, terminator included
    int min = 0;            // shortest acceptable reply (code 9 below it)
    int echo = 0;           // binary: leading request bytes repeated from byte 0;
                            // ASCII: request parameter bytes repeated after the letters
    static constexpr ReplyShape binary(int length, int echo = 0) {
        return {.length = length, .max = length, .min = length, .echo = echo};
    }
    static constexpr ReplyShape ascii(int min = 3, int echo = 0, int max = kMaxAsciiReply) {
        return {.length = 0, .max = max, .min = min, .echo = echo};
    }
    bool is_binary() const { return length > 0; }
};

// Writes a command's trace line (level 4) from its request and reply.
using TraceLine = void (*)(const char* name, int index, std::span<const uint8_t> request,
                           const ReplyView& reply);

// What a reply that did not come, or cannot be taken, costs. Command
// families of the board differ here, and each keeps its own lines.
enum class ReplyErrors {
    // A failed read keeps the reader's code and writes the recv line; a short
    // reply or a wrong echo is code 9 with the line "<name> chk error.".
    kReaderCode,
    // A failed read or a short reply is code 9 with the recv line; a wrong
    // echo is code 9 without a line (the analog queries).
    kBadReply,
};

struct Command {
    // Names the error lines "<name> send error.", the recv line and
    // "<name> chk error."; nullptr for commands that write none.
    const char* name = nullptr;
    Drain drain = Drain::kNo;
    ReplyShape reply{};
    TraceLine trace = nullptr;  // written after the read, before the checks
    ReplyErrors errors = ReplyErrors::kReaderCode;
    // Format of the recv line, given the name and the length read (0 when
    // the read failed); nullptr for commands that write none.
    const char* recv_line = "%s recv error.";

    // The same command needing a reply of at least n bytes (counts that
    // depend on the board, such as one data byte per group of channels).
    constexpr Command at_least(int n) const {
        Command c = *this;
        if (n > c.reply.min) c.reply.min = n;
        return c;
    }
};

// A checked reply: its bytes and readers of the fields inside. Readers never
// look past the frame: a byte beyond it reads as 0 (the length checks of the
// exchange make sure that the fields a command reads are there).
class ReplyView {
public:
    ReplyView() = default;
    explicit ReplyView(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    int size() const { return static_cast<int>(bytes_.size()); }
    std::span<const uint8_t> bytes() const { return bytes_; }
    uint8_t byte(int at) const { return at >= 0 && at < size() ? bytes_[at] : 0; }
    // A small number sent as value + 0x20.
    int small(int at) const { return byte(at) - 0x20; }
    // A hex text field of width digits (1..8) at offset at; no value when
    // the frame does not hold the field whole or a byte of it is no hex digit.
    std::optional<uint32_t> hex(int at, int width) const;
    // The same field as a two's complement number of its width.
    std::optional<int32_t> signed_hex(int at, int width) const;

private:
    std::span<const uint8_t> bytes_{};
};

// Storage for one reply, big enough for every command.
class Reply {
public:
    ReplyView view() const { return ReplyView({bytes_.data(), static_cast<std::size_t>(length_)}); }
    uint8_t* data() { return bytes_.data(); }
    void set_length(int length) { length_ = length; }
    // Shorthands of the view's readers.
    int size() const { return length_; }
    uint8_t byte(int at) const { return view().byte(at); }
    int small(int at) const { return view().small(at); }
    std::optional<uint32_t> hex(int at, int width) const { return view().hex(at, width); }
    std::optional<int32_t> signed_hex(int at, int width) const { return view().signed_hex(at, width); }

private:
    std::array<uint8_t, kMaxAsciiReply> bytes_{};
    int length_ = 0;
};

// Whether every hex field a command reads from its reply has a value; code 9
// otherwise, before anything is stored.
bool refuse_hex_fields();
template <typename... Fields>
bool hex_fields_read(const Fields&... fields) {
    return (fields.has_value() && ...) || refuse_hex_fields();
}

// Sign-extends the low `width` hex digits of value.
int32_t sign_extend_hex(uint32_t value, int width);

// Whether reply repeats what shape.echo asks of request.
bool echo_matches(const ReplyShape& shape, std::span<const uint8_t> request,
                  std::span<const uint8_t> reply);

// One exchange on the command channel of a validated unit: drain when the
// command says so, send, read by the reply shape within the channel's
// deadline, trace, then check length and echo. true with reply filled, or
// false with the code set and the command's error line written (to the
// link's sink).
bool exchange(Link link, const Command& command, std::span<const uint8_t> request, Reply& reply);

// Lower-case hex of reply bytes from..from+count-1, two digits each, no
// separators: only bytes the reply holds, so a line never shows bytes that
// were not received.
std::string reply_hex(const ReplyView& reply, int from, int count);

// The trace line most commands write: "<name> <request hex> -> <index> -> <reply hex>".
void trace_request_reply(const char* name, int index, std::span<const uint8_t> request,
                         const ReplyView& reply);

}  // namespace wexo
