// End-to-end tests of `wexo net` and `wexo fw` against the simulator: module
// settings as the simulator's state shows them, restarts, factory defaults,
// and firmware images as the simulated loader stores them.
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "cli_harness.hpp"

namespace {

using namespace cli_test;

// A board with the firmware loader (model 5) and one without (17); both
// modules restart in 50 ms and serve the pin-mode and setup ports.
struct ModuleUnits {
    static std::vector<std::string> list() {
        return {"ip=10.200.0.2,model=5,id=1,module=on,setup=on,pinmode=on,restart=50",
                "ip=10.200.0.3,model=17,id=3,module=on,setup=on,pinmode=on,restart=50"};
    }
};

class NetTest : public SimulatorTest<ModuleUnits> {
protected:
    static std::string state(int u) { return sim_->command("state " + std::to_string(u)); }
    static int restarts(int u) {
        const std::string s = state(u);
        return std::stoi(s.substr(s.find(" restarts=") + 10));
    }
};

TEST_F(NetTest, ShowsTheModuleSettings) {
    const Result human = wexo({"net", "10.200.0.2"});
    ASSERT_EQ(human.status, 0) << human.err;
    EXPECT_EQ(human.out, "unit 10.200.0.2: network module\n"
                         "  IP address   10.200.0.2\n"
                         "  MAC address  02:57:58:00:00:02\n"
                         "  firmware     6.1 (type X6)\n"
                         "  data port    10003\n"
                         "  serial       9600 baud, 8 data bits, parity none, 1 stop bit, flow control 0x00\n"
                         "  CP modes     CP1 0, CP2 2, CP3 1 (block flag 0)\n");
    EXPECT_TRUE(contains(wexo({"net", "#1", "--json"}).out,
                         R"js("ip":"10.200.0.3","mac":"02:57:58:00:00:03",)js"));
}

// Each change reaches the module; factory defaults (only with --yes here,
// where no terminal asks) undo them all.
TEST_F(NetTest, SettingsChangeAndFactoryDefaultsUndoThem) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
        const char* state;
    };
    const Case changes[] = {
        {{"net", "10.200.0.2", "--pin-modes", "5", "7", "9", "--option", "1"},
         "unit 10.200.0.2: pin modes CP1 0, CP2 2, CP3 1 (option 0) -> CP1 5, CP2 7, CP3 9 (option 1)\n",
         " cp=5.7.9 cp-flag=1 "},
        {{"net", "#0", "--serial", "19200", "7", "2", "2", "0", "10010"},
         "serial 9600 baud, 8 data bits, parity none, 1 stop bit, flow control 0x00, data port 10003 -> "
         "19200 baud, 7 data bits, parity 2, 2 stop bits, flow control 0x00, data port 10010\n",
         " data-port=10010 serial=0xF8.1.0 "},
        // Named options change only themselves.
        {{"net", "#0", "--flow", "3", "--json"},
         R"js("to":{"baud":19200,"data_bits":7,"parity":2,"stop_bits":2,"flow":3,"data_port":10010}}],"restarted":true)js",
         " serial=0xF8.1.3 "},
        {{"net", "#0", "--performance", "on"}, "performance mode on\n", " performance=1 "},
    };
    for (const Case& c : changes) {
        const Result r = wexo(c.args);
        ASSERT_EQ(r.status, 0) << c.args[2] << ": " << r.err;
        EXPECT_TRUE(contains(r.out, c.says)) << r.out;
        EXPECT_TRUE(contains(state(0), c.state)) << c.state << " in " << state(0);
    }

    clear_logs(1);
    const Result refused = wexo({"net", "10.200.0.2", "--factory-defaults"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(contains(refused.err, "--factory-defaults needs --yes when the input is not a terminal")) << refused.err;
    EXPECT_TRUE(sim_->frames(0, "setup").empty());

    const Result reset = wexo({"net", "10.200.0.2", "--factory-defaults", "--yes", "--wait"});
    ASSERT_EQ(reset.status, 0) << reset.err;
    EXPECT_TRUE(contains(reset.out, "unit 10.200.0.2: the module took its factory settings and restarts\n"
                                    "unit 10.200.0.2: the module answers again at 10.200.0.2 after "))
        << reset.out;
    EXPECT_TRUE(contains(reset.out, "  serial     9600 baud, 8 data bits, parity none, 1 stop bit, flow control 0x00\n"))
        << reset.out;
    EXPECT_EQ(sim_->frames(0, "setup"), (std::vector<std::string>{"0D 0A", "37 0D 0A", "39 0D 0A"}));
    const std::string after = state(0);
    for (const char* part : {" cp=0.2.1 cp-flag=0 ", " data-port=10003 serial=0x4C.2.0 performance=0 "})
        EXPECT_TRUE(contains(after, part)) << part << " in " << after;
}

TEST_F(NetTest, RestartWaitsUntilTheModuleAnswersAgain) {
    const int before = restarts(1);
    clear_logs(2);
    const Result r = wexo({"net", "10.200.0.3", "--restart", "--wait"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "unit 10.200.0.3: the module restarts\n"
                                "unit 10.200.0.3: the module answers again at 10.200.0.3 after "))
        << r.out;
    EXPECT_EQ(restarts(1), before + 1);
    const auto udp = sim_->frames(1, "udp");
    EXPECT_NE(std::find(udp.begin(), udp.end(), "00 00 03 58 36"), udp.end());
    EXPECT_TRUE(sim_->frames(0, "udp").empty());  // a unicast restart
}

// The address goes to the module with the unit's MAC; --first-found gives
// it back to the only module that answers.
TEST_F(NetTest, AddressesMoveByMacAndToTheFirstFound) {
    const Result moved = wexo({"net", "10.200.0.3", "--ip", "10.200.0.30", "--wait"});
    ASSERT_EQ(moved.status, 0) << moved.err;
    EXPECT_TRUE(contains(moved.out, "unit 10.200.0.3: address 10.200.0.3 -> 10.200.0.30 (sent to the module whose "
                                    "MAC ends 00:03); the module restarts on it\n"))
        << moved.out;
    EXPECT_TRUE(contains(state(1), " ip=10.200.0.30 "));

    ASSERT_EQ(sim_->command("discovery 0 off"), "ok");
    const Result back = wexo({"net", "--first-found", "10.200.0.3", "--window", "300", "--wait", "--json"});
    sim_->command("discovery 0 on");
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(contains(back.out, R"js({"first_found":"10.200.0.3","window_ms":300,"mac":"02:57:58:00:00:03",)js"))
        << back.out;
    EXPECT_TRUE(contains(state(1), " ip=10.200.0.3 "));
    EXPECT_TRUE(contains(state(0), " ip=10.200.0.2 "));
}

TEST_F(NetTest, BadRequestsSendNothing) {
    clear_logs(2);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"net", "#0", "--pin-modes", "1", "2"}, {"net", "#0", "--baud", "12345"},
          {"net", "#0", "--serial", "9600", "8"}, {"net", "#0", "--restart", "--ip", "10.200.0.9"},
          {"net", "#0", "--wait"}, {"net", "#0", "--option", "1"}, {"net", "--first-found", "10.200.0"},
          {"net", "#0", "--data-bits", "9"}}) {
        const Result r = wexo(args);
        EXPECT_EQ(r.status, 2) << args[2] << ": " << r.err;
    }
    for (int u = 0; u < 2; ++u) EXPECT_TRUE(sim_->frames(u, "udp").empty()) << u;
}

