#include "unit_select.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "output.hpp"
#include "wexo.h"

namespace wexo::cli {

// ------------------------------------------------------------------ session

Session::Session(const Globals& globals) {
    ZuWexoInit();
    // Init resets the log mask, so the user's mask goes in afterwards.
    ZuWexoSetLogLevel(globals.log_mask);
    // A search identifies nothing unless asked (search_units): only the unit
    // a command uses is identified, by its connect call. Disabling keeps the port.
    ZuWexoSetAutoRequestIdModel(0, 10003);
    if (globals.interface && ZuWexoSelectNetworkDevice(globals.interface->c_str()) != 1) {
        const int code = ZuWexoGetLastError();
        std::array<char, 256> message{};
        ZuWexoGetLastErrorMessage(message.data());
        ZuWexoEnd(); // no destructor runs for a constructor that throws
        const std::string& text = *globals.interface;
        // The library refuses an address this host does not have rather
        // than falling back to the default interface; so do we.
        if (code == WEXO_ERR_SYSTEM_BASE + EADDRNOTAVAIL)
            throw Failure{exit_usage, "--interface: this host has no interface with the address " + text,
                          "ZuWexoSelectNetworkDevice", code, message.data()};
        fail_usage("--interface: '" + text + "' is not an IPv4 address");
    }
}

Session::~Session() { ZuWexoEnd(); }

// ------------------------------------------------------------------ parsing

namespace {

bool parse_mac(const std::string& text, std::array<unsigned char, 6>& mac) {
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if ((c == ':' || c == '-') && i % 3 == 2 && text.size() == 17) {
            continue;
        } else {
            return false;
        }
    }
    if (digits.size() != 12) return false;
    for (std::size_t i = 0; i < 6; ++i)
        mac[i] = static_cast<unsigned char>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    return true;
}

std::string unit_usage_hint() {
    return " (use N or '#N', an IPv4 address, a MAC address, id=N,model=M, or --host NAME)";
}

bool all_digits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

UnitSelector parse_unit(const std::string& text) {
    UnitSelector selector;
    // "#N" is a comment to the shell unless quoted, so a bare N works too.
    if (all_digits(text) || (!text.empty() && text[0] == '#')) {
        selector.kind = UnitSelector::Kind::index;
        selector.index = static_cast<int>(
            parse_number(text[0] == '#' ? text.substr(1) : text, "unit index", 0, 255));
        return selector;
    }
    if (text.find('=') != std::string::npos) {
        selector.kind = UnitSelector::Kind::id_model;
        std::size_t start = 0;
        while (start <= text.size()) {
            const std::size_t comma = std::min(text.find(',', start), text.size());
            const std::string part = text.substr(start, comma - start);
            const std::size_t equals = part.find('=');
            const std::string key = part.substr(0, equals);
            const std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
            if (key == "id" && selector.id < 0)
                selector.id = static_cast<int>(parse_number(value, "board ID", 0, 255));
            else if (key == "model" && selector.model < 0)
                selector.model = static_cast<int>(parse_number(value, "model code", 0, 255));
            else
                fail_usage("'" + text + "' is not a unit: expected id=N,model=M");
            start = comma + 1;
        }
        return selector;
    }
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) == 1) {
        char canonical[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &address, canonical, sizeof canonical);
        selector.kind = UnitSelector::Kind::ip;
        selector.text = canonical;
        return selector;
    }
    if (parse_mac(text, selector.mac)) {
        selector.kind = UnitSelector::Kind::mac;
        return selector;
    }
    fail_usage("'" + text + "' is not a unit" + unit_usage_hint());
}

