// ZuWexoSearch over real UDP broadcast in the test namespace, against
// simulated units.
#include <arpa/inet.h>

#include <algorithm>

#include "sim_fixture.hpp"

using namespace nettest;
using wexotest::open_fd_count;
using wexosim::Bytes;
using wexosim::Fault;
using wexosim::FaultKind;
using Lines = std::vector<std::string>;

namespace {

constexpr int kWindowMs = 300;

const Bytes kDiscoveryQuery{0x00, 0x00, 0x00, 0xF6};
const Bytes kSetupQuery{0x00, 0x00, 0x00, 0xF8};
const Bytes kIdTextQuery{0x00, 0x00, 0x00, 0xF4};
const Bytes kCpQuery{0x00, 0x00, 0x00, 0xE7};

class SearchTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ZuWexoSetAutoRequestIdModel(0, 10003);
    }

    // The configuration queries unit u received, in order (the broadcast
    // query and probe left out).
    std::vector<Bytes> config_queries(int u) const {
        std::vector<Bytes> frames = sim.frames(u, Endpoint::Udp);
        frames.erase(std::remove_if(frames.begin(), frames.end(),
                                    [](const Bytes& f) { return f == kDiscoveryQuery || f.size() == 2; }),
                     frames.end());
        return frames;
    }
};

TEST_F(SearchTest, NoReplyGivesCode2) {
    const int fds = open_fd_count();
    const Lines lines = logged([] { EXPECT_EQ(ZuWexoSearch(kWindowMs), 0); });
    EXPECT_EQ(lines, (Lines{"ZuWexoSearch", "ZuWexoSearch:0"}));
    EXPECT_EQ(error, 2u);
    EXPECT_EQ(xportcount, 0);
    EXPECT_EQ(xportsearchcount, 0);
    EXPECT_EQ(open_fd_count(), fds);

    ZuWexoEnd();
    EXPECT_EQ(ZuWexoSearch(kWindowMs), -1);
    EXPECT_EQ(error, 1u);
}

TEST_F(SearchTest, UnitFailingItsConfigurationIsDroppedAndTheTableClosedUp) {
    UnitConfig failing = module_unit("10.200.0.3");
    failing.answer_setup_query = false;
    start({module_unit("10.200.0.2"), failing, module_unit("10.200.0.4")});

    EXPECT_EQ(ZuWexoSearch(kWindowMs), 2);
    EXPECT_EQ(error, 7u);
    EXPECT_EQ(xportcount, 2);
    EXPECT_EQ(xportsearchcount, 2);
    EXPECT_STREQ(xportset[0].ip_text, "10.200.0.2");
    EXPECT_STREQ(xportset[1].ip_text, "10.200.0.4");
    const uint8_t mac4[6] = {0x02, 0x57, 0x58, 0x00, 0x00, 0x04};
    EXPECT_TRUE(std::equal(std::begin(mac4), std::end(mac4), xportset[1].mac_address));
    EXPECT_EQ(ntohs(xportset[1].unit_addr.sin_port), 30718);
    int id = 0;
    EXPECT_EQ(ZuWexoGetId(2, &id), 0);
    EXPECT_EQ(error, 3u);
    EXPECT_EQ(ZuWexoGetId(1, &id), 1);
    EXPECT_EQ(id, 255);
}

