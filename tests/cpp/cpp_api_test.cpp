// The C++ API (<wexo.hpp>) against simulated units over real sockets: codes
// and messages, the Unit's ownership of its channel, and a few calls of every
// area returning what the simulator holds.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "wexo.hpp"
#include "wexosim.hpp"

using namespace std::chrono_literals;
using wexo::errc;
using wexosim::Endpoint;

namespace {

// ---------------------------------------------------------------- errors

TEST(CppErrors, CodesMapToTheWexoCategoryAndStandardConditions) {
    struct Case {
        int code;
        std::error_condition same;  // an equivalent condition, or none
    };
    const Case cases[] = {
        {WEXO_ERR_NOT_CONNECTED, wexo::category().default_error_condition(WEXO_ERR_NOT_CONNECTED)},
        {WEXO_ERR_BAD_REPLY, wexo::category().default_error_condition(WEXO_ERR_BAD_REPLY)},
        {WEXO_ERR_CONNECT_TIMEOUT, std::errc::timed_out},
        {WEXO_ERR_SYSTEM_BASE + EAGAIN, std::errc::resource_unavailable_try_again},
        {WEXO_ERR_SYSTEM_BASE + ECANCELED, std::errc::operation_canceled},
    };
    for (const Case& c : cases) {
        const std::error_code ec{c.code, wexo::category()};
        EXPECT_STREQ(ec.category().name(), "wexo");
        EXPECT_EQ(ec.message(), wexo_strerror(c.code)) << c.code;
        EXPECT_EQ(ec, c.same) << c.code;
    }
    EXPECT_EQ(std::error_code(WEXO_ERR_BAD_REPLY, wexo::category()), errc::bad_reply);
    EXPECT_EQ(std::error_code(errc::connect_timeout).value(), 10110);
    EXPECT_NE(std::error_code(errc::not_connected), std::errc::not_connected);  // a library code
}

TEST(CppErrors, ResultsCarryValueOrCodeAndValueThrows) {
    const wexo::result<int> ok = 7;
    const wexo::result<int> failed = errc::not_possible;
    EXPECT_TRUE(ok);
    EXPECT_EQ(*ok, 7);
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.error(), errc::not_possible);
    EXPECT_EQ(failed.value_or(-1), -1);
    EXPECT_EQ(wexo::result<void>(failed).error(), errc::not_possible);
    try {
        (void)failed.value();
        FAIL() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), errc::not_possible);
        EXPECT_NE(std::string(e.what()).find(wexo_strerror(6)), std::string::npos);
    }
    EXPECT_EQ(std::string(wexo::version()), std::to_string(WEXO_VERSION_MAJOR) + "." +
                                                std::to_string(WEXO_VERSION_MINOR) + "." +
                                                std::to_string(WEXO_VERSION_PATCH));
    // Without a Library every call reports code 1.
    EXPECT_EQ(wexo::Device(0).id().error(), errc::not_initialized);
}

// ---------------------------------------------------------------- unit addresses

