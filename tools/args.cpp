// Command-line tokenising and value parsing.
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "output.hpp"

namespace wexo::cli {

namespace {

// The tool's own options and those of several command files; a command
// file registers the options only it takes.
const std::vector<OptionInfo>& shared_options() {
    static const std::vector<OptionInfo> table = {
        // global
        {"timeout", "MS", "search window and unit time-out in milliseconds (default 1000)"},
        {"interface", "NAME|ADDR", "bind every socket to this interface (eth0) or local IPv4 address"},
        {"log-level", "MASK", "library log mask: 1 entry, 2 result, 4 trace, 8 error (lines go to stdout; stderr with --json)"},
        {"json", nullptr, "machine-readable output (library log lines then go to stderr)"},
        {"japanese", nullptr, "failures also give the library's own (Japanese) message"},
        {"no-auto-id", nullptr, "info: do not identify a board picked from a search"},
        {"no-cache", nullptr, "neither use nor update the remembered board identities"},
        {"help", nullptr, "show help and exit"},
        {"version", nullptr, "show the tool and library versions"},
        // unit selection
        {"index", "N", "the N-th unit of the search (same as N or '#N')"},
        {"host", "NAME", "address a unit directly by host name or IPv4 address, without broadcast"},
        {"data-port", "P", "with --host: connect this TCP data port directly, no module exchange"},
        // of several command files
        {"identify", nullptr, "identify boards whose model is still unknown"},
        {"watch", nullptr, "poll the inputs and print every change (ai: every reading)"},
        {"interval", "MS", "with --watch: poll period in milliseconds (default 500)"},
        {"count", "N", "with --watch: stop after N polls (default: until interrupted)"},
        {"csv", nullptr, "comma-separated values: a header line, then one line per reading"},
        {"enable", "on|off", "threshold: switch the channel's thresholds on or off; pulse: switch the counting of --channel"},
        {"channel", "N", "autoswitch: output whose durations --first and --second set; pulse: input whose counting --enable sets"},
    };
    return table;
}

} // namespace

const std::vector<OptionInfo>& option_table() {
    static const std::vector<OptionInfo> table = [] {
        std::vector<OptionInfo> all = shared_options();
        const auto& own = command_options();
        all.insert(all.end(), own.begin(), own.end());
        return all;
    }();
    return table;
}

const std::vector<std::string> global_options = {"timeout", "interface", "log-level", "json",
                                                 "japanese", "no-auto-id", "no-cache", "help", "version"};
const std::vector<std::string> unit_options = {"index", "host", "data-port"};

const OptionInfo* find_option(const std::string& name) {
    for (const auto& option : option_table())
        if (name == option.name) return &option;
    return nullptr;
}

const std::string* Args::value(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? nullptr : &it->second;
}

Args tokenize(int argc, char** argv) {
    Args args;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (options_done || word.size() < 2 || word[0] != '-') {
            args.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            options_done = true;
            continue;
        }
        if (word == "-h") {
            args.options["help"] = "";
            continue;
        }
        if (word.rfind("--", 0) != 0) {
            // A negative number is a value, not an option ("-5", "-2.5").
            if (std::isdigit(static_cast<unsigned char>(word[1])) &&
                word.find_first_not_of("0123456789.", 1) == std::string::npos) {
                args.positional.push_back(word);
                continue;
            }
            fail_usage("unknown option '" + word + "'");
        }
        const auto equals = word.find('=');
        const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos
                                                                            : equals - 2);
        const OptionInfo* info = find_option(name);
        if (info == nullptr) fail_usage("unknown option '--" + name + "'");
        if (args.has(name)) fail_usage("option '--" + name + "' given twice");
        if (info->value_name == nullptr) {
            if (equals != std::string::npos) fail_usage("option '--" + name + "' takes no value");
            args.options[name] = "";
        } else if (equals != std::string::npos) {
            args.options[name] = word.substr(equals + 1);
        } else {
            if (i + 1 >= argc)
                fail_usage("option '--" + name + "' needs a value (" + info->value_name + ")");
            args.options[name] = argv[++i];
        }
    }
    return args;
}

long long parse_number(const std::string& text, const std::string& what, long long min,
                       long long max) {
    const wexo::result<long long> number = wexo::parse_number(text, min, max);
    if (number) return *number;
    if (number.error() == std::errc::result_out_of_range)
        fail_usage(what + ": " + text + " is out of range (" + std::to_string(min) + " to " +
                   std::to_string(max) + ")");
    fail_usage(what + ": '" + text + "' is not a number");
}

double parse_decimal(const std::string& text, const std::string& what, double min, double max) {
    // strtod would also take hex, "inf", "nan" and leading blanks.
    if (text.empty() || text.find_first_not_of("+-0123456789.eE") != std::string::npos)
        fail_usage(what + ": '" + text + "' is not a number");
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(text.c_str(), &end);
    if (*end != '\0' || end == text.c_str()) fail_usage(what + ": '" + text + "' is not a number");
    if (errno == ERANGE || number < min || number > max)
        fail_usage(what + ": " + text + " is out of range (" + number_text(min) + " to " + number_text(max) + ")");
    return number;
}

int parse_channel(const std::string& text) {
    return static_cast<int>(parse_number(text, "channel", 0, 255));
}

void check_arity(const Args& args, std::size_t min, std::size_t max, const std::string& command) {
    const std::size_t n = args.positional.size();
    if (n > max) fail_usage(command + ": unexpected argument '" + args.positional[max] + "'");
    if (n < min) fail_usage(command + ": missing argument");
}

bool parse_switch(const std::string& text, const std::string& what) {
    if (text == "1" || text == "on" || text == "true" || text == "high") return true;
    if (text == "0" || text == "off" || text == "false" || text == "low") return false;
    fail_usage(what + ": '" + text + "' is not on/off, 1/0, true/false or high/low");
}

Globals read_globals(const Args& args) {
    Globals g;
    if (const auto* v = args.value("timeout"))
        g.timeout_ms = static_cast<int>(parse_number(*v, "--timeout", 1, 600000));
    if (const auto* v = args.value("interface")) g.interface = *v;
    if (const auto* v = args.value("log-level"))
        g.log_mask = static_cast<unsigned>(parse_number(*v, "--log-level", 0, 0xffffffffLL));
    g.json = args.has("json");
    g.auto_id = !args.has("no-auto-id");
    g.cache = !args.has("no-cache");
    return g;
}

} // namespace wexo::cli
