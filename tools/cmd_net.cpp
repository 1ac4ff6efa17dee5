// wexo net: the unit's network module: its settings, and changing them.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "output.hpp"
#include "unit_record.hpp"
#include "unit_api.hpp"
// The module's serial rates (bps_value) and the device table's counts are
// only exported as data.
#include "wexo_data.h"

namespace wexo::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A module takes a few seconds to restart; this bounds --wait.
constexpr int kWaitLimitMs = 30000;
// The restart packet gets no answer: give the module time to go down
// before asking whether it is back.
constexpr int kSettleMs = 1000;

// The six serial values in the order of ZuWexoSetSerialParameter.
constexpr int kSerialFields = 6;
const char* const serial_options[kSerialFields] = {"baud", "data-bits", "parity", "stop-bits", "flow", "port"};
using SerialValues = std::array<int, kSerialFields>;

struct Plan {
    std::optional<std::array<int, 3>> modes;
    std::optional<int> option;
    std::array<std::optional<int>, kSerialFields> serial;
    bool serial_given = false;
    std::optional<bool> performance;
    std::optional<std::string> ip;
    bool restart = false;
    bool factory = false;
    bool wait = false;

    bool any() const { return modes || serial_given || performance || ip || restart || factory; }
};

std::array<unsigned, 4> octets(const std::string& text, const std::string& what) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) fail_usage(what + ": '" + text + "' is not an IPv4 address");
    const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
    return {b[0], b[1], b[2], b[3]};
}

std::string octets_text(const std::array<unsigned, 4>& o) {
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." + std::to_string(o[3]);
}

// Addresses no unit can be given: a module there could not be reached, or
// would answer for every host of its network. Beyond the fixed classes, the
// network and broadcast addresses of the subnets this host is on.
void check_unit_address(const std::array<unsigned, 4>& o, const std::string& what) {
    const std::string ip = octets_text(o);
    const char* why = nullptr;
    if (o[0] == 0) why = "is on network 0 (this host, this network)";
    else if (o[0] == 127) why = "is a loopback address";
    else if (o[0] >= 224 && o[0] <= 239) why = "is a multicast address";
    else if (o[0] == 255 && o[1] == 255 && o[2] == 255 && o[3] == 255) why = "is the broadcast address";
    else if (o[0] >= 240) why = "is a reserved address";
    if (why) fail_usage(what + ": " + ip + " " + why + "; a unit given it could not be reached");

    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return; // nothing known of the subnets
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> guard(list, freeifaddrs);
    const std::uint32_t address = o[0] << 24 | o[1] << 16 | o[2] << 8 | o[3];
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        const std::uint32_t host = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        const std::uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
        // Subnets of /31 and /32 have no network or broadcast address.
        if (~mask < 3 || (address & mask) != (host & mask)) continue;
        const bool network = (address & ~mask) == 0;
        if (!network && (address & ~mask) != ~mask) continue;
        const std::uint32_t net = host & mask;
        const std::string subnet = octets_text({net >> 24, net >> 16 & 0xff, net >> 8 & 0xff, net & 0xff}) + "/" +
                                   std::to_string(__builtin_popcount(mask));
        fail_usage(what + ": " + ip + " is the " + (network ? "network" : "broadcast") + " address of " + subnet +
                   " (interface " + i->ifa_name + ")");
    }
}

// What the module holds now, asked afresh through its configuration port
// (which answers even while its setup port does not); empty when it does not
// answer.
std::optional<UnitRecord> ask_module(const std::string& ip, int timeout_ms) {
    int index = ZuWexoConnectDirect(ip.c_str(), timeout_ms);
    if (index >= 0) {
        ZuWexoClose(index);
    } else if (ZuWexoGetLastError() != WEXO_ERR_NO_MATCH) {
        // A module that answered keeps its record even when its data port
        // or board did not: the first unconnected direct record.
        for (int i = xportsearchcount; i < xportcount && index < 0; ++i) {
            char text[16] = {};
            if (ZuWexoGetIpAddress(i, text) == 1 && std::string(text, strnlen(text, sizeof text)) == ip) index = i;
        }
    }
    if (index < 0) return std::nullopt;
    UnitRecord record = read_record(index);
    record.listed = false;
    return record;
}

