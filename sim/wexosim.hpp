// wexosim: a simulated WEXO I/O unit (network module + I/O board behind it).
//
// One Simulator hosts one or more units, each on its own IPv4 address, and
// serves all their sockets from one background thread. start() returns only
// after every socket is bound and listening, so callers never need to sleep.
// Every public member is thread-safe.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wexosim {

using Bytes = std::vector<std::uint8_t>;
using Millis = std::chrono::milliseconds;

// ---------------------------------------------------------------- models

// What a board of one model code offers (the counts the library's model
// table holds). Codes without a row (11..15, 48 and above) are all zero.
struct BoardModel {
    int outputs = 0;
    int inputs = 0;
    int auto_switching = 0;  // 1 binary, 2 binary (kind 3 only), 3 ASCII, else none
    int analog_outputs = 0;
    int analog_inputs = 0;
    bool thermocouple = false;  // analog inputs that take TC / TF / TJ (all but model 40)
    int pulse = 0;              // 1 parameter frames, basic set; 2 full set; 3 ASCII; else none
    // Where each unit setting lives (disconnection, notice, resend wait,
    // detect time, mail masks): 1, 2 parameter memory; 3, 4 EEPROM layout 1, 2; else none.
    std::array<int, 5> settings{};
};
BoardModel board_model(int model_code);

// How the board tells its board ID and model.
enum class IdentForm {
    Auto,            // from the model code: 0..6 and 11..15 plain, 7..10 extended,
                     // 16..31 MI extended, 32..47 MI basic
    BinaryPlain,     // 0x55 0x55 -> (model << 4) | ~id, inputs in bit 7 and byte 1
    BinaryExtended,  // 0x55 0x55 -> model pattern in bits 4..6, byte 1 = 0x7X
    MiBasic,         // "MI" -> 'm' 'i' ~id model 0xC8 (5 bytes)
    MiExtended,      // "MI" -> 'm' 'i' ~id 0x0F model 0xC8 (6 bytes)
};

// ---------------------------------------------------------------- endpoints

enum class Endpoint {
    Data,     // TCP data port: the board's command channel
    Udp,      // UDP 30718: discovery and module configuration
    Pins,     // TCP 30704: configurable pins
    PinMode,  // TCP 30718: pin mode block write (listener only, see docs)
    Setup,    // TCP 9999: setup menu (listener only, see docs)
};
const char* endpoint_name(Endpoint ep);
std::optional<Endpoint> endpoint_from_name(const std::string& name);

// What a TCP listener does with new connections.
enum class ConnectMode {
    Accept,  // normal
    Refuse,  // no listener: connects are refused at once
    Stall,   // listener whose accept queue is full: connects time out
};

// Serial settings as the module's setup record holds them.
struct SerialSettings {
    std::uint8_t flags = 0x4C;  // 8 data bits, no parity, 1 stop bit
    std::uint8_t baud = 2;      // 9600
    std::uint8_t flow = 0;
    std::uint16_t port = 0;     // data port written into the record; 0: the unit's data port
};

// The start configuration of a unit: fixed once the unit is added. What the
// unit changes while it runs (its outputs, pins, address, serial settings,
// ...) lives in UnitState.
struct UnitConfig {
    // ---- board
    std::string ip = "127.0.0.2";
    int model = 17;
    int board_id = 0;                 // 0..15
    IdentForm ident = IdentForm::Auto;
    int outputs = -1;                 // channel counts; -1: from the model table
    int inputs = -1;
    std::uint16_t data_port = 10003;  // 0: ephemeral (see Simulator::port)
    bool answer_ident = true;         // false: neither 0x55 0x55 nor "MI" is answered
    std::optional<Bytes> status_reply{};  // exact answer to 0x55 0x55, also on MI boards
                                        // (which stay silent to it otherwise)
    std::uint32_t initial_inputs = 0;
    std::uint32_t initial_outputs = 0;

