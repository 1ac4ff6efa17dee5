// Parameter memory, pulse mode, counters, alerts, reset time and the unit
// settings: per call the requests on the wire, the results, codes and lines.
#include <gmock/gmock.h>

#include <cerrno>
#include <climits>

#include "../dio/wire_case.hpp"
#include "pulse/pic_parameters.hpp"

using namespace diotest;

namespace {

// Models by pulse variant: 0 parameter frames (basic set), 1 full set on
// kind 3 only, 17 ASCII frames (four inputs), 3 no pulse mode.
constexpr int kBasic = 0;
constexpr int kFull = 1;
constexpr int kAscii = 17;
constexpr int kNone = 3;

TEST(SixBitGroups, RoundTrip) {
    const std::pair<uint32_t, std::array<uint8_t, 6>> cases[] = {
        {1000, {0, 0, 0, 0, 0x0F, 0x28}},
        {0x12345678, {0x00, 0x12, 0x0D, 0x05, 0x19, 0x38}},
        {0x80000000u, {0x02, 0, 0, 0, 0, 0}},
        {0xFFFFFFFFu, {0x03, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F}},
    };
    for (const auto& [value, groups] : cases) {
        EXPECT_EQ(wexo::six_bit_groups(value), groups);
        EXPECT_EQ(static_cast<uint32_t>(wexo::from_six_bit_groups(groups)), value);
    }
    EXPECT_EQ(wexo::from_six_bit_groups(std::array<uint8_t, 6>{0x02, 0, 0, 0, 0, 0}), INT_MIN);
}

Call config(int channel, int updown, int a, int b) {
    return [=](Out&) { return ZuWexoPulseModeSetConfig(0, channel, updown, a, b); };
}

const Case kCases[] = {
    // ---- parameter memory
    {.name = "WriteEchoed", .model = kFull, .kind = 3, .binaries = {{0xF4, 2, {0xF4, 0x01}}},
     .call = [](Out&) { const uint8_t r[] = {0xF4, 0x01}; return setPICparameter2(0, r, 2); },
     .frames = {"F4 01"}},
    {.name = "WriteEchoWrongValue", .model = kFull, .kind = 3, .binaries = {{0xF4, 2, {0xF4, 0x02}}},
     .call = [](Out&) { const uint8_t r[] = {0xF4, 0x01}; return setPICparameter2(0, r, 2); },
     .frames = {"F4 01"}, .result = 0, .code = 9, .mask = 8, .lines = {"setPICparameter2 chk error."}},
    {.name = "WriteEchoWrongCode", .model = kFull, .kind = 3, .binaries = {{0xF4, 2, {0xF5, 0x01}}},
     .call = [](Out&) { const uint8_t r[] = {0xF4, 0x01}; return setPICparameter2(0, r, 2); },
     .frames = {"F4 01"}, .result = 0, .code = 9, .mask = 8, .lines = {"getPICparameter2 chk error."}},
    {.name = "ReadTraceListsEveryByte", .model = kFull, .kind = 3,
     .binaries = {{0xE6, 1, {0xE6, 0x15, 0x05}}},
     .call = [](Out& o) { uint8_t r[3]; const uint8_t q[] = {0xE6}; const int x = getPICparameter2(0, q, 1, r, 3); o.a = r[1]; return x; },
     .frames = {"E6"}, .out = with(0x15), .mask = 4, .lines = {"getPICparameter2 0:e6 ->e6 15 05 "}},
    {.name = "ReadStoresOnlyOnSuccess", .model = kFull, .kind = 3, .binaries = {{0x90, 2, {0x91, 0x07}}},
     .call = [](Out& o) { unsigned v = 0xAAAA; const int x = getPICparameter(0, 0x90, 1, &v); o.a = static_cast<int>(v); return x; },
     .frames = {"90 01"}, .result = 0, .out = with(0xAAAA), .code = 9},
    {.name = "ParameterFrameTooLong", .model = kFull, .kind = 3,
     .call = [](Out&) { uint8_t r[17] = {0xF4}; return setPICparameter2(0, r, 17); }, .result = 0, .code = 6},
    // ---- each family when the unit falls silent or hangs up
    {.name = "ParameterReadSilent", .model = kBasic,
     .call = [](Out& o) { return ZuWexoPulseModeGetState(0, &o.a); }, .frames = {"E4"}, .result = 0,
     .code = 10000 + EAGAIN, .mask = 8, .lines = {"getPICparameter2 recv error."},
     .fault = FaultKind::Silence, .timeout_ms = 20},
    {.name = "AsciiPulseClosed", .model = kAscii, .kind = 4,
     .call = [](Out& o) { return ZuWexoPulseModeGetState(0, &o.a); }, .frames = {"50 4A C8"},
     .result = 0, .code = 10000 + ECONNRESET, .fault = FaultKind::CloseMidReply},
    {.name = "EepromReadClosed", .model = kAscii, .kind = 4,
     .call = [](Out& o) { unsigned v = 0; const int r = ZuWexoGetResendWaitTime(0, &v); o.a = static_cast<int>(v); return r; },
     .frames = {"4D 52 30 34 33 31 C8"}, .result = 0, .out = with(0), .code = 10000 + ECONNRESET,
     .mask = 8, .lines = {"get_EEPROM_MR recv error."}, .fault = FaultKind::CloseMidReply},
    {.name = "AlertStatusSilent", .model = 42,
     .call = [](Out& o) { return ZuWexoGetDOAlertStatus(0, 0, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"44 4A 20 C8"}, .result = 0, .code = 9, .mask = 8,
     .lines = {"requestid DJ recv error. len = 0"}, .fault = FaultKind::Silence, .timeout_ms = 20},
    // ---- configuration
    {.name = "NoPulseMode", .model = kNone, .call = config(0, 0, 0, 0), .result = 0, .code = 6},
    {.name = "FullSetNeedsKind3", .model = kFull, .kind = 0, .call = config(0, 0, 0, 0), .result = 0, .code = 6},
    {.name = "Config2NotOnTheBasicSet", .model = kBasic, .kind = 0,
     .call = [](Out&) { return ZuWexoPulseModeSetConfig2(0, 0, 0); }, .result = 0, .code = 6},
    {.name = "ConfigOnTheBasicSet", .model = kBasic, .kind = 0, .binaries = {{0xF6, 3, {0xF6, 0x01, 0x0A}}},
     .call = config(0, 0, 0, 10), .frames = {"F6 01 0A"}, .mask = 2,
     .lines = {"ZuWexoPulseModeSetConfig:0:0:UP:0:10"}},
    {.name = "ConfigDown", .model = kFull, .kind = 3, .binaries = {{0xF6, 3, {0xF6, 0x2A, 0x14}}},
     .call = config(1, 1, 2, 20), .frames = {"F6 2A 14"}},
    {.name = "SettingB3Refused", .model = kBasic, .call = config(0, 0, 0, 3), .result = 0, .code = 6},
    {.name = "SettingB21Refused", .model = kBasic, .call = config(0, 0, 0, 21), .result = 0, .code = 6},
    {.name = "AsciiConfigEnablesOneChannel", .model = kAscii, .kind = 4,
     .replies = {{"PJ", reply("pj\x2D\x25")}, {"PL", reply("pl")}, {"PH", reply("ph\x20\x21")},
                 {"PC", reply("pc")}, {"PH", reply("ph\x21\x20")}, {"PC", reply("pc")},
                 {"PH", reply("ph\x22\x20")}, {"PC", reply("pc")}, {"PH", reply("ph\x23\x20")},
                 {"PC", reply("pc")}},
     .call = config(2, 2, 1, 20),
     .frames = {"50 4A C8", "50 4C 2B 24 C8", "50 48 20 C8", "50 43 20 20 C8", "50 48 21 C8",
                "50 43 21 20 C8", "50 48 22 C8", "50 43 22 22 C8", "50 48 23 C8", "50 43 23 20 C8"},
     .mask = 2, .lines = {"ZuWexoPulseModeSetConfig:0:2:DOWN:1:20"}},
    {.name = "AsciiEnable2Enables", .model = kAscii, .kind = 4, .replies = {{"PC", reply("pc")}},
     .call = [](Out&) { return ZuWexoPulseModeSetConfigChannel(0, 1, 2, 0); }, .frames = {"50 43 21 21 C8"},
     .mask = 2, .lines = {"ZuWexoPulseModeSetConfigChannel:0:1:ENALBE:UP"}},
    // ---- values a frame cannot carry are refused, not masked into other bits
    {.name = "NegativeChannelRefused", .model = kBasic, .call = config(-1, 0, 0, 10), .result = 0, .code = 6},
    {.name = "NegativeChannelOfACounter", .model = kAscii, .kind = 4,
     .call = [](Out& o) { return ZuWexoPulseModeGetCount2(0, -1, &o.wide); }, .result = 0, .code = 6},
    {.name = "NegativeSettingARefused", .model = kBasic, .call = config(0, 0, -1, 10), .result = 0, .code = 6},
    {.name = "NegativeSettingBRefused", .model = kFull, .kind = 3,
     .call = [](Out&) { return ZuWexoPulseModeSetConfig2(0, 0, -4); }, .result = 0, .code = 6},
    {.name = "AlertModeBeyondTwoBits", .model = kFull, .kind = 3,
     .call = [](Out&) { return ZuWexoPulseModeSetAlart(0, 1, 4, 1000); }, .result = 0, .code = 6},
    {.name = "AlertValueBeyond32Bits", .model = kFull, .kind = 3,
     .call = [](Out&) { return ZuWexoPulseModeSetAlart(0, 1, 2, 0x100000000LL); }, .result = 0, .code = 6},
    {.name = "AlertValueAsUnsigned32Bits", .model = kFull, .kind = 3,
     .binaries = {{0xF9, 8, {0xF9, 0x11, 0x03, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F}}},
     .call = [](Out&) { return ZuWexoPulseModeSetAlart(0, 1, 2, 0xFFFFFFFFLL); },
     .frames = {"F9 11 03 3F 3F 3F 3F 3F"}},
    {.name = "ReadNoChannelIsMinus1", .model = kBasic, .binaries = {{0xE6, 1, {0xE6, 0x30, 0x0A}}},
     .call = [](Out& o) { return ZuWexoPulseModeGetConfig(0, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"E6"}, .out = with(-1, 0, 3, 10)},
    {.name = "AsciiReadAllDisabled", .model = kAscii, .kind = 4,
     .replies = {{"PJ", reply("pj\x23\x24")}, {"PH", reply("ph\x20\x20")}, {"PH", reply("ph\x21\x20")},
                 {"PH", reply("ph\x22\x20")}, {"PH", reply("ph\x23\x20")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetConfig(0, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"50 4A C8", "50 48 20 C8", "50 48 21 C8", "50 48 22 C8", "50 48 23 C8"},
     .out = with(0, 0, 1, 20)},
    {.name = "AsciiChannelCode3", .model = kAscii, .kind = 4, .replies = {{"PH", reply("ph\x21\x23")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetConfigChannel(0, 1, &o.a, &o.b); },
     .frames = {"50 48 21 C8"}, .result = 0, .out = with(0, 0), .code = 9},
    {.name = "AsciiStatusTooShort", .model = kAscii, .kind = 4, .replies = {{"PJ", reply("pj\x23")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetConfig2(0, &o.a, &o.b); },
     .frames = {"50 4A C8"}, .result = 0, .code = 9},
    // ---- counters
    {.name = "Count16", .model = kBasic, .binaries = {{0xF5, 2, {0xF5, 0x01, 0xF2, 0xE3, 0xD4}}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount(0, &o.a); }, .frames = {"F5 04"},
     .out = with(4660)},
    {.name = "Count16Overflow", .model = kBasic, .binaries = {{0xF5, 2, {0xF5, 0x11, 0x02, 0x03, 0x04}}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount(0, &o.a); }, .frames = {"F5 04"},
     .out = with(-1)},
    {.name = "AsciiCountOfTheFirstEnabled", .model = kAscii, .kind = 4,
     .replies = {{"PH", reply("ph\x20\x20")}, {"PH", reply("ph\x21\x20")}, {"PH", reply("ph\x22\x21")},
                 {"PG", reply("pg\x22" "0001E240")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount(0, &o.a); },
     .frames = {"50 48 20 C8", "50 48 21 C8", "50 48 22 C8", "50 47 22 C8"}, .out = with(65535)},
    {.name = "AsciiCountNoneEnabled", .model = kAscii, .kind = 4,
     .replies = {{"PH", reply("ph\x20\x20")}, {"PH", reply("ph\x21\x20")}, {"PH", reply("ph\x22\x20")},
                 {"PH", reply("ph\x23\x20")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount(0, &o.a); },
     .frames = {"50 48 20 C8", "50 48 21 C8", "50 48 22 C8", "50 48 23 C8"}, .result = 0, .code = 6},
    {.name = "AsciiCount32", .model = kAscii, .kind = 4, .replies = {{"PG", reply("pg\x22" "0001E240")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount2(0, 2, &o.wide); }, .frames = {"50 47 22 C8"},
     .out = wide(123456), .mask = 2, .lines = {"ZuWexoPulseModeGetCount2:0:2:123456"}},
    {.name = "AsciiCountNotHex", .model = kAscii, .kind = 4, .replies = {{"PG", reply("pg\x22" "0001E24G")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount2(0, 2, &o.wide); }, .frames = {"50 47 22 C8"},
     .result = 0, .code = 9},
    {.name = "AsciiCountFieldCutShort", .model = kAscii, .kind = 4, .replies = {{"PG", reply("pg\x22" "12")}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount2(0, 2, &o.wide); }, .frames = {"50 47 22 C8"},
     .result = 0, .code = 9},
    {.name = "Count32", .model = kFull, .kind = 3,
     .binaries = {{0xE5, 2, {0xE5, 0x03, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x28}}},
     .call = [](Out& o) { return ZuWexoPulseModeGetCount2(0, 1, &o.wide); }, .frames = {"E5 01"},
     .out = wide(1000)},
    {.name = "Count32NotOnTheBasicSet", .model = kBasic,
     .call = [](Out& o) { return ZuWexoPulseModeGetCount2(0, 1, &o.wide); }, .result = 0, .code = 6},
    // ---- on, off, continuous, alert
    {.name = "OnWhenAlreadyOn", .model = kBasic, .binaries = {{0xE4, 1, {0xE4, 0x00}}},
     .call = [](Out&) { return ZuWexoPulseModeOn(0); }, .frames = {"E4"}, .mask = 3,
     .lines = {"ZuWexoPulseModeOn", "ZuWexoPulseModeGetState", "ZuWexoPulseModeGetState:0:1"}},
    {.name = "OnStopsWhenTheStateIsUnknown", .model = kBasic, .binaries = {{0xE4, 1, {0xE5, 0x00}}},
     .call = [](Out&) { return ZuWexoPulseModeOn(0); }, .frames = {"E4"}, .result = 0, .code = 9},
    {.name = "AsciiOn", .model = kAscii, .kind = 4,
     .replies = {{"PJ", reply("pj\x24\x2A")}, {"PJ", reply("pj\x24\x2A")}, {"PL", reply("pl")}},
     .call = [](Out&) { return ZuWexoPulseModeOn(0); },
     .frames = {"50 4A C8", "50 4A C8", "50 4C 2C 2A C8"}, .mask = 2,
     .lines = {"ZuWexoPulseModeGetState:0:0", "ZuWexoPulseModeOn:0"}},
    {.name = "OffOnTheFullSet", .model = kFull, .kind = 3,
     .binaries = {{0xE4, 1, {0xE4, 0x00}}, {0xF4, 2, {0xF4, 0x02}}},
     .call = [](Out&) { return ZuWexoPulseModeOff(0); }, .frames = {"E4", "F4 02"}},
    {.name = "ContinuousStateSense", .model = kBasic, .binaries = {{0xE7, 1, {0xE7, 0x00}}},
     .call = [](Out& o) { return ZuWexoPulseModeContinuesGetState(0, &o.a); }, .frames = {"E7"},
     .out = with(0)},
    {.name = "AsciiContinuousOn", .model = kAscii, .kind = 4, .replies = {{"PS", reply("ps")}},
     .call = [](Out&) { return ZuWexoPulseModeContinuesOn(0); }, .frames = {"50 53 28 C8"}},
    {.name = "SetAlert", .model = kFull, .kind = 3,
     .binaries = {{0xF9, 8, {0xF9, 0x11, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x28}}},
     .call = [](Out&) { return ZuWexoPulseModeSetAlart(0, 1, 2, 1000); },
     .frames = {"F9 11 00 00 00 00 0F 28"}},
    {.name = "GetAlertMostNegative", .model = kFull, .kind = 3,
     .binaries = {{0xE9, 1, {0xE9, 0x12, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}}},
     .call = [](Out& o) { return ZuWexoPulseModeGetAlart(0, &o.a, &o.b, &o.wide); }, .frames = {"E9"},
     .out = {.a = 2, .b = 2, .wide = INT_MIN}},
    {.name = "AlertNotOnAscii", .model = kAscii, .kind = 4,
     .call = [](Out&) { return ZuWexoPulseModeSetAlart(0, 1, 2, 1000); }, .result = 0, .code = 6},
    // ---- reset time and output alerts
    {.name = "ResetTime10", .model = kAscii, .kind = 4, .replies = {{"RS", reply("rs")}},
     .call = [](Out&) { return ZuWexoSetResetTime(0, 10); }, .frames = {"52 53 45 54 2A C8"}},
    {.name = "ResetTime11", .model = kAscii, .call = [](Out&) { return ZuWexoSetResetTime(0, 11); },
     .result = 0, .code = 6},
    {.name = "ResetTimeNegative", .model = kAscii, .call = [](Out&) { return ZuWexoSetResetTime(0, -1); },
     .result = 0, .code = 6},
    {.name = "AlertOnlyOnModel42", .model = 44,
     .call = [](Out&) { return ZuWexoDOAlertStartStop(0, 0, 1); }, .result = 0, .code = 6},
    {.name = "AlertStart", .model = 42, .replies = {{"DS", reply("ds")}},
     .call = [](Out&) { return ZuWexoDOAlertStartStop(0, 1, 5); }, .frames = {"44 53 21 21 C8"},
     .mask = 2, .lines = {"command DS : 1 5", ""}},
    {.name = "AlertConfigClamped", .model = 42, .replies = {{"DL", reply("dl")}},
     .call = [](Out&) { return ZuWexoSetDOAlertConfig(0, 0, 2, 0, 70000); },
     .frames = {"44 4C 20 22 20 46 46 46 46 C8"}},
    {.name = "AlertMode3", .model = 42, .call = [](Out&) { return ZuWexoSetDOAlertConfig(0, 0, 3, 0, 0); },
     .result = 0, .code = 6},
    {.name = "AlertStatus", .model = 42, .replies = {{"DJ", reply("dj\x21\x21\x22\x21" "012C")}},
     .call = [](Out& o) { return ZuWexoGetDOAlertStatus(0, 1, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"44 4A 21 C8"}, .out = with(1, 2, 1, 300)},
    {.name = "AlertStatusOtherChannel", .model = 42, .replies = {{"DJ", reply("dj\x21\x21\x22\x21" "012C")}},
     .call = [](Out& o) { return ZuWexoGetDOAlertStatus(0, 0, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"44 4A 20 C8"}, .result = 0, .code = 9},
    {.name = "AlertStatusNotHex", .model = 42, .replies = {{"DJ", reply("dj\x21\x21\x22\x21" "01 C")}},
     .call = [](Out& o) { return ZuWexoGetDOAlertStatus(0, 1, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"44 4A 21 C8"}, .result = 0, .code = 9},
    {.name = "AlertStatusTooShort", .model = 42, .replies = {{"DJ", reply("dj\x21\x21\x22\x21" "012")}},
     .call = [](Out& o) { return ZuWexoGetDOAlertStatus(0, 1, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"44 4A 21 C8"}, .result = 0, .code = 9, .mask = 8,
     .lines = {"requestid DJ recv error. len = 10"}},
    // ---- unit settings
    {.name = "NoticeTimeInEeprom", .model = kAscii, .kind = 4, .replies = {{"MW", reply("mwOK")}},
     .call = [](Out&) { return ZuWexoSetNoticeTime(0, 3); }, .frames = {"4D 57 30 34 30 31 33 46 C8"},
     .mask = 2, .lines = {"ZuWexoSetNoticeTime:0:3"}},
    {.name = "NoticeAndDisconnectionShareAByte", .model = kAscii, .kind = 4,
     .replies = {{"MR", reply("mr0401" "3F")}},
     .call = [](Out& o) { unsigned v = 0; const int r = ZuWexoGetDisconnectionTime(0, &v); o.a = static_cast<int>(v); return r; },
     .frames = {"4D 52 30 34 30 31 C8"}, .out = with(15)},
    {.name = "DisconnectionTime16", .model = kAscii, .call = [](Out&) { return ZuWexoSetDisconnectionTime(0, 16); },
     .result = 0, .code = 6},
    {.name = "NegativeTimeRefused", .model = kAscii, .call = [](Out&) { return ZuWexoSetNoticeTime(0, -1); },
     .result = 0, .code = 6},
    {.name = "ResendWait0", .model = kAscii, .call = [](Out&) { return ZuWexoSetResendWaitTime(0, 0); },
     .result = 0, .code = 6},
    {.name = "DetectTimeLayout2", .model = 41, .kind = 6, .replies = {{"MW", reply("mwOK")}},
     .call = [](Out&) { return ZuWexoSetDiDetectTime(0, 20); }, .frames = {"4D 57 30 34 32 31 31 34 C8"}},
    {.name = "MailLogicFourInputs", .model = kAscii, .kind = 4, .replies = {{"MW", reply("mwOK")}},
     .call = [](Out&) { return ZuWexoSetDiMailLogic(0, 5); }, .frames = {"4D 57 30 35 37 31 35 30 C8"}},
    {.name = "MailLogic32", .model = kAscii, .call = [](Out&) { return ZuWexoSetDiMailLogic(0, 32); },
     .result = 0, .code = 6},
    // Four inputs keep their mask in a nibble: bit 4 would be dropped.
    {.name = "MailLogic16OnFourInputs", .model = kAscii, .kind = 4,
     .call = [](Out&) { return ZuWexoSetDiMailLogic(0, 16); }, .result = 0, .code = 6},
    {.name = "MailEnableBitsAboveTheByte", .model = 43,
     .call = [](Out&) { return ZuWexoSetDiMailEnable(0, 0x103); }, .result = 0, .code = 6},
    {.name = "MailEnableLayout2ReadBack", .model = 43, .replies = {{"MR", reply("mr0441" "03")}},
     .call = [](Out& o) { unsigned v = 0; const int r = ZuWexoGetDiMailEnable(0, &v); o.a = static_cast<int>(v); return r; },
     .frames = {"4D 52 30 34 34 31 C8"}, .out = with(3)},
    {.name = "WriteAnsweredNG", .model = kAscii, .kind = 4, .replies = {{"MW", reply("mwNG")}},
     .call = [](Out&) { return ZuWexoSetResendWaitTime(0, 15); }, .frames = {"4D 57 30 34 33 31 30 46 C8"},
     .result = 0, .code = 9, .mask = 8, .lines = {"set_EEPROM_MW error. [NG]"}},
    {.name = "SettingsOnTheParameterPath", .model = kBasic, .binaries = {{0x92, 2, {0x92, 0x05}}},
     .call = [](Out&) { return ZuWexoSetResendWaitTime(0, 5); }, .frames = {"92 05"}},
    {.name = "FullSetSettingsNeedKind3", .model = kFull, .kind = 5,
     .call = [](Out&) { return ZuWexoSetResendWaitTime(0, 5); }, .result = 0, .code = 6},
    {.name = "ReadEepromStopsAtTheFirstFailure", .model = kAscii, .kind = 4,
     .replies = {{"MR", reply("mr0101" "AB")}, {"MR", reply("mr01")}},
     .call = [](Out& o) { unsigned char b[3] = {0, 0, 0}; const int r = ZuWexoReadEEPROM(0, 0x10, 3, b); o.a = b[0]; o.b = b[1]; return r; },
     .frames = {"4D 52 30 31 30 31 C8", "4D 52 30 31 31 31 C8"}, .result = 0, .out = with(0xAB, 0),
     .code = 9},
    {.name = "EepromDigitsNotHex", .model = kAscii, .kind = 4, .replies = {{"MR", reply("mr0101" "G1")}},
     .call = [](Out& o) { unsigned char b = 0x55; const int r = ZuWexoReadEEPROM(0, 0x10, 1, &b); o.a = b; return r; },
     .frames = {"4D 52 30 31 30 31 C8"}, .result = 0, .out = with(0x55), .code = 9},
    {.name = "EepromLastByte", .model = kAscii, .kind = 4, .replies = {{"MR", reply("mr" "FFF1" "7e")}},
     .call = [](Out& o) { unsigned char b = 0; const int r = ZuWexoReadEEPROM(0, 4095, 1, &b); o.a = b; return r; },
     .frames = {"4D 52 46 46 46 31 C8"}, .out = with(0x7E)},
    {.name = "EepromWritePastTheEnd", .model = kAscii, .kind = 4,
     .call = [](Out&) { const unsigned char d[2] = {1, 2}; return ZuWexoWriteEEPROM(0, 4095, 2, d); },
     .result = 0, .code = 6},
    {.name = "EepromWriteAtTheLargestAddress", .model = kAscii, .kind = 4,
     .call = [](Out&) { const unsigned char d[1] = {1}; return ZuWexoWriteEEPROM(0, 0x7FFFFFFF, 1, d); },
     .result = 0, .code = 6},
    {.name = "EepromReadNegativeAddress", .model = kAscii, .kind = 4,
     .call = [](Out&) { unsigned char b[2]; return ZuWexoReadEEPROM(0, -1, 2, b); }, .result = 0, .code = 6},
    {.name = "SamplingRateFromEeprom", .model = 44, .replies = {{"MR", reply("mr0491" "05")}},
     .call = [](Out& o) { return ZuWexoGetAnalogInputADCsps(0, &o.a); }, .frames = {"4D 52 30 34 39 31 C8"},
     .out = with(5), .mask = 2, .lines = {"current sps : 5"}},
};

class PulseWire : public WireTest {};

TEST_P(PulseWire, Exchange) { run(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Calls, PulseWire, testing::ValuesIn(kCases), wire_case_name);

TEST_F(DioTest, RawEepromCallsNeedAnOpenChannel) {
    add_record("127.0.0.2", 10003, kAscii, 4);
    unsigned char byte = 0;
    EXPECT_EQ(ZuWexoReadEEPROM(0, 0, 1, &byte), 0);
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(ZuWexoWriteEEPROM(1, 0, 1, &byte), 0);
    EXPECT_EQ(error, 3u);
    EXPECT_EQ(ZuWexoWriteEEPROM(-1, 0, 1, &byte), 0);
    EXPECT_EQ(error, 6u);
}

}  // namespace
