// The network module's configuration (address, performance, restart, pin
// modes, serial parameters, factory defaults) and the firmware loader,
// against simulated units whose module restarts quickly.
#include <gmock/gmock.h>

#include <sched.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "../net/sim_fixture.hpp"
#include "firmware/intel_hex.hpp"
#include "wire/unit_socket.hpp"
#include "module/module_config.hpp"

using namespace nettest;
using wexosim::Bytes;
using wexosim::Fault;
using wexosim::FaultKind;

namespace {

// ---------------------------------------------------------------- packets

TEST(ModulePackets, AddressPerformanceAndSerial) {
    const uint8_t ip[4] = {192, 168, 0, 10};
    const auto address = wexo::address_packet(0x12, 0x34, ip);
    EXPECT_EQ(Bytes(address.begin(), address.end()),
              (Bytes{0, 0, 0, 0xFC, 'I', 'P', '-', 'S', 'E', 'T', 'U', 'P', 0, 0, 0x12, 0x34, 0xC0, 0xA8, 0, 0x0A}));
    EXPECT_EQ(wexo::performance_packet(true)[87], 0x80);
    EXPECT_EQ(wexo::performance_packet(false)[87], 0x00);
    EXPECT_EQ(wexo::performance_packet(true)[3], 0xC3);

    const std::pair<int, int> rates[] = {{38400, 0}, {9600, 2}, {300, 7}, {115200, 8},
                                         {57600, 9}, {460800, 11}, {921600, 12}, {0, 12}};
    for (const auto& [baud, code] : rates) EXPECT_EQ(wexo::baud_code_of(baud), code) << baud;
    EXPECT_EQ(wexo::serial_flags_of(8, 0, 1), 0x4C);
    EXPECT_EQ(wexo::serial_flags_of(7, 2, 2), 0xF8);
    EXPECT_EQ(wexo::serial_flags_of(7, 1, 1), 0x58);
}

TEST(ModulePackets, PinModeFlagBytes) {
    uint8_t block[130] = {};
    block[100] = 0x5A;  // the rest of the stored block goes back as it was
    const struct {
        int cp1, cp2, cp3;
        std::vector<int> set;  // flag bytes 7..16 that are 0x80
    } cases[] = {{0, 2, 9, {7, 9, 16}}, {4, 2, 1, {11, 9, 8, 15}}, {5, 7, 3, {12, 14, 10, 15}},
                 {1, 6, 8, {13, 15}}, {3, 0, 2, {}}};
    for (const auto& c : cases) {
        const auto p = wexo::pin_mode_packet(block, c.cp1, c.cp2, c.cp3, 0x101);
        std::vector<int> set;
        for (int i = 7; i <= 16; ++i) {
            if (p[static_cast<std::size_t>(i)] == 0x80) set.push_back(i);
        }
        std::sort(set.begin(), set.end());
        std::vector<int> want = c.set;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(set, want) << c.cp1 << " " << c.cp2 << " " << c.cp3;
        EXPECT_EQ(p[3], 0xC7);
        EXPECT_EQ(p[129], 0x01);  // the option's low byte
        EXPECT_EQ(p[100], 0x5A);
    }
}

// ---------------------------------------------------------------- Intel HEX

TEST(IntelHex, ChecksEveryRecordAndGathersBlocks) {
    const struct {
        const char* name;
        const char* text;
        int error_line;
        std::vector<std::pair<int, int>> blocks;  // (address, bytes)
    } cases[] = {
        {"one record", ":0400000001020304F2\n:00000401FB\n", 0, {{0, 4}}},
        {"lower case", ":0400000001020304f2\r\n:00000401fb", 0, {{0, 4}}},
        {"gap", ":0400000001020304F2\n:020010000506E3\n:00001201ED\n", 0, {{0, 4}, {0x10, 2}}},
        {"end record at 0: an empty block", ":0400000001020304F2\n:00000001FF\n", 0, {{0, 4}, {0, 0}}},
        {"no data", ":00000001FF\n", 0, {{0, 0}}},
        {"overlap", ":0400000001020304F2\n:02000200AABB97\n:00000001FF\n", 2, {}},
        {"past 0xFFFF", ":04FFFE0001020304F5\n:00000001FF\n", 1, {}},
        {"up to 0xFFFF", ":04FFFC0001020304F7\n:00000001FF\n", 0, {{0xFFFC, 4}, {0, 0}}},
        {"odd count", ":03000000010203F7\n:00000301FC\n", 0, {{0, 3}}},
        {"bad checksum late", ":0400000001020304F2\n:020010000506E4\n:00001201ED\n", 2, {}},
        {"type 4", ":020000040000FA\n:00000001FF\n", 1, {}},
        {"no end record", ":0400000001020304F2\n", 2, {}},
        {"cut short", ":04000000010203\n:00000001FF\n", 1, {}},
        {"not hex", ":04000000010G0304F2\n:00000001FF\n", 1, {}},
        {"junk between records", ":0400000001020304F2\nx:00000401FB\n", 2, {}},
    };
    for (const auto& c : cases) {
        const auto image = wexo::firmware::parse_intel_hex(c.text);
        EXPECT_EQ(image.error_line, c.error_line) << c.name;
        std::vector<std::pair<int, int>> blocks;
        for (const auto& b : image.blocks) blocks.emplace_back(b.address, static_cast<int>(b.bytes.size()));
        EXPECT_EQ(blocks, c.blocks) << c.name;
    }
    EXPECT_EQ(wexo::firmware::as_items({1, 2, 3}), (std::vector<uint8_t>{1, 2, 3, 0xFF}));

    wexo_hex_summary summary{};
    EXPECT_EQ(wexo_check_intel_hex(":0400000001020304F2\n:020010000506E3\n:00001201ED\n", &summary), 1);
    EXPECT_EQ(summary.blocks, 2);
    EXPECT_EQ(summary.bytes, 6);
    EXPECT_EQ(summary.first_address, 0);
    EXPECT_EQ(summary.last_address, 0x12);
    EXPECT_EQ(wexo_check_intel_hex(":00000001FE\n", &summary), 0);  // bad checksum
    EXPECT_EQ(summary.error_line, 1);
}

// ---------------------------------------------------------------- against units

class ModuleTest : public SimTest {
protected:
    // A unit whose module restarts in 50 ms and serves its setup port.
    static UnitConfig quick_unit(const std::string& ip) {
        UnitConfig u = module_unit(ip);
        u.setup_listener = true;
        u.pinmode_listener = true;
        u.restart_ms = 50;
        return u;
    }
    int found(const std::vector<UnitConfig>& units) {
        start(units);
        ZuWexoSetAutoRequestIdModel(0, 10003);
        return ZuWexoSearch(200);
    }
    std::vector<Bytes> udp_frames(int u, uint8_t code) const {
        std::vector<Bytes> out;
        for (const Bytes& f : sim.frames(u, Endpoint::Udp)) {
            if (f.size() > 3 && f[3] == code) out.push_back(f);
        }
        return out;
    }
};

TEST_F(ModuleTest, AddressToTheFirstUnitFound) {
    ASSERT_EQ(found({quick_unit("10.200.0.2"), quick_unit("10.200.0.3")}), 2);
    EXPECT_EQ(ZuWexoFirstFoundSetIpAddress(200, 10, 200, 0, 30), 1);
    ASSERT_TRUE(sim.wait_frames(0, Endpoint::Udp, 1));
    const auto packets = udp_frames(0, 0xFC);
    ASSERT_EQ(packets.size(), 1u);  // one assignment, broadcast to every module
    const uint8_t last = packets[0][15];
    EXPECT_TRUE(last == 2 || last == 3);
    EXPECT_EQ(Bytes(packets[0].begin() + 16, packets[0].end()), (Bytes{10, 200, 0, 30}));
}

TEST_F(ModuleTest, PinModesAndSerialParametersWaitForTheRestart) {
    ASSERT_EQ(found({quick_unit("10.200.0.2")}), 1);
    EXPECT_EQ(ZuWexoSetCPMode(0, 0, 2, 9, 1), 1);
    EXPECT_EQ(sim.state(0).cp_modes, (std::array<uint8_t, 3>{0, 2, 9}));
    int cp1 = -1, cp2 = -1, cp3 = -1, flag = -1;
    ASSERT_EQ(ZuWexoGetCPMode(0, &cp1, &cp2, &cp3, &flag), 1);
    EXPECT_EQ((std::vector<int>{cp1, cp2, cp3, flag}), (std::vector<int>{0, 2, 9, 1}));

    EXPECT_EQ(ZuWexoSetSerialParameter(0, 115200, 7, 2, 2, 0, 10005), 1);
    EXPECT_EQ(sim.state(0).serial.flags, 0xF8);
    EXPECT_EQ(sim.state(0).serial.baud, 8);
    int baud = 0, bits = 0, parity = 0, stop = 0, flow = 0, port = 0;
    ASSERT_EQ(ZuWexoGetSerialParameter(0, &baud, &bits, &parity, &stop, &flow, &port), 1);
    EXPECT_EQ((std::vector<int>{baud, bits, parity, stop}), (std::vector<int>{115200, 7, 2, 2}));
    EXPECT_GE(sim.state(0).restarts, 2);
    EXPECT_EQ(ZuWexoSetSerialParameter(0, 9600, 8, 0, 1, 0, 70000), 0);
    EXPECT_EQ(error, 6u);
}

TEST_F(ModuleTest, RestartPacketNamesTheFirmware) {
    ASSERT_EQ(found({quick_unit("10.200.0.2")}), 1);
    EXPECT_EQ(ZuWexoReset(0), 1);
    ASSERT_TRUE(sim.wait_state(0, [](const wexosim::UnitState& s) { return s.restarts == 1; }, wexosim::Millis{2000}));
    const auto packets = udp_frames(0, 0x58);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], (Bytes{0x00, 0x00, 0x03, 0x58, '5'}));
}