std::string UnitSelector::describe() const {
    switch (kind) {
    case Kind::index: return "#" + std::to_string(index);
    case Kind::ip: return text;
    case Kind::mac: return mac_text(mac.data());
    case Kind::host: return text;
    case Kind::id_model: {
        std::string out;
        if (id >= 0) out = "id=" + std::to_string(id);
        if (model >= 0) out += (out.empty() ? "model=" : ",model=") + std::to_string(model);
        return out;
    }
    }
    return {};
}

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
    if (model >= 0) return true;
    int baud = 0, databits = 0, parity = 0, stopbits = 0, flow = 0, port = 0;
    ZuWexoGetSerialParameter(index, &baud, &databits, &parity, &stopbits, &flow, &port);
    // A board the search asked and that did not answer is not asked again.
    if (search_identified && port == kStandardDataPort) return false;
    return ZuWexoRequestIdModel(index, &id, &model) == 1;
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
        selector.text = *args.value("host");
        if (selector.text.empty()) fail_usage("--host needs a host name or address");
        if (const auto* port = args.value("data-port"))
            selector.data_port = static_cast<int>(parse_number(*port, "--data-port", 1, 65535));
    } else {
        if (args.positional.empty()) fail_usage("missing UNIT" + unit_usage_hint());
        selector = parse_unit(args.positional.front());
        args.positional.erase(args.positional.begin());
    }
    return selector;
}

namespace {

bool matches(const UnitSelector& selector, int index) {
    switch (selector.kind) {
    case UnitSelector::Kind::mac: {
        unsigned char mac[6] = {};
        return ZuWexoGetMacAddress(index, mac) == 1 && std::memcmp(mac, selector.mac.data(), 6) == 0;
    }
    case UnitSelector::Kind::id_model: {
        int id = 255, model = -1;
        // One that does not answer cannot match.
        if (!identify_found_unit(index, true, id, model)) return false;
        return (selector.id < 0 || selector.id == id) && (selector.model < 0 || selector.model == model);
    }
    default: return false;
    }
}

int find_unit(const UnitSelector& selector, int count) {
    if (selector.kind == UnitSelector::Kind::index) {
        if (selector.index >= count)
            fail_not_found("no unit #" + std::to_string(selector.index) + ": the search found " +
                           std::to_string(count));
        return selector.index;
    }
    for (int i = 0; i < count; ++i)
        if (matches(selector, i)) return i;
    fail_not_found("no unit matches " + selector.describe() + " among the " + std::to_string(count) +
                   " found");
}

} // namespace

Unit open_unit(const Context& ctx, const UnitSelector& selector, bool connect) {
    const int timeout = ctx.globals.timeout_ms;
    Unit unit;
    if (selector.direct()) {
        // A known address needs no broadcast: the direct calls ask only this
        // unit's module (or, with a data port, nobody) and identify its board.
        const char* host = selector.text.c_str();
        const char* call = selector.data_port_only() ? "ZuWexoConnectDirect2" : "ZuWexoConnectDirect";
        unit.index = selector.data_port_only() ? ZuWexoConnectDirect2(host, timeout, selector.data_port)
                                               : ZuWexoConnectDirect(host, timeout);
        unit.label = "unit " + selector.text;
        if (unit.index < 0) fail_library(call, "cannot reach " + unit.label);
        unit.module_known = !selector.data_port_only();
        unit.connected = true;
        return unit;
    }
    const int count = search_units(ctx.globals, selector.kind == UnitSelector::Kind::id_model);
    unit.index = find_unit(selector, count);
    unit.listed = true;
    char ip[16] = {};
    ZuWexoGetIpAddress(unit.index, ip);
    unit.label = "unit #" + std::to_string(unit.index) + " (" + std::string(ip, strnlen(ip, 16)) + ")";
    if (connect) {
        if (ZuWexoConnect(unit.index) < 0) fail_library("ZuWexoConnect", "cannot connect " + unit.label);
        unit.connected = true;
    }
    return unit;
}

int unit_model(const Unit& unit) {
    int model = -1;
    ZuWexoGetModel(unit.index, &model);
    return model;
}

} // namespace wexo::cli
