// Sparkplug B for an edge node whose devices are the units behind it: topic
// names, payload encoding and decoding, and the session rules (bdSeq, seq,
// aliases, birth order). Pure: it builds messages and reads commands, and
// leaves the MQTT connection to its caller.
//
// A session runs like this:
//     auto will = node.begin_session(now);        // set as the MQTT will, then connect
//     publish(node.node_birth(now, node_metrics));
//     publish(*node.device_birth(now, "press", metrics));
//     publish(*node.device_data(now, "press", changes));
//     ...
//     publish(node.node_death(now));               // before a clean disconnect
// After a reconnect, begin_session again (bdSeq + 1), then the births again.
// An NCMD "Node Control/Rebirth" is answered with node_birth and every
// device_birth, without begin_session: the bdSeq stays.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace wexo::gateway::sparkplug {

inline constexpr std::string_view kNamespace = "spBv1.0";
inline constexpr std::string_view kRebirthMetric = "Node Control/Rebirth";
inline constexpr std::string_view kBdSeqMetric = "bdSeq";

// The datatypes this gateway uses; the numbers are those of the schema.
enum class DataType : std::uint32_t {
    kInt32 = 3,
    kInt64 = 4,
    kUInt32 = 7,
    kUInt64 = 8,
    kFloat = 9,
    kDouble = 10,
    kBoolean = 11,
    kString = 12,
};

using Value = std::variant<bool, std::int64_t, std::uint64_t, double, std::string>;

struct Metric {
    std::string name;  // sent in births only; data and commands carry the alias
    DataType type = DataType::kDouble;
    Value value;
    std::uint64_t timestamp_ms = 0;  // 0: the message's own time stamp
    bool historical = false;         // replayed from the outage queue
    std::uint64_t alias = 0;         // set by EdgeNode; ignored on input
};

struct Message {
    std::string topic;
    std::string payload;  // protobuf bytes
    int qos = 0;
    bool retain = false;  // never retained: Sparkplug forbids it for N/D messages
};

// One decoded payload. Metrics keep name and alias as sent (either may be
// missing); a value the gateway cannot represent leaves has_value false.
struct DecodedMetric {
    std::string name;
    std::optional<std::uint64_t> alias;
    std::uint32_t datatype = 0;
    std::optional<Value> value;
    bool historical = false;
    std::uint64_t timestamp_ms = 0;
};
struct DecodedPayload {
    std::optional<std::uint64_t> timestamp_ms;
    std::optional<std::uint64_t> seq;
    std::vector<DecodedMetric> metrics;
};

// Payload bytes; names are left out when with_names is false (data messages).
std::string encode_payload(std::uint64_t timestamp_ms, std::optional<std::uint64_t> seq,
                           const std::vector<Metric>& metrics, bool with_names);
// nullopt when the bytes are not a payload.
std::optional<DecodedPayload> decode_payload(std::string_view bytes);

enum class MessageType { kNBirth, kNDeath, kDBirth, kDDeath, kNData, kDData, kNCmd, kDCmd };
std::string_view message_type_name(MessageType type);

// "spBv1.0/<group>/<TYPE>/<node>[/<device>]"
std::string topic(std::string_view group, MessageType type, std::string_view node,
                  std::string_view device = {});

// Sparkplug ids may not hold the topic separators or wildcards.
bool valid_id(std::string_view id);

// A write or a request decoded from an NCMD or DCMD.
struct Command {
    enum class Kind { kRebirth, kWrite } kind = Kind::kWrite;
    std::string device;  // empty for node commands
    std::string metric;  // the metric's name, resolved from its alias
    Value value;
};

class EdgeNode {
public:
    // bdseq: the first session's bdSeq (a caller that keeps it across
    // restarts passes the last one + 1).
    EdgeNode(std::string group, std::string node, std::uint8_t bdseq = 0);

    const std::string& group() const { return group_; }
    const std::string& node() const { return node_; }
    std::uint8_t bdseq() const { return bdseq_; }
    bool node_born() const { return node_born_; }
    bool device_born(std::string_view device) const;

    // Starts an MQTT session: bdSeq + 1 (wrapping 255 to 0) except for the
    // very first, every device dead, nothing born. Returns the NDEATH to set
    // as the will: QoS 1, not retained, bdSeq its only metric, no seq.
    Message begin_session(std::uint64_t now_ms);

    // NBIRTH: seq 0, bdSeq, "Node Control/Rebirth" and the caller's node
    // metrics, each with name, datatype, value and alias. Every device must
    // then be born again.
    Message node_birth(std::uint64_t now_ms, std::vector<Metric> node_metrics = {});

    // DBIRTH: nullopt until the node is born. Aliases stay the same for a
    // metric name across births, and are unique within the node.
    std::optional<Message> device_birth(std::uint64_t now_ms, std::string_view device,
                                        std::vector<Metric> metrics);
    // DDATA with aliases only: nullopt while the device is not born, when no
    // metric is given, or when a metric was not in its birth.
    std::optional<Message> device_data(std::uint64_t now_ms, std::string_view device,
                                       std::vector<Metric> metrics);
    // DDEATH: nullopt when the device was not born.
    std::optional<Message> device_death(std::uint64_t now_ms, std::string_view device);
    // NDEATH, the will's payload with a fresh time stamp, to publish before
    // a clean disconnect.
    Message node_death(std::uint64_t now_ms) const;

    // Topics to subscribe to: this node's NCMD and its devices' DCMD.
    std::vector<std::string> command_subscriptions() const;

    // A command addressed to this node; nullopt for another topic, bytes
    // that are not a payload, or metrics not known to the node or device
    // (an unknown alias must never be guessed at).
    std::optional<std::vector<Command>> decode_command(std::string_view topic,
                                                       std::string_view payload) const;

private:
    std::uint64_t alias_for(const std::string& device, const std::string& name);
    std::uint8_t next_seq();

    std::string group_, node_;
    std::uint8_t bdseq_;
    bool first_session_ = true;
    bool node_born_ = false;
    std::uint8_t seq_ = 0;
    std::uint64_t next_alias_ = 1;
    // device ("" for the node) -> metric name -> alias
    std::map<std::string, std::map<std::string, std::uint64_t, std::less<>>, std::less<>> aliases_;
    std::set<std::string, std::less<>> born_devices_;
};

// The STATE of a primary host application: spBv1.0/STATE/<host>, a retained
// JSON text {"online":true|false,"timestamp":<ms>}. The node publishes its
// births only while its primary host is online.
std::string state_topic(std::string_view host_id);

class PrimaryHost {
public:
    enum class Change { kNone, kCameOnline, kWentOffline };
    // Applies one STATE message: text that is not a STATE, and a message
    // older than the newest seen, change nothing.
    Change update(std::string_view payload);
    bool online() const { return online_; }

private:
    bool online_ = false;
    std::optional<std::uint64_t> newest_;
};

}  // namespace wexo::gateway::sparkplug
