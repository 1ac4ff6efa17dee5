// wexo search: the units that answer a broadcast.
#include "output.hpp"
#include "unit_record.hpp"
#include "unit_select.hpp"
#include "wexo.h"

namespace wexo::cli {

static int cmd_search(Context& ctx) {
    if (!ctx.args.positional.empty()) fail_usage("search takes no arguments");
    int count = 0;
    try {
        count = search_units(ctx.globals, ctx.args.has("identify"));
    } catch (const Failure&) {
        // Scripts reading JSON still get a valid (empty) array.
        if (ctx.globals.json) print_line("[]");
        throw;
    }
    std::vector<UnitRecord> units;
    for (int i = 0; i < count; ++i) {
        if (ctx.args.has("identify")) {
            int id = 255, model = -1;
            if (!identify_found_unit(i, true, id, model))
                warn("unit #" + std::to_string(i) + " did not identify itself");
        }
        units.push_back(read_record(i));
    }
    if (ctx.globals.json) {
        Json json;
        json.begin_array();
        for (const auto& unit : units) write_record(json, unit, false);
        json.end_array();
        print_line(json.text());
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows = {
        {"#", "IP", "MAC", "FIRMWARE", "ID", "MODEL", "DATA PORT"}};
    for (const auto& u : units)
        rows.push_back({std::to_string(u.index), u.ip, u.mac,
                        firmware_text(u.firm_version) + " " + u.firm_type, id_text(u.id),
                        model_text(u.model), std::to_string(u.data_port)});
    print_text(format_table(rows));
    return exit_ok;
}

void register_search(Registry& registry) {
    registry.add(
        {"search", "[--identify]", "list the units that answer a broadcast",
         "Broadcasts a discovery query, waits --timeout ms for replies and prints one row per unit:\n"
         "index, IP address, MAC address, firmware version and type, board ID, model code and data\n"
         "port. The search identifies no board, so board ID and model show as '-' (null in JSON)\n"
         "unless --identify asks every board after the search. With --json: an array of objects.",
         {"identify"}, false, cmd_search});
}

} // namespace wexo::cli
