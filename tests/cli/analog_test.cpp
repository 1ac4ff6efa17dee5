// End-to-end tests of wexo's analog commands (ai, ao, tc, threshold): what
// they print, their exit status, and the state the simulated unit ends in.
#include <algorithm>

#include "cli_harness.hpp"

namespace {

using namespace cli_test;

// Model 42: three inputs with thermocouples; 41: two outputs; 40: three
// inputs without thermocouples or range 6.
struct AnalogUnits {
    static std::vector<std::string> list() {
        return {"ip=10.200.0.2,model=42,id=1,module=on", "ip=10.200.0.3,model=41,id=2,module=on",
                "ip=10.200.0.4,model=40,id=3,module=on"};
    }
};

const std::string inputs = "10.200.0.2";
const std::string outputs = "10.200.0.3";
const std::string no_tc = "10.200.0.4";

struct Case {
    std::vector<std::string> args;
    std::string control;  // simulator command that shows the state afterwards
    std::string state;    // its answer
};

class CliAnalogTest : public SimulatorTest<AnalogUnits> {
protected:
    // Runs each case and checks that it succeeds and leaves the unit so.
    static void expect_states(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            const Result r = wexo(c.args);
            EXPECT_EQ(r.status, 0) << c.args[2] << ": " << r.err;
            EXPECT_EQ(sim_->command(c.control), c.state) << c.control;
        }
    }
};

TEST_F(CliAnalogTest, InputsShowCountsValuesRangesAndCycle) {
    for (const char* cmd : {"ai 0 0 4194304", "ai 0 1 -8388608", "ai 0 2 0", "ai-range 0 0 2", "ai-range 0 1 3",
                            "ai-range 0 2 0", "ai-timing 0 0 5"})
        ASSERT_EQ(sim_->command(cmd).substr(0, 2), "ok") << cmd;
    const Result table = wexo({"ai", inputs});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out, "CH   RANGE  FULL SCALE  COUNT     VALUE\n"
                         "AI0  2      10          4194304   5.000001\n"
                         "AI1  3      30          -8388608  -30.000000\n"
                         "AI2  0      0.1         0         0.00000000\n"
                         "transmit cycle  code 5\n");
    EXPECT_EQ(wexo({"ai", inputs, "1", "--json"}).out,
              "{\"channels\":[{\"channel\":1,\"range\":3,\"count\":-8388608,\"value\":-30}],\"transmit_cycle\":5}\n");

    const Result csv = wexo({"ai", inputs, "0", "--csv"});
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')), "time,t_ms,AI0_count,AI0_value");
    const std::string row = csv.out.substr(csv.out.find('\n') + 1);
    EXPECT_EQ(row.size(), std::string("2026-12-08T15:50:01.123Z,0,4194304,5.00000060\n").size()) << row;
    EXPECT_EQ(row.substr(10, 1) + row.substr(23), "TZ,0,4194304,5.00000060\n") << row;
}

TEST_F(CliAnalogTest, InputSettingsReachTheUnit) {
    expect_states({{{"ai", inputs, "1", "--range", "4"}, "ai-range 0 1", "ok 4"},
                   {{"ai", inputs, "--sps", "6", "--cycle", "13"}, "ai-timing 0", "ok 6 13"},
                   {{"ai", inputs, "2", "--range", "6"}, "ai-range 0 2", "ok 6"}});
}

TEST_F(CliAnalogTest, WatchFollowsTheInputAndEndsCleanly) {
    ASSERT_EQ(sim_->command("ai 0 2 1000"), "ok 1000");
    CliRun watch(sim_->netns(), {"--timeout", "200", "ai", inputs, "2", "--watch", "--interval", "20", "--json"});
    const auto first = watch.line(10s);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(contains(*first, "\"channel\":2,")) << *first;
    EXPECT_TRUE(contains(*first, "\"count\":1000,")) << *first;

    ASSERT_EQ(sim_->command("ai 0 2 -2000"), "ok -2000");
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        const auto line = watch.line(10s);
        ASSERT_TRUE(line.has_value());
        seen = contains(*line, "\"count\":-2000,");
    }
    EXPECT_TRUE(seen);
    watch.interrupt();
    EXPECT_EQ(watch.finish().status, 0);

    // A CSV log: the header, then one line per reading.
    const Result log = wexo({"ai", inputs, "--watch", "--interval", "1", "--count", "3", "--csv"});
    ASSERT_EQ(log.status, 0) << log.err;
    EXPECT_EQ(std::count(log.out.begin(), log.out.end(), '\n'), 4) << log.out;
    EXPECT_TRUE(contains(log.out, ",AI2_count,AI2_value\n")) << log.out;
}

