// The gateway's pure parts: configuration checks, command payloads and
// topics, result payloads, the outage queue's bounds and its file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "config.hpp"
#include "json_topics.hpp"
#include "outage_queue.hpp"

namespace {

using namespace wexo::gateway;

const std::string kHead = "[gateway]\nsite = \"plant\"\nname = \"gw1\"\n";

TEST(GatewayConfig, TheIssueExampleAndItsDefaults) {
    const Config c = parse_config(kHead + "poll_ms = 100\n[mqtt]\nurl = \"mqtt://127.0.0.1:1883\"\nprefix = \"wexo\"\n"
                                          "[[unit]]\nname = \"press\"\nhost = \"10.200.0.2\"\nmodel = 6\nwritable = [\"do/0\"]\n",
                                  "g.toml");
    EXPECT_EQ(c.base_topic(), "wexo/plant/gw1");
    EXPECT_EQ(c.mqtt.host, "127.0.0.1");
    EXPECT_EQ(c.mqtt.port, 1883);
    EXPECT_EQ(c.mqtt.client_id, "wexo-gateway-plant-gw1");
    ASSERT_EQ(c.units.size(), 1u);
    EXPECT_EQ(c.units[0].model, 6);
    EXPECT_EQ(c.units[0].writable, (std::vector<OutputRef>{{Kind::kDO, 0}}));
    EXPECT_FALSE(c.search);  // every unit named by host
    EXPECT_TRUE(parse_config(kHead, "g.toml").search);  // no unit named: search

    // One address text names a unit as the keys do.
    const Config a = parse_config(kHead + "[[unit]]\naddress = \"host=10.200.0.7,port=10003,model=17\"\n"
                                          "[[unit]]\naddress = \"02-57-58-01-02-0A\"\nmodel = 17\n",
                                  "g.toml");
    ASSERT_EQ(a.units.size(), 2u);
    EXPECT_EQ(a.units[0].host, "10.200.0.7");
    EXPECT_EQ(a.units[0].port, 10003);
    EXPECT_EQ(a.units[0].address.to_string(), "host=10.200.0.7,port=10003,model=17");
    EXPECT_EQ(a.units[1].mac, "02:57:58:01:02:0a");
    EXPECT_EQ(a.units[1].model, 17);
    EXPECT_EQ(a.units[1].address.to_string(), "02:57:58:01:02:0a");
}

TEST(GatewayConfig, FaultsNameTheirLine) {
    const struct {
        std::string text, message;
    } cases[] = {
        {kHead + "poll_ms = \"fast\"\n", "g.toml:4: gateway.poll_ms must be an integer"},
        {kHead + "pol_ms = 100\n", "g.toml:4: unknown key \"pol_ms\" in [gateway]"},
        {kHead + "[mqtt]\nurl = \"http://x\"\n", "g.toml:5: mqtt.url must start with mqtt:// or mqtts://"},
        {kHead + "[mqtt]\nurl = \"mqtts://h:8883\"\n", "g.toml:5: mqtts:// needs mqtt.ca_file"},
        {kHead + "[[unit]]\nhost = \"h\"\nwritable = [\"di/0\"]\n", "g.toml:6: unit #1.writable: outputs are written"},
        {kHead + "[[unit]]\nhost = \"h\"\nmac = \"02:00:00:00:00:01\"\n", "g.toml:4: a [[unit]] is named by exactly one"},
        {kHead + "[[unit]]\nid = 3\n", "g.toml:5: a unit named by id needs its model"},
        {kHead + "[[unit]]\naddress = \"#3\"\n", "g.toml:5: unit #1.address: a place in a search changes"},
        {kHead + "[[unit]]\naddress = \"h\"\n", "g.toml:5: unit #1.address: \"h\" is not a unit address"},
        {kHead + "[[unit]]\nhost = \"h\"\nsafe = { \"do/0\" = 1 }\n", "g.toml:6: safe value of do/0, which is not in writable"},
        {kHead + "x = [\n", "g.toml:4: Error while parsing array"},
        {"[gateway]\nname = \"gw1\"\n", "g.toml:1: gateway.site is required"},
    };
    for (const auto& c : cases) {
        try {
            parse_config(c.text, "g.toml");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ConfigError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
        }
    }
}

TEST(GatewayPayloads, WritesTopicsAndResults) {
    using S = WriteRequest::Scale;
    const struct {
        Kind kind;
        const char* payload;
        double value;
        S scale;  // kState with value -1: refused
    } cases[] = {
        {Kind::kDO, "1", 1, S::kState},          {Kind::kDO, "false", 0, S::kState},
        {Kind::kDO, "{\"value\":1}", 1, S::kState}, {Kind::kDO, "{\"value\":1,\"unit\":\"V\"}", -1, S::kState},
        {Kind::kAO, "{\"value\":2.5,\"unit\":\"V\"}", 2.5, S::kVolts},
        {Kind::kAO, "{\"value\":4,\"unit\":\"mA\"}", 4, S::kMilliamps},
        {Kind::kAO, "16384", 16384, S::kCounts}, {Kind::kAO, "true", -1, S::kState},
        {Kind::kAO, "{\"value\":1,\"unit\":\"K\"}", -1, S::kState}, {Kind::kDO, "on", -1, S::kState},
    };
    for (const auto& c : cases) {
        const ParsedWrite p = parse_write_payload(c.kind, c.payload);
        if (c.value == -1) {
            EXPECT_TRUE(std::holds_alternative<std::string>(p)) << c.payload;
        } else {
            ASSERT_FALSE(std::holds_alternative<std::string>(p)) << c.payload << ": " << std::get<std::string>(p);
            EXPECT_EQ(std::get<0>(p), std::make_pair(c.value, c.scale)) << c.payload;
        }
    }
    const auto t = parse_command_topic("wexo/plant/gw1", "wexo/plant/gw1/press/ao/1/set");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->unit, "press");
    EXPECT_EQ(t->output, (OutputRef{Kind::kAO, 1}));
    EXPECT_FALSE(parse_command_topic("wexo/plant/gw1", "wexo/plant/gw1/press/di/1/set"));
    EXPECT_FALSE(parse_command_topic("wexo/plant/gw1", "wexo/plant/gw1/press/do/1"));