// A second unit on one address cuts both off: the address must be free.
void check_address_free(const std::string& ip, const Context& ctx, const std::string& what) {
    if (ctx.args.has("force")) return;
    if (const auto other = ask_module(ip, ctx.globals.timeout_ms))
        fail_usage(what + ": the unit " + other->mac + " answers at " + ip + " already; nothing was sent (--force gives "
                   "the address all the same)");
}

int parse_serial_value(int field, const std::string& text) {
    const std::string what = std::string("--") + serial_options[field];
    switch (field) {
    case 0: {
        const auto rate = static_cast<int>(parse_number(text, what, 1, 921600));
        for (int known : bps_value)
            if (known == rate) return rate;
        fail_usage(what + ": " + text + " is not a rate the module has (300 to 921600, e.g. 9600, 115200)");
    }
    case 1: return static_cast<int>(parse_number(text, what, 7, 8));
    case 2: return text == "none" ? 0 : static_cast<int>(parse_number(text, what, 0, 2));
    case 3: return static_cast<int>(parse_number(text, what, 1, 2));
    case 4: return static_cast<int>(parse_number(text, what, 0, 255));
    default: return static_cast<int>(parse_number(text, what, 1, 65535));
    }
}

// Everything is checked before anything is sent. The words of --pin-modes
// and --serial are the positional words left after UNIT.
Plan read_plan(Args& args) {
    Plan plan;
    auto& words = args.positional;
    std::size_t used = 0;
    auto take = [&](std::size_t n) {
        std::vector<std::string> out(words.begin() + static_cast<std::ptrdiff_t>(used),
                                     words.begin() + static_cast<std::ptrdiff_t>(used + n));
        used += n;
        return out;
    };
    if (args.has("pin-modes")) {
        if (words.size() < 3) fail_usage("net: --pin-modes needs three modes M1 M2 M3");
        const auto modes = take(3);
        plan.modes = std::array<int, 3>{};
        for (std::size_t i = 0; i < 3; ++i)
            (*plan.modes)[i] = static_cast<int>(parse_number(modes[i], "CP" + std::to_string(i + 1) + " mode", 0, 255));
    }
    if (const auto* v = args.value("option")) {
        if (!plan.modes) fail_usage("net: --option needs --pin-modes");
        plan.option = static_cast<int>(parse_number(*v, "--option", 0, 255));
    }
    bool named = false;
    for (int f = 0; f < kSerialFields; ++f)
        if (const auto* v = args.value(serial_options[f])) {
            plan.serial[static_cast<std::size_t>(f)] = parse_serial_value(f, *v);
            named = true;
        }
    if (args.has("serial") && !named) {
        if (words.size() - used != kSerialFields)
            fail_usage("net: --serial needs BAUD DATABITS PARITY STOPBITS FLOW PORT, or the named options");
        const auto values = take(kSerialFields);
        for (int f = 0; f < kSerialFields; ++f)
            plan.serial[static_cast<std::size_t>(f)] = parse_serial_value(f, values[static_cast<std::size_t>(f)]);
    }
    plan.serial_given = args.has("serial") || named;
    if (used < words.size()) fail_usage("net: unexpected argument '" + words[used] + "'");
    if (const auto* v = args.value("performance")) plan.performance = parse_switch(*v, "--performance");
    if (const auto* v = args.value("ip")) {
        const auto o = octets(*v, "--ip");
        check_unit_address(o, "--ip");
        plan.ip = octets_text(o);
    }
    if (args.has("force") && !plan.ip) fail_usage("net: --force goes with --ip or --first-found");
    plan.restart = args.has("restart");
    plan.factory = args.has("factory-defaults");
    plan.wait = args.has("wait");

    const int alone = (plan.ip ? 1 : 0) + (plan.restart ? 1 : 0) + (plan.factory ? 1 : 0);
    if (alone > 1 || (alone == 1 && (plan.modes || plan.serial_given || plan.performance)))
        fail_usage("net: --ip, --restart and --factory-defaults each stand alone");
    if (plan.wait && alone == 0)
        fail_usage("net: --wait goes with --ip, --restart or --factory-defaults (the other changes wait by themselves)");
    if (args.has("yes") && !plan.factory) fail_usage("net: --yes goes with --factory-defaults");
    if (plan.factory && !args.has("yes") && !isatty(STDIN_FILENO))
        fail_usage("net: --factory-defaults needs --yes when the input is not a terminal; nothing was sent");
    if (args.has("window")) fail_usage("net: --window goes with --first-found");
    return plan;
}