// A datagram that arrives while a module's configuration is awaited counts
// only when it comes from that module and answers that query.
TEST_F(SearchTest, LateRepliesDoNotStandInForAnotherQuery) {
    auto unit = [](const char* ip, uint16_t port) {
        UnitConfig config = module_unit(ip);
        config.data_port = port;
        return config;
    };
    UnitConfig twice = unit("10.200.0.2", 10002);
    twice.answer_probe = true;  // answers the probe too, but long after the window
    start({twice, unit("10.200.0.3", 10003), unit("10.200.0.4", 10004)});
    auto delayed = [&](int u, Bytes match, int ms) {
        Fault fault = matching_fault(FaultKind::None, std::move(match));
        fault.delay = wexosim::Millis{ms};
        sim.inject(u, Endpoint::Udp, fault);
    };
    delayed(0, {'W', 'X'}, kWindowMs + 100);  // lands while unit 0's setup is awaited
    delayed(0, kSetupQuery, 200);
    delayed(1, kSetupQuery, kWindowMs + 150);  // too late: unit 1 is dropped
    delayed(2, kSetupQuery, 200);              // its wait sees unit 1's late record

    EXPECT_EQ(ZuWexoSearch(kWindowMs), 2);
    EXPECT_EQ(error, 7u);
    const std::pair<const char*, int> expected[] = {{"10.200.0.2", 10002}, {"10.200.0.4", 10004}};
    for (int i = 0; i < 2; ++i) {
        char ip[16];
        inet_ntop(AF_INET, &xportset[i].unit_addr.sin_addr, ip, sizeof(ip));
        EXPECT_STREQ(ip, expected[i].first);
        EXPECT_STREQ(xportset[i].ip_text, expected[i].first);
        EXPECT_EQ(xportset[i].data_port, expected[i].second);
        EXPECT_EQ(xportset[i].cp_block[3], 0xE8);
    }
}

TEST_F(SearchTest, AnotherHostCannotAnswerForAUnit) {
    start({module_unit("10.200.0.2")});
    Fault foreign = matching_fault(FaultKind::None, kSetupQuery);
    foreign.source_ip = "10.200.0.9";  // the setup record comes from someone else
    sim.inject(0, Endpoint::Udp, foreign);

    EXPECT_EQ(ZuWexoSearch(kWindowMs), 0);
    EXPECT_EQ(error, 7u);  // dropped: its own module never answered
}

TEST_F(SearchTest, FirmwareTypesChooseTheConfigurationQueries) {
    auto unit = [](const char* ip, const char* type, uint16_t port) {
        UnitConfig config = module_unit(ip, type);
        config.data_port = port;
        config.serial = {0x4C, 2, 0, 0};       // first layout: 9600 8N1
        config.serial2 = {0xF8, 8, 2, 10099};  // second layout, distinct from the first
        config.cp_modes = std::array<uint8_t, 3>{3, 4, 5};
        config.cp_flag = 1;
        return config;
    };
    UnitConfig x6_without_gc = unit("10.200.0.5", "X6", 10005);
    x6_without_gc.ident_text = "WEXO-XPORT";
    start({unit("10.200.0.2", "_L", 10002), unit("10.200.0.3", "_W", 10003),
           unit("10.200.0.4", "X6", 10004), x6_without_gc, unit("10.200.0.6", "X5", 10006)});
    // '_' modules give no pin or serial settings: their records keep none of
    // an earlier unit's.
    for (wexo_device& d : xportset) {
        d.serial_flags = 0x77;
        d.cp_mode[0] = 99;
        d.firm_major = 0;
    }

    ASSERT_EQ(ZuWexoSearch(kWindowMs), 5);
    EXPECT_EQ(error, 0u);

    const wexo_device& l = xportset[find_record("10.200.0.2")];
    EXPECT_EQ(l.data_port, 10002);
    EXPECT_EQ(l.unit_kind, 3);
    EXPECT_EQ(l.serial_flags, 0);
    EXPECT_EQ(l.cp_mode[0], 0);
    EXPECT_EQ(l.firm_major, 6);
    EXPECT_EQ(l.firm_minor, 1);
    EXPECT_EQ(config_queries(0), (std::vector<Bytes>{kSetupQuery}));

    const wexo_device& w = xportset[find_record("10.200.0.3")];
    EXPECT_EQ(w.data_port, 10003);
    EXPECT_EQ(w.unit_kind, 5);
    EXPECT_EQ(w.serial_flags, 0);
    EXPECT_EQ(config_queries(1), (std::vector<Bytes>{kSetupQuery}));

    const int gc = find_record("10.200.0.4");
    int baud = 0, bits = 0, parity = 0, stop = 0, flow = 0, port = 0;
    ASSERT_EQ(ZuWexoGetSerialParameter(gc, &baud, &bits, &parity, &stop, &flow, &port), 1);
    EXPECT_EQ((std::vector<int>{baud, bits, parity, stop, flow, port}),
              (std::vector<int>{9600, 8, 0, 1, 0, 10004}));
    EXPECT_EQ(xportset[gc].unit_kind, 0);
    EXPECT_EQ(config_queries(2), (std::vector<Bytes>{kSetupQuery, kIdTextQuery, kCpQuery}));

    const int no_gc = find_record("10.200.0.5");
    ASSERT_EQ(ZuWexoGetSerialParameter(no_gc, &baud, &bits, &parity, &stop, &flow, &port), 1);
    EXPECT_EQ((std::vector<int>{baud, bits, parity, stop, flow, port}),
              (std::vector<int>{115200, 7, 2, 2, 2, 10099}));

    const int other = find_record("10.200.0.6");
    EXPECT_EQ(xportset[other].data_port, 10006);
    EXPECT_EQ(xportset[other].serial_flags, 0x4C);
    EXPECT_EQ(config_queries(4), (std::vector<Bytes>{kSetupQuery, kCpQuery}));
    int cp1 = 0, cp2 = 0, cp3 = 0, flag = 0;
    ASSERT_EQ(ZuWexoGetCPMode(other, &cp1, &cp2, &cp3, &flag), 1);
    EXPECT_EQ((std::vector<int>{cp1, cp2, cp3, flag}), (std::vector<int>{3, 4, 5, 1}));
    EXPECT_EQ(xportset[other].cp_block[3], 0xE8);
}

