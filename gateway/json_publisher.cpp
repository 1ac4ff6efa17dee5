#include "json_publisher.hpp"

#include <nlohmann/json.hpp>

#include "json_topics.hpp"
#include "log.hpp"

namespace wexo::gateway {

namespace {

std::string queue_file(const Config& c, const char* sink) {
    return c.queue.path.empty() ? std::string() : c.queue.path + "/" + c.site + "-" + c.name + "." + sink + ".queue";
}

}  // namespace

JsonPublisher::JsonPublisher(const Config& config, UnitStore& store, Metrics& metrics)
    : config_(config),
      store_(store),
      metrics_(metrics),
      base_(config.base_topic()),
      mqtt_(config.mqtt, config.mqtt.client_id),
      queue_(queue_file(config, "json"), config.queue.max_bytes, config.queue.max_age_s, config.queue.drop_oldest) {
    mqtt_.set_will(base_ + "/status", "offline", 1, true);
    mqtt_.on_connect = [this] { on_connect(); };
    mqtt_.on_disconnect = [this] { metrics_.broker_connected(false); };
    mqtt_.on_message = [this](const MqttMessage& m) { on_message(m); };
}

JsonPublisher::~JsonPublisher() { stop(); }

void JsonPublisher::start() {
    listener_ = store_.subscribe([this](const Event& e) { on_event(e); });
    mqtt_.start();
    replayer_ = std::thread([this] { replay(); });
}

void JsonPublisher::stop() {
    if (!replayer_.joinable()) return;
    store_.unsubscribe(listener_);
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    replayer_.join();
    for (UnitSnapshot& u : store_.snapshot()) {
        u.info.online = false;
        mqtt_.publish(base_ + "/" + u.info.name + "/status", status_payload(u.info), 1, true);
    }
    mqtt_.publish(base_ + "/status", "offline", 1, true);
    mqtt_.stop();
}

void JsonPublisher::send(const std::string& topic, const std::string& payload, Clock::time_point read_at) {
    // Live data goes straight out while connected, ahead of any backlog.
    if (mqtt_.publish(topic, payload, config_.mqtt.qos, true)) {
        metrics_.published("json");
        metrics_.publish_seconds(std::chrono::duration<double>(Clock::now() - read_at).count());
        return;
    }
    queue_.push(nlohmann::json{{"t", topic}, {"p", payload}}.dump());
}

void JsonPublisher::on_event(const Event& e) {
    if (e.type == Event::Type::kStatus) {
        send(base_ + "/" + e.unit + "/status", status_payload(e.info), Clock::now());
        return;
    }
    send(value_topic(base_, e.unit, e.channel), value_payload(e.sample), e.sample.ts);
}

void JsonPublisher::publish_all() {
    for (const UnitSnapshot& u : store_.snapshot()) {
        mqtt_.publish(base_ + "/" + u.info.name + "/status", status_payload(u.info), config_.mqtt.qos, true);
        for (const auto& [channel, sample] : u.values)
            mqtt_.publish(value_topic(base_, u.info.name, channel), value_payload(sample), config_.mqtt.qos, true);
    }
}

void JsonPublisher::on_connect() {
    metrics_.broker_connected(true);
    // Only the gateway's own command topics.
    mqtt_.subscribe(base_ + "/+/do/+/set", 1);
    mqtt_.subscribe(base_ + "/+/ao/+/set", 1);
    mqtt_.subscribe(base_ + "/refresh", 1);
    mqtt_.publish(base_ + "/status", "online", 1, true);
    publish_all();
    cv_.notify_all();
}

void JsonPublisher::on_message(const MqttMessage& m) {
    if (m.topic == base_ + "/refresh") {
        publish_all();
        return;
    }
    const auto command = parse_command_topic(base_, m.topic);
    if (!command) return;
    const std::string result_topic =
        m.response_topic.empty() ? m.topic.substr(0, m.topic.size() - 3) + "result" : m.response_topic;
    const auto correlation = m.correlation;
    auto answer = [this, result_topic, correlation](const WriteResult& r) {
        metrics_.command(r.ok ? "ok" : "refused");
        if (!mqtt_.publish(result_topic, result_payload(r), 1, false, correlation))
            log(Level::kWarning, "result of a write could not be published to %s", result_topic.c_str());
    };
    WriteRequest request;
    request.unit = command->unit;
    request.output = command->output;
    request.who = m.who.empty() ? "mqtt" : m.who;
    if (!m.response_topic.empty()) request.who += " (reply to " + m.response_topic + ")";
    const ParsedWrite parsed = parse_write_payload(command->output.kind, m.payload);
    if (const auto* refusal = std::get_if<std::string>(&parsed)) {
        answer({false, WEXO_ERR_NOT_POSSIBLE, *refusal, std::nullopt});
        return;
    }
    std::tie(request.value, request.scale) = std::get<0>(parsed);
    store_.submit(request, answer);
}

void JsonPublisher::replay() {
    const auto gap = std::chrono::microseconds(1000000 / config_.queue.replay_per_s);
    auto next = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    while (!stop_) {
        const auto s = queue_.stats();
        metrics_.queue(static_cast<double>(s.entries), static_cast<double>(s.bytes), s.oldest_age_s,
                       static_cast<double>(s.dropped));
        const auto entry = mqtt_.connected() ? queue_.front() : std::nullopt;
        if (!entry) {
            cv_.wait_for(lock, std::chrono::milliseconds(200));
            next = std::chrono::steady_clock::now();
            continue;
        }
        const auto record = nlohmann::json::parse(entry->record, nullptr, false);
        if (!record.is_object() || !record.contains("t") || !record.contains("p")) {
            queue_.pop();  // not ours: a damaged file
            continue;
        }
        // Backlog: in order and not retained, so the retained value stays the live one.
        if (!mqtt_.publish(record["t"].get<std::string>(), record["p"].get<std::string>(), config_.mqtt.qos, false))
            continue;
        queue_.pop();
        metrics_.published("json-backlog");
        next += gap;
        cv_.wait_until(lock, next, [&] { return stop_; });
    }
}

}  // namespace wexo::gateway
