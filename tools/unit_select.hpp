// Starting the library and finding the unit a command names.
#pragma once

#include <array>
#include <string>

#include "cli.hpp"
#include "wexo.hpp"

namespace wexo::cli {

// Holds the library between ZuWexoInit and ZuWexoEnd and applies the global
// options; ending it closes every command channel the command opened.
class Session {
public:
    explicit Session(const Globals& globals);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

// A unit as the command line names it: the library's unit address
// (wexo::UnitAddress, one text form for every tool) from UNIT, or from
// --index / --host / --data-port.
struct UnitSelector : wexo::UnitAddress {
    // --data-port: no module exchange, so the record holds no module data
    // and the unit has no pin port.
    bool data_port_only() const { return kind == Kind::host && data_port != 0; }
    // The address in messages: a host by its name alone.
    std::string describe() const;
};

// Parses UNIT: "3", "#3", "10.200.0.2", "02:57:58:01:02:03", "id=3,model=17"
// or "host=NAME[,port=P][,id=N,model=M]" (wexo::UnitAddress::parse); the
// usage message says what is wrong.
UnitSelector parse_unit(const std::string& text);

// Broadcasts a search; returns the number of units (at least 1) or throws a
// not-found failure. Warns when a unit had to be dropped. With identify, the
// search identifies the boards on the standard data port 10003, all at once.
int search_units(const Globals& globals, bool identify = false);

// The board ID and model of found unit index, asking the board unless the
// search has (a search with identify asked every unit on port 10003 already).
// false when the board is not identified.
bool identify_found_unit(int index, bool search_identified, int& id, int& model);

struct Unit {
    int index = -1;
    bool listed = false;    // index is the place in a search
    bool module_known = true;
    std::string label;      // "unit #0 (10.200.0.2)" or "unit 10.200.0.2"
    bool connected = false;
    bool identity_cached = false; // board ID and model came from the cache, not the board
};

// Fails with "cannot resolve" (not found) when host is a name that does not
// resolve to an IPv4 address; dotted addresses and "" pass.
void check_resolves(const std::string& host);

// Takes the unit from --index / --host or the first positional word
// (removing it). Commands call it before checking their other arguments.
UnitSelector take_unit(Context& ctx);

// Finds the unit and, when `connect` is set, opens its command channel,
// which identifies the board if needed. Units named by address are
// connected directly, without a broadcast, and always connected.
Unit open_unit(const Context& ctx, const UnitSelector& selector, bool connect);

// Whether a last-error code says the unit did not answer, or nothing
// listens where it should (as against a unit that answered wrongly).
bool unit_silent(int code);

// Remembers the identity record index holds (after the board reported it),
// by the MAC address of its module; nothing with --no-cache.
void remember_unit(int index);

// Starts the library and runs the command. When the command fails on a unit
// whose identity came from the cache and the board now reports another, the
// cache is corrected and the command runs once more.
int run_command(const Command& command, const Context& ctx);

// The unit's model code (-1 while unknown).
int unit_model(const Unit& unit);

} // namespace wexo::cli
