// The pure reply decoders: the first input byte picks one, the rest is the
// reply (or datagram) it decodes. What a decoder reports is checked to be
// in the range its callers rely on.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "dio/channel_groups.hpp"
#include "dio/digital_input.hpp"
#include "wire/command_channel.hpp"
#include "session/discovery.hpp"
#include "wire/exchange.hpp"
#include "session/identification.hpp"
#include "wire/module_udp.hpp"
#include "pulse/pic_parameters.hpp"
#include "pulse/pulse.hpp"
#include "fuzz_support.hpp"

using namespace wexo;

using wexofuzz::check;

namespace {

uint8_t at(std::span<const uint8_t> bytes, std::size_t i) { return i < bytes.size() ? bytes[i] : 0; }

bool known_binary_model(int32_t model) { return model >= -1 && model <= 10; }

void binary_replies(std::span<const uint8_t> in) {
    const uint8_t b0 = at(in, 0);
    const uint8_t b1 = at(in, 1);
    const BinaryId id = decode_binary_id(b0, b1);
    check(id.board_id <= 15, "binary board ID above 15");
    check(known_binary_model(id.model_code), "binary model outside -1..10");
    check(id.model_code == binary_model_code(b0, b1), "two model decodings disagree");
    const dio::StatusReply status = dio::decode_status(b0, b1);
    check(status.model == id.model_code, "status model differs from identification");
    check(status.board_id <= 15, "status board ID above 15");
    for (int32_t v : status.inputs) check(v == 0 || v == 1, "status input not 0 or 1");
}

void mi_replies(std::span<const uint8_t> in) {
    const auto id = decode_mi_id(in);
    if (!id) return;
    check(in.size() >= static_cast<std::size_t>(mi_reply_length(in[3])), "short MI reply taken");
    check(id->board_id <= 15, "MI board ID above 15");
    check(id->model_code >= 16 && id->model_code <= 47, "MI model outside 16..47");
    check(id->unit_kind >= 4 && id->unit_kind <= 6, "MI unit kind outside 4..6");
}

void module_datagrams(std::span<const uint8_t> in) {
    const DiscoveryReply reply = decode_discovery_reply(in);
    check(reply.firm_major <= 15 && reply.firm_minor <= 15, "firmware digit above 15");
    check(reply.mac[0] == at(in, 24) && reply.mac[5] == at(in, 29), "MAC not from bytes 24..29");
    const SerialSetup first = decode_setup_record(in, SetupLayout::kFirst);
    const SerialSetup second = decode_setup_record(in, SetupLayout::kSecond);
    check(setup_record_data_port(in) == first.data_port, "data port of the first layout");
    check(second.serial_flags == at(in, 68), "second layout not at offset 68");
    (void)x6_layout(in);
    const CpConfig cp = decode_cp_block(in);
    check(cp.flag == 0 || cp.flag == 1, "CP flag not 0 or 1");
    for (std::size_t i = 0; i < 3; ++i) check(cp.modes[i] == at(in, 4 + i), "CP mode not from the block");
}

// The field readers of an ASCII reply: never past the frame.
void reply_fields(std::span<const uint8_t> in) {
    if (in.empty()) return;
    const int width = in[0] % 10;  // 0..9: the readers clamp what is out of 1..8
    const ReplyView reply(in.subspan(1));
    for (int from = -1; from <= reply.size(); ++from) {
        const auto value = reply.hex(from, width);
        const auto sign = reply.signed_hex(from, width);
        // A field has a value exactly when the frame holds all its bytes and
        // every one is a hex digit.
        bool digits = width >= 1 && width <= 8 && from >= 0 && from + width <= reply.size();
        for (int i = 0; digits && i < width; ++i) digits = std::isxdigit(reply.byte(from + i)) != 0;
        check(value.has_value() == digits && sign.has_value() == digits, "hex field judged wrongly");
        if (digits && width < 8) {
            check(*value < (1u << (4 * width)), "hex field wider than its digits");
            const int32_t half = 1 << (4 * width - 1);
            check(*sign >= -half && *sign < half, "signed field outside its width");
        }
        (void)reply.small(from);
    }
    const uint32_t bits = dio::group_bits(reply);
    for (int channel = 0; channel < dio::kMaxChannels; ++channel) {
        const int32_t v = dio::group_value(bits, channel);
        check(v == 0 || v == (1 << (channel & 3)), "channel value not its bit");
    }
    const std::string hex = reply_hex(reply, in[0] % 4, reply.size());
    check(hex.size() % 2 == 0 && hex.size() <= 2 * static_cast<std::size_t>(reply.size()),
          "reply hex shows bytes not received");
    const Frame request = Frame::ascii('D', 'I');
    check(echo_matches(ReplyShape::ascii(), request, reply.bytes()), "no echo asked, yet refused");
    (void)echo_matches(ReplyShape::binary(6, in[0] % 8), reply.bytes(), reply.bytes().subspan(0));
}

void six_bit_values(std::span<const uint8_t> in) {
    std::array<uint8_t, 6> groups{};
    for (std::size_t i = 0; i < groups.size(); ++i) groups[i] = at(in, i);
    const int32_t value = from_six_bit_groups(groups);
    const std::array<uint8_t, 6> back = six_bit_groups(static_cast<uint32_t>(value));
    check(from_six_bit_groups(back) == value, "six-bit groups do not round-trip");
    pulse::Status st{at(in, 6), at(in, 7)};
    check(pulse::setting_a_of(st) <= 3 && pulse::setting_b_of(st) <= 31, "pulse settings range");
}

void hex_text(std::span<const uint8_t> in) {
    char text[9] = {};
    const std::size_t n = std::min<std::size_t>(in.size(), 8);
    std::memcpy(text, in.data(), n);
    const int width = static_cast<int>(n);
    (void)HEX2VAL(text, width);
    const uint32_t value = static_cast<uint32_t>(at(in, 0)) << 24 | at(in, 1) << 16 | at(in, 2) << 8 | at(in, 3);
    const int w = 1 + at(in, 4) % 8;
    const uint32_t mask = w == 8 ? 0xFFFFFFFFu : (1u << (4 * w)) - 1;
    check(HEX2VAL(VAL2HEX(value, w), w) == (value & mask), "hex text does not round-trip");
    check(sign_extend_hex(value, w) == static_cast<int32_t>(
              w == 8 ? value : ((value & mask) ^ (1u << (4 * w - 1))) - (1u << (4 * w - 1))),
          "sign extension");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> in(data + 1, size - 1);
    switch (data[0] % 6) {
        case 0: binary_replies(in); break;
        case 1: mi_replies(in); break;
        case 2: module_datagrams(in); break;
        case 3: reply_fields(in); break;
        case 4: six_bit_values(in); break;
        default: hex_text(in); break;
    }
    return 0;
}