TEST_F(SearchTest, ShortReplies) {
    UnitConfig unit = module_unit("10.200.0.2", "X6");
    unit.ident_text = "WEXO";  // second layout, offsets 68..73
    unit.data_port = 10007;
    start({unit});
    // A discovery reply is not checked: what it lacks reads as zeros. A setup
    // record is taken once it holds the second layout's port.
    sim.inject(0, Endpoint::Udp, matching_fault(FaultKind::Truncate, kDiscoveryQuery, 27));
    sim.inject(0, Endpoint::Udp, matching_fault(FaultKind::Truncate, kSetupQuery, 74));
    wexo_device& d = xportset[0];
    std::memset(&d, 0xEE, sizeof(d));
    d.connected = 0;

    ASSERT_EQ(ZuWexoSearch(kWindowMs), 1);
    EXPECT_EQ(d.mac_address[2], 0x58);
    EXPECT_EQ(d.mac_address[3], 0);
    EXPECT_EQ(d.mac_address[5], 0);
    EXPECT_EQ(d.data_port, 10007);
    EXPECT_EQ(d.board_id, 255);
    EXPECT_EQ(d.model_code, -1);
    EXPECT_EQ(d.timeout_ms, 1000);

    // A shorter setup record, identification text or pin block is no reply:
    // the unit is dropped rather than configured from zeros.
    const std::pair<Bytes, std::size_t> cut[] = {{kSetupQuery, 73}, {kIdTextQuery, 31}, {kCpQuery, 129}};
    for (const auto& [query, length] : cut) {
        sim.inject(0, Endpoint::Udp, matching_fault(FaultKind::Truncate, query, length));
        EXPECT_EQ(ZuWexoSearch(kWindowMs), 0) << length;
        EXPECT_EQ(ZuWexoGetLastError(), 7) << length;
        sim.clear_faults(0);
    }
}

