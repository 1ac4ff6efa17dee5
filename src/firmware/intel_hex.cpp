#include "firmware/intel_hex.hpp"

#include <bitset>

namespace wexo::firmware {

namespace {

constexpr uint8_t kPadByte = 0xFF;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads one byte as two hex digits at text[at]; false when cut short or not hex.
bool read_byte(std::string_view text, std::size_t at, uint8_t& byte) {
    if (at + 2 > text.size()) return false;
    const int high = hex_digit(text[at]);
    const int low = hex_digit(text[at + 1]);
    if (high < 0 || low < 0) return false;
    byte = static_cast<uint8_t>(high * 16 + low);
    return true;
}

}  // namespace

std::size_t HexImage::data_bytes() const {
    std::size_t n = 0;
    for (const Block& b : blocks) n += b.bytes.size();
    return n;
}

HexImage parse_intel_hex(std::string_view text) {
    HexImage image;
    int line = 1;
    std::size_t at = 0;
    bool open = false;
    Block block;
    // The loader takes no addresses: data given twice would be sent twice,
    // the later copy silently winning or landing elsewhere.
    std::bitset<kMaxBlock> given;
    const auto refuse = [&] {
        image.blocks.clear();
        image.error_line = line;
        return image;
    };
    for (;;) {
        while (at < text.size() && (text[at] == '\r' || text[at] == '\n')) {
            if (text[at] == '\n') ++line;
            ++at;
        }
        if (at >= text.size() || text[at] != ':') return refuse();  // no end record, or junk
        ++at;
        uint8_t head[4];
        for (int i = 0; i < 4; ++i) {
            if (!read_byte(text, at + 2 * static_cast<std::size_t>(i), head[i])) return refuse();
        }
        at += 8;
        const uint8_t count = head[0];
        const auto address = static_cast<uint16_t>(head[1] << 8 | head[2]);
        const uint8_t type = head[3];
        uint8_t sum = static_cast<uint8_t>(head[0] + head[1] + head[2] + head[3]);
        std::vector<uint8_t> data(count);
        for (uint8_t& byte : data) {
            if (!read_byte(text, at, byte)) return refuse();
            sum = static_cast<uint8_t>(sum + byte);
            at += 2;
        }
        uint8_t checksum = 0;
        if (!read_byte(text, at, checksum)) return refuse();
        at += 2;
        if (type > 1) return refuse();
        if (static_cast<uint8_t>(sum + checksum) != 0) return refuse();
        if (std::size_t{address} + count > kMaxBlock) return refuse();
        for (std::size_t a = address; a < std::size_t{address} + count; ++a) {
            if (given.test(a)) return refuse();
            given.set(a);
        }

        if (!open) {
            block = {address, {}};
            open = true;
        } else if (address != block.address + block.bytes.size()) {
            image.blocks.push_back(std::move(block));
            block = {address, {}};
        }
        block.bytes.insert(block.bytes.end(), data.begin(), data.end());
        if (type == 1) {
            image.blocks.push_back(std::move(block));
            return image;
        }
    }
}

std::vector<uint8_t> as_items(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> items = bytes;
    if (items.size() % 2 != 0) items.push_back(kPadByte);
    return items;
}

}  // namespace wexo::firmware
