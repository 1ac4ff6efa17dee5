#include "unit_select.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "output.hpp"
#include "unit_cache.hpp"
#include "wexo.h"

namespace wexo::cli {

namespace {

// The unit this run took an identity for from the cache, for the retry
// when that identity turns out stale.
struct CachedUse {
    int index = -1;
    Mac mac{};
    Identity identity;
    std::string label;
};
std::optional<CachedUse> cached_use;
bool cache_enabled = true;

} // namespace

// ------------------------------------------------------------------ session

namespace {

// The IPv4 address --interface names: the text itself when it is one, else
// the first IPv4 address of the interface of that name.
std::string interface_address(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) == 1) return text;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        fail_usage("--interface: cannot list the interfaces of this host: " + std::string(std::strerror(errno)));
    bool named = false;
    std::string found;
    for (const ifaddrs* entry = list; entry != nullptr && found.empty(); entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || text != entry->ifa_name) continue;
        named = true;
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        char buf[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, buf, sizeof buf);
        found = buf;
    }
    freeifaddrs(list);
    if (!found.empty()) return found;
    if (named) fail_usage("--interface: interface '" + text + "' has no IPv4 address");
    fail_usage("--interface: '" + text + "' is neither an IPv4 address nor an interface of this host");
}

} // namespace

Session::Session(const Globals& globals) {
    // Resolved before the library starts: a refusal leaves nothing to end.
    const std::optional<std::string> address =
        globals.interface ? std::optional<std::string>(interface_address(*globals.interface)) : std::nullopt;
    cache_enabled = globals.cache;
    ZuWexoInit();
    // Init resets the log mask, so the user's mask goes in afterwards.
    ZuWexoSetLogLevel(globals.log_mask);
    // A search identifies nothing unless asked (search_units): only the unit
    // a command uses is identified, by its connect call. Disabling keeps the port.
    ZuWexoSetAutoRequestIdModel(0, 10003);
    if (address && ZuWexoSelectNetworkDevice(address->c_str()) != 1) {
        const int code = ZuWexoGetLastError();
        std::array<char, 256> message{};
        ZuWexoGetLastErrorMessage(message.data());
        ZuWexoEnd(); // no destructor runs for a constructor that throws
        // The library refuses an address this host does not have rather
        // than falling back to the default interface; so do we.
        throw Failure{exit_usage, "--interface: this host has no interface with the address " + *address,
                      "ZuWexoSelectNetworkDevice", code, message.data()};
    }
}

Session::~Session() { ZuWexoEnd(); }

// ------------------------------------------------------------------ parsing

namespace {

std::string unit_usage_hint() {
    return " (use N or '#N', an IPv4 address, a MAC address, id=N,model=M, or --host NAME)";
}

bool all_digits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Says why text names no unit (the shared parser only refuses it): the
// number at fault as every number option says it, else the form expected.
[[noreturn]] void fail_unit_text(const std::string& text) {
    if (all_digits(text) || (!text.empty() && text[0] == '#'))
        parse_number(text[0] == '#' ? text.substr(1) : text, "unit index", 0, 255);
    if (text.find('=') == std::string::npos) fail_usage("'" + text + "' is not a unit" + unit_usage_hint());
    std::vector<std::string> seen;
    bool host_form = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        const std::size_t equals = part.find('=');
        const std::string key = part.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
        host_form = host_form || key == "host" || key == "port";
        const bool fresh = std::find(seen.begin(), seen.end(), key) == seen.end();
        seen.push_back(key);
        if (key == "id" && fresh)
            parse_number(value, "board ID", 0, 255);
        else if (key == "model" && fresh)
            parse_number(value, "model code", 0, 255);
        else if (key == "port" && fresh)
            parse_number(value, "data port", 1, 65535);
        else if (key != "host" || !fresh)
            break;
        start = comma + 1;
    }
    if (host_form) fail_usage("'" + text + "' is not a unit: expected host=NAME[,port=P][,id=N,model=M]");
    fail_usage("'" + text + "' is not a unit: expected id=N,model=M");
}

} // namespace

// The library reads a name that does not resolve as a host it cannot reach;
// the name is looked up first so that the report says what happened.
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

UnitSelector parse_unit(const std::string& text) {
    const wexo::result<wexo::UnitAddress> address = wexo::UnitAddress::parse(text);
    if (!address) fail_unit_text(text);
    return UnitSelector{*address};
}

std::string UnitSelector::describe() const { return kind == Kind::host ? host : to_string(); }

// ------------------------------------------------------------------ finding

constexpr int kStandardDataPort = 10003;

int search_units(const Globals& globals, bool identify) {
    // The library identifies the units of a search concurrently: a network
    // of boards takes about as long as one.
    ZuWexoSetAutoRequestIdModel(identify ? 1 : 0, kStandardDataPort);
    const int count = ZuWexoSearch(globals.timeout_ms);
    if (count < 0) fail_library("ZuWexoSearch", "search failed");
    if (count == 0)
        fail_library("ZuWexoSearch",
                     "no unit answered within " + std::to_string(globals.timeout_ms) + " ms");
    if (ZuWexoGetLastError() == WEXO_ERR_ALREADY)
        warn("a unit answered but its configuration could not be read; it is left out");
    // The search resets every unit's time-out; --timeout bounds every later
    // exchange, identification included.
    for (int i = 0; i < count; ++i)
        if (ZuWexoSetTimeOut(i, globals.timeout_ms) != 1)
            fail_library("ZuWexoSetTimeOut", "cannot set the time-out of unit #" + std::to_string(i));
    return count;
}