TEST_F(ModuleTest, PerformanceModeWaitsUntilTheModuleAnswersAgain) {
    ASSERT_EQ(found({quick_unit("10.200.0.2")}), 1);
    EXPECT_EQ(ZuWexoSetPerformance(0, 1), 1);
    EXPECT_TRUE(sim.state(0).performance);
    const auto packets = udp_frames(0, 0xC3);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 88u);
    EXPECT_EQ(packets[0][87], 0x80);
}

TEST_F(ModuleTest, FactoryDefaultsThroughTheSetupMenu) {
    ASSERT_EQ(found({quick_unit("10.200.0.2")}), 1);
    wexotest::StdoutCapture out;
    out.start();
    output_loglevel = 2;
    const int result = ZuWexoSetXPortDefault(0);
    output_loglevel = 0;
    EXPECT_EQ(out.stop(), "ZuWexoSetXPortDefault:0\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(sim.frames(0, Endpoint::Setup), (std::vector<Bytes>{{'\r', '\n'}, {'7', '\r', '\n'}, {'9', '\r', '\n'}}));

    // Each prompt is awaited at most eleven time-outs: a menu that never
    // prompts, or drips a byte inside every time-out, ends with the time-out's
    // code; one sent in bursts with pauses longer than the time-out is followed.
    xportset[0].timeout_ms = 50;
    const Bytes enter{'\r', '\n'};
    const struct {
        const char* name;
        Fault fault;
        int result;
        int code;
    } cases[] = {
        {"silence", {.kind = FaultKind::Silence, .match = enter}, 0, 10000 + EAGAIN},
        {"drip",
         {.kind = FaultKind::Drip, .pause = wexosim::Millis{10}, .length = 2000, .bytes = {'x'}, .match = enter},
         0, 10000 + EAGAIN},
        {"bursts",  // two bursts of the menu, 80 ms apart
         {.kind = FaultKind::Split, .piece = 56, .pause = wexosim::Millis{80}, .match = enter}, 1, 0},
    };
    for (const auto& c : cases) {
        sim.inject(0, Endpoint::Setup, c.fault);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ZuWexoSetXPortDefault(0), c.result) << c.name;
        EXPECT_EQ(ZuWexoGetLastError(), c.code) << c.name;
        // A hang guard: four prompts of eleven time-outs and the settling second.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4 * 11 * 50 + 2000))
            << c.name;
        sim.clear_faults(0);
    }
}

