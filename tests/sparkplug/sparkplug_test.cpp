// Edge-node rules of Sparkplug B, checked on the bytes the node would publish.
#include <gtest/gtest.h>

#include <set>

#include "sparkplug.hpp"

namespace sp = wexo::gateway::sparkplug;

namespace {

sp::DecodedPayload decode(const sp::Message& m) {
    auto p = sp::decode_payload(m.payload);
    EXPECT_TRUE(p.has_value()) << m.topic;
    return p.value_or(sp::DecodedPayload{});
}

std::vector<sp::Metric> unit_metrics(bool di0) {
    return {{"di/0", sp::DataType::kBoolean, sp::Value{di0}},
            {"ai/0", sp::DataType::kDouble, sp::Value{2.5}}};
}

std::int64_t bdseq_of(const sp::Message& m) {
    for (const auto& metric : decode(m).metrics)
        if (metric.name == "bdSeq") return std::get<std::int64_t>(*metric.value);
    ADD_FAILURE() << "no bdSeq in " << m.topic;
    return -1;
}

}  // namespace

TEST(Sparkplug, WillIsBdSeqOnlyAtQos1NotRetained) {
    sp::EdgeNode node("plant", "gw1");
    const sp::Message will = node.begin_session(1000);
    EXPECT_EQ(will.topic, "spBv1.0/plant/NDEATH/gw1");
    EXPECT_EQ(will.qos, 1);
    EXPECT_FALSE(will.retain);
    const auto p = decode(will);
    EXPECT_FALSE(p.seq.has_value());
    ASSERT_EQ(p.metrics.size(), 1u);
    EXPECT_EQ(p.metrics[0].name, "bdSeq");
    EXPECT_EQ(p.metrics[0].datatype, static_cast<std::uint32_t>(sp::DataType::kInt64));
}

TEST(Sparkplug, BdSeqRisesPerSessionWrapsAndRepeatsInBirthAndRebirth) {
    sp::EdgeNode node("plant", "gw1", 254);
    const std::vector<std::int64_t> expected{254, 255, 0};
    for (std::int64_t want : expected) {
        EXPECT_EQ(bdseq_of(node.begin_session(1)), want);
        EXPECT_EQ(bdseq_of(node.node_birth(2)), want);
        EXPECT_EQ(bdseq_of(node.node_birth(3)), want) << "rebirth keeps the session's bdSeq";
        EXPECT_EQ(bdseq_of(node.node_death(4)), want);
    }
}

TEST(Sparkplug, BirthsComeInOrderAndCarryNamesTypesValuesAliases) {
    sp::EdgeNode node("plant", "gw1");
    node.begin_session(1);
    EXPECT_FALSE(node.device_birth(2, "press", unit_metrics(false))) << "DBIRTH before NBIRTH";
    EXPECT_FALSE(node.device_data(2, "press", unit_metrics(true))) << "DDATA before DBIRTH";

    const auto nbirth = decode(node.node_birth(3));
    EXPECT_EQ(nbirth.seq, 0u);
    bool rebirth = false;
    for (const auto& m : nbirth.metrics) {
        EXPECT_FALSE(m.name.empty());
        EXPECT_TRUE(m.alias.has_value());
        EXPECT_NE(m.datatype, 0u);
        EXPECT_TRUE(m.value.has_value());
        if (m.name == "Node Control/Rebirth") rebirth = std::get<bool>(*m.value) == false;
    }
    EXPECT_TRUE(rebirth);

    const auto dbirth = node.device_birth(4, "press", unit_metrics(false));
    ASSERT_TRUE(dbirth);
    EXPECT_EQ(dbirth->topic, "spBv1.0/plant/DBIRTH/gw1/press");
    const auto p = decode(*dbirth);
    EXPECT_EQ(p.seq, 1u);
    ASSERT_EQ(p.metrics.size(), 2u);
    EXPECT_EQ(p.metrics[1].name, "ai/0");
    EXPECT_EQ(std::get<double>(*p.metrics[1].value), 2.5);
}