// Addresses no unit can hold, or that another unit answers at, are refused
// before the address goes out (a 20-byte packet at the modules).
TEST_F(NetTest, AddressesNoUnitCanHoldAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    for (const Case& c : std::vector<Case>{
             {{"net", "10.200.0.3", "--ip", "255.255.255.255"}, "--ip: 255.255.255.255 is the broadcast address"},
             {{"net", "10.200.0.3", "--ip", "224.0.0.5"}, "--ip: 224.0.0.5 is a multicast address"},
             {{"net", "10.200.0.3", "--ip", "0.1.2.3"}, "--ip: 0.1.2.3 is on network 0"},
             {{"net", "10.200.0.3", "--ip", "127.0.0.5"}, "--ip: 127.0.0.5 is a loopback address"},
             {{"net", "10.200.0.3", "--ip", "10.200.0.255"},
              "--ip: 10.200.0.255 is the broadcast address of 10.200.0.0/24 (interface wxh)"},
             {{"net", "10.200.0.3", "--ip", "10.200.0.0"}, "--ip: 10.200.0.0 is the network address of 10.200.0.0/24"},
             {{"net", "10.200.0.3", "--ip", "10.200.0.2"},
              "--ip: the unit 02:57:58:00:00:02 answers at 10.200.0.2 already; nothing was sent (--force gives"},
             {{"net", "--first-found", "10.200.0.2"}, "--first-found: the unit 02:57:58:00:00:02 answers at 10.200.0.2"},
         }) {
        clear_logs(2);
        const Result r = wexo(c.args);
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.err.rfind("wexo: " + c.err, 0), 0U) << r.err;
        for (int u = 0; u < 2; ++u)
            for (const auto& frame : sim_->frames(u, "udp")) EXPECT_LT(frame.size(), 59U) << c.err << ": " << frame;
    }
    EXPECT_TRUE(contains(state(1), " ip=10.200.0.3 "));
}