TEST(CppUnitAddress, TextsParseToFieldsAndBack) {
    using K = wexo::UnitAddress::Kind;
    const wexo::Mac mac{0x02, 0x57, 0x58, 0x01, 0x02, 0xab};
    const struct {
        const char* text;
        wexo::UnitAddress parsed;
        const char* back;  // to_string()
    } cases[] = {
        {"3", {K::index, 3, "", {}, -1, -1, 0}, "#3"},
        {"#0x1f", {K::index, 31, "", {}, -1, -1, 0}, "#31"},
        {"10.200.0.2", {K::ip, -1, "10.200.0.2", {}, -1, -1, 0}, "10.200.0.2"},
        {"02:57:58:01:02:AB", {K::mac, -1, "", mac, -1, -1, 0}, "02:57:58:01:02:ab"},
        {"02-57-58-01-02-ab", {K::mac, -1, "", mac, -1, -1, 0}, "02:57:58:01:02:ab"},
        {"0257580102ab", {K::mac, -1, "", mac, -1, -1, 0}, "02:57:58:01:02:ab"},
        {"id=3,model=17", {K::id_model, -1, "", {}, 3, 17, 0}, "id=3,model=17"},
        {"model=17", {K::id_model, -1, "", {}, -1, 17, 0}, "model=17"},
        {"host=plc-7", {K::host, -1, "plc-7", {}, -1, -1, 0}, "host=plc-7"},
        {"port=10003,host=10.200.0.2", {K::host, -1, "10.200.0.2", {}, -1, -1, 10003}, "host=10.200.0.2,port=10003"},
        {"host=plc-7,model=17,id=3", {K::host, -1, "plc-7", {}, 3, 17, 0}, "host=plc-7,id=3,model=17"},
    };
    for (const auto& c : cases) {
        const wexo::result<wexo::UnitAddress> a = wexo::UnitAddress::parse(c.text);
        ASSERT_TRUE(a) << c.text;
        EXPECT_TRUE(*a == c.parsed) << c.text;
        EXPECT_EQ(a->to_string(), c.back) << c.text;
        EXPECT_TRUE(wexo::UnitAddress::parse(c.back).value() == c.parsed) << c.back;
    }
    for (const char* bad : {"", "#", "256", "#-1", "# 3", "10.200.0", "02:57:58:01:02", "02:57:58:01:02:0g",
                            "025758010203x", "id=3,id=4", "id=3,", "id=", "ids=3", "model=300", "plc-7",
                            "host=", "host=a=b", "port=10003", "host=h,port=0", "host=h,id=3"})
        EXPECT_EQ(wexo::UnitAddress::parse(bad).error(), std::errc::invalid_argument) << bad;
}

// ---------------------------------------------------------------- simulated units

// Unit numbers of the simulator, in the order of their addresses: a search
// lists them so.
enum SimUnit { kDigital, kAnalogIn, kAnalogOut };

class CppApiTest : public ::testing::Test {
protected:
    wexosim::Simulator sim;
    std::optional<wexo::Library> lib;

    void SetUp() override {
        for (auto [ip, model] : {std::pair{"10.200.0.2", 4}, {"10.200.0.3", 42}, {"10.200.0.4", 43}}) {
            wexosim::UnitConfig u;
            u.ip = ip;
            u.model = model;
            u.board_id = 3;
            u.module = true;
            // This module type makes the digital board a kind that offers
            // the full pulse set.
            if (model == 4) u.firm_type = "_L";
            sim.add_unit(u);
        }
        sim.start();
        lib.emplace();
        // Connecting identifies the board; a search need not wait for it.
        ASSERT_TRUE(lib->set_auto_identification(false));
        const wexo::result<int> n = lib->search(300ms);
        ASSERT_TRUE(n) << n.error().message();
        ASSERT_EQ(*n, 3);
    }

    // Connects a unit of the last search. The analog boards are named
    // rather than identified: they would first sit out the binary query.
    wexo::Unit connect(SimUnit u) {
        if (u != kDigital) {
            EXPECT_TRUE(lib->device(u).set_model(u == kAnalogIn ? 42 : 43));
        }
        wexo::result<wexo::Unit> unit = lib->connect(u);
        EXPECT_TRUE(unit) << unit.error().message();
        return std::move(unit).value();
    }
};

TEST_F(CppApiTest, RecordsOfTheSearchAndTheIdentification) {
    const wexo::Device d = lib->device(kDigital);
    EXPECT_EQ(d.ip().value(), "10.200.0.2");
    EXPECT_EQ(d.mac().value(), (wexo::Mac{0x02, 0x57, 0x58, 0x00, 0x00, 0x02}));
    EXPECT_EQ(d.firmware_version().value(), 610);
    EXPECT_EQ(d.firmware_type().value(), "_L");
    EXPECT_EQ(d.model().value(), -1);  // not identified yet
    EXPECT_EQ(lib->device(3).ip().error(), errc::index_range);

    const wexo::Unit unit = connect(kDigital);
    EXPECT_EQ(unit.id().value(), 3);
    EXPECT_EQ(unit.model().value(), 4);
    EXPECT_EQ(lib->connect(kDigital).error(), errc::already);
    EXPECT_EQ(lib->connect_by_id_model(3, 4).error(), errc::already);
    EXPECT_EQ(lib->connect_by_ip("10.200.0.9").error(), errc::no_match);
}

