// Every command family against every way a unit can misbehave: each cell
// checks the result, the last-error code, the value (or that the caller's
// variable was left alone), that the call ended within its time-out budget,
// that no descriptor was left behind, and that a failed exchange changed
// nothing on the unit but what the request itself asked for.
#include <poll.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/state.hpp"
#include "session/unit_context.hpp"
#include "wire/unit_socket.hpp"
#include "test_support.hpp"
#include "wexosim.hpp"

namespace {

using wexosim::Bytes;
using wexosim::Endpoint;
using wexosim::Fault;
using wexosim::FaultKind;
using wexosim::Simulator;
using wexosim::UnitConfig;
using wexosim::UnitState;

// The unit's time-out: short where the cell waits it out eleven times, with
// room to spare where every reply must come in time.
constexpr int kFailTimeoutMs = 15;
constexpr int kPassTimeoutMs = 100;
int timeout_ms = kPassTimeoutMs;
constexpr int kUnit = 0;
constexpr const char* kIp = "10.200.0.2";
constexpr long long kUntouched = 7;  // what result variables hold before a call
std::uint16_t data_port = 0;         // the unit's, for the calls that connect by themselves

// Last-error codes the cells expect.
constexpr int kOk = 0;
constexpr int kBad = WEXO_ERR_BAD_REPLY;
constexpr int kNotConnected = WEXO_ERR_NOT_CONNECTED;
constexpr int kTimedOut = WEXO_ERR_SYSTEM_BASE + EAGAIN;
constexpr int kReset = WEXO_ERR_SYSTEM_BASE + ECONNRESET;
constexpr int kRefused = WEXO_ERR_SYSTEM_BASE + ECONNREFUSED;
constexpr int kConnectTimeout = WEXO_ERR_CONNECT_TIMEOUT;

// The columns: the simulator's reply faults, a short ASCII reply (letters and
// terminator only), a whole reply whose hex digits are not all hex digits,
// junk left on the channel before the request, and the two connect modes.
enum class Col {
    Clean, Silence, Split, Stale, Foreign, Overlong, Garbage, Close, Truncate, WrongEcho,
    Short, NotHex, Leftover, Refused, Stalled,
};
constexpr Col kCols[] = {Col::Clean,   Col::Silence,  Col::Split,     Col::Stale,  Col::Foreign,
                         Col::Overlong, Col::Garbage, Col::Close,     Col::Truncate,
                         Col::WrongEcho, Col::Short,  Col::NotHex,    Col::Leftover,
                         Col::Refused,  Col::Stalled};
const char* col_name(Col c) {
    static const char* const names[] = {"Clean",     "Silence", "Split",    "Stale",   "Foreign",
                                        "Overlong",  "Garbage", "Close",    "Truncate",
                                        "WrongEcho", "Short",   "NotHex",   "Leftover",
                                        "Refused",   "Stalled"};
    return names[static_cast<int>(c)];
}

// How a family reaches the unit, which decides the columns that apply.
enum class Path {
    Channel,    // the open command channel
    OwnTcp,     // a connection of its own per call (pins, identification)
    Udp,        // the module's configuration port
    Connect,    // the call opens the command channel itself
};

// What a cell expects: result, code, and the value on success (on failure
// the family's fail_value).
struct Expect {
    int result;
    int code;
    std::optional<long long> value{};  // instead of the family's
    const char* skip = nullptr;        // a known fault outside this area, not yet fixed
    const char* stuck = nullptr;       // likewise, why the next call fails after this one
};
constexpr Expect ok() { return {1, kOk}; }
constexpr Expect ok(long long value) { return {1, kOk, value}; }
constexpr Expect fail(int code) { return {0, code}; }
constexpr Expect known(const char* reason) { return {0, 0, {}, reason}; }
constexpr Expect stuck(Expect e, const char* reason) {
    e.stuck = reason;
    return e;
}
// A frame longer than the reader's limit is read up to the limit; the rest
// stays on the channel, where a command that does not drain first reads it
// as the start of its own reply.
constexpr const char* kOverlongRest =
    "the rest of an overlong ASCII frame stays on the channel and fails the next command "
    "that does not drain";

// A family's default outcome per column, by the way its replies are read.
using Outcomes = std::map<Col, Expect>;
// Outcomes with some columns changed, or left out where they do not apply.
Outcomes with(Outcomes base, std::initializer_list<std::pair<const Col, Expect>> changes) {
    for (const auto& [col, expect] : changes) base[col] = expect;
    return base;
}
Outcomes without(Outcomes base, std::initializer_list<Col> cols) {
    for (Col c : cols) base.erase(c);
    return base;
}

// ASCII frames of a command that drains first, failed reads keeping the
// reader's code: frames of other commands are skipped, anything without
// its letters and terminator runs into the read budget.
const Outcomes kAscii = {
    {Col::Clean, ok()},
    {Col::Silence, fail(kTimedOut)}, {Col::Split, ok()},          {Col::Stale, fail(kTimedOut)},
    {Col::Foreign, ok()},            {Col::Overlong, fail(kBad)}, {Col::Garbage, fail(kTimedOut)},
    {Col::Close, fail(kReset)},      {Col::Truncate, fail(kTimedOut)},
    {Col::WrongEcho, fail(kTimedOut)}, {Col::Short, fail(kBad)},
    {Col::Leftover, ok()},
    {Col::Refused, fail(kNotConnected)}, {Col::Stalled, fail(kNotConnected)},
};
// Binary replies of a fixed length that repeat the request's first byte.
const Outcomes kBinaryEcho = {
    {Col::Clean, ok()},
    {Col::Silence, fail(kTimedOut)}, {Col::Split, ok()},          {Col::Stale, fail(kBad)},
    {Col::Foreign, fail(kBad)},      {Col::Overlong, ok()},       {Col::Garbage, fail(kBad)},
    {Col::Close, fail(kReset)},      {Col::Truncate, fail(kTimedOut)},
    {Col::WrongEcho, fail(kBad)},    {Col::Leftover, ok()},
    {Col::Refused, fail(kNotConnected)}, {Col::Stalled, fail(kNotConnected)},
};

// The same for a command that does not drain: junk left waiting glues onto
// the reply's frame, which is then not taken.
const Outcomes kAsciiNoDrain = with(kAscii, {{Col::Leftover, fail(kTimedOut)},
                                             {Col::Overlong, stuck(fail(kBad), kOverlongRest)}});
// Analog queries: any reply that cannot be taken is code 9.
const Outcomes kAnalogQuery = with(kAscii, {{Col::Silence, fail(kBad)}, {Col::Stale, fail(kBad)},
                                            {Col::Garbage, fail(kBad)}, {Col::Close, fail(kBad)},
                                            {Col::Truncate, fail(kBad)}, {Col::WrongEcho, fail(kBad)},
                                            {Col::Leftover, fail(kBad)},
                                            {Col::Overlong, stuck(fail(kBad), kOverlongRest)}});
// The pins: a connection per call, fixed-length binary replies whose byte 1
// is the state; nothing else in them is judged, so whatever comes in front of
// the reply is read as it.
const Outcomes kPins = without(with(kBinaryEcho, {{Col::Refused, fail(kRefused)},
                                                  {Col::Stalled, fail(kConnectTimeout)},
                                                  {Col::Stale, ok()}, {Col::Foreign, ok()},
                                                  {Col::Garbage, ok()}, {Col::WrongEcho, ok()}}),
                               {Col::Leftover});
// The levels read then: byte 1 of 01 02 .., of "ai..", of the junk 5A 61 ...
const Outcomes kPinsIn = with(kPins, {{Col::Stale, ok(2)}, {Col::Foreign, ok(1)}, {Col::Garbage, ok(1)}});
// Pass-through interprets nothing: the first bytes that came, faulted or not.
const Outcomes kSerial = with(kAscii, {{Col::Stale, ok(0x01)}, {Col::Foreign, ok('a')},
                                       {Col::Overlong, ok('d')}, {Col::Garbage, ok(0x5A)},
                                       {Col::Close, ok('d')}, {Col::Truncate, ok('d')},
                                       {Col::WrongEcho, ok('e')}, {Col::Short, ok('d')}});
// The loader's answers are paced, not read: whatever comes back in time lets
// the transfer go on, and the unit commits the image it was sent.
const Outcomes kFirmware = with(kSerial, {{Col::Stale, ok()}, {Col::Foreign, ok()},
                                          {Col::Overlong, ok()}, {Col::Garbage, ok()},
                                          {Col::Close, fail(WEXO_ERR_SYSTEM_BASE + EPIPE)},
                                          {Col::Truncate, ok()}, {Col::WrongEcho, ok()},
                                          {Col::Short, ok()}});
// The two-byte binary identification carries neither an echo nor a check:
// whatever two bytes come decode to some ID and model. The cells pin down
// what they decode to.
const Outcomes kIdent = with(kPins, {{Col::Stale, ok(1400)}, {Col::Foreign, ok(1406)},
                                     {Col::Garbage, ok(505)}, {Col::WrongEcho, ok(204)}});
// Connecting a unit of unknown model identifies it first.
const Outcomes kConnect = with(kPins, {{Col::Stale, ok()}, {Col::Foreign, ok()},
                                       {Col::Garbage, ok()}, {Col::WrongEcho, ok()}});
// The configuration port: one datagram is one reply, taken only from the unit
// and only when it holds every field read from it (the setup record up to its
// second layout's port, 74 bytes); what it holds is not judged. The serial
// write sends the record back whole, so a record of 74 to 123 bytes is code 9.
const Outcomes kUdp = {
    {Col::Clean, ok()},        {Col::Silence, fail(kTimedOut)}, {Col::Split, fail(kTimedOut)},
    {Col::Stale, ok()},        {Col::Foreign, ok()},            {Col::Overlong, ok()},
    {Col::Garbage, ok()},      {Col::Close, fail(kTimedOut)},   {Col::Truncate, fail(kBad)},
    {Col::WrongEcho, ok()},
};
// A search takes every datagram of its window as a unit, checked neither for
// its length nor for its code (byte 3, 0xF7): a reply that is not one whole
// discovery reply still becomes a record, its MAC read from other bytes (or
// zero-filled). Once replies are checked, these cells find no unit (code 2).
constexpr const char* kUncheckedDiscovery =
    "discovery takes any datagram from the unit's address as a reply: the record's MAC is "
    "made of other bytes";
const Outcomes kSearch = {
    {Col::Clean, ok()},
    {Col::Silence, fail(WEXO_ERR_NOT_FOUND)},
    {Col::Split, known("every piece of a split discovery reply is listed as a unit of its own")},
    {Col::Stale, known(kUncheckedDiscovery)},
    {Col::Foreign, known(kUncheckedDiscovery)},
    {Col::Overlong, known(kUncheckedDiscovery)},
    {Col::Garbage, known(kUncheckedDiscovery)},
    {Col::Close, known(kUncheckedDiscovery)},
    {Col::Truncate, known(kUncheckedDiscovery)},
    {Col::WrongEcho, ok()},  // byte 0 is no field of the reply
};

struct Result {
    int result;
    long long value;
};

struct Family {
    const char* name = nullptr;
    UnitConfig unit{};
    int unit_kind = 0;
    Path path = Path::Channel;
    Endpoint endpoint = Endpoint::Data;
    Bytes match{};                    // the request the fault is put on
    Bytes not_hex{};                  // the NotHex column's reply: a hex field with a non-digit
    Outcomes outcomes{};
    std::function<void(Simulator&)> prepare{};
    std::function<Result(int index)> call{};
    std::function<std::string(const UnitState&)> snapshot{};
    long long value = kUntouched;     // on success
    long long fail_value = kUntouched;  // what the result variable holds after a failure
    std::string written{};            // the snapshot after the call succeeded
    bool fault_on_write = false;      // the faulted request changes the unit by itself
    int extra_ms = 0;                 // waits of the call beyond its replies
    bool repeatable = true;           // a call after a failed one starts afresh
    bool known_model = true;          // the record starts with the unit's model
};

UnitConfig board(int model, bool module = false) {
    UnitConfig u;
    u.ip = kIp;
    u.model = model;
    u.data_port = 0;
    u.module = module;
    u.udp_port = module ? 30718 : 0;
    u.pins_port = 0;
    return u;
}

std::string nothing(const UnitState&) { return {}; }
std::string outputs_of(const UnitState& s) { return std::to_string(s.outputs); }

Bytes letters(char a, char b) { return {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)}; }
// An ASCII reply: letters and payload, then the terminator.
Bytes reply(const std::string& letters_and_payload) {
    Bytes b(letters_and_payload.begin(), letters_and_payload.end());
    b.push_back(0xC8);
    return b;
}

