// Serial pass-through: raw bytes on a unit's command channel
// (ZuWexoSendSerialData, ZuWexoReceiveSerialData).
#include "session/serial_data.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "core/call.hpp"
#include "core/state.hpp"
#include "session/unit_context.hpp"
#include "wire/command_channel.hpp"

namespace wexo {

namespace {

// Up to the first four bytes as hex for the trace lines; fewer when fewer
// were sent or received, so the line never shows bytes that are not there.
struct TraceBytes {
    char text[9] = {};
    TraceBytes(const uint8_t* bytes, long count) {
        const long shown = std::clamp(count, 0L, 4L);
        for (long i = 0; i < shown; ++i) {
            std::snprintf(text + 2 * i, sizeof(text) - static_cast<std::size_t>(2 * i), "%02x",
                          bytes[i]);
        }
    }
};

// The serial calls need the unit's own open channel: a closed record's sock
// is stale and may by now be another descriptor of the process.
bool check_serial_call(int index, const void* bytes, int count) {
    if (!check_common(index, 0)) return false;
    if (!record(index).connected) {
        set_error(kNotConnected);
        return false;
    }
    if (count < 0 || (count > 0 && bytes == nullptr)) {
        set_error(kNotPossible);
        return false;
    }
    return true;
}

}  // namespace

int send_serial_data(UnitContext& unit, const uint8_t* data, int length, bool quick) {
    const Link link = unit.link;
    if (quick) {
        DiscardWaiting(link);
    } else {
        ClearReceiveBuffer(link);
    }
    const ssize_t sent = ::send(link.sock, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (sent < 0) {
        set_system_error(errno);
        return 0;
    }
    output_log(kLogTrace, "sendserial %d:%s... -> %d", length, TraceBytes(data, sent).text,
               unit.index);
    return static_cast<int>(sent);
}

int receive_serial_data(UnitContext& unit, uint8_t* buffer, int size) {
    // One receive, bounded by the time-out the channel was opened with
    // (EAGAIN when it runs out).
    const long received = receive_some(unit.link, buffer, static_cast<std::size_t>(size));
    if (received < 0) {
        set_system_error(errno);
        return 0;
    }
    // received == 0: the unit closed the connection, which is no error.
    output_log(kLogTrace, "recvserial %d -> %d:%s...", unit.index, size,
               TraceBytes(buffer, received).text);
    return static_cast<int>(received);
}

}  // namespace wexo

extern "C" WEXO_API int ZuWexoSendSerialData(int index, const unsigned char* data, int length) {
    return wexo::api_call("ZuWexoSendSerialData", 0, [&] {
        if (!wexo::check_serial_call(index, data, length)) return 0;
        wexo::UnitContext unit = wexo::UnitContext::of(index);
        return wexo::send_serial_data(unit, data, length);
    });
}

extern "C" WEXO_API int ZuWexoReceiveSerialData(int index, unsigned char* buffer, int size) {
    return wexo::api_call("ZuWexoReceiveSerialData", 0, [&] {
        if (!wexo::check_serial_call(index, buffer, size)) return 0;
        wexo::UnitContext unit = wexo::UnitContext::of(index);
        return wexo::receive_serial_data(unit, buffer, size);
    });
}
