// The analog board seen from a raw socket client: every command's exact
// reply, what the model lacks left unanswered, faults on analog replies,
// waves, and the control commands.
#include <gtest/gtest.h>

#include <string>

#include "raw_client.hpp"

namespace {

using namespace simtest;
using wexosim::AnalogInput;
using wexosim::Wave;


TEST(SimAnalog, ModelTableCarriesTheAnalogColumns) {
    struct Row {
        int model, outputs, inputs, ao, ai;
        bool tc;
    };
    for (Row r : {Row{40, 2, 3, 0, 3, false}, Row{41, 0, 3, 2, 0, false}, Row{42, 2, 3, 0, 3, true},
                  Row{43, 0, 2, 3, 0, false}, Row{44, 0, 5, 0, 5, true}, Row{45, 0, 0, 0, 0, false},
                  Row{46, 0, 0, 0, 0, false}, Row{17, 4, 4, 0, 0, false}}) {
        wexosim::BoardModel m = wexosim::board_model(r.model);
        EXPECT_EQ((std::array{m.outputs, m.inputs, m.analog_outputs, m.analog_inputs}),
                  (std::array{r.outputs, r.inputs, r.ao, r.ai}))
            << r.model;
        EXPECT_EQ(m.thermocouple, r.tc) << r.model;
    }
}

// Units 0..5 are models 40..45 on 127.0.0.2..7. A row without a reply is a
// request the board drops: the identification request sent behind it must
// be the next thing answered (these models identify with the basic MI reply).
TEST(SimAnalog, RepliesOfEveryCommand) {
    std::vector<UnitConfig> units;
    for (int m = 40; m <= 45; ++m) units.push_back(board(m, 0, "127.0.0." + std::to_string(m - 38)));
    Simulator sim(units);
    sim.update(2, [](wexosim::UnitState& s) {
        s.analog.inputs[0].count = -1;
        s.analog.inputs[1].count = 8388607;
        s.analog.inputs[2].count = -8388608;
    });
    sim.set_analog_input(4, 4, 0xABCD);
    sim.set_analog_input(0, 0, 0x10);

    struct Row {
        int unit;
        Bytes request, reply;
    };
    const Row rows[] = {
        // inputs: one channel, every channel (code 7), ranges, unit-wide codes
        {2, frame("AI", {0x21}), frame("ai", Bytes{0x21} + text("7FFFFF"))},
        {2, frame("AI", {0x27}), frame("ai", Bytes{0x27} + text("FFFFFF7FFFFF800000"))},
        {4, frame("AI", {0x27}), frame("ai", Bytes{0x27} + text("00000000000000000000000000ABCD"))},
        {0, frame("AI", {0x20}), frame("ai", Bytes{0x20} + text("000010"))},
        {2, frame("AI", {0x23}), {}},         // a fourth input on a three-input model
        {1, frame("AI", {0x20}), {}},         // an output-only model
        {5, frame("AI", {0x20}), {}},         // an all-zero row
        {2, frame("AI", {0x21, 0x21}), {}},   // wrong length
        {2, frame("AR", {0x22, 0x26}), frame("ar", {0x22, 0x26})},
        {2, frame("AR", {0x22, 0x28}), {}},   // range 8
        {2, frame("AS", {0x2D}), frame("as", {0x2D})},
        {2, frame("AS", {0x2E}), {}},
        {2, frame("AP", {0x27}), frame("ap", {0x27})},
        {2, frame("AP", {0x28}), {}},
        {2, frame("AJ", {0x22}), frame("aj", {0x22, 0x26, 0x2D})},
        {2, frame("AJ", {0x20}), frame("aj", {0x20, 0x20, 0x2D})},
        {1, frame("AJ", {0x20}), {}},
        // thermocouples: not on model 40
        {2, frame("TC", {0x22, 0x21, 0x23}), frame("tc", {0x22, 0x21, 0x23})},
        {2, frame("TF", Bytes{0x22, 0x21} + text("FF3805DC")), frame("tf", Bytes{0x22, 0x21} + text("FF3805DC"))},
        {2, frame("TJ", {0x22}), frame("tj", Bytes{0x22, 0x21, 0x23, 0x21} + text("FF3805DC"))},
        {2, frame("TF", Bytes{0x22, 0x24} + text("00000000")), {}},  // mode 4
        {0, frame("TC", {0x20, 0x21, 0x23}), {}},
        {0, frame("TJ", {0x20}), {}},
        // outputs: all entries taken or none; current mode adds 8 to the channel byte
        {1, frame("AO", Bytes{0x21} + text("4000")), frame("ao", Bytes{0x21} + text("4000"))},
        {1, frame("AY", {0x21}), frame("ay", Bytes{0x21} + text("4000"))},
        {1, frame("AO", Bytes{0x29} + text("0010") + Bytes{0x20} + text("FFFF")),
         frame("ao", Bytes{0x29} + text("0010") + Bytes{0x20} + text("FFFF"))},
        {1, frame("AO", Bytes{0x20} + text("0005") + Bytes{0x22} + text("0001")), {}},  // no output 2
        {1, frame("AO", Bytes{0x20} + text("00G5")), {}},
        {1, frame("AY", {0x21}), frame("ay", Bytes{0x29} + text("0010"))},
        {1, frame("AY", {0x20}), frame("ay", Bytes{0x20} + text("FFFF"))},
        {1, frame("AQ", Bytes{0x28} + text("1234")), frame("aq", Bytes{0x28} + text("1234"))},
        {1, frame("AY", {0x20}), frame("ay", Bytes{0x20} + text("FFFF"))},  // AQ leaves the present value
        {1, frame("AY", {0x22}), {}},
        {3, frame("AY", {0x22}), frame("ay", Bytes{0x22} + text("0000"))},
        {2, frame("AY", {0x20}), {}},
        // thresholds: on inputs, or on the outputs of a model without inputs
        {2, frame("AL", Bytes{0x20, 0x2A} + text("7FFF8000")), frame("al", Bytes{0x20, 0x2A} + text("7FFF8000"))},
        {2, frame("AK", {0x20}), frame("ak", Bytes{0x20, 0x2A} + text("7FFF8000"))},
        {1, frame("AL", Bytes{0x21, 0x28} + text("0064FF9C")), frame("al", Bytes{0x21, 0x28} + text("0064FF9C"))},
        {1, frame("AK", {0x21}), frame("ak", Bytes{0x21, 0x28} + text("0064FF9C"))},
        {1, frame("AK", {0x22}), {}},
        {5, frame("AK", {0x20}), {}},
    };
    std::vector<std::unique_ptr<Client>> clients;
    for (int u = 0; u < sim.unit_count(); ++u)
        clients.push_back(std::make_unique<Client>(sim.ip(u), sim.port(u, Endpoint::Data)));
    for (const Row& r : rows) {
        const Bytes mi{'m', 'i', 0x0F, static_cast<std::uint8_t>((40 + r.unit) & 0x0F), 0xC8};
        Client& c = *clients[static_cast<std::size_t>(r.unit)];
        c.send(r.request + frame("MI", {}));
        EXPECT_EQ(c.exactly(r.reply.size() + mi.size()), r.reply + mi) << wexosim::to_hex(r.request);
    }

    const wexosim::Analog a1 = sim.state(1).analog, a2 = sim.state(2).analog;
    EXPECT_EQ((std::array{a1.outputs[0].start_value, a1.outputs[0].start_mode, a1.outputs[1].mode}),
              (std::array{0x1234, 1, 1}));
    EXPECT_EQ((std::array{a1.thresholds[1].flags, a1.thresholds[1].first, a1.thresholds[1].second}),
              (std::array{8, 100, -100}));
    EXPECT_EQ((std::array{a2.inputs[2].range, a2.inputs[2].tc_low, a2.inputs[2].tc_high, a2.sampling_rate}),
              (std::array{6, -200, 1500, 7}));
}

TEST(SimAnalog, FaultsShapeAnalogReplies) {
    Simulator sim({board(42)});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::Truncate});
    cl.send(frame("AK", {0x21}));
    const Bytes ak = frame("ak", Bytes{0x21, 0x20} + text("00000000"));
    EXPECT_EQ(cl.exactly(12), Bytes(ak.begin(), ak.end() - 1));
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::WrongEcho});
    cl.send(frame("AI", {0x20}));
    EXPECT_EQ(cl.exactly(10), frame("bi", Bytes{0x20} + text("000000")));
}

