// The command table: each command file registers its own commands and
// options; this list only orders the files as the overview shows them. A new
// command file cmd_X.cpp defines register_X and adds one line here (the build
// takes every tools/cmd_*.cpp).
#include "cli.hpp"

// One line per command file, in the order of the overview.
#define WEXO_COMMAND_FILES(FILE)                                                   \
    FILE(search)     /* cmd_search.cpp */                                          \
    FILE(unit)       /* cmd_unit.cpp: info, identify, connect */                   \
    FILE(serial)     /* cmd_serial.cpp */                                          \
    FILE(dio)        /* cmd_dio.cpp: di, do */                                     \
    FILE(cp)         /* cmd_cp.cpp */                                              \
    FILE(autoswitch) /* cmd_autoswitch.cpp */                                      \
    FILE(ai)         /* cmd_ai.cpp */                                              \
    FILE(ao)         /* cmd_ao.cpp */                                              \
    FILE(tc)         /* cmd_tc.cpp */                                              \
    FILE(threshold)  /* cmd_threshold.cpp */                                       \
    FILE(pulse)      /* cmd_pulse.cpp */                                           \
    FILE(eeprom)     /* cmd_eeprom.cpp */                                          \
    FILE(settings)   /* cmd_settings.cpp */                                        \
    FILE(net)        /* cmd_net.cpp */                                             \
    FILE(fw)         /* cmd_fw.cpp */                                              \
    FILE(main)       /* main.cpp: version, help */

namespace wexo::cli {

#define WEXO_DECLARE_REGISTER(name) void register_##name(Registry& registry);
WEXO_COMMAND_FILES(WEXO_DECLARE_REGISTER)
#undef WEXO_DECLARE_REGISTER

namespace {

// Built on first use, so no command file depends on the order in which
// static objects of other files are initialised.
const Registry& registry() {
    static const Registry all = [] {
        Registry registry;
#define WEXO_CALL_REGISTER(name) register_##name(registry);
        WEXO_COMMAND_FILES(WEXO_CALL_REGISTER)
#undef WEXO_CALL_REGISTER
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
