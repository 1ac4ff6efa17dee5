// libWEXO C++ API: a header-only layer over the C calls of <wexo.h>.
//
//     wexo::Library lib;                              // ZuWexoInit ... ZuWexoEnd
//     if (auto n = lib.search(); !n) return fail(n.error());
//     wexo::result<wexo::Unit> unit = lib.connect(0);
//     if (!unit) return fail(unit.error());
//     wexo::result<std::uint32_t> in = unit->inputs();
//     if (in) std::printf("inputs 0x%02X\n", *in);
//     else std::puts(in.error().message().c_str());  // "the unit's command channel is not open"
//
// Every call returns a wexo::result<T>: the value, or the std::error_code of
// the library's last-error code in wexo::category(). Nothing throws unless
// the caller asks for it with result::value(), which exists only where
// exceptions are enabled. The objects are views over the library's global
// device table: the rules of <wexo.h> hold (one Library at a time; no two
// calls on one unit at once; no use of the table while a search runs).
//
// Needs C++17 or later. Link with the library as for the C calls.
#ifndef WEXO_HPP
#define WEXO_HPP

#if __cplusplus < 201703L
#error "<wexo.hpp> needs C++17 or later"
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include <arpa/inet.h>

#include "wexo.h"

#if defined(__cpp_exceptions)
#include <exception>
#endif

namespace wexo {

// ------------------------------------------------------------------ errors

// The library's last-error codes. Codes of 10000 and above are an errno
// value plus 10000; a few of them are named here, every other one is
// reached as std::error_code{10000 + errno, wexo::category()}.
enum class errc {
    not_initialized = WEXO_ERR_NOT_INITIALIZED,  // no Library alive
    not_found = WEXO_ERR_NOT_FOUND,              // a search found no unit
    index_range = WEXO_ERR_INDEX_RANGE,          // device index not in the table
    no_match = WEXO_ERR_NO_MATCH,                // no unit matches, or it did not answer
    not_connected = WEXO_ERR_NOT_CONNECTED,      // the unit's command channel is not open
    not_possible = WEXO_ERR_NOT_POSSIBLE,        // not offered by the model, or out of range
    already = WEXO_ERR_ALREADY,                  // already connected, or a configuration failed
    table_full = WEXO_ERR_TABLE_FULL,            // the device table is full
    bad_reply = WEXO_ERR_BAD_REPLY,              // unexpected or malformed reply
    receive_timeout = WEXO_ERR_SYSTEM_BASE + EAGAIN,     // a reply did not come in time
    connection_reset = WEXO_ERR_SYSTEM_BASE + ECONNRESET,  // the unit hung up
    connect_timeout = WEXO_ERR_CONNECT_TIMEOUT,           // a TCP connect did not complete
    cancelled = WEXO_ERR_SYSTEM_BASE + ECANCELED,         // a progress callback cancelled
    invalid_argument = WEXO_ERR_SYSTEM_BASE + EINVAL,     // text that names nothing (an address)
};

// The "wexo" error category: message(code) is wexo_strerror(code). Codes of
// 10000 and above are equivalent to the errno value's std::errc, so
// `ec == std::errc::connection_refused` holds for code 10111.
class Category final : public std::error_category {
public:
    const char* name() const noexcept override { return "wexo"; }
    std::string message(int code) const override { return wexo_strerror(code); }
    std::error_condition default_error_condition(int code) const noexcept override {
        if (code >= WEXO_ERR_SYSTEM_BASE) return {code - WEXO_ERR_SYSTEM_BASE, std::generic_category()};
        return {code, *this};
    }
};

// The one instance of the category.
inline const std::error_category& category() noexcept {
    static const Category instance;
    return instance;
}

inline std::error_code make_error_code(errc e) noexcept { return {static_cast<int>(e), category()}; }

}  // namespace wexo

namespace std {
template <>
struct is_error_code_enum<wexo::errc> : true_type {};
}  // namespace std

namespace wexo {

#if defined(__cpp_exceptions)
// Thrown by result::value() on a failed result; code() is the library's code.
class error : public std::system_error {
public:
    explicit error(std::error_code code) : std::system_error(code) {}
};
#endif

// The value of a call, or why it failed. Test it as a bool, then read the
// value with * or ->; error() gives the code of a failed call (an empty
// std::error_code on success). Reading the value of a failed result is
// undefined, as with std::optional; value() checks and throws wexo::error.
template <typename T>
class result {
public:
    result(T value) : value_(std::move(value)) {}
    result(std::error_code code) : code_(code) {}
    result(errc code) : code_(code) {}

    bool has_value() const noexcept { return value_.has_value(); }
    explicit operator bool() const noexcept { return has_value(); }
    const std::error_code& error() const noexcept { return code_; }

    T& operator*() & noexcept { return *value_; }
    const T& operator*() const& noexcept { return *value_; }
    T&& operator*() && noexcept { return std::move(*value_); }
    T* operator->() noexcept { return &*value_; }
    const T* operator->() const noexcept { return &*value_; }

    // The value, or fallback when the call failed.
    template <typename U>
    T value_or(U&& fallback) const& {
        return has_value() ? *value_ : static_cast<T>(std::forward<U>(fallback));
    }

#if defined(__cpp_exceptions)
    T& value() & { return check(), *value_; }
    const T& value() const& { return check(), *value_; }
    T&& value() && { return check(), std::move(*value_); }
#endif

    // This result's error, or value when it succeeded (the C call has run:
    // in `call(...).with(v)` the call is sequenced before v is read).
    template <typename U>
    result<U> with(U value) const {
        if (!has_value()) return code_;
        return value;
    }

private:
#if defined(__cpp_exceptions)
    void check() const {
        if (!has_value()) throw ::wexo::error(code_);
    }
#endif
    std::optional<T> value_;
    std::error_code code_;
};

// A call without a value: success, or the code of its failure.
template <>
class result<void> {
public:
    result() noexcept = default;
    result(std::error_code code) : code_(code) {}
    result(errc code) : code_(code) {}
    // Any result, its value dropped.
    template <typename T>
    result(const result<T>& other) : code_(other.error()) {}

    bool has_value() const noexcept { return !code_; }
    explicit operator bool() const noexcept { return has_value(); }
    const std::error_code& error() const noexcept { return code_; }

#if defined(__cpp_exceptions)
    void value() const {
        if (code_) throw ::wexo::error(code_);
    }
#endif

