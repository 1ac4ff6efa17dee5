// The connect calls against simulated units: slot choice and reuse, the
// record values they set, their log lines and failure codes.
#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>

#include "sim_fixture.hpp"

using namespace nettest;
using wexotest::open_fd_count;
using wexosim::Bytes;
using wexosim::ConnectMode;
using Lines = std::vector<std::string>;

namespace {

class ConnectTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ZuWexoSetAutoRequestIdModel(0, 10003);
    }

    // Starts the units and searches them; returns the count found.
    int search(const std::vector<UnitConfig>& units) {
        start(units);
        return ZuWexoSearch(300);
    }
};

TEST_F(ConnectTest, ConnectIdentifiesThenOpensTheChannel) {
    UnitConfig unit = module_unit("10.200.0.2");
    unit.board_id = 4;
    ASSERT_EQ(search({unit}), 1);
    const int fds = open_fd_count();

    const Lines lines = logged([] { EXPECT_EQ(ZuWexoConnect(0), 0); });
    EXPECT_EQ(lines, (Lines{"ZuWexoConnect", "ZuWexoRequestIdModel", "requestid 5555 -> 0 -> 2b00",
                            "ZuWexoRequestIdModel:0:4:2", "connecting...:0:10.200.0.2:000002"}));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(xportset[0].connected, 1);
    EXPECT_EQ(xportset[0].cp_port, 30704);
    // The identification's own connection came first and is gone: left are
    // the channel and the simulator's end of it.
    ASSERT_TRUE(sim.wait_accepted(0, Endpoint::Data, 2));
    ASSERT_TRUE(wait_open_connections(0, Endpoint::Data, 1));
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 2);
    EXPECT_EQ(open_fd_count(), fds + 2);

    const int channel = xportset[0].sock;
    EXPECT_EQ(ZuWexoConnect(0), -1);
    EXPECT_EQ(error, 7u);
    EXPECT_EQ(xportset[0].connected, 1);
    EXPECT_EQ(xportset[0].sock, channel);
    EXPECT_EQ(open_fd_count(), fds + 2);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 2);
}

TEST_F(ConnectTest, KnownModelSkipsIdentification) {
    ASSERT_EQ(search({module_unit("10.200.0.2")}), 1);
    ASSERT_EQ(ZuWexoSetModel(0, 2), 1);
    ASSERT_EQ(ZuWexoConnect(0), 0);
    ASSERT_TRUE(sim.wait_accepted(0, Endpoint::Data, 1));
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 1);
    EXPECT_TRUE(sim.frames(0, Endpoint::Data).empty());
}

// A unit added without a connection and given the identity its board had:
// the connect sends nothing before the command channel, and an ASCII
// board's protocol variant follows its model as identification would set it.
TEST_F(ConnectTest, AddedUnitWithKnownIdentityConnectsWithoutAsking) {
    UnitConfig ascii = module_unit("10.200.0.7");
    ascii.model = 17;
    start({ascii});
    const int index = wexo_add_unit("10.200.0.7", 500);
    ASSERT_GE(index, 0);
    EXPECT_EQ(xportset[index].connected, 0);
    EXPECT_EQ(xportset[index].model_code, -1);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 0);
    EXPECT_EQ(wexo_set_identity(index, 3, 48), 0);
    EXPECT_EQ(error, 6u);
    EXPECT_EQ(wexo_set_identity(index, 16, 17), 0);
    ASSERT_EQ(wexo_set_identity(index, 255, 17), 1) << "the model alone";
    EXPECT_EQ(xportset[index].board_id, 255);
    ASSERT_EQ(wexo_set_identity(index, 3, 17), 1);
    EXPECT_EQ(xportset[index].unit_kind, 4);
    EXPECT_EQ(xportset[index].board_id, 3);
    ASSERT_EQ(ZuWexoConnect(index), index);
    unsigned bits = 99;
    ASSERT_EQ(ZuWexoInPioAll(index, &bits), 1);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 1);
    EXPECT_EQ(wexo_add_unit("10.200.0.99", 100), -1);
    EXPECT_EQ(error, 4u);
}

TEST_F(ConnectTest, ConnectValidation) {
    EXPECT_EQ(ZuWexoConnect(0), -1);
    EXPECT_EQ(error, 3u);
    EXPECT_EQ(ZuWexoConnect(256), -1);
    EXPECT_EQ(error, 6u);
    ZuWexoEnd();
    const unsigned char mac[6] = {};
    const int results[] = {ZuWexoConnectByIdModel(0, 0), ZuWexoConnectByIpAddress("10.200.0.2"),
                           ZuWexoConnectByMacAddress(mac), ZuWexoConnectDirect2("10.200.0.2", 100, 1)};
    for (int result : results) EXPECT_EQ(result, -1);
    EXPECT_EQ(error, 1u);
}

