// Unit sockets and the command-channel readers, over real sockets against
// listeners and the simulator.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/state.hpp"
#include "session/unit_context.hpp"
#include "wire/command_channel.hpp"
#include "wire/exchange.hpp"
#include "wire/unit_socket.hpp"
#include "test_support.hpp"
#include "wexosim.hpp"

using namespace wexo;
using wexotest::LibraryTest;
using wexotest::open_fd_count;
using wexotest::StdoutCapture;

namespace {

// A plain TCP listener on ip with an ephemeral port.
struct Listener {
    Socket socket;
    uint16_t port = 0;
    explicit Listener(const char* ip) : socket(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &a.sin_addr);
        EXPECT_EQ(bind(socket.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        EXPECT_EQ(listen(socket.get(), 4), 0);
        socklen_t len = sizeof(a);
        getsockname(socket.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    Socket accept_one() { return Socket(::accept(socket.get(), nullptr, nullptr)); }
};

TEST_F(LibraryTest, SocketConnectRefusedAtOnce) {
    int i = add_record("127.0.0.2", 1);
    const int fds = open_fd_count();
    int fd = -1;
    Listener closed_port("127.0.0.2");
    const uint16_t port = closed_port.port;
    closed_port.socket.reset();
    EXPECT_EQ(socketconnect(&fd, xportset[i].unit_addr, xportset[i].timeout_ms, port), 0);
    EXPECT_EQ(error, 10000u + ECONNREFUSED);
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(LibraryTest, SocketConnectTimesOutWith10110) {
    // Nobody owns this address on the namespace's link, so the connect never completes.
    int i = add_record("10.200.0.250", 10003);
    xportset[i].timeout_ms = 150;
    const int fds = open_fd_count();
    int fd = -1;
    EXPECT_EQ(socketconnect(&fd, xportset[i].unit_addr, xportset[i].timeout_ms, 10003), 0);
    EXPECT_EQ(error, 10110u);
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(LibraryTest, SocketConnectBindsTheSelectedInterfaceAndSetsTimeouts) {
    Listener listener("127.0.0.2");
    int i = add_record("127.0.0.2", listener.port);
    xportset[i].timeout_ms = 1500;
    ASSERT_EQ(ZuWexoSelectNetworkDevice("127.0.0.5"), 1);
    int fd = -1;
    ASSERT_EQ(socketconnect(&fd, xportset[i].unit_addr, xportset[i].timeout_ms, listener.port), 1);
    Socket client(fd);
    sockaddr_in local{};
    socklen_t len = sizeof(local);
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
    char text[16];
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof(text));
    EXPECT_STREQ(text, "127.0.0.5");
    timeval tv{};
    len = sizeof(tv);
    getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len);
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec, 500000);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);  // back in blocking mode
}

TEST_F(LibraryTest, SelectNetworkDevice) {
    ASSERT_EQ(ZuWexoSelectNetworkDevice("10.200.0.1"), 1);
    EXPECT_EQ(g_fSet_addr, 1);
    EXPECT_EQ(g_lanaddr, inet_addr("10.200.0.1"));
    error = 4;
    EXPECT_EQ(ZuWexoSelectNetworkDevice("not an address"), 0);
    EXPECT_EQ(ZuWexoSelectNetworkDevice("255.255.255.255"), 0);
    EXPECT_EQ(error, 4u);  // neither clears nor sets the code
    // An address this host does not have is refused with the bind's reason.
    EXPECT_EQ(ZuWexoSelectNetworkDevice("192.0.2.77"), 0);
    EXPECT_EQ(error, 10000u + EADDRNOTAVAIL);
    EXPECT_EQ(g_lanaddr, inet_addr("10.200.0.1"));
    EXPECT_EQ(ZuWexoSelectNetworkDevice(nullptr), 1);
    EXPECT_EQ(g_fSet_addr, 0);
    EXPECT_EQ(g_lanaddr, 0u);
}

TEST_F(LibraryTest, ABindToAVanishedInterfaceFailsTheConnection) {
    Listener listener("127.0.0.2");
    int i = add_record("127.0.0.2", listener.port);
    g_lanaddr = inet_addr("192.0.2.77");  // selected, then gone from the host
    g_fSet_addr = 1;
    const int fds = open_fd_count();
    int fd = -1;
    EXPECT_EQ(socketconnect(&fd, xportset[i].unit_addr, xportset[i].timeout_ms, listener.port), 0);
    EXPECT_EQ(error, 10000u + EADDRNOTAVAIL);
    EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(LibraryTest, CloseReleasesTheChannelOnce) {
    Listener listener("127.0.0.2");
    int i = add_record("127.0.0.2", listener.port);
    EXPECT_EQ(ZuWexoClose(i), 0);  // not connected: 0 with code 0
    EXPECT_EQ(error, 0u);
    const int fds = open_fd_count();
    ASSERT_EQ(socketconnect(&xportset[i].sock, xportset[i].unit_addr, xportset[i].timeout_ms, listener.port), 1);
    xportset[i].connected = 1;
    ZuWexoSetLogLevel(3);
    StdoutCapture out;
    out.start();
    EXPECT_EQ(ZuWexoClose(i), 1);
    EXPECT_EQ(out.stop(), "ZuWexoClose\nZuWexoClose:0\n");
    EXPECT_EQ(xportset[i].connected, 0);
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_EQ(ZuWexoClose(300), 0);
    EXPECT_EQ(error, 6u);
}

TEST(HexFields, WidthsAndParsing) {
    EXPECT_STREQ(VAL2HEX(0x1A5, 2), "A5");
    EXPECT_STREQ(VAL2HEX(300, 3), "12C");
    EXPECT_STREQ(VAL2HEX(0xFFFFFFFF, 8), "FFFFFFFF");
    EXPECT_STREQ(VAL2HEX(5, 4), "0005");
    EXPECT_EQ(HEX2VAL("00ff", 4), 255u);
    EXPECT_EQ(HEX2VAL("FFFFFF", 6), 16777215u);
    EXPECT_EQ(HEX2VAL("0FXYZ", 4), 15u);   // stops at the first non-digit
    EXPECT_EQ(HEX2VAL("ZZ", 2), 0u);
    EXPECT_EQ(HEX2VAL("12345678", 4), 0x1234u);
    EXPECT_EQ(HEX2VAL("7", 4), 7u);        // shorter text: no read past its NUL
    Frame f = Frame::ascii('O', 'T');
    f.push_small(1).push_hex(5, 2).push_hex(12, 2).terminate();
    const std::vector<uint8_t> expected = {0x4F, 0x54, 0x21, 0x30, 0x35, 0x30, 0x43, 0xC8};
    EXPECT_EQ(std::vector<uint8_t>(f.data(), f.data() + f.size()), expected);
}

// A record connected to one simulated board.
class ReaderTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        wexosim::UnitConfig unit;
        unit.ip = "127.0.0.2";
        unit.model = 17;
        unit.data_port = 0;
        sim.add_unit(unit);
        sim.start();
        index = add_record("127.0.0.2", sim.port(0, wexosim::Endpoint::Data), 17, 4);
        xportset[index].timeout_ms = 300;
        ASSERT_EQ(open_command_channel(index), 1);
        xportset[index].connected = 1;
    }
    void TearDown() override {
        LibraryTest::TearDown();
        sim.stop();
    }
    // Sends "DI" and reads the reply with max bytes.
    int read_di(std::vector<uint8_t>& reply, int max = kMaxAsciiReply) {
        const uint8_t request[] = {'D', 'I', 0xC8};
        EXPECT_TRUE(send_request(unit_link(index), request, nullptr));
        reply.assign(static_cast<size_t>(max), 0);
        return receive_until_0xc8(unit_link(index), reply.data(), max, request);
    }
    // Bytes left for the next reader, read and counted: those the channel
    // already received and those still in the socket.
    size_t waiting() {
        Inbox& inbox = unit_link(index).inbox;
        const size_t received = inbox.size();
        inbox.clear();
        pollfd p{xportset[index].sock, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) return received;
        uint8_t buffer[8192];
        const ssize_t n = recv(xportset[index].sock, buffer, sizeof(buffer), MSG_DONTWAIT);
        return received + (n > 0 ? static_cast<size_t>(n) : 0);
    }

