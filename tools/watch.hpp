// The --watch modes: a poll now and then every --interval ms, until --count
// polls were made or SIGINT / SIGTERM arrives.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli.hpp"
#include "unit_select.hpp"

namespace wexo::cli {

struct Watch {
    int interval_ms = 500;
    long long count = 0; // 0: until interrupted
};

// Reads --interval and --count; none without --watch, which refuses them.
std::optional<Watch> read_watch(const Args& args, const std::string& command);

// Calls poll with the milliseconds since the start, first at once. A poll
// that fails because the unit stopped answering (a restart closes its
// channel) does not end the watch: the gap is reported on standard error and
// the unit connected again, with back-off, until it answers; after_gap runs
// before the first poll after it. Other failures end the watch. A signal
// ends it with success, even when it made the poll under way fail.
void run_watch(const Watch& watch, const Unit& unit, const std::function<void(long long t_ms)>& poll,
               const std::function<void()>& after_gap = {});

// How a reading command prints: a table (or lines), JSON, or CSV. --csv
// and --json exclude each other.
enum class Format { table, json, csv };
Format read_format(const Context& ctx, const std::string& command);

// CSV of every reading command: a header "time,t_ms,COLUMNS...", then one
// row per reading: the UTC time, the milliseconds since the start, FIELDS.
void print_csv_header(const std::vector<std::string>& columns);
void print_csv_row(long long t_ms, const std::vector<std::string>& fields);

} // namespace wexo::cli