// The address goes to the module named by the first datagram that holds a
// MAC (bytes 24..29); nothing else in it is examined.
TEST_F(ModuleTest, FirstFoundTakesTheFirstDatagramThatHoldsAMac) {
    start({quick_unit("10.200.0.2")});
    const Bytes query{0, 0, 0, 0xF6};
    Bytes other_code(30, 0);
    other_code[28] = 0x12;
    other_code[29] = 0x34;
    const struct {
        const char* name;
        Fault fault;
        std::vector<Bytes> assigned;  // the MAC bytes of each assignment sent
    } cases[] = {
        {"too short for a MAC", matching_fault(FaultKind::Truncate, query, 20), {}},
        {"any byte 3", {.kind = FaultKind::Raw, .bytes = other_code, .match = query}, {{0x12, 0x34}}},
    };
    for (const auto& c : cases) {
        sim.clear_log(0);
        sim.inject(0, Endpoint::Udp, c.fault);
        EXPECT_EQ(ZuWexoFirstFoundSetIpAddress(200, 10, 200, 0, 30), 1) << c.name;
        std::vector<Bytes> assigned;
        for (const Bytes& p : udp_frames(0, 0xFC)) assigned.push_back(Bytes(p.begin() + 14, p.begin() + 16));
        EXPECT_EQ(assigned, c.assigned) << c.name;
        sim.clear_faults(0);
    }
}