    wexosim::Simulator sim;
    int index = 0;
};

TEST_F(ReaderTest, ForeignFramesAreSkipped) {
    wexosim::Fault foreign{.kind = wexosim::FaultKind::Foreign};
    foreign.bytes = {'a', 'i', 0x21, 0x22, 0xC8, 'x', 'y', 0xC8};
    sim.inject(0, wexosim::Endpoint::Data, foreign);
    sim.set_inputs(0, 0x5);
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_di(reply), 4);
    EXPECT_EQ(reply[0], 'd');
    EXPECT_EQ(reply[1], 'i');
    EXPECT_EQ(reply[2], 0x25);
    EXPECT_EQ(reply[3], 0xC8);
}

TEST_F(ReaderTest, FrameOfExactlyMaxBytesIsAcceptedAndNothingAfterItConsumed) {
    wexosim::Fault raw{.kind = wexosim::FaultKind::Raw};
    raw.bytes.assign(256, 0x41);
    raw.bytes[0] = 'd';
    raw.bytes[1] = 'i';
    raw.bytes[255] = 0xC8;
    raw.bytes.insert(raw.bytes.end(), {'n', 'e', 'x', 't'});
    sim.inject(0, wexosim::Endpoint::Data, raw);
    std::vector<uint8_t> reply;
    EXPECT_EQ(read_di(reply), 256);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(waiting(), 4u);
}

