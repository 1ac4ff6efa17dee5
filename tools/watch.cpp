#include "watch.hpp"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "output.hpp"
#include "rfc3339.hpp"
#include "wexo.h"

namespace wexo::cli {

namespace {

volatile std::sig_atomic_t stop_watch = 0;

extern "C" void on_stop_signal(int) { stop_watch = 1; }

// Reconnection attempts start after this pause, which doubles up to the cap.
constexpr int first_backoff_ms = 250;
constexpr int longest_backoff_ms = 8000;

} // namespace

std::optional<Watch> read_watch(const Args& args, const std::string& command) {
    const auto* interval = args.value("interval");
    const auto* count = args.value("count");
    if (!args.has("watch")) {
        if (interval || count) fail_usage(command + ": --interval and --count need --watch");
        return std::nullopt;
    }
    Watch watch;
    if (interval) watch.interval_ms = static_cast<int>(parse_number(*interval, "--interval", 1, 3600000));
    if (count) watch.count = parse_number(*count, "--count", 1, 1LL << 40);
    return watch;
}

void run_watch(const Watch& watch, const Unit& unit, const std::function<void(long long t_ms)>& poll_once,
               const std::function<void()>& after_gap) {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr); // no SA_RESTART: the pauses below end at once
    sigaction(SIGTERM, &action, nullptr);

    const auto start = std::chrono::steady_clock::now();
    auto elapsed_ms = [&] {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start).count());
    };
    auto at = [](long long t) { return "+" + std::to_string(t) + " ms: "; };
    // Connects the unit again until it answers or a signal arrives.
    auto reconnect = [&](const Failure& failure) {
        const long long lost = elapsed_ms();
        warn(at(lost) + unit.label + " stopped answering (error " + std::to_string(failure.code) + ", " +
             gloss(failure.code) + "); reconnecting");
        int backoff = first_backoff_ms;
        for (int attempt = 1; !stop_watch; ++attempt) {
            poll(nullptr, 0, backoff);
            if (stop_watch) return false;
            ZuWexoClose(unit.index);
            if (ZuWexoConnect(unit.index) >= 0) {
                const long long back = elapsed_ms();
                warn(at(back) + unit.label + " answers again after " + std::to_string(attempt) +
                     (attempt == 1 ? " attempt" : " attempts") + "; no readings for " +
                     std::to_string(back - lost) + " ms");
                if (after_gap) after_gap();
                return true;
            }
            backoff = std::min(backoff * 2, longest_backoff_ms);
        }
        return false;
    };
    // A signal that cuts a reading short (the unit's receive ends with
    // EINTR) ends the watch as any other signal does. Returns whether a
    // reading was made.
    auto poll_unless_stopped = [&] {
        try {
            poll_once(elapsed_ms());
            return true;
        } catch (const Failure& failure) {
            if (stop_watch) return false;
            if (failure.call.empty() || !unit_silent(failure.code)) throw;
            if (!reconnect(failure)) return false;
        }
        return false;
    };
    long long readings = poll_unless_stopped() ? 1 : 0;
    while (!stop_watch && (watch.count == 0 || readings < watch.count)) {
        poll(nullptr, 0, watch.interval_ms);
        if (stop_watch) break;
        if (poll_unless_stopped()) ++readings;
    }
}

Format read_format(const Context& ctx, const std::string& command) {
    const bool csv = ctx.args.has("csv");
    if (csv && ctx.globals.json) fail_usage(command + ": give either --csv or --json");
    return csv ? Format::csv : ctx.globals.json ? Format::json : Format::table;
}

void print_csv_header(const std::vector<std::string>& columns) {
    std::string line = "time,t_ms";
    for (const auto& column : columns) line += "," + column;
    print_line(line);
}

void print_csv_row(long long t_ms, const std::vector<std::string>& fields) {
    std::string line = text::rfc3339(std::chrono::system_clock::now()) + "," + std::to_string(t_ms);
    for (const auto& field : fields) line += "," + field;
    print_line(line);
}

} // namespace wexo::cli
