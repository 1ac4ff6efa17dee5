// The simulator seen from a raw socket client: framing, faults, connection
// behaviour, the module's datagrams and pins, the control language.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "raw_client.hpp"

namespace {

using namespace simtest;

// ---------------------------------------------------------------- board frames

TEST(SimBoard, IdentificationFormsFollowTheModel) {
    Simulator sim({board(5, 1), board(7, 1, "127.0.0.3"), board(37, 3, "127.0.0.4"), board(27, 1, "127.0.0.5")});
    sim.set_inputs(0, 0x0B);
    sim.set_inputs(1, 0x03);
    Client plain("127.0.0.2", sim.port(0, Endpoint::Data));
    plain.send(Bytes{0x55, 0x55});
    EXPECT_EQ(plain.exactly(2), (Bytes{0xDE, 0x05}));  // input 0 in bit 7, inputs 1..4 in byte 1
    plain.send(ascii("MI"));
    EXPECT_TRUE(plain.some(200ms).empty());            // binary boards do not know "MI"

    Client extended("127.0.0.3", sim.port(1, Endpoint::Data));
    extended.send(Bytes{0x55, 0x55});
    EXPECT_EQ(extended.exactly(2), (Bytes{0x4E, 0x73}));

    Client basic("127.0.0.4", sim.port(2, Endpoint::Data));
    basic.send(Bytes{0x55, 0x55});
    EXPECT_TRUE(basic.some(200ms).empty());            // MI boards stay silent to 0x55 0x55
    basic.send(ascii("MI"));
    EXPECT_EQ(basic.exactly(5), (Bytes{'m', 'i', 0x0C, 0x05, 0xC8}));

    Client ext("127.0.0.5", sim.port(3, Endpoint::Data));
    ext.send(ascii("MI"));
    EXPECT_EQ(ext.exactly(6), (Bytes{'m', 'i', 0x0E, 0x0F, 0x0B, 0xC8}));
}

TEST(SimBoard, IdentificationCanBeSilencedOrReplaced) {
    UnitConfig c = board(37);
    c.status_reply = Bytes{0x2D, 0x01};
    Simulator sim({c});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    cl.send(Bytes{0x55, 0x55});
    EXPECT_EQ(cl.exactly(2), (Bytes{0x2D, 0x01}));
    sim.set_answer_ident(0, false);
    cl.send(ascii("MI"));
    EXPECT_TRUE(cl.some(200ms).empty());
}

TEST(SimBoard, DigitalIoRoundTripsAndStreamParsing) {
    Simulator sim({board(19), board(3, 0, "127.0.0.3"), board(21, 0, "127.0.0.4")});
    Client ascii_board("127.0.0.2", sim.port(0, Endpoint::Data));
    // Two requests in one segment, then one split over two segments.
    ascii_board.send(Bytes{'D', 'O', 0x21, 0x22, 0xC8, 'D', 'Y', 0xC8});
    EXPECT_EQ(ascii_board.exactly(10), (Bytes{'d', 'o', 0x21, 0x22, 0xC8, 'd', 'y', 0x21, 0x22, 0xC8}));
    ASSERT_TRUE(sim.wait_frames(0, Endpoint::Data, 2));
    EXPECT_EQ(sim.outputs(0), 0x21u);
    ascii_board.send(Bytes{'D', 'K', 0x20, 0x21});
    ascii_board.send(Bytes{0x20, 0x20, 0xC8});
    ASSERT_TRUE(sim.wait_frames(0, Endpoint::Data, 3));
    EXPECT_EQ(sim.outputs(0), 0x20u);
    EXPECT_EQ(sim.frames(0, Endpoint::Data).at(2), (Bytes{'D', 'K', 0x20, 0x21, 0x20, 0x20, 0xC8}));

    Client binary("127.0.0.3", sim.port(1, Endpoint::Data));
    sim.set_outputs(1, 0x05);
    binary.send(Bytes{0xE0, 0x07, 0xF0, 0x15});  // 0x07 is no command: ignored
    EXPECT_EQ(binary.exactly(4), (Bytes{0xE0, 0x05, 0xF0, 0x15}));
    EXPECT_EQ(sim.outputs(1), 0x15u);
    EXPECT_EQ(sim.frames(1, Endpoint::Data), (std::vector<Bytes>{{0xE0}, {0x07}, {0xF0, 0x15}}));

    Client inputs("127.0.0.4", sim.port(2, Endpoint::Data));
    sim.set_inputs(2, 0x14);
    inputs.send(ascii("DI"));
    EXPECT_EQ(inputs.exactly(5), (Bytes{'d', 'i', 0x24, 0x21, 0xC8}));  // one byte per four inputs
}

TEST(SimBoard, DoAndDyReplies) {
    Simulator sim({board(40)});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    cl.send(ascii("DY"));
    EXPECT_EQ(cl.exactly(4), (Bytes{'d', 'y', 0x20, 0xC8}));
    cl.send(Bytes{'D', 'O', 0x22, 0x20, 0xC8});
    EXPECT_EQ(cl.exactly(5), (Bytes{'d', 'o', 0x22, 0x20, 0xC8}));
    EXPECT_EQ(sim.outputs(0), 0x02u);
}

TEST(SimBoard, AutoSwitchingCommands) {
    Simulator sim({board(19), board(3, 0, "127.0.0.3")});
    Client a("127.0.0.2", sim.port(0, Endpoint::Data));
    a.send(Bytes{'O', 'T', 0x21, '0', '5', '0', 'C', 0xC8});
    EXPECT_EQ(a.exactly(8), (Bytes{'o', 't', 0x21, '0', '5', '0', 'C', 0xC8}));
    a.send(Bytes{'O', 'I', 0x21, 0xC8});
    EXPECT_EQ(a.exactly(8), (Bytes{'o', 'i', 0x21, '0', '5', '0', 'C', 0xC8}));
    a.send(Bytes{'O', 'C', 0x25, 0x22, 0xC8, 'O', 'H', 0xC8});
    EXPECT_EQ(a.exactly(10), (Bytes{'o', 'c', 0x25, 0x22, 0xC8, 'o', 'h', 0x25, 0x22, 0xC8}));
    a.send(Bytes{'O', 'L', 0x28, 0xC8, 'O', 'J', 0xC8});
    EXPECT_EQ(a.exactly(8), (Bytes{'o', 'l', 0x28, 0xC8, 'o', 'j', 0x28, 0xC8}));
    auto as = sim.auto_switching(0);
    EXPECT_TRUE(as.active);
    EXPECT_EQ(as.mask, 0x25u);
    EXPECT_EQ(as.first[1], 5);
    EXPECT_EQ(as.second[1], 12);

    Client b("127.0.0.3", sim.port(1, Endpoint::Data));
    b.send(Bytes{0xF2, 0x14, 0xE2, 0xF3, 0x1F, 0xE3, 0xF1, 0x01, 0xE1});
    EXPECT_EQ(b.exactly(12), (Bytes{0xF2, 0x14, 0xE2, 0x14, 0xF3, 0x1F, 0xE3, 0x1F, 0xF1, 0x01, 0xE1, 0x01}));
}

TEST(SimBoard, TestsCanAddCommands) {
    Simulator sim({board(41)});
    sim.set_ascii_command(0, "AI", [](const Bytes& f) -> std::optional<Bytes> {
        return Bytes{'a', 'i', f[2], '0', '1', '2', '3', 0xC8};
    });
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    cl.send(Bytes{'A', 'I', 0x21, 0xC8});
    EXPECT_EQ(cl.exactly(8), (Bytes{'a', 'i', 0x21, '0', '1', '2', '3', 0xC8}));
}

// ---------------------------------------------------------------- faults

TEST(SimFaults, ShapesOfTheReply) {
    Simulator sim({board(19)});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    auto ask = [&](wexosim::Fault f, std::size_t n) {
        sim.inject(0, Endpoint::Data, f);
        cl.send(ascii("DY"));
        return cl.exactly(n, 500ms);
    };
    const Bytes dy{'d', 'y', 0x20, 0x20, 0xC8};
    EXPECT_TRUE(ask({.kind = FaultKind::Silence}, 5).empty());
    EXPECT_EQ(ask({.kind = FaultKind::Stale}, 10), (Bytes{1, 2, 3, 4, 5, 'd', 'y', 0x20, 0x20, 0xC8}));
    EXPECT_EQ(ask({.kind = FaultKind::Foreign}, 10), (Bytes{'a', 'i', 0x20, 0x20, 0xC8, 'd', 'y', 0x20, 0x20, 0xC8}));
    EXPECT_EQ(ask({.kind = FaultKind::Truncate}, 5), (Bytes{'d', 'y', 0x20, 0x20}));
    EXPECT_EQ(ask({.kind = FaultKind::WrongEcho}, 5), (Bytes{'e', 'y', 0x20, 0x20, 0xC8}));
    EXPECT_EQ(ask({.kind = FaultKind::Raw, .bytes = {0x01, 0xC8}}, 2), (Bytes{0x01, 0xC8}));
    Bytes overlong = ask({.kind = FaultKind::Overlong}, 301);
    ASSERT_EQ(overlong.size(), 300u);
    EXPECT_EQ(std::count(overlong.begin(), overlong.end(), 0xC8), 0);
    Bytes garbage = ask({.kind = FaultKind::Garbage}, 5);
    EXPECT_EQ(garbage.size(), 5u);
    EXPECT_NE(garbage, dy);
    EXPECT_EQ(ask({}, 5), dy);  // back to normal

    // Split: the first piece arrives alone, the rest after the pauses.
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::Split, .piece = 2, .pause = 100ms});
    cl.send(ascii("DY"));
    EXPECT_EQ(cl.some(), (Bytes{'d', 'y'}));
    EXPECT_EQ(cl.exactly(3), (Bytes{0x20, 0x20, 0xC8}));

    // Close mid-reply: part of the reply, then the end of the stream.
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::CloseMidReply, .length = 3});
    cl.send(ascii("DY"));
    EXPECT_EQ(cl.exactly(5), (Bytes{'d', 'y', 0x20}));
    EXPECT_TRUE(cl.eof);
}