TEST_F(CppApiTest, AUnitClosesItsChannelOnceAndOnlyItsOwn) {
    int index = -1;
    {
        wexo::Unit unit = connect(kAnalogIn);
        index = unit.index();
        ASSERT_TRUE(sim.wait_accepted(kAnalogIn, Endpoint::Data, 1));
        wexo::Unit moved = std::move(unit);
        EXPECT_EQ(unit.index(), -1);
        EXPECT_EQ(unit.close().error(), errc::not_connected);
        EXPECT_TRUE(moved.analog_input(0));
    }
    unsigned bits = 0;
    EXPECT_EQ(ZuWexoInPioAll(index, &bits), 0);
    EXPECT_EQ(ZuWexoGetLastError(), WEXO_ERR_NOT_CONNECTED);

    // Move assignment closes the channel it replaces.
    wexo::Unit a = connect(kDigital);
    a = connect(kAnalogIn);
    EXPECT_EQ(a.index(), kAnalogIn);
    EXPECT_EQ(ZuWexoInPioAll(kDigital, &bits), 0);
    EXPECT_EQ(ZuWexoGetLastError(), WEXO_ERR_NOT_CONNECTED);

    // A search closes every channel; the unit that takes the index over
    // afterwards stays open when the old Unit goes.
    ASSERT_TRUE(lib->search(300ms));
    wexo::Unit b = connect(kAnalogIn);
    { wexo::Unit old = std::move(a); }
    EXPECT_TRUE(b.analog_input(0));
}

TEST_F(CppApiTest, DigitalIoAndAutoSwitching) {
    const wexo::Unit unit = connect(kDigital);
    sim.set_inputs(kDigital, 0b10);
    EXPECT_EQ(unit.inputs().value(), 0b10u);
    EXPECT_TRUE(unit.input(1).value());
    EXPECT_FALSE(unit.input(0).value());
    EXPECT_EQ(unit.input_level(1).value(), 1);
    ASSERT_TRUE(unit.set_output(2, true));
    EXPECT_EQ(sim.outputs(kDigital), 0b100u);
    ASSERT_TRUE(unit.set_outputs(0b11001));
    EXPECT_EQ(unit.outputs().value(), 0b11001u);
    EXPECT_TRUE(unit.output(4).value());
    EXPECT_EQ(unit.output_level(4).value(), 1);
    EXPECT_EQ(unit.set_output(5, true).error(), errc::not_possible);

    ASSERT_TRUE(unit.set_auto_switching_outputs(0b101));
    ASSERT_TRUE(unit.set_auto_switching_time(1500ms));
    ASSERT_TRUE(unit.set_auto_switching(true));
    EXPECT_EQ(unit.auto_switching_outputs().value(), 0b101u);
    EXPECT_EQ(unit.auto_switching_time().value(), 1500ms);
    EXPECT_TRUE(unit.auto_switching().value());
    EXPECT_TRUE(sim.auto_switching(kDigital).active);
}

TEST_F(CppApiTest, PinsModulePulseSettingsAndParameters) {
    const wexo::Unit unit = connect(kDigital);
    sim.set_pins(kDigital, 0b101);
    EXPECT_EQ(unit.pins().value(), (wexo::Pins{true, false, true}));
    ASSERT_TRUE(unit.set_pins({false, true, false}));
    EXPECT_EQ(sim.pins(kDigital), 0b010);
    EXPECT_EQ(lib->device(kAnalogIn).pin_modes().value().modes, (std::array<int, 3>{0, 2, 1}));
    const wexo::SerialParameters serial = lib->device(kAnalogIn).serial_parameters().value();
    EXPECT_EQ((std::array<int, 6>{serial.baud, serial.data_bits, serial.parity, serial.stop_bits, serial.flow,
                                  serial.port}),
              (std::array<int, 6>{9600, 8, 0, 1, 0, 10003}));
    ASSERT_TRUE(lib->device(kAnalogIn).reset_module());
    EXPECT_TRUE(sim.wait_state(kAnalogIn, [](const wexosim::UnitState& s) { return s.restarts == 1; }));

    const wexo::result<void> on = unit.set_pulse_mode(true);
    ASSERT_TRUE(on) << on.error().message() << " " << unit.pulse_mode().error().message();
    EXPECT_TRUE(unit.pulse_mode().value());
    EXPECT_TRUE(sim.state(kDigital).pulse.on);
    sim.update(kDigital, [](wexosim::UnitState& s) { s.pulse.channels[1].count = 70000; });
    EXPECT_EQ(unit.pulse_count(1).value(), 70000);

    ASSERT_TRUE(unit.set_setting(wexo::Setting::di_detect_time, 12));
    EXPECT_EQ(unit.setting(wexo::Setting::di_detect_time).value(), 12u);
    EXPECT_EQ(unit.set_setting(wexo::Setting::di_detect_time, 21).error(), errc::not_possible);
    EXPECT_EQ(unit.pic_parameter(0x90, 2).value(), 12u);  // the same byte, raw
    ASSERT_TRUE(unit.set_reset_time(4));
    EXPECT_EQ(sim.state(kDigital).reset_time, 4);
}

