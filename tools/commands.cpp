// The command table: each command file registers its own commands and
// options; this list only orders the files as the overview shows them. A new
// command file adds its register_X here (declaration and call) and to
// CMakeLists.txt.
#include "cli.hpp"

namespace wexo::cli {

void register_search(Registry& registry);     // cmd_search.cpp
void register_unit(Registry& registry);       // cmd_unit.cpp: info, identify, connect
void register_serial(Registry& registry);     // cmd_serial.cpp
void register_dio(Registry& registry);        // cmd_dio.cpp: di, do
void register_cp(Registry& registry);         // cmd_cp.cpp
void register_autoswitch(Registry& registry); // cmd_autoswitch.cpp
void register_ai(Registry& registry);         // cmd_ai.cpp
void register_ao(Registry& registry);         // cmd_ao.cpp
void register_tc(Registry& registry);         // cmd_tc.cpp
void register_threshold(Registry& registry);  // cmd_threshold.cpp
void register_pulse(Registry& registry);      // cmd_pulse.cpp
void register_eeprom(Registry& registry);     // cmd_eeprom.cpp
void register_settings(Registry& registry);   // cmd_settings.cpp
void register_net(Registry& registry);        // cmd_net.cpp
void register_fw(Registry& registry);         // cmd_fw.cpp
void register_main(Registry& registry);       // main.cpp: version, help

namespace {

// Built on first use, so no command file depends on the order in which
// static objects of other files are initialised.
const Registry& registry() {
    static const Registry all = [] {
        Registry registry;
        for (auto add : {register_search, register_unit, register_serial, register_dio, register_cp,
                         register_autoswitch, register_ai, register_ao, register_tc, register_threshold,
                         register_pulse, register_eeprom, register_settings, register_net, register_fw,
                         register_main})
            add(registry);
        return registry;
    }();
    return all;
}

} // namespace

const std::vector<Command>& command_table() { return registry().commands; }

const std::vector<OptionInfo>& command_options() { return registry().options; }

const Command* find_command(const std::string& name) {
    for (const auto& command : command_table())
        if (name == command.name) return &command;
    return nullptr;
}

} // namespace wexo::cli