    template <typename U>
    result<U> with(U value) const {
        if (code_) return code_;
        return value;
    }

private:
    std::error_code code_;
};

// "MAJOR.MINOR.PATCH" of the library loaded; compare with WEXO_VERSION_*.
inline const char* version() noexcept { return wexo_version(); }

namespace detail {

// The last-error code as a std::error_code. A few calls fail with code 0
// (ZuWexoClose of a closed unit, a receive on a channel the unit closed):
// their failure is that the channel is not open.
inline std::error_code last_error() {
    const int code = ZuWexoGetLastError();
    return {code != 0 ? code : WEXO_ERR_NOT_CONNECTED, category()};
}

// Runs one C call and turns its failure value (0, or -1 for the search and
// connect calls) into the last-error code; any other value is the result.
template <int Failure = 0, typename Fn, typename... Args>
result<int> call(Fn fn, Args... args) {
    const int value = fn(args...);
    if (value == Failure) return last_error();
    return value;
}

// Incremented whenever the library closes every channel on its own (search,
// end), so that a Unit of an earlier table never closes a later unit that
// took over its device index.
inline unsigned table_generation = 0;

inline int ms(std::chrono::milliseconds time) { return static_cast<int>(time.count()); }

inline std::string text(const char* chars, std::size_t size) { return {chars, ::strnlen(chars, size)}; }

}  // namespace detail

// ------------------------------------------------------------------ value types

using Mac = std::array<std::uint8_t, 6>;
using Ipv4 = std::array<std::uint8_t, 4>;
// Levels of the module's configurable pins CP1..CP3.
using Pins = std::array<bool, 3>;

// Log mask bits for Library::set_log_level (lines go to standard output).
inline constexpr unsigned log_entry = WEXO_LOG_ENTRY;    // the call's name on entry
inline constexpr unsigned log_result = WEXO_LOG_RESULT;  // name and results on success
inline constexpr unsigned log_trace = WEXO_LOG_TRACE;    // bytes exchanged with a unit
inline constexpr unsigned log_error = WEXO_LOG_ERROR;    // low-level failures

struct IdModel {
    int id;     // board ID, 0..15
    int model;  // model code
};

// Function codes of the configurable pins and the pin block's flag.
struct PinModes {
    std::array<int, 3> modes;
    bool block_flag;
};

// The module's serial port and data port.
struct SerialParameters {
    int baud;       // bit/s
    int data_bits;  // 7 or 8
    int parity;     // 0 none, 1, 2
    int stop_bits;  // 1 or 2
    int flow;       // flow-control byte
    int port;       // data port
};

// The two durations of one output's auto switching (ASCII boards).
struct SwitchTimes {
    std::chrono::milliseconds first;
    std::chrono::milliseconds second;
};

enum class AnalogMode { voltage = 0, current = 1 };

// An analog input's range code and its count converted by that range.
struct AnalogValue {
    int range;
    double value;
};

// An analog output: mode and raw value (-32768..32767; 32767 is 10 V or 20 mA).
struct AnalogOutput {
    AnalogMode mode;
    int raw;
};

// An analog output's mode and its value in V or mA.
struct AnalogOutputValue {
    AnalogMode mode;
    double value;
};

// One entry of Unit::set_analog_outputs.
struct AnalogOutputSetting {
    int channel;
    AnalogMode mode;
    int raw;
};

struct Thermocouple {
    int type;                  // 0..7
    std::array<bool, 3> flags;
};

struct TransmitScale {
    int mode;     // 0..3
    double low;   // whole units, sent in tenths
    double high;
};

struct Thresholds {
    bool enabled;
    int first;   // raw units
    int second;
};

struct PulseConfig {
    int channel;    // -1: none (parameter boards)
    bool down;      // counts down
    int setting_a;  // 0..3
    int setting_b;  // 0 or 4..20
};

struct PulseSettings {
    int setting_a;
    int setting_b;
};

struct PulseChannel {
    bool enabled;
    bool down;
};

struct PulseAlert {
    int channel;
    int mode;          // 0..3
    long long value;   // the low 32 bits are sent
};

struct OutputAlert {
    bool started;
    int mode;   // 0..2
    bool flag;
    int value;  // 0..65535
};

// Settings the board keeps (Unit::setting, Unit::set_setting).
enum class Setting {
    disconnection_time,  // 0..15
    notice_time,         // 0..4
    resend_wait_time,    // 1..15
    di_detect_time,      // 4..20
    di_mail_logic,       // mask 0..31
    di_mail_enable,      // mask 0..31
};

// What an Intel HEX text holds (check_intel_hex).
struct HexSummary {
    bool loadable;      // a firmware update would load it
    int blocks;         // contiguous blocks with data
    int bytes;          // data bytes in all
    int first_address;  // -1 when there is no data
    int last_address;   // address after the last data byte
    int error_line;     // first bad record's line (1-based), 0 when valid
};

// Checks an Intel HEX text as the firmware update would, without a unit.
inline HexSummary check_intel_hex(const std::string& text) {
    wexo_hex_summary s{};
    const bool ok = wexo_check_intel_hex(text.c_str(), &s) == 1;
    return {ok, s.blocks, s.bytes, s.first_address, s.last_address, s.error_line};
}

// Progress of a firmware update: bytes sent so far and in all, after every
// two-byte item. Return true to go on, false to cancel: nothing more is sent,
// and the block under way gets no commit.
using Progress = std::function<bool(int done, int total)>;

namespace detail {

struct SettingCalls {
    int (*get)(int, unsigned*);
    int (*set)(int, int);
};
// Indexed by Setting.
inline constexpr SettingCalls setting_calls[] = {
    {ZuWexoGetDisconnectionTime, ZuWexoSetDisconnectionTime},
    {ZuWexoGetNoticeTime, ZuWexoSetNoticeTime},
    {ZuWexoGetResendWaitTime, ZuWexoSetResendWaitTime},
    {ZuWexoGetDiDetectTime, ZuWexoSetDiDetectTime},
    {ZuWexoGetDiMailLogic, ZuWexoSetDiMailLogic},
    {ZuWexoGetDiMailEnable, ZuWexoSetDiMailEnable},
};

// Carries a Progress through the C callback. An exception thrown by the
// callback cancels the update and is rethrown once the C call has returned,
// so that it never crosses the library's frames.
struct ProgressRelay {
    explicit ProgressRelay(const Progress& p) : progress(p) {}
    const Progress& progress;
#if defined(__cpp_exceptions)
    std::exception_ptr thrown;
#endif
    static int relay(int done, int total, void* user) {
        auto& self = *static_cast<ProgressRelay*>(user);
#if defined(__cpp_exceptions)
        try {
            return self.progress(done, total) ? 0 : 1;
        } catch (...) {
            self.thrown = std::current_exception();
            return 1;
        }
#else
        return self.progress(done, total) ? 0 : 1;
#endif
    }
};

}  // namespace detail

// What a board offers (wexo_capabilities): channel counts, counters,
// thermocouples, the WEXO_CAN_* bits of what can be written, the auto
// switching and pulse frames, and the WEXO_SETTING_* bits of the settings.
struct Capabilities : wexo_unit_capabilities {
    bool can(unsigned bits) const noexcept { return (writable & bits) == bits; }
    bool has_setting(unsigned bit) const noexcept { return (settings & bit) == bit; }
};

// The capabilities of a model code on a unit kind (0, 3, 4, 5 or 6), without
// a unit; not_possible for a model without a row or an unknown kind.
inline result<Capabilities> model_capabilities(int model, int unit_kind = 0) {
    Capabilities c{};
    return detail::call(wexo_model_capabilities, model, unit_kind, static_cast<wexo_unit_capabilities*>(&c)).with(c);
}

// ------------------------------------------------------------------ unit addresses

// How every tool names a unit: the CLI's UNIT, the gateway's [[unit]]
// address, an application's configuration. One text form, one parser:
//
//   "3", "#3"              the unit at index 3 of the last search
//   "10.200.0.2"           the unit at this IPv4 address, reached directly
//   "02:57:58:01:02:03"    the unit with this MAC address ('-' separators,
//                          upper case, or twelve bare hex digits with a letter)
//   "id=3,model=17"        the unit with this board ID and model code; either
//                          may be left out ("model=17": any board ID)
//   "host=plc-7"           the unit at this host name or IPv4 text, reached
//   "host=plc-7,port=10003,id=3,model=17"   directly; port: connect this data
//                          port with no module exchange; model (and id with
//                          it): the board's known identity, which spares its
//                          identification
//
// Keys of the key=value forms may stand in any order, each once. Numbers are
// decimal, 0x hex or 0b binary: index, id and model 0..255, port 1..65535.
// A host name holds no ',' or '='. to_string() gives the form parse() reads
// back to the same address: "#3", "id=3", "host=plc-7,port=10003".
struct UnitAddress {
    enum class Kind { index, ip, mac, id_model, host };
    Kind kind = Kind::index;
    int index = -1;
    std::string host;   // ip: the dotted address; host: the name or address text
    Mac mac{};
    int id = -1;        // -1: any (id_model), not known (host)
    int model = -1;     // -1: any (id_model), not known (host)
    int data_port = 0;  // host: 0 keeps the port the module reports

