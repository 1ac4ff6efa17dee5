// The --watch modes: a poll now and then every --interval ms, until --count
// polls were made or SIGINT / SIGTERM arrives.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli.hpp"

namespace wexo::cli {

struct Watch {
    int interval_ms = 500;
    long long count = 0; // 0: until interrupted
};

// Reads --interval and --count; none without --watch, which refuses them.
std::optional<Watch> read_watch(const Args& args, const std::string& command);

// Calls poll with the milliseconds since the start, first at once. A failed
// poll throws and so ends the watch; a signal ends it with success, even
// when it made the poll under way fail.
void run_watch(const Watch& watch, const std::function<void(long long t_ms)>& poll);

} // namespace wexo::cli
