// Shared declarations of the wexo command-line tool: parsed arguments, the
// command table, failures and their exit statuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "wexo.hpp"

namespace wexo::cli {

// Exit statuses; scripts tell these apart.
enum ExitStatus : int {
    exit_ok = 0,
    exit_library = 1,   // the library or the unit reported a failure
    exit_usage = 2,     // bad command line
    exit_not_found = 3, // no unit found, or none matches the selection
    exit_unconfirmed = 4, // a module took a change, but its restart was not confirmed
};

// A failure that ends the command. Library failures carry the last-error
// code and message read right after the failing call.
struct Failure {
    int status = exit_library;
    std::string text;        // our own sentence: what was being done
    std::string call;        // library function that failed, if any
    int code = 0;            // its last-error code
    std::string message;     // its last-error message, as the library gave it
};

[[noreturn]] void fail_usage(const std::string& text);
[[noreturn]] void fail_not_found(const std::string& text);
[[noreturn]] void fail_unit(const std::string& text);
// The exit status of a library failure: codes that mean "no such unit" get
// the not-found status, so that scripts can tell an absent unit from a unit
// that misbehaves.
int exit_status(const std::error_code& code);
// Ends the command with the failure of library call `call` (the name the
// report shows), whose result carried `code`; `text` says what was being done.
[[noreturn]] void fail_library(const std::error_code& code, const char* call, const std::string& text);
// The same for a C call that just failed: reads the library's last error.
[[noreturn]] void fail_library(const char* call, const std::string& text);

// The value of a call of <wexo.hpp>, or the failure of `call` as above.
template <typename T>
T checked(::wexo::result<T> result, const char* call, const std::string& text) {
    if (!result) fail_library(result.error(), call, text);
    return std::move(*result);
}
inline void checked(const ::wexo::result<void>& result, const char* call, const std::string& text) {
    if (!result) fail_library(result.error(), call, text);
}

// Options that apply to every command.
struct Globals {
    int timeout_ms = 1000;
    std::optional<std::string> interface;
    unsigned log_mask = 0;
    bool json = false;
    bool auto_id = true;
    bool cache = true; // remember boards' identities between runs (unit_cache.hpp)
};

// The command line after tokenising: positional words that follow the
// command's name, and the options given (flags map to "").
struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    bool has(const std::string& name) const { return options.count(name) != 0; }
    const std::string* value(const std::string& name) const;
};

struct Context {
    Args args;
    Globals globals;
};

using Handler = int (*)(Context&);

struct Command {
    const char* name;      // "di", "serial send", ...
    const char* synopsis;  // arguments after the name
    const char* summary;   // one line for the overview
    const char* details;   // paragraph(s) for `wexo <cmd> --help`
    std::vector<std::string> options; // command options accepted (long names)
    bool takes_unit;       // accepts UNIT / --index / --host / --data-port
    Handler run;
};

// Every long option the tool knows, with the name of its value (nullptr for
// a flag). One option means the same thing wherever it appears.
struct OptionInfo {
    const char* name;
    const char* value_name;
    const char* help;
};

// Each command file registers its own commands (name, synopsis, help,
// options, handler) and the options only they take, in a
// register_X(Registry&) of its own; commands.cpp calls them in turn, in the
// order the overview lists the commands.
struct Registry {
    void add(Command command) { commands.push_back(std::move(command)); }
    void option(OptionInfo info) { options.push_back(info); }

    std::vector<Command> commands;
    std::vector<OptionInfo> options;
};

const std::vector<Command>& command_table();
const Command* find_command(const std::string& name);
// The options the command files registered (option_table() holds them too).
const std::vector<OptionInfo>& command_options();
const std::vector<OptionInfo>& option_table();
const OptionInfo* find_option(const std::string& name);
extern const std::vector<std::string> global_options;
extern const std::vector<std::string> unit_options;

// Splits argv into words and options; options may stand anywhere, "--"
// ends them. `-h` is taken as --help. Throws a usage failure.
Args tokenize(int argc, char** argv);
// Reads --timeout, --interface, --log-level, --json, --no-auto-id.
Globals read_globals(const Args& args);

// Number parsing: decimal, or 0x / 0b prefixed. Throws a usage failure
// naming `what` when the text is not a number within [min, max].
long long parse_number(const std::string& text, const std::string& what, long long min,
                       long long max);
// Decimal number (also "1e3") within [min, max]; usage failure otherwise.
double parse_decimal(const std::string& text, const std::string& what, double min, double max);
// A channel number, 0..255; the unit's own range is checked once it is known.
int parse_channel(const std::string& text);
// Fails with a usage message unless the positional words left number
// between min and max.
void check_arity(const Args& args, std::size_t min, std::size_t max, const std::string& command);
// on/off, 1/0, true/false, high/low.
bool parse_switch(const std::string& text, const std::string& what);
// Hex bytes written '41 42 0d', '41420d', '0x41,0x42' or '41:42' (cmd_serial.cpp);
// `what` names the command in the usage failure.
std::vector<std::uint8_t> parse_hex_bytes(const std::vector<std::string>& words, const std::string& what);

} // namespace wexo::cli