    Sample s{2.5, 16384, "V", Clock::time_point(std::chrono::milliseconds(1767323045678))};
    EXPECT_EQ(value_payload(s), R"({"raw":16384,"ts":"2026-01-02T03:04:05.678Z","unit":"V","value":2.5})");
    EXPECT_EQ(result_payload({false, 6, "do/1 of press is not writable", std::nullopt}),
              R"({"code":6,"message":"do/1 of press is not writable","ok":false})");
    EXPECT_EQ(result_payload({true, 0, "", Sample{1, std::nullopt, "", s.ts}}),
              R"({"ok":true,"ts":"2026-01-02T03:04:05.678Z","value":1})");
}

TEST(GatewayOutageQueue, BoundsDropPolicyAndFile) {
    char dir[] = "/tmp/wexo-queue-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/q";
    {
        OutageQueue q(path, 4096, 3600, true);
        for (int i = 0; i < 100; ++i) q.push(std::string(100, static_cast<char>('a' + i % 26)) + std::to_string(i));
        const auto s = q.stats();
        EXPECT_LE(s.bytes, 4096);
        EXPECT_EQ(s.entries + s.dropped, 100u);
        EXPECT_EQ(q.front()->record.substr(100), std::to_string(s.dropped));  // the oldest went first
        q.pop();
    }
    {
        // Another run finds what was left, in order; a torn last entry is ignored.
        std::FILE* f = std::fopen(path.c_str(), "ab");
        std::fputs("torn", f);
        std::fclose(f);
        OutageQueue q(path, 4096, 3600, false);
        const auto s = q.stats();
        EXPECT_GT(s.entries, 10u);
        EXPECT_EQ(q.front()->record.substr(100), std::to_string(100 - s.entries));
        q.push(std::string(4096, 'x'));  // "newest": the new entry is refused
        EXPECT_EQ(q.stats().dropped, 1u);
        while (!q.empty()) q.pop();
    }
    OutageQueue q(path, 4096, 3600, true);
    EXPECT_TRUE(q.empty());
    std::remove(path.c_str());
    rmdir(dir);
}

}  // namespace
