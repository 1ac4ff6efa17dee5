// The gateway's one place for unit state: every unit's values and online
// state (a snapshot at any time), change events for whoever publishes them
// (MQTT today, an HTTP view later), and the write path that every front goes
// through, with the same checks for all.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config.hpp"
#include "rfc3339.hpp"
#include "wexo.hpp"

namespace wexo::gateway {

using Clock = std::chrono::system_clock;

// One channel's value as last read.
struct Sample {
    double value = 0;
    std::optional<int> raw;  // analog: the count behind value
    std::string unit;        // analog: "V" or "mA"
    Clock::time_point ts;
    bool operator==(const Sample&) const = default;
};

struct ChannelId {
    Kind kind = Kind::kDI;
    int channel = 0;
    auto operator<=>(const ChannelId&) const = default;
};

struct UnitInfo {
    std::string name;
    bool online = false;
    int model = -1;
    int id = -1;
    std::string ip;
    std::string mac;
    std::string firm_type;            // module firmware type, two letters
    Clock::time_point since;          // when it went online or offline
    std::optional<double> poll_ms;    // the last digital poll round
    std::optional<Capabilities> caps;
};

struct UnitSnapshot {
    UnitInfo info;
    std::map<ChannelId, Sample> values;
};

// A change to publish: a unit's status, or one channel's new value.
struct Event {
    enum class Type { kStatus, kValue } type = Type::kValue;
    std::string unit;
    UnitInfo info;       // kStatus
    ChannelId channel;   // kValue
    Sample sample;       // kValue
};

// A write asked for by a front (MQTT, HTTP, the safe state).
struct WriteRequest {
    std::string unit;
    OutputRef output;
    double value = 0;
    enum class Scale { kState, kVolts, kMilliamps, kCounts } scale = Scale::kState;
    std::string who;  // for the audit log: client, response topic, "safe-state"
};

struct WriteResult {
    bool ok = false;
    int code = 0;           // library code, 0 on success
    std::string message;
    std::optional<Sample> now;  // what the output holds after the write, read back
};

using WriteDone = std::function<void(const WriteResult&)>;

// The side that talks to the unit: one per unit, run on the unit's own thread.
class WriteExecutor {
public:
    virtual ~WriteExecutor() = default;
    // Queues the checked write; done runs on the unit's thread once written
    // and read back. Returns false when the unit cannot take it now.
    virtual bool execute(const WriteRequest& request, WriteDone done) = 0;
};

// Writes go to an audit log: one line per write, who, what and the result.
class AuditLog {
public:
    explicit AuditLog(const std::string& path);
    void record(const WriteRequest& request, const WriteResult& result);

private:
    std::mutex mutex_;
    std::string path_;
};

class UnitStore {
public:
    UnitStore(const Config& config, AuditLog& audit);

    // ---- the pollers
    // Registers a unit (its configuration may be null for units found by a search).
    void add_unit(const std::string& name, const UnitConfig* config, WriteExecutor* executor);
    void remove_unit(const std::string& name);
    bool has_unit(const std::string& name) const;
    void set_online(const std::string& name, const UnitInfo& info);
    void set_offline(const std::string& name);
    // Kept for the snapshot only: a change is not worth an event.
    void set_poll_latency(const std::string& name, double ms);
    // A value as read: published when it changed (analog: beyond the deadband).
    void update(const std::string& name, ChannelId channel, const Sample& sample);

    // ---- the fronts
    std::vector<UnitSnapshot> snapshot() const;
    using Listener = std::function<void(const Event&)>;
    // Listeners run on the thread of the change, outside the store's lock.
    int subscribe(Listener listener);
    void unsubscribe(int id);
    // Checks and runs a write; done is always called once, at once when the
    // write is refused.
    void submit(const WriteRequest& request, const WriteDone& done);

    // Outputs writable on a unit, as configured.
    std::vector<OutputRef> writable(const std::string& name) const;

private:
    struct Unit {
        UnitSnapshot snap;
        const UnitConfig* config = nullptr;
        WriteExecutor* executor = nullptr;
        std::map<ChannelId, Sample> published;  // last value sent out, for the deadband
        std::map<OutputRef, std::chrono::steady_clock::time_point> last_write;
    };
    void emit(const Event& event);
    std::optional<WriteResult> check(const WriteRequest& request, Unit& unit);

    const Config& config_;
    AuditLog& audit_;
    mutable std::mutex mutex_;
    std::map<std::string, Unit> units_;
    std::mutex listeners_mutex_;
    std::map<int, Listener> listeners_;
    int next_listener_ = 1;
};

using wexo::text::rfc3339;

}  // namespace wexo::gateway