bool identify_found_unit(int index, bool search_identified, int& id, int& model) {
    if (ZuWexoGetId(index, &id) != 1 || ZuWexoGetModel(index, &model) != 1) return false;
    if (model >= 0) {
        remember_unit(index);
        return true;
    }
    int baud = 0, databits = 0, parity = 0, stopbits = 0, flow = 0, port = 0;
    ZuWexoGetSerialParameter(index, &baud, &databits, &parity, &stopbits, &flow, &port);
    // A board the search asked and that did not answer is not asked again.
    if (search_identified && port == kStandardDataPort) return false;
    if (ZuWexoRequestIdModel(index, &id, &model) != 1) return false;
    remember_unit(index);
    return true;
}

UnitSelector take_unit(Context& ctx) {
    Args& args = ctx.args;
    const bool by_index = args.has("index");
    const bool by_host = args.has("host");
    if (args.has("data-port") && !by_host) fail_usage("--data-port needs --host");
    if (by_index && by_host) fail_usage("give either --index or --host, not both");
    UnitSelector selector;
    if (by_index) {
        selector.kind = UnitSelector::Kind::index;
        selector.index = static_cast<int>(parse_number(*args.value("index"), "--index", 0, 255));
    } else if (by_host) {
        selector.kind = UnitSelector::Kind::host;
        selector.host = *args.value("host");
        if (selector.host.empty()) fail_usage("--host needs a host name or address");
        if (const auto* port = args.value("data-port"))
            selector.data_port = static_cast<int>(parse_number(*port, "--data-port", 1, 65535));
    } else {
        if (args.positional.empty()) fail_usage("missing UNIT" + unit_usage_hint());
        selector = parse_unit(args.positional.front());
        args.positional.erase(args.positional.begin());
        if (selector.kind == UnitSelector::Kind::host) check_resolves(selector.host);
    }
    return selector;
}

namespace {

// A unit that cannot be reached is "not found" (status 3) however the
// command line named it: by address, by name, by its place in a search.
// The result of the failed call carries its code; only the library's own
// message is still to be read.
[[noreturn]] void fail_reaching(const char* call, const std::string& text, const std::error_code& code) {
    std::array<char, 256> message{};
    ZuWexoGetLastErrorMessage(message.data());
    throw Failure{unit_silent(code.value()) ? exit_not_found : exit_library, text, call, code.value(), message.data()};
}

bool record_mac(int index, Mac& mac) {
    if (ZuWexoGetMacAddress(index, mac.data()) != 1) return false;
    for (unsigned char byte : mac)
        if (byte != 0) return true;
    return false; // a record without its module's data
}

// Gives an unidentified record the identity remembered for its MAC.
std::optional<CachedUse> apply_cached_identity(int index) {
    int model = -1;
    Mac mac{};
    if (!cache_enabled || ZuWexoGetModel(index, &model) != 1 || model >= 0 || !record_mac(index, mac))
        return std::nullopt;
    const auto identity = cached_identity(mac);
    if (!identity || wexo_set_identity(index, identity->id, identity->model) != 1) return std::nullopt;
    return CachedUse{index, mac, *identity, {}};
}

} // namespace

bool unit_silent(int code) {
    switch (code) {
    case WEXO_ERR_NOT_FOUND:
    case WEXO_ERR_INDEX_RANGE:
    case WEXO_ERR_NO_MATCH:
    case WEXO_ERR_NOT_CONNECTED:
    case WEXO_ERR_CONNECT_TIMEOUT:
    case WEXO_ERR_SYSTEM_BASE + EAGAIN:
    case WEXO_ERR_SYSTEM_BASE + EPIPE:
    case WEXO_ERR_SYSTEM_BASE + ECONNREFUSED:
    case WEXO_ERR_SYSTEM_BASE + ECONNRESET:
    case WEXO_ERR_SYSTEM_BASE + EHOSTUNREACH:
    case WEXO_ERR_SYSTEM_BASE + ENETUNREACH:
    case WEXO_ERR_SYSTEM_BASE + EHOSTDOWN: return true;
    default: return false;
    }
}

void remember_unit(int index) {
    Mac mac{};
    int id = 255, model = -1;
    if (!cache_enabled || !record_mac(index, mac) || ZuWexoGetId(index, &id) != 1 ||
        ZuWexoGetModel(index, &model) != 1 || model < 0 || id == 255)
        return;
    const auto known = cached_identity(mac);
    if (!known || known->id != id || known->model != model) remember_identity(mac, Identity{id, model});
}

