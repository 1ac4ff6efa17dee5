// Log lines on standard error: one line each, with the syslog priority
// prefix ("<3>") when standard error is the journal, so journald keeps the
// levels; otherwise "LEVEL: text".
#pragma once

namespace wexo::gateway {

enum class Level { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6, kDebug = 7 };

// Lines above this level are dropped (default kInfo).
void set_log_level(Level level);
bool log_level_from_name(const char* name, Level& level);
void log(Level level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace wexo::gateway
