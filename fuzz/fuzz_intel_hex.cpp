// The Intel HEX parser and the check that applications call on a text
// before an update. A valid image keeps its blocks within the loader's
// buffer and gives no address twice, its summary agrees with its blocks, and
// the image written back as HEX text parses to the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/intel_hex.hpp"
#include "wexo.h"
#include "fuzz_support.hpp"

using wexo::firmware::Block;
using wexo::firmware::HexImage;

using wexofuzz::check;

namespace {

// One data record per up to 16 bytes, then the end record.
std::string as_hex_text(const HexImage& image) {
    std::string text;
    char record[16 * 2 + 16];
    for (const Block& b : image.blocks) {
        for (std::size_t at = 0; at < b.bytes.size(); at += 16) {
            const std::size_t n = std::min<std::size_t>(16, b.bytes.size() - at);
            const auto address = static_cast<unsigned>((b.address + at) & 0xFFFF);
            unsigned sum = static_cast<unsigned>(n) + (address >> 8) + (address & 0xFF);
            int used = std::snprintf(record, sizeof record, ":%02X%04X00", static_cast<unsigned>(n),
                                     address);
            for (std::size_t i = 0; i < n; ++i) {
                sum += b.bytes[at + i];
                used += std::snprintf(record + used, sizeof record - static_cast<std::size_t>(used),
                                      "%02X", b.bytes[at + i]);
            }
            std::snprintf(record + used, sizeof record - static_cast<std::size_t>(used), "%02X\n",
                          (0x100 - (sum & 0xFF)) & 0xFF);
            text += record;
        }
    }
    return text + ":00000001FF\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const HexImage image = wexo::firmware::parse_intel_hex(text);

    std::size_t lines = 1;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    if (!image.valid()) {
        check(image.blocks.empty(), "a refused text keeps blocks");
        check(image.error_line >= 1 && static_cast<std::size_t>(image.error_line) <= lines,
              "error line outside the text");
    }
    std::size_t total = 0;
    for (const Block& b : image.blocks) {
        check(b.address + b.bytes.size() <= wexo::firmware::kMaxBlock, "block past address 0xFFFF");
        check(wexo::firmware::as_items(b.bytes).size() == (b.bytes.size() + 1) / 2 * 2,
              "items not padded to pairs");
        total += b.bytes.size();
    }
    check(total == image.data_bytes(), "data_bytes disagrees with the blocks");
    check(total <= wexo::firmware::kMaxBlock, "more data than addresses: an overlap passed");

    // The C check stops at the first NUL, as a C string does.
    const std::string_view c_text(text.c_str());
    const HexImage c_image = wexo::firmware::parse_intel_hex(c_text);
    wexo_hex_summary summary{};
    const int loadable = wexo_check_intel_hex(text.c_str(), &summary);
    check(loadable == (c_image.valid() && c_image.data_bytes() > 0 ? 1 : 0), "verdict");
    check(summary.error_line == c_image.error_line, "summary error line");
    // The summary counts the blocks with data; the empty ones (such as the
    // end record's at address 0) are transfers without addresses to report.
    std::vector<const Block*> with_data;
    for (const Block& b : c_image.blocks)
        if (!b.bytes.empty()) with_data.push_back(&b);
    check(summary.blocks == static_cast<int>(with_data.size()), "summary block count");
    check(summary.bytes == static_cast<int>(c_image.data_bytes()), "summary byte count");
    if (with_data.empty()) {
        check(summary.first_address == -1, "first address without data");
    } else {
        const Block& first = *with_data.front();
        const Block& last = *with_data.back();
        check(summary.first_address == first.address, "summary first address");
        check(summary.last_address == last.address + static_cast<int>(last.bytes.size()),
              "summary last address");
    }

    if (image.valid()) {
        const HexImage again = wexo::firmware::parse_intel_hex(as_hex_text(image));
        check(again.valid(), "written back, the image is refused");
        check(again.data_bytes() == image.data_bytes(), "written back, the bytes differ");
        std::string before;
        std::string after;
        for (const Block& b : image.blocks) before.append(b.bytes.begin(), b.bytes.end());
        for (const Block& b : again.blocks) after.append(b.bytes.begin(), b.bytes.end());
        check(before == after, "written back, the data differs");
    }
    return 0;
}