// Bytes after a reply are kept for the next reader exactly as the socket
// would have kept them: the next reply, the serial receive, or the drain.
TEST_F(ReaderTest, BytesAfterAReplyWaitForTheNextReader) {
    wexosim::Fault raw{.kind = wexosim::FaultKind::Raw};
    raw.bytes = {'d', 'i', 0x25, 0xC8, 'd', 'i', 0x2A, 0xC8, 'x', 'y', 'z'};
    sim.inject(0, wexosim::Endpoint::Data, raw);
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_di(reply), 4);
    EXPECT_EQ(reply[2], 0x25);
    const uint8_t request[] = {'D', 'I', 0xC8};
    ASSERT_EQ(receive_until_0xc8(unit_link(index), reply.data(), kMaxAsciiReply, request), 4);
    EXPECT_EQ(reply[2], 0x2A);
    uint8_t two[2] = {};
    ASSERT_EQ(receive_some(unit_link(index), two, 2), 2);
    EXPECT_EQ(two[0], 'x');
    EXPECT_EQ(receivedata(unit_link(index), two, 1), 1);
    EXPECT_EQ(two[0], 'z');

    raw.bytes = {'d', 'i', 0x25, 0xC8, 's', 't', 'a', 'l', 'e'};
    sim.inject(0, wexosim::Endpoint::Data, raw);
    ASSERT_EQ(read_di(reply), 4);
    ClearReceiveBuffer(unit_link(index));
    EXPECT_EQ(waiting(), 0u);
}

TEST_F(ReaderTest, MaxBytesWithoutTerminatorFailsWithNine) {
    wexosim::Fault raw{.kind = wexosim::FaultKind::Raw};
    raw.bytes.assign(257, 0x41);
    raw.bytes[0] = 'd';
    raw.bytes[1] = 'i';
    raw.bytes[256] = 0xC8;
    sim.inject(0, wexosim::Endpoint::Data, raw);
    std::vector<uint8_t> reply;
    EXPECT_EQ(read_di(reply), 0);
    EXPECT_EQ(error, 9u);
    EXPECT_EQ(waiting(), 1u);  // exactly max bytes were taken
    sim.inject(0, wexosim::Endpoint::Data, {.kind = wexosim::FaultKind::Overlong});
    EXPECT_EQ(read_di(reply, 5), 0);
    EXPECT_EQ(error, 9u);
}

