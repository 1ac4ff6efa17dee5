// Peers that answer for someone else, answer late, or never finish: every
// wait ends by its deadline with a code, and only the host asked is believed.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/state.hpp"
#include "session/unit_context.hpp"
#include "wire/command_channel.hpp"
#include "wire/module_udp.hpp"
#include "wire/unit_socket.hpp"
#include "test_support.hpp"

using namespace wexo;
using wexotest::LibraryTest;

namespace {

sockaddr_in address_of(const char* ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// A datagram socket on ip, playing a module or a host that pretends to be one.
struct Peer {
    Socket socket{::socket(AF_INET, SOCK_DGRAM, 0)};
    sockaddr_in address{};
    explicit Peer(const char* ip) {
        address = address_of(ip, 0);
        bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t len = sizeof(address);
        getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &len);
    }
    void send_to(const sockaddr_in& to, std::vector<uint8_t> bytes) const {
        sendto(socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
};

sockaddr_in local_address(const ModuleSocket& s) {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &len);
    a.sin_addr.s_addr = inet_addr("10.200.0.1");
    return a;
}

const std::vector<uint8_t> kSetupReply = [] {
    std::vector<uint8_t> r(124, 0);
    r[3] = 0xF9;
    r[24] = 0x13;  // data port 10003 at offset 24
    r[25] = 0x27;
    return r;
}();

TEST(ModuleSocket, OnlyAWholeReplyOfTheHostAskedIsTaken) {
    const ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    ASSERT_TRUE(udp.valid());
    const Peer module("10.200.0.2");
    const Peer module_other_port("10.200.0.2");
    const Peer foreign("10.200.0.9");
    udp.send(std::vector<uint8_t>{0}, foreign.address);  // gives the socket its port
    const sockaddr_in me = local_address(udp);

    // Waiting before the query: stale, and dropped unread.
    module.send_to(me, kSetupReply);
    usleep(20000);
    // After the query: another host's answer, a late discovery reply (too
    // short for a setup record), then the module's own answer from another
    // port of the same address, its byte 3 whatever the module put there and
    // only as long as its last field needs.
    std::thread answers([&] {
        uint8_t query[4];
        recv(module.socket.get(), query, sizeof(query), 0);
        foreign.send_to(me, kSetupReply);
        std::vector<uint8_t> discovery(kMacHeld, 0);
        discovery[3] = 0xF7;
        module.send_to(me, discovery);
        std::vector<uint8_t> own(kSetupReply.begin(), kSetupReply.begin() + kSetupRecordHeld);
        own[3] = 0x00;
        own[24] = 0x14;
        module_other_port.send_to(me, own);
    });
    std::array<uint8_t, 124> reply{};
    sockaddr_in from{};
    const long length = udp.query(module.address, kSetupQuery, reply, kSetupRecordHeld, &from, 2000);
    answers.join();
    EXPECT_EQ(length, static_cast<long>(kSetupRecordHeld));
    EXPECT_EQ(reply[24], 0x14);
    EXPECT_EQ(from.sin_port, module_other_port.address.sin_port);
}

TEST(ModuleSocket, NoReplyOfTheHostAskedEndsAtTheDeadline) {
    const ModuleSocket udp = ModuleSocket::open(Broadcast::kNo);
    const Peer module("10.200.0.2");
    const Peer foreign("10.200.0.9");
    std::thread answers([&] {
        uint8_t query[4];
        recv(module.socket.get(), query, sizeof(query), 0);
        for (int i = 0; i < 20; ++i) foreign.send_to(local_address(udp), kSetupReply);
    });
    std::array<uint8_t, 124> reply{};
    errno = 0;
    EXPECT_EQ(udp.query(module.address, kSetupQuery, reply, kAcknowledgement, nullptr, 200), -1);
    EXPECT_EQ(errno, EAGAIN);
    answers.join();
}

// A unit on a plain TCP connection that sends `pattern` over and over, a
// few bytes at a time, until the test ends or 20 s have passed.
class DrippingUnit : public LibraryTest {
protected:
    Socket listener{::socket(AF_INET, SOCK_STREAM, 0)};
    Socket unit;
    std::atomic<bool> stop{false};
    std::atomic<bool> gave_up{false};
    std::thread drip;
    int index = -1;

    void start(std::vector<uint8_t> pattern, int timeout_ms) {
        sockaddr_in a = address_of("127.0.0.2", 0);
        bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(listener.get(), 1);
        socklen_t len = sizeof(a);
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len);
        index = add_record("127.0.0.2", ntohs(a.sin_port));
        xportset[index].timeout_ms = timeout_ms;
        ASSERT_EQ(open_command_channel(index), 1);
        xportset[index].connected = 1;
        unit = Socket(accept(listener.get(), nullptr, nullptr));
        drip = std::thread([this, pattern] {
            // Each piece comes well within the receive time-out.
            for (int i = 0; i < 1000 && !stop; ++i) {
                send(unit.get(), pattern.data(), pattern.size(), MSG_NOSIGNAL);
                usleep(20000);
            }
            gave_up = true;
        });
    }
    void TearDown() override {
        stop = true;
        if (drip.joinable()) drip.join();
        close(xportset[index].sock);
        LibraryTest::TearDown();
    }
};

TEST_F(DrippingUnit, RepliesToOtherCommandsCannotHoldTheAsciiReader) {
    start({'a', 'i', 0x20, 0xC8}, 100);
    const uint8_t request[] = {'D', 'I', 0xC8};
    uint8_t reply[kMaxAsciiReply];
    EXPECT_EQ(receive_until_0xc8(unit_link(index), reply, kMaxAsciiReply, request), 0);
    EXPECT_EQ(error, 10000u + EAGAIN);
    EXPECT_FALSE(gave_up);  // ended by its own deadline, not by the peer
}

TEST_F(DrippingUnit, AReplyThatNeverCompletesEndsBinaryReadsWithACode) {
    start({0x01}, 100);
    uint8_t reply[200];
    error = 0;
    EXPECT_EQ(receivedata(unit_link(index), reply, sizeof(reply)), 0);
    EXPECT_EQ(error, 10000u + EAGAIN);
    EXPECT_FALSE(gave_up);
}

// ---------------------------------------------------------------- refusals

TEST_F(LibraryTest, NullResultPointersAreRefusedWithCode6) {
    const int i = add_record("127.0.0.2", 10003);
    char* type = nullptr;
    int v = 0;
    const std::pair<const char*, std::function<int()>> calls[] = {
        {"GetIpAddress", [&] { return ZuWexoGetIpAddress(i, nullptr); }},
        {"GetMacAddress", [&] { return ZuWexoGetMacAddress(i, nullptr); }},
        {"GetFirmVersion", [&] { return ZuWexoGetFirmVersion(i, nullptr); }},
        {"GetFirmType", [&] { return ZuWexoGetFirmType(i, nullptr); }},
        {"GetFirmType2", [&] { return ZuWexoGetFirmType2(i, nullptr); }},
        {"GetId", [&] { return ZuWexoGetId(i, nullptr); }},
        {"GetModel", [&] { return ZuWexoGetModel(i, nullptr); }},
        {"GetCPMode", [&] { return ZuWexoGetCPMode(i, &v, &v, nullptr, &v); }},
        {"GetSerialParameter", [&] { return ZuWexoGetSerialParameter(i, &v, &v, &v, &v, &v, nullptr); }},
        {"InCP", [&] { return ZuWexoInCP(i, &v, nullptr, &v); }},
        {"RequestIdModel", [&] { return ZuWexoRequestIdModel(i, &v, nullptr); }},
    };
    for (const auto& [name, call] : calls) {
        error = 0;
        EXPECT_EQ(call(), 0) << name;
        EXPECT_EQ(error, 6u) << name;
    }
    EXPECT_EQ(ZuWexoGetFirmType(i, &type), 1);
}

TEST_F(LibraryTest, PortsBeyondSixteenBitsAreRefusedBeforeAnythingIsAdded) {
    const Peer module("10.200.0.2");
    const int fds = wexotest::open_fd_count();
    const struct {
        int data, cp, udp;
    } masquerade[] = {{65536, 30704, 30718}, {-1, 30704, 30718}, {0, 70000, 30718},
                      {0, 30704, 65536 + 30718}, {0, 30704, 0}};
    for (const auto& p : masquerade) {
        error = 0;
        EXPECT_EQ(ZuWexoConnectOverIPMasquerade("10.200.0.2", 100, p.data, p.cp, p.udp), -1);
        EXPECT_EQ(error, 6u);
    }
    for (int port : {-5, 65536, 10003 + 65536}) {
        error = 0;
        EXPECT_EQ(ZuWexoConnectDirect2("10.200.0.2", 100, port), -1);
        EXPECT_EQ(error, 6u);
    }
    EXPECT_EQ(xportcount, 0);
    EXPECT_EQ(wexotest::open_fd_count(), fds);
    uint8_t anything[8];
    EXPECT_EQ(recv(module.socket.get(), anything, sizeof(anything), MSG_DONTWAIT), -1);
}

}  // namespace
