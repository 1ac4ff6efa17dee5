// Decoding of identification replies and of the module's identification
// text, without sockets (the other datagram layouts are checked end to end).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "session/discovery.hpp"
#include "session/identification.hpp"

using namespace wexo;

namespace {

struct BinaryCase {
    uint8_t byte0, byte1;
    int board_id, model_code;
};

TEST(IdentificationDecoding, BinaryRepliesPlainAndExtended) {
    const BinaryCase cases[] = {
        {0x2D, 0x01, 2, 2},   // plain: NOT 0x2D AND 0x0F = 2, bits 4..6 = 2
        {0x7F, 0x6F, 0, 7},   // plain: bit 7 of byte 0 is not part of the model
        {0xF0, 0x00, 15, 7},  // plain, model bits 4..6 only
        {0x4E, 0x7F, 1, 7},   // extended pattern 4; bit 6 set: board ID sent
        {0x5C, 0x70, 3, 8},   // pattern 5
        {0x2E, 0x70, 0, 9},   // pattern 2; bit 6 clear: board ID 0
        {0x3A, 0x7A, 0, 10},  // pattern 3
        {0x0A, 0x70, 0, -1},  // patterns 0, 1, 6, 7 name no model
        {0x1A, 0x70, 0, -1},
        {0x6A, 0x70, 5, -1},
        {0xFA, 0x7F, 5, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.byte0) << " " << int(c.byte1));
        const BinaryId id = decode_binary_id(c.byte0, c.byte1);
        EXPECT_EQ(id.board_id, c.board_id);
        EXPECT_EQ(id.model_code, c.model_code);
        EXPECT_EQ(binary_model_code(c.byte0, c.byte1), c.model_code);
    }
}

TEST(IdentificationDecoding, MiReplies) {
    EXPECT_EQ(mi_reply_length(0x05), kMiBasicLength);
    EXPECT_EQ(mi_reply_length(0x3F), kMiExtendedLength);
    struct MiCase {
        std::vector<uint8_t> reply;
        int board_id, model_code, unit_kind;
    };
    const MiCase good[] = {
        {{'m', 'i', 0x0C, 0x05, 0xC8}, 3, 0x25, 6},        // basic
        {{'m', 'i', 0x0E, 0x0F, 0x0B, 0xC8}, 1, 0x1B, 5},  // extended, bit 3 set
        {{'m', 'i', 0x0F, 0x0F, 0x01, 0xC8}, 0, 0x11, 4},  // extended, bit 3 clear
    };
    for (const auto& c : good) {
        const auto id = decode_mi_id(c.reply);
        ASSERT_TRUE(id);
        EXPECT_EQ(id->board_id, c.board_id);
        EXPECT_EQ(id->model_code, c.model_code);
        EXPECT_EQ(id->unit_kind, c.unit_kind);
    }
    const std::vector<std::vector<uint8_t>> bad{
        {'n', 'i', 0x0C, 0x05, 0xC8},        // wrong letter
        {'m', 'I', 0x0C, 0x05, 0xC8},
        {'m', 'i', 0x0C, 0x05, 0xC7},        // no terminator
        {'m', 'i', 0x0C, 0x0F, 0xC8, 0x00},  // extended: terminator expected at byte 5
        {'m', 'i', 0x0C, 0x0F, 0x05},        // extended reply cut short
    };
    for (const auto& reply : bad) EXPECT_FALSE(decode_mi_id(reply));
}

TEST(DiscoveryDecoding, IdentificationTextEndsAtItsNulOrByte31) {
    auto reply_with = [](const char* text) {
        std::array<uint8_t, 33> reply{};
        for (int i = 0; text[i] != '\0' && 16 + i < 33; ++i) reply[16 + i] = uint8_t(text[i]);
        return reply;
    };
    EXPECT_EQ(x6_layout(reply_with("XPORT-GC")), SetupLayout::kFirst);
    EXPECT_EQ(x6_layout(reply_with("gc")), SetupLayout::kSecond);
    auto after_nul = reply_with("AB");
    after_nul[20] = 'G';
    after_nul[21] = 'C';
    EXPECT_FALSE(id_text_has_gc(after_nul));
    auto past_end = reply_with("0123456789ABCDEG");
    past_end[32] = 'C';
    EXPECT_FALSE(id_text_has_gc(past_end));
}

}  // namespace