TEST(SimFaults, DripAndFlood) {
    Simulator sim({board(19)});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::Drip, .pause = 100ms, .length = 2});
    cl.send(ascii("DY"));
    EXPECT_EQ(cl.some(), (Bytes{'d'}));  // one byte at a time
    Bytes rest = cl.exactly(6, 2000ms);
    ASSERT_EQ(rest.size(), 6u);
    EXPECT_EQ(Bytes(rest.begin(), rest.begin() + 4), (Bytes{'y', 0x20, 0x20, 0xC8}));
    EXPECT_EQ(std::count(rest.begin() + 4, rest.end(), 0xC8), 0);  // then junk that never ends a frame

    sim.inject(0, Endpoint::Data, {.kind = FaultKind::Flood, .pause = 0ms, .frames = 3});
    cl.send(ascii("DY"));
    const Bytes ai{'a', 'i', 0x20, 0xC8};
    Bytes flood;
    for (int i = 0; i < 3; ++i) flood.insert(flood.end(), ai.begin(), ai.end());
    EXPECT_EQ(cl.exactly(12), flood);
    EXPECT_TRUE(cl.some(200ms).empty());  // instead of the reply
}

TEST(SimFaults, CountMatchDelayAndClear) {
    Simulator sim({board(3)});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    // Only F0 replies are affected; E0 passes and does not use up the count.
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::Raw, .count = wexosim::kForever, .bytes = {0xF0, 0x14}, .match = {0xF0}});
    cl.send(Bytes{0xE0, 0xF0, 0x15, 0xF0, 0x15});
    EXPECT_EQ(cl.exactly(6), (Bytes{0xE0, 0x00, 0xF0, 0x14, 0xF0, 0x14}));
    EXPECT_EQ(sim.pending_faults(0, Endpoint::Data), 1u);
    sim.clear_faults(0, Endpoint::Data);
    cl.send(Bytes{0xF0, 0x15});
    EXPECT_EQ(cl.exactly(2), (Bytes{0xF0, 0x15}));

    // A matching fault also answers requests the board would ignore.
    sim.inject(0, Endpoint::Data, {.kind = FaultKind::Raw, .bytes = {0xE6, 1, 2}, .match = {0xE6}});
    cl.send(Bytes{0xE6});
    EXPECT_EQ(cl.exactly(3), (Bytes{0xE6, 1, 2}));

    sim.inject(0, Endpoint::Data, {.kind = FaultKind::None, .delay = 300ms});
    cl.send(Bytes{0xE0});
    EXPECT_TRUE(cl.some(100ms).empty());
    EXPECT_EQ(cl.exactly(2), (Bytes{0xE0, 0x15}));
}