// On a terminal the user confirms; elsewhere only --yes will do.
void confirm_factory_defaults(const Args& args, const std::string& label) {
    if (args.has("yes")) return;
    std::cerr << "Return the network module of " << label << " to its factory settings? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "Y" && answer != "yes") fail_usage("net: not confirmed; nothing was changed");
}

// Asks the module at `ip` (a direct connection: its module's reply, then its
// data port) until it answers or the wait limit passes. Returns the new
// record's index, or -1.
int wait_for_module(const std::string& ip, int timeout_ms, int settle_ms) {
    if (settle_ms > 0) poll(nullptr, 0, settle_ms);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitLimitMs);
    while (Clock::now() < deadline) {
        const auto start = Clock::now();
        const int index = ZuWexoConnectDirect(ip.c_str(), timeout_ms);
        if (index >= 0) {
            ZuWexoClose(index);
            return index;
        }
        // A refusal comes at once; ask again no faster than ten times a second.
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (spent < 100) poll(nullptr, 0, static_cast<int>(100 - spent));
    }
    return -1;
}

void show(const Context& ctx, const Unit& unit, const UnitRecord& r) {
    if (ctx.globals.json) {
        Json json;
        write_record(json, r, true);
        print_line(json.text());
        return;
    }
    print_line(unit.label + ": network module");
    print_text(format_table({
        {"  IP address", ip_text(r)},
        {"  MAC address", r.mac},
        {"  firmware", firmware_field(r)},
        {"  data port", std::to_string(r.data_port)},
        {"  serial", serial_text(r)},
        {"  CP modes", cp_text(r)},
    }));
}

// What one run changed, for the report.
class Report {
public:
    Report(const Context& ctx, const Unit& unit) : json_mode_(ctx.globals.json), label_(unit.label) {
        json_.begin_object().key("index");
        if (unit.listed) json_.value(unit.index); else json_.null();
        json_.key("changes").begin_array();
    }
    Json& change(const std::string& setting, const std::string& text) {
        lines_.push_back(label_ + ": " + text);
        return json_.begin_object().field("setting", setting);
    }
    void note(const std::string& text) { lines_.push_back(label_ + ": " + text); }
    // restarted: whether the module restarted; back_ms: -1 when not awaited.
    void finish(bool restarted, long long back_ms, const std::optional<UnitRecord>& now) {
        json_.end_array().field("restarted", restarted).key("back_after_ms");
        if (back_ms >= 0) json_.value(back_ms); else json_.null();
        if (now) {
            json_.key("now");
            write_record(json_, *now, true);
        }
        json_.end_object();
        if (json_mode_) {
            print_line(json_.text());
            return;
        }
        for (const auto& line : lines_) print_line(line);
        if (now) print_text(format_table({{"  serial", serial_text(*now)}, {"  CP modes", cp_text(*now)},
                                          {"  data port", std::to_string(now->data_port)}}));
    }

private:
    bool json_mode_;
    std::string label_;
    Json json_;
    std::vector<std::string> lines_;
};

