// One MQTT v5 session through libmosquitto's own network thread: connect
// with a will, reconnect with exponential back-off, publish, subscribe, and
// hand incoming messages with their response topic and correlation data to
// the owner. Callbacks run on libmosquitto's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <thread>
#include <mutex>
#include <optional>
#include <string>

#include "config.hpp"

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace wexo::gateway {

struct MqttMessage {
    std::string topic;
    std::string payload;
    std::string response_topic;   // MQTT v5 Response Topic, empty when none
    std::optional<std::string> correlation;  // MQTT v5 Correlation Data
    std::string who;              // user property "who", when the sender gave one
};

class MqttClient {
public:
    MqttClient(const MqttConfig& config, std::string client_id);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // The will for the next connection (may be changed while running: it
    // applies from the next connection on).
    void set_will(const std::string& topic, const std::string& payload, int qos, bool retain);
    std::function<void()> before_connect;  // on the network thread, before each connection attempt
    std::function<void()> on_connect;     // after a CONNACK that accepted us
    std::function<void()> on_disconnect;  // the session is gone (before a reconnect)
    std::function<void(const MqttMessage&)> on_message;

    // Starts the network thread; throws std::runtime_error for a bad set-up
    // (TLS files, password file). A broker that is down is no error: the
    // thread keeps trying.
    void start();
    // Publishes last (each as publish()), then disconnects cleanly and ends
    // the thread.
    void stop();
    bool connected() const { return connected_; }
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                 const std::optional<std::string>& correlation = std::nullopt);
    bool subscribe(const std::string& pattern, int qos);

private:
    static void connect_cb(mosquitto*, void*, int, int, const mosquitto_property*);
    static void disconnect_cb(mosquitto*, void*, int, const mosquitto_property*);
    static void message_cb(mosquitto*, void*, const mosquitto_message*, const mosquitto_property*);

    void run();

    MqttConfig config_;
    std::string client_id_;
    mosquitto* mosq_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
};

// Once per process, before any client.
void mqtt_library_init();

}  // namespace wexo::gateway
