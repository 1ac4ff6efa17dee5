#include <array>

#include "cli.hpp"
#include "wexo.h"

namespace wexo::cli {

[[noreturn]] void fail_usage(const std::string& text) {
    throw Failure{exit_usage, text, {}, 0, {}};
}

[[noreturn]] void fail_not_found(const std::string& text) {
    throw Failure{exit_not_found, text, {}, 0, {}};
}

[[noreturn]] void fail_unit(const std::string& text) {
    throw Failure{exit_library, text, {}, 0, {}};
}

[[noreturn]] void fail_library(const char* call, const std::string& text) {
    const int code = ZuWexoGetLastError();
    // The longest message is 105 bytes; room to spare for "err:<code>".
    std::array<char, 256> message{};
    ZuWexoGetLastErrorMessage(message.data());
    // Codes that mean "no such unit" get the not-found status so that scripts
    // can tell an absent unit from a unit that misbehaves.
    const bool absent = code == WEXO_ERR_NOT_FOUND || code == WEXO_ERR_INDEX_RANGE ||
                        code == WEXO_ERR_NO_MATCH;
    throw Failure{absent ? exit_not_found : exit_library, text, call, code, message.data()};
}

} // namespace wexo::cli