void write_serial(Json& json, const SerialValues& v) {
    // The names of info's serial object, and its data port.
    static const char* const names[kSerialFields] = {"baud", "data_bits", "parity", "stop_bits", "flow", "data_port"};
    json.begin_object();
    for (int f = 0; f < kSerialFields; ++f) json.field(names[f], v[static_cast<std::size_t>(f)]);
    json.end_object();
}

std::string serial_values_text(const SerialValues& v) {
    UnitRecord r;
    r.baud = v[0], r.data_bits = v[1], r.parity = v[2], r.stop_bits = v[3], r.flow = v[4];
    return serial_text(r) + ", data port " + std::to_string(v[5]);
}

void write_modes(Json& json, const std::array<int, 3>& modes, int option) {
    json.begin_object().key("modes").begin_array();
    for (int m : modes) json.value(m);
    json.end_array().field("option", option).end_object();
}

std::string modes_text(const std::array<int, 3>& m, int option) {
    return "CP1 " + std::to_string(m[0]) + ", CP2 " + std::to_string(m[1]) + ", CP3 " + std::to_string(m[2]) +
           " (option " + std::to_string(option) + ")";
}

// The library's failure as a value, for a report that goes on; none when
// the call succeeded.
std::optional<Failure> library_failure(const ::wexo::result<void>& result, const char* call, const std::string& text) {
    try {
        checked(result, call, text);
    } catch (const Failure& failure) {
        return failure;
    }
    return std::nullopt;
}

Ipv4 ipv4(const std::array<unsigned, 4>& o) {
    return {static_cast<std::uint8_t>(o[0]), static_cast<std::uint8_t>(o[1]), static_cast<std::uint8_t>(o[2]),
            static_cast<std::uint8_t>(o[3])};
}

// A change whose call failed. The library waits for the module's restart
// inside the call and fails the same way when the change was refused and
// when only the restart was not seen; `took` tells them apart by what the
// module holds now (or knows that it was sent). A change the module took
// ends the run with its own status and the change in the report.
void changed_or_fail(const Failure& failure, bool took, const std::optional<UnitRecord>& now, Report& report,
                     const Unit& unit) {
    if (!took) throw failure;
    report.note("the module took the change, but its restart could not be confirmed");
    report.finish(false, -1, now);
    throw Failure{exit_unconfirmed,
                  "the network module of " + unit.label + " took the change, but its restart could not be confirmed",
                  failure.call, failure.code, failure.message};
}

// The changes that wait for the module's restart themselves, in order.
void apply_settings(const Plan& plan, const Unit& unit, const UnitRecord& before, Report& report, int timeout_ms) {
    if (plan.modes) {
        const std::array<int, 3> from = {before.cp_mode[0], before.cp_mode[1], before.cp_mode[2]};
        const int option = plan.option.value_or(before.cp_flag);
        const auto& to = *plan.modes;
        const auto failed = library_failure(device(unit).set_pin_modes(to, option), "ZuWexoSetCPMode",
                                            "cannot set the pin modes of " + unit.label);
        Json& json = report.change("cp_modes", "pin modes " + modes_text(from, before.cp_flag) + " -> " +
                                                  modes_text(to, option));
        write_modes(json.key("from"), from, before.cp_flag);
        write_modes(json.key("to"), to, option);
        json.end_object();
        if (failed) {
            const auto now = ask_module(before.ip, timeout_ms);
            const bool took = now && now->cp_mode[0] == to[0] && now->cp_mode[1] == to[1] &&
                              now->cp_mode[2] == to[2] && (now->cp_flag != 0) == (option != 0);
            changed_or_fail(*failed, took, now, report, unit);
        }
    }
    if (plan.serial_given) {
        const SerialValues from = {before.baud, before.data_bits, before.parity, before.stop_bits, before.flow,
                                   before.data_port};
        SerialValues to{};
        for (std::size_t f = 0; f < to.size(); ++f) to[f] = plan.serial[f].value_or(from[f]);
        const auto failed = library_failure(device(unit).set_serial_parameters({to[0], to[1], to[2], to[3], to[4], to[5]}),
                                            "ZuWexoSetSerialParameter",
                                            "cannot set the serial parameters of " + unit.label);
        Json& json = report.change("serial", "serial " + serial_values_text(from) + " -> " + serial_values_text(to));
        write_serial(json.key("from"), from);
        write_serial(json.key("to"), to);
        json.end_object();
        if (failed) {
            const auto now = ask_module(before.ip, timeout_ms);
            const bool took = now && SerialValues{now->baud, now->data_bits, now->parity, now->stop_bits, now->flow,
                                                  now->data_port} == to;
            changed_or_fail(*failed, took, now, report, unit);
        }
    }
    if (plan.performance) {
        // The module cannot report its mode, so only the new one is known.
        const auto failed = library_failure(device(unit).set_performance(*plan.performance), "ZuWexoSetPerformance",
                                            "cannot switch the performance mode of " + unit.label);
        report.change("performance", std::string("performance mode ") + (*plan.performance ? "on" : "off"))
            .field("to", *plan.performance)
            .end_object();
        // Code 6 comes only after the module answered the packet and then
        // did not come back.
        if (failed) changed_or_fail(*failed, failed->code == WEXO_ERR_NOT_POSSIBLE, std::nullopt, report, unit);
    }
}