// A datagram that cannot be sent is no success: the send's errno + 10000.
TEST_F(ModuleTest, ASendThatFailsIsReported) {
    ASSERT_EQ(found({quick_unit("10.200.0.2")}), 1);
    xportset[0].unit_addr.sin_port = 0;  // as a direct connection's record has: EINVAL
    EXPECT_EQ(ZuWexoReset(0), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 10000 + EINVAL);
    // A network namespace of its own with no interface up: ENETUNREACH.
    std::vector<int> got;
    std::thread offline([&] {
        if (unshare(CLONE_NEWNET) != 0) return;
        got = {ZuWexoSetIpAddress(1, 2, 10, 200, 0, 30), ZuWexoGetLastError(),
               ZuWexoFirstFoundSetIpAddress(50, 10, 200, 0, 30), ZuWexoGetLastError()};
    });
    offline.join();
    EXPECT_EQ(got, (std::vector<int>{0, 10000 + ENETUNREACH, 0, 10000 + ENETUNREACH}));
}

// The pin block written back is read from the module now: never one an
// earlier unit left in the record, never a short one; the modes are kept
// only once the module took them.
TEST_F(ModuleTest, APinModeWriteCarriesTheModulesOwnBlock) {
    UnitConfig earlier = quick_unit("10.200.0.2");
    Bytes block(130, 0);
    block[4] = 3;
    block[5] = 4;
    block[6] = 5;
    block[100] = 0x5A;
    block[129] = 1;
    earlier.cp_block = block;
    UnitConfig later = quick_unit("10.200.0.3");
    later.firm_type = "_L";  // no pin block is asked for in a search
    later.ignore_discovery = true;
    ASSERT_EQ(found({earlier, later}), 1);
    sim.set_ignore_discovery(0, true);
    sim.set_ignore_discovery(1, false);
    ASSERT_EQ(ZuWexoSearch(200), 1);
    ASSERT_STREQ(xportset[0].ip_text, "10.200.0.3");
    const auto modes = [] {
        int cp[4] = {-1, -1, -1, -1};
        EXPECT_EQ(ZuWexoGetCPMode(0, &cp[0], &cp[1], &cp[2], &cp[3]), 1);
        return std::vector<int>(cp, cp + 4);
    };
    EXPECT_EQ(modes(), (std::vector<int>{0, 0, 0, 0}));  // not the earlier unit's 3, 4, 5, 1

    EXPECT_EQ(ZuWexoSetCPMode(0, 0, 2, 9, 1), 1);
    ASSERT_EQ(sim.frames(1, Endpoint::PinMode).size(), 1u);
    EXPECT_EQ(sim.frames(1, Endpoint::PinMode)[0][100], 0x00);
    EXPECT_EQ(modes(), (std::vector<int>{0, 2, 9, 1}));

    xportset[0].timeout_ms = 100;
    sim.inject(1, Endpoint::Udp, matching_fault(FaultKind::Truncate, {0, 0, 0, 0xE7}, 100));
    EXPECT_EQ(ZuWexoSetCPMode(0, 1, 6, 3, 0), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 10000 + EAGAIN);
    EXPECT_EQ(sim.frames(1, Endpoint::PinMode).size(), 1u);  // nothing written
    // Unanswered: the module restarts (closing the connection) and the
    // library cannot tell whether it took the modes.
    sim.inject(1, Endpoint::PinMode, {.kind = FaultKind::Silence});
    EXPECT_EQ(ZuWexoSetCPMode(0, 1, 6, 3, 0), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 10000 + ECONNRESET);
    EXPECT_EQ(modes(), (std::vector<int>{0, 2, 9, 1}));
}

// ---------------------------------------------------------------- firmware

