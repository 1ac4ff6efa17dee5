// Every digital I/O, pin and auto-switching call against a simulated board of
// each variant: the requests on the wire, what the call stores, the code, and
// where given the log lines.
#include <gmock/gmock.h>

#include <cerrno>
#include <functional>
#include <optional>

#include "dio_fixture.hpp"

using namespace diotest;
using wexosim::Simulator;
using wexosim::UnitConfig;

namespace {

// What a refused or failed call leaves in the caller's variable.
constexpr uint32_t kUntouched = 0xAAAA;

using Call = std::function<int(uint32_t&)>;
using Configure = std::function<void(UnitConfig&)>;
using Setup = std::function<void(Simulator&)>;

// Calls on device 0 that report one int through a pointer.
template <typename F>
Call int_out(F f) {
    return [f](uint32_t& v) {
        int x = static_cast<int>(v);
        const int r = f(&x);
        v = static_cast<uint32_t>(x);
        return r;
    };
}
Call in_pio(int ch) { return int_out([=](int* v) { return ZuWexoInPio(0, ch, v); }); }
Call in_all() { return [](uint32_t& v) { return ZuWexoInPioAll(0, &v); }; }
Call out_pio(int ch, int value) { return [=](uint32_t&) { return ZuWexoOutPio(0, ch, value); }; }
Call out_all(unsigned bits) { return [=](uint32_t&) { return ZuWexoOutPioAll(0, bits); }; }
Call get_out(int ch) { return int_out([=](int* v) { return ZuWexoGetOut(0, ch, v); }); }
Call get_out_all() { return [](uint32_t& v) { return ZuWexoGetOutAll(0, &v); }; }
Call set_active(int flag) { return [=](uint32_t&) { return ZuWexoSetAutoSwitchingActive(0, flag); }; }
Call get_active() { return int_out([](int* v) { return ZuWexoGetAutoSwitchingActive(0, v); }); }
Call set_mask(int mask) { return [=](uint32_t&) { return ZuWexoSetAutoSwitchingPio(0, mask); }; }
Call get_mask() { return [](uint32_t& v) { return ZuWexoGetAutoSwitchingPio(0, &v); }; }
Call set_time(int ms) { return [=](uint32_t&) { return ZuWexoSetAutoSwitchingTime(0, ms); }; }
Call get_time() { return int_out([](int* v) { return ZuWexoGetAutoSwitchingTime(0, v); }); }
Call set_channel(int output, int first, int second) {
    return [=](uint32_t&) { return ZuWexoSetAutoSwitchingChannel(0, output, first, second); };
}
// Both durations in one value: first << 16 | second on success, else what is
// left in the first.
Call get_channel(int output) {
    return [=](uint32_t& v) {
        unsigned first = v;
        unsigned second = v;
        const int r = ZuWexoGetAutoSwitchingChannel(0, output, &first, &second);
        v = r ? first << 16 | second : first;
        return r;
    };
}
// The three pins as bits 0 to 2.
Call in_cp() {
    return [](uint32_t& v) {
        int cp[3] = {};
        const int r = ZuWexoInCP(0, &cp[0], &cp[1], &cp[2]);
        if (r) v = static_cast<uint32_t>(cp[0] | cp[1] << 1 | cp[2] << 2);
        return r;
    };
}
Call out_cp(int cp1, int cp2, int cp3) { return [=](uint32_t&) { return ZuWexoOutCP(0, cp1, cp2, cp3); }; }

Setup inputs(uint32_t bits) { return [=](Simulator& s) { s.set_inputs(0, bits); }; }
Setup outputs(uint32_t bits) { return [=](Simulator& s) { s.set_outputs(0, bits); }; }
Setup pins(uint8_t bits) { return [=](Simulator& s) { s.set_pins(0, bits); }; }
// The board's answer to the first request starting with match, replaced.
Setup raw(Bytes reply, Bytes match = {}) {
    return [=](Simulator& s) { s.inject(0, Endpoint::Data, fault(FaultKind::Raw, reply, match)); };
}
Setup wrong_echo() { return [](Simulator& s) { s.inject(0, Endpoint::Data, fault(FaultKind::WrongEcho)); }; }
Setup switching(uint32_t mask, uint8_t time_index, int output = 0, uint8_t first = 0) {
    return [=](Simulator& s) {
        wexosim::AutoSwitching as;
        as.mask = mask;
        as.time_index = time_index;
        as.first[static_cast<std::size_t>(output)] = first;
        s.set_auto_switching(0, as);
    };
}

Configure status(Bytes reply) { return [=](UnitConfig& c) { c.status_reply = reply; }; }
Configure module(int major = 6, int minor = 1) {
    return [=](UnitConfig& c) {
        c.module = true;
        c.firm_major = major;
        c.firm_minor = minor;
    };
}
Configure pin_modes(uint8_t cp1, uint8_t cp2, uint8_t cp3) {
    return [=](UnitConfig& c) {
        c.module = true;
        c.cp_modes = std::array<uint8_t, 3>{cp1, cp2, cp3};
    };
}

struct Case {
    const char* name = "";
    int model = 0;
    int kind = 0;
    Configure configure = {};
    Setup setup = {};
    Call call = {};
    std::vector<std::string> frames = {};  // requests on `where`, in order
    int result = 1;
    uint32_t value = kUntouched;
    int code = 0;
    unsigned mask = 0;  // log mask; 0: lines not checked
    std::vector<std::string> lines = {};
    Endpoint where = Endpoint::Data;
    std::optional<int> record_model = {};  // the record's model when it differs
};

const std::string kLongRead = "13 00 00 00 00 00 00 00 00";

const Case kCases[] = {
    // ---- inputs: status exchange 0x55 0x55
    {.name = "StatusPlain", .model = 5, .configure = status({0xDE, 0x05}), .call = in_all(),
     .frames = {"55 55"}, .value = 0x0B, .mask = 15,
     .lines = {"ZuWexoInPioAll", "get_di_55 5555 -> 0 -> de05", "ZuWexoInPioAll:0:11"}},
    {.name = "StatusPlainChannel3", .model = 5, .configure = status({0xDE, 0x05}),
     .call = in_pio(3), .frames = {"55 55"}, .value = 1},
    {.name = "StatusExtended", .model = 10, .configure = status({0x3E, 0x72}), .call = in_all(),
     .frames = {"55 55"}, .value = 2},
    {.name = "StatusOfAnotherModel", .model = 3, .call = in_pio(0), .frames = {"55 55"},
     .result = 0, .code = 9, .mask = 8, .lines = {"get_di_55 model compair error."},
     .record_model = 4},
    // ---- inputs: "DI"
    {.name = "DiPlaceValue", .model = 21, .kind = 4, .setup = inputs(0x14), .call = in_pio(2),
     .frames = {"44 49 C8"}, .value = 4, .mask = 6,
     .lines = {"get_di_DI 64692421c8", "ZuWexoInPio:0:2:4"}},
    {.name = "DiSecondGroup", .model = 21, .kind = 5, .setup = inputs(0x14), .call = in_pio(4),
     .frames = {"44 49 C8"}, .value = 1},
    {.name = "DiAll", .model = 21, .kind = 6, .setup = inputs(0x14), .call = in_all(),
     .frames = {"44 49 C8"}, .value = 0x14},
    // Eight inputs need two data bytes: fewer is no answer, not "all off".
    {.name = "DiShortReply", .model = 21, .kind = 4, .setup = raw({'d', 'i', 0x2F, 0xC8}),
     .call = in_all(), .frames = {"44 49 C8"}, .result = 0, .value = 0, .code = 9},
    {.name = "DiNoDataBytes", .model = 21, .kind = 4, .setup = raw({'d', 'i', 0xC8}),
     .call = in_pio(7), .frames = {"44 49 C8"}, .result = 0, .code = 9},
    // ---- inputs: model 2
    {.name = "QueryEcHidesBit7", .model = 2, .kind = 3, .setup = raw({0xEC, 0xFF}),
     .call = in_all(), .frames = {"EC"}, .value = 0x7F},
    {.name = "QueryEcChannel6", .model = 2, .kind = 3, .setup = inputs(0x40), .call = in_pio(6),
     .frames = {"EC"}, .value = 1},
    {.name = "PinsGiveChannel6", .model = 2, .configure = module(),
     .setup = [](Simulator& s) { s.set_inputs(0, 0x01); s.set_pins(0, 0x06); },
     .call = in_pio(6), .frames = {"55 55"}, .value = 1},
    {.name = "PinsAndStatusAll", .model = 2, .configure = module(),
     .setup = [](Simulator& s) { s.set_inputs(0, 0x01); s.set_pins(0, 0x06); },
     .call = in_all(), .frames = {kLongRead}, .value = 0x41, .where = Endpoint::Pins},
    // ---- inputs: refusals before anything is sent
    {.name = "NoInputs", .model = 3, .call = in_all(), .result = 0, .code = 6},
    {.name = "NoInputsChannel0", .model = 3, .call = in_pio(0), .result = 0, .code = 6},
    {.name = "InputBelowRange", .model = 5, .call = in_pio(-1), .result = 0, .code = 6},
    {.name = "InputAboveRange", .model = 5, .call = in_pio(5), .result = 0, .code = 6},
    {.name = "ModelWithoutRow", .model = 5, .call = in_all(), .result = 0, .code = 6,
     .record_model = 48},
    // ---- outputs: binary 0xE0 / 0xF0
    {.name = "BinaryReadModifyWrite", .model = 3, .setup = outputs(0x05), .call = out_pio(4, 7),
     .frames = {"E0", "F0 15"}, .mask = 15,
     .lines = {"ZuWexoOutPio", "getpio_55 e0 -> 0 -> e005", "set_do_F0 f015 -> 0 -> f015",
               "ZuWexoOutPio:0:4:7"}},
    {.name = "BinaryAllKeepsUncoveredBits", .model = 0, .setup = raw({0xE0, 0x1C}),
     .call = out_all(0xFFFFFFFD), .frames = {"E0", "F0 1D"}},
    {.name = "BinaryReadBack", .model = 3, .setup = outputs(0x15), .call = get_out_all(),
     .frames = {"E0"}, .value = 0x15},
    {.name = "BinaryWriteNotEchoed", .model = 3, .setup = raw({0xF0, 0x14}, {0xF0}),
     .call = out_pio(4, 7), .frames = {"E0", "F0 10"}, .result = 0, .code = 9, .mask = 8,
     .lines = {"set_do_F0 chk error."}},
    {.name = "BinaryReadNotEchoed", .model = 3, .setup = wrong_echo(), .call = get_out_all(),
     .frames = {"E0"}, .result = 0, .value = 0, .code = 9, .mask = 8,
     .lines = {"getpio_55 chk error."}},
    {.name = "FailedReadBackWritesNothing", .model = 3, .setup = wrong_echo(),
     .call = out_pio(0, 1), .frames = {"E0"}, .result = 0, .code = 9},
    {.name = "Model1OnKind3UsesTheBoard", .model = 1, .kind = 3, .call = out_pio(0, 1),
     .frames = {"E0", "F0 01"}},
    // ---- outputs: ASCII
    {.name = "DkOn", .model = 17, .kind = 4, .call = out_pio(2, 1),
     .frames = {"44 4B 24 24 20 20 C8"}, .mask = 6,
     .lines = {"set_do_DK 24242020 -> 0", "ZuWexoOutPio:0:2:1"}},
    {.name = "DkOff", .model = 17, .kind = 5, .call = out_pio(2, 0),
     .frames = {"44 4B 20 24 20 20 C8"}},
    {.name = "DyThenDo", .model = 19, .kind = 4, .call = out_all(0x21),
     .frames = {"44 59 C8", "44 4F 21 22 C8"}, .mask = 4,
     .lines = {"get_do_DY 0 -> 64792020c8", "set_do_DO 2122 -> 0"}},
    {.name = "Kind6SingleOutput", .model = 40, .kind = 6, .call = out_pio(1, 1),
     .frames = {"44 59 C8", "44 4F 22 20 C8"}},
    {.name = "DyPlaceValue", .model = 17, .kind = 4, .setup = outputs(0x08), .call = get_out(3),
     .frames = {"44 59 C8"}, .value = 8},
    {.name = "DyAll", .model = 17, .kind = 4, .setup = outputs(0x08), .call = get_out_all(),
     .frames = {"44 59 C8"}, .value = 0x08},
    {.name = "DyShortReply", .model = 19, .kind = 6, .setup = raw({'d', 'y', 0x2F, 0xC8}),
     .call = get_out_all(), .frames = {"44 59 C8"}, .result = 0, .value = 0, .code = 9},
    // A short read-back sends nothing: the other outputs are not switched off.
    {.name = "DyShortReplyWritesNothing", .model = 19, .kind = 6,
     .setup = raw({'d', 'y', 0x2F, 0xC8}), .call = out_pio(1, 1), .frames = {"44 59 C8"},
     .result = 0, .code = 9},
    // ---- outputs: model 1's pins
    {.name = "PinOutput", .model = 1, .configure = module(), .setup = pins(0x01),
     .call = out_pio(2, 1), .frames = {kLongRead, "1B 07 00 00 00 05 00 00 00"},
     .where = Endpoint::Pins},
    {.name = "PinReadBack", .model = 1, .configure = module(), .setup = pins(0x04),
     .call = get_out(2), .frames = {kLongRead}, .value = 1, .where = Endpoint::Pins},
    {.name = "PinModeRefused", .model = 1, .configure = pin_modes(5, 0, 9), .call = out_pio(1, 1),
     .result = 0, .code = 6, .where = Endpoint::Pins},
    {.name = "PinModeRefusedRead", .model = 1, .configure = pin_modes(5, 0, 9), .call = get_out(1),
     .result = 0, .code = 6, .where = Endpoint::Pins},
    {.name = "PinModeNotCheckedForAll", .model = 1, .configure = pin_modes(5, 0, 9),
     .call = out_all(0x0A), .frames = {kLongRead, "1B 07 00 00 00 02 00 00 00"},
     .where = Endpoint::Pins},
    // ---- outputs: refusals
    {.name = "NoOutputs", .model = 2, .call = out_all(1), .result = 0, .code = 6},
    {.name = "NoOutputsReadBack", .model = 2, .call = get_out_all(), .result = 0, .code = 6},
    {.name = "OutputBelowRange", .model = 17, .kind = 4, .call = out_pio(-1, 1), .result = 0,
     .code = 6},
    {.name = "OutputAboveRange", .model = 17, .kind = 4, .call = get_out(4), .result = 0,
     .code = 6},
    // ---- auto switching, binary
    {.name = "TimeNegative", .model = 3, .call = set_time(-5), .frames = {"F2 00"}},
    {.name = "Time100", .model = 3, .call = set_time(100), .frames = {"F2 00"}},
    {.name = "Time101", .model = 3, .call = set_time(101), .frames = {"F2 01"}},
    {.name = "Time150", .model = 3, .call = set_time(150), .frames = {"F2 01"}, .mask = 2,
     .lines = {"ZuWexoSetAutoSwitchingTime:0:150"}},
    {.name = "Time2000", .model = 4, .call = set_time(2000), .frames = {"F2 13"}},
    {.name = "Time2001", .model = 4, .call = set_time(2001), .frames = {"F2 14"}},
    {.name = "Time15000", .model = 4, .call = set_time(15000), .frames = {"F2 20"}},
    {.name = "TimeAboveTable", .model = 4, .call = set_time(15001), .result = 0, .code = 6},
    {.name = "GetTime", .model = 3, .setup = switching(0, 0x14), .call = get_time(),
     .frames = {"E2"}, .value = 3000},
    {.name = "GetTimeBeyondTable", .model = 3, .setup = switching(0, 33), .call = get_time(),
     .frames = {"E2"}, .result = 0, .code = 9},
    {.name = "BinaryActive", .model = 3, .call = set_active(5), .frames = {"F1 01"}},
    {.name = "BinaryMask", .model = 3, .call = set_mask(0x3F), .frames = {"F3 1F"}},
    {.name = "BinaryGetMask", .model = 3, .setup = switching(0x1F, 0), .call = get_mask(),
     .frames = {"E3"}, .value = 0x1F, .mask = 3,
     .lines = {"ZuWexoGetAutoSwitchingPio", "ZuWexoGetAutoSwitchingPio:0:31"}},
    {.name = "Model0OnKind3", .model = 0, .kind = 3, .call = set_time(200), .frames = {"F2 01"}},
    {.name = "Model0OnKind0", .model = 0, .call = set_active(1), .result = 0, .code = 6},
    {.name = "Model0GetOnKind0", .model = 0, .call = get_time(), .result = 0, .code = 6},
    {.name = "NoAutoSwitching", .model = 5, .kind = 3, .call = get_mask(), .result = 0, .code = 6},
    {.name = "PerOutputNeedsAscii", .model = 0, .kind = 3, .call = set_channel(0, 500, 500),
     .result = 0, .code = 6},
    {.name = "PerOutputReadNeedsAscii", .model = 4, .call = get_channel(0), .result = 0, .code = 6},
    // ---- auto switching, ASCII
    {.name = "AsciiTimeEveryOutput", .model = 17, .kind = 4, .call = set_time(1500),
     .frames = {"4F 54 20 30 46 30 46 C8", "4F 54 21 30 46 30 46 C8", "4F 54 22 30 46 30 46 C8",
                "4F 54 23 30 46 30 46 C8"},
     .mask = 2, .lines = {"ZuWexoSetAutoSwitchingTime:0:15"}},
    {.name = "AsciiTimeBelowAStep", .model = 25, .kind = 4, .call = set_time(50),
     .frames = {"4F 54 20 30 30 30 30 C8", "4F 54 21 30 30 30 30 C8"}},
    {.name = "AsciiTimeZero", .model = 17, .kind = 4, .call = set_time(0), .result = 0, .code = 6},
    {.name = "AsciiTimeTooLong", .model = 17, .kind = 4, .call = set_time(25501), .result = 0,
     .code = 6},
    {.name = "AsciiGetTime", .model = 19, .kind = 4, .setup = switching(0xC0, 0, 6, 12),
     .call = get_time(), .frames = {"4F 48 C8", "4F 49 26 C8"}, .value = 1200},
    {.name = "AsciiGetTimeNoOutput", .model = 19, .kind = 4, .call = get_time(),
     .frames = {"4F 48 C8"}, .result = 0, .code = 9},
    {.name = "AsciiGetTimeMaskAboveOutputs", .model = 17, .kind = 4, .setup = raw({'o', 'h', 0x20, 0x2F, 0xC8}),
     .call = get_time(), .frames = {"4F 48 C8"}, .result = 0, .code = 9},
    {.name = "AsciiMask", .model = 19, .kind = 4, .call = set_mask(0x25),
     .frames = {"4F 43 25 22 C8"}},
    {.name = "AsciiMaskTwoOutputs", .model = 25, .kind = 4, .call = set_mask(0x25),
     .frames = {"4F 43 25 22 C8"}},
    {.name = "AsciiGetMask", .model = 19, .kind = 4, .setup = raw({0x6F, 0x68, 0x25, 0x22, 0xC8}),
     .call = get_mask(), .frames = {"4F 48 C8"}, .value = 0x25},
    {.name = "AsciiGetMaskEmpty", .model = 19, .kind = 4, .setup = raw({'o', 'h', 0xC8}),
     .call = get_mask(), .frames = {"4F 48 C8"}, .result = 0, .value = 0, .code = 9},
    {.name = "AsciiActiveOff", .model = 22, .kind = 5, .call = set_active(0),
     .frames = {"4F 4C 20 C8"}},
    {.name = "AsciiActiveOn", .model = 22, .kind = 5, .call = set_active(-3),
     .frames = {"4F 4C 28 C8"}},
    {.name = "AsciiGetActiveOn", .model = 22, .kind = 5, .setup = raw({'o', 'j', 0x2F, 0xC8}),
     .call = get_active(), .frames = {"4F 4A C8"}, .value = 1},
    {.name = "AsciiGetActiveOff", .model = 22, .kind = 5, .setup = raw({'o', 'j', 0x27, 0xC8}),
     .call = get_active(), .frames = {"4F 4A C8"}, .value = 0},
    {.name = "AsciiGetActiveNoFlags", .model = 22, .kind = 5, .setup = raw({'o', 'j', 0xC8}),
     .call = get_active(), .frames = {"4F 4A C8"}, .result = 0, .code = 9},
    {.name = "SetChannel", .model = 17, .kind = 4, .call = set_channel(1, 500, 1200),
     .frames = {"4F 54 21 30 35 30 43 C8"}, .mask = 2,
     .lines = {"ZuWexoSetAutoSwitchingChannel:0:1:5:12"}},
    {.name = "SetChannelBelowAStep", .model = 17, .kind = 4, .call = set_channel(1, 99, 500),
     .result = 0, .code = 6},
    {.name = "SetChannelTooLong", .model = 17, .kind = 4, .call = set_channel(1, 500, 25600),
     .result = 0, .code = 6},
    {.name = "SetChannelNoSuchOutput", .model = 17, .kind = 4, .call = set_channel(4, 500, 500),
     .result = 0, .code = 6},
    {.name = "GetChannel", .model = 17, .kind = 4,
     .setup = raw({0x6F, 0x69, 0x21, 0x30, 0x35, 0x30, 0x43, 0xC8}), .call = get_channel(1),
     .frames = {"4F 49 21 C8"}, .value = 500u << 16 | 1200, .mask = 2,
     .lines = {"ZuWexoGetAutoSwitchingChannel:0:1:500:1200"}},
    {.name = "GetChannelCutShort", .model = 17, .kind = 4,
     .setup = raw({0x6F, 0x69, 0x21, 0x30, 0x35, 0xC8}), .call = get_channel(1),
     .frames = {"4F 49 21 C8"}, .result = 0, .value = 0, .code = 9},
    {.name = "GetChannelDigitsNotHex", .model = 17, .kind = 4,
     .setup = raw({0x6F, 0x69, 0x21, 0x30, 0x35, 0x30, 0x47, 0xC8}), .call = get_channel(1),
     .frames = {"4F 49 21 C8"}, .result = 0, .value = 0, .code = 9},
    {.name = "SetRepliesNotCompared", .model = 17, .kind = 4, .setup = raw({'o', 'c', 0xC8}),
     .call = set_mask(1), .frames = {"4F 43 21 20 C8"}},
    // ---- configurable pins, both forms (the connection needs no command channel)
    {.name = "PinsReadShortForm", .model = 5, .configure = module(1, 4), .setup = pins(0x06),
     .call = in_cp(), .frames = {"03"}, .value = 6, .mask = 15,
     .lines = {"ZuWexoInCP", "getcp 03 -> 0 -> 03060000"}, .where = Endpoint::Pins},
    {.name = "PinsWriteShortForm", .model = 5, .configure = module(1, 4), .call = out_cp(5, 0, -1),
     .frames = {"02 05"}, .mask = 15, .lines = {"ZuWexoOutCP", "setcp 0205 -> 0 -> 02050000"},
     .where = Endpoint::Pins},
    {.name = "PinsReadLongForm", .model = 5, .configure = module(1, 5), .setup = pins(0x01),
     .call = in_cp(), .frames = {kLongRead}, .value = 1, .mask = 15,
     .lines = {"ZuWexoInCP", "getcp 130000000000000000 -> 0 -> 1301000000"},
     .where = Endpoint::Pins},
    {.name = "PinsWriteLongForm", .model = 5, .configure = module(1, 5), .call = out_cp(5, 0, -1),
     .frames = {"1B 07 00 00 00 05 00 00 00"}, .mask = 15,
     .lines = {"ZuWexoOutCP", "setcp 1b0700000005000000 -> 0 -> 1b05000000"},
     .where = Endpoint::Pins},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WireTest : public DioTest, public testing::WithParamInterface<Case> {};

TEST_P(WireTest, Exchange) {
    const Case& c = GetParam();
    UnitConfig config;
    config.model = c.model;
    if (c.configure) c.configure(config);
    ASSERT_EQ(connect(config, c.kind), 0);
    if (c.record_model) xportset[0].model_code = *c.record_model;
    if (c.setup) c.setup(sim);

    uint32_t value = kUntouched;
    const Logged log = logged(c.mask, [&] { return c.call(value); });
    EXPECT_EQ(log.result, c.result);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(static_cast<int>(error), c.code);
    EXPECT_EQ(frames(c.where), c.frames);
    if (c.mask != 0) {
        EXPECT_EQ(log.lines, c.lines);
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, WireTest, testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Faults on each exchange family: the call fails with the reader's or the
// check's code and the exchange's error line (none for the 0xEC query and
// the auto-switching commands), and a whole-board read leaves 0.
struct FaultCase {
    const char* name = "";
    int model = 0;
    int kind = 0;
    Fault fault = {};
    Call call = {};
    int code = 0;
    std::vector<std::string> lines = {};
    uint32_t value = kUntouched;
    Configure configure = {};
    Endpoint where = Endpoint::Data;
};

constexpr int kTimedOut = 10000 + EAGAIN;
constexpr int kReset = 10000 + ECONNRESET;
const Fault kSilence = fault(FaultKind::Silence);
const Fault kOneByte = fault(FaultKind::Truncate, {}, {}, 1);
const Fault kClose = fault(FaultKind::CloseMidReply);
const Fault kWrongEcho = fault(FaultKind::WrongEcho);
const Fault kOverlong = fault(FaultKind::Overlong);
Fault on(const Fault& f, Bytes match) {
    Fault g = f;
    g.match = std::move(match);
    return g;
}

const FaultCase kFaults[] = {
    {"StatusSilent", 5, 0, kSilence, in_all(), kTimedOut, {"get_di_55 recv error."}, 0},
    {"StatusShort", 5, 0, kOneByte, in_all(), kTimedOut, {"get_di_55 recv error."}, 0},
    {"StatusClosed", 5, 0, kClose, in_pio(0), kReset, {"get_di_55 recv error."}},
    {"DiSilent", 21, 4, kSilence, in_all(), kTimedOut, {"get_di_DI recv error."}, 0},
    {"DiWrongLetters", 21, 4, kWrongEcho, in_pio(1), kTimedOut, {"get_di_DI recv error."}},
    {"DiOverlong", 21, 5, kOverlong, in_all(), 9, {"get_di_DI recv error."}, 0},
    {"DiClosed", 21, 6, kClose, in_all(), kReset, {"get_di_DI recv error."}, 0},
    {"EcSilent", 2, 3, kSilence, in_all(), kTimedOut, {}, 0},
    {"EcShort", 2, 3, kOneByte, in_pio(0), kTimedOut, {}},
    {"E0Silent", 3, 0, kSilence, out_pio(0, 1), kTimedOut, {"getpio_55 recv error."}},
    {"E0Short", 3, 0, kOneByte, get_out_all(), kTimedOut, {"getpio_55 recv error."}, 0},
    {"F0Closed", 3, 0, on(kClose, {0xF0}), out_all(1), kReset, {"set_do_F0 recv error."}},
    {"F0WrongEcho", 3, 0, on(kWrongEcho, {0xF0}), out_all(1), 9, {"set_do_F0 chk error."}},
    {"DySilent", 19, 4, kSilence, get_out(0), kTimedOut, {"get_do_DY recv error."}},
    {"DyClosed", 19, 6, kClose, out_all(1), kReset, {"get_do_DY recv error."}},
    {"DoWrongLetters", 19, 5, on(kWrongEcho, {'D', 'O'}), out_all(1), kTimedOut,
     {"set_do_DO recv error."}},
    {"DoOverlong", 40, 6, on(kOverlong, {'D', 'O'}), out_pio(0, 1), 9, {"set_do_DO recv error."}},
    {"DkOverlong", 22, 5, kOverlong, out_pio(0, 1), 9, {"set_do_DK recv error."}},
    {"DkSilent", 22, 4, kSilence, out_pio(0, 1), kTimedOut, {"set_do_DK recv error."}},
    {"BinarySwitchSilent", 3, 0, kSilence, get_mask(), kTimedOut, {}},
    {"BinarySwitchShort", 3, 0, kOneByte, get_time(), kTimedOut, {}},
    {"BinarySwitchClosed", 3, 0, kClose, set_mask(1), kReset, {}},
    {"AsciiSwitchSilent", 17, 4, kSilence, get_mask(), kTimedOut, {}, 0},
    {"AsciiSwitchWrongLetters", 17, 4, kWrongEcho, set_active(1), kTimedOut, {}},
    {"AsciiSwitchOverlong", 17, 4, kOverlong, get_channel(0), 9, {}, 0},
    {"AsciiSwitchClosed", 17, 4, kClose, set_time(500), kReset, {}},
    {"PinsLongReplyCut", 5, 0, fault(FaultKind::Truncate, {}, {}, 4), in_cp(), kTimedOut,
     {"getcp recv error."}, kUntouched, module(1, 5), Endpoint::Pins},
    {"PinsClosed", 5, 0, kClose, out_cp(1, 1, 1), kReset, {"setcp recv error."}, kUntouched,
     module(1, 4), Endpoint::Pins},
    {"PinsSilentModel2", 2, 0, kSilence, in_pio(5), kTimedOut, {"getcp recv error."},
     kUntouched, module(), Endpoint::Pins},
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultTest : public DioTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, FailsWithCodeAndLine) {
    const FaultCase& c = GetParam();
    UnitConfig config;
    config.model = c.model;
    if (c.configure) c.configure(config);
    ASSERT_EQ(connect(config, c.kind, 60), 0);
    sim.inject(kUnit, c.where, c.fault);

    uint32_t value = kUntouched;
    const Logged log = logged(8, [&] { return c.call(value); });
    EXPECT_EQ(log.result, 0);
    EXPECT_EQ(static_cast<int>(error), c.code);
    EXPECT_EQ(log.lines, c.lines);
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, FaultTest, testing::ValuesIn(kFaults),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
