// wexo serial send / recv: raw bytes through the unit's command channel.
#include <cctype>
#include <cstdint>
#include <vector>

#include "output.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

constexpr int default_size = 256;
constexpr int max_size = 65536;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
    return -1;
}

// Backslash escapes so that a shell user can send control characters.
std::vector<std::uint8_t> parse_text(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(static_cast<std::uint8_t>(text[i]));
            continue;
        }
        if (++i == text.size()) fail_usage("--text: lone backslash at the end");
        switch (text[i]) {
        case 'r': bytes.push_back('\r'); break;
        case 'n': bytes.push_back('\n'); break;
        case 't': bytes.push_back('\t'); break;
        case '0': bytes.push_back(0); break;
        case '\\': bytes.push_back('\\'); break;
        case 'x': {
            const int high = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
            if (high < 0 || low < 0) fail_usage("--text: \\x needs two hex digits");
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            i += 2;
            break;
        }
        default: fail_usage(std::string("--text: unknown escape \\") + text[i]);
        }
    }
    return bytes;
}

int receive_size(const Args& args) {
    const auto* v = args.value("size");
    return v ? static_cast<int>(parse_number(*v, "--size", 1, max_size)) : default_size;
}

// One receive within the unit's time-out.
std::vector<std::uint8_t> receive(const Unit& unit, int size) {
    auto received = api(unit)->receive(static_cast<std::size_t>(size));
    // The channel is open (the unit was connected), so "not connected" is
    // the unit closing it.
    if (received.error() == errc::not_connected) fail_unit(unit.label + " closed the connection");
    return checked(std::move(received), "ZuWexoReceiveSerialData", "nothing received from " + unit.label);
}

void write_received(Json& json, const std::vector<std::uint8_t>& data) {
    json.begin_object().field("count", static_cast<int>(data.size()));
    json.field("hex", hex_string(data.data(), data.size())).end_object();
}

std::string received_text(const std::vector<std::uint8_t>& data) {
    return "received " + std::to_string(data.size()) + " byte" + (data.size() == 1 ? "" : "s") +
           ":\n" + hex_dump(data.data(), data.size());
}

} // namespace

// "41 42", "4142", "0x41,0x42", "41:42": tokens split at blanks, commas,
// colons and dashes; a token of one or two digits is one byte, a longer one
// a run of byte pairs.
std::vector<std::uint8_t> parse_hex_bytes(const std::vector<std::string>& words, const std::string& what) {
    std::vector<std::uint8_t> bytes;
    for (const auto& word : words) {
        std::string token;
        auto flush = [&] {
            if (token.empty()) return;
            std::string digits = token;
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
                digits.erase(0, 2);
            for (char c : digits)
                if (hex_digit(c) < 0) fail_usage(what + ": '" + token + "' is not hex bytes");
            if (digits.size() <= 2) {
                bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
            } else if (digits.size() % 2 == 0) {
                for (std::size_t i = 0; i < digits.size(); i += 2)
                    bytes.push_back(static_cast<std::uint8_t>(hex_digit(digits[i]) * 16 + hex_digit(digits[i + 1])));
            } else {
                fail_usage(what + ": '" + token + "' has an odd number of hex digits");
            }
            token.clear();
        };
        for (char c : word) {
            if (c == ' ' || c == ',' || c == ':' || c == '-' || c == '\t') flush();
            else token += c;
        }
        flush();
    }
    return bytes;
}

static int cmd_serial_send(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    std::vector<std::uint8_t> data;
    if (const auto* text = ctx.args.value("text")) {
        check_arity(ctx.args, 0, 0, "serial send");
        data = parse_text(*text);
    } else {
        check_arity(ctx.args, 1, 4096, "serial send");
        data = parse_hex_bytes(ctx.args.positional, "serial send");
    }
    if (data.empty()) fail_usage("serial send: nothing to send");
    if (data.size() > static_cast<std::size_t>(max_size)) fail_usage("serial send: more than 65536 bytes");
    if (ctx.args.has("size") && !ctx.args.has("recv")) fail_usage("serial send: --size needs --recv");
    const int size = receive_size(ctx.args);

    const Unit unit = open_unit(ctx, selector, true);
    const int sent = checked(api(unit)->send(data), "ZuWexoSendSerialData", "cannot send to " + unit.label);
    if (static_cast<std::size_t>(sent) != data.size())
        warn("only " + std::to_string(sent) + " of " + std::to_string(data.size()) + " bytes were sent");
    std::vector<std::uint8_t> reply;
    if (ctx.args.has("recv")) reply = receive(unit, size);

    if (ctx.globals.json) {
        Json json;
        json.begin_object().field("sent", sent);
        if (ctx.args.has("recv")) {
            json.key("received");
            write_received(json, reply);
        }
        json.end_object();
        print_line(json.text());
    } else {
        print_line("sent " + std::to_string(sent) + " byte" + (sent == 1 ? "" : "s") + " to " + unit.label);
        if (ctx.args.has("recv")) print_text(received_text(reply));
    }
    return exit_ok;
}

static int cmd_serial_recv(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    check_arity(ctx.args, 0, 0, "serial recv");
    const int size = receive_size(ctx.args);
    const Unit unit = open_unit(ctx, selector, true);
    const auto data = receive(unit, size);
    if (ctx.globals.json) {
        Json json;
        write_received(json, data);
        print_line(json.text());
    } else {
        print_text(received_text(data));
    }
    return exit_ok;
}

void register_serial(Registry& registry) {
    registry.option({"text", "STR", "send these characters (escapes \\r \\n \\t \\\\ \\xHH) instead of hex bytes"});
    registry.option({"recv", nullptr, "after sending, wait for one reply and dump it"});
    registry.option({"size", "N", "receive at most N bytes (default 256)"});
    registry.add(
        {"serial send", "UNIT HEXBYTES... [--recv [--size N]]\nUNIT --text STR [--recv [--size N]]",
         "send raw bytes through the unit's serial channel",
         "Sends bytes on the command channel as they are, without framing. HEXBYTES may be written\n"
         "'41 42 0d', '41420d', '0x41,0x42' or '41:42'. --text sends characters with the escapes\n"
         "\\r \\n \\t \\0 \\\\ \\xHH. With --recv, one reply is awaited (up to --timeout ms) and dumped.",
         {"text", "recv", "size"}, true, cmd_serial_send});
    registry.add(
        {"serial recv", "UNIT [--size N]", "receive raw bytes from the unit's serial channel",
         "Waits up to --timeout ms for bytes from the unit and prints a hex dump of what one\n"
         "receive returned (at most --size bytes, default 256). Nothing arriving is a failure.",
         {"size"}, true, cmd_serial_recv});
}

} // namespace wexo::cli