// ---------------------------------------------------------------- the families

std::vector<Family> families() {
    std::vector<Family> f;
    f.push_back({.name = "DigitalIn", .unit = board(17), .unit_kind = 4, .match = letters('D', 'I'),
                 .outcomes = kAscii,
                 .prepare = [](Simulator& sim) { sim.set_inputs(kUnit, 0xA); },
                 .call = [](int i) {
                     unsigned bits = kUntouched;
                     return Result{ZuWexoInPioAll(i, &bits), bits};
                 },
                 .snapshot = nothing, .value = 0xA, .fail_value = 0});
    // The single-output write reads the outputs back first; the fault is on
    // that read, so a failure must leave every output as it was.
    f.push_back({.name = "DigitalOut", .unit = board(17), .unit_kind = 6, .match = letters('D', 'Y'),
                 .outcomes = kAscii,
                 .prepare = [](Simulator& sim) { sim.set_outputs(kUnit, 0x1); },
                 .call = [](int i) { return Result{ZuWexoOutPio(i, 1, 1), kUntouched}; },
                 .snapshot = outputs_of, .written = "3"});
    f.push_back({.name = "GetOutAllBinary", .unit = board(4), .match = {0xE0},
                 .outcomes = kBinaryEcho,
                 .prepare = [](Simulator& sim) { sim.set_outputs(kUnit, 0x5); },
                 .call = [](int i) {
                     unsigned bits = kUntouched;
                     return Result{ZuWexoGetOutAll(i, &bits), bits};
                 },
                 .snapshot = nothing, .value = 0x5, .fail_value = 0});
    // Auto switching reads without draining first.
    f.push_back({.name = "AutoSwitching", .unit = board(17), .unit_kind = 4, .match = letters('O', 'H'),
                 .outcomes = kAsciiNoDrain,
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) { s.auto_switching.mask = 0x5; });
                 },
                 .call = [](int i) {
                     unsigned mask = kUntouched;
                     return Result{ZuWexoGetAutoSwitchingPio(i, &mask), mask};
                 },
                 .snapshot = nothing, .value = 0x5, .fail_value = 0});
    // The pins: a connection of their own per call, binary replies that
    // repeat the request's first byte.
    f.push_back({.name = "PinsIn", .unit = board(17, true), .path = Path::OwnTcp,
                 .endpoint = Endpoint::Pins, .match = {0x13}, .outcomes = kPinsIn,
                 .prepare = [](Simulator& sim) { sim.set_pins(kUnit, 0x5); },
                 .call = [](int i) {
                     int a = kUntouched, b = kUntouched, c = kUntouched;
                     const int r = ZuWexoInCP(i, &a, &b, &c);
                     return Result{r, r ? a + 2 * b + 4 * c : a};
                 },
                 .snapshot = nothing, .value = 5});
    f.push_back({.name = "PinsOut", .unit = board(17, true), .path = Path::OwnTcp,
                 .endpoint = Endpoint::Pins, .match = {0x1B}, .outcomes = kPins,
                 .prepare = [](Simulator&) {},
                 .call = [](int i) { return Result{ZuWexoOutCP(i, 1, 1, 0), kUntouched}; },
                 .snapshot = [](const UnitState& s) { return std::to_string(s.pins); },
                 .written = "3", .fault_on_write = true});
    // Analog queries fail with code 9 whatever kept the reply from coming.
    f.push_back({.name = "AnalogIn", .unit = board(40), .unit_kind = 6, .match = letters('A', 'I'),
                 .not_hex = reply("ai\x21" "00G010"),
                 .outcomes = with(kAnalogQuery, {{Col::Foreign, fail(kBad)}, {Col::NotHex, fail(kBad)}}),
                 .prepare = [](Simulator& sim) { sim.set_analog_input(kUnit, 1, -1234); },
                 .call = [](int i) {
                     int count = kUntouched;
                     return Result{ZuWexoGetAnalogInput(i, 1, &count), count};
                 },
                 .snapshot = nothing, .value = -1234});
    f.push_back({.name = "AnalogOut", .unit = board(41), .unit_kind = 6, .match = letters('A', 'O'),
                 // The setters take any frame with their letters.
                 .outcomes = with(kAsciiNoDrain, {{Col::Short, ok()}}), .prepare = [](Simulator&) {},
                 .call = [](int i) { return Result{ZuWexoSetAnalogOutput(i, 0, 0, 1000), kUntouched}; },
                 .snapshot = [](const UnitState& s) {
                     return std::to_string(s.analog.outputs[0].value) + "/" +
                            std::to_string(s.analog.outputs[0].mode);
                 },
                 .written = "1000/0", .fault_on_write = true});
    f.push_back({.name = "Thermocouple", .unit = board(42), .unit_kind = 6, .match = letters('T', 'J'),
                 .not_hex = reply("tj\x21\x23\x25\x20" "FF3G" "0000"),
                 .outcomes = with(kAnalogQuery, {{Col::NotHex, fail(kBad)}}),
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) {
                         s.analog.inputs[1].tc_type = 3;
                         s.analog.inputs[1].tc_flags = 5;
                     });
                 },
                 .call = [](int i) {
                     int type = kUntouched, f0 = 0, f1 = 0, f2 = 0;
                     const int r = ZuWexoGetTCConfig(i, 1, &type, &f0, &f1, &f2);
                     return Result{r, r ? type * 1000 + f0 * 100 + f1 * 10 + f2 : type};
                 },
                 .snapshot = nothing, .value = 3101});
    // Setting thresholds reads the channel first: a failed read writes nothing.
    f.push_back({.name = "Thresholds", .unit = board(40), .unit_kind = 6, .match = letters('A', 'K'),
                 .not_hex = reply("ak\x21\x22" "ZZZZ" "ZZZZ"),
                 .outcomes = with(kAnalogQuery, {{Col::NotHex, fail(kBad)}}),
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) { s.analog.thresholds[1] = {2, 5, 6}; });
                 },
                 .call = [](int i) { return Result{ZuWexoSetAnalogThresholds(i, 1, 1, 100, -100), kUntouched}; },
                 .snapshot = [](const UnitState& s) {
                     const auto& t = s.analog.thresholds[1];
                     return std::to_string(t.flags) + "/" + std::to_string(t.first) + "/" +
                            std::to_string(t.second);
                 },
                 .written = "10/100/-100"});
    f.push_back({.name = "PicParameter", .unit = board(1), .match = {0x93}, .outcomes = kBinaryEcho,
                 .prepare = [](Simulator&) {},
                 .call = [](int i) { return Result{setPICparameter(i, 0x93, 9), kUntouched}; },
                 .snapshot = [](const UnitState& s) { return std::to_string(s.parameters[2]); },
                 .written = "9", .fault_on_write = true});
    f.push_back({.name = "PulseConfig", .unit = board(1), .unit_kind = 3, .match = {0xE8},
                 .outcomes = with(kBinaryEcho,
                                  {{Col::Overlong, known("a binary read takes exactly the reply's "
                                                         "length and does not notice the surplus: "
                                                         "setting b is read from junk (2062)")}}),
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) {
                         s.pulse.setting_a = 2;
                         s.pulse.setting_b = 7;
                     });
                 },
                 .call = [](int i) {
                     int a = kUntouched, b = 0;
                     const int r = ZuWexoPulseModeGetConfig2(i, &a, &b);
                     return Result{r, r ? a * 1000 + b : a};
                 },
                 .snapshot = nothing, .value = 2007});
    f.push_back({.name = "PulseCount", .unit = board(17), .unit_kind = 4, .match = letters('P', 'G'),
                 .not_hex = reply("pg\x22" "0001E24G"),
                 .outcomes = with(kAsciiNoDrain, {{Col::NotHex, fail(kBad)}}),
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) { s.pulse.channels[2].count = 123456; });
                 },
                 .call = [](int i) {
                     long long count = kUntouched;
                     return Result{ZuWexoPulseModeGetCount2(i, 2, &count), count};
                 },
                 .snapshot = nothing, .value = 123456});
    // Pulse mode on asks for the state first and never switches blind.
    f.push_back({.name = "PulseOn", .unit = board(17), .unit_kind = 4, .match = letters('P', 'J'),
                 .outcomes = kAsciiNoDrain, .prepare = [](Simulator&) {},
                 .call = [](int i) { return Result{ZuWexoPulseModeOn(i), kUntouched}; },
                 .snapshot = [](const UnitState& s) { return std::to_string(s.pulse.on); },
                 .written = "1"});
    f.push_back({.name = "OutputAlert", .unit = board(42), .unit_kind = 6, .match = letters('D', 'J'),
                 .not_hex = reply("dj\x21\x21\x22\x21" "12G4"),
                 .outcomes = with(kAnalogQuery, {{Col::NotHex, fail(kBad)}}),
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) { s.output_alerts[1] = {true, 2, true, 0x1234}; });
                 },
                 .call = [](int i) {
                     int started = kUntouched, mode = 0, flag = 0, value = 0;
                     const int r = ZuWexoGetDOAlertStatus(i, 1, &started, &mode, &flag, &value);
                     return Result{r, r ? (started * 100 + mode * 10 + flag) * 100000LL + value : started};
                 },
                 .snapshot = nothing, .value = 12104660});
    f.push_back({.name = "EepromRead", .unit = board(17), .unit_kind = 4, .match = letters('M', 'R'),
                 .not_hex = reply("mr" "0641" "1G"),
                 .outcomes = with(kAscii, {{Col::NotHex, fail(kBad)}}),
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) {
                         s.eeprom[100] = 0x11;
                         s.eeprom[101] = 0x22;
                     });
                 },
                 .call = [](int i) {
                     unsigned char bytes[2] = {0, kUntouched};
                     return Result{ZuWexoReadEEPROM(i, 100, 2, bytes), bytes[0] << 8 | bytes[1]};
                 },
                 .snapshot = nothing, .value = 0x1122});
    f.push_back({.name = "EepromWrite", .unit = board(17), .unit_kind = 4, .match = letters('M', 'W'),
                 // Its reply is at most five bytes: junk of that length ends the read.
                 .outcomes = with(kAscii, {{Col::Stale, fail(kBad)}, {Col::Garbage, fail(kBad)}}),
                 .prepare = [](Simulator&) {},
                 .call = [](int i) {
                     const unsigned char byte = 0xAB;
                     return Result{ZuWexoWriteEEPROM(i, 100, 1, &byte), kUntouched};
                 },
                 .snapshot = [](const UnitState& s) { return std::to_string(s.eeprom[100]); },
                 .written = "171", .fault_on_write = true});
    f.push_back({.name = "UnitSetting", .unit = board(1), .unit_kind = 3, .match = {0x90}, .outcomes = kBinaryEcho,
                 .prepare = [](Simulator& sim) {
                     sim.update(kUnit, [](UnitState& s) { s.parameters[2] = 9; });
                 },
                 .call = [](int i) {
                     unsigned value = kUntouched;
                     const int r = ZuWexoGetDiDetectTime(i, &value);
                     return Result{r, r ? value : kUntouched};
                 },
                 .snapshot = nothing, .value = 9});
    // One block through the board's loader: start, size, items, commit.
    f.push_back({.name = "Firmware", .unit = board(3), .match = {'@', 'W', 'E', 'X'},
                 .outcomes = kFirmware, .prepare = [](Simulator&) {},
                 .call = [](int i) {
                     const unsigned char image[] = {1, 2, 3, 4, 5, 6, 7, 8};
                     return Result{ZuWexoPicFirmwareUpdate(i, 0, image, 4), kUntouched};
                 },
                 .snapshot = [](const UnitState& s) {
                     return std::to_string(s.firmware_loads) + "/" + std::to_string(s.firmware.size());
                 },
                 // The loader of a transfer that stopped still waits for its size.
                 .written = "1/8", .repeatable = false});
    // Pass-through hands over whatever came first, faulted or not.
    f.push_back({.name = "Serial", .unit = board(17), .unit_kind = 4, .match = letters('D', 'I'),
                 .outcomes = kSerial, .prepare = [](Simulator&) {},
                 .call = [](int i) {
                     const unsigned char request[] = {'D', 'I', 0xC8};
                     unsigned char reply[16] = {};
                     if (ZuWexoSendSerialData(i, request, 3) != 3) return Result{0, kUntouched};
                     const int n = ZuWexoReceiveSerialData(i, reply, sizeof reply);
                     return Result{n > 0 ? 1 : 0, n > 0 ? reply[0] : kUntouched};
                 },
                 // What a split reply has not yet delivered goes to the next receive.
                 .snapshot = nothing, .value = 'd', .repeatable = false});
    // Identification of an unconnected unit over a connection of its own.
    f.push_back({.name = "Identification", .unit = [] {
                     UnitConfig u = board(4);
                     u.board_id = 3;
                     return u;
                 }(),
                 .path = Path::OwnTcp, .match = {0x55, 0x55}, .outcomes = kIdent,
                 .prepare = [](Simulator&) {},
                 .call = [](int i) {
                     int id = kUntouched, model = 0;
                     const int r = ZuWexoRequestIdModel(i, &id, &model);
                     return Result{r, r ? id * 100 + model : id};
                 },
                 .snapshot = nothing, .value = 304, .extra_ms = 200, .known_model = false});
    f.push_back({.name = "ModuleSerial", .unit = [] {
                     UnitConfig u = board(4, true);
                     u.setup_listener = true;
                     u.restart_ms = 1;
                     return u;
                 }(),
                 .path = Path::Udp, .endpoint = Endpoint::Udp, .match = {0, 0, 0, 0xF8},
                 .outcomes = kUdp, .prepare = [](Simulator&) {},
                 .call = [](int i) {
                     return Result{ZuWexoSetSerialParameter(i, 19200, 8, 0, 1, 0, xportset[i].data_port),
                                   kUntouched};
                 },
                 .snapshot = [](const UnitState& s) { return std::to_string(s.serial.baud); },
                 .written = "1", .extra_ms = 2500});
    f.push_back({.name = "ConnectDirect", .unit = board(4), .path = Path::Connect,
                 .match = {0x55, 0x55}, .outcomes = kConnect, .prepare = [](Simulator&) {},
                 .call = [](int) {
                     const int r = ZuWexoConnectDirect2(kIp, timeout_ms, data_port);
                     return Result{r >= 0 ? 1 : 0, r};
                 },
                 .snapshot = nothing, .value = 0, .fail_value = -1, .extra_ms = 300});
    f.push_back({.name = "Search", .unit = [] {
                     UnitConfig u = board(4, true);
                     u.data_port = 10003;
                     return u;
                 }(),
                 .path = Path::Udp, .endpoint = Endpoint::Udp, .match = {0, 0, 0, 0xF6},
                 .outcomes = kSearch, .prepare = [](Simulator&) {},
                 .call = [](int) {
                     // The count, and whether the record holds the unit's own MAC
                     // (02:57:58:00 and the last two octets of its address).
                     const int r = ZuWexoSearch(100);
                     const unsigned char mac[6] = {0x02, 0x57, 0x58, 0x00, 0x00, 0x02};
                     const bool own = r > 0 && std::equal(mac, mac + 6, xportset[0].mac_address);
                     return Result{r > 0 ? 1 : 0, r * 10 + (own ? 1 : 0)};
                 },
                 .snapshot = nothing, .value = 11, .fail_value = 0, .extra_ms = 1000});
    return f;
}