    // Reached without a search: by IP address or host name.
    bool direct() const noexcept { return kind == Kind::ip || kind == Kind::host; }

    // The address text names; invalid_argument when it names none.
    static result<UnitAddress> parse(std::string_view text);
    std::string to_string() const;

    friend bool operator==(const UnitAddress& a, const UnitAddress& b) {
        return a.kind == b.kind && a.index == b.index && a.host == b.host && a.mac == b.mac && a.id == b.id &&
               a.model == b.model && a.data_port == b.data_port;
    }
    friend bool operator!=(const UnitAddress& a, const UnitAddress& b) { return !(a == b); }
};

// A whole number as unit addresses and the tools' options write it: an
// optional sign, then decimal, 0x hex or 0b binary digits; nothing else, not
// even blanks. Fails with std::errc::invalid_argument when text is no such
// number, std::errc::result_out_of_range when it lies outside low..high.
inline result<long long> parse_number(std::string_view text, long long low, long long high) {
    const auto not_a_number = std::make_error_code(std::errc::invalid_argument);
    std::string digits(text);
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.erase(0, 2);
    } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'b' || digits[1] == 'B')) {
        base = 2;
        digits.erase(0, 2);
    }
    // strtoull takes its own sign and blanks; they are refused here.
    if (digits.empty() || std::isxdigit(static_cast<unsigned char>(digits[0])) == 0) return not_a_number;
    errno = 0;
    char* end = nullptr;
    const unsigned long long magnitude = std::strtoull(digits.c_str(), &end, base);
    if (*end != '\0') return not_a_number;
    if (errno == ERANGE || magnitude > 0x7fffffffffffffffULL)
        return std::make_error_code(std::errc::result_out_of_range);
    const long long number = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (number < low || number > high) return std::make_error_code(std::errc::result_out_of_range);
    return number;
}

namespace detail {

inline std::optional<int> address_number(std::string_view text, long long low, long long high) {
    const result<long long> number = parse_number(text, low, high);
    if (!number) return std::nullopt;
    return static_cast<int>(*number);
}

inline int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Six hex pairs, ':' or '-' between them, or twelve hex digits in a row.
inline std::optional<Mac> address_mac(std::string_view text) {
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (hex_digit(c) >= 0)
            digits += c;
        else if (!((c == ':' || c == '-') && i % 3 == 2 && text.size() == 17))
            return std::nullopt;
    }
    if (digits.size() != 12) return std::nullopt;
    Mac mac{};
    for (std::size_t i = 0; i < 6; ++i)
        mac[i] = static_cast<std::uint8_t>(hex_digit(digits[2 * i]) * 16 + hex_digit(digits[2 * i + 1]));
    return mac;
}

// "id=3,model=17" or "host=NAME,port=P,id=N,model=M".
inline result<UnitAddress> address_keys(std::string_view text) {
    UnitAddress a;
    bool has_id = false, has_model = false, has_host = false, has_port = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view part = text.substr(start, comma - start);
        const std::size_t equals = part.find('=');
        const std::string_view key = part.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view{} : part.substr(equals + 1);
        std::optional<int> number;
        if (key == "id" && !has_id && (number = address_number(value, 0, 255))) {
            has_id = true;
            a.id = *number;
        } else if (key == "model" && !has_model && (number = address_number(value, 0, 255))) {
            has_model = true;
            a.model = *number;
        } else if (key == "port" && !has_port && (number = address_number(value, 1, 65535))) {
            has_port = true;
            a.data_port = *number;
        } else if (key == "host" && !has_host && !value.empty() && value.find('=') == std::string_view::npos) {
            has_host = true;
            a.host = std::string(value);
        } else {
            return errc::invalid_argument;
        }
        start = comma + 1;
    }
    // A port belongs to a host; a host's board ID is known only with its model.
    if ((has_port && !has_host) || (has_host && has_id && !has_model)) return errc::invalid_argument;
    a.kind = has_host ? UnitAddress::Kind::host : UnitAddress::Kind::id_model;
    return a;
}

}  // namespace detail

inline result<UnitAddress> UnitAddress::parse(std::string_view text) {
    UnitAddress a;
    // "#N" is a comment to the shell unless quoted, so a bare N works too.
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    if (digits || (!text.empty() && text[0] == '#')) {
        const std::optional<int> index = detail::address_number(digits ? text : text.substr(1), 0, 255);
        if (!index) return errc::invalid_argument;
        a.kind = Kind::index;
        a.index = *index;
        return a;
    }
    if (text.find('=') != std::string_view::npos) return detail::address_keys(text);
    const std::string chars(text);
    in_addr address{};
    if (::inet_pton(AF_INET, chars.c_str(), &address) == 1) {
        char canonical[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address, canonical, sizeof canonical);
        a.kind = Kind::ip;
        a.host = canonical;
        return a;
    }
    if (const std::optional<Mac> mac = detail::address_mac(text)) {
        a.kind = Kind::mac;
        a.mac = *mac;
        return a;
    }
    return errc::invalid_argument;
}

