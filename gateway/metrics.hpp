// Prometheus metrics of the gateway (served on --metrics ADDR:PORT). Without
// an address every call is a no-op.
#pragma once

#include <memory>
#include <string>

namespace wexo::gateway {

class Metrics {
public:
    Metrics();
    ~Metrics();
    // Starts serving /metrics; throws std::runtime_error when it cannot bind.
    void serve(const std::string& address);

    void unit_online(const std::string& unit, bool online);
    void poll_seconds(double seconds);
    void publish_seconds(double seconds);
    void library_failure(int code);
    void command(const char* result);  // "ok" or "refused" / "failed"
    void broker_connected(bool connected);
    void queue(double messages, double bytes, double oldest_age_s, double dropped_total);
    void published(const char* sink);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace wexo::gateway
