// The JSON namespace on the broker: status with its will, unit status and
// values by exception (retained), everything again after each reconnect and
// on request, the outage queue replayed behind live data, and the write
// commands of <unit>/do|ao/<ch>/set.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "config.hpp"
#include "metrics.hpp"
#include "mqtt_client.hpp"
#include "outage_queue.hpp"
#include "unit_state.hpp"

namespace wexo::gateway {

class JsonPublisher {
public:
    JsonPublisher(const Config& config, UnitStore& store, Metrics& metrics);
    ~JsonPublisher();
    void start();
    // Publishes "offline" and disconnects.
    void stop();
    bool connected() const { return mqtt_.connected(); }
    OutageQueue& queue() { return queue_; }

private:
    void on_event(const Event& event);
    void on_connect();
    void on_message(const MqttMessage& message);
    void publish_all();
    void send(const std::string& topic, const std::string& payload, Clock::time_point read_at);
    void replay();

    const Config& config_;
    UnitStore& store_;
    Metrics& metrics_;
    const std::string base_;
    MqttClient mqtt_;
    OutageQueue queue_;
    int listener_ = 0;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::thread replayer_;
};

}  // namespace wexo::gateway