    // ---- network module
    bool module = false;              // serve UDP and the pins port
    std::uint16_t udp_port = 30718;   // 0: ephemeral, no broadcast reception
    std::uint16_t pins_port = 30704;  // 0: ephemeral
    bool pinmode_listener = false;    // TCP PinMode endpoint
    std::uint16_t pinmode_port = 30718;
    bool setup_listener = true;       // TCP Setup endpoint: a module always offers it
    std::uint16_t setup_port = 9999;
    bool ignore_discovery = false;    // neither the query nor the probe is answered
    bool answer_query = true;         // 00 00 00 F6
    bool answer_probe = false;        // "WX" (a unit answering both is found twice)
    bool answer_setup_query = true;   // 00 00 00 F8
    bool answer_ident_text = true;    // 00 00 00 F4
    bool answer_cp_query = true;      // 00 00 00 E7
    std::string firm_type = "X6";     // two letters
    int firm_major = 6;               // 0..15
    int firm_minor = 1;               // 0..15; major*100+minor*10 < 150: short pin form
    std::optional<std::array<std::uint8_t, 6>> mac{};  // default 02:57:58:00:<ip octets 3,4>
    std::string ident_text = "GC-WEXO";  // up to 15 characters
    SerialSettings serial{};                // first layout (offsets 20..25)
    std::optional<SerialSettings> serial2{};  // second layout (68..73); default: as serial
    std::optional<std::array<std::uint8_t, 3>> cp_modes{};  // default: model 1 {5,7,9}, else {0,2,1}
    std::uint8_t cp_flag = 0;             // CP block byte 129
    std::optional<Bytes> setup_record{};    // exact 124-byte reply to 0xF8
    std::optional<Bytes> cp_block{};        // exact 130-byte reply to 0xE7
    Bytes pins_greeting = {0x00, 0x00, 0x00, 0x00};  // sent on connect in the short form
    std::uint8_t initial_pins = 0;        // bits 0..2: CP1..CP3
    int restart_ms = 2000;                // how long a restart keeps the module's ports down
    Bytes eeprom{};                       // initial EEPROM contents from byte 0 (at most 4096 bytes)
};

// Parses "ip=10.200.0.2,model=17,id=3,port=10003,module=on,..." (the
// executable's --unit syntax, documented in docs/simulator.md). Throws
// std::invalid_argument naming the bad key or value.
UnitConfig parse_unit_spec(const std::string& text);
std::string unit_spec_help();  // one line per key

// ---------------------------------------------------------------- auto switching

struct AutoSwitching {
    bool active = false;
    std::uint32_t mask = 0;                 // outputs taking part
    std::uint8_t time_index = 0;            // binary commands: one time for all outputs
    std::array<std::uint8_t, 16> first{};   // ASCII commands: per output, 100 ms steps
    std::array<std::uint8_t, 16> second{};
};

// ---------------------------------------------------------------- analog I/O

// Channel bytes carry three bits, so a board has at most eight analog
// channels of each kind; the model table says how many it has.
inline constexpr int kAnalogChannels = 8;

enum class Wave {
    Constant,  // count
    Ramp,      // rises from count to count + amplitude over each period, then starts again
    Sine,      // count + amplitude x sin(2 pi t / period)
};
const char* wave_name(Wave wave);
std::optional<Wave> wave_from_name(const std::string& name);

// Field values are kept as the control language and update() set them; the
// board masks them to their widths when it reports them.
struct AnalogInput {
    std::int32_t count = 0;       // signed 24 bits; the centre of a wave
    Wave wave = Wave::Constant;
    std::int32_t amplitude = 0;
    int period_ms = 1000;         // below 1: taken as 1
    int range = 0;                // 0..7 (AR / AJ)
    // Thermocouple (TC / TF / TJ)
    int tc_type = 0;              // 0..7
    int tc_flags = 0;             // 3 bits
    int tc_scale_mode = 0;        // 0..3
    int tc_low = 0, tc_high = 0;  // signed 16 bits, tenths
};
// The count an input reports `since_start` after the unit was added
// (clamped to -8388608..8388607).
std::int32_t analog_count(const AnalogInput& in, Millis since_start);

struct AnalogOutput {
    int value = 0;                // signed 16 bits (AO / AY)
    int mode = 0;                 // 0 voltage, 1 current
    int start_value = 0;          // start-up value and mode (AQ)
    int start_mode = 0;
};

