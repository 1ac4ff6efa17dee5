#include "sparkplug_publisher.hpp"

#include <nlohmann/json.hpp>

#include "log.hpp"

namespace wexo::gateway {

namespace sp = sparkplug;

namespace {

std::uint64_t ms_of(Clock::time_point t) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}
std::uint64_t now_ms() { return ms_of(Clock::now()); }

// "di/0" and so on, the same names as the JSON topics.
std::string metric_name(ChannelId c) { return std::string(kind_name(c.kind)) + "/" + std::to_string(c.channel); }

sp::Metric metric_of(ChannelId c, const Sample& s) {
    sp::Metric m;
    m.name = metric_name(c);
    m.timestamp_ms = ms_of(s.ts);
    switch (c.kind) {
        case Kind::kDI:
        case Kind::kDO:
            m.type = sp::DataType::kBoolean;
            m.value = s.value != 0;
            break;
        case Kind::kCounter:
            m.type = sp::DataType::kInt64;
            m.value = static_cast<std::int64_t>(s.value);
            break;
        default:
            m.type = sp::DataType::kDouble;
            m.value = s.value;
    }
    return m;
}

std::string queue_file(const Config& c) {
    return c.queue.path.empty() ? std::string() : c.queue.path + "/" + c.site + "-" + c.name + ".sparkplug.queue";
}

}  // namespace

SparkplugPublisher::SparkplugPublisher(const Config& config, UnitStore& store, Metrics& metrics)
    : config_(config),
      store_(store),
      metrics_(metrics),
      mqtt_(config.mqtt, config.mqtt.client_id + "-spb"),
      queue_(queue_file(config), config.queue.max_bytes, config.queue.max_age_s, config.queue.drop_oldest),
      node_(config.site, config.name) {
    // Each connection gets the next bdSeq in its will, and the NBIRTH repeats it.
    mqtt_.before_connect = [this] {
        std::lock_guard lock(mutex_);
        const sp::Message will = node_.begin_session(now_ms());
        mqtt_.set_will(will.topic, will.payload, will.qos, will.retain);
    };
    mqtt_.on_connect = [this] { on_connect(); };
    mqtt_.on_message = [this](const MqttMessage& m) { on_message(m); };
}

SparkplugPublisher::~SparkplugPublisher() { stop(); }

void SparkplugPublisher::start() {
    if (!sp::valid_id(config_.site) || !sp::valid_id(config_.name))
        throw std::runtime_error("Sparkplug needs gateway.site and gateway.name without '/', '+' or '#'");
    listener_ = store_.subscribe([this](const Event& e) { on_event(e); });
    mqtt_.start();
    thread_ = std::thread([this] { run(); });
}

void SparkplugPublisher::stop() {
    if (!thread_.joinable()) return;
    store_.unsubscribe(listener_);
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        if (node_.node_born()) send_locked(node_.node_death(now_ms()));
    }
    cv_.notify_all();
    thread_.join();
    mqtt_.stop();
}

bool SparkplugPublisher::live_locked() const {
    return mqtt_.connected() && node_.node_born() && (config_.mqtt.primary_host.empty() || primary_.online());
}

void SparkplugPublisher::send_locked(const sp::Message& m) {
    if (mqtt_.publish(m.topic, m.payload, m.qos, m.retain)) metrics_.published("sparkplug");
}

void SparkplugPublisher::device_birth_locked(const UnitSnapshot& u) {
    // A unit is born with its first values: a birth names every metric.
    if (u.values.empty()) return;
    std::vector<sp::Metric> metrics;
    for (const auto& [channel, sample] : u.values) metrics.push_back(metric_of(channel, sample));
    if (const auto birth = node_.device_birth(now_ms(), u.info.name, std::move(metrics))) send_locked(*birth);
}

void SparkplugPublisher::births_locked() {
    send_locked(node_.node_birth(now_ms()));
    for (const UnitSnapshot& u : store_.snapshot())
        if (u.info.online) device_birth_locked(u);
    pending_.clear();  // the births hold every value
}

void SparkplugPublisher::on_connect() {
    for (const std::string& topic : node_.command_subscriptions()) mqtt_.subscribe(topic, 1);
    if (!config_.mqtt.primary_host.empty()) mqtt_.subscribe(sp::state_topic(config_.mqtt.primary_host), 1);
    {
        std::lock_guard lock(mutex_);
        rebirth_ = true;
    }
    cv_.notify_all();
}

void SparkplugPublisher::on_event(const Event& e) {
    std::lock_guard lock(mutex_);
    if (e.type == Event::Type::kStatus) {
        if (!live_locked()) return;  // the births after the reconnect tell the state
        if (e.info.online) {
            for (const UnitSnapshot& u : store_.snapshot())
                if (u.info.name == e.unit) device_birth_locked(u);
        } else if (const auto death = node_.device_death(now_ms(), e.unit)) {
            pending_.erase(e.unit);
            send_locked(*death);
        }
        return;
    }
    if (!live_locked()) {
        const sp::Metric m = metric_of(e.channel, e.sample);
        queue_.push(nlohmann::json{{"d", e.unit}, {"n", m.name}, {"k", kind_name(e.channel.kind)}, {"v", e.sample.value},
                                   {"ts", m.timestamp_ms}}
                        .dump());
        return;
    }
    pending_[e.unit].push_back(metric_of(e.channel, e.sample));
    cv_.notify_all();
}

