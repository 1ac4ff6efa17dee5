#include "cli.hpp"

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

int exit_status(const std::error_code& code) {
    const bool absent = code == errc::not_found || code == errc::index_range || code == errc::no_match;
    return absent ? exit_not_found : exit_library;
}

[[noreturn]] void fail_library(const std::error_code& code, const char* call, const std::string& text) {
    // The library's own text belongs to its last error, which is the code
    // of the call that just failed.
    throw Failure{exit_status(code), text, call, code.value(), Library::last_error_message()};
}

[[noreturn]] void fail_library(const char* call, const std::string& text) {
    // The code as the library left it (0 included), as the report shows it.
    fail_library(std::error_code{ZuWexoGetLastError(), category()}, call, text);
}

} // namespace wexo::cli
