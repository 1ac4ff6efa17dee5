#include "module/configurable_pins.hpp"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "core/call.hpp"
#include "core/state.hpp"
#include "wire/command_channel.hpp"
#include "wire/exchange.hpp"
#include "wire/unit_socket.hpp"
#include "session/unit_context.hpp"

namespace wexo {

namespace {

constexpr uint8_t kShortRead = 0x03;
constexpr uint8_t kShortWrite = 0x02;
constexpr uint8_t kLongRead = 0x13;
constexpr uint8_t kLongWrite = 0x1B;
// The module's greeting in the short form is at most this long.
constexpr int kGreetingMax = 7;

// One pin exchange on a connection of its own: greeting (short form),
// request, fixed-length reply, trace line "<name> <request> -> <index> -> <reply>".
// Only byte 1 of a reply (the state) means anything; the rest is not judged.
bool pin_exchange(UnitContext& unit, bool long_form, const Frame& request, uint8_t* reply,
                  const char* name) {
    const int reply_length = cp_reply_length(long_form);

    Socket sock = open_unit_connection(unit, unit.rec.cp_port);
    if (!sock.valid()) return false;
    Inbox inbox = Inbox::for_socket(sock.get());
    const Link link{sock.get(), inbox};

    if (!long_form) {
        uint8_t greeting[kGreetingMax];
        const long got = receive_some(link, greeting, sizeof greeting);
        if (got <= 0) {
            // A module that hangs up before greeting will not answer a request either.
            set_system_error(got < 0 ? errno : ECONNRESET);
            return false;
        }
    }

    if (!send_bytes(sock.get(), request.bytes(), name)) return false;

    if (receivedata(link, reply, reply_length) != reply_length) {
        output_log(kLogError, "%s recv error.", name);
        return false;
    }
    trace_request_reply(name, unit.index, request,
                        ReplyView({reply, static_cast<std::size_t>(reply_length)}));
    return true;
}

}  // namespace

bool cp_long_form(const wexo_device& device) {
    return device.firm_major * 100 + device.firm_minor * 10 >= 150;
}

Frame cp_read_request(bool long_form) {
    if (!long_form) return Frame{kShortRead};
    return Frame{kLongRead, 0, 0, 0, 0, 0, 0, 0, 0};
}

Frame cp_write_request(bool long_form, uint8_t state) {
    if (!long_form) return Frame{kShortWrite, state};
    // Mask 7 (all three pins), then the value, both 32-bit little-endian.
    return Frame{kLongWrite, 0x07, 0, 0, 0, state, 0, 0, 0};
}

int cp_reply_length(bool long_form) { return long_form ? 5 : 4; }

uint8_t cp_state(int cp1, int cp2, int cp3) {
    return static_cast<uint8_t>((cp1 != 0 ? 1 : 0) | (cp2 != 0 ? 2 : 0) | (cp3 != 0 ? 4 : 0));
}

int getcp(UnitContext& unit, int* cp1, int* cp2, int* cp3) {
    const bool long_form = cp_long_form(unit.rec);
    uint8_t reply[5] = {};
    if (!pin_exchange(unit, long_form, cp_read_request(long_form), reply, "getcp")) return 0;
    *cp1 = reply[1] & 1;
    *cp2 = (reply[1] >> 1) & 1;
    *cp3 = (reply[1] >> 2) & 1;
    return 1;
}

int setcp(UnitContext& unit, int cp1, int cp2, int cp3) {
    const bool long_form = cp_long_form(unit.rec);
    const Frame request = cp_write_request(long_form, cp_state(cp1, cp2, cp3));
    uint8_t reply[5] = {};
    return pin_exchange(unit, long_form, request, reply, "setcp") ? 1 : 0;
}

}  // namespace wexo

using namespace wexo;

extern "C" int ZuWexoInCP(int index, int* cp1, int* cp2, int* cp3) {
    return on_record("ZuWexoInCP", index, [&](UnitContext& unit) {
        return outputs_given(cp1, cp2, cp3) ? getcp(unit, cp1, cp2, cp3) : 0;
    });
}

extern "C" int ZuWexoOutCP(int index, int cp1, int cp2, int cp3) {
    return on_record("ZuWexoOutCP", index, [&](UnitContext& unit) {
        return setcp(unit, cp1, cp2, cp3);
    });
}