TEST_F(ReaderTest, TricklingBytesAreCollected) {
    wexosim::Fault split{.kind = wexosim::FaultKind::Split};
    split.piece = 1;
    split.pause = wexosim::Millis{15};
    sim.inject(0, wexosim::Endpoint::Data, split);
    sim.set_inputs(0, 0xF);
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_di(reply), 4);
    EXPECT_EQ(reply[2], 0x2F);
}

TEST_F(ReaderTest, EndOfStreamEndsBothReadersAtOnce) {
    sim.inject(0, wexosim::Endpoint::Data, {.kind = wexosim::FaultKind::CloseMidReply});
    std::vector<uint8_t> reply;
    EXPECT_EQ(read_di(reply), 0);
    EXPECT_EQ(error, 10000u + ECONNRESET);
    uint8_t two[2];
    EXPECT_EQ(receivedata(unit_link(index), two, 2), 0);
    EXPECT_EQ(error, 10000u + ECONNRESET);
}

TEST_F(ReaderTest, SilenceCostsElevenTimeoutsThenTheSystemCode) {
    sim.inject(0, wexosim::Endpoint::Data, {.kind = wexosim::FaultKind::Silence});
    xportset[index].timeout_ms = 20;
    set_socket_timeout(xportset[index].sock, SO_RCVTIMEO, 20);
    reset_unit_inbox(index, xportset[index].sock, 20);
    std::vector<uint8_t> reply;
    EXPECT_EQ(read_di(reply), 0);
    EXPECT_EQ(error, 10000u + EAGAIN);
}

TEST_F(ReaderTest, ReceiveDataWaitsForATricklingReply) {
    wexosim::Fault split{.kind = wexosim::FaultKind::Split};
    split.piece = 1;
    split.pause = wexosim::Millis{5};
    sim.inject(0, wexosim::Endpoint::Data, split);
    const uint8_t request[] = {'D', 'I', 0xC8};
    ASSERT_TRUE(send_request(unit_link(index), request, nullptr));
    uint8_t reply[4] = {};
    EXPECT_EQ(receivedata(unit_link(index), reply, 4), 4);
    EXPECT_EQ(reply[0], 'd');
    EXPECT_EQ(reply[3], 0xC8);
}

TEST_F(ReaderTest, DrainDiscardsWaitingInputWithinTheWindow) {
    sim.send_unsolicited(0, wexosim::Endpoint::Data, wexosim::Bytes(5000, 0x33));
    // Wait until all of it has arrived before draining.
    for (int i = 0; i < 100; ++i) {
        int pending = 0;
        ioctl(xportset[index].sock, FIONREAD, &pending);
        if (pending >= 5000) break;
        usleep(2000);
    }
    ClearReceiveBuffer(unit_link(index));
    EXPECT_EQ(waiting(), 0u);
    error = 7;
    ClearReceiveBuffer(unit_link(index));  // idle: returns, code untouched
    EXPECT_EQ(error, 7u);
}

TEST_F(ReaderTest, ExchangeHelpersWriteTheirErrorLines) {
    ZuWexoSetLogLevel(8);
    StdoutCapture out;
    sim.inject(0, wexosim::Endpoint::Data, {.kind = wexosim::FaultKind::CloseMidReply});
    out.start();
    Reply reply;
    const uint8_t request[] = {'D', 'I', 0xC8};
    const Command di{.name = "get_di_DI", .drain = Drain::kYes, .reply = ReplyShape::ascii()};
    EXPECT_FALSE(exchange(unit_link(index), di, request, reply));
    shutdown(xportset[index].sock, SHUT_WR);
    EXPECT_FALSE(send_request(unit_link(index), request, "get_di_DI"));
    EXPECT_EQ(error, 10000u + EPIPE);
    EXPECT_EQ(out.stop(), "get_di_DI recv error.\nget_di_DI send error.\n");
}

}  // namespace
