// The module's factory settings through its text setup menu on TCP 9999
// (ZuWexoSetXPortDefault), answered like a person at a terminal.
#include <cerrno>
#include <string>
#include <string_view>

#include "core/call.hpp"
#include "wire/command_channel.hpp"
#include "wire/unit_socket.hpp"
#include "module/module_config.hpp"
#include "session/unit_context.hpp"

namespace wexo {

namespace {

constexpr int kMostChunks = 250;
// Each prompt is awaited at most this many time-outs of the connection (the
// readers' budget of eleven receives): bursts with pauses between them still
// arrive, a drip of bytes cannot hold the call.
constexpr int kPromptBudget = 11;
constexpr std::size_t kChunkText = 255;  // a chunk buffer of 256 bytes with its zero
constexpr int kSettleMs = 1000;

// One byte, waiting at most one time-out and never past deadline.
long receive_byte(Link link, uint8_t& byte, const Deadline& deadline) {
    if (!link.inbox.empty()) {
        byte = link.inbox.pop();
        return 1;
    }
    return link.inbox.receive(link.sock, &byte, 1, &deadline);
}

// One chunk of text: the bytes up to a pause (a receive that times out or
// finds the end of the stream), a zero byte, 255 bytes or the deadline.
// reason gets the errno of what ended it (EAGAIN for a pause or the
// deadline, ECONNRESET for the end).
std::string read_chunk(Link link, const Deadline& deadline, int& reason) {
    std::string chunk;
    while (chunk.size() < kChunkText) {
        uint8_t byte = 0;
        const long got = receive_byte(link, byte, deadline);
        if (got <= 0) {
            reason = got == 0 ? ECONNRESET : errno;
            break;
        }
        if (byte == 0) break;
        chunk.push_back(static_cast<char>(byte));
    }
    return chunk;
}

bool send_keys(Link link, std::string_view keys) {
    ClearReceiveBuffer(link);
    // The result is not inspected: a lost key shows as the missing prompt.
    send_bytes(link.sock, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(keys.data()), keys.size()),
               nullptr);
    return true;
}

}  // namespace

int waitstring(Link link, const char* pattern) {
    const Deadline deadline = Deadline::after(link.inbox.per_receive() * kPromptBudget);
    int reason = EAGAIN;
    for (int i = 0; i < kMostChunks; ++i) {
        const std::string chunk = read_chunk(link, deadline, reason);
        if (chunk.empty()) break;
        if (chunk.find(pattern) != std::string::npos) return 1;
    }
    set_system_error(reason);
    return 0;
}

namespace {

int set_factory_defaults(UnitContext& unit) {
    Socket setup = open_unit_connection(unit, kSetupPort);
    if (!setup.valid()) return 0;
    Inbox inbox = Inbox::for_socket(setup.get());
    const Link menu{setup.get(), inbox};
    const bool walked = waitstring(menu, "Press Enter to go into Setup Mode") && send_keys(menu, "\r\n") &&
                        waitstring(menu, "Your choice") && send_keys(menu, "7\r\n") &&
                        waitstring(menu, "Your choice") && send_keys(menu, "9\r\n") &&
                        waitstring(menu, "Parameters stored ...");
    if (!walked) return 0;  // waitstring has said why
    Sleep(kSettleMs);
    return 1;
}

}  // namespace

}  // namespace wexo

using namespace wexo;

extern "C" int ZuWexoSetXPortDefault(int index) {
    return on_record("ZuWexoSetXPortDefault", index, [&](UnitContext& unit) {
        return set_factory_defaults(unit) ? result_line("ZuWexoSetXPortDefault:%d", index) : 0;
    });
}
