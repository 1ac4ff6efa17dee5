// End-to-end tests of the wexo command-line tool against the simulator:
// discovery, unit selection, digital I/O, serial data and failures.
#include <algorithm>
#include <cstring>

#include "cli_harness.hpp"

namespace {

using namespace cli_test;

// Three units of different models: an ASCII board (17, identified in the
// search on port 10003), a binary output board (3) and an analog board (40)
// on another data port, so the search leaves it unidentified.
struct DigitalUnits {
    static std::vector<std::string> list() {
        return {"ip=10.200.0.2,model=17,id=3,module=on", "ip=10.200.0.3,model=3,id=1,module=on",
                "ip=10.200.0.4,model=40,id=5,module=on,port=10010"};
    }
};

class CliTest : public SimulatorTest<DigitalUnits> {
protected:
    static void clear_logs() { SimulatorTest::clear_logs(3); }
};

TEST_F(CliTest, SearchListsEveryUnitAsTableAndJson) {
    const Result table = wexo({"search", "--identify"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_TRUE(contains(table.out, "IP")) << table.out;
    EXPECT_TRUE(contains(table.out, "DATA PORT")) << table.out;
    // Rows: index, IP, MAC, firmware and type, board ID, model, data port.
    EXPECT_TRUE(contains(table.out, "10.200.0.2  02:57:58:00:00:02  6.1 X6    3   17     10003")) << table.out;
    EXPECT_TRUE(contains(table.out, "10.200.0.3  02:57:58:00:00:03  6.1 X6    1   3      10003")) << table.out;
    EXPECT_TRUE(contains(table.out, "10.200.0.4  02:57:58:00:00:04  6.1 X6    5   40     10010")) << table.out;

    // The search alone identifies nobody: null.
    const Result json = wexo({"search", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_TRUE(contains(json.out, R"js({"index":0,"ip":"10.200.0.2","mac":"02:57:58:00:00:02","firmware":"6.1","firmware_type":"X6","id":null,"model":null,"data_port":10003})js"))
        << json.out;
    EXPECT_TRUE(contains(json.out, R"js("ip":"10.200.0.4","mac":"02:57:58:00:00:04","firmware":"6.1","firmware_type":"X6","id":null,"model":null,"data_port":10010})js"))
        << json.out;

    const Result identified = wexo({"search", "--identify", "--json"});
    EXPECT_TRUE(contains(identified.out, R"js("id":3,"model":17,"data_port":10003)js")) << identified.out;
    EXPECT_TRUE(contains(identified.out, R"js("id":5,"model":40,"data_port":10010)js")) << identified.out;
}

TEST_F(CliTest, InfoSelectsByIndexAddressMacAndIdModel) {
    const Result by_ip = wexo({"info", "10.200.0.3"});
    ASSERT_EQ(by_ip.status, 0) << by_ip.err;
    EXPECT_EQ(by_ip.out, "unit 10.200.0.3\n"
                         "  IP address    10.200.0.3\n"
                         "  MAC address   02:57:58:00:00:03\n"
                         "  firmware      6.1 (type X6)\n"
                         "  board ID      1\n"
                         "  model         3\n"
                         "  capabilities  5 DO, 0 DI, 0 AO, 0 AI, auto switching binary\n"
                         "  data port     10003\n"
                         "  serial        9600 baud, 8 data bits, parity none, 1 stop bit, flow control 0x00\n"
                         "  CP modes      CP1 0, CP2 2, CP3 1 (block flag 0)\n");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"info", "#1"}, {"info", "1"}, {"info", "02:57:58:00:00:03"}, {"info", "02-57-58-00-00-03"},
          {"info", "id=1,model=3"}, {"--index", "1", "info"}}) {
        const Result other = wexo(args);
        EXPECT_EQ(other.status, 0) << args.back() << ": " << other.err;
        EXPECT_TRUE(contains(other.out, "unit #1\n  IP address    10.200.0.3\n")) << args.back();
    }

    const Result json = wexo({"info", "#0", "--identify", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(contains(json.out, R"js("id":3,"model":17,"data_port":10003,"serial":{"baud":9600,"data_bits":8,"parity":0,"stop_bits":1,"flow":0})js")) << json.out;
    EXPECT_TRUE(contains(json.out, R"js("capabilities":{"digital_outputs":4,"digital_inputs":4,"auto_switching":"ascii")js")) << json.out;
}

TEST_F(CliTest, IdentifyAndConnectReportTheBoard) {
    const Result id = wexo({"identify", "10.200.0.4"});
    ASSERT_EQ(id.status, 0) << id.err;
    EXPECT_EQ(id.out, "unit 10.200.0.4: board ID 5, model 40\n");

    const Result conn = wexo({"connect", "#0", "--json"});
    ASSERT_EQ(conn.status, 0) << conn.err;
    EXPECT_EQ(conn.out, "{\"index\":0,\"connected\":true,\"data_port\":10003,\"id\":3,\"model\":17}\n");

    const Result direct = wexo({"connect", "--host", "10.200.0.3"});
    ASSERT_EQ(direct.status, 0) << direct.err;
    EXPECT_TRUE(contains(direct.out, "board ID 1, model 3")) << direct.out;
}

// Only the unit a command uses is identified, and a unit named by its
// address is asked directly, without a broadcast that all units hear.
TEST_F(CliTest, OnlyTheUnitUsedIsAsked) {
    clear_logs();
    ASSERT_EQ(wexo({"search"}).status, 0);
    for (int u = 0; u < 3; ++u) EXPECT_TRUE(sim_->frames(u, "data").empty()) << u;

    clear_logs();
    ASSERT_EQ(wexo({"connect", "1"}).status, 0);
    EXPECT_EQ(sim_->frames(1, "data"), std::vector<std::string>{"55 55"});
    EXPECT_TRUE(sim_->frames(0, "data").empty());
    EXPECT_TRUE(sim_->frames(2, "data").empty());

    clear_logs();
    const Result quiet = wexo({"info", "1", "--no-auto-id"});
    EXPECT_TRUE(contains(quiet.out, "  board ID      -\n  model         -\n")) << quiet.out;
    EXPECT_TRUE(sim_->frames(1, "data").empty());

    clear_logs();
    ASSERT_EQ(wexo({"connect", "10.200.0.3"}).status, 0);
    EXPECT_FALSE(sim_->frames(1, "udp").empty());
    EXPECT_EQ(sim_->frames(1, "data"), std::vector<std::string>{"55 55"});
    for (int u : {0, 2}) {
        EXPECT_TRUE(sim_->frames(u, "udp").empty()) << u;
        EXPECT_TRUE(sim_->frames(u, "data").empty()) << u;
    }
}

// On its data port alone a unit tells nothing of its module.
TEST_F(CliTest, DataPortUnitShowsModuleFieldsAsUnknown) {
    const std::vector<std::string> unit = {"--host", "10.200.0.3", "--data-port", "10003"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), unit.begin(), unit.end());
        return wexo(args);
    };
    const Result human = with({"info"});
    ASSERT_EQ(human.status, 0) << human.err;
    EXPECT_EQ(human.out, "unit 10.200.0.3\n"
                         "  IP address    -\n"
                         "  MAC address   -\n"
                         "  firmware      -\n"
                         "  board ID      1\n"
                         "  model         3\n"
                         "  capabilities  5 DO, 0 DI, 0 AO, 0 AI, auto switching binary\n"
                         "  data port     10003\n"
                         "  serial        -\n"
                         "  CP modes      -\n");
    EXPECT_EQ(wexo({"info", "host=10.200.0.3,port=10003"}).out, human.out);  // the same unit as one address text
    EXPECT_TRUE(contains(with({"info", "--json"}).out,
                         R"js({"index":null,"ip":null,"mac":null,"firmware":null,"firmware_type":null,"id":1,"model":3,"data_port":10003,"serial":null,"cp_modes":null,"cp_flag":null,)js"));

    clear_logs();
    const Result cp = with({"cp"});
    EXPECT_EQ(cp.status, 2);
    EXPECT_TRUE(contains(cp.err, "pin access needs the network module")) << cp.err;
    EXPECT_TRUE(sim_->frames(1, "data").empty());
}

TEST_F(CliTest, InterfaceMustBeAnAddressOfThisHost) {
    struct Case {
        const char* address;
        int status;
        const char* error;
    };
    for (const Case& c : {Case{"10.200.0.1", 0, ""},
                          Case{"192.0.2.77", 2, "wexo: --interface: this host has no interface with the address "
                                                "192.0.2.77: ZuWexoSelectNetworkDevice failed with error 10099"},
                          Case{"not-an-address", 2, "wexo: --interface: 'not-an-address' is neither an IPv4 address nor an interface of this host\n"}}) {
        const Result r = wexo({"--interface", c.address, "search"});
        EXPECT_EQ(r.status, c.status) << c.address << ": " << r.err;
        EXPECT_EQ(r.err.substr(0, std::strlen(c.error)), c.error);
        EXPECT_EQ(r.out.empty(), c.status != 0) << c.address;
    }
}

TEST_F(CliTest, OutputsRoundTripThroughTheUnit) {
    ASSERT_EQ(wexo({"do", "#0", "--all", "0"}).status, 0);
    const Result set = wexo({"do", "10.200.0.2", "2", "on"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "DO2  on\n");
    EXPECT_EQ(sim_->command("outputs 0"), "ok 0x4");

    // ASCII boards report an output that is on by its place in its group.
    EXPECT_EQ(wexo({"do", "#0", "--get", "2"}).out, "DO2  on  (value 4)\n");
    ASSERT_EQ(wexo({"do", "#0", "--all", "0b1001"}).status, 0);
    EXPECT_EQ(wexo({"do", "#0", "--json"}).out, "{\"mask\":9,\"channels\":[true,false,false,true]}\n");
    EXPECT_EQ(wexo({"do", "--host", "10.200.0.2", "--data-port", "10003"}).out,
              "DO0  on\nDO1  off\nDO2  off\nDO3  on\nmask 0x09\n");

    // Bits beyond the unit's four outputs: refused, nothing set.
    const Result wide = wexo({"do", "10.200.0.2", "--all", "0x1ff"});
    EXPECT_EQ(wide.status, 1);
    EXPECT_EQ(wide.err, "wexo: --all 0x1ff has bits above the 4 outputs of unit 10.200.0.2 (highest mask 0x0f); "
                        "nothing was set\n");
    EXPECT_EQ(sim_->command("outputs 0"), "ok 0x9");
}

TEST_F(CliTest, InputsFollowTheUnit) {
    ASSERT_EQ(sim_->command("inputs 0 0x5"), "ok 0x5");
    const Result all = wexo({"di", "#0"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.out, "DI0  on\nDI1  off\nDI2  on\nDI3  off\nmask 0x05\n");
    // One channel shows the board's own value: 4 for the third of a group.
    EXPECT_EQ(wexo({"di", "#0", "2"}).out, "DI2  on  (value 4)\n");
    EXPECT_EQ(wexo({"di", "#0", "1", "--json"}).out, "{\"channel\":1,\"on\":false,\"value\":0}\n");
}

TEST_F(CliTest, WatchPrintsEveryInputChange) {
    ASSERT_EQ(sim_->command("inputs 0 0"), "ok 0x0");
    CliRun watch(sim_->netns(), {"--no-auto-id", "--timeout", "200", "di", "#0", "--watch", "--interval", "20",
                                 "--count", "1000", "--json"});
    const auto first = watch.line(10s);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(contains(*first, "\"mask\":0}")) << *first;

    ASSERT_EQ(sim_->command("inputs 0 0x8"), "ok 0x8");
    const auto change = watch.line(10s);
    ASSERT_TRUE(change.has_value());
    EXPECT_TRUE(contains(*change, "\"channel\":3,\"on\":true,\"mask\":8}")) << *change;

    ASSERT_EQ(sim_->command("inputs 0 0"), "ok 0x0");
    const auto back = watch.line(10s);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(contains(*back, "\"channel\":3,\"on\":false,\"mask\":0}")) << *back;

    // An interrupt ends the watch cleanly.
    watch.interrupt();
    const Result ended = watch.finish();
    EXPECT_EQ(ended.status, 0) << ended.err;

    // Bounded by --count: a short run ends by itself.
    const Result bounded = wexo({"di", "#0", "--watch", "--interval", "1", "--count", "3"});
    EXPECT_EQ(bounded.status, 0) << bounded.err;
    EXPECT_TRUE(contains(bounded.out, "ms  inputs 0x00")) << bounded.out;
}

TEST_F(CliTest, SerialPassThroughDumpsTheReply) {
    // "DI" 0xC8 is an input query; the raw reply is "di", the data byte, 0xC8.
    ASSERT_EQ(sim_->command("inputs 0 0"), "ok 0x0");
    const Result r = wexo({"serial", "send", "#0", "44 49", "0xc8", "--recv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "sent 3 bytes to unit #0 (10.200.0.2)\nreceived 4 bytes:\n"
                     "0000  64 69 20 c8                                      |di .|\n");
    const Result text = wexo({"serial", "send", "#0", "--text", "DI\\xc8", "--recv", "--json"});
    EXPECT_EQ(text.out, "{\"sent\":3,\"received\":{\"count\":4,\"hex\":\"646920c8\"}}\n");
}

TEST_F(CliTest, AutoSwitchingSettersAndReadBack) {
    const Result r = wexo({"autoswitch", "#0", "--mask", "3", "--time", "1500",
                           "--channel", "1", "--first", "500", "--second", "1200", "--active", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The durations of one output win over the common time given with them.
    EXPECT_EQ(r.out, "{\"active\":true,\"mask\":3,\"time_ms\":1500,\"channels\":["
                     "{\"channel\":0,\"first_ms\":1500,\"second_ms\":1500},"
                     "{\"channel\":1,\"first_ms\":500,\"second_ms\":1200},"
                     "{\"channel\":2,\"first_ms\":1500,\"second_ms\":1500},"
                     "{\"channel\":3,\"first_ms\":1500,\"second_ms\":1500}]}\n");
    const Result human = wexo({"autoswitch", "#0", "--active", "off"});
    EXPECT_EQ(human.out, "active  off\nmask    0x03\ntime    1500 ms\nDO0     1500 ms / 1500 ms\n"
                         "DO1     500 ms / 1200 ms\nDO2     1500 ms / 1500 ms\nDO3     1500 ms / 1500 ms\n");
    // Binary boards have one time for all outputs and no per-output durations.
    const Result binary = wexo({"autoswitch", "#1", "--time", "200", "--json"});
    EXPECT_EQ(binary.out, "{\"active\":false,\"mask\":0,\"time_ms\":200,\"channels\":[]}\n") << binary.err;
}

// A time the board cannot hold is refused before anything is set; the
// library would round it (50 ms to 0 steps) and report success.
TEST_F(CliTest, AutoSwitchingRefusesTimesTheBoardCannotHold) {
    const std::string ascii = " ms is not a time unit #0 (10.200.0.2) can hold (100 to 25500 ms in steps of 100 ms; nearest ";
    const std::string binary = " ms is not a time unit #1 (10.200.0.3) can hold (100 to 2000 ms in steps of 100 ms, "
                               "3000 to 15000 ms in steps of 1000 ms; nearest ";
    for (const auto& [args, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"autoswitch", "#0", "--time", "50"}, "--time 50" + ascii + "100)"},
             {{"autoswitch", "#0", "--time", "150"}, "--time 150" + ascii + "100 or 200)"},
             {{"autoswitch", "#0", "--time", "25600"}, "--time 25600" + ascii + "25500)"},
             {{"autoswitch", "#0", "--channel", "1", "--first", "500", "--second", "250"}, "--second 250" + ascii + "200 or 300)"},
             {{"autoswitch", "#1", "--time", "2500", "--active", "1"}, "--time 2500" + binary + "2000 or 3000)"},
         }) {
        clear_logs();
        const Result r = wexo(args);
        EXPECT_EQ(r.status, 2) << err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "wexo: autoswitch: " + err + "; nothing was set");
        const int unit = args[1] == "#0" ? 0 : 1;
        for (const auto& frame : sim_->frames(unit, "data"))  // identification only
            EXPECT_TRUE(frame == "55 55" || frame.rfind("4D 49", 0) == 0) << err << ": " << frame;
    }
}

TEST_F(CliTest, ConfigurablePinsReadAndSet) {
    ASSERT_EQ(wexo({"cp", "#1", "on", "0", "1"}).status, 0);
    EXPECT_EQ(sim_->command("pins 1"), "ok 0x5");
    EXPECT_EQ(wexo({"cp", "#1", "--json"}).out, "{\"cp\":[1,0,1]}\n");
}

TEST_F(CliTest, FailuresGiveCodeMessageAndExitStatus) {
    // Absent unit: status 3.
    const Result absent = wexo({"info", "#7"});
    EXPECT_EQ(absent.status, 3);
    EXPECT_EQ(absent.err, "wexo: no unit #7: the search found 3\n");
    // An address no unit holds: its module never answers.
    EXPECT_EQ(wexo({"info", "10.200.0.99"}).status, 3);

    // The library refuses: status 1 with code and its English text; the
    // library's own (Japanese) message on request. A unit whose data port
    // refuses the connection does not answer: status 3.
    const std::string english = "operation not possible: not offered by this model, or a value out of range";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;  // how standard error ends
    };
    for (const Case& c : std::vector<Case>{
             {{"di", "#1"}, 1, "ZuWexoInPioAll failed with error 6: " + english + "\n"},
             {{"di", "#1", "--japanese"}, 1, "ZuWexoInPioAll failed with error 6: 指定された操作は実行できません。 (" + english + ")\n"},
             {{"di", "#1", "--json"}, 1,
              R"js({"error":{"status":1,"text":"cannot read the inputs of unit #1 (10.200.0.3)","call":"ZuWexoInPioAll","code":6,"message":")js" +
                  english + R"js(","japanese":"指定された操作は実行できません。"}})js" + "\n"},
             // A channel the model lacks is refused before anything is sent.
             {{"do", "#0", "9", "on", "--json"}, 1,
              R"js({"error":{"status":1,"text":"channel 9: unit #0 (10.200.0.2) has digital outputs 0..3 (model 17)"}})js" "\n"},
             {{"connect", "--host", "10.200.0.20", "--data-port", "10003"}, 3,
              "ZuWexoConnectDirect2 failed with error 10111: system error: Connection refused\n"},
         }) {
        const Result r = wexo(c.args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.size() >= c.err.size() && r.err.compare(r.err.size() - c.err.size(), c.err.size(), c.err) == 0)
            << r.err;
    }
    // A name that does not resolve says so; nothing is sent.
    const Result unresolved = wexo({"info", "--host", "no-such-unit.invalid"});
    EXPECT_EQ(unresolved.status, 3);
    EXPECT_TRUE(contains(unresolved.err, "wexo: cannot resolve 'no-such-unit.invalid' to an IPv4 address: "))
        << unresolved.err;

    // Usage errors: status 2, before any network traffic.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"frobnicate"}, {"di"}, {"do", "#0", "1"}, {"di", "#0", "--all", "1"},
          {"do", "#0", "--get", "x"}, {"info", "not-a-unit"}}) {
        const Result usage = wexo(args);
        EXPECT_EQ(usage.status, 2) << args[0];
        EXPECT_TRUE(contains(usage.err, "Try 'wexo --help'")) << usage.err;
    }
    EXPECT_TRUE(contains(wexo({"info", "not-a-unit"}).err, "(use N or '#N', an IPv4 address")) << "hint";
}