TEST(SimFaults, UnsolicitedBytesAndClosing) {
    Simulator sim({board(3)});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    ASSERT_TRUE(sim.wait_accepted(0, Endpoint::Data, 1));
    sim.send_unsolicited(0, Endpoint::Data, {0x99, 0x98});
    EXPECT_EQ(cl.exactly(2), (Bytes{0x99, 0x98}));
    EXPECT_EQ(sim.open_connections(0, Endpoint::Data), 1);
    sim.close_connections(0, Endpoint::Data);
    EXPECT_TRUE(cl.exactly(1).empty());
    EXPECT_TRUE(cl.eof);
}

TEST(SimFaults, ConnectModes) {
    Simulator sim({board(3)});
    std::uint16_t port = sim.port(0, Endpoint::Data);
    sim.set_connect_mode(0, Endpoint::Data, wexosim::ConnectMode::Refuse);
    EXPECT_EQ(try_connect("127.0.0.2", port, 500), ECONNREFUSED);
    sim.set_connect_mode(0, Endpoint::Data, wexosim::ConnectMode::Stall);
    EXPECT_EQ(try_connect("127.0.0.2", port, 300), ETIMEDOUT);
    sim.set_connect_mode(0, Endpoint::Data, wexosim::ConnectMode::Accept);
    EXPECT_EQ(try_connect("127.0.0.2", port, 500), 0);
    EXPECT_EQ(sim.port(0, Endpoint::Data), port);
}

