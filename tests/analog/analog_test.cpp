// Analog inputs, outputs, thermocouples and thresholds: the numbers as pure
// functions, then every call's request bytes, result, code and log lines
// against a simulated board whose replies are given byte for byte.
#include <gmock/gmock.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "../dio/wire_case.hpp"
#include "analog/analog.hpp"

using namespace diotest;
using namespace wexo::analog;
using wexo::Frame;
using wexo::ReplyView;

namespace {

std::string hex_of(const Frame& frame) {
    return hex(Bytes(frame.data(), frame.data() + frame.size()));
}

// ---------------------------------------------------------------- numbers

TEST(AnalogNumbers, CountsAndRanges) {
    const struct {
        const char* digits;
        int32_t count;
    } counts[] = {{"800000", -8388608}, {"7FFFFF", 8388607}, {"FFFFFF", -1}, {"000010", 16},
                  {"ffffff", -1}};
    for (const auto& c : counts) {
        EXPECT_EQ(ReplyView({reinterpret_cast<const uint8_t*>(c.digits), 6}).signed_hex(0, 6), std::optional<int32_t>(c.count));
    }
    EXPECT_EQ(ReplyView({reinterpret_cast<const uint8_t*>("8000"), 4}).signed_hex(0, 4), std::optional<int32_t>(-32768));

    const struct {
        int32_t count;
        int range;
        double value;
    } exact[] = {{8388607, 2, 10.0}, {-8388608, 2, -10.0}, {0, 2, 0.0},   {8388607, 0, 0.1},
                 {-8388608, 3, -30.0}, {-8388608, 6, -3276.8}, {8388607, 5, 20.0}};
    for (const auto& c : exact) {
        double v = 99;
        ASSERT_TRUE(count_to_value(c.count, c.range, v));
        EXPECT_EQ(v, c.value) << c.count << " range " << c.range;
    }
    double v = 0;
    ASSERT_TRUE(count_to_value(8388607, 6, v));
    EXPECT_LT(v, 3276.8);  // just under full scale
    EXPECT_GT(v, 3276.79);
    ASSERT_TRUE(count_to_value(-8388608, 4, v));
    EXPECT_LT(v, -20.0);  // codes 4 and 5 divide by 8388607 for either sign
    v = 7;
    EXPECT_FALSE(count_to_value(100, 7, v));
    EXPECT_EQ(v, 7);
}

TEST(AnalogNumbers, OutputConversions) {
    const std::pair<double, int32_t> volts[] = {{10.0, 32767}, {5.0, 16384},   {-10.0, -32768},
                                                {-5.0, -16384}, {12.0, 39320}, {0.0, 0}};
    for (const auto& [in, raw] : volts) EXPECT_EQ(volts_to_raw(in), raw) << in;
    const std::pair<double, int32_t> milliamperes[] = {{20.0, 32767}, {10.0, 16384}, {-1.0, -1637}};
    for (const auto& [in, raw] : milliamperes) EXPECT_EQ(milliamperes_to_raw(in), raw) << in;
    EXPECT_EQ(volts_to_raw(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(volts_to_raw(1e300), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(truncate_saturating(-1e300), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(truncate_saturating(-20.05 * 10), -200);

    EXPECT_EQ(raw_to_value(32767, 0), 10.0);
    EXPECT_EQ(raw_to_value(-32768, 0), -10.0);
    EXPECT_NEAR(raw_to_value(16384, 1), 10.0003, 1e-4);
}

TEST(AnalogNumbers, OutputFrames) {
    const struct {
        int channel, mode, raw;
        const char* bytes;
    } entries[] = {
        {1, 0, 16384, "41 4F 21 34 30 30 30 C8"}, {1, 1, 16384, "41 4F 29 34 30 30 30 C8"},
        {0, 0, 40000, "41 4F 20 37 46 46 46 C8"}, {0, 0, -40000, "41 4F 20 38 30 30 30 C8"},
        {0, 1, -5, "41 4F 28 30 30 30 30 C8"},
    };
    for (const auto& e : entries) {
        Frame frame;
        ASSERT_TRUE(output_request('O', 1, &e.channel, &e.mode, &e.raw, frame));
        EXPECT_EQ(hex_of(frame), e.bytes);
    }
    const int channels[] = {0, 1};
    const int modes[] = {0, 2};
    const int raws[] = {1, 2};
    Frame frame;
    EXPECT_FALSE(output_request('O', 2, channels, modes, raws, frame));
}

// ---------------------------------------------------------------- calls

const Case kCases[] = {
    // ---- analog inputs
    {.name = "InputChannel2", .model = 42,
     .replies = {{"AI", reply("ai\x22" "000010")}},
     .call = [](Out& o) { return ZuWexoGetAnalogInput(0, 2, &o.a); },
     .frames = {"41 49 22 C8"}, .out = with(16),
     .lines = {"ZuWexoGetAnalogInput", "get_ai_AI : 16"}},
    {.name = "InputChannelBeyondTheModel", .model = 42,
     .call = [](Out& o) { return ZuWexoGetAnalogInput(0, 3, &o.a); }, .result = 0, .code = 6},
    {.name = "InputOnAModelWithoutInputs", .model = 41,
     .call = [](Out& o) { return ZuWexoGetAnalogInput(0, 0, &o.a); }, .result = 0, .code = 6},
    {.name = "InputNullPointer", .model = 42,
     .call = [](Out&) { return ZuWexoGetAnalogInput(0, 0, nullptr); }, .result = 0, .code = 6},
    {.name = "AllInputsCappedAtTheModel", .model = 44,
     .replies = {{"AI", reply("ai\x27" "000001" "FFFFFF" "000000" "7FFFFF" "800000")}},
     .call = [](Out& o) {
         int counts[8] = {};
         const int r = ZuWexoGetAnalogInputAll(0, 8, counts);
         o.a = counts[0], o.b = counts[4], o.c = counts[5];
         return r;
     },
     .frames = {"41 49 27 C8"}, .result = 5, .out = with(1, -8388608, 0)},
    {.name = "AllInputsReplyTooShort", .model = 44,
     .replies = {{"AI", reply("ai\x27" "000001" "FFFFFF" "000000" "7FFFFF" "80000")}},
     .call = [](Out&) { int counts[5]; return ZuWexoGetAnalogInputAll(0, 5, counts); },
     .frames = {"41 49 27 C8"}, .result = 0, .code = 9,
     .lines = {"ZuWexoGetAnalogInputAll", "requestid AI recv error."}},
    // A count with a byte that is no hex digit: nothing stored, none invented.
    {.name = "InputDigitsNotHex", .model = 42,
     .replies = {{"AI", reply("ai\x22" "00G010")}},
     .call = [](Out& o) { return ZuWexoGetAnalogInput(0, 2, &o.a); },
     .frames = {"41 49 22 C8"}, .result = 0, .code = 9, .lines = {"ZuWexoGetAnalogInput"}},
    {.name = "AllInputsOneCountNotHex", .model = 44,
     .replies = {{"AI", reply("ai\x27" "000001" "FFFFFF" "000000" "7FFFFF" "80000Z")}},
     .call = [](Out& o) {
         int counts[5] = {7, 7, 7, 7, 7};
         const int r = ZuWexoGetAnalogInputAll(0, 5, counts);
         o.a = counts[0];
         return r;
     },
     .frames = {"41 49 27 C8"}, .result = 0, .out = with(7), .code = 9},
    {.name = "AllInputsNoneWanted", .model = 44,
     .call = [](Out&) { int counts[1]; return ZuWexoGetAnalogInputAll(0, 0, counts); },
     .result = 0, .code = 6},
    {.name = "InputOtherChannelEchoed", .model = 42,
     .replies = {{"AI", reply("ai\x22" "000010")}},
     .call = [](Out& o) { return ZuWexoGetAnalogInput(0, 1, &o.a); },
     .frames = {"41 49 21 C8"}, .result = 0,
     .code = 9, .lines = {"ZuWexoGetAnalogInput"}},
    {.name = "InputSilenceIsABadReply", .model = 42,
     .call = [](Out& o) { return ZuWexoGetAnalogInput(0, 0, &o.a); }, .frames = {"41 49 20 C8"},
     .result = 0, .code = 9, .lines = {"ZuWexoGetAnalogInput", "requestid AI recv error."},
     .fault = FaultKind::Silence, .timeout_ms = 20},
    {.name = "InputByValue", .model = 42,
     .replies = {{"AJ", reply("aj\x21\x22\x25")}, {"AI", reply("ai\x21" "7FFFFF")}},
     .call = [](Out& o) { return ZuWexoGetAnalogInputByValue(0, 1, &o.a, &o.value); },
     .frames = {"41 4A 21 C8", "41 49 21 C8"}, .out = with(2, 0xAAAA, 0xAAAA, 0xAAAA, 10.0),
     .lines = {"ZuWexoGetAnalogInputByValue", "ZuWexoGetAnalogInputRange", "get_ai_AJ : 2 5",
               "get_ai_AI : 8388607"}},
    {.name = "InputByValueRange7", .model = 42,
     .replies = {{"AJ", reply("aj\x21\x27\x25")}, {"AI", reply("ai\x21" "7FFFFF")}},
     .call = [](Out& o) { return ZuWexoGetAnalogInputByValue(0, 1, &o.a, &o.value); },
     .frames = {"41 4A 21 C8", "41 49 21 C8"}, .result = 0, .out = with(7), .code = 9},
    {.name = "InputByValueNullValue", .model = 42,
     .call = [](Out& o) { return ZuWexoGetAnalogInputByValue(0, 1, &o.a, nullptr); },
     .result = 0, .code = 6},
    {.name = "RangeReplyTooShort", .model = 42,
     .replies = {{"AJ", reply("aj\x20\x22")}},
     .call = [](Out& o) { return ZuWexoGetAnalogInputRange(0, 0, &o.a); },
     .frames = {"41 4A 20 C8"}, .result = 0, .code = 9,
     .lines = {"ZuWexoGetAnalogInputRange", "requestid AJ recv error."}},
    {.name = "TransmitCycleOfChannel0", .model = 44,
     .replies = {{"AJ", reply("aj\x20\x23\x2D")}},
     .call = [](Out& o) { return ZuWexoGetAiTransmitCycle(0, &o.a); },
     .frames = {"41 4A 20 C8"}, .out = with(13)},
    {.name = "Range6OnModel40", .model = 40,
     .call = [](Out&) { return ZuWexoSetAnalogInputRange(0, 0, 6); }, .result = 0, .code = 6},
    {.name = "Range6OnModel42", .model = 42,
     .replies = {{"AR", reply("ar")}},
     .call = [](Out&) { return ZuWexoSetAnalogInputRange(0, 2, 6); },
     .frames = {"41 52 22 26 C8"},
     .lines = {"ZuWexoSetAnalogInputRange", "set_ai_AR : 2 6"}},
    {.name = "SamplingRateCode8", .model = 42,
     .call = [](Out&) { return ZuWexoSetAnalogInputADCsps(0, 8); }, .result = 0, .code = 6},
    {.name = "SamplingRateCode7", .model = 42,
     .replies = {{"AP", reply("ap")}},
     .call = [](Out&) { return ZuWexoSetAnalogInputADCsps(0, 7); },
     .frames = {"41 50 27 C8"}},
    {.name = "TransmitCycleNegative", .model = 42,
     .call = [](Out&) { return ZuWexoSetAiTransmitCycle(0, -1); }, .result = 0, .code = 6},
    {.name = "SetterKeepsTheReadersCode", .model = 42,
     .call = [](Out&) { return ZuWexoSetAiTransmitCycle(0, 3); }, .frames = {"41 53 23 C8"},
     .result = 0, .code = 10000 + EAGAIN, .lines = {"ZuWexoSetAiTransmitCycle"},
     .fault = FaultKind::Silence, .timeout_ms = 20},
    {.name = "ThresholdReadClosed", .model = 42,
     .call = [](Out& o) { return ZuWexoGetAnalogThresholds(0, 0, &o.a, &o.b, &o.c); },
     .frames = {"41 4B 20 C8"}, .result = 0, .code = 9,
     .lines = {"ZuWexoGetAnalogThresholds", "requestid AK recv error."}, .fault = FaultKind::CloseMidReply},
    {.name = "ThermocoupleWriteClosed", .model = 42,
     .call = [](Out&) { return ZuWexoSetTCConfig(0, 0, 1, 0, 0, 0); }, .frames = {"54 43 20 21 20 C8"},
     .result = 0, .code = 10000 + ECONNRESET, .lines = {"ZuWexoSetTCConfig"}, .fault = FaultKind::CloseMidReply},
    // ---- analog outputs
    {.name = "Output", .model = 41,
     .replies = {{"AO", reply("ao\x21" "4000")}},
     .call = [](Out&) { return ZuWexoSetAnalogOutput(0, 1, 0, 16384); },
     .frames = {"41 4F 21 34 30 30 30 C8"},
     .lines = {"ZuWexoSetAnalogOutput", "set_ao_AOAQ : 4000"}},
    {.name = "OutputLineShowsOnlyWhatCameBack", .model = 41,
     .replies = {{"AQ", reply("aq")}},
     .call = [](Out&) { return ZuWexoSetInitialAnalogOutput(0, 0, 1, -5); },
     .frames = {"41 51 28 30 30 30 30 C8"},
     .lines = {"ZuWexoSetInitialAnalogOutput", "set_ao_AOAQ : "}},
    {.name = "OutputVolts", .model = 43,
     .replies = {{"AO", reply("ao")}},
     .call = [](Out&) { return ZuWexoSetAnalogOutputVoltage(0, 2, -5.0); },
     .frames = {"41 4F 22 43 30 30 30 C8"}},
    {.name = "OutputMilliamperesClamped", .model = 43,
     .replies = {{"AQ", reply("aq")}},
     .call = [](Out&) { return ZuWexoSetInitialAnalogOutputCurrent(0, 0, 25.0); },
     .frames = {"41 51 28 37 46 46 46 C8"}},
    {.name = "OutputBadMode", .model = 41,
     .call = [](Out&) { return ZuWexoSetAnalogOutput(0, 0, 2, 1); }, .result = 0, .code = 6},
    {.name = "MultiMoreThanTheOutputs", .model = 41,
     .call = [](Out&) {
         const int ch[] = {0, 1, 1}, md[] = {0, 0, 0}, raw[] = {1, 2, 3};
         return ZuWexoSetAnalogOutputMulti(0, 3, ch, md, raw);
     },
     .result = 0, .code = 6},
    {.name = "MultiOneBadModeSendsNothing", .model = 41,
     .call = [](Out&) {
         const int ch[] = {0, 1}, md[] = {0, 2}, raw[] = {1, 2};
         return ZuWexoSetAnalogOutputMulti(0, 2, ch, md, raw);
     },
     .result = 0, .code = 6},
    {.name = "MultiInOneFrame", .model = 41,
     .replies = {{"AO", reply("ao")}},
     .call = [](Out&) {
         const int ch[] = {1, 0}, md[] = {1, 0}, raw[] = {0x1234, -1};
         return ZuWexoSetAnalogOutputMulti(0, 2, ch, md, raw);
     },
     .frames = {"41 4F 29 31 32 33 34 20 46 46 46 46 C8"}},
    {.name = "ReadBackCurrent", .model = 41,
     .replies = {{"AY", reply("ay\x29" "4000")}},
     .call = [](Out& o) { return ZuWexoGetAnalogOutputByValue(0, 1, &o.a, &o.value); },
     .frames = {"41 59 21 C8"},
     .out = with(1, 0xAAAA, 0xAAAA, 0xAAAA, 16384 * 20.0 / 32767),
     .lines = {"ZuWexoGetAnalogOutputByValue", "get_ao_AY : 1 16384"}},
    {.name = "ReadBackVoltage", .model = 41,
     .replies = {{"AY", reply("ay\x21" "8000")}},
     .call = [](Out& o) { return ZuWexoGetAnalogOutput(0, 1, &o.a, &o.b); },
     .frames = {"41 59 21 C8"}, .out = with(0, -32768)},
    {.name = "ReadBackOtherChannel", .model = 41,
     .replies = {{"AY", reply("ay\x22" "8000")}},
     .call = [](Out& o) { return ZuWexoGetAnalogOutput(0, 1, &o.a, &o.b); },
     .frames = {"41 59 21 C8"}, .result = 0, .code = 9},
    {.name = "ReadBackNotHex", .model = 41,
     .replies = {{"AY", reply("ay\x21" "8O00")}},
     .call = [](Out& o) { return ZuWexoGetAnalogOutput(0, 1, &o.a, &o.b); },
     .frames = {"41 59 21 C8"}, .result = 0, .code = 9},
    {.name = "ReadBackTooShort", .model = 41,
     .replies = {{"AY", reply("ay\x21" "800")}},
     .call = [](Out& o) { return ZuWexoGetAnalogOutput(0, 1, &o.a, &o.b); },
     .frames = {"41 59 21 C8"}, .result = 0, .code = 9,
     .lines = {"ZuWexoGetAnalogOutput", "requestid AY recv error. len = 7"}},
    // ---- thermocouples
    {.name = "ThermocoupleType", .model = 42,
     .replies = {{"TC", reply("tc")}},
     .call = [](Out&) { return ZuWexoSetTCType(0, 2, 1); },
     .frames = {"54 43 22 21 23 C8"},
     .lines = {"ZuWexoSetTCType", "ZuWexoSetTCConfig", "set_tc_TC : 1 3"}},
    {.name = "ThermocoupleOnModel40", .model = 40,
     .call = [](Out&) { return ZuWexoSetTCType(0, 0, 1); }, .result = 0, .code = 6},
    {.name = "ThermocoupleFlags", .model = 42,
     .replies = {{"TC", reply("tc")}},
     .call = [](Out&) { return ZuWexoSetTCConfig(0, 0, 7, 5, 0, -1); },
     .frames = {"54 43 20 27 25 C8"}},
    {.name = "ThermocoupleType8", .model = 42,
     .call = [](Out&) { return ZuWexoSetTCConfig(0, 0, 8, 0, 0, 0); }, .result = 0, .code = 6},
    {.name = "TransmitScale", .model = 44,
     .replies = {{"TF", reply("tf")}},
     .call = [](Out&) { return ZuWexoSetTCTransmitScale(0, 1, 1, -20.05, 5000.0); },
     .frames = {"54 46 21 21 46 46 33 38 37 46 46 46 C8"},
     .lines = {"ZuWexoSetTCTransmitScale", "set_tc_TF : 1 1 -200 32767"}},
    {.name = "TransmitScaleMode4", .model = 44,
     .call = [](Out&) { return ZuWexoSetTCTransmitScale(0, 1, 4, 0, 0); }, .result = 0, .code = 6},
    {.name = "TransmitScaleReadBack", .model = 44,
     .replies = {{"TJ", reply("tj\x23\x21\x23\x22" "FF38" "8000")}},
     .call = [](Out& o) {
         double high = 0;
         const int r = ZuWexoGetTCTransmitScale(0, 3, &o.a, &o.value, &high);
         o.b = static_cast<int>(high * 10);
         return r;
     },
     .frames = {"54 4A 23 C8"},
     .out = with(2, -32768, 0xAAAA, 0xAAAA, -20.0)},
    {.name = "ThermocoupleConfigReadBack", .model = 44,
     .replies = {{"TJ", reply("tj\x20\x25\x25\x20" "0000" "0000")}},
     .call = [](Out& o) { return ZuWexoGetTCConfig(0, 0, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"54 4A 20 C8"},
     .out = with(5, 1, 0, 1)},
    {.name = "TransmitScaleNotHex", .model = 44,
     .replies = {{"TJ", reply("tj\x23\x21\x23\x22" "FF38" "-100")}},
     .call = [](Out& o) {
         double high = 0;
         return ZuWexoGetTCTransmitScale(0, 3, &o.a, &o.value, &high);
     },
     .frames = {"54 4A 23 C8"}, .result = 0, .code = 9},
    {.name = "ThermocoupleReplyTooShort", .model = 44,
     .replies = {{"TJ", reply("tj\x20\x25\x25\x20" "0000" "000")}},
     .call = [](Out& o) { return ZuWexoGetTCConfig(0, 0, &o.a, &o.b, &o.c, &o.d); },
     .frames = {"54 4A 20 C8"},
     .result = 0, .code = 9, .lines = {"ZuWexoGetTCConfig", "requestid TJ recv error."}},
    // ---- thresholds and mail condition
    {.name = "OutputThresholdsWithoutRead", .model = 41,
     .replies = {{"AL", reply("al")}},
     .call = [](Out&) { return ZuWexoSetAnalogThresholds(0, 1, 1, 40000, -1); },
     .frames = {"41 4C 21 28 37 46 46 46 46 46 46 46 C8"},
     .lines = {"ZuWexoSetAnalogThresholds", "set_aio_AL : 1 8 32767 -1"}},
    {.name = "OutputThresholdBeyondTheOutputs", .model = 41,
     .call = [](Out&) { return ZuWexoSetAnalogThresholds(0, 2, 1, 0, 0); }, .result = 0, .code = 6},
    {.name = "MailConditionOnAnOutputModel", .model = 41,
     .call = [](Out& o) { return ZuWexoGetAiMailCondition(0, 0, &o.a); }, .result = 0, .code = 6},
    {.name = "InputThresholdsKeepTheMailCondition", .model = 42,
     .replies = {{"AK", reply("ak\x20\x22" "0001" "0002")}, {"AL", reply("al")}},
     .call = [](Out&) { return ZuWexoSetAnalogThresholds(0, 0, 1, -40000, 16); },
     .frames = {"41 4B 20 C8", "41 4C 20 2A 38 30 30 30 30 30 31 30 C8"}},
    {.name = "DisablingKeepsTheMailCondition", .model = 42,
     .replies = {{"AK", reply("ak\x20\x2A" "0001" "0002")}, {"AL", reply("al")}},
     .call = [](Out&) { return ZuWexoSetAnalogThresholds(0, 0, 0, 1, 2); },
     .frames = {"41 4B 20 C8", "41 4C 20 22 30 30 30 31 30 30 30 32 C8"}},
    {.name = "ThresholdsRead", .model = 42,
     .replies = {{"AK", reply("ak\x21\x29" "8000" "FFFF")}},
     .call = [](Out& o) { return ZuWexoGetAnalogThresholds(0, 1, &o.a, &o.b, &o.c); },
     .frames = {"41 4B 21 C8"},
     .out = with(1, -32768, -1), .lines = {"ZuWexoGetAnalogThresholds", "get_aio_AK : 9 -32768 -1"}},
    {.name = "MailConditionWritesBackWhatItRead", .model = 44,
     .replies = {{"AK", reply("ak\x24\x28" "0064" "FF9C")}, {"AL", reply("al")}},
     .call = [](Out&) { return ZuWexoSetAiMailCondition(0, 4, 1); },
     .frames = {"41 4B 24 C8", "41 4C 24 29 30 30 36 34 46 46 39 43 C8"}},
    {.name = "MailConditionThresholdsNotHexWritesNothing", .model = 44,
     .replies = {{"AK", reply("ak\x20\x28" "ZZZZ" "ZZZZ")}},
     .call = [](Out&) { return ZuWexoSetAiMailCondition(0, 0, 1); },
     .frames = {"41 4B 20 C8"}, .result = 0, .code = 9},
    {.name = "MailCondition3", .model = 44,
     .call = [](Out&) { return ZuWexoSetAiMailCondition(0, 0, 3); }, .result = 0, .code = 6},
    {.name = "FailedReadWritesNothing", .model = 44,
     .replies = {{"AK", reply("ak\x20\x28" "0064")}},
     .call = [](Out&) { return ZuWexoSetAiMailCondition(0, 0, 1); },
     .frames = {"41 4B 20 C8"}, .result = 0,
     .code = 9},
};

class AnalogWire : public WireTest {};

TEST_P(AnalogWire, Exchange) { run(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Calls, AnalogWire, testing::ValuesIn(kCases), wire_case_name);

}  // namespace
