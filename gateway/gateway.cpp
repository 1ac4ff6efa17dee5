#include "gateway.hpp"

#include <sstream>

#include "json_topics.hpp"
#include "log.hpp"

namespace wexo::gateway {

namespace {

std::string found_name(const std::array<std::uint8_t, 6>& mac) {
    std::string text = mac_text(mac);
    std::erase(text, ':');
    return "unit-" + text;
}

}  // namespace

Gateway::Gateway(const Config& config, Metrics& metrics)
    : config_(config), metrics_(metrics), audit_(config.audit_log), store_(config_, audit_) {}

Gateway::~Gateway() { stop(); }

Schedule Gateway::schedule() const {
    return {config_.poll_ms,      config_.analog_poll_ms, config_.counter_poll_ms, config_.timeout_ms,
            config_.retry_min_ms, config_.retry_max_ms,   config_.fail_after};
}

void Gateway::add_poller(const UnitPlan& plan, bool start) {
    auto poller = std::make_unique<UnitPoller>(plan, schedule(), library_, gate_, store_, metrics_);
    store_.add_unit(plan.name, plan.config, poller.get());
    UnitPoller* p = poller.get();
    pollers_[plan.name] = std::move(poller);
    if (start) p->start();
}

void Gateway::start() {
    if (!config_.interface.empty()) {
        if (const auto r = library_.select_network_device(config_.interface); !r)
            log(Level::kError, "gateway.interface %s: %s", config_.interface.c_str(), r.error().message().c_str());
    }
    // The units named in the configuration, before anything is found.
    for (const UnitConfig& u : config_.units) {
        UnitPlan plan;
        plan.config = &u;
        plan.address = u.address;
        plan.model = u.model.value_or(-1);
        if (!u.host.empty())
            plan.name = u.name.empty() ? "unit-" + u.host : u.name;
        else if (!u.mac.empty())
            plan.name = u.name.empty() ? found_name(u.address.mac) : u.name;
        else
            plan.name = u.name.empty() ? "unit-id" + std::to_string(*u.id) + "-model" + std::to_string(*u.model) : u.name;
        // Units are started after the first search, which would close their channels.
        add_poller(plan, false);
    }
    json_ = std::make_unique<JsonPublisher>(config_, store_, metrics_);
    json_->start();
    if (config_.mqtt.sparkplug) {
        sparkplug_ = std::make_unique<SparkplugPublisher>(config_, store_, metrics_);
        sparkplug_->start();
    }
    if (config_.search) search();
    for (auto& [name, poller] : pollers_) poller->start();
    started_ = true;
    next_scan_ = std::chrono::steady_clock::now() + std::chrono::seconds(config_.rescan_s);
}

void Gateway::search() {
    struct Found {
        std::array<std::uint8_t, 6> mac;
        std::string ip;
        int id, model;
    };
    std::vector<Found> found;
    gate_.enter_exclusive();
    const auto n = library_.search(std::chrono::milliseconds(config_.search_window_ms));
    for (int i = 0; n && i < *n; ++i) {
        const Device d = library_.device(i);
        const auto mac = d.mac();
        if (mac) found.push_back({*mac, d.ip().value_or(""), d.id().value_or(-1), d.model().value_or(-1)});
    }
    gate_.leave_exclusive();
    if (!n) {
        log(Level::kInfo, "search: %s", n.error().message().c_str());
        return;
    }
    int added = 0;
    for (const Found& f : found) {
        // A unit the configuration names is polled under its own name.
        const bool known = std::any_of(pollers_.begin(), pollers_.end(), [&](const auto& entry) {
            const UnitAddress& a = entry.second->plan().address;
            return (a.kind == UnitAddress::Kind::mac && a.mac == f.mac) || (a.direct() && a.host == f.ip) ||
                   (a.kind == UnitAddress::Kind::id_model && a.id == f.id && a.model == f.model);
        });
        if (known) continue;
        UnitPlan plan;
        plan.address.kind = UnitAddress::Kind::mac;
        plan.address.mac = f.mac;
        plan.name = found_name(f.mac);
        add_poller(plan, started_);
        ++added;
    }
    log(Level::kInfo, "search: %zu units answered, %d new", found.size(), added);
}

void Gateway::tick() {
    const auto now = std::chrono::steady_clock::now();
    if (config_.search && config_.rescan_s > 0 && now >= next_scan_) {
        search();
        next_scan_ = now + std::chrono::seconds(config_.rescan_s);
    }
    // Safe state: the broker gone for safe_after_s sets the configured values once.
    if (json_ && json_->connected()) {
        broker_lost_.reset();
        safe_applied_ = false;
    } else if (!broker_lost_) {
        broker_lost_ = now;
    } else if (config_.safe_after_s > 0 && !safe_applied_ && now - *broker_lost_ >= std::chrono::seconds(config_.safe_after_s)) {
        safe_applied_ = true;
        log(Level::kWarning, "broker unreachable for %d s: setting the safe state", config_.safe_after_s);
        for (const auto& [name, poller] : pollers_) {
            const UnitConfig* u = poller->plan().config;
            if (u == nullptr) continue;
            for (const auto& [output, value] : u->safe) {
                WriteRequest r{name, output, value,
                               output.kind == Kind::kDO ? WriteRequest::Scale::kState : WriteRequest::Scale::kVolts,
                               "safe-state"};
                store_.submit(r, [unit = name, what = output_text(output)](const WriteResult& result) {
                    if (!result.ok)
                        log(Level::kError, "%s: safe state of %s failed: %s", unit.c_str(), what.c_str(),
                            result.message.c_str());
                });
            }
        }
    }
}

void Gateway::stop() {
    if (sparkplug_) sparkplug_->stop();
    if (json_) json_->stop();
    for (auto& [name, poller] : pollers_) poller->stop();
    pollers_.clear();
    sparkplug_.reset();
    json_.reset();
}

std::string describe_plan(const Config& c) {
    std::ostringstream out;
    const std::string base = c.base_topic();
    out << "gateway " << c.site << "/" << c.name << " (" << c.file << ")\n";
    out << "broker " << c.mqtt.url << " as " << c.mqtt.client_id << (c.mqtt.tls ? ", TLS" : "")
        << (c.mqtt.username.empty() ? "" : ", user " + c.mqtt.username) << ", QoS " << c.mqtt.qos
        << (c.mqtt.sparkplug ? ", Sparkplug B group " + c.site + " node " + c.name : "") << "\n";
    out << "polling: digital every " << c.poll_ms << " ms, analog every " << c.analog_poll_ms << " ms, counters every "
        << c.counter_poll_ms << " ms; unit time-out " << c.timeout_ms << " ms, retry " << c.retry_min_ms << ".."
        << c.retry_max_ms << " ms\n";
    out << "search: "
        << (c.search ? "at start" + (c.rescan_s > 0 ? " and every " + std::to_string(c.rescan_s) + " s" : std::string())
                     : std::string("off"))
        << "\n";
    out << "outage queue: " << (c.queue.path.empty() ? std::string("memory only") : c.queue.path) << ", "
        << c.queue.max_bytes << " bytes, " << c.queue.max_age_s << " s, drops the " << (c.queue.drop_oldest ? "oldest" : "newest")
        << ", replay " << c.queue.replay_per_s << "/s\n";
    out << "topics:\n  " << base << "/status\n  " << base << "/refresh (command: publish everything again)\n";
    for (const UnitConfig& u : c.units) {
        const std::string name = !u.name.empty() ? u.name : !u.host.empty() ? "unit-" + u.host : "unit-<mac>";
        out << "unit " << name << " (line " << u.line << "): ";
        if (!u.host.empty()) out << "host " << u.host << (u.port ? ":" + std::to_string(u.port) : std::string());
        else if (!u.mac.empty()) out << "mac " << u.mac;
        else out << "id " << *u.id;
        if (u.model) out << ", model " << *u.model;
        out << "\n";
        out << "  " << base << "/" << name << "/status\n";
        if (u.model) {
            const auto caps = model_capabilities(*u.model);
            const std::pair<Kind, int> counts[] = {{Kind::kDI, caps->digital_inputs},
                                                   {Kind::kDO, caps->digital_outputs},
                                                   {Kind::kAI, caps->analog_inputs},
                                                   {Kind::kAO, caps->analog_outputs}};
            for (const auto& [kind, n] : counts)
                if (n > 0)
                    out << "  " << base << "/" << name << "/" << kind_name(kind) << "/0.." << n - 1 << "\n";
            out << "  counters: as the unit's pulse mode allows\n";
        } else {
            out << "  channels: as the unit reports (no model configured)\n";
        }
        if (u.writable.empty()) out << "  writable: nothing\n";
        for (const OutputRef& w : u.writable) {
            out << "  writable: " << base << "/" << name << "/" << output_text(w) << "/set";
            if (const auto s = u.safe.find(w); s != u.safe.end()) out << " (safe value " << s->second << ")";
            out << "\n";
        }
    }
    if (c.search) out << "units found by the search: unit-<mac>, channels as reported, nothing writable\n";
    return out.str();
}

}  // namespace wexo::gateway