// AK / AL: on the analog inputs where the model has any, else on its outputs.
struct AnalogThreshold {
    int flags = 0;                // nibble: bit 3 thresholds enabled, bits 0..1 mail condition
    int first = 0, second = 0;    // signed 16 bits
};

struct Analog {
    std::array<AnalogInput, kAnalogChannels> inputs{};
    std::array<AnalogOutput, kAnalogChannels> outputs{};
    std::array<AnalogThreshold, kAnalogChannels> thresholds{};
    int sampling_rate = 0;        // unit-wide, 0..7 (AP)
    int transmit_cycle = 0;       // unit-wide, 0..13 (AS; AJ reports it)
};

// ---------------------------------------------------------------- pulse mode, alerts, EEPROM

// Pulse counters exist per input channel; the model table says how many
// inputs a board has.
inline constexpr int kPulseChannels = 16;

struct PulseChannel {
    bool enabled = false;
    bool down = false;
    std::uint32_t count = 0;  // 32 bits, wraps; state() shows the live count
    int rate_hz = 0;          // pulses added per second on top of injected ones
};

struct Pulse {
    bool on = false;
    bool continuous = false;
    int setting_a = 0;        // 0..3
    int setting_b = 0;        // one byte (ASCII boards: 5 bits)
    std::array<PulseChannel, kPulseChannels> channels{};
    // Pulse alert (full parameter set): channel 3 bits, mode 2 bits, 32-bit value.
    int alert_channel = 0;
    int alert_mode = 0;
    std::uint32_t alert_value = 0;
};

// The output alert of model 42's two outputs (DS / DL / DJ).
struct OutputAlert {
    bool started = false;
    int mode = 0;             // 3 bits
    bool flag = false;
    int value = 0;            // 16 bits
};

inline constexpr std::size_t kEepromSize = 4096;
using Eeprom = std::array<std::uint8_t, kEepromSize>;
// Byte 73 holds the analog sampling-rate code (AP).
inline constexpr std::size_t kSamplingRateByte = 73;

// Raw 4096-byte EEPROM image files; both throw std::runtime_error.
Eeprom read_eeprom_file(const std::string& path);
void write_eeprom_file(const std::string& path, const Eeprom& eeprom);

// ---------------------------------------------------------------- faults

enum class FaultKind {
    None,           // normal reply (with `delay`, a plain delayed reply)
    Silence,        // no reply at all
    Split,          // reply in pieces of `piece` bytes, `pause` apart
    Stale,          // `bytes` (default 5 junk bytes) sent just before the reply
    Foreign,        // `bytes` (default "ai" 0x20 0x20 0xC8) sent just before the reply
    Overlong,       // `length` (default 300) bytes without 0xC8 instead of the reply
    Garbage,        // `bytes` (default: reply-sized junk without 0xC8) instead of the reply
    CloseMidReply,  // first `length` bytes (default half) then the connection closes
    Truncate,       // only the first `length` bytes (default all but the last)
    WrongEcho,      // ASCII: first letter of the reply +1; binary: byte 0 XOR 0x01
    Raw,            // exactly `bytes` instead of the reply
    Drip,           // the reply (or `bytes`) one byte at a time `pause` apart, then
                    // `length` junk bytes without 0xC8 at the same pace
    Flood,          // `frames` foreign frames `bytes` (default "ai" 0x20 0xC8), `pause`
                    // apart, instead of the reply
};
const char* fault_name(FaultKind kind);  // nullptr past the last kind
std::optional<FaultKind> fault_from_name(const std::string& name);

inline constexpr int kForever = -1;

