#include "metrics.hpp"

#include <map>
#include <mutex>
#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <stdexcept>

namespace wexo::gateway {

using prometheus::Histogram;

struct Metrics::Impl {
    std::shared_ptr<prometheus::Registry> registry = std::make_shared<prometheus::Registry>();
    std::unique_ptr<prometheus::Exposer> exposer;
    prometheus::Family<prometheus::Gauge>& online =
        prometheus::BuildGauge().Name("wexo_gateway_unit_online").Help("1 while the unit is online").Register(*registry);
    prometheus::Family<prometheus::Gauge>& units =
        prometheus::BuildGauge().Name("wexo_gateway_units_online").Help("Units online").Register(*registry);
    prometheus::Family<Histogram>& poll = prometheus::BuildHistogram()
                                              .Name("wexo_gateway_poll_seconds")
                                              .Help("Time of one poll round of a unit")
                                              .Register(*registry);
    prometheus::Family<Histogram>& publish = prometheus::BuildHistogram()
                                                 .Name("wexo_gateway_publish_seconds")
                                                 .Help("Time from a value read to its hand-over to the broker")
                                                 .Register(*registry);
    prometheus::Family<prometheus::Counter>& failures = prometheus::BuildCounter()
                                                            .Name("wexo_gateway_library_failures_total")
                                                            .Help("Failed library calls by code")
                                                            .Register(*registry);
    prometheus::Family<prometheus::Counter>& commands = prometheus::BuildCounter()
                                                            .Name("wexo_gateway_commands_total")
                                                            .Help("Writes by result")
                                                            .Register(*registry);
    prometheus::Family<prometheus::Counter>& messages = prometheus::BuildCounter()
                                                            .Name("wexo_gateway_messages_published_total")
                                                            .Help("Messages handed to the broker")
                                                            .Register(*registry);
    prometheus::Family<prometheus::Gauge>& broker =
        prometheus::BuildGauge().Name("wexo_gateway_broker_connected").Help("1 while connected to the broker").Register(*registry);
    prometheus::Family<prometheus::Gauge>& queue =
        prometheus::BuildGauge().Name("wexo_gateway_queue").Help("Outage queue: messages, bytes, oldest age (s), dropped").Register(*registry);
    const Histogram::BucketBoundaries buckets{0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5};
    std::mutex mutex;
    std::map<std::string, bool> unit_state;
};

Metrics::Metrics() : impl_(std::make_unique<Impl>()) {}
Metrics::~Metrics() = default;

void Metrics::serve(const std::string& address) {
    try {
        impl_->exposer = std::make_unique<prometheus::Exposer>(address, 1);
    } catch (const std::exception& e) {
        throw std::runtime_error("metrics on " + address + ": " + e.what());
    }
    impl_->exposer->RegisterCollectable(impl_->registry);
}

void Metrics::unit_online(const std::string& unit, bool online) {
    std::lock_guard lock(impl_->mutex);
    impl_->online.Add({{"unit", unit}}).Set(online ? 1 : 0);
    impl_->unit_state[unit] = online;
    int n = 0;
    for (const auto& [name, on] : impl_->unit_state) n += on;
    impl_->units.Add({}).Set(n);
}

void Metrics::poll_seconds(double seconds) { impl_->poll.Add({}, impl_->buckets).Observe(seconds); }
void Metrics::publish_seconds(double seconds) { impl_->publish.Add({}, impl_->buckets).Observe(seconds); }
void Metrics::library_failure(int code) { impl_->failures.Add({{"code", std::to_string(code)}}).Increment(); }
void Metrics::command(const char* result) { impl_->commands.Add({{"result", result}}).Increment(); }
void Metrics::broker_connected(bool connected) { impl_->broker.Add({}).Set(connected ? 1 : 0); }
void Metrics::published(const char* sink) { impl_->messages.Add({{"sink", sink}}).Increment(); }

void Metrics::queue(double messages, double bytes, double oldest_age_s, double dropped_total) {
    impl_->queue.Add({{"what", "messages"}}).Set(messages);
    impl_->queue.Add({{"what", "bytes"}}).Set(bytes);
    impl_->queue.Add({{"what", "oldest_age_seconds"}}).Set(oldest_age_s);
    impl_->queue.Add({{"what", "dropped"}}).Set(dropped_total);
}

}  // namespace wexo::gateway