TEST_F(CliTest, NoUnitAnsweringIsNotFound) {
    for (int u = 0; u < 3; ++u) ASSERT_EQ(sim_->command("discovery " + std::to_string(u) + " off").substr(0, 2), "ok");
    const Result r = wexo({"search", "--json"});
    for (int u = 0; u < 3; ++u) sim_->command("discovery " + std::to_string(u) + " on");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "[]\n");
    EXPECT_TRUE(contains(r.err, R"js("call":"ZuWexoSearch","code":2,"message":"the search found no unit","japanese":"検索した結果、WEXOが発見できませんでした。")js")) << r.err;
}

// With --json standard output holds the JSON alone; the library's log lines
// go to standard error.
TEST_F(CliTest, JsonKeepsLibraryLogLinesOffStandardOutput) {
    const Result r = wexo({"--json", "--log-level", "3", "di", "#0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"mask\":", 0), 0U) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_TRUE(contains(r.err, "ZuWexoSearch")) << r.err;
}

TEST(CliHelp, EveryCommandDocumentsItself) {
    const Result overview = CliRun(-1, {"--help"}).finish();
    ASSERT_EQ(overview.status, 0);
    for (const char* command : {"search", "info", "identify", "connect", "serial send", "serial recv", "di",
                                "do", "cp", "autoswitch", "ai", "ao", "tc", "threshold"}) {
        EXPECT_TRUE(contains(overview.out, std::string("  ") + command)) << command;
        std::vector<std::string> args;
        std::string word;
        for (const char* c = command;; ++c) {
            if (*c == ' ' || *c == '\0') {
                args.push_back(word);
                word.clear();
                if (*c == '\0') break;
            } else {
                word += *c;
            }
        }
        args.push_back("--help");
        const Result help = CliRun(-1, args).finish();
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_TRUE(contains(help.out, std::string("Usage: wexo ") + command)) << help.out;
    }
}