// ---------------------------------------------------------------- one cell

Fault fault_for(Col col, const Family& family) {
    Fault f;
    f.match = family.match;
    switch (col) {
        case Col::Silence: f.kind = FaultKind::Silence; break;
        case Col::Split: f.kind = FaultKind::Split; f.piece = 2; f.pause = wexosim::Millis{5}; break;
        case Col::Stale: f.kind = FaultKind::Stale; break;
        case Col::Foreign: f.kind = FaultKind::Foreign; break;
        case Col::Overlong: f.kind = FaultKind::Overlong; break;
        case Col::Garbage: f.kind = FaultKind::Garbage; break;
        case Col::Close: f.kind = FaultKind::CloseMidReply; break;
        case Col::Truncate: f.kind = FaultKind::Truncate; break;
        case Col::WrongEcho: f.kind = FaultKind::WrongEcho; break;
        case Col::NotHex: f.kind = FaultKind::Raw; f.bytes = family.not_hex; break;
        case Col::Short:
            f.kind = FaultKind::Raw;
            f.bytes = {static_cast<std::uint8_t>(family.match.at(0) + 0x20),
                       static_cast<std::uint8_t>(family.match.at(1) + 0x20), 0xC8};
            break;
        default: break;
    }
    return f;
}

struct Cell {
    const Family* family;
    Col col;
};

