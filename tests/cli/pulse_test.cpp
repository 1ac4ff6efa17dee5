// End-to-end tests of wexo's pulse, eeprom and settings commands: what they
// print, their exit status, and the state the simulated unit ends in.
#include <fstream>
#include <iterator>

#include "cli_harness.hpp"

namespace {

using namespace cli_test;

// Model 17: ASCII pulse frames, EEPROM layout 1; 0: basic pulse set and
// parameter memory; 1 behind firmware type _L: full pulse set; 3: none of it;
// 2 behind another firmware type: the full set is out of reach.
struct PulseUnits {
    static std::vector<std::string> list() {
        return {"ip=10.200.0.2,model=17,module=on", "ip=10.200.0.3,model=0,module=on",
                "ip=10.200.0.4,model=1,module=on,firm=_L", "ip=10.200.0.5,model=3,module=on",
                "ip=10.200.0.6,model=2,module=on"};
    }
};

const std::string ascii = "10.200.0.2";
const std::string basic = "10.200.0.3";
const std::string full = "10.200.0.4";
const std::string bare = "10.200.0.5";
const std::string plain = "10.200.0.6";

struct Expect {
    std::vector<std::string> args;
    int status;
    std::string out;   // standard output, or standard error when status is not 0
};

class CliPulseTest : public SimulatorTest<PulseUnits> {
protected:
    static void expect_runs(const std::vector<Expect>& cases) {
        for (const Expect& c : cases) {
            const Result r = wexo(c.args);
            EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1] << ": " << r.err;
            EXPECT_EQ(c.status == 0 ? r.out : r.err, c.out) << c.args[0] << " " << c.args[1];
        }
    }

    static std::string file_bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(CliPulseTest, AsciiBoardConfiguresAndReportsEachChange) {
    expect_runs({{{"pulse", ascii, "--config", "1", "down", "2", "8"}, 0,
                  "configuration: counting none, a 0, b 0 -> counting DI1 DOWN, a 2, b 8\n"
                  "pulse mode  off\ncontinuous  off\nsettings    a 2, b 8 (ascii pulse set)\n"
                  "CH   COUNTING  SENSE  COUNT\nDI0  no        UP     0\nDI1  yes       DOWN   0\n"
                  "DI2  no        UP     0\nDI3  no        UP     0\n"},
                 {{"pulse", ascii, "--on", "--continuous", "on", "--channel", "2", "--enable", "on", "--down", "--json"}, 0,
                  "{\"set\":\"ascii\",\"on\":true,\"continuous\":true,\"setting_a\":2,\"setting_b\":8,\"channels\":["
                  "{\"channel\":0,\"enabled\":false,\"down\":false,\"count\":0},"
                  "{\"channel\":1,\"enabled\":true,\"down\":true,\"count\":0},"
                  "{\"channel\":2,\"enabled\":true,\"down\":true,\"count\":0},"
                  "{\"channel\":3,\"enabled\":false,\"down\":false,\"count\":0}],\"alert\":null,\"changes\":["
                  "{\"name\":\"DI2\",\"old\":\"not counting\",\"new\":\"counting DOWN\"},"
                  "{\"name\":\"continuous\",\"old\":\"off\",\"new\":\"on\"},"
                  "{\"name\":\"pulse mode\",\"old\":\"off\",\"new\":\"on\"}]}\n"},
                 {{"pulse", ascii, "--on", "--channel", "2", "--enable", "off"}, 0,
                  "DI2: counting DOWN -> not counting\npulse mode: on (unchanged)\n"
                  "pulse mode  on\ncontinuous  on\nsettings    a 2, b 8 (ascii pulse set)\n"
                  "CH   COUNTING  SENSE  COUNT\nDI0  no        UP     0\nDI1  yes       DOWN   0\n"
                  "DI2  no        UP     0\nDI3  no        UP     0\n"}});
    EXPECT_EQ(sim_->command("pulse-mode 0"), "ok 1 1 2 8");
    EXPECT_EQ(sim_->command("pulse-channel 0 1"), "ok 1 1");
    EXPECT_EQ(sim_->command("pulse-channel 0 2"), "ok 0 0");
}

TEST_F(CliPulseTest, CountsRiseWhileWatched) {
    ASSERT_EQ(sim_->command("pulse-count 0 3 0"), "ok 0");
    ASSERT_EQ(sim_->command("pulse 0 3 5"), "ok 5");
    expect_runs({{{"pulse", ascii, "count", "3"}, 0, "CH   COUNT\nDI3  5\n"}});
    CliRun watch(sim_->netns(), {"--timeout", "200", "pulse", ascii, "count", "3", "--watch", "--interval", "20", "--json"});
    const auto first = watch.line(10s);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(contains(*first, "\"channels\":[{\"channel\":3,\"count\":5}]")) << *first;
    ASSERT_EQ(sim_->command("pulse 0 3 1000"), "ok 1005");
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        const auto line = watch.line(10s);
        ASSERT_TRUE(line.has_value());
        seen = contains(*line, "{\"channel\":3,\"count\":1005}");
    }
    EXPECT_TRUE(seen);
    watch.interrupt();
    EXPECT_EQ(watch.finish().status, 0);
}

