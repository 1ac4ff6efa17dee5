// One thread per unit: connects it, polls it on its own schedule, runs the
// writes given to it, notices a drop and connects again with back-off. A slow
// or dead unit only ever holds up its own thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "config.hpp"
#include "metrics.hpp"
#include "unit_state.hpp"
#include "wexo.hpp"

namespace wexo::gateway {

// A search rewrites the whole device table and closes every channel, so no
// unit call may run during one: unit threads pass the gate shared, the
// search alone. A waiting search holds back new unit calls, so that 255
// busy units cannot starve it. generation() counts the searches.
class TableGate {
public:
    void enter_shared();
    void leave_shared();
    void enter_exclusive();
    void leave_exclusive();
    unsigned generation() const { return generation_; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int readers_ = 0;
    bool writer_ = false;
    int writers_waiting_ = 0;
    std::atomic<unsigned> generation_{0};
};

class SharedPass {
public:
    explicit SharedPass(TableGate& gate) : gate_(gate) { gate_.enter_shared(); }
    ~SharedPass() { gate_.leave_shared(); }
    SharedPass(const SharedPass&) = delete;
    SharedPass& operator=(const SharedPass&) = delete;

private:
    TableGate& gate_;
};

// How a unit is reached.
struct UnitPlan {
    std::string name;
    const UnitConfig* config = nullptr;  // null for a unit only a search found
    UnitAddress address;                 // opened by Library::open
    int model = -1;  // expected model, -1: any
};

struct Schedule {
    int poll_ms, analog_poll_ms, counter_poll_ms;
    int timeout_ms;
    int retry_min_ms, retry_max_ms;
    int fail_after;
};

class UnitPoller : public WriteExecutor {
public:
    UnitPoller(UnitPlan plan, Schedule schedule, Library& library, TableGate& gate, UnitStore& store, Metrics& metrics);
    ~UnitPoller() override;
    UnitPoller(const UnitPoller&) = delete;
    UnitPoller& operator=(const UnitPoller&) = delete;

    void start();
    // Ends the thread and closes the unit's channel.
    void stop();
    const UnitPlan& plan() const { return plan_; }
    bool execute(const WriteRequest& request, WriteDone done) override;

private:
    struct Job {
        WriteRequest request;
        WriteDone done;
    };
    using SteadyClock = std::chrono::steady_clock;

    void run();
    bool connect();
    void drop(const char* why);
    // Polls what is due; false when a call failed.
    bool poll_due(SteadyClock::time_point now);
    bool poll_digital();
    bool poll_analog();
    bool poll_counters();
    void run_job(Job& job);
    std::optional<Sample> read_output(const OutputRef& ref);
    // Records a failed call; true when the unit should be taken for gone.
    bool failed(const std::error_code& code, const char* what);
    void fail_jobs(const std::string& why);
    void wait_until(SteadyClock::time_point when);

    UnitPlan plan_;
    Schedule schedule_;
    Library& library_;
    TableGate& gate_;
    UnitStore& store_;
    Metrics& metrics_;

    std::optional<Unit> unit_;
    unsigned generation_ = 0;
    Capabilities caps_{};
    bool analog_ok_ = true, counters_ok_ = true;  // off for the session after "not possible"
    int failures_ = 0;
    std::chrono::milliseconds backoff_;
    SteadyClock::time_point next_digital_, next_analog_, next_counter_;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    std::atomic<bool> online_{false};
    std::thread thread_;
};

}  // namespace wexo::gateway