class FaultMatrix : public wexotest::LibraryTest, public ::testing::WithParamInterface<Cell> {
protected:
    Simulator sim;

    void TearDown() override {
        LibraryTest::TearDown();
        sim.stop();
    }

    // Waits (bounded) until the unit holds no connection of the endpoint:
    // the simulator's end of a connection closes once it sees the library's close.
    bool wait_unit_closed(Endpoint ep) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (sim.open_connections(kUnit, ep) != 0) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // A record for the unit as a search would leave it.
    int add_unit_record(const Family& family) {
        const UnitConfig& u = family.unit;
        const int index = add_record(kIp, sim.port(kUnit, Endpoint::Data),
                                     family.known_model ? u.model : -1, family.unit_kind);
        wexo_device& d = xportset[index];
        d.firm_major = static_cast<uint8_t>(u.firm_major);
        d.firm_minor = static_cast<uint8_t>(u.firm_minor);
        d.cp_port = sim.port(kUnit, Endpoint::Pins);
        EXPECT_EQ(ZuWexoSetTimeOut(index, timeout_ms), 1);
        return index;
    }
};

TEST_P(FaultMatrix, Cell) {
    const Family& family = *GetParam().family;
    const Col col = GetParam().col;
    const Expect expect = family.outcomes.at(col);
    if (expect.skip != nullptr) GTEST_SKIP() << expect.skip;
    timeout_ms = expect.result != 0 ? kPassTimeoutMs : kFailTimeoutMs;

    sim.add_unit(family.unit);
    sim.start();
    family.prepare(sim);
    data_port = sim.port(kUnit, Endpoint::Data);
    const int fds = wexotest::open_fd_count();
    const std::string fds_before = wexotest::open_fd_listing();
    const int index = family.path == Path::Connect ? 0 : add_unit_record(family);
    wexo_device& rec = xportset[index];

    const bool connect_col = col == Col::Refused || col == Col::Stalled;
    const auto mode = col == Col::Refused ? wexosim::ConnectMode::Refuse : wexosim::ConnectMode::Stall;
    if (family.path == Path::Channel) {
        if (connect_col) {
            sim.set_connect_mode(kUnit, Endpoint::Data, mode);
            EXPECT_EQ(ZuWexoConnect(index), -1);
            EXPECT_EQ(ZuWexoGetLastError(), col == Col::Refused ? kRefused : kConnectTimeout);
            sim.set_connect_mode(kUnit, Endpoint::Data, wexosim::ConnectMode::Accept);
        } else {
            ASSERT_EQ(wexo::open_command_channel(index), 1);
            rec.connected = 1;
            ASSERT_TRUE(sim.wait_accepted(kUnit, Endpoint::Data, 1));
        }
    } else if (connect_col) {
        sim.set_connect_mode(kUnit, family.endpoint, mode);
    }

    const std::string before = family.snapshot(sim.state(kUnit));
    if (col == Col::Leftover) {
        sim.send_unsolicited(kUnit, family.endpoint, {0x01, 0x02, 0x03, 0x04, 0x05});
        pollfd p{rec.sock, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 2000), 1);
    } else if (!connect_col && col != Col::Clean) {
        sim.inject(kUnit, family.endpoint, fault_for(col, family));
    }

    const auto start = std::chrono::steady_clock::now();
    const Result got = family.call(index);
    const int code = ZuWexoGetLastError();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    const std::string after = family.snapshot(sim.state(kUnit));

    SCOPED_TRACE(::testing::Message() << "got " << got.result << " code " << code << " value "
                                      << got.value << " in " << elapsed.count() << " ms");
    EXPECT_EQ(got.result, expect.result);
    // A send to a peer that closed fails with EPIPE, or with ECONNRESET once
    // the peer's reset to an earlier send has come back: which one is timing.
    const bool reset_for_pipe = expect.code == static_cast<int>(WEXO_ERR_SYSTEM_BASE + EPIPE) &&
                                code == static_cast<int>(WEXO_ERR_SYSTEM_BASE + ECONNRESET);
    if (!reset_for_pipe) {
        EXPECT_EQ(code, expect.code);
    }
    // Refused before anything is stored when the channel never opened.
    const long long fail_value =
        connect_col && family.path == Path::Channel ? kUntouched : family.fail_value;
    EXPECT_EQ(got.value, expect.value.value_or(expect.result != 0 ? family.value : fail_value));
    // A hang guard, not a speed test: eleven receive time-outs is the read budget.
    EXPECT_LT(elapsed.count(), 12 * timeout_ms + family.extra_ms + 1500);

    // What the unit holds now: unchanged after a failure, unless the faulted
    // request itself was the write (the unit took it, only its reply was lost).
    const bool took_write = expect.result != 0 || (family.fault_on_write && !connect_col);
    EXPECT_EQ(after, took_write ? family.written : before) << "the unit was changed";

    sim.clear_faults(kUnit);
    // The channel still serves: the same call without a fault succeeds (with
    // the longer time-out, so that only the channel's state can fail it).
    if (family.path == Path::Channel && family.repeatable && rec.connected && col != Col::Close &&
        expect.stuck == nullptr) {
        family.prepare(sim);
        const timeval tv{0, kPassTimeoutMs * 1000};
        ASSERT_EQ(setsockopt(rec.sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv), 0);
        const Result again = family.call(index);
        EXPECT_EQ(again.result, 1) << "the next call failed with code " << ZuWexoGetLastError();
        EXPECT_EQ(again.value, family.value);
    }
    if (connect_col) sim.set_connect_mode(kUnit, family.endpoint, wexosim::ConnectMode::Accept);
    for (int i = 0; i < xportcount; ++i) {
        if (xportset[i].connected) ZuWexoClose(i);
    }
    for (Endpoint ep : {Endpoint::Data, Endpoint::Pins, Endpoint::Setup}) {
        EXPECT_TRUE(wait_unit_closed(ep)) << wexosim::endpoint_name(ep);
    }
    // The simulator may still accept a connection the library has already
    // closed, and close it a moment later: its descriptor is not ours.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (wexotest::open_fd_count() != fds && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(wexotest::open_fd_count(), fds) << "descriptors left open; before:\n"
                                              << fds_before << "now:\n" << wexotest::open_fd_listing();
    if (expect.stuck != nullptr) GTEST_SKIP() << expect.stuck;
}

std::vector<Cell> all_cells() {
    static const std::vector<Family> table = families();
    std::vector<Cell> cells;
    for (const Family& f : table) {
        for (Col c : kCols) {
            if (f.outcomes.count(c) != 0) cells.push_back({&f, c});
        }
    }
    return cells;
}

INSTANTIATE_TEST_SUITE_P(Families, FaultMatrix, ::testing::ValuesIn(all_cells()),
                         [](const ::testing::TestParamInfo<Cell>& cell) {
                             return std::string(cell.param.family->name) + "_" +
                                    col_name(cell.param.col);
                         });

}  // namespace