// ---------------------------------------------------------------- module

TEST(SimModule, PinsShortAndLongForm) {
    UnitConfig old_fw = with_module(board(1));
    old_fw.firm_major = 1;
    old_fw.firm_minor = 4;
    old_fw.pins_greeting = {'C', 'P'};
    UnitConfig new_fw = with_module(board(2, 0, "127.0.0.3"));
    new_fw.firm_major = 1;
    new_fw.firm_minor = 5;
    Simulator sim({old_fw, new_fw});

    Client s("127.0.0.2", sim.port(0, Endpoint::Pins));
    EXPECT_EQ(s.exactly(2), (Bytes{'C', 'P'}));
    s.send(Bytes{0x02, 0x05});
    EXPECT_EQ(s.exactly(4), (Bytes{0x02, 0x05, 0x00, 0x00}));
    EXPECT_EQ(sim.outputs(0), 0x05u);  // model 1: the outputs are the pins
    s.send(Bytes{0x03});
    EXPECT_EQ(s.exactly(4), (Bytes{0x03, 0x05, 0x00, 0x00}));

    Client l("127.0.0.3", sim.port(1, Endpoint::Pins));
    EXPECT_TRUE(l.some(100ms).empty());  // no greeting from 1.5 on
    l.send(Bytes{0x1B, 0x07, 0, 0, 0, 0x03, 0, 0, 0});
    EXPECT_EQ(l.exactly(5), (Bytes{0x1B, 0x03, 0, 0, 0}));
    EXPECT_EQ(sim.inputs(1), 0x60u);  // model 2: inputs 5, 6 are CP1, CP2
    sim.set_pins(1, 0x04);
    l.send(Bytes{0x13, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(l.exactly(5), (Bytes{0x13, 0x04, 0, 0, 0}));
}

TEST(SimModule, ConfigurationQueries) {
    UnitConfig c = with_module(board(17));
    c.firm_type = "X6";
    c.firm_major = 6;
    c.firm_minor = 1;
    c.mac = std::array<std::uint8_t, 6>{0x02, 0x57, 0x58, 0x01, 0x02, 0x03};
    c.serial2 = wexosim::SerialSettings{.flags = 0x4C, .baud = 8, .flow = 2, .port = 10004};
    c.cp_modes = std::array<std::uint8_t, 3>{0, 2, 9};
    c.cp_flag = 1;
    Simulator sim({c});
    std::uint16_t port = sim.port(0, Endpoint::Udp);
    std::uint16_t data = sim.port(0, Endpoint::Data);

    Bytes d = query("127.0.0.2", port, {0, 0, 0, 0xF6});
    ASSERT_EQ(d.size(), 30u);
    EXPECT_EQ(d[5] >> 4, 6);
    EXPECT_EQ(d[6] >> 4, 1);
    EXPECT_EQ(d[8], 'X');
    EXPECT_EQ(d[9], '6');
    EXPECT_EQ(Bytes(d.begin() + 24, d.end()), (Bytes{0x02, 0x57, 0x58, 0x01, 0x02, 0x03}));
    EXPECT_TRUE(query("127.0.0.2", port, {'W', 'X'}).empty());  // the probe only when asked to

    Bytes r = query("127.0.0.2", port, {0, 0, 0, 0xF8});
    ASSERT_EQ(r.size(), 124u);
    EXPECT_EQ((Bytes{r[20], r[21], r[22], r[24], r[25]}),
              (Bytes{0x4C, 0x02, 0x00, std::uint8_t(data & 0xFF), std::uint8_t(data >> 8)}));
    EXPECT_EQ((Bytes{r[68], r[69], r[70], r[72], r[73]}), (Bytes{0x4C, 0x08, 0x02, 0x14, 0x27}));

    Bytes t = query("127.0.0.2", port, {0, 0, 0, 0xF4});
    ASSERT_EQ(t.size(), 33u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&t[16])), "GC-WEXO");

    Bytes b = query("127.0.0.2", port, {0, 0, 0, 0xE7});
    ASSERT_EQ(b.size(), 130u);
    EXPECT_EQ((Bytes{b[4], b[5], b[6], b[7], b[9], b[16], b[129]}), (Bytes{0, 2, 9, 0x80, 0x80, 0x80, 1}));

    sim.set_answer_setup_query(0, false);
    EXPECT_TRUE(query("127.0.0.2", port, {0, 0, 0, 0xF8}).empty());
    sim.inject(0, Endpoint::Udp, {.kind = FaultKind::Truncate, .length = 10});
    EXPECT_EQ(query("127.0.0.2", port, {0, 0, 0, 0xF6}).size(), 10u);
    EXPECT_EQ(sim.frames(0, Endpoint::Udp).size(), 7u);
}