void SparkplugPublisher::on_message(const MqttMessage& m) {
    if (!config_.mqtt.primary_host.empty() && m.topic == sp::state_topic(config_.mqtt.primary_host)) {
        std::lock_guard lock(mutex_);
        if (primary_.update(m.payload) == sp::PrimaryHost::Change::kCameOnline) rebirth_ = true;
        cv_.notify_all();
        return;
    }
    std::optional<std::vector<sp::Command>> commands;
    {
        std::lock_guard lock(mutex_);
        commands = node_.decode_command(m.topic, m.payload);
    }
    if (!commands) return;
    for (const sp::Command& c : *commands) {
        if (c.kind == sp::Command::Kind::kRebirth) {
            std::lock_guard lock(mutex_);
            rebirth_ = true;  // same session, same bdSeq
            cv_.notify_all();
            continue;
        }
        const auto output = parse_output(c.metric);
        if (!output) {
            log(Level::kWarning, "DCMD for %s/%s: only outputs can be written", c.device.c_str(), c.metric.c_str());
            continue;
        }
        WriteRequest r;
        r.unit = c.device;
        r.output = *output;
        r.who = "sparkplug DCMD";
        if (const auto* b = std::get_if<bool>(&c.value)) r.value = *b ? 1 : 0;
        else if (const auto* d = std::get_if<double>(&c.value)) r.value = *d;
        else if (const auto* i = std::get_if<std::int64_t>(&c.value)) r.value = static_cast<double>(*i);
        else if (const auto* u = std::get_if<std::uint64_t>(&c.value)) r.value = static_cast<double>(*u);
        // Analog outputs are written in the unit they report (V unless the output is in current mode).
        r.scale = WriteRequest::Scale::kState;
        if (output->kind == Kind::kAO) {
            r.scale = WriteRequest::Scale::kVolts;
            for (const UnitSnapshot& u : store_.snapshot())
                if (u.info.name == c.device)
                    if (auto s = u.values.find({Kind::kAO, output->channel}); s != u.values.end() && s->second.unit == "mA")
                        r.scale = WriteRequest::Scale::kMilliamps;
        }
        // The result shows as the output's DDATA; a refusal only in the log and the audit.
        store_.submit(r, [this, r](const WriteResult& result) {
            metrics_.command(result.ok ? "ok" : "refused");
            if (!result.ok)
                log(Level::kWarning, "DCMD %s/%s refused: %s", r.unit.c_str(), output_text(r.output).c_str(),
                    result.message.c_str());
        });
    }
}

// Sends births when due, the pending changes a few milliseconds after they
// came (one DDATA per device for the changes of a poll round), and the
// backlog as historical metrics, rate-limited behind live data.
void SparkplugPublisher::run() {
    const auto gap = std::chrono::microseconds(1000000 / config_.queue.replay_per_s);
    std::unique_lock lock(mutex_);
    while (!stop_) {
        cv_.wait_for(lock, std::chrono::milliseconds(100), [&] { return stop_ || rebirth_ || !pending_.empty(); });
        if (stop_) break;
        if (rebirth_ && mqtt_.connected() && (config_.mqtt.primary_host.empty() || primary_.online())) {
            rebirth_ = false;
            births_locked();
        }
        if (!pending_.empty()) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // let the round finish
            lock.lock();
            for (auto& [device, metrics] : pending_) {
                auto data = node_.device_born(device) ? node_.device_data(now_ms(), device, metrics) : std::nullopt;
                if (!data) {
                    // Not born yet, or a channel first read after the birth: birth with everything.
                    for (const UnitSnapshot& u : store_.snapshot())
                        if (u.info.name == device && u.info.online) device_birth_locked(u);
                    continue;
                }
                send_locked(*data);
            }
            pending_.clear();
        }
        // Backlog, while live and nothing else waits.
        while (live_locked() && !stop_ && pending_.empty() && !rebirth_) {
            const auto entry = queue_.front();
            if (!entry) break;
            const auto j = nlohmann::json::parse(entry->record, nullptr, false);
            queue_.pop();
            if (!j.is_object() || !j.contains("d") || !j.contains("k")) continue;
            const auto kind = kind_from_name(j["k"].get<std::string>());
            if (!kind) continue;
            Sample s;
            s.value = j["v"].get<double>();
            s.ts = Clock::time_point(std::chrono::milliseconds(j["ts"].get<std::int64_t>()));
            const std::string name = j["n"].get<std::string>();
            const auto slash = name.find('/');
            sp::Metric m = metric_of({*kind, std::stoi(name.substr(slash + 1))}, s);
            m.historical = true;
            const std::string device = j["d"].get<std::string>();
            if (const auto data = node_.device_data(now_ms(), device, {m})) send_locked(*data);
            cv_.wait_for(lock, gap, [&] { return stop_ || rebirth_ || !pending_.empty(); });
        }
    }
}

}  // namespace wexo::gateway