TEST_F(CliAnalogTest, OutputsSetInEveryModeAndReadBack) {
    const Result volts = wexo({"ao", outputs, "1", "5"});
    ASSERT_EQ(volts.status, 0) << volts.err;
    EXPECT_EQ(volts.out, "CH   MODE     VALUE     RAW\nAO1  voltage  5.0002 V  16384\n");
    const Result initial = wexo({"ao", outputs, "1", "-5", "--initial", "--json"});
    EXPECT_EQ(initial.out, "{\"initial\":{\"channel\":1,\"mode\":\"voltage\",\"value\":-5,\"unit\":\"V\"},"
                           "\"channels\":[{\"channel\":1,\"mode\":\"voltage\",\"value\":5.00015259254738,"
                           "\"unit\":\"V\",\"raw\":16384}]}\n");
    expect_states({{{"ao", outputs, "0", "10", "--mode", "ma"}, "ao 1 0", "ok 16384 1"},
                   // Counts keep the output's present mode.
                   {{"ao", outputs, "0", "100", "--mode", "counts"}, "ao 1 0", "ok 100 1"},
                   {{"ao", outputs, "1", "-5", "--initial"}, "ao-start 1 1", "ok -16384 0"},
                   {{"ao", outputs, "1", "-32768", "--mode", "counts"}, "ao 1 1", "ok -32768 0"}});
    EXPECT_EQ(wexo({"ao", outputs}).out, "CH   MODE     VALUE       RAW\n"
                                         "AO0  current  0.0610 mA   100\n"
                                         "AO1  voltage  -10.0000 V  -32768\n");
}

TEST_F(CliAnalogTest, ThermocoupleSettingsKeepWhatIsNotGiven) {
    expect_states({{{"tc", inputs, "1", "--type", "5", "--flags", "0b011"}, "tc 0 1", "ok 5 3"},
                   {{"tc", inputs, "1", "--flags", "4"}, "tc 0 1", "ok 5 4"},
                   // Rounded to the tenth the unit holds, not truncated.
                   {{"tc", inputs, "1", "--scale-mode", "2", "--scale-low", "-20.26", "--scale-high", "150.3"},
                    "tc-scale 0 1", "ok 2 -203 1503"},
                   {{"tc", inputs, "1", "--scale-high", "3276.7"}, "tc-scale 0 1", "ok 2 -203 32767"}});
    EXPECT_EQ(wexo({"tc", inputs, "1", "--json"}).out,
              "{\"channels\":[{\"channel\":1,\"type\":5,\"flags\":[0,0,1],\"scale_mode\":2,\"scale_low\":-20.3,"
              "\"scale_high\":3276.7}]}\n");
}

TEST_F(CliAnalogTest, ThresholdsOnInputsAndOutputs) {
    // Flags nibble: bit 3 enabled, bits 0..1 the mail condition.
    expect_states({{{"threshold", inputs, "2", "--enable", "on", "--t1", "1000", "--t2", "-2000"},
                    "threshold 0 2", "ok 8 1000 -2000"},
                   {{"threshold", inputs, "2", "--mail", "2"}, "threshold 0 2", "ok 10 1000 -2000"},
                   {{"threshold", inputs, "2", "--t1", "-1"}, "threshold 0 2", "ok 10 -1 -2000"},
                   {{"threshold", outputs, "1", "--enable", "1", "--t2", "5"}, "threshold 1 1", "ok 8 0 5"}});
    EXPECT_EQ(wexo({"threshold", inputs, "2"}).out,
              "CH   ENABLED  THRESHOLD 1  THRESHOLD 2  MAIL\nAI2  on       -1           -2000        2\n");
    EXPECT_EQ(wexo({"threshold", outputs, "1", "--json"}).out,
              "{\"analog\":\"outputs\",\"channels\":[{\"channel\":1,\"enabled\":true,\"threshold1\":0,"
              "\"threshold2\":5,\"mail_condition\":null}]}\n");
}