TEST(SimAnalog, WavesFollowTheClock) {
    const AnalogInput sine{.count = 100, .wave = Wave::Sine, .amplitude = 1000, .period_ms = 400};
    const AnalogInput ramp{.count = -50, .wave = Wave::Ramp, .amplitude = 100, .period_ms = 10};
    const AnalogInput high{.count = 8388000, .wave = Wave::Sine, .amplitude = 1000, .period_ms = 4};
    struct Row {
        AnalogInput in;
        int t_ms;
        std::int32_t count;
    };
    for (const Row& r : {Row{sine, 0, 100}, Row{sine, 100, 1100}, Row{sine, 300, -900}, Row{sine, 500, 1100},
                         Row{ramp, 0, -50}, Row{ramp, 5, 0}, Row{ramp, 19, 40}, Row{high, 1, 8388607},
                         Row{{.count = -8388608, .wave = Wave::Sine, .amplitude = 10, .period_ms = 0}, 7, -8388608},
                         Row{{.count = 7}, 123, 7}})
        EXPECT_EQ(wexosim::analog_count(r.in, wexosim::Millis{r.t_ms}), r.count) << r.t_ms;
}

TEST(SimAnalog, ControlCommands) {
    Simulator sim({board(42), board(41, 0, "127.0.0.3")});
    auto run = [&](const std::string& line) { return wexosim::control_command(sim, line); };
    EXPECT_EQ(run("ai 0 1 -5"), "ok -5");
    EXPECT_EQ(run("ai-wave 0 2 sine 1000 500 200"), "ok sine:1000:500:200");
    EXPECT_EQ(run("ai-range 0 2 6"), "ok 6");
    EXPECT_EQ(run("ai-timing 0 3 13"), "ok 3 13");
    EXPECT_EQ(run("tc 0 1 2 3"), "ok 2 3");
    EXPECT_EQ(run("tc-scale 0 1 1 -200 1500"), "ok 1 -200 1500");
    EXPECT_EQ(run("threshold 0 0 9 -1 100"), "ok 9 -1 100");
    EXPECT_EQ(run("ai-range 0 1 8"), "error bad value for argument 3: 8");
    EXPECT_EQ(run("ai 0 8 1"), "error bad value for channel: 8");
    EXPECT_EQ(run("ai-wave 0 0 square"), "error unknown wave: square");
    const std::string state = run("state 0");
    EXPECT_NE(state.find(" ai=0,-5,sine:1000:500:200 ai-range=0,0,6 ai-rate=3 ai-cycle=13 tc=0:0,2:3,0:0 "
                         "tc-scale=0:0:0,1:-200:1500,0:0:0 thresholds=9:-1:100,0:0:0,0:0:0"),
              std::string::npos)
        << state;

    EXPECT_EQ(run("ao 1 1 -3 1"), "ok -3 1");
    EXPECT_EQ(run("ao-start 1 0 7 0"), "ok 7 0");
    EXPECT_NE(run("state 1").find(" ao=0:0,-3:1 ao-start=7:0,0:0 thresholds=0:0:0,0:0:0"), std::string::npos);

    Client in("127.0.0.2", sim.port(0, Endpoint::Data));
    in.send(frame("AI", {0x21}));
    EXPECT_EQ(in.exactly(10), frame("ai", Bytes{0x21} + text("FFFFFB")));
    in.send(frame("AI", {0x22}));  // the sine: 200 +- 1000
    const Bytes wave = in.exactly(10);
    ASSERT_EQ(wave.size(), 10u);
    const long count = std::stol(std::string(wave.begin() + 3, wave.begin() + 9), nullptr, 16);
    EXPECT_TRUE(count <= 1200 || count >= 0x1000000 - 800) << count;
    Client out("127.0.0.3", sim.port(1, Endpoint::Data));
    out.send(frame("AY", {0x21}));
    EXPECT_EQ(out.exactly(8), frame("ay", Bytes{0x29} + text("FFFD")));
}

}  // namespace