struct Fault {
    FaultKind kind = FaultKind::None;
    int count = 1;                // replies affected; kForever: until cleared
    Millis delay{0};              // wait before anything of the reply is sent
    std::size_t piece = 1;        // Split
    Millis pause{20};             // Split, Drip, Flood
    std::size_t length = 0;       // Overlong, CloseMidReply, Truncate (0: default), Drip
    Bytes bytes{};                // Stale, Foreign, Garbage, Raw, Drip, Flood
    // Only requests starting with these bytes are affected (others pass and
    // do not use up the count). With a match the fault also applies to
    // requests the unit would not answer, so Raw can stand in for commands
    // the simulator does not know.
    Bytes match{};
    std::size_t frames = 10;      // Flood
    // UDP only: send the reply from a temporary socket bound to this local
    // IPv4 address (a foreign host answering for the unit), on the unit's UDP
    // port if that can be bound, else an ephemeral one. Empty: the unit's own socket.
    std::string source_ip{};
};

// ---------------------------------------------------------------- extension

// Answers one request frame; nullopt means no reply. Called on the
// simulator thread with its lock held: must not call back into Simulator.
using Handler = std::function<std::optional<Bytes>(const Bytes& request)>;

// ---------------------------------------------------------------- simulator

// What a running unit changes. Read with Simulator::state, changed with
// Simulator::update; it starts from the UnitConfig.
struct UnitState {
    // ---- board
    std::uint32_t inputs = 0;   // as the board reports them (model 2: bits 5,6 = CP1,CP2)
    std::uint32_t outputs = 0;  // model 1: the pins
    std::uint8_t pins = 0;      // bits 0..2: CP1..CP3
    AutoSwitching auto_switching{};
    int board_id = 0;
    int model = 0;              // also picks the identification form, if Auto
    bool answer_ident = true;
    Bytes firmware{};           // the last image the loader committed (2 bytes per item)
    int firmware_loads = 0;     // images committed so far (empty transfers change nothing)
    Analog analog{};            // analog models (40..44); sampling_rate is EEPROM byte 73
    Pulse pulse{};
    std::array<OutputAlert, 2> output_alerts{};
    int reset_time = 0;         // RSET, 0..10
    std::array<std::uint8_t, 5> parameters{};  // settings in parameter memory: 0x90 selector / 0x91 + selector
    Eeprom eeprom{};            // kept over module restarts

    // ---- network module
    std::string ip;             // address served; a change takes effect at the next restart
    std::uint16_t data_port = 0;  // data port served (the bound one once started); likewise
    SerialSettings serial{};
    SerialSettings serial2{};
    std::array<std::uint8_t, 3> cp_modes{};
    std::uint8_t cp_flag = 0;
    bool performance = false;
    bool ignore_discovery = false;
    bool answer_query = true;
    bool answer_probe = false;
    bool answer_setup_query = true;
    bool answer_ident_text = true;
    bool answer_cp_query = true;
    // Read only (update ignores changes):
    bool restarting = false;    // the module's ports are down
    int restarts = 0;           // restarts begun so far
};

// `bits` with bit `channel` (0..31, else std::out_of_range) set or cleared.
std::uint32_t with_bit(std::uint32_t bits, int channel, bool on);

class Simulator {
public:
    Simulator();
    explicit Simulator(std::vector<UnitConfig> units);  // adds the units and starts
    ~Simulator();                                        // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    int add_unit(UnitConfig config);  // before or after start(); returns the unit's number
    void start();                     // binds everything; throws std::runtime_error
    void stop();                      // closes every socket and joins the thread
    bool running() const;

    int unit_count() const;
    UnitConfig config(int unit) const;                 // the start configuration
    std::string ip(int unit) const;                    // the address served now
    std::uint16_t port(int unit, Endpoint ep) const;  // bound port, 0 if not served

    // ---- state: one generic read and one generic change
    UnitState state(int unit) const;
    // Runs `change` on the unit's state under the simulator's lock (it must
    // not call back into the Simulator). Model 1's outputs and model 2's
    // inputs 5, 6 are the pins: whichever of them `change` alters wins.
    void update(int unit, const std::function<void(UnitState&)>& change);
    // Waits until `done` holds for the unit's state (checked after every change).
    bool wait_state(int unit, const std::function<bool(const UnitState&)>& done,
                    Millis timeout = Millis{2000}) const;

