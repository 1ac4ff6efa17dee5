// wexo cp: the network module's configurable pins CP1..CP3.
#include "output.hpp"
#include "unit_api.hpp"

namespace wexo::cli {

static int cmd_cp(Context& ctx) {
    const UnitSelector selector = take_unit(ctx);
    // The pins are the network module's; a unit reached on its data port
    // alone was never asked for its module, so it has no pin port.
    if (selector.data_port_only())
        fail_usage("cp: pin access needs the network module; a unit reached with --data-port has none "
                   "(leave out --data-port)");
    const auto& words = ctx.args.positional;
    if (words.size() != 0 && words.size() != 3) fail_usage("cp: give no levels to read, or all three CP1 CP2 CP3");
    const bool set = words.size() == 3;
    ::wexo::Pins level{};
    for (std::size_t i = 0; set && i < 3; ++i) level[i] = parse_switch(words[i], "CP" + std::to_string(i + 1));

    // Connecting gives the record its pin port; the pins themselves are
    // reached over a short connection of their own.
    const Unit unit = open_unit(ctx, selector, true);
    if (set) checked(device(unit).set_pins(level), "ZuWexoOutCP", "cannot set the pins of " + unit.label);
    else level = checked(device(unit).pins(), "ZuWexoInCP", "cannot read the pins of " + unit.label);
    if (ctx.globals.json) {
        Json json;
        json.begin_object().key("cp").begin_array();
        for (bool v : level) json.value(int{v});
        json.end_array().end_object();
        print_line(json.text());
    } else {
        print_line("CP1 " + std::to_string(int{level[0]}) + "  CP2 " + std::to_string(int{level[1]}) + "  CP3 " +
                   std::to_string(int{level[2]}));
    }
    return exit_ok;
}

void register_cp(Registry& registry) {
    registry.add(
        {"cp", "UNIT [CP1 CP2 CP3]", "read or set the module's configurable pins",
         "Without levels, reads the pins CP1, CP2 and CP3 (0 or 1). With three levels (on/off or\n"
         "1/0), sets them. The unit is connected first. Pin access needs the network module, so a\n"
         "unit reached with --data-port is refused (exit status 2).",
         {}, true, cmd_cp});
}

} // namespace wexo::cli
