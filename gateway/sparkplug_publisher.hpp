// Sparkplug B for the gateway: the edge node is the gateway (group = site),
// each unit a device. A session of its own on the broker, since its will is
// the NDEATH. Births before data, DDATA by exception with the changes of a
// moment in one message, DDEATH for a unit that drops, DCMD writes through
// the unit store, NCMD rebirth without a reconnect, the outage queue replayed
// after the rebirth as historical metrics, and optionally a primary host's
// STATE honoured.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "config.hpp"
#include "metrics.hpp"
#include "mqtt_client.hpp"
#include "outage_queue.hpp"
#include "sparkplug.hpp"
#include "unit_state.hpp"

namespace wexo::gateway {

class SparkplugPublisher {
public:
    SparkplugPublisher(const Config& config, UnitStore& store, Metrics& metrics);
    ~SparkplugPublisher();
    void start();
    // NDEATH, then a clean disconnect.
    void stop();

private:
    void on_event(const Event& event);
    void on_connect();
    void on_message(const MqttMessage& message);
    // Under mutex_: NBIRTH and every online unit's DBIRTH.
    void births_locked();
    void device_birth_locked(const UnitSnapshot& unit);
    void send_locked(const sparkplug::Message& message);
    bool live_locked() const;
    void run();

    const Config& config_;
    UnitStore& store_;
    Metrics& metrics_;
    MqttClient mqtt_;
    OutageQueue queue_;
    sparkplug::EdgeNode node_;
    sparkplug::PrimaryHost primary_;
    int listener_ = 0;

    std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
    bool rebirth_ = false;  // births due (new session, NCMD, primary host back)
    std::map<std::string, std::vector<sparkplug::Metric>> pending_;  // changes not yet sent
    std::thread thread_;
};

}  // namespace wexo::gateway
