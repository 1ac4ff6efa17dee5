#include "mqtt_client.hpp"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "log.hpp"

namespace wexo::gateway {

namespace {

// The first line of the file, without its line end.
std::string read_password(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) throw std::runtime_error("mqtt.password_file " + path + " cannot be read");
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

void check(int rc, const std::string& what) {
    if (rc != MOSQ_ERR_SUCCESS) throw std::runtime_error(what + ": " + mosquitto_strerror(rc));
}

}  // namespace

void mqtt_library_init() { mosquitto_lib_init(); }

MqttClient::MqttClient(const MqttConfig& config, std::string client_id)
    : config_(config), client_id_(std::move(client_id)) {
    mosq_ = mosquitto_new(client_id_.c_str(), true, this);
    if (mosq_ == nullptr) throw std::runtime_error("mosquitto_new failed");
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Publishes come from other threads than the network thread.
    mosquitto_threaded_set(mosq_, true);
    mosquitto_connect_v5_callback_set(mosq_, &MqttClient::connect_cb);
    mosquitto_disconnect_v5_callback_set(mosq_, &MqttClient::disconnect_cb);
    mosquitto_message_v5_callback_set(mosq_, &MqttClient::message_cb);
}

MqttClient::~MqttClient() {
    stop();
    mosquitto_destroy(mosq_);
}

void MqttClient::set_will(const std::string& topic, const std::string& payload, int qos, bool retain) {
    mosquitto_will_set_v5(mosq_, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain, nullptr);
}

void MqttClient::start() {
    if (!config_.username.empty()) {
        const std::string password = config_.password_file.empty() ? std::string() : read_password(config_.password_file);
        check(mosquitto_username_pw_set(mosq_, config_.username.c_str(),
                                        config_.password_file.empty() ? nullptr : password.c_str()),
              "mqtt.username");
    }
    if (config_.tls) {
        check(mosquitto_tls_set(mosq_, config_.ca_file.c_str(), nullptr,
                                config_.cert_file.empty() ? nullptr : config_.cert_file.c_str(),
                                config_.key_file.empty() ? nullptr : config_.key_file.c_str(), nullptr),
              "TLS set-up (mqtt.ca_file, cert_file, key_file)");
    }
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

// The network thread: connect, serve the session until it ends, wait with
// exponential back-off, connect again, until stop().
void MqttClient::run() {
    auto delay = std::chrono::seconds(config_.reconnect_min_s);
    bool reported = false;
    while (running_) {
        if (before_connect) before_connect();
        const int rc = mosquitto_connect(mosq_, config_.host.c_str(), config_.port, config_.keepalive_s);
        if (rc == MOSQ_ERR_SUCCESS) {
            reported = false;
            delay = std::chrono::seconds(config_.reconnect_min_s);
            while (mosquitto_loop(mosq_, 100, 1) == MOSQ_ERR_SUCCESS) {
            }
            if (connected_.exchange(false)) {
                log(Level::kWarning, "broker %s: connection lost; reconnecting", config_.url.c_str());
                if (on_disconnect) on_disconnect();
            }
        } else if (!reported) {
            reported = true;
            log(Level::kWarning, "broker %s: %s; trying again every %d..%d s", config_.url.c_str(),
                rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc), config_.reconnect_min_s,
                config_.reconnect_max_s);
        }
        std::unique_lock lock(mutex_);
        if (!running_) break;
        cv_.wait_for(lock, delay, [&] { return !running_; });
        delay = std::min(delay * 2, std::chrono::seconds(config_.reconnect_max_s));
    }
}

void MqttClient::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    // Packets already queued (the final publishes) go out before the DISCONNECT.
    mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    cv_.notify_all();
    thread_.join();
    connected_ = false;
}

bool MqttClient::publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                         const std::optional<std::string>& correlation) {
    if (!connected_) return false;
    mosquitto_property* props = nullptr;
    if (correlation)
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                      static_cast<uint16_t>(correlation->size()));
    const int rc = mosquitto_publish_v5(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                        qos, retain, props);
    mosquitto_property_free_all(&props);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const std::string& pattern, int qos) {
    return mosquitto_subscribe_v5(mosq_, nullptr, pattern.c_str(), qos, 0, nullptr) == MOSQ_ERR_SUCCESS;
}

void MqttClient::connect_cb(mosquitto*, void* self_ptr, int rc, int, const mosquitto_property*) {
    auto* self = static_cast<MqttClient*>(self_ptr);
    if (rc != 0) {
        log(Level::kError, "broker %s refused the connection: %s", self->config_.url.c_str(), mosquitto_reason_string(rc));
        return;
    }
    log(Level::kNotice, "broker %s: connected as %s", self->config_.url.c_str(), self->client_id_.c_str());
    self->connected_ = true;
    if (self->on_connect) self->on_connect();
}

void MqttClient::disconnect_cb(mosquitto*, void* self_ptr, int, const mosquitto_property*) {
    auto* self = static_cast<MqttClient*>(self_ptr);
    if (self->connected_.exchange(false) && self->running_) {
        log(Level::kWarning, "broker %s: connection lost; reconnecting", self->config_.url.c_str());
        if (self->on_disconnect) self->on_disconnect();
    }
}

void MqttClient::message_cb(mosquitto*, void* self_ptr, const mosquitto_message* m, const mosquitto_property* props) {
    auto* self = static_cast<MqttClient*>(self_ptr);
    if (!self->on_message || m == nullptr || m->topic == nullptr) return;
    MqttMessage msg;
    msg.topic = m->topic;
    if (m->payloadlen > 0) msg.payload.assign(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
    char* text = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &text, false) != nullptr && text != nullptr) {
        msg.response_topic = text;
        free(text);
    }
    void* data = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false) != nullptr) {
        msg.correlation = std::string(static_cast<const char*>(data), length);
        free(data);
    }
    // A user property "who" names the operator for the audit log.
    char* name = nullptr;
    char* value = nullptr;
    for (const mosquitto_property* p = mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &name, &value, false);
         p != nullptr; p = mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &name, &value, true)) {
        if (std::string(name) == "who") msg.who = value;
        free(name);
        free(value);
        name = value = nullptr;
    }
    self->on_message(msg);
}

}  // namespace wexo::gateway