TEST_F(CppApiTest, AnalogInputsOutputsAndAlerts) {
    const wexo::Unit in = connect(kAnalogIn);
    sim.set_analog_input(kAnalogIn, 0, 1234);
    sim.set_analog_input(kAnalogIn, 2, -5);
    EXPECT_EQ(in.analog_input(0).value(), 1234);
    EXPECT_EQ(in.analog_inputs().value(), (std::vector<int>{1234, 0, -5}));
    ASSERT_TRUE(in.set_analog_input_range(1, 2));
    EXPECT_EQ(in.analog_input_range(1).value(), 2);
    ASSERT_TRUE(in.set_thresholds(0, {true, -100, 200}));
    const wexo::Thresholds t = in.thresholds(0).value();
    EXPECT_EQ((std::array<int, 3>{t.enabled, t.first, t.second}), (std::array<int, 3>{1, -100, 200}));
    ASSERT_TRUE(in.set_thermocouple_type(1, 5));
    EXPECT_EQ(in.thermocouple(1).value().type, 5);
    ASSERT_TRUE(in.set_output_alert(1, {false, 2, true, 300}));
    const wexo::OutputAlert alert = in.output_alert(1).value();
    EXPECT_EQ((std::array<int, 3>{alert.mode, alert.flag, alert.value}), (std::array<int, 3>{2, 1, 300}));
    EXPECT_EQ(in.analog_input(3).error(), errc::not_possible);

    const wexo::Unit out = connect(kAnalogOut);
    ASSERT_TRUE(out.set_analog_output_value(1, wexo::AnalogMode::voltage, 5.0));
    EXPECT_EQ(out.analog_output(1).value().raw, 16384);
    ASSERT_TRUE(out.set_analog_outputs({{0, wexo::AnalogMode::current, 100}, {2, wexo::AnalogMode::voltage, -7}}));
    EXPECT_EQ(sim.state(kAnalogOut).analog.outputs[0].mode, 1);
    EXPECT_EQ(sim.state(kAnalogOut).analog.outputs[2].value, -7);
}