inline std::string UnitAddress::to_string() const {
    std::string out;
    auto key = [&out](const char* name, const std::string& value) {
        out += (out.empty() ? "" : ",") + std::string(name) + "=" + value;
    };
    switch (kind) {
        case Kind::index: return "#" + std::to_string(index);
        case Kind::ip: return host;
        case Kind::mac: {
            char text[18] = {};
            std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                          mac[5]);
            return text;
        }
        case Kind::host:
            key("host", host);
            if (data_port != 0) key("port", std::to_string(data_port));
            break;
        case Kind::id_model: break;
    }
    if (id >= 0) key("id", std::to_string(id));
    if (model >= 0) key("model", std::to_string(model));
    return out;
}

// ------------------------------------------------------------------ device records

// One record of the device table, by device index: what a search or a
// connect call learnt about a unit, and the calls that need no open command
// channel (pins and module configuration, over connections of their own).
// A Device is a plain view: copying it copies the index.
class Device {
public:
    explicit Device(int index) noexcept : index_(index) {}
    int index() const noexcept { return index_; }

    // Dotted-decimal address.
    result<std::string> ip() const {
        char text[16] = {};
        return detail::call(ZuWexoGetIpAddress, index_, text).with(detail::text(text, sizeof text));
    }
    result<Mac> mac() const {
        Mac mac{};
        return detail::call(ZuWexoGetMacAddress, index_, mac.data()).with(mac);
    }
    // Module firmware version as major*100 + minor*10 (6.1 gives 610).
    result<int> firmware_version() const {
        int version = 0;
        return detail::call(ZuWexoGetFirmVersion, index_, &version).with(version);
    }
    // Module firmware type, two letters.
    result<std::string> firmware_type() const {
        unsigned short letters = 0;
        return detail::call(ZuWexoGetFirmType2, index_, &letters)
            .with(std::string{static_cast<char>(letters & 0xFF), static_cast<char>(letters >> 8)});
    }
    // Board ID, 0..15, or 255 while unknown.
    result<int> id() const {
        int id = 0;
        return detail::call(ZuWexoGetId, index_, &id).with(id);
    }
    // Model code, or -1 while unknown.
    result<int> model() const {
        int model = 0;
        return detail::call(ZuWexoGetModel, index_, &model).with(model);
    }
    // What the board offers; its model must be known (not_possible before).
    result<Capabilities> capabilities() const {
        Capabilities c{};
        return detail::call(wexo_capabilities, index_, static_cast<wexo_unit_capabilities*>(&c)).with(c);
    }
    // Sets the model code (for boards identification cannot name).
    result<void> set_model(int model) const { return detail::call(ZuWexoSetModel, index_, model); }
    // Time-out of the unit's TCP connections, from the next connection on.
    result<void> set_timeout(std::chrono::milliseconds timeout) const {
        return detail::call(ZuWexoSetTimeOut, index_, detail::ms(timeout));
    }
    result<PinModes> pin_modes() const {
        int cp1 = 0, cp2 = 0, cp3 = 0, flag = 0;
        return detail::call(ZuWexoGetCPMode, index_, &cp1, &cp2, &cp3, &flag)
            .with(PinModes{{cp1, cp2, cp3}, flag != 0});
    }
    result<SerialParameters> serial_parameters() const {
        SerialParameters p{};
        return detail::call(ZuWexoGetSerialParameter, index_, &p.baud, &p.data_bits, &p.parity,
                            &p.stop_bits, &p.flow, &p.port)
            .with(p);
    }
    // Asks the board for its ID and model (over a temporary connection when
    // the unit is not connected) and stores them in the record.
    result<IdModel> request_id_model() const {
        IdModel im{};
        return detail::call(ZuWexoRequestIdModel, index_, &im.id, &im.model).with(im);
    }

    // ---- configurable pins (a short connection of their own)
    result<Pins> pins() const {
        int cp1 = 0, cp2 = 0, cp3 = 0;
        return detail::call(ZuWexoInCP, index_, &cp1, &cp2, &cp3).with(Pins{cp1 != 0, cp2 != 0, cp3 != 0});
    }
    result<void> set_pins(Pins pins) const {
        return detail::call(ZuWexoOutCP, index_, int{pins[0]}, int{pins[1]}, int{pins[2]});
    }

    // ---- network module configuration. set_performance, set_pin_modes and
    // set_serial_parameters wait until the module has restarted (seconds);
    // reset_module awaits nothing.
    result<void> set_performance(bool on) const { return detail::call(ZuWexoSetPerformance, index_, int{on}); }
    result<void> reset_module() const { return detail::call(ZuWexoReset, index_); }
    result<void> set_pin_modes(std::array<int, 3> modes, int option) const {
        return detail::call(ZuWexoSetCPMode, index_, modes[0], modes[1], modes[2], option);
    }
    result<void> set_serial_parameters(const SerialParameters& p) const {
        return detail::call(ZuWexoSetSerialParameter, index_, p.baud, p.data_bits, p.parity, p.stop_bits,
                            p.flow, p.port);
    }
    // Returns the module to its factory settings through its setup menu.
    result<void> factory_defaults() const { return detail::call(ZuWexoSetXPortDefault, index_); }

protected:
    int index_;
};

// ------------------------------------------------------------------ units

// A unit whose command channel is open: created by the connect calls of
// Library (or Unit::connect), closed when the Unit is destroyed. Movable, not
// copyable. A search or the end of the Library closes every channel; a Unit
// of the table before then closes nothing on destruction.
class Unit : public Device {
public:
    // Opens the command channel of record index (identifying the board
    // first if its model is unknown).
    static result<Unit> connect(int index) { return own(detail::call<-1>(ZuWexoConnect, index)); }
    // Takes over the channel a C connect call opened.
    static Unit adopt(int index) noexcept { return Unit(index); }

    Unit(Unit&& other) noexcept : Device(std::exchange(other.index_, -1)), generation_(other.generation_) {}
    Unit& operator=(Unit&& other) noexcept {
        if (this != &other) {
            (void)close();
            index_ = std::exchange(other.index_, -1);
            generation_ = other.generation_;
        }
        return *this;
    }
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;
    ~Unit() { (void)close(); }

    // Closes the command channel now; later calls fail with not_connected.
    result<void> close() noexcept {
        const int index = std::exchange(index_, -1);
        if (index < 0 || generation_ != detail::table_generation) return errc::not_connected;
        return detail::call(ZuWexoClose, index);
    }
    // Gives up ownership: the channel stays open; returns the device index.
    int release() noexcept { return std::exchange(index_, -1); }