// What the model lacks is refused with what it has, before any analog
// request reaches the unit.
TEST_F(CliAnalogTest, RefusalsNameWhatTheModelHas) {
    struct Refusal {
        std::vector<std::string> args;
        int unit;
        std::string err;
    };
    for (const Refusal& r : std::vector<Refusal>{
             {{"ai", inputs, "3"}, 0, "wexo: channel 3: unit 10.200.0.2 has analog inputs 0..2 (model 42)\n"},
             {{"ao", outputs, "2", "1"}, 1, "wexo: channel 2: unit 10.200.0.3 has analog outputs 0..1 (model 41)\n"},
             {{"ao", inputs}, 0, "wexo: unit 10.200.0.2 (model 42) has no analog outputs\n"},
             {{"ai", outputs}, 1, "wexo: unit 10.200.0.3 (model 41) has no analog inputs\n"},
             {{"ai", no_tc, "0", "--range", "6"}, 2, "wexo: --range 6: unit 10.200.0.4 (model 40) takes input ranges 0..5\n"},
             {{"tc", no_tc}, 2, "wexo: unit 10.200.0.4 (model 40) has no thermocouple inputs\n"},
             {{"threshold", outputs, "0", "--mail", "1"}, 1,
              "wexo: --mail: unit 10.200.0.3 (model 41) has no analog inputs; mail conditions belong to analog inputs\n"},
         }) {
        clear_logs(3);
        const Result res = wexo(r.args);
        EXPECT_EQ(res.status, 1) << r.err;
        EXPECT_EQ(res.err, r.err);
        // Only the identification: the binary request, then the ASCII one.
        EXPECT_EQ(sim_->frames(r.unit, "data"), (std::vector<std::string>{"55 55", "4D 49 C8"})) << r.err;
    }
    // A current output takes no negative counts; it keeps its value.
    ASSERT_EQ(sim_->command("ao 1 0 7 1"), "ok 7 1");
    EXPECT_EQ(wexo({"ao", outputs, "0", "-1", "--mode", "counts"}).status, 1);
    EXPECT_EQ(sim_->command("ao 1 0"), "ok 7 1");
}

TEST_F(CliAnalogTest, UsageErrorsSendNothing) {
    for (const auto& [args, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"ao", outputs, "0", "10.5"}, "wexo: ao VALUE in V: 10.5 is out of range (-10 to 10)\n"},
             {{"ao", outputs, "0", "-1", "--mode", "ma"}, "wexo: ao VALUE in mA: -1 is out of range (0 to 20)\n"},
             {{"ao", outputs, "0", "1.5", "--mode", "counts"}, "wexo: ao VALUE in counts: '1.5' is not a number\n"},
             {{"ao", outputs, "0", "1", "--mode", "amps"}, "wexo: --mode: 'amps' is not volts, ma or counts\n"},
             {{"ao", outputs, "--initial"}, "wexo: ao: --initial needs CH VALUE\n"},
             {{"ai", inputs, "--range", "2"}, "wexo: ai: --range needs CH\n"},
             {{"ai", inputs, "--csv", "--json"}, "{\"error\":{\"status\":2,\"text\":\"ai: give either --csv or --json\"}}\n"},
             {{"ai", inputs, "--sps", "8"}, "wexo: --sps: 8 is out of range (0 to 7)\n"},
             {{"tc", inputs, "0", "--scale-low", "-3276.9"}, "wexo: --scale-low: -3276.9 is out of range (-3276.8 to 3276.7)\n"},
             {{"threshold", inputs, "0", "--t1", "32768"}, "wexo: --t1: 32768 is out of range (-32768 to 32767)\n"},
         }) {
        clear_logs(3);
        const Result r = wexo(args);
        EXPECT_EQ(r.status, 2) << err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), err);
        for (int u = 0; u < 3; ++u) EXPECT_TRUE(sim_->frames(u, "udp").empty()) << err;
    }
}

} // namespace