// A module serves its setup port, where the library sees it back after a
// change; one that does not took the change all the same, and says so.
struct RestartUnits {
    static std::vector<std::string> list() {
        return {"ip=10.200.0.5,model=17,id=4,module=on,restart=50",
                "ip=10.200.0.6,model=17,id=5,module=on,setup=off,restart=50"};
    }
};
using NetRestartTest = SimulatorTest<RestartUnits>;

TEST_F(NetRestartTest, ATakenChangeWithoutAConfirmedRestartHasItsOwnStatus) {
    const Result seen = wexo({"net", "10.200.0.5", "--baud", "19200"});
    EXPECT_EQ(seen.status, 0) << seen.err;
    EXPECT_TRUE(contains(seen.out, "unit 10.200.0.5: the module restarted and answers again\n")) << seen.out;

    // The library waits 20 s for the setup port before it gives up.
    const Result unseen = wexo({"net", "10.200.0.6", "--baud", "19200"});
    EXPECT_EQ(unseen.status, 4) << unseen.err;
    EXPECT_TRUE(contains(unseen.out, "-> 19200 baud, 8 data bits") &&
                contains(unseen.out, "unit 10.200.0.6: the module took the change, but its restart could not be confirmed\n"))
        << unseen.out;
    EXPECT_EQ(unseen.err, "wexo: the network module of unit 10.200.0.6 took the change, but its restart could not be "
                          "confirmed: ZuWexoSetSerialParameter failed with error 10111: system error: Connection refused\n");
    EXPECT_TRUE(contains(sim_->command("state 1"), " serial=0x4C.1.0 ")) << sim_->command("state 1");
}

// ---------------------------------------------------------------- firmware

