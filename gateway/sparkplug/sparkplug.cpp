#include "sparkplug.hpp"

#include <nlohmann/json.hpp>

#include "sparkplug_b.pb.h"

namespace wexo::gateway::sparkplug {
namespace {

using PbPayload = org::eclipse::tahu::protobuf::Payload;
using PbMetric = org::eclipse::tahu::protobuf::Payload_Metric;

// Integer types travel in int_value (up to 32 bits) or long_value, signed
// values as their two's complement bit pattern.
void set_value(PbMetric& out, DataType type, const Value& value) {
    const auto as_u64 = [&]() -> std::uint64_t {
        if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
        if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<std::uint64_t>(*i);
        if (const auto* u = std::get_if<std::uint64_t>(&value)) return *u;
        if (const auto* d = std::get_if<double>(&value)) return static_cast<std::uint64_t>(static_cast<std::int64_t>(*d));
        return 0;
    };
    const auto as_double = [&]() -> double {
        if (const auto* d = std::get_if<double>(&value)) return *d;
        if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
        if (const auto* u = std::get_if<std::uint64_t>(&value)) return static_cast<double>(*u);
        if (const auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
        return 0.0;
    };
    switch (type) {
    case DataType::kInt32:
    case DataType::kUInt32:
        out.set_int_value(static_cast<std::uint32_t>(as_u64()));
        break;
    case DataType::kInt64:
    case DataType::kUInt64:
        out.set_long_value(as_u64());
        break;
    case DataType::kFloat:
        out.set_float_value(static_cast<float>(as_double()));
        break;
    case DataType::kDouble:
        out.set_double_value(as_double());
        break;
    case DataType::kBoolean:
        out.set_boolean_value(as_u64() != 0);
        break;
    case DataType::kString:
        if (const auto* s = std::get_if<std::string>(&value)) out.set_string_value(*s);
        else out.set_is_null(true);
        break;
    }
}

std::optional<Value> get_value(const PbMetric& in) {
    switch (in.value_case()) {
    case PbMetric::kIntValue:
        // Int8..Int32 arrive sign-extended into the 32-bit field.
        if (in.datatype() >= 1 && in.datatype() <= 3)
            return Value{static_cast<std::int64_t>(static_cast<std::int32_t>(in.int_value()))};
        return Value{static_cast<std::uint64_t>(in.int_value())};
    case PbMetric::kLongValue:
        if (in.datatype() == static_cast<std::uint32_t>(DataType::kInt64))
            return Value{static_cast<std::int64_t>(in.long_value())};
        return Value{in.long_value()};
    case PbMetric::kFloatValue: return Value{static_cast<double>(in.float_value())};
    case PbMetric::kDoubleValue: return Value{in.double_value()};
    case PbMetric::kBooleanValue: return Value{in.boolean_value()};
    case PbMetric::kStringValue: return Value{in.string_value()};
    default: return std::nullopt;
    }
}

Metric bdseq_metric(std::uint8_t bdseq) {
    return {std::string(kBdSeqMetric), DataType::kInt64, Value{static_cast<std::int64_t>(bdseq)}};
}

}  // namespace

std::string encode_payload(std::uint64_t timestamp_ms, std::optional<std::uint64_t> seq,
                           const std::vector<Metric>& metrics, bool with_names) {
    PbPayload payload;
    payload.set_timestamp(timestamp_ms);
    if (seq) payload.set_seq(*seq);
    for (const Metric& m : metrics) {
        PbMetric* out = payload.add_metrics();
        if (with_names || m.alias == 0) out->set_name(m.name);
        if (m.alias != 0) out->set_alias(m.alias);
        out->set_timestamp(m.timestamp_ms != 0 ? m.timestamp_ms : timestamp_ms);
        out->set_datatype(static_cast<std::uint32_t>(m.type));
        if (m.historical) out->set_is_historical(true);
        set_value(*out, m.type, m.value);
    }
    return payload.SerializeAsString();
}

std::optional<DecodedPayload> decode_payload(std::string_view bytes) {
    PbPayload payload;
    if (!payload.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) return std::nullopt;
    DecodedPayload out;
    if (payload.has_timestamp()) out.timestamp_ms = payload.timestamp();
    if (payload.has_seq()) out.seq = payload.seq();
    for (const PbMetric& m : payload.metrics()) {
        DecodedMetric d;
        d.name = m.name();
        if (m.has_alias()) d.alias = m.alias();
        d.datatype = m.datatype();
        if (!m.is_null()) d.value = get_value(m);
        d.historical = m.is_historical();
        d.timestamp_ms = m.timestamp();
        out.metrics.push_back(std::move(d));
    }
    return out;
}

std::string_view message_type_name(MessageType type) {
    switch (type) {
    case MessageType::kNBirth: return "NBIRTH";
    case MessageType::kNDeath: return "NDEATH";
    case MessageType::kDBirth: return "DBIRTH";
    case MessageType::kDDeath: return "DDEATH";
    case MessageType::kNData: return "NDATA";
    case MessageType::kDData: return "DDATA";
    case MessageType::kNCmd: return "NCMD";
    case MessageType::kDCmd: return "DCMD";
    }
    return "";
}

std::string topic(std::string_view group, MessageType type, std::string_view node,
                  std::string_view device) {
    std::string t;
    t.append(kNamespace).append("/").append(group).append("/");
    t.append(message_type_name(type)).append("/").append(node);
    if (!device.empty()) t.append("/").append(device);
    return t;
}

bool valid_id(std::string_view id) {
    return !id.empty() && id.find_first_of("/+#") == std::string_view::npos;
}

EdgeNode::EdgeNode(std::string group, std::string node, std::uint8_t bdseq)
    : group_(std::move(group)), node_(std::move(node)), bdseq_(bdseq) {}

bool EdgeNode::device_born(std::string_view device) const {
    return born_devices_.find(device) != born_devices_.end();
}

std::uint8_t EdgeNode::next_seq() {
    const std::uint8_t seq = seq_;
    seq_ = static_cast<std::uint8_t>(seq_ + 1);  // wraps 255 to 0
    return seq;
}

std::uint64_t EdgeNode::alias_for(const std::string& device, const std::string& name) {
    auto& names = aliases_[device];
    auto it = names.find(name);
    if (it != names.end()) return it->second;
    return names.emplace(name, next_alias_++).first->second;
}

Message EdgeNode::begin_session(std::uint64_t now_ms) {
    if (!first_session_) bdseq_ = static_cast<std::uint8_t>(bdseq_ + 1);  // wraps 255 to 0
    first_session_ = false;
    node_born_ = false;
    born_devices_.clear();
    return node_death(now_ms);
}

Message EdgeNode::node_death(std::uint64_t now_ms) const {
    // No seq: a will is published by the broker at an unknown point of the
    // sequence; host applications match it to its birth by bdSeq alone.
    PbPayload payload;
    payload.set_timestamp(now_ms);
    PbMetric* m = payload.add_metrics();
    m->set_name(std::string(kBdSeqMetric));
    m->set_datatype(static_cast<std::uint32_t>(DataType::kInt64));
    m->set_long_value(bdseq_);
    return {topic(group_, MessageType::kNDeath, node_), payload.SerializeAsString(), 1, false};
}

Message EdgeNode::node_birth(std::uint64_t now_ms, std::vector<Metric> node_metrics) {
    seq_ = 0;
    node_born_ = true;
    born_devices_.clear();
    std::vector<Metric> metrics;
    metrics.reserve(node_metrics.size() + 2);
    metrics.push_back(bdseq_metric(bdseq_));
    metrics.push_back({std::string(kRebirthMetric), DataType::kBoolean, Value{false}});
    for (Metric& m : node_metrics) metrics.push_back(std::move(m));
    for (Metric& m : metrics) m.alias = alias_for("", m.name);
    return {topic(group_, MessageType::kNBirth, node_),
            encode_payload(now_ms, next_seq(), metrics, true), 0, false};
}

std::optional<Message> EdgeNode::device_birth(std::uint64_t now_ms, std::string_view device,
                                              std::vector<Metric> metrics) {
    if (!node_born_ || !valid_id(device)) return std::nullopt;
    const std::string key(device);
    for (Metric& m : metrics) m.alias = alias_for(key, m.name);
    born_devices_.insert(key);
    return Message{topic(group_, MessageType::kDBirth, node_, device),
                   encode_payload(now_ms, next_seq(), metrics, true), 0, false};
}

std::optional<Message> EdgeNode::device_data(std::uint64_t now_ms, std::string_view device,
                                             std::vector<Metric> metrics) {
    if (!node_born_ || metrics.empty() || !device_born(device)) return std::nullopt;
    const auto& names = aliases_.find(device)->second;
    for (Metric& m : metrics) {
        auto it = names.find(m.name);
        if (it == names.end()) return std::nullopt;
        m.alias = it->second;
    }
    return Message{topic(group_, MessageType::kDData, node_, device),
                   encode_payload(now_ms, next_seq(), metrics, false), 0, false};
}

std::optional<Message> EdgeNode::device_death(std::uint64_t now_ms, std::string_view device) {
    auto it = born_devices_.find(device);
    if (!node_born_ || it == born_devices_.end()) return std::nullopt;
    born_devices_.erase(it);
    return Message{topic(group_, MessageType::kDDeath, node_, device),
                   encode_payload(now_ms, next_seq(), {}, false), 0, false};
}

std::vector<std::string> EdgeNode::command_subscriptions() const {
    return {topic(group_, MessageType::kNCmd, node_),
            topic(group_, MessageType::kDCmd, node_, "+")};
}

std::optional<std::vector<Command>> EdgeNode::decode_command(std::string_view t,
                                                             std::string_view payload) const {
    const std::string ncmd = topic(group_, MessageType::kNCmd, node_);
    const std::string dcmd_prefix = topic(group_, MessageType::kDCmd, node_) + "/";
    std::string device;
    if (t == ncmd) {
        device.clear();
    } else if (t.size() > dcmd_prefix.size() && t.substr(0, dcmd_prefix.size()) == dcmd_prefix) {
        device = std::string(t.substr(dcmd_prefix.size()));
        if (!valid_id(device)) return std::nullopt;
    } else {
        return std::nullopt;
    }
    const auto decoded = decode_payload(payload);
    if (!decoded) return std::nullopt;
    const auto names_it = aliases_.find(device);
    std::vector<Command> commands;
    for (const DecodedMetric& m : decoded->metrics) {
        std::string name = m.name;
        if (name.empty()) {
            if (!m.alias || names_it == aliases_.end()) return std::nullopt;
            for (const auto& [n, a] : names_it->second)
                if (a == *m.alias) name = n;
            if (name.empty()) return std::nullopt;
        } else if (names_it == aliases_.end() || !names_it->second.count(name)) {
            return std::nullopt;
        }
        if (!m.value) return std::nullopt;
        Command c;
        c.device = device;
        c.metric = name;
        c.value = *m.value;
        if (device.empty() && name == kRebirthMetric) {
            const bool* on = std::get_if<bool>(&*m.value);
            if (!on || !*on) continue;  // "false" asks for nothing
            c.kind = Command::Kind::kRebirth;
        }
        commands.push_back(std::move(c));
    }
    return commands;
}

std::string state_topic(std::string_view host_id) {
    return std::string(kNamespace) + "/STATE/" + std::string(host_id);
}

PrimaryHost::Change PrimaryHost::update(std::string_view payload) {
    const auto json = nlohmann::json::parse(payload, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return Change::kNone;
    const auto online = json.find("online");
    const auto stamp = json.find("timestamp");
    if (online == json.end() || !online->is_boolean() || stamp == json.end() ||
        !stamp->is_number_unsigned())
        return Change::kNone;
    const auto ts = stamp->get<std::uint64_t>();
    // A retained STATE from an earlier host session may arrive after a newer one.
    if (newest_ && ts < *newest_) return Change::kNone;
    newest_ = ts;
    const bool was = online_;
    online_ = online->get<bool>();
    if (online_ == was) return Change::kNone;
    return online_ ? Change::kCameOnline : Change::kWentOffline;
}

}  // namespace wexo::gateway::sparkplug