    // ---- digital I/O
    result<bool> input(int channel) const {
        int v = 0;
        return detail::call(ZuWexoInPio, index_, channel, &v).with(v != 0);
    }
    // The input as the board reports it: ASCII boards give an input that is
    // on as 1, 2, 4 or 8, by its place in its group of four.
    result<int> input_level(int channel) const {
        int v = 0;
        return detail::call(ZuWexoInPio, index_, channel, &v).with(v);
    }
    // All inputs; bit i is input i.
    result<std::uint32_t> inputs() const {
        unsigned bits = 0;
        return detail::call(ZuWexoInPioAll, index_, &bits).with(std::uint32_t{bits});
    }
    result<void> set_output(int channel, bool on) const {
        return detail::call(ZuWexoOutPio, index_, channel, int{on});
    }
    // All outputs; bit i is output i.
    result<void> set_outputs(std::uint32_t bits) const {
        return detail::call(ZuWexoOutPioAll, index_, unsigned{bits});
    }
    result<bool> output(int channel) const {
        int v = 0;
        return detail::call(ZuWexoGetOut, index_, channel, &v).with(v != 0);
    }
    // The output as the board reports it (see input_level).
    result<int> output_level(int channel) const {
        int v = 0;
        return detail::call(ZuWexoGetOut, index_, channel, &v).with(v);
    }
    result<std::uint32_t> outputs() const {
        unsigned bits = 0;
        return detail::call(ZuWexoGetOutAll, index_, &bits).with(std::uint32_t{bits});
    }

    // ---- auto switching: the board switches outputs on its own timetable
    result<void> set_auto_switching(bool on) const {
        return detail::call(ZuWexoSetAutoSwitchingActive, index_, int{on});
    }
    result<bool> auto_switching() const {
        int flag = 0;
        return detail::call(ZuWexoGetAutoSwitchingActive, index_, &flag).with(flag != 0);
    }
    // The outputs taking part; bit i is output i.
    result<void> set_auto_switching_outputs(std::uint32_t mask) const {
        return detail::call(ZuWexoSetAutoSwitchingPio, index_, static_cast<int>(mask));
    }
    result<std::uint32_t> auto_switching_outputs() const {
        unsigned mask = 0;
        return detail::call(ZuWexoGetAutoSwitchingPio, index_, &mask).with(std::uint32_t{mask});
    }
    result<void> set_auto_switching_time(std::chrono::milliseconds time) const {
        return detail::call(ZuWexoSetAutoSwitchingTime, index_, detail::ms(time));
    }
    result<std::chrono::milliseconds> auto_switching_time() const {
        int ms = 0;
        return detail::call(ZuWexoGetAutoSwitchingTime, index_, &ms).with(std::chrono::milliseconds{ms});
    }
    // ASCII boards: the two durations of one output.
    result<void> set_auto_switching_channel(int output, SwitchTimes times) const {
        return detail::call(ZuWexoSetAutoSwitchingChannel, index_, output, detail::ms(times.first),
                            detail::ms(times.second));
    }
    result<SwitchTimes> auto_switching_channel(int output) const {
        unsigned first = 0, second = 0;
        return detail::call(ZuWexoGetAutoSwitchingChannel, index_, output, &first, &second)
            .with(SwitchTimes{std::chrono::milliseconds{first}, std::chrono::milliseconds{second}});
    }

    // ---- analog inputs
    // Raw count, signed 24 bits.
    result<int> analog_input(int channel) const {
        int count = 0;
        return detail::call(ZuWexoGetAnalogInput, index_, channel, &count).with(count);
    }
    // Counts of all the model's analog inputs, in one exchange.
    result<std::vector<int>> analog_inputs() const {
        std::vector<int> counts(8);  // a board has at most eight analog channels
        const result<int> n = detail::call(ZuWexoGetAnalogInputAll, index_, 8, counts.data());
        if (n) counts.resize(static_cast<std::size_t>(*n));
        return n.with(counts);
    }
    result<AnalogValue> analog_input_value(int channel) const {
        AnalogValue v{};
        return detail::call(ZuWexoGetAnalogInputByValue, index_, channel, &v.range, &v.value).with(v);
    }
    result<int> analog_input_range(int channel) const {
        int range = 0;
        return detail::call(ZuWexoGetAnalogInputRange, index_, channel, &range).with(range);
    }
    result<void> set_analog_input_range(int channel, int range) const {
        return detail::call(ZuWexoSetAnalogInputRange, index_, channel, range);
    }
    // The converter's sampling-rate code, 0..7, for the whole unit.
    result<int> sampling_rate() const {
        int code = 0;
        return detail::call(ZuWexoGetAnalogInputADCsps, index_, &code).with(code);
    }
    result<void> set_sampling_rate(int code) const { return detail::call(ZuWexoSetAnalogInputADCsps, index_, code); }
    // The transmit-cycle code, 0..13.
    result<int> transmit_cycle() const {
        int code = 0;
        return detail::call(ZuWexoGetAiTransmitCycle, index_, &code).with(code);
    }
    result<void> set_transmit_cycle(int code) const { return detail::call(ZuWexoSetAiTransmitCycle, index_, code); }

    // ---- analog outputs; the initial_ calls set the value taken at power-up
    result<void> set_analog_output(int channel, AnalogOutput out) const {
        return detail::call(ZuWexoSetAnalogOutput, index_, channel, static_cast<int>(out.mode), out.raw);
    }
    result<void> set_initial_analog_output(int channel, AnalogOutput out) const {
        return detail::call(ZuWexoSetInitialAnalogOutput, index_, channel, static_cast<int>(out.mode), out.raw);
    }
    // Value in V (voltage) or mA (current).
    result<void> set_analog_output_value(int channel, AnalogMode mode, double value) const {
        return detail::call(mode == AnalogMode::current ? ZuWexoSetAnalogOutputCurrent : ZuWexoSetAnalogOutputVoltage,
                            index_, channel, value);
    }
    result<void> set_initial_analog_output_value(int channel, AnalogMode mode, double value) const {
        return detail::call(mode == AnalogMode::current ? ZuWexoSetInitialAnalogOutputCurrent
                                                        : ZuWexoSetInitialAnalogOutputVoltage,
                            index_, channel, value);
    }
    // Several outputs in one frame; a bad entry refuses them all.
    result<void> set_analog_outputs(const std::vector<AnalogOutputSetting>& settings) const {
        std::vector<int> channels, modes, raws;
        for (const AnalogOutputSetting& s : settings) {
            channels.push_back(s.channel);
            modes.push_back(static_cast<int>(s.mode));
            raws.push_back(s.raw);
        }
        return detail::call(ZuWexoSetAnalogOutputMulti, index_, static_cast<int>(settings.size()), channels.data(),
                            modes.data(), raws.data());
    }
    result<AnalogOutput> analog_output(int channel) const {
        int mode = 0, raw = 0;
        return detail::call(ZuWexoGetAnalogOutput, index_, channel, &mode, &raw)
            .with(AnalogOutput{static_cast<AnalogMode>(mode), raw});
    }
    result<AnalogOutputValue> analog_output_value(int channel) const {
        int mode = 0;
        double value = 0;
        return detail::call(ZuWexoGetAnalogOutputByValue, index_, channel, &mode, &value)
            .with(AnalogOutputValue{static_cast<AnalogMode>(mode), value});
    }

