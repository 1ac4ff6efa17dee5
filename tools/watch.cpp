#include "watch.hpp"

#include <poll.h>

#include <chrono>
#include <csignal>

namespace wexo::cli {

namespace {

volatile std::sig_atomic_t stop_watch = 0;

extern "C" void on_stop_signal(int) { stop_watch = 1; }

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

void run_watch(const Watch& watch, const std::function<void(long long t_ms)>& poll_once) {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr); // no SA_RESTART: the pause below ends at once
    sigaction(SIGTERM, &action, nullptr);

    const auto start = std::chrono::steady_clock::now();
    auto elapsed_ms = [&] {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start).count());
    };
    // A signal that cuts a reading short (the unit's receive ends with
    // EINTR) ends the watch as any other signal does.
    auto poll_unless_stopped = [&] {
        try {
            poll_once(elapsed_ms());
        } catch (const Failure&) {
            if (!stop_watch) throw;
        }
    };
    poll_unless_stopped();
    for (long long polls = 1; !stop_watch && (watch.count == 0 || polls < watch.count); ++polls) {
        poll(nullptr, 0, watch.interval_ms);
        if (stop_watch) break;
        poll_unless_stopped();
    }
}

} // namespace wexo::cli
