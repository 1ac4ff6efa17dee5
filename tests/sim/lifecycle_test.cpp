// What a unit changes in itself: configuration writes, module restarts and
// firmware loads; and how its datagrams travel (foreign source, delays,
// duplicates).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <utility>

#include "raw_client.hpp"

namespace {

using namespace simtest;
using wexosim::UnitState;

const Bytes kQuery{0, 0, 0, 0xF6}, kRecordQuery{0, 0, 0, 0xF8}, kTextQuery{0, 0, 0, 0xF4}, kBlockQuery{0, 0, 0, 0xE7};

UnitConfig full_module(int restart_ms) {
    UnitConfig c = with_module(board(17));
    c.pinmode_listener = true;
    c.pinmode_port = 0;
    c.setup_listener = true;
    c.setup_port = 0;
    c.restart_ms = restart_ms;
    return c;
}

std::uint16_t free_port(const std::string& ip) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = address(ip, 0);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool up_after(Simulator& sim, int restarts) {
    return sim.wait_state(0, [restarts](const UnitState& s) { return s.restarts == restarts && !s.restarting; });
}

// ---------------------------------------------------------------- restarts

TEST(SimRestart, EveryPortGoesAwayAndComesBack) {
    Simulator sim({full_module(2000)});
    const std::pair<const char*, Endpoint> tcp[] = {
        {"data", Endpoint::Data}, {"pins", Endpoint::Pins}, {"pinmode", Endpoint::PinMode}, {"setup", Endpoint::Setup}};
    const std::uint16_t udp = sim.port(0, Endpoint::Udp);
    Client open("127.0.0.2", sim.port(0, Endpoint::Data));
    ASSERT_TRUE(sim.wait_accepted(0, Endpoint::Data, 1));

    sim.restart_module(0, 60s);
    ASSERT_TRUE(sim.wait_state(0, [](const UnitState& s) { return s.restarting; }));
    EXPECT_TRUE(open.exactly(1).empty());
    EXPECT_TRUE(open.eof);
    for (auto [name, ep] : tcp) EXPECT_EQ(try_connect("127.0.0.2", sim.port(0, ep), 500), ECONNREFUSED) << name;
    EXPECT_TRUE(query("127.0.0.2", udp, kQuery).empty());

    sim.restart_module(0, 0ms);  // a restart while down sets a new down time
    ASSERT_TRUE(up_after(sim, 2));
    for (auto [name, ep] : tcp) EXPECT_EQ(try_connect("127.0.0.2", sim.port(0, ep), 500), 0) << name;
    EXPECT_EQ(query("127.0.0.2", udp, kQuery).size(), 30u);
    EXPECT_EQ(sim.port(0, Endpoint::Udp), udp);
}

// Each write is answered (the restart request excepted), changes the state,
// and restarts the module; the last one moves it to another address.
TEST(SimRestart, ConfigurationWritesChangeTheModuleAndRestartIt) {
    UnitConfig c = full_module(50);
    c.mac = std::array<std::uint8_t, 6>{0x02, 0x57, 0x58, 0x00, 0x12, 0x34};
    Simulator sim({c});
    const std::uint16_t udp_port = sim.port(0, Endpoint::Udp);
    const std::uint16_t new_data = free_port("127.0.0.2");
    Udp udp;

    Bytes performance(88, 0);
    performance[3] = 0xC3;
    performance[87] = 0x80;
    Bytes serial = query("127.0.0.2", udp_port, kRecordQuery);
    ASSERT_EQ(serial.size(), 124u);
    serial[3] = 0xFD;
    serial[20] = 0xF8;
    serial[21] = 0x01;
    serial[22] = 0x02;
    serial[24] = static_cast<std::uint8_t>(new_data & 0xFF);
    serial[25] = static_cast<std::uint8_t>(new_data >> 8);
    Bytes modes = query("127.0.0.2", udp_port, kBlockQuery);
    ASSERT_EQ(modes.size(), 130u);
    modes[3] = 0xC7;
    modes[4] = 4, modes[5] = 6, modes[6] = 8, modes[129] = 1;
    Bytes assign{0, 0, 0, 0xFC, 'I', 'P', '-', 'S', 'E', 'T', 'U', 'P', 0, 0, 0x12, 0x34, 127, 0, 0, 7};

    struct Write {
        const char* name;
        Endpoint ep;
        Bytes request, reply;
        std::function<void(const UnitState&)> check;
    };
    const Write writes[] = {
        {"performance", Endpoint::Udp, performance, {0, 0, 0, 0xC4},
         [](const UnitState& s) { EXPECT_TRUE(s.performance); }},
        {"serial", Endpoint::Udp, serial, {0, 0, 0, 0xFE},
         [&](const UnitState& s) {
             EXPECT_EQ((Bytes{s.serial.flags, s.serial.baud, s.serial.flow}), (Bytes{0xF8, 0x01, 0x02}));
             EXPECT_EQ(s.data_port, new_data);
         }},
        {"pin modes", Endpoint::PinMode, modes, {0, 0, 0, 0xC8},
         [](const UnitState& s) {
             EXPECT_EQ(s.cp_modes, (std::array<std::uint8_t, 3>{4, 6, 8}));
             EXPECT_EQ(s.cp_flag, 1);
         }},
        {"restart", Endpoint::Udp, {0, 0, 0x03, 0x58, '6'}, {}, [](const UnitState&) {}},
        {"address", Endpoint::Udp, assign, {0, 0, 0, 0xFD},
         [](const UnitState& s) { EXPECT_EQ(s.ip, "127.0.0.7"); }},
    };
    int restarts = 0;
    for (const Write& w : writes) {
        SCOPED_TRACE(w.name);
        if (w.ep == Endpoint::Udp) {
            udp.send("127.0.0.2", udp_port, w.request);
            if (!w.reply.empty()) {
                EXPECT_EQ(udp.next().bytes, w.reply);
            }
        } else {
            Client cl("127.0.0.2", sim.port(0, w.ep));
            cl.send(w.request);
            EXPECT_EQ(cl.exactly(w.reply.size() + 1), w.reply);  // then closed by the restart
        }
        ASSERT_TRUE(up_after(sim, ++restarts));
        w.check(sim.state(0));
    }

    // Back on the new address, serving what was written.
    EXPECT_EQ(sim.ip(0), "127.0.0.7");
    EXPECT_EQ(sim.port(0, Endpoint::Data), new_data);
    EXPECT_EQ(try_connect("127.0.0.7", new_data, 500), 0);
    EXPECT_EQ(try_connect("127.0.0.2", new_data, 500), ECONNREFUSED);
    Bytes r = query("127.0.0.7", udp_port, kRecordQuery);
    ASSERT_EQ(r.size(), 124u);
    EXPECT_EQ((Bytes{r[20], r[21], r[22], r[24], r[25]}), (Bytes{0xF8, 0x01, 0x02, serial[24], serial[25]}));
    Bytes b = query("127.0.0.7", udp_port, kBlockQuery);
    ASSERT_EQ(b.size(), 130u);
    EXPECT_EQ((Bytes{b[4], b[5], b[6], b[11], b[13], b[15], b[129]}), (Bytes{4, 6, 8, 0x80, 0x80, 0x80, 1}));
}

TEST(SimRestart, WritesForOtherModulesAreIgnored) {
    Simulator sim({full_module(50)});
    const std::uint16_t port = sim.port(0, Endpoint::Udp);
    Udp udp;
    udp.send("127.0.0.2", port, {0, 0, 0x03, 0x58, 'L'});  // another firmware type's restart
    udp.send("127.0.0.2", port, {0, 0, 0, 0xFC, 'I', 'P', '-', 'S', 'E', 'T', 'U', 'P', 0, 0, 0x99, 0x99, 127, 0, 0, 8});
    udp.send("127.0.0.2", port, kQuery);
    EXPECT_EQ(udp.next().bytes.size(), 30u);  // the first answer is the query's
    EXPECT_EQ(sim.state(0).restarts, 0);
    EXPECT_EQ(sim.ip(0), "127.0.0.2");
}

// The setup menu: 8 leaves without saving; 7 then 9 stores the factory
// settings of the module (not its address) and restarts it.
TEST(SimRestart, SetupMenuDefaultsRestoreTheFactorySettings) {
    UnitConfig c = full_module(50);
    c.data_port = 10003;
    c.serial.flags = 0x5C;
    c.cp_modes = std::array<std::uint8_t, 3>{1, 2, 3};
    Simulator sim({c});
    const UnitState factory = sim.state(0);
    sim.update(0, [](UnitState& s) {
        s.serial = {0xF8, 8, 2, 0};
        s.serial2 = s.serial;
        s.cp_modes = {5, 7, 9};
        s.cp_flag = 1;
        s.performance = true;
        s.data_port = 10010;
        s.ip = "127.0.0.7";
    });
    Client menu("127.0.0.2", sim.port(0, Endpoint::Setup));
    std::string seen;
    auto expect = [&](const std::string& text) {
        while (seen.find(text) == std::string::npos) {
            const Bytes b = menu.some();
            if (b.empty()) break;
            seen.append(b.begin(), b.end());
        }
        EXPECT_NE(seen.find(text), std::string::npos) << seen;
        seen.clear();
    };
    expect("Press Enter to go into Setup Mode\r\n");
    for (const char* key : {"", "7", "8", "7", "9"}) {
        menu.send(std::string(key) + "\r\n");
        expect(*key == '8' ? "Exit without save\r\n" : *key == '9' ? "Parameters stored ...\r\n" : "Your choice ? ");
        if (*key == '8') {
            EXPECT_EQ(sim.state(0).cp_modes, (std::array<std::uint8_t, 3>{5, 7, 9}));
        }
    }
    ASSERT_TRUE(up_after(sim, 1));
    const UnitState s = sim.state(0);
    EXPECT_EQ((Bytes{s.serial.flags, s.serial.baud, s.serial.flow}), (Bytes{0x5C, 2, 0}));
    EXPECT_EQ(s.serial2.flags, factory.serial2.flags);
    EXPECT_EQ(s.cp_modes, factory.cp_modes);
    EXPECT_EQ(s.cp_flag, 0);
    EXPECT_FALSE(s.performance);
    EXPECT_EQ(s.data_port, 10003);
    EXPECT_EQ(s.ip, "127.0.0.7");
}

// The library assigns addresses by broadcast; only the named module moves.
TEST(SimRestart, BroadcastAddressAssignmentMovesOnlyTheNamedModule) {
    if (!in_namespace()) GTEST_SKIP() << "needs tests/support/netns-run.sh";
    UnitConfig a = board(17, 0, "10.200.0.2"), b = board(17, 0, "10.200.0.3");
    for (UnitConfig* u : {&a, &b}) {
        u->module = true;
        u->restart_ms = 50;
    }
    Simulator sim({a, b});
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in all = address("255.255.255.255", 30718);
    // b's default MAC ends in its address's last two octets: 00 03.
    const Bytes assign{0, 0, 0, 0xFC, 'I', 'P', '-', 'S', 'E', 'T', 'U', 'P', 0, 0, 0x00, 0x03, 10, 200, 0, 20};
    ASSERT_EQ(::sendto(fd, assign.data(), assign.size(), 0, reinterpret_cast<sockaddr*>(&all), sizeof all), 20);
    ::close(fd);
    ASSERT_TRUE(sim.wait_state(1, [](const UnitState& s) { return s.restarts == 1 && !s.restarting; }));
    EXPECT_EQ(sim.ip(1), "10.200.0.20");
    EXPECT_EQ(sim.state(0).restarts, 0);
    EXPECT_EQ(sim.frames(0, Endpoint::Udp).size(), 1u);  // heard, not taken
    sockaddr_in from{};
    EXPECT_EQ(query("10.200.0.20", 30718, kQuery, &from).size(), 30u);
    EXPECT_STREQ(inet_ntoa(from.sin_addr), "10.200.0.20");
    EXPECT_TRUE(query("10.200.0.3", 30718, kQuery).empty());

    // A foreign host answering from the module port, late.
    sim.inject(0, Endpoint::Udp, {.kind = FaultKind::None, .delay = 50ms, .match = kQuery, .source_ip = "10.200.0.9"});
    EXPECT_EQ(query("10.200.0.2", 30718, kQuery, &from).size(), 30u);
    EXPECT_STREQ(inet_ntoa(from.sin_addr), "10.200.0.9");
    EXPECT_EQ(ntohs(from.sin_port), 30718);
}

// ---------------------------------------------------------------- datagrams

TEST(SimDatagrams, ForeignSourceDelaysAndDuplicates) {
    UnitConfig a = with_module(board(17)), b = with_module(board(17, 0, "127.0.0.3"));
    b.answer_probe = true;
    Simulator sim({a, b});
    const std::uint16_t pa = sim.port(0, Endpoint::Udp), pb = sim.port(1, Endpoint::Udp);
    Udp udp;

    // Another host answers for the unit, from the unit's port.
    sim.inject(0, Endpoint::Udp, {.kind = FaultKind::None, .match = kRecordQuery, .source_ip = "127.0.0.9"});
    udp.send("127.0.0.2", pa, kRecordQuery);
    Udp::Reply foreign = udp.next();
    EXPECT_EQ(foreign.bytes.size(), 124u);
    EXPECT_EQ(foreign.ip, "127.0.0.9");
    EXPECT_EQ(foreign.port, pa);

    // A delayed reply holds up neither the unit's later replies nor other units.
    sim.inject(0, Endpoint::Udp, {.kind = FaultKind::None, .delay = 300ms, .match = kQuery});
    udp.send("127.0.0.2", pa, kQuery);
    udp.send("127.0.0.2", pa, kTextQuery);
    udp.send("127.0.0.3", pb, kTextQuery);
    std::vector<std::pair<std::string, int>> order;
    for (int i = 0; i < 3; ++i) {
        Udp::Reply r = udp.next();
        ASSERT_GE(r.bytes.size(), 4u);
        order.emplace_back(r.ip, r.bytes[3]);
    }
    EXPECT_EQ(order.back(), (std::pair<std::string, int>{"127.0.0.2", 0xF7}));
    EXPECT_EQ((std::set<std::pair<std::string, int>>{order[0], order[1]}),
              (std::set<std::pair<std::string, int>>{{"127.0.0.2", 0xF5}, {"127.0.0.3", 0xF5}}));

    // A unit answering both the query and the probe is found twice.
    udp.send("127.0.0.3", pb, kQuery);
    udp.send("127.0.0.3", pb, {'W', 'X'});
    Udp::Reply first = udp.next(), second = udp.next();
    EXPECT_EQ(first.bytes.size(), 30u);
    EXPECT_EQ(second.bytes, first.bytes);
    EXPECT_EQ(second.ip, "127.0.0.3");
}

// ---------------------------------------------------------------- firmware loader

TEST(SimLoader, TakesTheImageAndReturnsToCommands) {
    Simulator sim({board(3)});
    Client cl("127.0.0.2", sim.port(0, Endpoint::Data));
    auto text = [](const char* s) { return Bytes(s, s + std::strlen(s)); };
    struct Load {
        Bytes image, acks;  // acks: after item 0, 4, 8, ... and after the last item
    };
    const Load loads[] = {
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, text("ACK\rACK\rOK")},
        {{}, text("OK")},
        {{0xC8, 0x55}, text("ACK\rOK")},
    };
    int n = 0;
    Bytes stored;
    for (const Load& l : loads) {
        SCOPED_TRACE(l.image.size());
        const auto items = static_cast<std::uint8_t>(l.image.size() / 2);
        cl.send(text("@WEX"));
        EXPECT_EQ(cl.exactly(4), text("RDY\r"));
        cl.send(Bytes{'S', items, 0});
        cl.send(l.image);
        EXPECT_EQ(cl.exactly(l.acks.size()), l.acks);
        cl.send(Bytes{'C'});
        EXPECT_EQ(cl.exactly(1), text("!"));
        // An empty image is answered alike and changes nothing.
        if (!l.image.empty()) {
            stored = l.image;
            ++n;
        }
        UnitState s = sim.state(0);
        EXPECT_EQ(s.firmware, stored);
        EXPECT_EQ(s.firmware_loads, n);
    }
    cl.send(Bytes{0xE0});
    EXPECT_EQ(cl.exactly(2), (Bytes{0xE0, 0x00}));
}

}  // namespace