TEST_F(ConnectTest, ConnectByIdModelAddressAndMac) {
    UnitConfig first = module_unit("10.200.0.2");
    first.board_id = 1;
    UnitConfig second = module_unit("10.200.0.3");
    second.board_id = 2;
    second.model = 3;
    ASSERT_EQ(ZuWexoSetAutoRequestIdModel(1, 10003), 1);
    ASSERT_EQ(search({first, second}), 2);
    const int a = find_record("10.200.0.2");
    const int b = find_record("10.200.0.3");

    Lines lines = logged([&] { EXPECT_EQ(ZuWexoConnectByIdModel(2, 3), b); });
    EXPECT_EQ(lines, (Lines{"ZuWexoConnectByIdModel",
                            "connecting...:" + std::to_string(b) + ":10.200.0.3:000003"}));
    EXPECT_EQ(ZuWexoConnectByIpAddress("10.200.0.2"), a);
    const unsigned char mac_b[6] = {0x02, 0x57, 0x58, 0x00, 0x00, 0x03};
    EXPECT_EQ(ZuWexoConnectByMacAddress(mac_b), -1);
    EXPECT_EQ(error, 7u);

    const unsigned char unknown_mac[6] = {0x02, 0x57, 0x58, 0x00, 0x00, 0x09};
    EXPECT_EQ(ZuWexoConnectByMacAddress(unknown_mac), -1);
    EXPECT_EQ(error, 4u);
    EXPECT_EQ(ZuWexoConnectByIdModel(1, 3), -1);
    EXPECT_EQ(error, 4u);
    EXPECT_EQ(ZuWexoConnectByIpAddress("10.200.0.2 "), -1);  // the text must match exactly
    EXPECT_EQ(error, 4u);
}