    // ---- thermocouples, thresholds, mail condition
    result<void> set_thermocouple(int channel, Thermocouple tc) const {
        return detail::call(ZuWexoSetTCConfig, index_, channel, tc.type, int{tc.flags[0]}, int{tc.flags[1]},
                            int{tc.flags[2]});
    }
    // Type with flags 0 and 1 set, flag 2 clear.
    result<void> set_thermocouple_type(int channel, int type) const {
        return detail::call(ZuWexoSetTCType, index_, channel, type);
    }
    result<Thermocouple> thermocouple(int channel) const {
        int type = 0, f0 = 0, f1 = 0, f2 = 0;
        return detail::call(ZuWexoGetTCConfig, index_, channel, &type, &f0, &f1, &f2)
            .with(Thermocouple{type, {f0 != 0, f1 != 0, f2 != 0}});
    }
    result<void> set_transmit_scale(int channel, TransmitScale scale) const {
        return detail::call(ZuWexoSetTCTransmitScale, index_, channel, scale.mode, scale.low, scale.high);
    }
    result<TransmitScale> transmit_scale(int channel) const {
        TransmitScale s{};
        return detail::call(ZuWexoGetTCTransmitScale, index_, channel, &s.mode, &s.low, &s.high).with(s);
    }
    result<void> set_thresholds(int channel, Thresholds t) const {
        return detail::call(ZuWexoSetAnalogThresholds, index_, channel, int{t.enabled}, t.first, t.second);
    }
    result<Thresholds> thresholds(int channel) const {
        int enabled = 0, first = 0, second = 0;
        return detail::call(ZuWexoGetAnalogThresholds, index_, channel, &enabled, &first, &second)
            .with(Thresholds{enabled != 0, first, second});
    }
    // Mail condition of an analog input, 0..2.
    result<void> set_mail_condition(int channel, int condition) const {
        return detail::call(ZuWexoSetAiMailCondition, index_, channel, static_cast<unsigned>(condition));
    }
    result<int> mail_condition(int channel) const {
        int condition = 0;
        return detail::call(ZuWexoGetAiMailCondition, index_, channel, &condition).with(condition);
    }

    // ---- parameter memory (raw frames whose first byte is the code)
    result<void> set_pic_parameter(int code, int value) const {
        return detail::call(setPICparameter, index_, code, value);
    }
    result<unsigned> pic_parameter(int code, int argument) const {
        unsigned value = 0;
        return detail::call(getPICparameter, index_, code, argument, &value).with(value);
    }
    // Sends a request of 1..16 bytes and returns a reply of reply_length bytes.
    result<std::vector<std::uint8_t>> pic_exchange(const std::vector<std::uint8_t>& request,
                                                   std::size_t reply_length) const {
        std::vector<std::uint8_t> reply(reply_length);
        return detail::call(getPICparameter2, index_, request.data(), static_cast<int>(request.size()),
                            reply.data(), static_cast<int>(reply.size()))
            .with(reply);
    }
    // Writes a frame of 1..16 bytes; the board must echo it.
    result<void> write_pic_parameter(const std::vector<std::uint8_t>& request) const {
        return detail::call(setPICparameter2, index_, request.data(), static_cast<int>(request.size()));
    }

    // ---- pulse mode and counters
    result<void> set_pulse_config(PulseConfig c) const {
        return detail::call(ZuWexoPulseModeSetConfig, index_, c.channel, int{c.down}, c.setting_a, c.setting_b);
    }
    result<PulseConfig> pulse_config() const {
        int channel = 0, down = 0, a = 0, b = 0;
        return detail::call(ZuWexoPulseModeGetConfig, index_, &channel, &down, &a, &b)
            .with(PulseConfig{channel, down != 0, a, b});
    }
    result<void> set_pulse_settings(PulseSettings s) const {
        return detail::call(ZuWexoPulseModeSetConfig2, index_, s.setting_a, s.setting_b);
    }
    result<PulseSettings> pulse_settings() const {
        PulseSettings s{};
        return detail::call(ZuWexoPulseModeGetConfig2, index_, &s.setting_a, &s.setting_b).with(s);
    }
    result<void> set_pulse_channel(int channel, PulseChannel c) const {
        return detail::call(ZuWexoPulseModeSetConfigChannel, index_, channel, int{c.enabled}, int{c.down});
    }
    result<PulseChannel> pulse_channel(int channel) const {
        int enabled = 0, down = 0;
        return detail::call(ZuWexoPulseModeGetConfigChannel, index_, channel, &enabled, &down)
            .with(PulseChannel{enabled != 0, down != 0});
    }
    // 16-bit count of the counting channel (-1: overflow on parameter boards).
    result<int> pulse_count() const {
        int count = 0;
        return detail::call(ZuWexoPulseModeGetCount, index_, &count).with(count);
    }
    // 32-bit count of one channel.
    result<long long> pulse_count(int channel) const {
        long long count = 0;
        return detail::call(ZuWexoPulseModeGetCount2, index_, channel, &count).with(count);
    }
    result<bool> pulse_mode() const {
        int state = 0;
        return detail::call(ZuWexoPulseModeGetState, index_, &state).with(state != 0);
    }
    // Sends nothing when the mode already is as asked.
    result<void> set_pulse_mode(bool on) const {
        return detail::call(on ? ZuWexoPulseModeOn : ZuWexoPulseModeOff, index_);
    }
    result<bool> continuous_pulse_mode() const {
        int state = 0;
        return detail::call(ZuWexoPulseModeContinuesGetState, index_, &state).with(state != 0);
    }
    result<void> set_continuous_pulse_mode(bool on) const {
        return detail::call(on ? ZuWexoPulseModeContinuesOn : ZuWexoPulseModeContinuesOff, index_);
    }
    result<void> set_pulse_alert(PulseAlert a) const {
        return detail::call(ZuWexoPulseModeSetAlart, index_, a.channel, a.mode, a.value);
    }
    result<PulseAlert> pulse_alert() const {
        PulseAlert a{};
        return detail::call(ZuWexoPulseModeGetAlart, index_, &a.channel, &a.mode, &a.value).with(a);
    }

