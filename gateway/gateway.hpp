// The running gateway: the library, the units and their threads, the unit
// store and the broker sessions, for one configuration. A reload builds a new
// Gateway from the new configuration.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config.hpp"
#include "json_publisher.hpp"
#include "metrics.hpp"
#include "poller.hpp"
#include "sparkplug_publisher.hpp"
#include "unit_state.hpp"

namespace wexo::gateway {

class Gateway {
public:
    Gateway(const Config& config, Metrics& metrics);
    ~Gateway();
    // Searches (when configured) and starts every unit and the broker sessions.
    void start();
    // Periodic work of the main thread: rescans, the safe state.
    void tick();
    void stop();

    UnitStore& store() { return store_; }

private:
    void search();
    void add_poller(const UnitPlan& plan, bool start);
    Schedule schedule() const;

    const Config config_;
    Metrics& metrics_;
    Library library_;
    TableGate gate_;
    AuditLog audit_;
    UnitStore store_;
    std::map<std::string, std::unique_ptr<UnitPoller>> pollers_;
    std::unique_ptr<JsonPublisher> json_;
    std::unique_ptr<SparkplugPublisher> sparkplug_;
    std::chrono::steady_clock::time_point next_scan_;
    std::optional<std::chrono::steady_clock::time_point> broker_lost_;
    bool safe_applied_ = false;
    bool started_ = false;
};

// The plan --check prints: units, channels, topics, what is writable.
std::string describe_plan(const Config& config);

}  // namespace wexo::gateway
