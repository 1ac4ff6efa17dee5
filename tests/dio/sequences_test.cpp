// Multi-step behaviour that a single exchange does not show: partial
// progress, state left in the record, connections closed on every path.
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "dio_fixture.hpp"

using namespace diotest;
using testing::ElementsAre;
using testing::SizeIs;

namespace {

using SequenceTest = DioTest;

// Descriptors of this process connected to port as clients. The simulator
// runs in this process too, so a plain descriptor count would include its
// side of each connection, which it closes on its own schedule.
int client_sockets_to(uint16_t port) {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (dirent* entry = readdir(dir)) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (entry->d_name[0] != '.' &&
            getpeername(std::atoi(entry->d_name), reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == port) {
            ++count;
        }
    }
    closedir(dir);
    return count;
}

TEST_F(SequenceTest, AsciiTimeStopsAtTheFirstFailedOutput) {
    connect(17, 4, 60);
    sim.inject(kUnit, Endpoint::Data, fault(FaultKind::Silence, {}, {0x4F, 0x54, 0x22}));
    EXPECT_EQ(ZuWexoSetAutoSwitchingTime(0, 700), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 10000 + EAGAIN);
    EXPECT_THAT(frames(), SizeIs(3));  // output 3 is never asked
    EXPECT_EQ(sim.auto_switching(kUnit).first[3], 0);
}

TEST_F(SequenceTest, StatusReplyOfAnotherModelStillRefreshesTheBoardId) {
    wexosim::UnitConfig config;
    config.model = 3;
    config.board_id = 6;
    connect(config, 0);
    xportset[0].model_code = 4;
    unsigned bits = 0xFF;
    EXPECT_EQ(ZuWexoInPioAll(0, &bits), 0);
    EXPECT_EQ(bits, 0u);
    EXPECT_EQ(xportset[0].board_id, 6);
}

// The unit hangs up before the request: status exchange (kind 0) and "DI" (kind 4).
class ClosedChannelTest : public DioTest, public testing::WithParamInterface<int> {};

TEST_P(ClosedChannelTest, FailsWithTheSystemCode) {
    const int kind = GetParam();
    connect(kind == 0 ? 5 : 21, kind, 60);
    sim.close_connections(kUnit, Endpoint::Data);
    unsigned bits = 0xFF;
    const Logged log = logged(8, [&] { return ZuWexoInPioAll(0, &bits); });
    EXPECT_EQ(log.result, 0);
    EXPECT_GE(ZuWexoGetLastError(), 10000);
    EXPECT_THAT(log.lines, SizeIs(1));
    EXPECT_EQ(bits, 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ClosedChannelTest, testing::Values(0, 4));

TEST_F(SequenceTest, PinsWorkWithoutTheCommandChannelAndCloseTheirConnection) {
    wexosim::UnitConfig config;
    config.model = 1;
    config.module = true;
    connect(config, 0, 60);
    ZuWexoClose(0);
    const uint16_t port = xportset[0].cp_port;
    sim.set_pins(kUnit, 0x02);
    int cp[3] = {};
    EXPECT_EQ(ZuWexoInCP(0, &cp[0], &cp[1], &cp[2]), 1);
    EXPECT_THAT(cp, ElementsAre(0, 1, 0));
    EXPECT_EQ(client_sockets_to(port), 0);

    sim.inject(kUnit, Endpoint::Pins, fault(FaultKind::Silence));
    EXPECT_EQ(ZuWexoOutCP(0, 1, 0, 0), 0);
    EXPECT_EQ(client_sockets_to(port), 0);

    xportset[0].cp_port = 0;  // connected without the module's ports
    EXPECT_EQ(ZuWexoOutCP(0, 1, 1, 1), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 10000 + ECONNREFUSED);
    EXPECT_EQ(ZuWexoInCP(1, &cp[0], &cp[1], &cp[2]), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 3);
}

TEST_F(SequenceTest, PinModeRefusalOpensNoPinConnection) {
    wexosim::UnitConfig config;
    config.model = 1;
    config.module = true;
    config.cp_modes = std::array<uint8_t, 3>{5, 7, 0};
    connect(config, 0);
    int value = 0;
    EXPECT_EQ(ZuWexoOutPio(0, 2, 1), 0);
    EXPECT_EQ(ZuWexoGetOut(0, 2, &value), 0);
    EXPECT_EQ(sim.accepted(kUnit, Endpoint::Pins), 0);
    EXPECT_EQ(ZuWexoGetOut(0, 1, &value), 1);
    EXPECT_EQ(sim.accepted(kUnit, Endpoint::Pins), 1);
}

TEST_F(SequenceTest, NullResultPointersAreRefused) {
    connect(17, 4);
    unsigned u = 0;
    const int results[] = {
        ZuWexoInPio(0, 0, nullptr),
        ZuWexoInPioAll(0, nullptr),
        ZuWexoGetOut(0, 0, nullptr),
        ZuWexoGetOutAll(0, nullptr),
        ZuWexoGetAutoSwitchingActive(0, nullptr),
        ZuWexoGetAutoSwitchingPio(0, nullptr),
        ZuWexoGetAutoSwitchingTime(0, nullptr),
        ZuWexoGetAutoSwitchingChannel(0, 0, &u, nullptr),
        ZuWexoInCP(0, nullptr, nullptr, nullptr),
    };
    EXPECT_THAT(results, testing::Each(0));
    EXPECT_EQ(ZuWexoGetLastError(), 6);
    EXPECT_THAT(frames(), testing::IsEmpty());
}

}  // namespace
