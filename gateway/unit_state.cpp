#include "unit_state.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "log.hpp"

namespace wexo::gateway {

namespace {

constexpr int kNotPossible = WEXO_ERR_NOT_POSSIBLE;
constexpr int kNotConnected = WEXO_ERR_NOT_CONNECTED;
constexpr int kNoMatch = WEXO_ERR_NO_MATCH;

WriteResult refused(int code, std::string message) { return {false, code, std::move(message), std::nullopt}; }

const char* scale_name(WriteRequest::Scale s) {
    switch (s) {
        case WriteRequest::Scale::kVolts: return "V";
        case WriteRequest::Scale::kMilliamps: return "mA";
        case WriteRequest::Scale::kCounts: return "counts";
        default: return "";
    }
}

bool analog(Kind k) { return k == Kind::kAI || k == Kind::kAO; }

}  // namespace

AuditLog::AuditLog(const std::string& path) : path_(path) {}

void AuditLog::record(const WriteRequest& r, const WriteResult& result) {
    char value[64];
    std::snprintf(value, sizeof value, "%g%s%s", r.value, r.scale == WriteRequest::Scale::kState ? "" : " ",
                  scale_name(r.scale));
    std::string line = rfc3339(Clock::now()) + " write who=\"" + r.who + "\" unit=" + r.unit + " output=" +
                       output_text(r.output) + " value=" + value + " result=" +
                       (result.ok ? std::string("ok") : "code " + std::to_string(result.code) + " \"" + result.message + "\"");
    if (result.now) {
        char now[64];
        std::snprintf(now, sizeof now, " now=%g", result.now->value);
        line += now;
    }
    std::lock_guard lock(mutex_);
    if (path_.empty()) {
        log(Level::kInfo, "audit: %s", line.c_str());
        return;
    }
    std::ofstream out(path_, std::ios::app);
    out << line << '\n';
    if (!out) log(Level::kError, "audit log %s cannot be written; %s", path_.c_str(), line.c_str());
}

UnitStore::UnitStore(const Config& config, AuditLog& audit) : config_(config), audit_(audit) {}

void UnitStore::add_unit(const std::string& name, const UnitConfig* config, WriteExecutor* executor) {
    std::lock_guard lock(mutex_);
    Unit& u = units_[name];
    u.snap.info.name = name;
    u.config = config;
    u.executor = executor;
}

void UnitStore::remove_unit(const std::string& name) {
    std::lock_guard lock(mutex_);
    units_.erase(name);
}

bool UnitStore::has_unit(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return units_.count(name) != 0;
}

void UnitStore::set_online(const std::string& name, const UnitInfo& info) {
    Event e{Event::Type::kStatus, name, info, {}, {}};
    {
        std::lock_guard lock(mutex_);
        auto it = units_.find(name);
        if (it == units_.end()) return;
        const UnitInfo& was = it->second.snap.info;
        // A reconnect after a search changes nothing worth a message.
        if (was.online && was.model == info.model && was.id == info.id && was.ip == info.ip && was.mac == info.mac) {
            it->second.snap.info.caps = info.caps;
            return;
        }
        const bool was_online = was.online;
        const Clock::time_point since = was.since;
        const std::optional<double> poll_ms = was.poll_ms;
        it->second.snap.info = info;
        it->second.snap.info.name = name;
        it->second.snap.info.online = true;
        it->second.snap.info.since = was_online ? since : Clock::now();
        it->second.snap.info.poll_ms = poll_ms;
        e.info = it->second.snap.info;
    }
    emit(e);
}

void UnitStore::set_offline(const std::string& name) {
    Event e{Event::Type::kStatus, name, {}, {}, {}};
    {
        std::lock_guard lock(mutex_);
        auto it = units_.find(name);
        if (it == units_.end() || !it->second.snap.info.online) return;
        it->second.snap.info.online = false;
        it->second.snap.info.since = Clock::now();
        e.info = it->second.snap.info;
    }
    emit(e);
}

void UnitStore::set_poll_latency(const std::string& name, double ms) {
    std::lock_guard lock(mutex_);
    if (auto it = units_.find(name); it != units_.end()) it->second.snap.info.poll_ms = ms;
}

void UnitStore::update(const std::string& name, ChannelId channel, const Sample& sample) {
    Event e{Event::Type::kValue, name, {}, channel, sample};
    {
        std::lock_guard lock(mutex_);
        auto it = units_.find(name);
        if (it == units_.end()) return;
        Unit& u = it->second;
        u.snap.values[channel] = sample;
        auto last = u.published.find(channel);
        if (last != u.published.end()) {
            const double deadband = analog(channel.kind) && u.config != nullptr ? u.config->deadband : 0.0;
            const bool changed = analog(channel.kind)
                                     ? std::fabs(sample.value - last->second.value) > deadband ||
                                           sample.unit != last->second.unit
                                     : sample.value != last->second.value;
            if (!changed) return;
        }
        u.published[channel] = sample;
    }
    emit(e);
}

std::vector<UnitSnapshot> UnitStore::snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<UnitSnapshot> out;
    out.reserve(units_.size());
    for (const auto& [name, u] : units_) out.push_back(u.snap);
    return out;
}