class FwTest : public SimulatorTest<ModuleUnits> {
protected:
    static void SetUpTestSuite() {
        SimulatorTest::SetUpTestSuite();
        char dir[] = "/tmp/wexo-cli-fw-XXXXXX";
        dir_ = mkdtemp(dir) ? dir : "/tmp";
        image_.resize(301);
        for (std::size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<std::uint8_t>(i * 7 + 3);
        std::ofstream(dir_ + "/image.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
        good_ = dir_ + "/good.hex";
        if (std::system(("objcopy -I binary -O ihex " + dir_ + "/image.bin " + good_).c_str()) != 0) good_.clear();
        // The same file with one character more after the second record.
        std::ifstream in(good_);
        std::string line, text;
        for (int n = 1; std::getline(in, line); ++n) {
            if (n == 2) line.back() = line.back() == '0' ? '1' : '0';
            text += line + "\n";
        }
        bad_ = dir_ + "/bad.hex";
        std::ofstream(bad_) << text;
    }
    static void TearDownTestSuite() {
        for (const char* f : {"/image.bin", "/good.hex", "/bad.hex"}) std::remove((dir_ + f).c_str());
        rmdir(dir_.c_str());
        SimulatorTest::TearDownTestSuite();
    }
    void SetUp() override {
        SimulatorTest::SetUp();
        ASSERT_FALSE(good_.empty()) << "objcopy failed";
    }
    static std::string stored() { return sim_->command("firmware 0"); }
    static bool loader_frames(int u) {
        for (const auto& f : sim_->frames(u, "data"))
            if (f.rfind("40 57 45 58", 0) == 0) return true;
        return false;
    }

    static inline std::string dir_, good_, bad_;
    static inline std::vector<std::uint8_t> image_;
};

TEST_F(FwTest, CheckSummarisesOrNamesTheBadLine) {
    const Result good = wexo({"fw", "check", good_});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, good_ + ": loadable Intel HEX: 1 block, 301 bytes, 0x0000..0x012c\n");
    EXPECT_EQ(wexo({"fw", "check", good_, "--json"}).out,
              "{\"file\":\"" + good_ + "\",\"valid\":true,\"blocks\":1,\"bytes\":301,\"first_address\":0,"
              "\"last_address\":301,\"error_line\":null,\"removed_records\":0}\n");

    const Result bad = wexo({"fw", "check", bad_});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(contains(bad.out, bad_ + ": line 2 (:10001000")) << bad.out;
    EXPECT_TRUE(contains(bad.out, "): length: the byte count says 16 data bytes, but the record holds more")) << bad.out;
    EXPECT_EQ(wexo({"fw", "check", dir_ + "/missing.hex"}).status, 2);
}

// Every refusal names the line, the record and the reason; the records
// tool chains add that the loader does not take are removed, with a note.
TEST_F(FwTest, RefusalsNameTheRecordAndCommonRecordsAreRemoved) {
    const std::string file = dir_ + "/case.hex";
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        {":0400000001020304F3\n:00000001FF\n",
         ": line 1 (:0400000001020304F3): checksum: the record's bytes sum to 0x01, not 0x00"},
        {":0400000001020304F2\n:020000020000FC\n:00000001FF\n",
         ": line 2 (:020000020000FC): type: record type 02 is not taken"},
        {":0400000001020304F2\n:0400040005\n:00000001FF\n", ": line 2 (:0400040005): length: the byte count says 4"},
        {":0400000001020304F2\n", ": line 2: missing end record"},
        {":020000040001F9\n:0400000001020304F2\n:00000001FF\n",
         ": line 1 (:020000040001F9): size beyond 64 KiB: an extended address"},
        {":04FFFE0001020304F5\n:00000001FF\n", ": line 1 (:04FFFE0001020304F5): size beyond 64 KiB: the data runs past"},
        {":0400000001020304F2\n:02000200AABB97\n:00000001FF\n", ": line 2 (:02000200AABB97): overlap: address 0x0002"},
    };
    for (const auto& c : cases) {
        std::ofstream(file) << c.text;
        const Result r = wexo({"fw", "check", file});
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_TRUE(contains(r.out, file + c.says)) << r.out;
    }
    std::ofstream(file) << ":020000040000FA\n:0400000300000000F9\n:0400000001020304F2\n:0400000500000000F7\n:00000001FF\n";
    const Result common = wexo({"fw", "check", file});
    std::remove(file.c_str());
    EXPECT_EQ(common.status, 0) << common.out;
    EXPECT_EQ(common.err, "wexo: " + file + ": removed 2 start-address records (type 03/05) and 1 extended-address "
                          "record of upper address 0 (type 04), which the loader does not take\n");
}

// The loader takes no addresses: a file of two blocks is refused unless
// --gap-fill joins them into one.
TEST_F(FwTest, BlocksWithGapsAreRefusedOrFilled) {
    const std::string gaps = dir_ + "/gaps.hex";
    std::ofstream(gaps) << ":0400000001020304F2\n:020006000506ED\n:00000001FF\n";
    const int loads = std::stoi(stored().substr(3));
    clear_logs(2);
    const Result refused = wexo({"fw", "update", "10.200.0.2", gaps});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, gaps + " holds 2 blocks (0x0000..0x0003, 0x0006..0x0007), but the loader takes "
                                             "no addresses"))
        << refused.err;
    EXPECT_FALSE(loader_frames(0));

    const Result filled = wexo({"fw", "update", "10.200.0.2", gaps, "--gap-fill", "0xee"});
    std::remove(gaps.c_str());
    ASSERT_EQ(filled.status, 0) << filled.err;
    EXPECT_TRUE(contains(filled.out, "wrote 1 block, 8 bytes, 0x0000..0x0007 (gaps filled with 0xEE)")) << filled.out;
    EXPECT_EQ(stored(), "ok " + std::to_string(loads + 1) + " 01 02 03 04 EE EE 05 06");
}

