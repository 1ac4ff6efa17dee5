// wexo: find, inspect and drive WEXO I/O units from a shell.

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

static int cmd_version(Context& ctx) {
    check_arity(ctx.args, 0, 0, "version");
    // The text is the library's own; the number is what the original call
    // set reports (130 for 1.3.0): both, named, so neither is mistaken.
    const std::string library = version();
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

static int cmd_help(Context&) {
    print_overview();
    return exit_ok;
}

void register_main(Registry& registry) {
    registry.add(
        {"version", "", "show the tool and library versions",
         "Prints the versions of the tool and of the library; JSON gives the library's version\n"
         "both as text (\"library\") and as ZuWexoGetDllVersion's number (\"library_number\").",
         {}, false, cmd_version});
    registry.add(
        {"help", "[COMMAND]", "show help",
         "Without COMMAND, shows the overview of all commands; with COMMAND, that command's\n"
         "usage and options, as 'wexo COMMAND --help' does. A family name (serial, fw) shows\n"
         "all of its subcommands.",
         {}, false, cmd_help});
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
    "  --host NAME [--data-port P]  a unit addressed directly, without broadcast\n"
    "  host=NAME[,port=P][,id=N,model=M]\n"
    "                               the same in one word, as the gateway's configuration\n"
    "                               names units; with the model the board is not asked\n";

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