TEST(Sparkplug, DataCarriesAliasesOnlyAndAliasesAreUniqueAndStable) {
    sp::EdgeNode node("plant", "gw1");
    node.begin_session(1);
    const auto nbirth = decode(node.node_birth(2));
    const auto press = decode(*node.device_birth(3, "press", unit_metrics(false)));
    const auto oven = decode(*node.device_birth(4, "oven", unit_metrics(false)));
    std::set<std::uint64_t> aliases;
    for (const auto* p : {&nbirth, &press, &oven})
        for (const auto& m : p->metrics) EXPECT_TRUE(aliases.insert(*m.alias).second) << m.name;

    const auto data = node.device_data(5, "oven", {{"ai/0", sp::DataType::kDouble, sp::Value{3.0}}});
    ASSERT_TRUE(data);
    const auto d = decode(*data);
    ASSERT_EQ(d.metrics.size(), 1u);
    EXPECT_TRUE(d.metrics[0].name.empty());
    EXPECT_EQ(d.metrics[0].alias, oven.metrics[1].alias);
    EXPECT_FALSE(node.device_data(6, "oven", {{"ao/9", sp::DataType::kDouble, sp::Value{1.0}}}))
        << "a metric not in the birth";

    node.begin_session(7);
    node.node_birth(8);
    EXPECT_EQ(decode(*node.device_birth(9, "oven", unit_metrics(true))).metrics[1].alias,
              oven.metrics[1].alias);
}

TEST(Sparkplug, SeqCountsEveryMessageAndWraps) {
    sp::EdgeNode node("plant", "gw1");
    node.begin_session(1);
    node.node_birth(1);
    node.device_birth(1, "press", unit_metrics(false));
    std::uint64_t last = 1;
    for (int i = 0; i < 300; ++i) {
        const auto seq = decode(*node.device_data(2, "press", unit_metrics(i % 2 == 0))).seq;
        ASSERT_TRUE(seq);
        EXPECT_EQ(*seq, (last + 1) % 256);
        last = *seq;
    }
    EXPECT_EQ(*decode(*node.device_death(3, "press")).seq, (last + 1) % 256);
}

TEST(Sparkplug, DeviceDeathEndsItsDataUntilItIsBornAgain) {
    sp::EdgeNode node("plant", "gw1");
    node.begin_session(1);
    node.node_birth(1);
    node.device_birth(1, "press", unit_metrics(false));
    const auto death = node.device_death(2, "press");
    ASSERT_TRUE(death);
    EXPECT_EQ(death->topic, "spBv1.0/plant/DDEATH/gw1/press");
    EXPECT_FALSE(node.device_death(3, "press"));
    EXPECT_FALSE(node.device_data(3, "press", unit_metrics(true)));
    EXPECT_TRUE(node.device_birth(4, "press", unit_metrics(true)));
}

TEST(Sparkplug, HistoricalMetricsKeepTheirTimeAndFlag) {
    sp::EdgeNode node("plant", "gw1");
    node.begin_session(1);
    node.node_birth(1);
    node.device_birth(1, "press", unit_metrics(false));
    sp::Metric old{"di/0", sp::DataType::kBoolean, sp::Value{true}, 500, true};
    const auto m = decode(*node.device_data(900, "press", {old})).metrics.at(0);
    EXPECT_TRUE(m.historical);
    EXPECT_EQ(m.timestamp_ms, 500u);
}

