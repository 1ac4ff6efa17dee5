// Library state, last-error codes and messages, log lines, the device record
// accessors and the model table.
#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/capabilities.hpp"
#include "core/state.hpp"
#include "test_support.hpp"
#include "wexo.hpp"
#include "wexosim.hpp"

using wexotest::LibraryTest;
using wexotest::StdoutCapture;

namespace {

std::string message_of(uint32_t code) {
    error = code;
    char buffer[128];
    std::memset(buffer, 'x', sizeof(buffer));
    ZuWexoGetLastErrorMessage(buffer);
    return buffer;
}

TEST(Lifecycle, CallsBeforeInitFailWithCodeOne) {
    ZuWexoEnd();
    int value = 0;
    EXPECT_EQ(ZuWexoGetId(0, &value), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 1);
    EXPECT_EQ(ZuWexoSetAutoRequestIdModel(1, 10003), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 1);
    EXPECT_EQ(ZuWexoSearch(10), -1);
    EXPECT_EQ(ZuWexoClose(0), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 1);
    EXPECT_EQ(message_of(1), "初期化されていません。ZuWexoInitを実行してください。");
}

TEST(Lifecycle, InitTwiceAndEndThenInitKeepTheMutexUsable) {
    ASSERT_EQ(ZuWexoInit(), 1);
    ASSERT_EQ(ZuWexoInit(), 1);
    EXPECT_EQ(pthread_mutex_lock(&mutex), 0);
    EXPECT_EQ(pthread_mutex_unlock(&mutex), 0);
    EXPECT_EQ(ZuWexoEnd(), 1);
    EXPECT_EQ(initialized, 0);
    ASSERT_EQ(ZuWexoInit(), 1);
    EXPECT_EQ(pthread_mutex_lock(&mutex), 0);
    EXPECT_EQ(pthread_mutex_unlock(&mutex), 0);
    EXPECT_EQ(ZuWexoEnd(), 1);
}

TEST(Lifecycle, InitSetsDefaultsAndClearsTheMask) {
    ZuWexoSetLogLevel(15);
    ZuWexoSelectNetworkDevice("127.0.0.1");
    xportcount = 7;
    error = 9;
    StdoutCapture out;
    out.start();
    ZuWexoInit();
    EXPECT_EQ(out.stop(), "ZuWexoInit\n");  // entry line under the old mask only
    EXPECT_EQ(initialized, 1);
    EXPECT_EQ(xportcount, 0);
    EXPECT_EQ(xportsearchcount, 0);
    EXPECT_EQ(auto_requestid, 1);
    EXPECT_EQ(auto_requestid_port, 10003u);
    EXPECT_EQ(output_loglevel, 0u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(g_fSet_addr, 0);
    EXPECT_EQ(g_lanaddr, 0u);
    EXPECT_STREQ(logfile, "ZuWexoLog.csv");
    EXPECT_EQ(ZuWexoGetDllVersion(), 130);
    ZuWexoEnd();
}

TEST_F(LibraryTest, EveryMessageTextAndSystemCodes) {
    EXPECT_EQ(message_of(0), "");
    EXPECT_EQ(message_of(2), "検索した結果、WEXOが発見できませんでした。");
    EXPECT_EQ(message_of(3), "検索で発見したWEXOより多い値を指定しました。");
    EXPECT_EQ(message_of(4), "指定された条件のWEXOを発見できませんでした。");
    EXPECT_EQ(message_of(5), "WEXOと接続していません。ZuWexoConnectを実行してください。");
    EXPECT_EQ(message_of(6), "指定された操作は実行できません。");
    EXPECT_EQ(message_of(7), "すでに接続しています。");
    EXPECT_EQ(message_of(8), "接続最大数を超過しました");
    const std::string nine =
        "不正な戻り値が返りました。（設定した数値が異常である可能性があります）";
    EXPECT_EQ(message_of(9), nine);
    EXPECT_EQ(nine.size() + 1, 106u);  // the longest text with its NUL fits 106 bytes
    EXPECT_EQ(message_of(10), "パラメータが誤っています。");
    EXPECT_EQ(message_of(11), "設定に失敗しました。");
    EXPECT_EQ(message_of(12), "再起動に失敗しました。");
    EXPECT_EQ(message_of(13), "ネットマスクの範囲外にWEXOがあります。");
    EXPECT_EQ(message_of(10110), "err:10110");
    EXPECT_EQ(message_of(10011), "err:10011");
    EXPECT_EQ(ZuWexoGetLastError(), 10011);  // reading does not clear
    EXPECT_EQ(ZuWexoGetLastError(), 10011);
}

TEST(EnglishMessages, LibraryCodesSystemCodesAndUnknown) {
    EXPECT_STREQ(wexo_strerror(0), "no error");
    EXPECT_STREQ(wexo_strerror(5), "the unit's command channel is not open");
    EXPECT_STREQ(wexo_strerror(13), "the unit is outside the netmask");
    EXPECT_STREQ(wexo_strerror(10110), "Connection timed out");
    EXPECT_STREQ(wexo_strerror(10011), "Resource temporarily unavailable");
    for (int unknown : {-1, 14, 9999, 10000 + 100000}) {
        EXPECT_STREQ(wexo_strerror(unknown), "unknown error code") << unknown;
    }
}

TEST(Version, LibraryMatchesHeader) {
    const std::string header = std::to_string(WEXO_VERSION_MAJOR) + "." +
                                std::to_string(WEXO_VERSION_MINOR) + "." +
                                std::to_string(WEXO_VERSION_PATCH);
    EXPECT_EQ(wexo_version(), header);
    EXPECT_EQ(WEXO_VERSION_MAJOR, 1);  // the SONAME's major
}

TEST_F(LibraryTest, CheckCommonOrderOfCodes) {
    add_record("127.0.0.2", 10003);
    add_record("127.0.0.3", 10003);
    using wexo::check_common;
    EXPECT_EQ(check_common(256, 0), 0);
    EXPECT_EQ(error, 6u);
    EXPECT_EQ(check_common(-1, 0), 0);
    EXPECT_EQ(error, 6u);
    EXPECT_EQ(check_common(2, 0), 0);
    EXPECT_EQ(error, 3u);
    EXPECT_EQ(check_common(1, 0), 1);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(check_common(1, 1), 0);
    EXPECT_EQ(error, 5u);
    xportset[1].connected = 1;  // connected, model unknown
    EXPECT_EQ(check_common(1, 1), 0);
    EXPECT_EQ(error, 6u);
    xportset[1].model_code = 17;
    EXPECT_EQ(check_common(1, 1), 1);
    // The connected branch does not compare with the record count.
    xportset[200].connected = 1;
    xportset[200].model_code = 3;
    EXPECT_EQ(check_common(200, 1), 1);
    xportset[1].connected = 0;
    xportset[200].connected = 0;
}

TEST_F(LibraryTest, LogMaskSelectsLines) {
    add_record("127.0.0.2", 10003);
    int id = 0;
    StdoutCapture out;
    ZuWexoSetLogLevel(2);
    out.start();
    ZuWexoGetId(0, &id);
    EXPECT_EQ(out.stop(), "ZuWexoGetId:0:255\n");
    ZuWexoSetLogLevel(1);
    out.start();
    ZuWexoGetId(0, &id);
    ZuWexoGetId(5, &id);  // failures still write their entry line, no result line
    EXPECT_EQ(out.stop(), "ZuWexoGetId\nZuWexoGetId\n");
    out.start();
    ZuWexoSetLogLevel(2);  // entry under the old mask, result under the new one
    EXPECT_EQ(out.stop(), "ZuWexoSetLogLevel\nZuWexoSetLogLevel:2\n");
    ZuWexoSetLogLevel(0);
    out.start();
    ZuWexoGetId(0, &id);
    EXPECT_EQ(out.stop(), "");
}

TEST_F(LibraryTest, LongLogLinesAreCutToTheLineBuffer) {
    ZuWexoSetLogLevel(8);
    std::string huge(6000, 'a');
    StdoutCapture out;
    out.start();
    wexo::output_log(8, "%s", huge.c_str());
    EXPECT_EQ(out.stop(), std::string(4095, 'a') + "\n");
}

TEST_F(LibraryTest, AutoRequestIdDisableKeepsThePort) {
    ZuWexoSetLogLevel(2);
    StdoutCapture out;
    out.start();
    EXPECT_EQ(ZuWexoSetAutoRequestIdModel(1, 12000), 1);
    EXPECT_EQ(ZuWexoSetAutoRequestIdModel(0, 5), 1);
    EXPECT_EQ(out.stop(), "ZuWexoSetAutoRequestIdModel:1:12000\nZuWexoSetAutoRequestIdModel:0:5\n");
    EXPECT_EQ(auto_requestid, 0);
    EXPECT_EQ(auto_requestid_port, 12000u);
}

TEST_F(LibraryTest, AccessorsReadAFilledRecord) {
    int i = add_record("10.200.0.7", 10003);
    wexo_device& d = xportset[i];
    const unsigned char mac[6] = {0x00, 0x57, 0x58, 0x12, 0x34, 0x56};
    std::memcpy(d.mac_address, mac, 6);
    d.firm_major = 6;
    d.firm_minor = 1;
    d.firm_type[0] = 'X';
    d.firm_type[1] = '6';
    d.board_id = 3;
    d.model_code = 17;
    d.cp_mode[0] = 5;
    d.cp_mode[1] = 7;
    d.cp_mode[2] = 9;
    d.cp_flag = 1;
    d.serial_flags = 0x4C;
    d.baud_code = 2;
    d.flow_control = 2;

    ZuWexoSetLogLevel(2);
    StdoutCapture out;
    out.start();
    char ip[16];
    ASSERT_EQ(ZuWexoGetIpAddress(i, ip), 1);
    EXPECT_STREQ(ip, "10.200.0.7");
    unsigned char got_mac[6];
    ASSERT_EQ(ZuWexoGetMacAddress(i, got_mac), 1);
    EXPECT_EQ(std::memcmp(got_mac, mac, 6), 0);
    int v = 0;
    ASSERT_EQ(ZuWexoGetFirmVersion(i, &v), 1);
    EXPECT_EQ(v, 610);
    char* type = nullptr;
    ASSERT_EQ(ZuWexoGetFirmType(i, &type), 1);
    EXPECT_EQ(type, d.firm_type);
    unsigned short type2 = 0;
    ASSERT_EQ(ZuWexoGetFirmType2(i, &type2), 1);
    EXPECT_EQ(type2, 'X' | ('6' << 8));
    ASSERT_EQ(ZuWexoGetId(i, &v), 1);
    EXPECT_EQ(v, 3);
    ASSERT_EQ(ZuWexoGetModel(i, &v), 1);
    EXPECT_EQ(v, 17);
    int cp1, cp2, cp3, flag;
    ASSERT_EQ(ZuWexoGetCPMode(i, &cp1, &cp2, &cp3, &flag), 1);
    int baud, bits, parity, stop, flow, port;
    ASSERT_EQ(ZuWexoGetSerialParameter(i, &baud, &bits, &parity, &stop, &flow, &port), 1);
    EXPECT_EQ(ZuWexoSetTimeOut(i, 2500), 1);
    EXPECT_EQ(d.timeout_ms, 2500);
    EXPECT_EQ(ZuWexoSetModel(i, 40), 1);
    EXPECT_EQ(d.model_code, 40);
    const std::string expected =
        "ZuWexoGetIpAddress:0:10.200.0.7\n"
        "ZuWexoGetMacAddress:0:\n"  // the raw bytes as text stop at the leading zero byte
        "ZuWexoGetFirmVersion:0:610\n"
        "ZuWexoGetFirmType:0:X6\n"
        "ZuWexoGetFirmType2:0:X6\n"
        "ZuWexoGetId:0:3\n"
        "ZuWexoGetModel:0:17\n"
        "ZuWexoGetCPMode:0:5:7:9:1\n"
        "ZuWexoGetSerialParameter:0:9600:8:0:1:2:10003\n"
        "ZuWexoSetTimeOut:0:2500\n"
        "ZuWexoSetModel:0:40\n";
    EXPECT_EQ(out.stop(), expected);
}

TEST_F(LibraryTest, RawTextResultLinesStayWithinTheirBytes) {
    int i = add_record("10.200.0.7", 10003);
    wexo_device& d = xportset[i];
    std::memset(d.mac_address, 'M', 6);
    std::memset(d.ip_text, 'I', 16);  // no NUL at all
    d.firm_type[0] = 'X';
    d.firm_type[1] = '5';
    d.board_id = 'B';  // the byte after the letters is not a NUL either
    ZuWexoSetLogLevel(2);
    StdoutCapture out;
    out.start();
    unsigned char mac[6];
    char* type = nullptr;
    char ip[16];
    ZuWexoGetMacAddress(i, mac);
    ZuWexoGetFirmType(i, &type);
    ZuWexoGetIpAddress(i, ip);
    EXPECT_EQ(out.stop(),
              "ZuWexoGetMacAddress:0:MMMMMM\nZuWexoGetFirmType:0:X5\n"
              "ZuWexoGetIpAddress:0:IIIIIIIIIIIIIIII\n");
}

TEST_F(LibraryTest, SerialParameterDecoding) {
    int i = add_record("10.200.0.7", 10003);
    struct Case {
        uint8_t flags, baud;
        int rate, bits, parity, stop;
    } cases[] = {
        {0x4C, 2, 9600, 8, 0, 1},   {0x00, 0, 38400, 7, 0, 1},  {0x14, 8, 115200, 8, 1, 1},
        {0xB4, 12, 921600, 8, 2, 2}, {0x20, 7, 300, 7, 1, 1},   {0x04, 9, 57600, 8, 0, 1},
        {0x04, 13, 0, 8, 0, 1},      {0x04, 255, 0, 8, 0, 1},  // no table entry: 0
    };
    for (const Case& c : cases) {
        xportset[i].serial_flags = c.flags;
        xportset[i].baud_code = c.baud;
        int rate, bits, parity, stop, flow, port;
        ASSERT_EQ(ZuWexoGetSerialParameter(i, &rate, &bits, &parity, &stop, &flow, &port), 1);
        EXPECT_EQ(rate, c.rate) << int(c.baud);
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(parity, c.parity);
        EXPECT_EQ(stop, c.stop);
    }
    for (int code = 0; code < 13; ++code) EXPECT_EQ(bps_decode[bps_decode[code]], code);
}

TEST_F(LibraryTest, AccessorFailuresWriteNothing) {
    add_record("10.200.0.7", 10003);
    add_record("10.200.0.8", 10003);
    add_record("10.200.0.9", 10003);
    int v = -42;
    EXPECT_EQ(ZuWexoGetId(3, &v), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 3);
    EXPECT_EQ(ZuWexoGetId(256, &v), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 6);
    EXPECT_EQ(ZuWexoSetTimeOut(-1, 5), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 6);
    EXPECT_EQ(v, -42);
    // A found but unidentified unit.
    ASSERT_EQ(ZuWexoGetId(1, &v), 1);
    EXPECT_EQ(v, 255);
    ASSERT_EQ(ZuWexoGetModel(1, &v), 1);
    EXPECT_EQ(v, -1);
}

TEST(ModelTable, RowsAndModelsOutsideTheTable) {
    EXPECT_EQ(sizeof(MODEL_spec), 48u * 11u * 4u);
    const int32_t model0[11] = {2, 3, 2, 1, 1, 1, 1, 1, 1, 0, 0};
    const int32_t model41[11] = {0, 3, 0, 0, 0, 4, 0, 4, 4, 2, 0};
    const int32_t model44[11] = {0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    EXPECT_EQ(std::memcmp(MODEL_spec[0], model0, sizeof(model0)), 0);
    EXPECT_EQ(std::memcmp(MODEL_spec[41], model41, sizeof(model41)), 0);
    EXPECT_EQ(std::memcmp(MODEL_spec[44], model44, sizeof(model44)), 0);
    EXPECT_EQ(MODEL_spec[3][1], 0);   // five outputs, no inputs
    EXPECT_EQ(MODEL_spec[21][0], 0);  // eight inputs, no outputs
    EXPECT_EQ(MODEL_spec[21][1], 8);
    EXPECT_EQ(MODEL_spec[21][3], 3);
    int with_ao = 0, with_ai = 0, listed = 0;
    for (int m = 0; m < 48; ++m) {
        with_ao += MODEL_spec[m][9] != 0;
        with_ai += MODEL_spec[m][10] != 0;
        bool any = false;
        for (int c = 0; c < 11; ++c) any = any || MODEL_spec[m][c] != 0;
        listed += any;
    }
    EXPECT_EQ(with_ao, 2);
    EXPECT_EQ(with_ai, 3);
    EXPECT_EQ(listed, 23);

    ZuWexoInit();
    std::memset(&xportset[0], 0, sizeof(xportset[0]));
    for (int model : {-1, 48, 1000, -7}) {
        xportset[0].model_code = model;
        error = 0;
        EXPECT_FALSE(wexo::Board::of(0));
        EXPECT_EQ(error, 6u);
        EXPECT_EQ(wexo::Board(model, 3).outputs(), 0);  // read as a board offering nothing
    }
    xportset[0].model_code = 21;
    ASSERT_TRUE(wexo::Board::of(0));
    EXPECT_EQ(wexo::Board::of(0)->inputs(), 8);
    ZuWexoEnd();
}

TEST(ModelTable, VariantsAndModelRules) {
    using wexo::Board;
    using wexo::PulseVariant;
    using wexo::SettingsVariant;
    using wexo::SwitchVariant;
    struct Case {
        int model, kind;
        SwitchVariant switching;
        PulseVariant pulse;
        SettingsVariant notice_time;
    };
    const Case cases[] = {
        // A column value of 2 is offered on kind 3 units only.
        {1, 3, SwitchVariant::kBinary, PulseVariant::kPicFull, SettingsVariant::kPicParameter},
        {1, 0, SwitchVariant::kUnsupported, PulseVariant::kUnsupported, SettingsVariant::kUnavailable},
        {0, 3, SwitchVariant::kBinary, PulseVariant::kPicBasic, SettingsVariant::kPicParameter},
        {17, 5, SwitchVariant::kAscii, PulseVariant::kAscii, SettingsVariant::kEepromLayout1},
        {41, 6, SwitchVariant::kUnsupported, PulseVariant::kUnsupported, SettingsVariant::kEepromLayout2},
        {3, 0, SwitchVariant::kBinary, PulseVariant::kUnsupported, SettingsVariant::kUnavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        const Board board(c.model, c.kind);
        EXPECT_EQ(board.auto_switching(), c.switching);
        EXPECT_EQ(board.pulse(), c.pulse);
        EXPECT_EQ(board.setting(wexo::kColNoticeTime), c.notice_time);
    }
    EXPECT_TRUE(Board(1, 0).outputs_on_pins());
    EXPECT_FALSE(Board(1, 3).outputs_on_pins());
    EXPECT_FALSE(Board(40, 6).thermocouples());
    EXPECT_TRUE(Board(42, 6).thermocouples());
    EXPECT_FALSE(Board(41, 6).thermocouples());
    EXPECT_FALSE(Board(40, 6).analog_range6());
    EXPECT_TRUE(Board(42, 6).output_alerts());
    for (int model : {0, 3, 4, 5, 6}) EXPECT_TRUE(Board(model, 0).firmware_transfer());
    for (int model : {1, 2, 7, 17}) EXPECT_FALSE(Board(model, 0).firmware_transfer());
}

// The simulator's model table is its own copy: every row must say what the
// library's capability query says, so that tests against it test the real rules.
TEST(ModelTable, SimulatorTableAndCapabilityQueryAgree) {
    for (int model = 0; model < WEXO_MODEL_COUNT; ++model) {
        SCOPED_TRACE(model);
        const wexosim::BoardModel sim = wexosim::board_model(model);
        const int32_t* row = MODEL_spec[model];
        EXPECT_EQ(sim.auto_switching, row[2]);
        EXPECT_EQ(sim.pulse, row[3]);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(sim.settings[static_cast<std::size_t>(i)], row[4 + i]);
        wexo_unit_capabilities c{};
        ASSERT_EQ(wexo_model_capabilities(model, 3, &c), 1);
        EXPECT_EQ(std::vector<int>({c.digital_outputs, c.digital_inputs, c.analog_outputs, c.analog_inputs,
                                    c.thermocouples > 0}),
                  std::vector<int>({sim.outputs, sim.inputs, sim.analog_outputs, sim.analog_inputs,
                                    sim.thermocouple}));
    }
}

TEST_F(LibraryTest, CapabilityQueryByRecordAndByModel) {
    struct Case {
        int model, kind, counters, thermocouples;
        unsigned writable;
        int switching, pulse;
        unsigned settings, in_eeprom;
    };
    constexpr unsigned all_settings = 0x1f;
    const Case cases[] = {
        // Auto switching (column value 2) is offered on kind 3 only.
        {0, 0, 1, 0, WEXO_CAN_DIGITAL_OUTPUTS | WEXO_CAN_PULSE | WEXO_CAN_SETTINGS | WEXO_CAN_FIRMWARE,
         WEXO_SWITCHING_NONE, WEXO_PULSE_BASIC, all_settings, 0},
        {1, 0, 0, 0, WEXO_CAN_DIGITAL_OUTPUTS | WEXO_CAN_OUTPUTS_ON_PINS,  // kind-3 columns left out
         WEXO_SWITCHING_NONE, WEXO_PULSE_NONE, 0, 0},
        {1, 3, 2, 0, WEXO_CAN_DIGITAL_OUTPUTS | WEXO_CAN_AUTO_SWITCHING | WEXO_CAN_PULSE | WEXO_CAN_SETTINGS,
         WEXO_SWITCHING_BINARY, WEXO_PULSE_FULL, all_settings, 0},
        {21, 5, 8, 0, WEXO_CAN_PULSE | WEXO_CAN_SETTINGS | WEXO_CAN_EEPROM, WEXO_SWITCHING_NONE, WEXO_PULSE_ASCII,
         all_settings, all_settings},
        {42, 6, 0, 3, WEXO_CAN_DIGITAL_OUTPUTS | WEXO_CAN_EEPROM | WEXO_CAN_THERMOCOUPLES | WEXO_CAN_OUTPUT_ALERTS,
         WEXO_SWITCHING_NONE, WEXO_PULSE_NONE, 0, 0},
        {43, 6, 0, 0, WEXO_CAN_ANALOG_OUTPUTS | WEXO_CAN_SETTINGS | WEXO_CAN_EEPROM, WEXO_SWITCHING_NONE,
         WEXO_PULSE_NONE, 0x1a, 0x1a},  // notice time, detect time, mail masks
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.model);
        const int index = add_record("127.0.0.2", 10003, k.model, k.kind);
        wexo_unit_capabilities by_record{}, by_model{};
        ASSERT_EQ(wexo_capabilities(index, &by_record), 1);
        ASSERT_EQ(wexo_model_capabilities(k.model, k.kind, &by_model), 1);
        EXPECT_EQ(std::memcmp(&by_record, &by_model, sizeof by_model), 0);
        EXPECT_EQ(by_model.counters, k.counters);
        EXPECT_EQ(by_model.thermocouples, k.thermocouples);
        EXPECT_EQ(by_model.writable, k.writable);
        EXPECT_EQ(std::vector<unsigned>({unsigned(by_model.switching_frames), unsigned(by_model.pulse_frames),
                                         by_model.settings, by_model.settings_in_eeprom}),
                  std::vector<unsigned>({unsigned(k.switching), unsigned(k.pulse), k.settings, k.in_eeprom}));
    }
    // Unknown model, unknown kind, null result: code 6, nothing written.
    wexo_unit_capabilities c{};
    c.model = 99;
    const int unknown = add_record("127.0.0.3", 10003, -1, 0);
    EXPECT_EQ(wexo_capabilities(unknown, &c), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 6);
    EXPECT_EQ(wexo_model_capabilities(48, 0, &c), 0);
    EXPECT_EQ(wexo_model_capabilities(17, 2, &c), 0);
    EXPECT_EQ(wexo_model_capabilities(17, 0, nullptr), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 6);
    EXPECT_EQ(c.model, 99);
    EXPECT_EQ(wexo_capabilities(unknown + 1, &c), 0);
    EXPECT_EQ(ZuWexoGetLastError(), 3);
    // <wexo.hpp> gives the same.
    const auto cpp = wexo::model_capabilities(42, 6);
    ASSERT_TRUE(cpp);
    EXPECT_TRUE(cpp->can(WEXO_CAN_THERMOCOUPLES | WEXO_CAN_DIGITAL_OUTPUTS));
    EXPECT_EQ(wexo::model_capabilities(48).error(), wexo::errc::not_possible);
}

TEST(DeviceRecord, LayoutIsFixed) {
    EXPECT_EQ(offsetof(wexo_device, unit_addr), 8u);
    EXPECT_EQ(offsetof(wexo_device, mac_address), 24u);
    EXPECT_EQ(offsetof(wexo_device, ip_text), 30u);
    EXPECT_EQ(offsetof(wexo_device, data_port), 46u);
    EXPECT_EQ(offsetof(wexo_device, cp_port), 48u);
    EXPECT_EQ(offsetof(wexo_device, cp_mode), 52u);
    EXPECT_EQ(offsetof(wexo_device, cp_flag), 64u);
    EXPECT_EQ(offsetof(wexo_device, cp_block), 68u);
    EXPECT_EQ(offsetof(wexo_device, serial_flags), 198u);
    EXPECT_EQ(offsetof(wexo_device, firm_type), 203u);
    EXPECT_EQ(offsetof(wexo_device, board_id), 205u);
    EXPECT_EQ(offsetof(wexo_device, model_code), 208u);
    EXPECT_EQ(offsetof(wexo_device, unit_kind), 216u);
    EXPECT_EQ(sizeof(wexo_device), 220u);
    EXPECT_EQ(sizeof(xportset), 256u * 220u);
}

}  // namespace
