// Request building and reply decoding of the digital I/O, pin and
// auto-switching commands, without sockets.
#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <vector>

#include "dio/auto_switching.hpp"
#include "dio/digital_input.hpp"
#include "dio/digital_output.hpp"
#include "dio_fixture.hpp"
#include "module/configurable_pins.hpp"

using namespace wexo;
using namespace wexo::dio;

namespace {

std::string hex(const Frame& frame) {
    return diotest::hex(wexosim::Bytes(frame.data(), frame.data() + frame.size()));
}

Values values_of(std::initializer_list<int32_t> list) {
    Values values{};
    std::size_t i = 0;
    for (int32_t v : list) values[i++] = v;
    return values;
}

struct StatusCase {
    uint8_t byte0, byte1;
    int model;
    int board_id;
    std::vector<int32_t> inputs;
};

TEST(StatusReply, DecodesPlainAndExtendedReplies) {
    const StatusCase cases[] = {
        {0xDE, 0x05, 5, 1, {1, 1, 0, 1, 0}},   // plain: input 0 in bit 7 of byte 0
        {0x3E, 0x72, 10, 1, {0, 1, 0, 0, 0}},  // extended, pattern 3
        {0x4E, 0x7F, 7, 1, {1, 1, 0, 0, 0}},   // extended, pattern 4
        {0x2E, 0x70, 9, 1, {0, 0, 0, 0, 0}},   // ID taken whatever bit 6 says
        {0x0F, 0x73, -1, 0, {1, 1, 0, 0, 0}},  // pattern 0: no model
        {0x2D, 0x01, 2, 2, {0, 1, 0, 0, 0}},
        {0xF0, 0x0F, 7, 15, {1, 1, 1, 1, 1}},  // plain reply of model 7 (bits 4..6)
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.byte0) << " " << int(c.byte1));
        const StatusReply status = decode_status(c.byte0, c.byte1);
        EXPECT_EQ(status.model, c.model);
        EXPECT_EQ(status.board_id, c.board_id);
        EXPECT_EQ(std::vector<int32_t>(status.inputs, status.inputs + 5), c.inputs);
    }
}

TEST(ChannelGroups, DecodesOnlyTheGroupBytesReceived) {
    const uint8_t di[] = {'d', 'i', 0x24, 0x21, 0xC8};
    const uint32_t bits = group_bits(ReplyView(di));
    EXPECT_EQ(bits, 0x14u);
    EXPECT_EQ(group_value(bits, 2), 4);  // on, by its place in the group
    EXPECT_EQ(group_value(bits, 4), 1);
    EXPECT_EQ(group_value(bits, 3), 0);
    EXPECT_EQ(group_value(0x8000, 15), 8);

    // One group where the board has eight channels: the terminator is no data.
    const uint8_t short_reply[] = {'d', 'y', 0x2F, 0xC8};
    EXPECT_EQ(group_bits(ReplyView(short_reply)), 0x0Fu);
    const uint8_t empty[] = {'o', 'h', 0xC8};
    EXPECT_EQ(group_bits(ReplyView(empty)), 0u);
    EXPECT_EQ(reply_groups(4), 1);
    EXPECT_EQ(reply_groups(5), 2);
}

TEST(Requests, ExactBytes) {
    const std::pair<Frame, const char*> cases[] = {
        {dk_request(4, 2, true), "44 4B 24 24 20 20 C8"},
        {dk_request(4, 2, false), "44 4B 20 24 20 20 C8"},
        {dk_request(8, 5, true), "44 4B 20 20 22 22 C8"},
        {dk_request(16, 15, true), "44 4B 20 20 20 20 20 20 28 28 C8"},
        {do_request(8, values_of({1, 0, 0, 0, 0, 1})), "44 4F 21 22 C8"},
        {do_request(2, values_of({0, 1})), "44 4F 22 20 C8"},
        {do_request(2, values_of({0, 1, 1, 1})), "44 4F 22 20 C8"},  // beyond the model: off
        {f0_request(values_of({1, 0, 1, 0, 7, 1})), "F0 15"},         // outputs 0 to 4 only
        {oc_request(8, 0x25), "4F 43 25 22 C8"},
        {oc_request(2, 0x25), "4F 43 25 22 C8"},
        {ot_request(1, 5, 12), "4F 54 21 30 35 30 43 C8"},
        {ot_request(0, 15, 15), "4F 54 20 30 46 30 46 C8"},
        {ot_request(3, 255, 0), "4F 54 23 46 46 30 30 C8"},
        {oi_request(6), "4F 49 26 C8"},
        {ol_request(true), "4F 4C 28 C8"},
        {ol_request(false), "4F 4C 20 C8"},
        {cp_read_request(false), "03"},
        {cp_read_request(true), "13 00 00 00 00 00 00 00 00"},
        {cp_write_request(false, cp_state(5, 0, -1)), "02 05"},
        {cp_write_request(true, cp_state(0, 1, 1)), "1B 07 00 00 00 06 00 00 00"},
    };
    for (const auto& [frame, expected] : cases) EXPECT_EQ(hex(frame), expected);
}

TEST(AutoSwitching, TimeIndexRoundsUpWithinTheTable) {
    const std::pair<int, int> cases[] = {
        {-5, 0}, {0, 0}, {100, 0}, {101, 1}, {150, 1}, {200, 1}, {2000, 19},
        {2001, 20}, {3000, 20}, {14001, 32}, {15000, 32}, {15001, -1}, {1 << 30, -1},
    };
    for (const auto& [ms, index] : cases) EXPECT_EQ(autoswitch_index(ms), index) << ms;
    EXPECT_EQ(autoswitchtime[0], 100);
    EXPECT_EQ(autoswitchtime[19], 2000);
    EXPECT_EQ(autoswitchtime[20], 3000);
    EXPECT_EQ(autoswitchtime[32], 15000);
}

TEST(Variants, ChosenByKindAndModel) {
    // The kind wins over the model; model 2 and model 1 only matter outside it.
    EXPECT_EQ(input_variant(6, 2), InputVariant::kAsciiDI);
    EXPECT_EQ(input_variant(3, 2), InputVariant::kQueryEC);
    EXPECT_EQ(input_variant(0, 2), InputVariant::kPinsAndStatus);
    EXPECT_EQ(output_variant(5, 1), OutputVariant::kAsciiMasked);
    EXPECT_EQ(output_variant(6, 1), OutputVariant::kAscii);
    EXPECT_EQ(output_variant(0, 1), OutputVariant::kPins);
    EXPECT_EQ(output_variant(3, 1), OutputVariant::kBinary);
    for (int column : {0, 4, -1}) EXPECT_EQ(switch_variant(column, 3), SwitchVariant::kUnsupported);
}

}  // namespace