int first_found(Context& ctx) {
    if (ctx.args.has("index") || ctx.args.has("host"))
        fail_usage("net: --first-found takes no unit");
    check_arity(ctx.args, 0, 0, "net --first-found");
    for (const auto& [name, value] : ctx.args.options)
        if (name != "first-found" && name != "window" && name != "wait" && name != "force" &&
            std::find(global_options.begin(), global_options.end(), name) == global_options.end())
            fail_usage("net: --" + name + " does not go with --first-found");
    const std::string& text = *ctx.args.value("first-found");
    const auto o = octets(text, "--first-found");
    check_unit_address(o, "--first-found");
    const std::string ip = octets_text(o);
    int window = ctx.globals.timeout_ms;
    if (const auto* v = ctx.args.value("window")) window = static_cast<int>(parse_number(*v, "--window", 1, 600000));
    check_address_free(ip, ctx, "--first-found");
    checked(Library::first_found_set_ip_address(std::chrono::milliseconds{window}, ipv4(o)),
            "ZuWexoFirstFoundSetIpAddress", "cannot send the address " + ip);
    long long back_ms = -1;
    std::optional<UnitRecord> now;
    if (ctx.args.has("wait")) {
        const auto start = Clock::now();
        const int index = wait_for_module(ip, ctx.globals.timeout_ms, 0);
        if (index < 0)
            fail_not_found("no module answers at " + ip + " after " + std::to_string(kWaitLimitMs / 1000) +
                           " s: none answered within " + std::to_string(window) + " ms, or it did not take the address");
        back_ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        now = read_record(index);
    }
    if (ctx.globals.json) {
        Json json;
        json.begin_object().field("first_found", ip).field("window_ms", window).key("mac");
        if (now) json.value(now->mac); else json.null();
        json.key("back_after_ms");
        if (back_ms >= 0) json.value(back_ms); else json.null();
        json.end_object();
        print_line(json.text());
    } else if (now) {
        print_line("the module " + now->mac + " took the address " + ip + " and answers there after " +
                   std::to_string(back_ms) + " ms");
    } else {
        print_line("sent " + ip + " to the first module that answered within " + std::to_string(window) +
                   " ms (if any); it restarts on that address");
    }
    return exit_ok;
}

} // namespace

