// End-to-end tests of what the reading commands share: CSV and watch modes,
// channel checks before sending, one exit status for a unit that does not
// answer, reconnection after a restart, the remembered identities and
// --interface by name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <fstream>
#include <sstream>

#include "cli_harness.hpp"

namespace {

using namespace cli_test;

// An ASCII board with inputs and pulse counters, an analog input board and
// a binary output board without inputs.
struct ReadingUnits {
    static std::vector<std::string> list() {
        return {"ip=10.200.0.2,model=17,id=3,module=on", "ip=10.200.0.3,model=44,id=2,module=on",
                "ip=10.200.0.4,model=3,id=1,module=on"};
    }
};

class CliReadingTest : public SimulatorTest<ReadingUnits> {};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every reading command, with and without a channel, once and watched:
// the same header, then one row per reading after the UTC time and t_ms.
TEST_F(CliReadingTest, CsvAndWatchAreTheSameOnEveryReadingCommand) {
    ASSERT_EQ(sim_->command("inputs 0 0x5"), "ok 0x5");
    ASSERT_EQ(sim_->command("pulse-count 0 3 7"), "ok 7");
    ASSERT_EQ(sim_->command("ai 1 0 4194304").substr(0, 2), "ok");
    struct Case {
        std::vector<std::string> args;
        const char* header;
        const char* fields; // after "time,t_ms,"
    };
    const Case cases[] = {
        {{"di", "10.200.0.2"}, "time,t_ms,DI0,DI1,DI2,DI3,mask", "1,0,1,0,0x05"},
        {{"di", "10.200.0.2", "2"}, "time,t_ms,DI2", "1"},
        {{"pulse", "10.200.0.2", "count", "3"}, "time,t_ms,DI3_count", "7"},
        {{"ai", "10.200.0.3", "0"}, "time,t_ms,AI0_count,AI0_value", "4194304,"},
    };
    for (const Case& c : cases) {
        for (const bool watched : {false, true}) {
            auto args = c.args;
            args.push_back("--csv");
            if (watched) args.insert(args.end(), {"--watch", "--interval", "1", "--count", "2"});
            const Result r = wexo(args);
            ASSERT_EQ(r.status, 0) << args[0] << ": " << r.err;
            const auto lines = lines_of(r.out);
            ASSERT_EQ(lines.size(), watched ? 3u : 2u) << r.out;
            EXPECT_EQ(lines[0], c.header);
            for (std::size_t i = 1; i < lines.size(); ++i) {
                // "2026-12-09T01:29:33.529Z,T,FIELDS"
                const std::string& row = lines[i];
                ASSERT_GT(row.size(), 25u) << row;
                EXPECT_EQ(row[23], 'Z') << row;
                const std::string rest = row.substr(25);
                EXPECT_EQ(rest.substr(rest.find(',') + 1).substr(0, std::strlen(c.fields)), c.fields) << row;
            }
        }
    }
    // A watch of one input starts with that input and follows it alone.
    const Result one = wexo({"di", "10.200.0.2", "2", "--watch", "--count", "1", "--json"});
    EXPECT_TRUE(contains(one.out, "\"channel\":2,\"on\":true,\"mask\":5}")) << one.out << one.err;
    EXPECT_EQ(wexo({"pulse", "10.200.0.2", "count", "--csv", "--json"}).err,
              "{\"error\":{\"status\":2,\"text\":\"pulse count: give either --csv or --json\"}}\n");
}

// One number of decimals per unit of measure, whatever the range: the
// voltage ranges 0 and 2 give the same format.
TEST_F(CliReadingTest, CsvValuesHaveOnePrecisionPerUnitOfMeasure) {
    for (const char* setup : {"ai-range 1 0 0", "ai-range 1 1 2", "ai-range 1 2 4", "ai-range 1 3 6", "ai 1 0 0",
                              "ai 1 1 4194304", "ai 1 2 0", "ai 1 3 0"})
        ASSERT_EQ(sim_->command(setup).substr(0, 2), "ok") << setup;
    const Result r = wexo({"ai", "10.200.0.3", "--csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(lines[1], ",0,0.00000000,4194304,5.00000060,0,0.000000,0,0.0000,")) << lines[1];
}

// Refused with the channels the model has, before any input or output
// request: the unit hears its identification only.
TEST_F(CliReadingTest, DigitalChannelRangeIsCheckedBeforeSending) {
    struct Case {
        std::vector<std::string> args;
        int unit;
        const char* error;
    };
    const Case cases[] = {
        {{"di", "10.200.0.2", "4"}, 0, "wexo: channel 4: unit 10.200.0.2 has digital inputs 0..3 (model 17)\n"},
        {{"do", "10.200.0.2", "9", "on"}, 0, "wexo: channel 9: unit 10.200.0.2 has digital outputs 0..3 (model 17)\n"},
        {{"do", "10.200.0.4", "--get", "5"}, 2, "wexo: channel 5: unit 10.200.0.4 has digital outputs 0..4 (model 3)\n"},
        {{"di", "10.200.0.4", "0", "--watch"}, 2, "wexo: channel 0: unit 10.200.0.4 has no digital inputs (model 3)\n"},
        {{"ai", "10.200.0.3", "5"}, 1, "wexo: channel 5: unit 10.200.0.3 has analog inputs 0..4 (model 44)\n"},
    };
    for (const Case& c : cases) {
        clear_logs(3);
        const Result r = wexo(c.args);
        EXPECT_EQ(r.status, 1) << c.error;
        EXPECT_EQ(r.err, c.error);
        for (const auto& frame : sim_->frames(c.unit, "data"))
            EXPECT_TRUE(frame == "55 55" || frame == "4D 49 C8") << c.error << ": " << frame;
    }
}

// Whether named by address, name, place in the search or MAC address, a
// unit whose data port does not answer ends with status 3.
TEST_F(CliReadingTest, AnUnreachableUnitHasOneExitStatus) {
    ASSERT_EQ(sim_->command("connect 2 data refuse"), "ok");
    const std::vector<std::string> ways[] = {{"10.200.0.4"},
                                             {"#2"},
                                             {"02:57:58:00:00:04"},
                                             {"--host", "10.200.0.4"},
                                             {"--host", "10.200.0.4", "--data-port", "10003"}};
    for (const auto& way : ways) {
        std::vector<std::string> args = {"do"};
        args.insert(args.end(), way.begin(), way.end());
        const Result r = wexo(args);
        EXPECT_EQ(r.status, 3) << way[0] << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "error 10111: system error: Connection refused")) << r.err;
    }
    ASSERT_EQ(sim_->command("connect 2 data accept"), "ok");
    // Nobody at the address at all: the same status.
    EXPECT_EQ(wexo({"do", "10.200.0.30"}).status, 3);
}

TEST_F(CliReadingTest, WatchReportsTheGapOfARestartAndReconnects) {
    ASSERT_EQ(sim_->command("inputs 0 0"), "ok 0x0");
    CliRun watch(sim_->netns(), {"--timeout", "200", "di", "10.200.0.2", "--watch", "--interval", "20", "--json"});
    const auto first = watch.line(10s);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(contains(*first, "\"mask\":0}")) << *first;
    ASSERT_EQ(sim_->command("restart 0 600"), "ok");
    ASSERT_EQ(sim_->command("wait-restart 0 1"), "ok");
    ASSERT_EQ(sim_->command("inputs 0 0x2"), "ok 0x2");
    // After the gap the state is printed whole: changes in it are unknown.
    std::optional<std::string> line;
    while ((line = watch.line(10s)) && !contains(*line, "\"mask\":2}")) {}
    ASSERT_TRUE(line.has_value());
    EXPECT_FALSE(contains(*line, "\"channel\"")) << *line;
    watch.interrupt();
    const Result ended = watch.finish();
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_TRUE(contains(ended.err, "unit 10.200.0.2 stopped answering (error ")) << ended.err;
    EXPECT_TRUE(contains(ended.err, "unit 10.200.0.2 answers again after ")) << ended.err;
}

// The first command identifies the board and remembers it by MAC; the next
// asks nothing before its own request. A board that changed is asked again.
TEST_F(CliReadingTest, RememberedIdentitySparesTheIdentification) {
    char folder[] = "/tmp/wexo-cache-test.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    auto cached = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--timeout", "200"});
        return CliRun(sim_->netns(), args, folder).finish();
    };
    auto data_frames = [&](const std::vector<std::string>& args) {
        clear_logs(3);
        const Result r = cached(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return sim_->frames(0, "data");
    };
    EXPECT_EQ(data_frames({"di", "10.200.0.2"}).front(), "55 55");
    const std::string file = std::string(folder) + "/wexo/units";
    auto cache_text = [&] {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(cache_text(), "02:57:58:00:00:02 3 17\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"di", "10.200.0.2"}, {"di", "0"}, {"di", "id=3,model=17"}})
        EXPECT_EQ(data_frames(args), std::vector<std::string>{"44 49 C8"}) << args[1];
    EXPECT_EQ(data_frames({"--no-cache", "di", "10.200.0.2"}).front(), "55 55");
    EXPECT_EQ(cached({"connect", "10.200.0.2"}).out, "connected unit 10.200.0.2: data port 10003, board ID 3, model 17; closed again\n");

    // The board is now an analog one: the remembered model refuses the
    // command, the board is asked, the cache corrected and the command run again.
    ASSERT_EQ(sim_->command("model 0 40"), "ok");
    const Result changed = cached({"ai", "10.200.0.2", "0"});
    ASSERT_EQ(sim_->command("model 0 17"), "ok");
    EXPECT_EQ(changed.status, 0) << changed.err;
    EXPECT_TRUE(contains(changed.err, "unit 10.200.0.2 is now board ID 3, model 40 (remembered: board ID 3, model 17)"))
        << changed.err;
    EXPECT_EQ(cache_text(), "02:57:58:00:00:02 3 40\n");
    std::remove(file.c_str());
    rmdir((std::string(folder) + "/wexo").c_str());
    rmdir(folder);
}

TEST_F(CliReadingTest, InterfaceByName) {
    struct Case {
        const char* interface;
        int status;
        const char* error;
    };
    for (const Case& c : {Case{"wxh", 0, ""},
                          Case{"wxu", 2, "wexo: --interface: interface 'wxu' has no IPv4 address\n"},
                          Case{"eth9", 2, "wexo: --interface: 'eth9' is neither an IPv4 address nor an interface of this host\n"}}) {
        const Result r = wexo({"--interface", c.interface, "di", "10.200.0.2"});
        EXPECT_EQ(r.status, c.status) << c.interface << ": " << r.err;
        EXPECT_EQ(r.err.substr(0, std::strlen(c.error)), c.error);
    }
}

} // namespace