TEST_F(CliPulseTest, BasicAndFullSets) {
    ASSERT_EQ(sim_->command("pulse 1 2 7"), "ok 7");
    expect_runs({{{"pulse", basic, "--config", "2", "UP", "1", "4"}, 0,
                  "configuration: counting none, a 0, b 0 -> counting DI2 UP, a 1, b 4\n"
                  "pulse mode  off\ncontinuous  off\nsettings    a 1, b 4 (basic pulse set)\n"
                  "CH   COUNTING  SENSE  COUNT\nDI0  no        -      -\nDI1  no        -      -\n"
                  "DI2  yes       UP     7\n"},
                 {{"pulse", basic, "count", "--watch", "--count", "1"}, 0,
                  "+0 ms  DI2 7\n"},
                 {{"pulse", full, "--alert", "1", "2", "1000"}, 0,
                  "alert: DI0, mode 0, value 0 -> DI1, mode 2, value 1000\n"
                  "pulse mode  off\ncontinuous  off\nsettings    a 0, b 0 (full pulse set)\n"
                  "alert       DI1, mode 2, value 1000\n"
                  "CH   COUNTING  SENSE  COUNT\nDI0  no        UP     0\nDI1  no        UP     0\n"}});
    EXPECT_EQ(sim_->command("pulse-alert 2"), "ok 1 2 1000");
}

// What the model lacks is refused with what it has, before the request.
TEST_F(CliPulseTest, RefusalsNameWhatTheModelAllows) {
    struct Refusal {
        std::vector<std::string> args;
        int unit;
        std::string err;
    };
    for (const Refusal& r : std::vector<Refusal>{
             {{"pulse", bare}, 3,
              "wexo: unit 10.200.0.5 (model 3) has no pulse mode (models 0, 5, 6, 17, 21, 22, 25, 26; 1, 2, 4 "
              "behind firmware type _L)\n"},
             {{"pulse", plain}, 4,
              "wexo: unit 10.200.0.6 (model 2) counts pulses only behind a network module of firmware type _L, and "
              "this one is not\n"},
             {{"settings", plain, "notice-time", "1"}, 4,
              "wexo: notice-time: unit 10.200.0.6 (model 2) keeps its settings only behind a network module of "
              "firmware type _L\n"},
             {{"pulse", ascii, "--alert", "0", "1", "5"}, 0,
              "wexo: --alert: unit 10.200.0.2 (model 17) has no pulse alert (models 1, 2, 4 behind firmware type _L)\n"},
             {{"pulse", basic, "--channel", "1", "--enable", "on"}, 1,
              "wexo: --channel: unit 10.200.0.3 (model 0) has the basic pulse set: one counting channel, chosen with "
              "--config\n"},
             {{"pulse", ascii, "--config", "4", "UP", "0", "0"}, 0,
              "wexo: --config: unit 10.200.0.2 (model 17) has digital inputs 0..3\n"},
             {{"eeprom", basic, "read", "0"}, 1,
              "wexo: unit 10.200.0.3 (model 0) has no EEPROM (models 17, 21, 22, 25, 26, 40 to 44)\n"},
             {{"settings", ascii, "mail-logic", "16"}, 0,
              "wexo: mail-logic 16: unit 10.200.0.2 (model 17) takes 0x00..0x0f (4 digital inputs)\n"},
             {{"settings", bare}, 3,
              "wexo: unit 10.200.0.5 (model 3) has none of the settings disconnection-time, notice-time, "
              "resend-wait-time, di-detect-time, mail-logic, mail-enable, sampling-rate\n"},
         }) {
        clear_logs(5);
        const Result res = wexo(r.args);
        EXPECT_EQ(res.status, 1) << r.err;
        EXPECT_EQ(res.err, r.err);
        // Only the identification went to the board.
        const auto frames = sim_->frames(r.unit, "data");
        EXPECT_EQ(frames.front(), "55 55") << r.err;
        EXPECT_LE(frames.size(), 2U) << r.err;
    }
}

TEST_F(CliPulseTest, UsageErrorsSendNothing) {
    for (const auto& [args, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"pulse", ascii, "--config", "1", "UP", "0", "2"}, "wexo: --config B: 2 is not 0 or 4 to 20\n"},
             {{"pulse", ascii, "--config", "1", "SIDEWAYS", "0", "0"}, "wexo: --config: 'SIDEWAYS' is not UP or DOWN\n"},
             {{"pulse", ascii, "--on", "--off"}, "wexo: pulse: give either --on or --off\n"},
             {{"pulse", ascii, "--watch"}, "wexo: pulse: --watch, --interval and --count go with 'pulse UNIT count'\n"},
             {{"eeprom", ascii, "read", "4096"}, "wexo: ADDR: 4096 is out of range (0 to 4095)\n"},
             {{"eeprom", ascii, "write", "4095", "01", "02"},
              "wexo: eeprom write: 2 byte(s) from 0xfff do not fit in the 4096 bytes\n"},
             {{"eeprom", ascii, "restore", "/dev/null/image"}, "wexo: restore: cannot open '/dev/null/image'\n"},
             // The backup file is opened before the 4096 bytes are read.
             {{"eeprom", ascii, "backup", "/dev/null/image"},
              "wexo: backup: cannot write '/dev/null/image.part': Not a directory\n"},
             {{"settings", ascii, "speed", "1"},
              "wexo: settings: 'speed' is not one of disconnection-time, notice-time, resend-wait-time, "
              "di-detect-time, mail-logic, mail-enable, sampling-rate\n"},
             {{"settings", ascii, "resend-wait-time", "0"}, "wexo: resend-wait-time: 0 is out of range (1 to 15)\n"},
         }) {
        clear_logs(5);
        const Result r = wexo(args);
        EXPECT_EQ(r.status, 2) << err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), err);
        EXPECT_TRUE(sim_->frames(0, "udp").empty()) << err;
    }
}