static int cmd_net(Context& ctx) {
    if (ctx.args.has("first-found")) return first_found(ctx);
    const UnitSelector selector = take_unit(ctx);
    if (selector.data_port_only())
        fail_usage("net: the network module is not reached with --data-port (leave out --data-port)");
    const Plan plan = read_plan(ctx.args);

    const Unit unit = open_unit(ctx, selector, false);
    UnitRecord before = read_record(unit.index);
    before.listed = unit.listed;
    if (!plan.any()) {
        show(ctx, unit, before);
        return exit_ok;
    }

    Report report(ctx, unit);
    std::string back_at = before.ip;
    int settle_ms = kSettleMs;
    if (plan.ip) {
        if (*plan.ip == before.ip) fail_usage("--ip: " + unit.label + " has the address " + before.ip + " already");
        check_address_free(*plan.ip, ctx, "--ip");
        const Mac mac = device(unit).mac().value_or(Mac{});
        checked(Library::set_ip_address(mac[4], mac[5], ipv4(octets(*plan.ip, "--ip"))), "ZuWexoSetIpAddress",
                "cannot send the address to " + unit.label);
        report.change("ip", "address " + before.ip + " -> " + *plan.ip + " (sent to the module whose MAC ends " +
                                before.mac.substr(12) + "); the module restarts on it")
            .field("from", before.ip).field("to", *plan.ip).end_object();
        // The new address answers only once the module is back.
        back_at = *plan.ip;
        settle_ms = 0;
    } else if (plan.restart) {
        checked(device(unit).reset_module(), "ZuWexoReset", "cannot restart " + unit.label);
        report.change("restart", "the module restarts").end_object();
    } else if (plan.factory) {
        confirm_factory_defaults(ctx.args, unit.label);
        checked(device(unit).factory_defaults(), "ZuWexoSetXPortDefault",
                "cannot return the module of " + unit.label + " to its factory settings");
        report.change("factory_defaults", "the module took its factory settings and restarts").end_object();
        // The library waited a second after the module stored them.
        settle_ms = 0;
    } else {
        apply_settings(plan, unit, before, report, ctx.globals.timeout_ms);
        report.note("the module restarted and answers again");
    }

    long long back_ms = -1;
    std::optional<UnitRecord> now;
    if (plan.wait) {
        const auto start = Clock::now();
        const int index = wait_for_module(back_at, ctx.globals.timeout_ms, settle_ms);
        if (index < 0)
            fail_not_found(unit.label + ": the module does not answer at " + back_at + " after " +
                           std::to_string(kWaitLimitMs / 1000) + " s");
        back_ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        now = read_record(index);
        now->listed = false;
        report.note("the module answers again at " + back_at + " after " + std::to_string(back_ms) + " ms");
    }
    report.finish(true, back_ms, now);
    return exit_ok;
}

void register_net(Registry& registry) {
    registry.option({"ip", "A.B.C.D", "net: give the unit's module this address (sent by its MAC)"});
    registry.option({"force", nullptr, "net: give the address even though a unit answers there already"});
    registry.option({"first-found", "A.B.C.D", "net: give this address to the first module that answers"});
    registry.option({"window", "MS", "with --first-found: how long modules may answer (default: --timeout)"});
    registry.option({"performance", "on|off", "net: switch the module's performance mode"});
    registry.option({"restart", nullptr, "net: restart the module"});
    registry.option({"wait", nullptr, "net: wait until the module answers again after the restart"});
    registry.option({"pin-modes", nullptr, "net: set the pin functions M1 M2 M3 of CP1..CP3 (three words follow)"});
    registry.option({"option", "N", "with --pin-modes: the pin option byte (default: as now)"});
    registry.option({"serial", nullptr, "net: set BAUD DATABITS PARITY STOPBITS FLOW PORT (six words, or the options below)"});
    registry.option({"baud", "RATE", "serial rate in bit/s (300 to 921600)"});
    registry.option({"data-bits", "7|8", "serial data bits"});
    registry.option({"parity", "P", "serial parity code: 0 (none), 1 or 2"});
    registry.option({"stop-bits", "1|2", "serial stop bits"});
    registry.option({"flow", "F", "serial flow-control byte, 0..255"});
    registry.option({"port", "P", "the TCP data port the module serves, 1..65535"});
    registry.option({"factory-defaults", nullptr, "net: return the module to its factory settings (asks first)"});
    registry.option({"yes", nullptr, "with --factory-defaults: do not ask"});
    registry.add(
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
         true, cmd_net});
}

} // namespace wexo::cli