TEST_F(SearchTest, AutomaticIdentificationByDataPort) {
    UnitConfig on_port = module_unit("10.200.0.2");
    on_port.board_id = 5;
    UnitConfig other_port = module_unit("10.200.0.3");
    other_port.data_port = 10004;
    start({on_port, other_port});

    ASSERT_EQ(ZuWexoSetAutoRequestIdModel(1, 10003), 1);
    Lines lines = logged([] { EXPECT_EQ(ZuWexoSearch(kWindowMs), 2); });
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ZuWexoRequestIdModel"), 1);
    int a = find_record("10.200.0.2");
    int b = find_record("10.200.0.3");
    EXPECT_EQ(xportset[a].board_id, 5);
    EXPECT_EQ(xportset[a].model_code, 2);
    EXPECT_EQ(xportset[b].model_code, -1);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 1);
    EXPECT_EQ(sim.accepted(1, Endpoint::Data), 0);

    ASSERT_EQ(ZuWexoSetAutoRequestIdModel(0, 0), 1);
    ASSERT_EQ(ZuWexoSearch(kWindowMs), 2);
    a = find_record("10.200.0.2");
    EXPECT_EQ(xportset[a].board_id, 255);
    EXPECT_EQ(xportset[a].model_code, -1);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 1);

    ASSERT_EQ(ZuWexoSetAutoRequestIdModel(1, 10004), 1);
    ASSERT_EQ(ZuWexoSearch(kWindowMs), 2);
    EXPECT_EQ(xportset[find_record("10.200.0.3")].model_code, 2);
    EXPECT_EQ(xportset[find_record("10.200.0.2")].model_code, -1);
}

TEST_F(SearchTest, SearchClosesConnectedUnitsFirst) {
    start({module_unit("10.200.0.2")});
    const int fds = open_fd_count();
    ASSERT_EQ(ZuWexoSearch(kWindowMs), 1);
    ASSERT_EQ(ZuWexoSetModel(0, 2), 1);
    ASSERT_EQ(ZuWexoSetTimeOut(0, 700), 1);
    ASSERT_EQ(ZuWexoConnect(0), 0);
    ASSERT_TRUE(wait_open_connections(0, Endpoint::Data, 1));
    EXPECT_EQ(open_fd_count(), fds + 2);  // the channel and the simulator's end

    const Lines lines = logged([] { EXPECT_EQ(ZuWexoSearch(kWindowMs), 1); });
    EXPECT_EQ(lines, (Lines{"ZuWexoSearch", "ZuWexoClose", "ZuWexoClose:0", "ZuWexoSearch:1"}));
    EXPECT_EQ(xportset[0].connected, 0);
    EXPECT_EQ(xportset[0].model_code, -1);
    EXPECT_EQ(xportset[0].timeout_ms, 1000);
    ASSERT_TRUE(wait_open_connections(0, Endpoint::Data, 0));
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(SearchTest, RepliesBeyondTheTableAreIgnored) {
    // Nine units answer the query in 30 one-byte datagrams each: 270 replies
    // for 256 records. Every datagram counts as one unit.
    std::vector<UnitConfig> units;
    for (int n = 2; n <= 10; ++n) units.push_back(module_unit("10.200.0." + std::to_string(n)));
    start(units);
    for (int u = 0; u < 9; ++u) {
        Fault split = matching_fault(FaultKind::Split, kDiscoveryQuery);
        split.piece = 1;
        split.pause = wexosim::Millis{1};
        sim.inject(u, Endpoint::Udp, split);
    }
    const int fds = open_fd_count();
    ASSERT_EQ(ZuWexoSearch(1000), 256);
    EXPECT_EQ(xportcount, 256);
    EXPECT_EQ(xportsearchcount, 256);
    EXPECT_EQ(xportset[255].firm_type[0], 0);
    EXPECT_EQ(open_fd_count(), fds);

    EXPECT_EQ(ZuWexoConnectDirect2("10.200.0.2", 300, 10003), -1);
    EXPECT_EQ(error, 8u);
}

}  // namespace
