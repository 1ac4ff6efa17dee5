#include "web_backend.hpp"

#include <condition_variable>
#include <mutex>

#include "json_topics.hpp"

namespace wexo::gateway {
namespace {

using nlohmann::json;

// A write waits this long for the unit's thread to write and read back; the
// unit's own time-outs end it well before.
constexpr auto kWriteWait = std::chrono::seconds(10);

json sample_json(ChannelId id, const Sample& s) {
    json j{{"ch", id.channel}, {"value", s.value}, {"ts", rfc3339(s.ts)}};
    if (s.raw) j["raw"] = *s.raw;
    if (!s.unit.empty()) j["unit"] = s.unit;
    return j;
}

json info_json(const UnitInfo& info) {
    json j{{"name", info.name}, {"online", info.online}, {"ip", info.ip}, {"mac", info.mac}};
    if (info.model >= 0) j["model"] = info.model;
    if (info.id >= 0) j["id"] = info.id;
    if (!info.firm_type.empty()) j["firm_type"] = info.firm_type;
    if (info.since != Clock::time_point{}) j["since"] = rfc3339(info.since);
    if (info.poll_ms) j["poll_ms"] = *info.poll_ms;
    return j;
}

const UnitConfig* unit_config(const Config& config, const std::string& name) {
    for (const UnitConfig& u : config.units)
        if (u.name == name) return &u;
    return nullptr;
}

}  // namespace

json unit_json(const UnitSnapshot& unit, const std::vector<OutputRef>& writable, double deadband) {
    json j = info_json(unit.info);
    for (Kind kind : kKinds) j[kind_name(kind)] = json::array();
    for (const auto& [id, sample] : unit.values) {
        json c = sample_json(id, sample);
        if (id.kind == Kind::kDO || id.kind == Kind::kAO) {
            bool may = false;
            for (const OutputRef& w : writable) may = may || (w.kind == id.kind && w.channel == id.channel);
            c["writable"] = may;
        }
        if (id.kind == Kind::kAI || id.kind == Kind::kAO) c["deadband"] = deadband;
        j[kind_name(id.kind)].push_back(std::move(c));
    }
    return j;
}

json StoreWebBackend::snapshot() {
    json units = json::array();
    for (const UnitSnapshot& unit : store_.snapshot()) {
        const UnitConfig* cfg = unit_config(config_, unit.info.name);
        units.push_back(unit_json(unit, store_.writable(unit.info.name), cfg ? cfg->deadband : 0.0));
    }
    return {{"gateway", {{"site", config_.site}, {"name", config_.name}}}, {"units", std::move(units)}};
}

std::shared_ptr<void> StoreWebBackend::subscribe(std::function<void(const json&)> on_change) {
    const int id = store_.subscribe([on_change = std::move(on_change)](const Event& event) {
        if (event.type == Event::Type::kStatus) {
            on_change(json{{"type", "unit"}, {"unit", info_json(event.info)}});
        } else {
            json j = sample_json(event.channel, event.sample);
            j["type"] = "value";
            j["unit"] = event.unit;
            j["kind"] = kind_name(event.channel.kind);
            on_change(j);
        }
    });
    UnitStore* store = &store_;
    return std::shared_ptr<void>(nullptr, [store, id](void*) { store->unsubscribe(id); });
}

json StoreWebBackend::write(const std::string& unit, const std::string& kind, int channel,
                            const json& request, const std::string& who) {
    const auto k = kind_from_name(kind);
    if (!k || (*k != Kind::kDO && *k != Kind::kAO))
        return {{"ok", false}, {"code", 6}, {"message", "not an output"}};
    const ParsedWrite parsed = parse_write_payload(*k, request.dump());
    if (const auto* refusal = std::get_if<std::string>(&parsed))
        return {{"ok", false}, {"code", 6}, {"message", *refusal}};
    const auto& [value, scale] = std::get<std::pair<double, WriteRequest::Scale>>(parsed);
    WriteRequest w{unit, OutputRef{*k, channel}, value, scale, who};

    // The store calls back once, at once for a refusal, else from the unit's thread.
    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<WriteResult> result;
    };
    auto wait = std::make_shared<Wait>();
    store_.submit(w, [wait](const WriteResult& r) {
        {
            std::lock_guard lock(wait->mutex);
            wait->result = r;
        }
        wait->done.notify_one();
    });
    std::unique_lock lock(wait->mutex);
    if (!wait->done.wait_for(lock, kWriteWait, [&] { return wait->result.has_value(); }))
        return {{"ok", false}, {"code", 2}, {"message", "no answer from the unit in time"}};
    return json::parse(result_payload(*wait->result));
}

}  // namespace wexo::gateway
