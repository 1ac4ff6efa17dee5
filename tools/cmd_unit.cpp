// wexo info / identify / connect: one unit's record and its session.
#include "output.hpp"
#include "unit_record.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

namespace {

std::string capabilities_text(int model) {
    const auto caps = capabilities(model);
    if (!caps) return "unknown (model not identified)";
    return std::to_string(caps->outputs) + " DO, " + std::to_string(caps->inputs) + " DI, " +
           std::to_string(caps->analog_outputs) + " AO, " + std::to_string(caps->analog_inputs) +
           " AI, auto switching " + auto_switching_name(caps->auto_switching);
}

// "unit #1" for a unit of the search, "unit 10.200.0.3" for one reached
// directly.
std::string heading(const Unit& unit) {
    return unit.listed ? "unit #" + std::to_string(unit.index) : unit.label;
}

void write_index(Json& json, const Unit& unit) {
    json.key("index");
    if (unit.listed) json.value(unit.index); else json.null();
}

} // namespace

static int cmd_info(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    check_arity(ctx.args, 0, 0, "info");
    const Unit unit = open_unit(ctx, selector, false);
    // Only the unit shown is identified (a direct connection already did).
    const bool must_identify = ctx.args.has("identify");
    const ::wexo::Device record = device(unit);
    if (const auto model = record.model(); model && *model < 0 && (must_identify || ctx.globals.auto_id)) {
        if (const auto identity = record.request_id_model(); !identity) {
            if (must_identify) fail_library(identity.error(), "ZuWexoRequestIdModel", "cannot identify " + unit.label);
            warn(unit.label + " did not identify itself (error " + std::to_string(identity.error().value()) +
                 "); board ID and model are unknown");
        }
    }
    UnitRecord r = read_record(unit.index);
    r.listed = unit.listed;
    r.module_known = unit.module_known;
    if (ctx.globals.json) {
        Json json;
        write_record(json, r, true);
        print_line(json.text());
        return exit_ok;
    }
    print_line(heading(unit));
    print_text(format_table({
        {"  IP address", ip_text(r)},
        {"  MAC address", mac_field(r)},
        {"  firmware", firmware_field(r)},
        {"  board ID", id_text(r.id)},
        {"  model", model_text(r.model)},
        {"  capabilities", capabilities_text(r.model)},
        {"  data port", std::to_string(r.data_port)},
        {"  serial", r.module_known ? serial_text(r) : "-"},
        {"  CP modes", r.module_known ? cp_text(r) : "-"},
    }));
    return exit_ok;
}

static int cmd_identify(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    check_arity(ctx.args, 0, 0, "identify");
    const Unit unit = open_unit(ctx, selector, false);
    const ::wexo::Device record = device(unit);
    int id = 255, model = -1;
    // A direct connection has just identified the board; asking again would
    // only repeat the exchange.
    // A remembered identity is what this command checks: the board is asked.
    if (unit.connected && !unit.identity_cached) {
        id = record.id().value_or(id);
        model = record.model().value_or(model);
    } else {
        const auto identity = checked(record.request_id_model(), "ZuWexoRequestIdModel", "cannot identify " + unit.label);
        id = identity.id;
        model = identity.model;
    }
    remember_unit(unit.index);
    if (ctx.globals.json) {
        Json json;
        json.begin_object();
        write_index(json, unit);
        json.field("id", id).field("model", model).end_object();
        print_line(json.text());
    } else {
        print_line(unit.label + ": board ID " + std::to_string(id) + ", model " + std::to_string(model));
    }
    return exit_ok;
}

static int cmd_connect(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    check_arity(ctx.args, 0, 0, "connect");
    const Unit unit = open_unit(ctx, selector, true);
    ::wexo::Unit channel = ::wexo::Unit::adopt(unit.index);
    const int id = channel.id().value_or(255);
    const int model = channel.model().value_or(-1);
    const int port = channel.serial_parameters().value_or(::wexo::SerialParameters{}).port;
    checked(channel.close(), "ZuWexoClose", "cannot close " + unit.label);
    if (ctx.globals.json) {
        Json json;
        json.begin_object();
        write_index(json, unit);
        json.field("connected", true).field("data_port", port);
        json.key("id");
        if (id == 255) json.null(); else json.value(id);
        json.key("model");
        if (model < 0) json.null(); else json.value(model);
        json.end_object();
        print_line(json.text());
    } else {
        print_line("connected " + unit.label + ": data port " + std::to_string(port) + ", board ID " +
                   id_text(id) + ", model " + model_text(model) + "; closed again");
    }
    return exit_ok;
}

void register_unit(Registry& registry) {
    registry.add(
        {"info", "UNIT [--identify]", "everything known about one unit",
         "Prints the unit's record: addresses, firmware, board ID, model and what the model offers,\n"
         "data port, serial settings of the module and the configurable-pin modes. The board is\n"
         "identified if its model is still unknown (a failure is a warning; with --identify an\n"
         "error); --no-auto-id sends nothing to a board picked from a search. Values a unit reached\n"
         "with --data-port cannot report show as '-' (null in JSON).",
         {"identify"}, true, cmd_info});
    registry.add(
        {"identify", "UNIT", "ask the board for its board ID and model",
         "Runs the identification exchange on the unit (over a temporary connection) and prints\n"
         "the board ID and model code it reports.",
         {}, true, cmd_identify});
    registry.add(
        {"connect", "UNIT", "open the command channel and report",
         "Opens the unit's command channel (identifying the board first if needed), prints the\n"
         "data port, board ID and model, and closes the channel again. A quick reachability test.",
         {}, true, cmd_connect});
}

} // namespace wexo::cli