TEST(Sparkplug, CommandsResolveKnownNamesAndAliasesOnly) {
    sp::EdgeNode node("plant", "gw1");
    node.begin_session(1);
    const auto nbirth = decode(node.node_birth(1));
    const auto press = decode(*node.device_birth(1, "press", unit_metrics(false)));
    const auto rebirth_alias = nbirth.metrics[1].alias.value();

    const auto by_alias = [](std::uint64_t alias, sp::DataType type, sp::Value v) {
        sp::Metric m{"", type, std::move(v)};
        m.alias = alias;
        return sp::encode_payload(1, std::nullopt, {m}, false);
    };
    struct Case {
        std::string topic;
        std::string payload;
        std::optional<sp::Command::Kind> kind;  // nullopt: refused or nothing to do
        std::string metric;
    };
    const std::vector<Case> cases{
        {"spBv1.0/plant/NCMD/gw1",
         sp::encode_payload(1, std::nullopt, {{"Node Control/Rebirth", sp::DataType::kBoolean, sp::Value{true}}}, true),
         sp::Command::Kind::kRebirth, "Node Control/Rebirth"},
        {"spBv1.0/plant/NCMD/gw1", by_alias(rebirth_alias, sp::DataType::kBoolean, sp::Value{true}),
         sp::Command::Kind::kRebirth, "Node Control/Rebirth"},
        {"spBv1.0/plant/NCMD/gw1", by_alias(rebirth_alias, sp::DataType::kBoolean, sp::Value{false}),
         std::nullopt, ""},
        {"spBv1.0/plant/DCMD/gw1/press", by_alias(*press.metrics[1].alias, sp::DataType::kDouble, sp::Value{1.25}),
         sp::Command::Kind::kWrite, "ai/0"},
        {"spBv1.0/plant/DCMD/gw1/press", by_alias(9999, sp::DataType::kDouble, sp::Value{1.0}), std::nullopt, ""},
        {"spBv1.0/plant/DCMD/gw1/press", by_alias(rebirth_alias, sp::DataType::kBoolean, sp::Value{true}),
         std::nullopt, ""},
        {"spBv1.0/plant/DCMD/gw1/oven", by_alias(*press.metrics[1].alias, sp::DataType::kDouble, sp::Value{1.0}),
         std::nullopt, ""},
        {"spBv1.0/plant/DCMD/gw2/press", by_alias(*press.metrics[1].alias, sp::DataType::kDouble, sp::Value{1.0}),
         std::nullopt, ""},
        {"spBv1.0/plant/DCMD/gw1/press", "\xff\xff\xff", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const auto commands = node.decode_command(c.topic, c.payload);
        const bool any = commands && !commands->empty();
        EXPECT_EQ(any, c.kind.has_value()) << c.topic;
        if (any && c.kind) {
            EXPECT_EQ(commands->at(0).kind, *c.kind);
            EXPECT_EQ(commands->at(0).metric, c.metric);
        }
    }
    EXPECT_EQ(node.command_subscriptions(),
              (std::vector<std::string>{"spBv1.0/plant/NCMD/gw1", "spBv1.0/plant/DCMD/gw1/+"}));
}

TEST(Sparkplug, ValuesRoundTripByDatatype) {
    const std::vector<sp::Metric> metrics{
        {"a", sp::DataType::kInt32, sp::Value{std::int64_t{-5}}},
        {"b", sp::DataType::kUInt32, sp::Value{std::uint64_t{4000000000u}}},
        {"c", sp::DataType::kInt64, sp::Value{std::int64_t{-7}}},
        {"d", sp::DataType::kUInt64, sp::Value{std::uint64_t{1} << 40}},
        {"e", sp::DataType::kBoolean, sp::Value{true}},
        {"f", sp::DataType::kString, sp::Value{std::string("online")}},
        {"g", sp::DataType::kFloat, sp::Value{0.5}},
    };
    const auto p = sp::decode_payload(sp::encode_payload(7, 3, metrics, true));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->seq, 3u);
    EXPECT_EQ(std::get<std::int64_t>(*p->metrics[0].value), -5);
    EXPECT_EQ(std::get<std::uint64_t>(*p->metrics[1].value), 4000000000u);
    EXPECT_EQ(std::get<std::int64_t>(*p->metrics[2].value), -7);
    EXPECT_EQ(std::get<std::uint64_t>(*p->metrics[3].value), std::uint64_t{1} << 40);
    EXPECT_TRUE(std::get<bool>(*p->metrics[4].value));
    EXPECT_EQ(std::get<std::string>(*p->metrics[5].value), "online");
    EXPECT_EQ(std::get<double>(*p->metrics[6].value), 0.5);
}

TEST(Sparkplug, PrimaryHostStateIgnoresStaleAndMalformedMessages) {
    using Change = sp::PrimaryHost::Change;
    EXPECT_EQ(sp::state_topic("scada"), "spBv1.0/STATE/scada");
    sp::PrimaryHost host;
    const std::vector<std::pair<std::string, Change>> steps{
        {R"({"online":true,"timestamp":100})", Change::kCameOnline},
        {R"({"online":true,"timestamp":120})", Change::kNone},
        {R"({"online":false,"timestamp":90})", Change::kNone},
        {"OFFLINE", Change::kNone},
        {R"({"online":"no","timestamp":130})", Change::kNone},
        {R"({"online":false,"timestamp":140})", Change::kWentOffline},
    };
    for (const auto& [payload, change] : steps) EXPECT_EQ(host.update(payload), change) << payload;
    EXPECT_FALSE(host.online());
}