Unit open_unit(const Context& ctx, const UnitSelector& selector, bool connect) {
    wexo::OpenOptions options;
    options.timeout = std::chrono::milliseconds(ctx.globals.timeout_ms);
    Unit unit;
    if (selector.data_port_only()) {
        // No module exchange: no MAC to remember the board by.
        wexo::result<wexo::Unit> opened = wexo::Library::open(selector, options);
        unit.label = "unit " + selector.host;
        if (!opened) fail_reaching("ZuWexoConnectDirect2", "cannot reach " + unit.label, opened.error());
        unit.index = opened->release();
        unit.module_known = false;
        unit.connected = true;
        return unit;
    }
    const bool by_identity = selector.kind == UnitSelector::Kind::id_model;
    int count = 0;
    std::vector<std::optional<CachedUse>> remembered;
    if (selector.direct()) {
        // A known address needs no broadcast: only this unit's module is
        // asked. The record is added first so that a remembered identity
        // can spare the board's identification before the connect.
        unit.label = "unit " + selector.host;
        // Units named by address are connected even when the command
        // needs no channel: the connect identifies the board, as before.
        connect = true;
    } else {
        // With the cache, the boards are matched by their remembered
        // identities first; only the others are asked, one by one.
        count = search_units(ctx.globals, by_identity && !cache_enabled);
        remembered.resize(static_cast<std::size_t>(by_identity ? count : 0));
        for (int i = 0; i < static_cast<int>(remembered.size()); ++i) remembered[i] = apply_cached_identity(i);
        options.found = count;
        if (by_identity)
            options.identify = [](const wexo::Device& record) -> wexo::result<wexo::IdModel> {
                int id = 255, model = -1;
                // One that does not answer cannot match.
                if (!identify_found_unit(record.index(), !cache_enabled, id, model)) return wexo::errc::no_match;
                return wexo::IdModel{id, model};
            };
    }
    // The record found, before its channel opens: its label and the
    // identity remembered for it.
    bool found = false;
    options.prepare = [&](const wexo::Device& record) {
        found = true;
        unit.index = record.index();
        if (!selector.direct()) {
            unit.listed = true;
            char ip[16] = {};
            ZuWexoGetIpAddress(unit.index, ip);
            unit.label = "unit #" + std::to_string(unit.index) + " (" + std::string(ip, strnlen(ip, 16)) + ")";
            if (by_identity) cached_use = remembered[static_cast<std::size_t>(unit.index)];
        }
        if (!cached_use) cached_use = apply_cached_identity(unit.index);
        unit.identity_cached = cached_use.has_value();
        if (cached_use) cached_use->label = unit.label;
    };
    auto not_found = [&](const std::error_code& code) {
        if (selector.direct()) {
            // A model given with the host that the library does not take.
            if (selector.model >= 0 && code == wexo::errc::not_possible)
                fail_reaching("wexo_set_identity", "cannot give " + unit.label + " model " + std::to_string(selector.model),
                              code);
            fail_reaching("wexo_add_unit", "cannot reach " + unit.label, code);
        }
        if (selector.kind == UnitSelector::Kind::index)
            fail_not_found("no unit #" + std::to_string(selector.index) + ": the search found " +
                           std::to_string(count));
        fail_not_found("no unit matches " + selector.describe() + " among the " + std::to_string(count) +
                       " found");
    };
    if (!connect) {
        const wexo::result<wexo::Device> record = wexo::Library::find(selector, options);
        if (!record) not_found(record.error());
        options.prepare(*record);
        return unit;
    }
    wexo::result<wexo::Unit> opened = wexo::Library::open(selector, options);
    if (!opened && !found) not_found(opened.error());
    if (!opened) fail_reaching("ZuWexoConnect", "cannot connect " + unit.label, opened.error());
    opened->release();
    unit.connected = true;
    if (!unit.identity_cached) remember_unit(unit.index);
    return unit;
}

int run_command(const Command& command, const Context& given) {
    for (int attempt = 0;; ++attempt) {
        Context ctx = given; // the handler takes words off its copy
        const Session session(ctx.globals);
        cached_use.reset();
        try {
            return command.run(ctx);
        } catch (const Failure& failure) {
            // A refusal or a failed exchange after a remembered identity may
            // come from a board that is no longer what the cache says: ask it,
            // and if it differs, remember the new identity and run again.
            // A failed firmware update leaves the board in its loader, and the
            // module settings of net do not depend on the board: neither runs twice.
            const std::string name = command.name;
            if (attempt > 0 || !cached_use || failure.status != exit_library || name == "fw update" || name == "net")
                throw;
            const CachedUse use = *cached_use;
            int id = 255, model = -1;
            if (ZuWexoRequestIdModel(use.index, &id, &model) != 1) throw;
            if (id == use.identity.id && model == use.identity.model) throw;
            remember_identity(use.mac, Identity{id, model});
            warn(use.label + " is now board ID " + std::to_string(id) + ", model " + std::to_string(model) +
                 " (remembered: board ID " + std::to_string(use.identity.id) + ", model " +
                 std::to_string(use.identity.model) + "); running the command again");
        }
    }
}

int unit_model(const Unit& unit) {
    int model = -1;
    ZuWexoGetModel(unit.index, &model);
    return model;
}

} // namespace wexo::cli