// Broadcasts need the private namespace (the fixed port 30718 and a route).
TEST(SimModule, EveryUnitAnswersADiscoveryBroadcastFromItsOwnAddress) {
    if (!in_namespace()) GTEST_SKIP() << "needs tests/support/netns-run.sh";
    UnitConfig a = board(17, 0, "10.200.0.2"), b = board(2, 0, "10.200.0.3"), c = board(2, 0, "10.200.0.4");
    for (UnitConfig* u : {&a, &b, &c}) u->module = true;
    c.ignore_discovery = true;
    Simulator sim({a, b, c});

    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in all = address("255.255.255.255", 30718);
    Bytes q{0, 0, 0, 0xF6};
    ASSERT_EQ(::sendto(fd, q.data(), q.size(), 0, reinterpret_cast<sockaddr*>(&all), sizeof all), 4);
    std::vector<std::string> sources;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 500) == 1) {
        std::uint8_t buf[64];
        sockaddr_in src{};
        socklen_t len = sizeof src;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &len);
        EXPECT_EQ(n, 30);
        EXPECT_EQ(ntohs(src.sin_port), 30718);
        sources.push_back(inet_ntoa(src.sin_addr));
    }
    ::close(fd);
    std::sort(sources.begin(), sources.end());
    EXPECT_EQ(sources, (std::vector<std::string>{"10.200.0.2", "10.200.0.3"}));
    EXPECT_EQ(sim.frames(2, Endpoint::Udp).size(), 1u);  // heard, not answered

    // Unicast reaches only the addressed unit.
    sockaddr_in from{};
    EXPECT_EQ(query("10.200.0.3", 30718, {0, 0, 0, 0xF8}, &from).size(), 124u);
    EXPECT_STREQ(inet_ntoa(from.sin_addr), "10.200.0.3");
    EXPECT_EQ(sim.frames(0, Endpoint::Udp).size(), 1u);
}