class FirmwareTest : public SimTest {
protected:
    int connected(int model) {
        UnitConfig u = board_unit("10.200.0.2", 10003, model);
        start({u});
        xportcount = 0;
        const int i = ZuWexoConnectDirect2("10.200.0.2", 1000, 10003);
        EXPECT_EQ(i, 0);
        sim.clear_log(0);
        return i;
    }
};

// Intel HEX of bytes at address 0, made by the binutils tool chain.
std::string objcopy_hex(const std::vector<uint8_t>& bytes) {
    char in[] = "/tmp/wexo-fw-XXXXXX";
    const int fd = mkstemp(in);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    const std::string out = std::string(in) + ".hex";
    EXPECT_EQ(std::system(("objcopy -I binary -O ihex " + std::string(in) + " " + out).c_str()), 0);
    std::ifstream file(out);
    std::stringstream text;
    text << file.rdbuf();
    std::remove(in);
    std::remove(out.c_str());
    return text.str();
}

TEST_F(FirmwareTest, AToolChainImageArrivesByteForByte) {
    ASSERT_EQ(connected(5), 0);
    std::vector<uint8_t> image(301);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::string hex = objcopy_hex(image);
    ASSERT_EQ(wexo_check_intel_hex(hex.c_str(), nullptr), 1);
    EXPECT_EQ(ZuWexoPicFirmwareUpdateIntelHex(0, hex.c_str()), 1);
    // The end record at address 0 closes the image with an empty transfer.
    const auto frames = sim.frames(0, Endpoint::Data);
    EXPECT_EQ(std::count(frames.begin(), frames.end(), Bytes{'S', 0, 0}), 1);
    std::vector<uint8_t> expected = image;
    expected.push_back(0xFF);  // the odd byte's pad
    EXPECT_EQ(sim.state(0).firmware, expected);
    EXPECT_EQ(sim.state(0).firmware_loads, 1);
}

// The empty transfer is one of the update's transfers: its failure is the
// call's, though the image before it is stored.
TEST_F(FirmwareTest, TheEmptyTransferCountsInTheResult) {
    ASSERT_EQ(connected(5), 0);
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::Silence, .match = {'S', 0, 0}});
    EXPECT_EQ(ZuWexoPicFirmwareUpdateIntelHex(0, ":0400000001020304F2\n:00000001FF\n"), 0);
    EXPECT_EQ(error, 10000u + EAGAIN);
    EXPECT_EQ(sim.state(0).firmware, (Bytes{1, 2, 3, 4}));
}

TEST_F(FirmwareTest, ABadTextSendsNothing) {
    ASSERT_EQ(connected(5), 0);
    for (const char* text : {":0400000001020304F2\n:020010000506E4\n:00001201ED\n", ":00000001FF\n"}) {
        error = 0;
        EXPECT_EQ(ZuWexoPicFirmwareUpdateIntelHex(0, text), 0);
        EXPECT_EQ(error, 6u);
    }
    EXPECT_TRUE(sim.frames(0, Endpoint::Data).empty());
}

TEST_F(FirmwareTest, ModelsWithoutTheLoaderAreRefused) {
    ASSERT_EQ(connected(1), 0);
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(ZuWexoPicFirmwareUpdate(0, 0, data, 2), 0);
    EXPECT_EQ(error, 6u);
    EXPECT_TRUE(sim.frames(0, Endpoint::Data).empty());
}

// Progress comes after every item; a cancel in the middle of a block sends
// nothing more, the commit byte least of all.
TEST_F(FirmwareTest, ProgressAndCancellationBetweenItems) {
    ASSERT_EQ(connected(5), 0);
    std::vector<std::pair<int, int>> seen;
    const auto cancel_at_four = [](int done, int total, void* user) {
        static_cast<std::vector<std::pair<int, int>>*>(user)->emplace_back(done, total);
        return done >= 4 ? 1 : 0;
    };
    EXPECT_EQ(wexo_pic_firmware_update_hex(0, ":080000000102030405060708D4\n:00000801F7\n", cancel_at_four, &seen), 0);
    EXPECT_EQ(error, 10000u + ECANCELED);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{2, 8}, {4, 8}}));
    ASSERT_TRUE(sim.wait_frames(0, Endpoint::Data, 4));  // start, size, two items
    const auto frames = sim.frames(0, Endpoint::Data);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), (Bytes{3, 4}));
    EXPECT_EQ(sim.state(0).firmware_loads, 0);
}

}  // namespace