    // ---- output alerts (model 42's two outputs) and reset time
    result<void> set_reset_time(int reset_time) const { return detail::call(ZuWexoSetResetTime, index_, reset_time); }
    result<void> start_output_alert(int channel, bool start) const {
        return detail::call(ZuWexoDOAlertStartStop, index_, channel, int{start});
    }
    // Sets mode, flag and value (started is left as it is).
    result<void> set_output_alert(int channel, OutputAlert a) const {
        return detail::call(ZuWexoSetDOAlertConfig, index_, channel, a.mode, int{a.flag}, a.value);
    }
    result<OutputAlert> output_alert(int channel) const {
        int started = 0, mode = 0, flag = 0, value = 0;
        return detail::call(ZuWexoGetDOAlertStatus, index_, channel, &started, &mode, &flag, &value)
            .with(OutputAlert{started != 0, mode, flag != 0, value});
    }

    // ---- unit settings and the EEPROM (addresses 0..4095)
    result<unsigned> setting(Setting which) const {
        unsigned value = 0;
        return detail::call(detail::setting_calls[static_cast<int>(which)].get, index_, &value).with(value);
    }
    result<void> set_setting(Setting which, int value) const {
        return detail::call(detail::setting_calls[static_cast<int>(which)].set, index_, value);
    }
    result<std::vector<std::uint8_t>> read_eeprom(int address, std::size_t count) const {
        std::vector<std::uint8_t> bytes(count);
        return detail::call(ZuWexoReadEEPROM, index_, address, static_cast<int>(count), bytes.data()).with(bytes);
    }
    result<void> write_eeprom(int address, const std::vector<std::uint8_t>& bytes) const {
        return detail::call(ZuWexoWriteEEPROM, index_, address, static_cast<int>(bytes.size()), bytes.data());
    }

    // ---- serial pass-through: raw bytes on the command channel
    // Returns the count sent.
    result<int> send(const std::vector<std::uint8_t>& bytes) const {
        if (bytes.empty()) return 0;
        return detail::call(ZuWexoSendSerialData, index_, bytes.data(), static_cast<int>(bytes.size()));
    }
    // At most max_size bytes within the unit's time-out (receive_timeout when
    // none came; not_connected when the unit closed the channel).
    result<std::vector<std::uint8_t>> receive(std::size_t max_size) const {
        std::vector<std::uint8_t> bytes(max_size);
        if (max_size == 0) return bytes;
        const result<int> n = detail::call(ZuWexoReceiveSerialData, index_, bytes.data(), static_cast<int>(max_size));
        if (n) bytes.resize(static_cast<std::size_t>(*n));
        return n.with(bytes);
    }

    // ---- firmware update (models 0 and 3 to 6)
    // Loads the firmware of an Intel HEX text; the whole text is checked
    // before anything is sent (not_possible when it is bad). progress is
    // called after every item; false cancels at once (cancelled).
    result<void> update_firmware(const std::string& hex, const Progress& progress = {}) const {
        if (!progress) return detail::call(wexo_pic_firmware_update_hex, index_, hex.c_str(), nullptr, nullptr);
        detail::ProgressRelay relay{progress};
        const result<void> done =
            detail::call(wexo_pic_firmware_update_hex, index_, hex.c_str(), &detail::ProgressRelay::relay, &relay);
#if defined(__cpp_exceptions)
        if (relay.thrown) std::rethrow_exception(relay.thrown);
#endif
        return done;
    }
    // Loads one block of data (an even number of bytes) at address.
    result<void> write_firmware_block(int address, const std::vector<std::uint8_t>& data) const {
        if (data.size() % 2 != 0) return errc::not_possible;
        return detail::call(ZuWexoPicFirmwareUpdate, index_, address, data.data(), static_cast<int>(data.size() / 2));
    }

private:
    friend class Library;
    explicit Unit(int index) noexcept : Device(index), generation_(detail::table_generation) {}
    static result<Unit> own(result<int> index) {
        if (!index) return index.error();
        return Unit(*index);
    }
    unsigned generation_;
};

// ------------------------------------------------------------------ opening a unit by address

// How Library::find and Library::open reach the unit of a UnitAddress.
struct OpenOptions {
    // Direct connects (ip, host): the module's reply window and the unit's
    // time-out.
    std::chrono::milliseconds timeout{1000};
    // Set: a unit named by index, MAC or ID and model is looked for by a
    // search of this window first (which closes every open channel). Unset:
    // in the device table as the last search left it.
    std::optional<std::chrono::milliseconds> search;
    // The records of the last search to look through (its count); -1: every
    // record up to the first the table does not hold. An index at or past
    // found is index_range.
    int found = -1;
    // Matching by ID and model: learns a record's board ID and model (asking
    // its board, say, where the record does not know them); a failure is no
    // match. Unset: what the record holds.
    std::function<result<IdModel>(const Device&)> identify;
    // Runs on the record found, before its channel opens: to set an identity
    // the caller remembered (wexo_set_identity), for instance.
    std::function<void(const Device&)> prepare;
};

// ------------------------------------------------------------------ the library

// The library from ZuWexoInit to ZuWexoEnd. One at a time; not copyable or
// movable. Units should not outlive it (their channels are closed with it).
class Library {
public:
    Library() noexcept {
        ZuWexoInit();
        ++detail::table_generation;
    }
    ~Library() {
        ZuWexoEnd();
        ++detail::table_generation;
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Broadcasts a discovery query, waits window for replies and rebuilds the
    // device table, closing every open channel (existing Units close nothing
    // afterwards). Returns the number of units found; not_found when none
    // answered. A unit whose configuration failed is left out silently.
    result<int> search(std::chrono::milliseconds window = std::chrono::milliseconds{1000}) {
        return search_table(window);
    }
    // The record of a device index (not checked until it is used).
    Device device(int index) const noexcept { return Device(index); }

    // Log mask (log_entry | log_result | log_trace | log_error).
    void set_log_level(unsigned mask) noexcept { ZuWexoSetLogLevel(mask); }
    // Identify boards during a search when their data port is port.
    result<void> set_auto_identification(bool on, std::uint16_t port = 10003) {
        return detail::call(ZuWexoSetAutoRequestIdModel, int{on}, unsigned{port});
    }
    // Binds every later socket to this host's IPv4 address address.
    result<void> select_network_device(const std::string& address) {
        in_addr parsed{};
        if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) return errc::invalid_argument;
        return detail::call(ZuWexoSelectNetworkDevice, address.c_str());
    }
    void clear_network_device() noexcept { ZuWexoSelectNetworkDevice(nullptr); }
    // The library's own text of the last error: the original (Japanese)
    // messages, "err:<code>" for system codes; category() gives English.
    static std::string last_error_message() {
        char text[128] = {};  // the longest message is 105 bytes
        ZuWexoGetLastErrorMessage(text);
        return detail::text(text, sizeof text);
    }