// ---------------------------------------------------------------- control

TEST(SimControl, UnitSpecAndCommands) {
    UnitConfig c = wexosim::parse_unit_spec(
        "ip=127.0.0.2,model=21,id=3,port=0,module=on,udp-port=0,pins-port=0,firm=_L,version=1.4,"
        "mac=02:57:58:01:02:03,cp=5.7.9,text=XYZ");
    EXPECT_EQ(c.model, 21);
    EXPECT_EQ(c.board_id, 3);
    EXPECT_EQ(c.firm_type, "_L");
    EXPECT_EQ(c.firm_minor, 4);
    EXPECT_EQ((*c.cp_modes)[2], 9);
    EXPECT_THROW(wexosim::parse_unit_spec("model=1,colour=red"), std::invalid_argument);

    Simulator sim({c});
    EXPECT_EQ(wexosim::control_command(sim, "inputs 0 0x14"), "ok 0x14");
    EXPECT_EQ(wexosim::control_command(sim, "fault 0 data raw bytes=64:69:C8 match=4449"), "ok");
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    cl.send(ascii("DI"));
    EXPECT_EQ(cl.exactly(3), (Bytes{'d', 'i', 0xC8}));
    EXPECT_EQ(wexosim::control_command(sim, "wait 0 data 1 1000"), "ok");
    EXPECT_EQ(wexosim::control_command(sim, "log 0 data"), "ok 1\nframe 44 49 C8");
    EXPECT_EQ(wexosim::control_command(sim, "fault 9 data silence"), "error missing argument or no such unit (wexosim: no unit 9)");
    EXPECT_EQ(wexosim::control_command(sim, "frobnicate").rfind("error", 0), 0u);

    EXPECT_EQ(wexosim::control_command(sim, "fault 0 udp none match=000000F8 source=127.0.0.9"), "ok");
    EXPECT_EQ(wexosim::control_command(sim, "fault 0 data none source=127.0.0.9"),
              "error wexosim: a foreign source needs the udp endpoint");
    EXPECT_EQ(wexosim::control_command(sim, "fault 0 data flood frames=2 pause=0 bytes=6169C8"), "ok");
    EXPECT_EQ(wexosim::control_command(sim, "restart 0 0"), "ok");
    EXPECT_EQ(wexosim::control_command(sim, "wait-restart 0 1"), "ok");
    EXPECT_NE(wexosim::control_command(sim, "state 0").find(" ip=127.0.0.2 data-port="), std::string::npos);
    EXPECT_NE(wexosim::control_command(sim, "state 0").find(" restarting=0 restarts=1 "), std::string::npos);
    EXPECT_EQ(wexosim::control_command(sim, "firmware 0"), "ok 0");
    EXPECT_EQ(wexosim::parse_unit_spec("restart=300").restart_ms, 300);
}

TEST(SimControl, ExecutableRunsUntilEndOfInput) {
    const char* exe = std::getenv("WEXO_SIM");
    if (!exe) GTEST_SKIP() << "WEXO_SIM not set";
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        ::execl(exe, exe, "--unit", "ip=127.0.0.2,model=3,port=0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    std::string text;
    auto read_until = [&](const std::string& needle) {
        pollfd p{out[0], POLLIN, 0};
        while (text.find(needle) == std::string::npos && ::poll(&p, 1, 5000) == 1) {
            char buf[256];
            ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        return text.find(needle) != std::string::npos;
    };
    EXPECT_TRUE(read_until("ready\n"));
    std::string cmd = "outputs 0 0x1F\n";
    ASSERT_EQ(::write(in[1], cmd.data(), cmd.size()), ssize_t(cmd.size()));
    EXPECT_TRUE(read_until("ok 0x1F\n"));
    ::close(in[1]);
    int status = -1;
    for (int i = 0; i < 500 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) ::usleep(10000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(out[0]);
}

}  // namespace