// Help and version say what applies, and name what they show.
TEST(CliHelp, HelpShowsWhatAppliesAndVersionNamesItsFields) {
    struct Case {
        std::vector<std::string> args;
        std::string present;
        std::string absent;
    };
    for (const Case& c : std::vector<Case>{
             {{"help", "help"}, "Usage: wexo help [COMMAND]\n", "unknown command"},
             {{"--help"}, "\n  ao UNIT CH VALUE [OPTIONS]  ", "\n  ao UNIT [CH]  "},
             // A shared option shows the command's own text only.
             {{"pulse", "--help"}, "  --channel N          input whose counting --enable sets\n", "autoswitch:"},
             {{"autoswitch", "--help"}, "  --channel N   output whose durations --first and --second set\n", "pulse:"},
             {{"di", "--help"}, "print every change\n", "--no-auto-id"},
             {{"autoswitch", "--help"}, "in steps of 100 ms", ""},
             {{"--json", "version"}, ",\"library\":\"1.3.0\",\"library_number\":130}\n", ""},
         }) {
        const Result r = CliRun(-1, c.args).finish();
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_TRUE(contains(r.out, c.present)) << c.present << " in " << r.out;
        EXPECT_TRUE(c.absent.empty() || !contains(r.out + r.err, c.absent)) << c.absent << " in " << r.out;
    }
}

} // namespace