TEST_F(FwTest, UpdateStoresTheImageAndDryRunSendsNothing) {
    clear_logs(2);
    const Result dry = wexo({"fw", "update", "10.200.0.2", good_, "--dry-run"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_TRUE(contains(dry.out, "dry run: would write 1 block, 301 bytes, 0x0000..0x012c")) << dry.out;
    EXPECT_FALSE(loader_frames(0));
    EXPECT_EQ(stored(), "ok 0");

    // Nothing goes out for a bad file or a board without the loader.
    const Result bad = wexo({"fw", "update", "10.200.0.2", bad_});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(contains(bad.err, "line 2 (:10001000")) << bad.err;
    const Result no_loader = wexo({"fw", "update", "10.200.0.3", good_});
    EXPECT_EQ(no_loader.status, 1);
    EXPECT_TRUE(contains(no_loader.err, "unit 10.200.0.3 (model 17) has no firmware loader")) << no_loader.err;
    EXPECT_FALSE(loader_frames(0));
    EXPECT_FALSE(loader_frames(1));

    const Result r = wexo({"fw", "update", "10.200.0.2", good_});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "wrote 1 block, 301 bytes, 0x0000..0x012c from " + good_ +
                                    " to unit 10.200.0.2 (model 5) in ")) << r.out;
    EXPECT_EQ(r.err, "progress 301/301 bytes (100%)\n");
    std::string expected = "ok 1";
    char byte[4];
    for (std::uint8_t b : image_) {
        std::snprintf(byte, sizeof byte, " %02X", b);
        expected += byte;
    }
    EXPECT_EQ(stored(), expected + " FF");  // the odd byte padded
}

// An interrupt in the middle of a block stops the sending at once: the
// loader never gets the commit byte, and the tool says what that leaves. The
// second run is interrupted while the library waits for an acknowledgement
// the unit holds back: the tool does not wait it out.
TEST_F(FwTest, InterruptStopsInTheMiddleOfABlock) {
    // 64 KiB; item 3000 (acknowledged, as every fourth) is the only AA 55.
    const std::string big = dir_ + "/big.hex";
    std::string text;
    for (int address = 0; address < 0x10000; address += 16) {
        char record[64];
        int n = std::snprintf(record, sizeof record, ":10%04X00", address);
        unsigned sum = 16 + (address >> 8) + (address & 0xFF);
        for (unsigned i = 0; i < 16; ++i) {
            const unsigned byte = address != 6000 ? i : i == 0 ? 0xAA : i == 1 ? 0x55 : i;
            n += std::snprintf(record + n, sizeof record - static_cast<std::size_t>(n), "%02X", byte);
            sum += byte;
        }
        std::snprintf(record + n, sizeof record - static_cast<std::size_t>(n), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += record;
    }
    std::ofstream(big) << text << ":00000001FF\n";
    const int loads = std::stoi(stored().substr(3));
    const struct {
        const char* fault;
        const char* says;
    } runs[] = {
        {nullptr, "the block under way got no commit byte"},
        {"fault 0 data none delay=3000 match=AA:55", ", while the unit had not yet answered: nothing more was sent"},
    };
    for (const auto& c : runs) {
        clear_logs(2);
        if (c.fault != nullptr) {
            ASSERT_EQ(sim_->command(c.fault), "ok");
        }
        CliRun run(sim_->netns(), {"--timeout", "5000", "fw", "update", "10.200.0.2", big});
        ASSERT_EQ(sim_->command("wait 0 data 3000 20000"), "ok");  // a good way into the block
        // With the fault, the frames stop at item 3000 until its answer comes.
        for (int n = 3001; c.fault != nullptr && sim_->command("wait 0 data " + std::to_string(n) + " 300") == "ok";)
            ++n;
        run.interrupt();
        const Result r = run.finish();
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "interrupted after ")) << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        const auto frames = sim_->frames(0, "data");
        EXPECT_LT(frames.size(), 32768u);
        EXPECT_EQ(std::count(frames.begin(), frames.end(), "43"), 0);
        if (c.fault != nullptr) {
            EXPECT_EQ(frames.back(), "AA 55");
        }
        EXPECT_EQ(std::stoi(stored().substr(3)), loads);
    }
    std::remove(big.c_str());
}

TEST(CliHelp, NetAndFwDocumentThemselves) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"net", "--help"}, {"fw", "check", "--help"}, {"fw", "update", "--help"}}) {
        const Result help = CliRun(-1, args).finish();
        EXPECT_EQ(help.status, 0) << args[0];
        EXPECT_TRUE(contains(help.out, "Usage: wexo " + args[0])) << help.out;
    }
    const Result family = CliRun(-1, {"fw"}).finish();
    EXPECT_EQ(family.status, 2);
    EXPECT_TRUE(contains(family.err, "fw needs 'check' or 'update'")) << family.err;
}

} // namespace
