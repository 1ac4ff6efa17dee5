#include "log.hpp"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace wexo::gateway {

namespace {

std::atomic<int> g_level{static_cast<int>(Level::kInfo)};

constexpr const char* kNames[] = {"", "", "", "error", "warning", "notice", "info", "debug"};

bool to_journal() {
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    return journal;
}

}  // namespace

void set_log_level(Level level) { g_level = static_cast<int>(level); }

bool log_level_from_name(const char* name, Level& level) {
    for (int i = 3; i <= 7; ++i) {
        if (std::strcmp(name, kNames[i]) == 0) {
            level = static_cast<Level>(i);
            return true;
        }
    }
    return false;
}

void log(Level level, const char* format, ...) {
    const int l = static_cast<int>(level);
    if (l > g_level) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // One write per line, so that the lines of several threads never mix.
    const std::string line = to_journal() ? "<" + std::to_string(l) + ">" + text + "\n"
                                          : std::string(kNames[l]) + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace wexo::gateway