TEST_F(CliPulseTest, SettingsShowRangesAndEveryChange) {
    ASSERT_EQ(sim_->command("eeprom 0 64 2700000c0a"), "ok 27 00 00 0C 0A");
    expect_runs({{{"settings", ascii}, 0,
                  "NAME                VALUE  UNIT         RANGE       STORED IN\n"
                  "disconnection-time  7      steps        0..15       EEPROM\n"
                  "notice-time         2      steps        0..4        EEPROM\n"
                  "resend-wait-time    12     steps        1..15       EEPROM\n"
                  "di-detect-time      10     steps        4..20       EEPROM\n"
                  "mail-logic          0x00   bit i = DIi  0x00..0x0f  EEPROM\n"
                  "mail-enable         0x00   bit i = DIi  0x00..0x0f  EEPROM\n"},
                 // Both times share one byte: the board's other half changes too.
                 {{"settings", ascii, "notice-time", "3"}, 0, "notice-time: 2 -> 3\ndisconnection-time: 7 -> 15\n"},
                 {{"settings", ascii, "mail-enable", "0b101", "--json"}, 0,
                  "{\"changes\":[{\"name\":\"mail-enable\",\"old\":\"0x00\",\"new\":\"0x05\"}]}\n"},
                 {{"settings", basic, "di-detect-time", "20"}, 0, "di-detect-time: 0 -> 20\n"}});
    EXPECT_EQ(sim_->command("eeprom 0 64").substr(0, 5), "ok 3F");
    EXPECT_EQ(sim_->command("eeprom 0 88").substr(0, 5), "ok 50");
    EXPECT_EQ(sim_->command("parameters 1"), "ok 0 0 20 0 0");
}

TEST_F(CliPulseTest, EepromDumpReadWrite) {
    ASSERT_EQ(sim_->command("eeprom 0 0x200 414243"), "ok 41 42 43");
    expect_runs({{{"eeprom", ascii, "dump", "0x1fe", "20"}, 0,
                  "000001fe: 0000 4142 4300 0000 0000 0000 0000 0000  ..ABC...........\n"
                  "0000020e: 0000 0000                                ....\n"},
                 {{"eeprom", ascii, "read", "0x201", "2", "--json"}, 0, "{\"address\":513,\"length\":2,\"hex\":\"4243\"}\n"},
                 {{"eeprom", ascii, "write", "0x201", "42:ff:00:01"}, 0,
                  "0x202: 43 -> ff\n0x204: 00 -> 01\n"
                  "EEPROM of unit 10.200.0.2: wrote 2 of 4 bytes (2 already matched), read back and verified\n"}});
    EXPECT_EQ(sim_->command("eeprom 0 0x200").substr(0, 17), "ok 41 42 FF 00 01");
}

// A whole image goes out to a file and comes back; only the bytes changed
// in between are written.
TEST_F(CliPulseTest, BackupAndRestoreRoundTrip) {
    const std::string image = testing::TempDir() + "wexo_eeprom_backup.bin";
    const std::string check = testing::TempDir() + "wexo_eeprom_check.bin";
    ASSERT_EQ(sim_->command("eeprom 0 0xff0 0102030405"), "ok 01 02 03 04 05");
    expect_runs({{{"eeprom", ascii, "backup", image}, 0,
                  "saved the 4096 EEPROM bytes of unit 10.200.0.2 to " + image + "\n"}});
    const std::string saved = file_bytes(image);
    ASSERT_EQ(saved.size(), 4096U);
    EXPECT_EQ(saved.substr(0xff0, 5), "\x01\x02\x03\x04\x05");

    ASSERT_EQ(sim_->command("eeprom 0 0xff1 aa"), "ok AA");
    ASSERT_EQ(sim_->command("eeprom 0 0x10 bbcc"), "ok BB CC");
    expect_runs({{{"eeprom", ascii, "restore", image}, 0,
                  "0x010: bb cc -> 00 00\n0xff1: aa -> 02\n"
                  "restored " + image + " to unit 10.200.0.2: wrote 3 of 4096 bytes (4093 already matched), "
                  "read back and verified\n"}});
    ASSERT_EQ(sim_->command("eeprom-save 0 " + check), "ok");
    EXPECT_EQ(file_bytes(check), saved);
    std::remove(image.c_str());
    std::remove(check.c_str());
}

} // namespace
