// ZuWexoSendSerialData and ZuWexoReceiveSerialData on a simulated unit's
// command channel.
#include <cerrno>

#include "sim_fixture.hpp"

using namespace nettest;
using wexosim::Bytes;
using Lines = std::vector<std::string>;

namespace {

class SerialTest : public SimTest {
protected:
    int index = -1;

    void SetUp() override {
        SimTest::SetUp();
        start({board_unit("10.200.0.2")});
        index = add_record("10.200.0.2", sim.port(0, Endpoint::Data), 2);
        xportset[index].timeout_ms = 300;
        ASSERT_EQ(ZuWexoConnect(index), index);
        ASSERT_TRUE(sim.wait_accepted(0, Endpoint::Data, 1));
    }

    // Bytes the unit sends unasked, once they have reached the library's socket.
    void unit_sends(Bytes bytes) {
        sim.send_unsolicited(0, Endpoint::Data, std::move(bytes));
        ASSERT_TRUE(wait_input(xportset[index].sock));
    }
};

TEST_F(SerialTest, SendDropsUnreadInputAndReturnsTheCount) {
    unit_sends({0x01, 0x02, 0x03});
    const unsigned char data[10] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
    const Lines lines = logged([&] { EXPECT_EQ(ZuWexoSendSerialData(index, data, 10), 10); });
    EXPECT_EQ(lines, (Lines{"ZuWexoSendSerialData", "sendserial 10:61626364... -> 0"}));
    EXPECT_EQ(error, 0u);
    ASSERT_TRUE(sim.wait_frames(0, Endpoint::Data, 10));
    Bytes received;
    for (const Bytes& frame : sim.frames(0, Endpoint::Data)) {
        received.insert(received.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(received, Bytes(data, data + 10));

    // The three bytes that were waiting are gone.
    unsigned char buffer[16];
    EXPECT_EQ(ZuWexoReceiveSerialData(index, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(error, 10000u + EAGAIN);
}

TEST_F(SerialTest, TraceLinesShowOnlyTheBytesThereAre) {
    const unsigned char data[2] = {0xAB, 0xCD};
    Lines lines = logged([&] { EXPECT_EQ(ZuWexoSendSerialData(index, data, 2), 2); });
    EXPECT_EQ(lines, (Lines{"ZuWexoSendSerialData", "sendserial 2:abcd... -> 0"}));

    unit_sends({0xAA, 0xBB, 0xCC});
    unsigned char buffer[100] = {};
    lines = logged([&] { EXPECT_EQ(ZuWexoReceiveSerialData(index, buffer, 100), 3); });
    EXPECT_EQ(lines, (Lines{"ZuWexoReceiveSerialData", "recvserial 0 -> 100:aabbcc..."}));
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0xAA, 0xBB, 0xCC, 0x00}));
}

TEST_F(SerialTest, ReceiveTimeOutAndClosedConnection) {
    unsigned char buffer[8];
    Lines lines = logged([&] { EXPECT_EQ(ZuWexoReceiveSerialData(index, buffer, 8), 0); });
    EXPECT_EQ(lines, (Lines{"ZuWexoReceiveSerialData"}));
    EXPECT_EQ(error, 10000u + EAGAIN);

    sim.close_connections(0, Endpoint::Data);
    ASSERT_TRUE(wait_input(xportset[index].sock));
    lines = logged([&] { EXPECT_EQ(ZuWexoReceiveSerialData(index, buffer, 8), 0); });
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(lines, (Lines{"ZuWexoReceiveSerialData", "recvserial 0 -> 8:..."}));
}

TEST_F(SerialTest, RefusedWithoutAnOpenChannel) {
    const unsigned char data[4] = {1, 2, 3, 4};
    unsigned char buffer[4];
    ASSERT_EQ(ZuWexoClose(index), 1);
    EXPECT_EQ(ZuWexoSendSerialData(index, data, 4), 0);
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(ZuWexoReceiveSerialData(index, buffer, 4), 0);
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(sim.frames(0, Endpoint::Data).size(), 0u);

    EXPECT_EQ(ZuWexoSendSerialData(1, data, 4), 0);
    EXPECT_EQ(error, 3u);
    EXPECT_EQ(ZuWexoReceiveSerialData(256, buffer, 4), 0);
    EXPECT_EQ(error, 6u);
    ASSERT_EQ(ZuWexoConnect(index), index);
    EXPECT_EQ(ZuWexoSendSerialData(index, data, -1), 0);
    EXPECT_EQ(error, 6u);
    EXPECT_EQ(ZuWexoReceiveSerialData(index, nullptr, 4), 0);
    EXPECT_EQ(error, 6u);
    ZuWexoEnd();
    EXPECT_EQ(ZuWexoSendSerialData(index, data, 4), 0);
    EXPECT_EQ(error, 1u);
}

}  // namespace
