// wexo: find, inspect and drive WEXO I/O units from a shell.
#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <exception>
#include <iostream>

#include "output.hpp"
#include "unit_select.hpp"
#include "wexo.h"

#ifndef WEXO_CLI_VERSION
#define WEXO_CLI_VERSION "unknown"
#endif

namespace wexo::cli {

const std::vector<Command>& command_table() {
    static const std::vector<Command> table = {
        {"search", "[--identify]", "list the units that answer a broadcast",
         "Broadcasts a discovery query, waits --timeout ms for replies and prints one row per unit:\n"
         "index, IP address, MAC address, firmware version and type, board ID, model code and data\n"
         "port. The search identifies no board, so board ID and model show as '-' (null in JSON)\n"
         "unless --identify asks every board after the search. With --json: an array of objects.",
         {"identify"}, false, cmd_search},
        {"info", "UNIT [--identify]", "everything known about one unit",
         "Prints the unit's record: addresses, firmware, board ID, model and what the model offers,\n"
         "data port, serial settings of the module and the configurable-pin modes. The board is\n"
         "identified if its model is still unknown (a failure is a warning; with --identify an\n"
         "error); --no-auto-id sends nothing to a board picked from a search. Values a unit reached\n"
         "with --data-port cannot report show as '-' (null in JSON).",
         {"identify"}, true, cmd_info},
        {"identify", "UNIT", "ask the board for its board ID and model",
         "Runs the identification exchange on the unit (over a temporary connection) and prints\n"
         "the board ID and model code it reports.",
         {}, true, cmd_identify},
        {"connect", "UNIT", "open the command channel and report",
         "Opens the unit's command channel (identifying the board first if needed), prints the\n"
         "data port, board ID and model, and closes the channel again. A quick reachability test.",
         {}, true, cmd_connect},
        {"serial send", "UNIT HEXBYTES... [--recv [--size N]]\nUNIT --text STR [--recv [--size N]]",
         "send raw bytes through the unit's serial channel",
         "Sends bytes on the command channel as they are, without framing. HEXBYTES may be written\n"
         "'41 42 0d', '41420d', '0x41,0x42' or '41:42'. --text sends characters with the escapes\n"
         "\\r \\n \\t \\0 \\\\ \\xHH. With --recv, one reply is awaited (up to --timeout ms) and dumped.",
         {"text", "recv", "size"}, true, cmd_serial_send},
        {"serial recv", "UNIT [--size N]", "receive raw bytes from the unit's serial channel",
         "Waits up to --timeout ms for bytes from the unit and prints a hex dump of what one\n"
         "receive returned (at most --size bytes, default 256). Nothing arriving is a failure.",
         {"size"}, true, cmd_serial_recv},
        {"di", "UNIT [CHANNEL] [--csv]\nUNIT [CHANNEL] --watch [--interval MS] [--count N] [--csv]", "read digital inputs",
         "Without CHANNEL, reads all inputs and prints one line per channel and the mask (bit i =\n"
         "input i). With CHANNEL, reads that input. ASCII boards report an input that is on as 1,\n"
         "2, 4 or 8 by its place in its group of four; this shows as 'on (value N)'. A channel the\n"
         "model lacks is refused with the inputs it has, before anything is sent.\n"
         "--watch polls the inputs every --interval ms (default 500) and prints the first state and\n"
         "then one line per change (of CHANNEL alone when given), until --count polls were made or\n"
         "SIGINT/SIGTERM arrives; with --json one object per line. A unit that stops answering is\n"
         "reported on standard error and connected again, with back-off, until it answers. --csv\n"
         "prints a header line and one line per reading (UTC time, ms since the start, 0 or 1 per\n"
         "input and the mask), as ai and pulse count do.",
         {"watch", "interval", "count", "csv"}, true, cmd_di},
        {"do", "UNIT [CHANNEL on|off]\nUNIT --get CHANNEL\nUNIT --all MASK", "set or read back digital outputs",
         "With no arguments, reads back all outputs. CHANNEL VALUE sets one output (VALUE on/off,\n"
         "1/0, true/false, high/low). --all MASK sets all outputs at once (bit i = output i, 0x and\n"
         "0b prefixes accepted); a mask with bits above the unit's outputs is refused and nothing\n"
         "is set. --get CHANNEL reads back one output.",
         {"all", "get"}, true, cmd_do},
        {"cp", "UNIT [CP1 CP2 CP3]", "read or set the module's configurable pins",
         "Without levels, reads the pins CP1, CP2 and CP3 (0 or 1). With three levels (on/off or\n"
         "1/0), sets them. The unit is connected first. Pin access needs the network module, so a\n"
         "unit reached with --data-port is refused (exit status 2).",
         {}, true, cmd_cp},
        {"autoswitch", "UNIT [--active 0|1] [--mask M] [--time MS] [--channel N --first MS --second MS]",
         "show or change automatic output switching",
         "Applies the given settings (durations, mask, time, then the on/off switch) and prints the\n"
         "state: active, the outputs that take part, the switching time and, on ASCII boards, the\n"
         "two durations of every output. Times are set only as the board holds them: binary boards\n"
         "100 to 2000 ms in steps of 100 ms and 3000 to 15000 ms in steps of 1000 ms (--time);\n"
         "ASCII boards 100 to 25500 ms in steps of 100 ms (--time, --first, --second). Any other\n"
         "time is refused with the nearest ones (exit status 2) and nothing is set.",
         {"active", "mask", "time", "channel", "first", "second"}, true, cmd_autoswitch},
        {"ai", "UNIT [CH] [--range R] [--sps CODE] [--cycle CODE]\n"
               "UNIT [CH] --watch [--interval MS] [--count N] [--csv]\nUNIT [CH] --csv",
         "read analog inputs; set their range, sampling rate and transmit cycle",
         "Reads all analog inputs (or input CH) in one exchange and prints, per input, the range\n"
         "code, its full scale, the raw count (signed 24 bits, -8388608..8388607) and the value:\n"
         "the count scaled to the range's full scale, in the range's own unit. Full scales:\n"
         "range 0: 0.1, 1: 1, 2: 10, 3: 30, 4 and 5: 20, 6: 3276.8 (not on model 40). Then the\n"
         "unit's transmit-cycle code. --range R sets the range of CH (0..6), --sps CODE the unit's\n"
         "sampling-rate code (0..7; the unit does not report it back), --cycle CODE its\n"
         "transmit-cycle code (0..13); the settings go in first, then the inputs are read.\n"
         "--watch prints one reading every --interval ms (default 500), with --json one object\n"
         "per reading, until --count readings were made or SIGINT/SIGTERM arrives; a unit that\n"
         "stops answering is connected again, with back-off. --csv prints a header line and one\n"
         "line per reading (UTC time, ms since the start, count and value of every input; values\n"
         "with 8 decimals on the voltage ranges 0..3, 6 on the current ranges 4 and 5, 4 on range\n"
         "6), for a spreadsheet or a plotting tool. A channel the model lacks is refused with the\n"
         "channels it has (models 40 and 42: AI0..AI2, 44: AI0..AI4).",
         {"range", "sps", "cycle", "watch", "interval", "count", "csv"}, true, cmd_ai},
        {"ao", "UNIT CH VALUE [--mode volts|ma|counts] [--initial]\nUNIT [CH]",
         "set or read back analog outputs",
         "Without VALUE, reads back all analog outputs (or output CH): mode (voltage or current),\n"
         "value in V or mA, and raw count. CH VALUE sets output CH and reads it back. VALUE is in\n"
         "volts by default (-10..10 V, a voltage output); --mode ma takes milliamperes (0..20 mA,\n"
         "a current output); --mode counts takes the raw count (-32768..32767 = -10..10 V, or\n"
         "0..32767 = 0..20 mA) and keeps the output's present mode. --initial sets the value\n"
         "the output takes at power-up instead (the unit cannot report it back; the present\n"
         "output is shown). Models 41 (AO0..AO1) and 43 (AO0..AO2) have analog outputs.",
         {"mode", "initial"}, true, cmd_ao},
        {"tc", "UNIT [CH] [--type T] [--flags F] [--scale-mode M] [--scale-low X] [--scale-high X]",
         "show or set thermocouple inputs",
         "Shows the thermocouple settings of all analog inputs (or input CH): type code, the three\n"
         "flags and the transmit scale (mode, low and high value). Settings change input CH:\n"
         "--type T (0..7), --flags F (bit i = flag i, 0..7), --scale-mode M (0..3), --scale-low X\n"
         "and --scale-high X (-3276.8..3276.7, rounded to one decimal). What is not given stays as\n"
         "the unit has it. Models 42 and 44 have thermocouple inputs; model 40 has none.",
         {"type", "flags", "scale-mode", "scale-low", "scale-high"}, true, cmd_tc},
        {"threshold", "UNIT [CH] [--enable on|off] [--t1 N] [--t2 N] [--mail C]",
         "show or set analog thresholds and mail conditions",
         "Shows the thresholds of all analog channels (or channel CH): on or off, threshold 1 and\n"
         "threshold 2 in raw counts (-32768..32767), and the mail condition code (0..2). The\n"
         "channels are the analog inputs, or on models without inputs (41, 43) the analog outputs,\n"
         "which have no mail condition. --enable, --t1 and --t2 change channel CH (what is not\n"
         "given stays), --mail C its mail condition.",
         {"enable", "t1", "t2", "mail"}, true, cmd_threshold},
        {"pulse", "UNIT [--on|--off] [--continuous on|off] [--channel CH --enable on|off [--down]]\n"
                  "UNIT --config CH UP|DOWN A B\nUNIT --alert CH MODE VALUE\n"
                  "UNIT count [CH] [--watch [--interval MS] [--count N]] [--csv]",
         "show or set pulse mode and read the pulse counters",
         "Shows pulse mode (on/off), continuous mode, settings a and b, and per digital input whether\n"
         "it counts, its sense (UP/DOWN) and its count; boards with the full pulse set add the pulse\n"
         "alert. --config makes CH the counting channel with its sense and both settings; --channel\n"
         "CH --enable sets one input's counting (not on the basic set, which counts on one channel);\n"
         "--alert sets the pulse alert (full set only: models 1, 2, 4 behind firmware type _L).\n"
         "Settings go in before --on/--off; each change is reported as 'old -> new'. 'count' reads\n"
         "the counts alone; with --watch every --interval ms (default 500), reconnecting to a unit\n"
         "that stops answering; with --csv as a header line and one line per reading (UTC time, ms\n"
         "since the start, one count per input; an overflow is an empty field).",
         {"on", "off", "continuous", "config", "channel", "enable", "down", "alert", "watch", "interval", "count", "csv"},
         true, cmd_pulse},
        {"eeprom", "UNIT [dump [ADDR [LEN]]]\nUNIT read ADDR [LEN]\nUNIT write ADDR HEXBYTES...\n"
                   "UNIT backup FILE\nUNIT restore FILE",
         "dump, read, write, back up or restore the board's EEPROM",
         "The 4096 EEPROM bytes of models 17, 21, 22, 25, 26 and 40 to 44. 'dump' prints them as xxd\n"
         "does (from ADDR, default 0; LEN bytes, default to the end), 'read' as plain hex bytes (LEN\n"
         "default 1). 'write' and 'restore' write only the bytes that differ from the unit's, read\n"
         "them back to verify, and list every change as 'old -> new'. 'backup' saves all 4096 bytes\n"
         "to a raw file, 'restore' writes such a file back. Each byte is one exchange with the\n"
         "board; a terminal shows the progress.",
         {}, true, cmd_eeprom},
        {"settings", "UNIT [NAME VALUE]", "show or set the unit settings the board keeps",
         "Without NAME, shows every setting the unit's model has: disconnection-time, notice-time,\n"
         "resend-wait-time, di-detect-time (in the board's time steps), mail-logic, mail-enable\n"
         "(masks, bit i = input DIi) and sampling-rate (code, analog input boards), with value,\n"
         "range and where the board keeps it. NAME VALUE sets one and reports every setting that\n"
         "changed as 'old -> new' (disconnection and notice time share one byte on the board).",
         {}, true, cmd_settings},
        {"net", "UNIT [--ip A.B.C.D | --restart | --factory-defaults [--yes]] [--wait]\n"
                "UNIT [--pin-modes M1 M2 M3 [--option N]] [--serial BAUD DATABITS PARITY STOPBITS FLOW PORT]\n"
                "UNIT [--baud RATE] [--data-bits 7|8] [--parity P] [--stop-bits 1|2] [--flow F] [--port P]\n"
                "UNIT [--performance on|off]\n"
                "--first-found A.B.C.D [--window MS] [--wait]",
         "show or change the unit's network module",
         "Without changes, shows the module's settings: address, MAC, firmware, data port, serial\n"
         "parameters and pin modes. --pin-modes, --serial (six words, or any of the named serial\n"
         "options; what is not given stays) and --performance may be combined; the library waits\n"
         "for the module's restart after each. --ip (the module is named by its MAC address),\n"
         "--restart and --factory-defaults stand alone; the module restarts, and --wait waits\n"
         "(up to 30 s) until it answers again and shows its settings then. --factory-defaults\n"
         "asks for confirmation on a terminal; elsewhere it needs --yes. --first-found takes no\n"
         "UNIT: the first module that answers within --window ms takes the address.",
         {"ip", "first-found", "window", "performance", "restart", "wait", "pin-modes", "option", "serial",
          "baud", "data-bits", "parity", "stop-bits", "flow", "port", "factory-defaults", "yes", "force"},
         true, cmd_net},
        {"fw check", "FILE.hex [--gap-fill BYTE]", "check an Intel HEX firmware file",
         "Checks the file as the firmware update would (wexo_check_intel_hex) and prints its\n"
         "blocks, bytes and address range, or the first bad line with its record and the reason\n"
         "(exit status 1). Start-address records (type 03, 05) and extended-address records of\n"
         "upper address 0 (type 04) are removed first, and a note says so.",
         {"gap-fill"}, false, cmd_fw_check},
        {"fw update", "UNIT FILE.hex [--gap-fill BYTE] [--dry-run]", "load firmware into the unit's board",
         "Checks the file, connects the unit (models 0 and 3 to 6 have the loader) and writes the\n"
         "image, with a progress bar on a terminal and progress lines on standard error\n"
         "otherwise. The loader takes no addresses, so a file of more than one block is refused;\n"
         "--gap-fill BYTE joins the blocks into one, from the lowest to the highest address, the\n"
         "gaps filled with BYTE. --dry-run stops before the first byte of firmware is sent.\n"
         "SIGINT or SIGTERM stops the update within 100 ms, also in the middle of a block, whose\n"
         "commit byte is then never sent (exit status 1).",
         {"dry-run", "gap-fill"}, true, cmd_fw_update},
        {"version", "", "show the tool and library versions",
         "Prints the versions of the tool and of the library; JSON gives the library's version\n"
         "both as text (\"library\") and as ZuWexoGetDllVersion's number (\"library_number\").",
         {}, false, cmd_version},
        {"help", "[COMMAND]", "show help",
         "Without COMMAND, shows the overview of all commands; with COMMAND, that command's\n"
         "usage and options, as 'wexo COMMAND --help' does. A family name (serial, fw) shows\n"
         "all of its subcommands.",
         {}, false, cmd_help},
    };
    return table;
}

const Command* find_command(const std::string& name) {
    for (const auto& command : command_table())
        if (name == command.name) return &command;
    return nullptr;
}

int cmd_version(Context& ctx) {
    check_arity(ctx.args, 0, 0, "version");
    // The text is the library's own; the number is what the original call
    // set reports (130 for 1.3.0): both, named, so neither is mistaken.
    const std::string library = wexo_version();
    if (ctx.globals.json) {
        Json json;
        json.begin_object().field("tool", WEXO_CLI_VERSION).field("library", library)
            .field("library_number", ZuWexoGetDllVersion()).end_object();
        print_line(json.text());
    } else {
        print_line(std::string("wexo ") + WEXO_CLI_VERSION + ", libWEXO " + library);
    }
    return exit_ok;
}

namespace {
void print_overview();
}

int cmd_help(Context&) {
    print_overview();
    return exit_ok;
}

namespace {

// "net" for "net: give ...": the command a part of an option's help is
// about, or "" when the part is about no command in particular.
std::string help_tag(const std::string& part) {
    const auto colon = part.find(": ");
    if (colon == std::string::npos) return {};
    const std::string tag = part.substr(0, colon);
    return find_command(tag) != nullptr || std::string(tag) == "fw" ? tag : std::string();
}

bool tag_matches(const std::string& tag, const std::string& command) {
    return tag == command || command.rfind(tag + " ", 0) == 0;
}

// An option's help as one command shows it: shared options say what they
// do per command ("autoswitch: ...; pulse: ..."), and only the command's
// own part is shown. An empty command keeps the whole text.
std::string option_help(const OptionInfo& info, const std::string& command) {
    std::string text = info.help;
    if (command.empty()) return text;
    // A remark in parentheses about another command goes.
    const auto open = text.find(" (");
    if (open != std::string::npos && text.back() == ')') {
        const std::string tag = help_tag(text.substr(open + 2));
        if (!tag.empty() && !tag_matches(tag, command)) text.erase(open);
    }
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const auto end = text.find("; ", start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    for (const auto& part : parts) {
        const std::string tag = help_tag(part);
        if (tag.empty()) return text; // not a per-command text
        if (tag_matches(tag, command)) return part.substr(tag.size() + 2);
    }
    return text;
}

// Whether a global option is about another command only (--no-auto-id).
bool foreign_option(const std::string& name, const std::string& command) {
    const std::string tag = help_tag(find_option(name)->help);
    return !tag.empty() && !tag_matches(tag, command);
}

std::string option_lines(const std::vector<std::string>& names, const std::string& command = {}) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& name : names) {
        const OptionInfo* info = find_option(name);
        std::string left = "  --" + name;
        if (info->value_name) left += std::string(" ") + info->value_name;
        rows.push_back({left, option_help(*info, command)});
    }
    return format_table(rows);
}

const char* unit_forms =
    "UNIT is one of:\n"
    "  N, '#N', --index N           the N-th unit of the search, as 'wexo search' lists it\n"
    "  A.B.C.D                      the unit at this IP address, reached directly (no broadcast)\n"
    "  xx:xx:xx:xx:xx:xx            the unit with this MAC address\n"
    "  id=N,model=M                 board ID and model code (either may be left out)\n"
    "  --host NAME [--data-port P]  a unit addressed directly, without broadcast\n";

const char* first_contact =
    "The first command on an ASCII or analog board costs about one --timeout more: the board\n"
    "is silent to the first of the two identification requests. The tool then remembers the\n"
    "board's ID and model by the MAC address of its module (in $XDG_CACHE_HOME/wexo/units, or\n"
    "~/.cache/wexo/units), so a later command on it by address takes a few tenths of a second;\n"
    "by index or MAC the search window (--timeout) comes first. A remembered model that no\n"
    "longer fits is asked again and corrected. --no-cache neither reads nor writes it.\n";

const char* exit_statuses =
    "Exit status: 0 success, 1 the library or the unit failed, 2 usage error,\n"
    "3 no unit found, none matches, the unit does not answer or its host name does not resolve,\n"
    "4 net: the module took a change, but its restart could not be confirmed.\n";

void print_overview() {
    std::string text =
        "Usage: wexo [OPTIONS] COMMAND [ARGS...]\n"
        "Find, inspect and drive WEXO I/O units. Options may stand anywhere.\n\nCommands:\n";
    std::vector<std::vector<std::string>> rows;
    for (const auto& command : command_table()) {
        std::string synopsis = command.synopsis;
        synopsis = synopsis.substr(0, synopsis.find('\n'));
        // Long option lists stay in the command's own help.
        if (synopsis.size() > 30 && synopsis.find(" [--") != std::string::npos)
            synopsis = synopsis.substr(0, synopsis.find(" [--")) + " [OPTIONS]";
        rows.push_back({std::string("  ") + command.name + (synopsis.empty() ? "" : " " + synopsis),
                        command.summary});
    }
    text += format_table(rows) + "\n" + unit_forms + "\n" + first_contact + "\nGlobal options:\n" +
            option_lines(global_options) + "\n" + exit_statuses;
    print_text(text);
}

void print_command_help(const Command& command) {
    std::string text;
    std::string synopsis = command.synopsis;
    const char* lead = "Usage: ";
    for (std::size_t start = 0; start <= synopsis.size();) {
        const std::size_t end = std::min(synopsis.find('\n', start), synopsis.size());
        text += std::string(lead) + "wexo " + command.name + " " + synopsis.substr(start, end - start) + "\n";
        lead = "       ";
        start = end + 1;
    }
    text += "\n" + std::string(command.details) + "\n";
    if (!command.options.empty()) text += "\nOptions:\n" + option_lines(command.options, command.name);
    if (command.takes_unit) text += std::string("\n") + unit_forms;
    text += "\nGlobal options (see 'wexo --help'):";
    for (const auto& name : global_options) {
        if (foreign_option(name, command.name)) continue;
        const OptionInfo* info = find_option(name);
        text += " --" + name + (info->value_name ? std::string(" ") + info->value_name : std::string());
    }
    text += "\n" + std::string(exit_statuses);
    print_text(text);
}

bool accepts(const Command& command, const std::string& option) {
    auto in = [&](const std::vector<std::string>& list) {
        return std::find(list.begin(), list.end(), option) != list.end();
    };
    return in(global_options) || (command.takes_unit && in(unit_options)) || in(command.options);
}

// Help for a family ("serial", "fw"): all of its subcommands.
void print_family_help(const std::string& family) {
    for (const auto& command : command_table())
        if (std::string(command.name).rfind(family + " ", 0) == 0) print_command_help(command);
}

bool is_family(const std::string& name) {
    for (const auto& command : command_table())
        if (std::string(command.name).rfind(name + " ", 0) == 0) return true;
    return false;
}

// "'send' or 'recv'": the subcommands of a family.
std::string subcommands(const std::string& family) {
    std::string out;
    for (const auto& command : command_table()) {
        const std::string name = command.name;
        if (name.rfind(family + " ", 0) != 0) continue;
        out += (out.empty() ? "'" : " or '") + name.substr(family.size() + 1) + "'";
    }
    return out;
}

// The library reads a name that does not resolve as a host it cannot reach;
// the name is looked up here first so that the report says what happened.
void check_resolves(const std::string& host) {
    in_addr address{};
    if (host.empty() || inet_pton(AF_INET, host.c_str(), &address) == 1) return;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    if (status != 0)
        fail_not_found("cannot resolve '" + host + "' to an IPv4 address: " + gai_strerror(status));
}

int run(int argc, char** argv) {
    Context ctx;
    ctx.args = tokenize(argc, argv);
    ctx.globals = read_globals(ctx.args);
    if (ctx.globals.json) send_library_log_to_stderr();
    auto& words = ctx.args.positional;
    bool help = ctx.args.has("help");
    if (ctx.args.has("version")) {
        words.clear();
        return cmd_version(ctx);
    }
    // "wexo help help" leaves "help", a command of the table like any other.
    if (!words.empty() && words[0] == "help") {
        words.erase(words.begin());
        help = true;
    }
    if (words.empty()) {
        if (!help) fail_usage("missing command");
        print_overview();
        return exit_ok;
    }
    std::string name = words[0];
    std::size_t used = 1;
    if (is_family(name)) {
        if (words.size() < 2) {
            if (!help) fail_usage(name + " needs " + subcommands(name));
            print_family_help(name);
            return exit_ok;
        }
        name += " " + words[1];
        used = 2;
    }
    const Command* command = find_command(name);
    if (command == nullptr) fail_usage("unknown command '" + name + "'");
    if (help) {
        print_command_help(*command);
        return exit_ok;
    }
    for (const auto& entry : ctx.args.options)
        if (!accepts(*command, entry.first))
            fail_usage(name + ": option '--" + entry.first + "' does not apply");
    words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(used));
    if (const auto* host = ctx.args.value("host")) check_resolves(*host);
    return run_command(*command, ctx);
}

} // namespace

} // namespace wexo::cli

int main(int argc, char** argv) {
    using namespace wexo::cli;
    bool json = false, japanese = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json") json = true;
        if (std::string(argv[i]) == "--japanese") japanese = true;
    }
    try {
        return run(argc, argv);
    } catch (const Failure& failure) {
        report_failure(failure, json, japanese);
        return failure.status;
    } catch (const std::exception& e) {
        report_failure(Failure{exit_library, std::string("internal error: ") + e.what(), {}, 0, {}}, json, japanese);
        return exit_library;
    }
}
