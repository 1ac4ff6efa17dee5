// Channels in groups of four. The ASCII digital I/O and auto-switching
// commands carry four channels per byte, sent as 0x20 plus a four-bit value
// (bit j = channel 4k + j of group k), lowest group first.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "wire/command_channel.hpp"
#include "wire/exchange.hpp"

namespace wexo::dio {

// The exchanges that handle several channels at once work on this many.
constexpr int kMaxChannels = 16;
using Values = std::array<int32_t, kMaxChannels>;

// Group bytes in a request for a board with `channels` channels: the boards
// always expect at least two, even when one would hold every channel.
constexpr int group_count(int channels) { return std::max(2, (channels + 3) / 4); }

// The four-bit value of group k (channels 4k to 4k + 3) of bits.
constexpr int group_nibble(uint32_t bits, int k) {
    return k >= 0 && k < 8 ? static_cast<int>((bits >> (4 * k)) & 0x0F) : 0;
}

// Appends `groups` group bytes carrying bits (bit i = channel i).
inline Frame& push_groups(Frame& frame, uint32_t bits, int groups) {
    for (int k = 0; k < groups; ++k) frame.push_small(group_nibble(bits, k));
    return frame;
}

// Group bytes a reply must carry to report `channels` channels.
constexpr int reply_groups(int channels) { return (channels + 3) / 4; }

// Bits carried by the group bytes of an ASCII reply (two letters, group
// bytes, terminator). Only bytes that arrived are read; callers that need
// every channel first make sure the reply holds reply_groups of them.
inline uint32_t group_bits(const ReplyView& reply) {
    const int groups = std::min(reply.size() - 3, 8);
    uint32_t bits = 0;
    for (int k = 0; k < groups; ++k) {
        bits |= static_cast<uint32_t>(reply.byte(2 + k) & 0x0F) << (4 * k);
    }
    return bits;
}

// A channel's value as the ASCII boards report it: its bit left in place
// within its group, so an input or output that is on reads 1, 2, 4 or 8.
constexpr int32_t group_value(uint32_t bits, int channel) {
    return static_cast<int32_t>((bits >> (channel & ~3)) & (1u << (channel & 3)));
}

// Bit i set when values[i] is not 0, for the first `count` channels.
inline uint32_t values_to_bits(const Values& values, int count) {
    uint32_t bits = 0;
    for (int i = 0; i < count && i < kMaxChannels; ++i) {
        if (values[static_cast<std::size_t>(i)] != 0) bits |= 1u << i;
    }
    return bits;
}

}  // namespace wexo::dio