    // Named shorthands over state() and update().
    void set_inputs(int unit, std::uint32_t bits) { update(unit, [&](UnitState& s) { s.inputs = bits; }); }
    void set_input(int unit, int channel, bool on) {
        update(unit, [&](UnitState& s) { s.inputs = with_bit(s.inputs, channel, on); });
    }
    std::uint32_t inputs(int unit) const { return state(unit).inputs; }
    void set_outputs(int unit, std::uint32_t bits) { update(unit, [&](UnitState& s) { s.outputs = bits; }); }
    std::uint32_t outputs(int unit) const { return state(unit).outputs; }
    // A constant count on one analog input (a running wave stops).
    void set_analog_input(int unit, int channel, std::int32_t count) {
        update(unit, [&](UnitState& s) {
            AnalogInput& in = s.analog.inputs.at(static_cast<std::size_t>(channel));
            in.count = count;
            in.wave = Wave::Constant;
        });
    }
    void set_pins(int unit, std::uint8_t bits) { update(unit, [&](UnitState& s) { s.pins = bits; }); }
    std::uint8_t pins(int unit) const { return state(unit).pins; }
    void set_auto_switching(int unit, const AutoSwitching& as) {
        update(unit, [&](UnitState& s) { s.auto_switching = as; });
    }
    AutoSwitching auto_switching(int unit) const { return state(unit).auto_switching; }
    void set_board_id(int unit, int id) { update(unit, [&](UnitState& s) { s.board_id = id; }); }
    void set_model(int unit, int model) { update(unit, [&](UnitState& s) { s.model = model; }); }
    std::array<std::uint8_t, 3> cp_modes(int unit) const { return state(unit).cp_modes; }
    void set_cp_modes(int unit, std::array<std::uint8_t, 3> m) { update(unit, [&](UnitState& s) { s.cp_modes = m; }); }
    void set_answer_ident(int unit, bool on) { update(unit, [&](UnitState& s) { s.answer_ident = on; }); }
    void set_ignore_discovery(int unit, bool on) { update(unit, [&](UnitState& s) { s.ignore_discovery = on; }); }
    void set_answer_setup_query(int unit, bool on) { update(unit, [&](UnitState& s) { s.answer_setup_query = on; }); }

    // ---- module restart: every port of the unit goes away (connections
    // closed, connects refused, datagrams ignored) for `down_time`, then
    // comes back on the state's address and data port. Configuration writes
    // restart the module by themselves, for the configured restart_ms.
    void restart_module(int unit, Millis down_time);

    // ---- faults and connection behaviour
    void inject(int unit, Endpoint ep, Fault fault);  // queued behind earlier faults
    void clear_faults(int unit, Endpoint ep);
    void clear_faults(int unit);
    std::size_t pending_faults(int unit, Endpoint ep) const;
    void set_connect_mode(int unit, Endpoint ep, ConnectMode mode);
    void close_connections(int unit, Endpoint ep);
    void send_unsolicited(int unit, Endpoint ep, Bytes bytes);  // to every open connection

    // ---- extension: add or replace a command of the board
    void set_ascii_command(int unit, const std::string& letters, Handler handler);
    void set_binary_command(int unit, std::uint8_t first, std::size_t length, Handler handler);

    // ---- observation
    std::vector<Bytes> frames(int unit, Endpoint ep) const;  // requests received, in order
    bool wait_frames(int unit, Endpoint ep, std::size_t n, Millis timeout = Millis{2000}) const;
    void clear_log(int unit);
    void clear_log(int unit, Endpoint ep);
    int accepted(int unit, Endpoint ep) const;           // TCP connections accepted
    int open_connections(int unit, Endpoint ep) const;
    bool wait_accepted(int unit, Endpoint ep, int n, Millis timeout = Millis{2000}) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Runs one control command line (the executable's control language,
// documented in docs/simulator.md) and returns its reply line(s), without
// the final newline: "ok ..." or "error ...".
std::string control_command(Simulator& sim, const std::string& line);
std::string control_help();  // one line per command

// Hex text helpers used by the control language: "E0 05" <-> bytes.
std::string to_hex(const Bytes& bytes);
Bytes from_hex(const std::string& text);  // throws std::invalid_argument

}  // namespace wexosim