int UnitStore::subscribe(Listener listener) {
    std::lock_guard lock(listeners_mutex_);
    listeners_[next_listener_] = std::move(listener);
    return next_listener_++;
}

void UnitStore::unsubscribe(int id) {
    std::lock_guard lock(listeners_mutex_);
    listeners_.erase(id);
}

void UnitStore::emit(const Event& event) {
    std::lock_guard lock(listeners_mutex_);
    for (const auto& [id, listener] : listeners_) listener(event);
}

std::vector<OutputRef> UnitStore::writable(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = units_.find(name);
    if (it == units_.end() || it->second.config == nullptr) return {};
    return it->second.config->writable;
}

std::optional<WriteResult> UnitStore::check(const WriteRequest& r, Unit& u) {
    const std::string what = output_text(r.output);
    const bool listed = u.config != nullptr && std::find(u.config->writable.begin(), u.config->writable.end(),
                                                         r.output) != u.config->writable.end();
    if (!listed) return refused(kNotPossible, what + " of " + r.unit + " is not writable");
    if (!u.snap.info.online || !u.snap.info.caps) return refused(kNotConnected, r.unit + " is offline");
    const Capabilities& caps = *u.snap.info.caps;
    const int count = r.output.kind == Kind::kDO ? caps.digital_outputs : caps.analog_outputs;
    if (r.output.channel >= count)
        return refused(kNotPossible, r.unit + " (model " + std::to_string(caps.model) + ") has " +
                                         std::to_string(count) + " " + kind_name(r.output.kind) + " outputs");
    if (!std::isfinite(r.value)) return refused(kNotPossible, "the value is not a number");
    if (r.output.kind == Kind::kDO) {
        if (r.scale != WriteRequest::Scale::kState || (r.value != 0 && r.value != 1))
            return refused(kNotPossible, what + " takes 0 or 1");
    } else {
        struct Limit {
            WriteRequest::Scale scale;
            double low, high;
        };
        constexpr Limit limits[] = {{WriteRequest::Scale::kVolts, -10, 10},
                                    {WriteRequest::Scale::kMilliamps, 0, 20},
                                    {WriteRequest::Scale::kCounts, -32768, 32767}};
        const auto limit = std::find_if(std::begin(limits), std::end(limits), [&](const Limit& l) { return l.scale == r.scale; });
        if (limit == std::end(limits)) return refused(kNotPossible, what + " takes a value with unit V or mA, or counts");
        if (r.value < limit->low || r.value > limit->high || (r.scale == WriteRequest::Scale::kCounts && r.value != std::floor(r.value))) {
            char text[96];
            std::snprintf(text, sizeof text, "%s takes %g..%g %s", what.c_str(), limit->low, limit->high, scale_name(r.scale));
            return refused(kNotPossible, text);
        }
    }
    const auto now = std::chrono::steady_clock::now();
    auto last = u.last_write.find(r.output);
    if (last != u.last_write.end() && now - last->second < std::chrono::milliseconds(config_.write_interval_ms))
        return refused(kNotPossible, what + " was written less than " + std::to_string(config_.write_interval_ms) +
                                         " ms ago (rate limit)");
    u.last_write[r.output] = now;
    return std::nullopt;
}

void UnitStore::submit(const WriteRequest& request, const WriteDone& done) {
    WriteExecutor* executor = nullptr;
    std::optional<WriteResult> refusal;
    {
        std::lock_guard lock(mutex_);
        auto it = units_.find(request.unit);
        if (it == units_.end()) {
            refusal = refused(kNoMatch, "no unit named " + request.unit);
        } else {
            refusal = check(request, it->second);
            executor = it->second.executor;
        }
    }
    auto finish = [this, request, done](const WriteResult& result) {
        audit_.record(request, result);
        done(result);
    };
    if (!refusal && (executor == nullptr || !executor->execute(request, finish)))
        refusal = refused(kNotConnected, request.unit + " is offline");
    if (refusal) finish(*refusal);
}

}  // namespace wexo::gateway
