// ZuWexoRequestIdModel against simulated boards: both exchanges, the log
// lines, the failure codes, and the temporary connection.
#include <cerrno>

#include "sim_fixture.hpp"

using namespace nettest;
using wexotest::open_fd_count;
using wexosim::Bytes;
using wexosim::FaultKind;
using Lines = std::vector<std::string>;

namespace {

class IdentifyTest : public SimTest {
protected:
    // Starts the units and adds one unconnected record per unit, in order,
    // with a short time-out so that a silent board fails fast.
    void start_boards(const std::vector<UnitConfig>& units) {
        start(units);
        for (int u = 0; u < static_cast<int>(units.size()); ++u) {
            const int i = add_record(units[u].ip, sim.port(u, Endpoint::Data));
            xportset[i].timeout_ms = 300;
        }
    }
};

UnitConfig board_with_status(const char* ip, Bytes status) {
    UnitConfig config = board_unit(ip);
    config.status_reply = std::move(status);
    return config;
}

UnitConfig mi_board(const char* ip, int model, int board_id) {
    UnitConfig config = board_unit(ip, 10003, model);
    config.board_id = board_id;
    return config;
}

TEST_F(IdentifyTest, BinaryReplyOverATemporaryConnection) {
    start_boards({board_with_status("10.200.0.2", {0x2D, 0x01})});
    xportset[0].unit_kind = 3;  // a binary reply leaves the kind alone
    const int fds = open_fd_count();
    int id = -1;
    int model = -1;
    const Lines lines = logged([&] { EXPECT_EQ(ZuWexoRequestIdModel(0, &id, &model), 1); });
    EXPECT_EQ(lines, (Lines{"ZuWexoRequestIdModel", "requestid 5555 -> 0 -> 2d01",
                            "ZuWexoRequestIdModel:0:2:2"}));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(model, 2);
    EXPECT_EQ(xportset[0].board_id, 2);
    EXPECT_EQ(xportset[0].model_code, 2);
    EXPECT_EQ(xportset[0].unit_kind, 3);
    EXPECT_EQ(xportset[0].connected, 0);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 1);
    ASSERT_TRUE(wait_open_connections(0, Endpoint::Data, 0));
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_EQ(sim.frames(0, Endpoint::Data), (std::vector<Bytes>{{0x55, 0x55}}));
}

TEST_F(IdentifyTest, MiRepliesAfterTheBinaryRequestGoesUnanswered) {
    start_boards({mi_board("10.200.0.2", 37, 3), mi_board("10.200.0.3", 27, 1),
                  mi_board("10.200.0.4", 17, 0)});
    const int fds = open_fd_count();
    int id = -1;
    int model = -1;
    Lines lines = logged([&] { EXPECT_EQ(ZuWexoRequestIdModel(0, &id, &model), 1); });
    EXPECT_EQ(lines, (Lines{"ZuWexoRequestIdModel", "requestid 4d49 -> 0 -> 6d690c05",
                            "ZuWexoRequestIdModel:0:3:37"}));
    EXPECT_EQ(error, 0u);  // the unanswered binary request is not reported
    EXPECT_EQ(id, 3);
    EXPECT_EQ(model, 0x25);
    EXPECT_EQ(xportset[0].unit_kind, 6);
    EXPECT_EQ(sim.frames(0, Endpoint::Data),
              (std::vector<Bytes>{{0x55, 0x55}, {'M', 'I', 0xC8}}));

    lines = logged([&] { EXPECT_EQ(ZuWexoRequestIdModel(1, &id, &model), 1); });
    EXPECT_EQ(lines, (Lines{"ZuWexoRequestIdModel", "requestid 4d49 -> 1 -> 6d690e0f0b",
                            "ZuWexoRequestIdModel:1:1:27"}));
    EXPECT_EQ(xportset[1].unit_kind, 5);

    ASSERT_EQ(ZuWexoRequestIdModel(2, &id, &model), 1);
    EXPECT_EQ(model, 0x11);
    EXPECT_EQ(xportset[2].unit_kind, 4);
    for (int u = 0; u < 3; ++u) ASSERT_TRUE(wait_open_connections(u, Endpoint::Data, 0));
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(IdentifyTest, FailuresKeepTheRecordAndCloseTheConnection) {
    UnitConfig silent = board_unit("10.200.0.3");
    silent.answer_ident = false;
    UnitConfig refusing = board_unit("10.200.0.5");
    start_boards({mi_board("10.200.0.2", 37, 3), silent, mi_board("10.200.0.4", 27, 1), refusing});
    sim.inject(0, Endpoint::Data, matching_fault(FaultKind::WrongEcho, {'M', 'I'}));
    sim.inject(2, Endpoint::Data, matching_fault(FaultKind::Truncate, {'M', 'I'}, 5));
    sim.set_connect_mode(3, Endpoint::Data, wexosim::ConnectMode::Refuse);
    for (int i = 0; i < 4; ++i) {
        xportset[i].board_id = 7;
        xportset[i].model_code = 5;
    }
    const int fds = open_fd_count();

    struct Case {
        int index;
        uint32_t code;
        Lines lines;
    };
    const Case cases[] = {
        {0, 9, {"ZuWexoRequestIdModel", "requestid MI check error.6e 69 c8"}},
        {1, 10000 + EAGAIN, {"ZuWexoRequestIdModel", "requestid MI receive error 1."}},
        {2, 10000 + EAGAIN, {"ZuWexoRequestIdModel", "requestid MI receive error 2."}},
        {3, 10000 + ECONNREFUSED, {"ZuWexoRequestIdModel"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        int id = -1;
        int model = -1;
        const Lines lines = logged([&] { EXPECT_EQ(ZuWexoRequestIdModel(c.index, &id, &model), 0); });
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(error, c.code);
        EXPECT_EQ(id, -1);
        EXPECT_EQ(model, -1);
        EXPECT_EQ(xportset[c.index].board_id, 7);
        EXPECT_EQ(xportset[c.index].model_code, 5);
        EXPECT_EQ(xportset[c.index].connected, 0);
        ASSERT_TRUE(wait_open_connections(c.index, Endpoint::Data, 0));
        EXPECT_EQ(open_fd_count(), fds);
    }
}

TEST_F(IdentifyTest, ConnectedUnitIsAskedOverItsChannel) {
    start_boards({board_with_status("10.200.0.2", {0x2D, 0x01})});
    ASSERT_EQ(ZuWexoSetModel(0, 2), 1);
    ASSERT_EQ(ZuWexoConnect(0), 0);
    ASSERT_TRUE(wait_open_connections(0, Endpoint::Data, 1));
    const int channel = xportset[0].sock;
    const int fds = open_fd_count();
    int id = -1;
    int model = -1;
    ASSERT_EQ(ZuWexoRequestIdModel(0, &id, &model), 1);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(xportset[0].connected, 1);
    EXPECT_EQ(xportset[0].sock, channel);
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 1);
}

}  // namespace
