// Parameter memory, pulse mode, counters, output alerts, reset time and
// EEPROM seen from a raw socket client: exact replies per model, frames a
// model lacks left unanswered, counters that rise, and an EEPROM that
// outlives a module restart and round-trips through a file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "raw_client.hpp"

namespace {

using namespace simtest;
using wexosim::UnitState;


// Models: 0 basic parameter set (3 inputs), 4 full set (2 inputs), 17 ASCII
// pulse frames and EEPROM layout 1 (4 inputs), 42 output alerts and an
// analog board, 41 EEPROM layout 2, 3 none of it, 7 two settings only.
constexpr int kModels[] = {0, 4, 17, 42, 41, 3, 7};

TEST(SimPulse, RepliesOfEveryFrame) {
    std::vector<UnitConfig> units;
    for (std::size_t i = 0; i < std::size(kModels); ++i)
        units.push_back(board(kModels[i], 0, "127.0.0." + std::to_string(i + 2)));
    Simulator sim(units);
    sim.update(0, [](UnitState& s) { s.pulse.channels[2].count = 0x12345; });
    sim.update(1, [](UnitState& s) {
        s.pulse.channels[0].count = 1000;
        s.pulse.channels[1].count = 0x12345678;
    });
    sim.update(2, [](UnitState& s) { s.pulse.channels[2].count = 123456; });

    struct Row {
        int unit;
        Bytes request, reply;  // reply empty: the board drops the request
    };
    const Row rows[] = {
        // full parameter set: on/off (E4 reads 0 for on), continuous, configuration
        {1, {0xE4}, {0xE4, 0x01}},
        {1, {0xF4, 0x01}, {0xF4, 0x01}},
        {1, {0xE4}, {0xE4, 0x00}},
        {1, {0xF4, 0x03}, {}},
        {1, {0xE7}, {0xE7, 0x00}},
        {1, {0xF7, 0x01}, {0xF7, 0x01}},
        {1, {0xE7}, {0xE7, 0x01}},
        {1, {0xF6, 0x2A, 0x14}, {0xF6, 0x2A, 0x14}},  // channel 1, DOWN, a 2, b 20
        {1, {0xE6}, {0xE6, 0x2A, 0x14}},
        {1, {0xEB, 0x01}, {0xEB, 0x01, 0x1C}},
        {1, {0xEB, 0x00}, {0xEB, 0x00, 0x00}},
        {1, {0xFB, 0x08}, {0xFB, 0x08}},              // channel 0 enabled, UP
        {1, {0xE6}, {0xE6, 0x21, 0x14}},              // the first enabled channel counts
        {1, {0xF6, 0x04, 0x00}, {}},                  // channel 2 of two inputs
        {1, {0xF8, 0x03, 0x0A}, {0xF8, 0x03, 0x0A}},
        {1, {0xE8}, {0xE8, 0x03, 0x0A}},
        {1, {0xF9, 0x11, 0, 0, 0, 0, 0x0F, 0x28}, {0xF9, 0x11, 0, 0, 0, 0, 0x0F, 0x28}},
        {1, {0xE9}, {0xE9, 0x11, 0, 0, 0, 0, 0x0F, 0x28}},
        // counters: six-bit groups, and the counting channel's four nibbles
        {1, {0xE5, 0x00}, {0xE5, 0x00, 0, 0, 0, 0, 0x0F, 0x28}},
        {1, {0xE5, 0x01}, {0xE5, 0x01, 0x00, 0x12, 0x0D, 0x05, 0x19, 0x38}},
        {1, {0xE5, 0x02}, {}},
        {1, {0xF5, 0x04}, {0xF5, 0x00, 0x03, 0x0E, 0x08}},
        {1, {0xF5, 0x05}, {}},
        // settings in parameter memory
        {1, {0x90, 0x00}, {0x90, 0x00}},
        {1, {0x91, 0x3F}, {0x91, 0x3F}},
        {1, {0x90, 0x00}, {0x90, 0x3F}},
        {1, {0x95, 0x03}, {0x95, 0x03}},
        {1, {0x90, 0x04}, {0x90, 0x03}},
        {1, {0x90, 0x05}, {}},
        // basic set: no E5 E8 E9 EB F8 F9 FB; F5 flags a count above 0xFFFF
        {0, {0xE4}, {0xE4, 0x01}},
        {0, {0xE5, 0x00}, {}},
        {0, {0xE8}, {}},
        {0, {0xE9}, {}},
        {0, {0xEB, 0x00}, {}},
        {0, {0xF9, 0, 0, 0, 0, 0, 0, 0}, {}},
        {0, {0xF6, 0x03, 0x00}, {0xF6, 0x03, 0x00}},
        {0, {0xF5, 0x04}, {0xF5, 0x12, 0x03, 0x04, 0x05}},
        // a model with two settings in parameter memory, a model with none
        {6, {0x90, 0x00}, {0x90, 0x00}},
        {6, {0x93, 0x0A}, {0x93, 0x0A}},
        {6, {0x90, 0x02}, {0x90, 0x0A}},
        {6, {0x90, 0x01}, {}},
        {6, {0x92, 0x01}, {}},
        {6, {0xE4}, {}},
        {5, {0xE4}, {}},
        {5, {0x90, 0x00}, {}},
        {5, frame("PJ"), {}},
        {5, frame("MR", text("0001")), {}},
        // ASCII pulse frames
        {2, frame("PJ"), frame("pj", {0x20, 0x20})},
        {2, frame("PL", {0x2C, 0x2A}), frame("pl", {0x2C, 0x2A})},
        {2, frame("PJ"), frame("pj", {0x2C, 0x2A})},
        {2, frame("PH", {0x22}), frame("ph", {0x22, 0x20})},
        {2, frame("PC", {0x22, 0x22}), frame("pc", {0x22, 0x22})},
        {2, frame("PH", {0x22}), frame("ph", {0x22, 0x22})},
        {2, frame("PC", {0x22, 0x23}), {}},
        {2, frame("PH", {0x24}), {}},
        {2, frame("PG", {0x22}), frame("pg", Bytes{0x22} + text("0001E240"))},
        {2, frame("PP"), frame("pp", {0x20})},
        {2, frame("PS", {0x28}), frame("ps", {0x28})},
        {2, frame("PP"), frame("pp", {0x28})},
        {2, {0xE4}, {}},
        {2, frame("RSET", {0x2A}), frame("rset", {0x2A})},
        {2, frame("RSET", {0x2B}), {}},
        // EEPROM: address wraps at 4096; NG for a malformed write
        {2, frame("MW", text("04013F")), frame("mw", text("OK"))},
        {2, frame("MR", text("0401")), frame("mr", text("04013F"))},
        {2, frame("MW", text("FFF2AAbb")), frame("mw", text("OK"))},
        {2, frame("MR", text("FFF2")), frame("mr", text("FFF2AABB"))},
        {2, frame("MR", text("0000")), frame("mr", text("0000"))},
        {2, frame("MW", text("04013")), frame("mw", text("NG"))},
        {2, frame("MW", text("04G13F")), frame("mw", text("NG"))},
        {2, frame("MR", text("040")), {}},
        // output alerts (model 42 only); the sampling-rate code is EEPROM byte 73
        {3, frame("DS", {0x21, 0x21}), frame("ds", {0x21, 0x21})},
        {3, frame("DL", Bytes{0x20, 0x22, 0x20} + text("FFFF")), frame("dl", Bytes{0x20, 0x22, 0x20} + text("FFFF"))},
        {3, frame("DJ", {0x21}), frame("dj", Bytes{0x21, 0x21, 0x20, 0x20} + text("0000"))},
        {3, frame("DJ", {0x20}), frame("dj", Bytes{0x20, 0x20, 0x22, 0x20} + text("FFFF"))},
        {3, frame("DS", {0x22, 0x21}), {}},
        {3, frame("DL", Bytes{0x20, 0x22, 0x20} + text("00G0")), {}},
        {3, frame("PJ"), {}},
        {3, frame("AP", {0x25}), frame("ap", {0x25})},
        {3, frame("MR", text("0491")), frame("mr", text("049105"))},
        {4, frame("MR", text("0441")), frame("mr", text("044100"))},
        {4, frame("DJ", {0x20}), {}},
        {4, frame("RSET", {0x20}), frame("rset", {0x20})},
    };
    std::vector<std::unique_ptr<Client>> clients;
    for (int u = 0; u < sim.unit_count(); ++u)
        clients.push_back(std::make_unique<Client>(sim.ip(u), sim.port(u, Endpoint::Data)));
    // Every model answers E0 (its outputs, all off): the next thing answered
    // after a dropped request.
    const Bytes e0{0xE0}, outputs{0xE0, 0x00};
    for (const Row& r : rows) {
        Client& c = *clients[static_cast<std::size_t>(r.unit)];
        c.send(r.request + e0);
        EXPECT_EQ(c.exactly(r.reply.size() + outputs.size()), r.reply + outputs) << wexosim::to_hex(r.request);
    }

    const UnitState s1 = sim.state(1), s2 = sim.state(2), s3 = sim.state(3);
    EXPECT_EQ((std::array{s1.pulse.alert_channel, s1.pulse.alert_mode, static_cast<int>(s1.pulse.alert_value)}),
              (std::array{1, 2, 1000}));
    EXPECT_EQ((std::array{s2.pulse.on, s2.pulse.continuous, s2.pulse.channels[2].enabled, s2.pulse.channels[2].down}),
              (std::array{true, true, true, true}));
    EXPECT_EQ((std::array{s2.pulse.setting_a, s2.pulse.setting_b, s2.reset_time}), (std::array{2, 10, 10}));
    EXPECT_EQ((std::array{s2.eeprom[64], s2.eeprom[4095], s2.eeprom[0]}), (std::array<std::uint8_t, 3>{0x3F, 0xAA, 0xBB}));
    EXPECT_EQ(s3.analog.sampling_rate, 5);
    EXPECT_EQ((std::array{s3.output_alerts[0].mode, s3.output_alerts[0].value}), (std::array{2, 0xFFFF}));
}

// Injected pulses and a pulse rate raise the counts a client reads.
TEST(SimPulse, CountersRise) {
    Simulator sim({board(4), board(17, 0, "127.0.0.3")});
    auto run = [&](const std::string& line) { return wexosim::control_command(sim, line); };
    EXPECT_EQ(run("pulse 0 1"), "ok 1");
    EXPECT_EQ(run("pulse 0 1 0xFFFFFFFF"), "ok 0");  // 32 bits wrap
    EXPECT_EQ(run("pulse 0 1 63"), "ok 63");
    Client pic("127.0.0.2", sim.port(0, Endpoint::Data));
    pic.send(Bytes{0xE5, 0x01});
    EXPECT_EQ(pic.exactly(8), (Bytes{0xE5, 0x01, 0, 0, 0, 0, 0, 0x3F}));

    EXPECT_EQ(run("pulse-rate 1 3 1000"), "ok 1000");
    ASSERT_TRUE(sim.wait_state(1, [](const UnitState& s) { return s.pulse.channels[3].count >= 20; }));
    Client ascii("127.0.0.3", sim.port(1, Endpoint::Data));
    ascii.send(frame("PG", {0x23}));
    const Bytes pg = ascii.exactly(12);
    ASSERT_EQ(pg.size(), 12u);
    EXPECT_GE(std::stoul(std::string(pg.begin() + 3, pg.begin() + 11), nullptr, 16), 20u);
    EXPECT_EQ(run("pulse-rate 1 3 0"), "ok 0");
    const std::uint32_t held = sim.state(1).pulse.channels[3].count;
    EXPECT_EQ(run("pulse 1 3 2"), "ok " + std::to_string(held + 2));
    EXPECT_EQ(run("pulse-count 1 3 7"), "ok 7");
}

// The EEPROM survives a module restart and round-trips through a file, the
// control port's commands and the eeprom= unit key.
TEST(SimPulse, EepromKeptAndSaved) {
    Simulator sim({board(17)});
    auto run = [&](const std::string& line) { return wexosim::control_command(sim, line); };
    {
        Client c("127.0.0.2", sim.port(0, Endpoint::Data));
        c.send(frame("MW", text("0422A55A")));
        EXPECT_EQ(c.exactly(5), frame("mw", text("OK")));
    }
    sim.restart_module(0, wexosim::Millis{50});
    ASSERT_TRUE(sim.wait_state(0, [](const UnitState& s) { return s.restarts == 1 && !s.restarting; }));
    Client c("127.0.0.2", sim.port(0, Endpoint::Data));
    c.send(frame("MR", text("0422")));
    EXPECT_EQ(c.exactly(11), frame("mr", text("0422A55A")));

    char path[] = "/tmp/wexo-eeprom-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(run("eeprom 0 4094 01 02"), "ok 01 02");
    EXPECT_EQ(run(std::string("eeprom-save 0 ") + path), "ok");
    EXPECT_EQ(run("eeprom 0 66 00 00"), "ok 00 00");
    EXPECT_EQ(run(std::string("eeprom-load 0 ") + path), "ok");
    EXPECT_EQ(run("eeprom 0 64"), "ok 00 00 A5 5A 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(run("eeprom 0 4094"), "ok 01 02");
    EXPECT_EQ(run("eeprom 0 4095 01 02"), "error past the EEPROM's end");

    const UnitConfig loaded = wexosim::parse_unit_spec(std::string("model=17,eeprom=") + path);
    Simulator second({loaded});
    EXPECT_EQ(second.state(0).eeprom, sim.state(0).eeprom);
    std::FILE* f = std::fopen(path, "ab");
    std::fputc(0, f);
    std::fclose(f);
    EXPECT_THROW(wexosim::parse_unit_spec(std::string("eeprom=") + path), std::invalid_argument);
    EXPECT_EQ(run(std::string("eeprom-load 0 ") + path).rfind("error ", 0), 0u);
    std::remove(path);
}

TEST(SimPulse, ControlCommands) {
    Simulator sim({board(4), board(42, 0, "127.0.0.3")});
    auto run = [&](const std::string& line) { return wexosim::control_command(sim, line); };
    const std::pair<const char*, const char*> rows[] = {
        {"pulse-mode 0 1 0 3 20", "ok 1 0 3 20"},
        {"pulse-channel 0 1 1 1", "ok 1 1"},
        {"pulse-count 0 1 300", "ok 300"},
        {"pulse-alert 0 1 2 4294967295", "ok 1 2 4294967295"},
        {"parameters 0 1 2 3 4 5", "ok 1 2 3 4 5"},
        {"reset-time 0 10", "ok 10"},
        {"reset-time 0 11", "error bad value for argument 2: 11"},
        {"pulse-channel 0 16", "error bad value for channel: 16"},
        {"do-alert 1 1 1 7 1 65535", "ok 1 7 1 65535"},
        {"do-alert 1 2", "error bad value for channel: 2"},
    };
    for (auto [line, reply] : rows) EXPECT_EQ(run(line), reply) << line;
    EXPECT_NE(run("state 0").find(" pulse=1:0:3:20 pulse-ch=0:0:0:0,1:1:300:0 pulse-alert=1:2:4294967295 "
                                  "parameters=1:2:3:4:5 reset-time=10"),
              std::string::npos);
    EXPECT_NE(run("state 1").find(" do-alert=0:0:0:0,1:7:1:65535 reset-time=0"), std::string::npos);
    Client c("127.0.0.2", sim.port(0, Endpoint::Data));
    c.send(Bytes{0xE6, 0x90, 0x02});
    EXPECT_EQ(c.exactly(5), (Bytes{0xE6, 0x3A, 0x14, 0x90, 0x03}));
}

}  // namespace