    // ---- connect calls: each returns the connected Unit
    static result<Unit> connect(int index) { return Unit::connect(index); }
    static result<Unit> connect_by_ip(const std::string& address) {
        return Unit::own(detail::call<-1>(ZuWexoConnectByIpAddress, address.c_str()));
    }
    static result<Unit> connect_by_id_model(int id, int model) {
        return Unit::own(detail::call<-1>(ZuWexoConnectByIdModel, id, model));
    }
    static result<Unit> connect_by_mac(const Mac& mac) {
        return Unit::own(detail::call<-1>(ZuWexoConnectByMacAddress, mac.data()));
    }
    // Adds a record for a unit by host name or address and connects it.
    // data_port 0 keeps the port the module reports.
    static result<Unit> connect_masquerade(const std::string& host, std::chrono::milliseconds timeout, int data_port,
                                    int cp_port = 30704, int udp_port = 30718) {
        return Unit::own(detail::call<-1>(ZuWexoConnectOverIPMasquerade, host.c_str(), detail::ms(timeout),
                                          data_port, cp_port, udp_port));
    }
    // Connects data_port directly, with no module exchange (pins then
    // unavailable); data_port 0 asks the module first, as connect_masquerade.
    // Connects the unit at host whose model the caller knows, without asking
    // its board (what identification costs: up to a time-out on the ASCII
    // boards); id 255 when the board ID is not known. The record comes from
    // one exchange with the unit's network module.
    static result<Unit> connect_known(const std::string& host, std::chrono::milliseconds timeout, int model,
                               int id = 255) {
        const result<int> index = detail::call<-1>(wexo_add_unit, host.c_str(), detail::ms(timeout));
        if (!index) return index.error();
        if (auto known = detail::call(wexo_set_identity, *index, id, model); !known) return known.error();
        return Unit::connect(*index);
    }
    static result<Unit> connect_direct(const std::string& host, std::chrono::milliseconds timeout, int data_port = 0) {
        if (data_port == 0) return Unit::own(detail::call<-1>(ZuWexoConnectDirect, host.c_str(), detail::ms(timeout)));
        return Unit::own(detail::call<-1>(ZuWexoConnectDirect2, host.c_str(), detail::ms(timeout), data_port));
    }

    // ---- units by address (UnitAddress)
    // The record the address names, its channel not opened: the index's
    // record; a new record for ip and host, from one exchange with the
    // unit's module (wexo_add_unit; the identity set when the model is
    // given); the first record of the MAC, or of the board ID and model.
    // no_match when none matches; not_possible for a data port, which is
    // reached only by connecting.
    static result<Device> find(const UnitAddress& address, const OpenOptions& options = {}) {
        int found = options.found;
        if (options.search && !address.direct()) {
            const result<int> n = search_table(*options.search);
            if (!n) return n.error();
            found = *n;
        }
        switch (address.kind) {
            case UnitAddress::Kind::index:
                if (found >= 0 && address.index >= found) return errc::index_range;
                return Device(address.index);
            case UnitAddress::Kind::ip:
            case UnitAddress::Kind::host: {
                if (address.data_port != 0) return errc::not_possible;
                const result<int> index =
                    detail::call<-1>(wexo_add_unit, address.host.c_str(), detail::ms(options.timeout));
                if (!index) return index.error();
                if (address.model >= 0) {
                    const int id = address.id >= 0 ? address.id : 255;
                    if (auto known = detail::call(wexo_set_identity, *index, id, address.model); !known)
                        return known.error();
                }
                return Device(*index);
            }
            case UnitAddress::Kind::mac:
            case UnitAddress::Kind::id_model: break;
        }
        for (int i = 0; i < (found >= 0 ? found : WEXO_MAX_DEVICES); ++i) {
            const Device record(i);
            std::error_code fault;
            if (address.kind == UnitAddress::Kind::mac) {
                const result<Mac> mac = record.mac();
                if (mac && *mac == address.mac) return record;
                fault = mac.error();
            } else {
                const result<IdModel> known = options.identify ? options.identify(record) : record_identity(record);
                if (known && (address.id < 0 || address.id == known->id) &&
                    (address.model < 0 || address.model == known->model))
                    return record;
                fault = known.error();
            }
            // Past the table's end (or without a library): nothing more to read.
            if (found < 0 && (fault == errc::index_range || fault == errc::not_initialized)) break;
        }
        return errc::no_match;
    }

    // Finds the unit the address names and opens its command channel. With
    // options.prepare, options.identify or options.found: find(), prepare,
    // connect. Without: the library's one-call connects, which match and
    // connect under one table lock (ZuWexoConnectByMacAddress,
    // ZuWexoConnectByIdModel with both given; ZuWexoConnectDirect for a
    // host, connect_known with its model). A data port is always connected
    // directly (ZuWexoConnectDirect2), with no module exchange and no
    // identity set beforehand.
    static result<Unit> open(const UnitAddress& address, const OpenOptions& options = {}) {
        if (address.direct() && address.data_port != 0)
            return connect_direct(address.host, options.timeout, address.data_port);
        if (!options.prepare && !options.identify && options.found < 0) {
            if (address.direct()) {
                if (address.model >= 0)
                    return connect_known(address.host, options.timeout, address.model,
                                         address.id >= 0 ? address.id : 255);
                return connect_direct(address.host, options.timeout);
            }
            const bool by_mac = address.kind == UnitAddress::Kind::mac;
            if (by_mac || (address.kind == UnitAddress::Kind::id_model && address.id >= 0 && address.model >= 0)) {
                if (options.search) {
                    if (const result<int> n = search_table(*options.search); !n) return n.error();
                }
                return by_mac ? connect_by_mac(address.mac) : connect_by_id_model(address.id, address.model);
            }
        }
        const result<Device> record = find(address, options);
        if (!record) return record.error();
        if (options.prepare) options.prepare(*record);
        return Unit::connect(record->index());
    }

    // ---- module addresses (broadcast; no unit record needed)
    // Assigns address to the module whose MAC ends in mac4, mac5.
    static result<void> set_ip_address(std::uint8_t mac4, std::uint8_t mac5, Ipv4 address) {
        return detail::call(ZuWexoSetIpAddress, unsigned{mac4}, unsigned{mac5}, unsigned{address[0]},
                            unsigned{address[1]}, unsigned{address[2]}, unsigned{address[3]});
    }
    // Assigns address to the first module that answers within window.
    static result<void> first_found_set_ip_address(std::chrono::milliseconds window, Ipv4 address) {
        return detail::call(ZuWexoFirstFoundSetIpAddress, detail::ms(window), unsigned{address[0]},
                            unsigned{address[1]}, unsigned{address[2]}, unsigned{address[3]});
    }
private:
    static result<int> search_table(std::chrono::milliseconds window) {
        ++detail::table_generation;
        const result<int> n = detail::call<-1>(ZuWexoSearch, detail::ms(window));
        if (n && *n == 0) return detail::last_error();
        return n;
    }
    static result<IdModel> record_identity(const Device& record) {
        const result<int> id = record.id();
        if (!id) return id.error();
        const result<int> model = record.model();
        if (!model) return model.error();
        return IdModel{*id, *model};
    }
};

}  // namespace wexo

#endif  // WEXO_HPP