TEST_F(CppApiTest, EepromAndSerialData) {
    const wexo::Unit unit = connect(kAnalogIn);
    ASSERT_TRUE(unit.write_eeprom(100, {0xDE, 0xAD}));
    EXPECT_EQ(sim.state(kAnalogIn).eeprom[101], 0xAD);
    EXPECT_EQ(unit.read_eeprom(99, 3).value(), (std::vector<std::uint8_t>{0, 0xDE, 0xAD}));

    sim.clear_log(kAnalogIn);
    EXPECT_EQ(unit.send({'X', 'Y', 0xC8}).value(), 3);
    ASSERT_TRUE(sim.wait_frames(kAnalogIn, Endpoint::Data, 1));
    sim.send_unsolicited(kAnalogIn, Endpoint::Data, {1, 2, 3});
    EXPECT_EQ(unit.receive(16).value(), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(CppApiTest, FirmwareProgressAndCancel) {
    const wexo::Unit unit = connect(kDigital);
    const std::string hex = ":0400000001020304F2\n:020010000506E3\n:00001201ED\n";
    EXPECT_TRUE(wexo::check_intel_hex(hex).loadable);
    EXPECT_EQ(wexo::check_intel_hex(":00000001FE\n").error_line, 1);

    std::vector<std::pair<int, int>> seen;
    const auto record = [&](int done, int total) { return seen.emplace_back(done, total), true; };
    ASSERT_TRUE(unit.update_firmware(hex, record));
    // After every item and between the blocks.
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{2, 6}, {4, 6}, {4, 6}, {6, 6}}));
    EXPECT_EQ(sim.state(kDigital).firmware, (wexosim::Bytes{5, 6}));

    // Cancelled on the call between the blocks, after the first one's commit:
    // the loader is back to commands, and the next update starts cleanly.
    const wexo::result<void> cancelled = unit.update_firmware(hex, [n = 0](int, int) mutable { return ++n < 3; });
    EXPECT_EQ(cancelled.error(), errc::cancelled);
    EXPECT_EQ(cancelled.error(), std::errc::operation_canceled);
    EXPECT_THROW(
        (void)unit.update_firmware(hex,
                                   [n = 0](int, int) mutable -> bool {
                                       if (++n == 3) throw std::runtime_error("stop");
                                       return true;
                                   }),
        std::runtime_error);
    EXPECT_EQ(sim.state(kDigital).firmware_loads, 4);  // each block is committed on its own
}

TEST_F(CppApiTest, LibrarySettingsAndDirectConnects) {
    EXPECT_EQ(lib->select_network_device("no address").error().value(), WEXO_ERR_SYSTEM_BASE + EINVAL);
    EXPECT_EQ(lib->select_network_device("10.99.0.1").error(), std::errc::address_not_available);
    ASSERT_TRUE(lib->select_network_device("10.200.0.1"));
    lib->clear_network_device();

    const wexo::result<wexo::Unit> direct = lib->connect_direct("10.200.0.2", 1000ms, 10003);
    ASSERT_TRUE(direct) << direct.error().message();
    EXPECT_EQ(direct->index(), 3);  // appended to the table
    EXPECT_EQ(direct->model().value(), 4);
    ASSERT_TRUE(lib->device(kAnalogIn).set_model(42));
    EXPECT_EQ(lib->connect_by_mac({0x02, 0x57, 0x58, 0x00, 0x00, 0x03})->index(), kAnalogIn);
}

TEST_F(CppApiTest, UnitsOpenedByAddress) {
    auto address = [](const char* text) { return wexo::UnitAddress::parse(text).value(); };
    // A record not identified matches by ID and model only once asked.
    EXPECT_EQ(lib->open(address("id=3,model=4")).error(), errc::no_match);
    int prepared = -1;
    wexo::OpenOptions asking;
    asking.found = 3;
    asking.identify = [](const wexo::Device& d) { return d.request_id_model(); };
    asking.prepare = [&prepared](const wexo::Device& d) { prepared = d.index(); };
    {
        const wexo::result<wexo::Unit> by_id = lib->open(address("model=4"), asking);
        ASSERT_TRUE(by_id) << by_id.error().message();
        EXPECT_EQ(by_id->index(), kDigital);
        EXPECT_EQ(prepared, kDigital);
    }
    // The library's own connects: by MAC, and by host with a known model (a new record).
    const wexo::result<wexo::Unit> by_mac = wexo::Library::open(address("02:57:58:00:00:02"));
    ASSERT_TRUE(by_mac) << by_mac.error().message();
    EXPECT_EQ(by_mac->index(), kDigital);
    wexo::OpenOptions quick;
    quick.timeout = 500ms;
    const wexo::result<wexo::Unit> known = lib->open(address("host=10.200.0.4,model=43"), quick);
    ASSERT_TRUE(known) << known.error().message();
    EXPECT_EQ(known->index(), 3);
    EXPECT_EQ(known->model().value(), 43);
    EXPECT_EQ(lib->find(address("#3"), asking).error(), errc::index_range);
    EXPECT_EQ(lib->find(address("02:57:58:00:00:09")).error(), errc::no_match);
    EXPECT_EQ(lib->find(address("host=h,port=10003")).error(), errc::not_possible);
}

}  // namespace
