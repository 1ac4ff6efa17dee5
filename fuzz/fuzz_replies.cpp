// Every board command against a fake unit that answers with fuzzed replies.
// A unit record is connected over a socket pair; a thread on the other end
// answers each request it reads with the next reply of the input and closes
// after the last, so no call waits for a reply that will not come. The same
// thread serves the unit's pin port on loopback for the calls that read or
// set the configurable pins. The command's own decoding of the reply runs as
// the application would call it.
//
// Input: unit (model and kind; bit 7: pin firmware before 1.5), call, four
// argument bytes, then replies (a length byte 0..63, then that many bytes).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "core/state.hpp"
#include "wire/command_channel.hpp"
#include "session/identification.hpp"
#include "session/unit_context.hpp"
#include "wire/unit_socket.hpp"
#include "wexo.h"
#include "wexo_data.h"
#include "fuzz_support.hpp"

using wexofuzz::check;
using wexofuzz::loopback;

namespace {

// Units of every command variant: model code and unit kind.
struct Unit {
    int model;
    int kind;
};
constexpr Unit kUnits[] = {
    {0, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1},  // binary boards
    {0, 3}, {1, 3}, {2, 3}, {4, 3}, {6, 3},                                   // kind 3 firmware
    {17, 4}, {19, 4}, {21, 5}, {22, 5}, {25, 4}, {26, 5},                     // MI boards
    {40, 6}, {41, 6}, {42, 6}, {43, 6}, {44, 6},                              // analog boards
    {1, 1}, {2, 1},  // outputs or inputs on the module's pins
};

// The fuzzed arguments of one call.
struct Args {
    uint8_t a[4];
    int channel() const { return a[0] % 10 - 1; }  // one below and above every board's range
    int small(int i) const { return a[i] % 4; }
    int value(int i) const { return static_cast<int8_t>(a[i]) * 300; }
};

using Call = std::function<void(int index, const Args& x)>;

const std::vector<Call>& calls() {
    static const std::vector<Call> table = {
        // digital I/O
        [](int i, const Args& x) {
            int v = -1;
            if (ZuWexoInPio(i, x.channel(), &v)) {
                check(v == 0 || v == 1 || v == 2 || v == 4 || v == 8, "input neither off nor its bit");
            }
        },
        [](int i, const Args&) { unsigned b = 0; ZuWexoInPioAll(i, &b); },
        [](int i, const Args& x) { ZuWexoOutPio(i, x.channel(), x.small(1)); },
        [](int i, const Args& x) { ZuWexoOutPioAll(i, static_cast<unsigned>(x.value(1))); },
        [](int i, const Args& x) { int v = 0; ZuWexoGetOut(i, x.channel(), &v); },
        [](int i, const Args&) { unsigned b = 0; ZuWexoGetOutAll(i, &b); },
        // auto switching
        [](int i, const Args& x) { ZuWexoSetAutoSwitchingActive(i, x.small(1)); },
        [](int i, const Args&) { int v = 0; ZuWexoGetAutoSwitchingActive(i, &v); },
        [](int i, const Args& x) { ZuWexoSetAutoSwitchingPio(i, x.a[1]); },
        [](int i, const Args&) { unsigned v = 0; ZuWexoGetAutoSwitchingPio(i, &v); },
        [](int i, const Args& x) { ZuWexoSetAutoSwitchingTime(i, x.value(1) * 10); },
        [](int i, const Args&) { int v = 0; ZuWexoGetAutoSwitchingTime(i, &v); },
        [](int i, const Args& x) { ZuWexoSetAutoSwitchingChannel(i, x.channel(), x.value(1), x.value(2)); },
        [](int i, const Args& x) {
            unsigned f = 0, s = 0;
            ZuWexoGetAutoSwitchingChannel(i, x.channel(), &f, &s);
        },
        // analog inputs
        [](int i, const Args& x) {
            int v = 0;
            if (ZuWexoGetAnalogInput(i, x.channel(), &v)) {
                check(v >= -(1 << 23) && v < (1 << 23), "input count outside 24 bits");
            }
        },
        [](int i, const Args& x) {
            int v[8] = {};
            ZuWexoGetAnalogInputAll(i, x.a[1] % 10 - 1, v);
        },
        [](int i, const Args& x) {
            int r = 0;
            double v = 0;
            ZuWexoGetAnalogInputByValue(i, x.channel(), &r, &v);
        },
        [](int i, const Args& x) { int r = 0; ZuWexoGetAnalogInputRange(i, x.channel(), &r); },
        [](int i, const Args& x) { ZuWexoSetAnalogInputRange(i, x.channel(), x.a[1] % 9); },
        [](int i, const Args& x) { ZuWexoSetAnalogInputADCsps(i, x.a[1] % 18); },
        [](int i, const Args&) { int v = 0; ZuWexoGetAiTransmitCycle(i, &v); },
        [](int i, const Args& x) { ZuWexoSetAiTransmitCycle(i, x.a[1] % 10); },
        // analog outputs
        [](int i, const Args& x) { ZuWexoSetAnalogOutput(i, x.channel(), x.small(1), x.value(2)); },
        [](int i, const Args& x) {
            const int channels[2] = {x.channel(), x.a[3] % 4};
            const int modes[2] = {x.small(1), 0};
            const int raws[2] = {x.value(2), x.value(3)};
            ZuWexoSetAnalogOutputMulti(i, 1 + x.a[3] % 2, channels, modes, raws);
        },
        [](int i, const Args& x) { ZuWexoSetAnalogOutputVoltage(i, x.channel(), x.value(1) / 1000.0); },
        [](int i, const Args& x) { ZuWexoSetAnalogOutputCurrent(i, x.channel(), x.value(1) / 1000.0); },
        [](int i, const Args& x) { ZuWexoSetInitialAnalogOutput(i, x.channel(), x.small(1), x.value(2)); },
        [](int i, const Args& x) { ZuWexoSetInitialAnalogOutputVoltage(i, x.channel(), x.value(1) / 700.0); },
        [](int i, const Args& x) { ZuWexoSetInitialAnalogOutputCurrent(i, x.channel(), x.value(1) / 700.0); },
        [](int i, const Args& x) {
            int m = 0, r = 0;
            if (ZuWexoGetAnalogOutput(i, x.channel(), &m, &r)) {
                check(r >= -32768 && r <= 32767, "output value outside 16 bits");
            }
        },
        [](int i, const Args& x) {
            int m = 0;
            double v = 0;
            ZuWexoGetAnalogOutputByValue(i, x.channel(), &m, &v);
        },
        // thermocouples and thresholds
        [](int i, const Args& x) {
            ZuWexoSetTCConfig(i, x.channel(), x.a[1] % 10, x.small(2), x.small(3), x.small(1));
        },
        [](int i, const Args& x) { ZuWexoSetTCType(i, x.channel(), x.a[1] % 10); },
        [](int i, const Args& x) {
            int t = 0, f0 = 0, f1 = 0, f2 = 0;
            ZuWexoGetTCConfig(i, x.channel(), &t, &f0, &f1, &f2);
        },
        [](int i, const Args& x) {
            ZuWexoSetTCTransmitScale(i, x.channel(), x.small(1), x.value(2) / 10.0, x.value(3) / 10.0);
        },
        [](int i, const Args& x) {
            int m = 0;
            double lo = 0, hi = 0;
            ZuWexoGetTCTransmitScale(i, x.channel(), &m, &lo, &hi);
        },
        [](int i, const Args& x) {
            int e = 0, t1 = 0, t2 = 0;
            if (ZuWexoGetAnalogThresholds(i, x.channel(), &e, &t1, &t2)) {
                check(t1 >= -32768 && t1 <= 32767 && t2 >= -32768 && t2 <= 32767,
                      "threshold outside 16 bits");
            }
        },
        [](int i, const Args& x) {
            ZuWexoSetAnalogThresholds(i, x.channel(), x.small(1), x.value(2), x.value(3));
        },
        [](int i, const Args& x) { int c = 0; ZuWexoGetAiMailCondition(i, x.channel(), &c); },
        [](int i, const Args& x) { ZuWexoSetAiMailCondition(i, x.channel(), x.a[1]); },
        // parameter memory
        [](int i, const Args& x) { setPICparameter(i, x.a[1], x.value(2)); },
        [](int i, const Args& x) { unsigned v = 0; getPICparameter(i, x.a[1], x.a[2], &v); },
        [](int i, const Args& x) {
            const unsigned char request[4] = {x.a[1], x.a[2], x.a[3], 0};
            unsigned char reply[16] = {};
            getPICparameter2(i, request, 1 + x.a[0] % 4, reply, 1 + x.a[3] % 16);
        },
        [](int i, const Args& x) {
            const unsigned char request[4] = {x.a[1], x.a[2], x.a[3], 0};
            setPICparameter2(i, request, 1 + x.a[0] % 4);
        },
        // pulse mode
        [](int i, const Args& x) {
            ZuWexoPulseModeSetConfig(i, x.channel(), x.small(1), x.small(2), x.a[3] % 34);
        },
        [](int i, const Args& x) { ZuWexoPulseModeSetConfig2(i, x.small(1), x.a[2] % 34); },
        [](int i, const Args& x) { ZuWexoPulseModeSetConfigChannel(i, x.channel(), x.small(1), x.small(2)); },
        [](int i, const Args&) {
            int c = 0, u = 0, a = 0, b = 0;
            ZuWexoPulseModeGetConfig(i, &c, &u, &a, &b);
        },
        [](int i, const Args&) { int a = 0, b = 0; ZuWexoPulseModeGetConfig2(i, &a, &b); },
        [](int i, const Args& x) {
            int e = 0, u = 0;
            ZuWexoPulseModeGetConfigChannel(i, x.channel(), &e, &u);
        },
        [](int i, const Args&) { int c = 0; ZuWexoPulseModeGetCount(i, &c); },
        [](int i, const Args& x) {
            long long c = 0;
            if (ZuWexoPulseModeGetCount2(i, x.channel(), &c)) {
                check(c >= 0 && c <= 0xFFFFFFFFLL, "pulse count outside 32 bits");
            }
        },
        [](int i, const Args&) { int s = 0; ZuWexoPulseModeGetState(i, &s); },
        [](int i, const Args&) { ZuWexoPulseModeOn(i); },
        [](int i, const Args&) { ZuWexoPulseModeOff(i); },
        [](int i, const Args&) { ZuWexoPulseModeContinuesOn(i); },
        [](int i, const Args&) { ZuWexoPulseModeContinuesOff(i); },
        [](int i, const Args&) { int s = 0; ZuWexoPulseModeContinuesGetState(i, &s); },
        [](int i, const Args& x) {
            ZuWexoPulseModeSetAlart(i, x.channel(), x.small(1), static_cast<long long>(x.value(2)) << x.small(3) * 8);
        },
        [](int i, const Args&) {
            int c = 0, m = 0;
            long long v = 0;
            ZuWexoPulseModeGetAlart(i, &c, &m, &v);
        },
        // output alerts
        [](int i, const Args& x) { ZuWexoSetResetTime(i, x.value(1)); },
        [](int i, const Args& x) { ZuWexoDOAlertStartStop(i, x.channel(), x.small(1)); },
        [](int i, const Args& x) {
            ZuWexoSetDOAlertConfig(i, x.channel(), x.small(1), x.small(2), x.value(3));
        },
        [](int i, const Args& x) {
            int s = 0, m = 0, f = 0, v = 0;
            ZuWexoGetDOAlertStatus(i, x.channel(), &s, &m, &f, &v);
        },
        // EEPROM and the settings kept in it or in parameters
        [](int i, const Args& x) {
            unsigned char buffer[64] = {};
            ZuWexoReadEEPROM(i, x.a[1] * 4, x.a[2] % 66 - 1, buffer);
        },
        [](int i, const Args& x) {
            unsigned char data[64] = {};
            std::memset(data, x.a[3], sizeof data);
            ZuWexoWriteEEPROM(i, x.a[1] * 4, x.a[2] % 66 - 1, data);
        },
        [](int i, const Args&) { unsigned v = 0; ZuWexoGetDisconnectionTime(i, &v); },
        [](int i, const Args& x) { ZuWexoSetDisconnectionTime(i, x.value(1)); },
        [](int i, const Args&) { unsigned v = 0; ZuWexoGetNoticeTime(i, &v); },
        [](int i, const Args& x) { ZuWexoSetNoticeTime(i, x.value(1)); },
        [](int i, const Args&) { unsigned v = 0; ZuWexoGetResendWaitTime(i, &v); },
        [](int i, const Args& x) { ZuWexoSetResendWaitTime(i, x.value(1)); },
        [](int i, const Args&) { unsigned v = 0; ZuWexoGetDiDetectTime(i, &v); },
        [](int i, const Args& x) { ZuWexoSetDiDetectTime(i, x.value(1)); },
        [](int i, const Args&) { unsigned v = 0; ZuWexoGetDiMailLogic(i, &v); },
        [](int i, const Args& x) { ZuWexoSetDiMailLogic(i, x.value(1)); },
        // identification, serial pass-through, firmware loader
        [](int i, const Args&) {
            wexo::UnitContext unit = wexo::UnitContext::of(i);
            if (wexo::RequestIdModel_MI(unit)) {
                const wexo_device& d = xportset[i];
                check(d.model_code >= 16 && d.model_code <= 47 && d.unit_kind >= 4 &&
                          d.unit_kind <= 6 && d.board_id <= 15,
                      "MI identification out of range");
            }
        },
        [](int i, const Args& x) {
            unsigned char buffer[64] = {};
            const int got = ZuWexoReceiveSerialData(i, buffer, 1 + x.a[1] % 64);
            check(got <= 1 + x.a[1] % 64, "more serial data than asked for");
        },
        [](int i, const Args& x) {
            // count is in two-byte items
            const unsigned char data[8] = {x.a[1], x.a[2], x.a[3], x.a[0], x.a[3], x.a[2], x.a[1], x.a[0]};
            ZuWexoPicFirmwareUpdate(i, x.a[1] * 8, data, 1 + x.a[2] % 4);
        },
        // the module's configurable pins
        [](int i, const Args&) {
            int cp[3] = {-1, -1, -1};
            if (ZuWexoInCP(i, &cp[0], &cp[1], &cp[2])) {
                for (int v : cp) check(v == 0 || v == 1, "pin level not 0 or 1");
            }
        },
        [](int i, const Args& x) { ZuWexoOutCP(i, x.a[1] & 1, x.a[1] & 2, x.a[1] & 4); },
    };
    return table;
}

// The unit's pin port: a loopback listener for the whole run.
int g_pin_listener = -1;
uint16_t g_pin_port = 0;

// The unit's end of the command channel and of its pin port: each request
// read on either, and each connection to the pin port (the short form greets),
// is answered with the next reply. Once the replies run out, every answer is
// the end of the stream. Ends when the library closes its channel.
void serve(int channel, const std::vector<std::span<const uint8_t>>& replies) {
    std::size_t next = 0;
    wexo::Socket pins;
    const auto answer = [&](int fd) {
        if (next < replies.size()) {
            const auto& r = replies[next++];
            if (!r.empty()) send(fd, r.data(), r.size(), MSG_NOSIGNAL);
        }
        if (next == replies.size()) shutdown(fd, SHUT_WR);
    };
    if (replies.empty()) shutdown(channel, SHUT_WR);
    uint8_t request[512];
    for (;;) {
        pollfd p[3] = {{channel, POLLIN, 0}, {g_pin_listener, POLLIN, 0}, {pins.get(), POLLIN, 0}};
        // Bounded: the library closes its end when the call returns.
        if (poll(p, 3, 5000) <= 0) return;
        if (p[0].revents != 0) {
            if (recv(channel, request, sizeof request, 0) <= 0) return;
            answer(channel);
        }
        if ((p[1].revents & POLLIN) != 0) {
            pins = wexo::Socket(accept4(g_pin_listener, nullptr, nullptr, SOCK_CLOEXEC));
            if (pins.valid()) answer(pins.get());
        }
        if (pins.valid() && p[2].revents != 0) {
            if (recv(pins.get(), request, sizeof request, 0) <= 0) {
                pins.reset();
            } else {
                answer(pins.get());
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    wexofuzz::start_library_logging_to_null();
    g_pin_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    check(g_pin_listener >= 0 &&
              bind(g_pin_listener, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
              listen(g_pin_listener, 4) == 0 &&
              getsockname(g_pin_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0,
          "pin port");
    g_pin_port = ntohs(address.sin_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const Unit unit = kUnits[(data[0] & 0x7F) % std::size(kUnits)];
    const Call& call = calls()[data[1] % calls().size()];
    const Args args{{data[2], data[3], data[4], data[5]}};
    const auto replies = wexofuzz::pieces({data + 6, size - 6}, 63);

    int fd[2];
    check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd) == 0, "socketpair");
    // A short unit time-out: a reply that is not all there is not waited for long.
    timeval tv{0, 2000};
    setsockopt(fd[0], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    xportcount = 1;
    wexo_device& d = xportset[0];
    d = wexo_device{};
    d.connected = 1;
    d.sock = fd[0];
    wexo::reset_unit_inbox(0, fd[0], 2);
    d.model_code = unit.model;
    d.unit_kind = unit.kind;
    d.timeout_ms = 2;
    d.firm_major = 1;
    d.firm_minor = (data[0] & 0x80) != 0 ? 4 : 5;
    d.unit_addr = loopback(0);
    d.cp_port = g_pin_port;

    std::thread unit_end(serve, fd[1], std::cref(replies));
    call(0, args);
    close(fd[0]);
    unit_end.join();
    close(fd[1]);
    d.connected = 0;
    d.sock = -1;
    return 0;
}