TEST_F(ConnectTest, ConnectFailuresLeaveNoSocket) {
    UnitConfig silent = module_unit("10.200.0.2");
    silent.answer_ident = false;
    ASSERT_EQ(search({silent, module_unit("10.200.0.3")}), 2);
    const int silent_index = find_record("10.200.0.2");
    const int refusing = find_record("10.200.0.3");
    sim.set_connect_mode(1, Endpoint::Data, ConnectMode::Refuse);
    // Nobody owns this address on the namespace's link: the connect never completes.
    const int unreachable = add_record("10.200.0.250", 10003, 2);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(ZuWexoSetTimeOut(i, 200), 1);
    ASSERT_EQ(ZuWexoSetModel(refusing, 2), 1);
    const int fds = open_fd_count();

    EXPECT_EQ(ZuWexoConnect(silent_index), -1);  // identification fails
    EXPECT_EQ(error, 10000u + EAGAIN);
    EXPECT_EQ(ZuWexoConnect(refusing), -1);
    EXPECT_EQ(error, 10000u + ECONNREFUSED);
    EXPECT_EQ(ZuWexoConnect(unreachable), -1);
    EXPECT_EQ(error, 10110u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(xportset[i].connected, 0);
    ASSERT_TRUE(wait_open_connections(0, Endpoint::Data, 0));
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(ConnectTest, ConnectDirectAddsTheUnitThroughItsModule) {
    UnitConfig unit = module_unit("10.200.0.7");
    unit.data_port = 10007;
    unit.board_id = 6;
    start({unit});

    const Lines lines = logged([] { EXPECT_EQ(ZuWexoConnectDirect("10.200.0.7", 500), 0); });
    EXPECT_EQ(lines, (Lines{"ZuWexoConnectDirect", "ZuWexoConnectOverIPMasquerade",
                            "ZuWexoConnectOverIPMasquerade:10.200.0.7:500:0:30704:30718",
                            "ZuWexoRequestIdModel", "requestid 5555 -> 0 -> 2900",
                            "ZuWexoRequestIdModel:0:6:2", "connecting...:0:10.200.0.7:000007"}));
    const wexo_device& d = xportset[0];
    EXPECT_EQ(xportcount, 1);
    EXPECT_EQ(xportsearchcount, 0);
    EXPECT_EQ(d.connected, 1);
    EXPECT_STREQ(d.ip_text, "10.200.0.7");
    EXPECT_EQ(d.mac_address[5], 7);
    EXPECT_EQ(d.data_port, 10007);
    EXPECT_EQ(d.cp_port, 30704);
    EXPECT_EQ(d.timeout_ms, 500);
    EXPECT_EQ(d.board_id, 6);
    EXPECT_EQ(sim.frames(0, Endpoint::Udp),
              (std::vector<Bytes>{{0, 0, 0, 0xF6}, {'W', 'X'}, {0, 0, 0, 0xF8}, {0, 0, 0, 0xE7}}));
}

TEST_F(ConnectTest, MasqueradePortsAndDataPortOverride) {
    UnitConfig unit = module_unit("10.200.0.8");
    unit.data_port = 10008;
    unit.udp_port = 0;          // module behind a forwarded port
    unit.serial.port = 10099;   // reports a data port that is not reachable here
    start({unit});
    const int udp_port = sim.port(0, Endpoint::Udp);
    ASSERT_EQ(ZuWexoConnectOverIPMasquerade("10.200.0.8", 500, 10008, 31000, udp_port), 0);
    const wexo_device& d = xportset[0];
    EXPECT_EQ(d.data_port, 10008);
    EXPECT_EQ(d.cp_port, 31000);
    EXPECT_EQ(ntohs(d.unit_addr.sin_port), udp_port);
}

TEST_F(ConnectTest, MasqueradeWithoutReplyGivesCode4) {
    start({board_unit("10.200.0.9")});
    const int fds = open_fd_count();
    EXPECT_EQ(ZuWexoConnectDirect("10.200.0.9", 200), -1);
    EXPECT_EQ(error, 4u);
    EXPECT_EQ(xportcount, 0);
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(ConnectTest, ConnectDirect2ReusesClosedRecordsAfterTheSearch) {
    UnitConfig local = board_unit("127.0.0.1");
    local.data_port = 10010;
    ASSERT_EQ(search({module_unit("10.200.0.2"), board_unit("10.200.0.3"),
                      board_unit("10.200.0.4"), local}),
              1);

    Lines lines = logged([] { EXPECT_EQ(ZuWexoConnectDirect2("10.200.0.3", 500, 10003), 1); });
    EXPECT_EQ(lines.front(), "ZuWexoConnectDirect2");
    EXPECT_EQ(lines.back(), "ZuWexoConnectDirect2:10.200.0.3:500:10003");
    EXPECT_EQ(xportcount, 2);
    EXPECT_EQ(xportset[1].cp_port, 0);
    EXPECT_EQ(xportset[1].timeout_ms, 500);
    EXPECT_EQ(xportset[1].model_code, 2);

    // A closed record after the searched ones is taken again; the searched
    // record 0, unconnected as it is, never.
    ASSERT_EQ(ZuWexoClose(1), 1);
    EXPECT_EQ(ZuWexoConnectDirect2("10.200.0.4", 500, 10003), 1);
    EXPECT_EQ(xportcount, 2);
    EXPECT_TRUE(sim.wait_accepted(2, Endpoint::Data, 2));
    // Host names resolve to their first IPv4 address.
    EXPECT_EQ(ZuWexoConnectDirect2("localhost", 500, 10010), 2);
    EXPECT_EQ(xportcount, 3);
    EXPECT_TRUE(sim.wait_accepted(3, Endpoint::Data, 2));
}

TEST_F(ConnectTest, ConnectDirect2TimeOutTakesTheRecordBack) {
    // Nobody owns this address on the namespace's link: the connect never completes.
    const int fds = open_fd_count();
    const Lines lines = logged([] { EXPECT_EQ(ZuWexoConnectDirect2("10.200.0.250", 300, 10003), -1); });
    EXPECT_EQ(error, 10110u);
    EXPECT_EQ(xportcount, 0);
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_EQ(lines, (Lines{"ZuWexoConnectDirect2", "ZuWexoRequestIdModel",
                            "ZuWexoConnectDirect2:10.200.0.250:300:10003"}));
}

TEST_F(ConnectTest, UnresolvableHostAddsNoRecord) {
    const int fds = open_fd_count();
    EXPECT_EQ(ZuWexoConnectDirect2("no-such-host.invalid", 300, 10003), -1);
    EXPECT_EQ(error, 10000u + EHOSTUNREACH);
    EXPECT_EQ(ZuWexoConnectDirect("no-such-host.invalid", 300), -1);
    EXPECT_EQ(error, 10000u + EHOSTUNREACH);
    EXPECT_EQ(ZuWexoConnectDirect2(nullptr, 300, 10003), -1);
    EXPECT_EQ(error, 10000u + EINVAL);
    EXPECT_EQ(xportcount, 0);
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(ConnectTest, DirectCallsRefuseA255RecordTable) {
    xportcount = 255;
    xportsearchcount = 255;
    const Lines lines = logged([] { EXPECT_EQ(ZuWexoConnectDirect2("10.200.0.2", 300, 10003), -1); });
    EXPECT_EQ(lines, (Lines{"ZuWexoConnectDirect2"}));
    EXPECT_EQ(error, 8u);
    EXPECT_EQ(ZuWexoConnectDirect("10.200.0.2", 300), -1);
    EXPECT_EQ(error, 8u);
    EXPECT_EQ(ZuWexoConnectOverIPMasquerade("10.200.0.2", 300, 0, 30704, 30718), -1);
    EXPECT_EQ(error, 8u);
    EXPECT_EQ(xportcount, 255);
}

}  // namespace
