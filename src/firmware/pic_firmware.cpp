// Loading new firmware into the board (ZuWexoPicFirmwareUpdate,
// ZuWexoPicFirmwareUpdateIntelHex, and the extensions wexo_check_intel_hex
// and wexo_pic_firmware_update_hex).
#include <algorithm>
#include <climits>
#include <cstring>
#include <span>
#include <vector>

#include "core/call.hpp"
#include "core/capabilities.hpp"
#include "firmware/intel_hex.hpp"
#include "session/serial_data.hpp"
#include "session/unit_context.hpp"

namespace wexo::firmware {

namespace {

constexpr uint8_t kStart[] = {'@', 'W', 'E', 'X'};
constexpr uint8_t kSize = 'S';
constexpr uint8_t kCommit[] = {'C'};
constexpr int kAckEvery = 4;  // the loader answers after items 0, 4, 8, ...
constexpr int kBlockPauseMs = 100;
constexpr int kMaxItems = static_cast<int>(kMaxBlock / 2);

// Told after every item whether to go on; lets an update report its
// progress and be cancelled in the middle of a block.
struct ItemWatch {
    wexo_progress_fn progress = nullptr;
    void* user = nullptr;
    int done_before = 0;  // bytes of the blocks already sent
    int block_bytes = 0;  // data bytes of the block under way (without its pad)
    int total = 0;

    // False when the caller cancels after `items` items of the block.
    bool go_on(int items) const {
        if (progress == nullptr) return true;
        const int done = done_before + std::min(2 * items, block_bytes);
        return progress(done, total, user) == 0;
    }
};

// The loader's traffic goes through the serial pass-through calls, whose
// entry lines it writes like any other caller of them. Sends drain only what
// is already waiting: the loader's answers carry nothing, and a 1 ms window
// per item would cost more than the whole item.
bool send(UnitContext& unit, std::span<const uint8_t> bytes) {
    entry_line("ZuWexoSendSerialData");
    return send_serial_data(unit, bytes.data(), static_cast<int>(bytes.size()), true) > 0;
}

bool receive(UnitContext& unit, int most) {
    entry_line("ZuWexoReceiveSerialData");
    uint8_t ignored[4];
    if (receive_serial_data(unit, ignored, most) > 0) return true;
    // A unit that hung up leaves code 0 behind; the transfer still failed.
    if (last_error() == kOk) set_system_error(ECONNRESET);
    return false;
}

// The unit may take a transfer: an open channel and a model whose loader
// answers; code 1, 6 or 5 otherwise.
bool transfer_allowed(int index) {
    if (!check_initialized_index(index)) return false;
    if (!record(index).connected) {
        set_error(kNotConnected);
        return false;
    }
    return true;
}

bool cancelled() {
    set_system_error(ECANCELED);
    return false;
}

int transfer(UnitContext& unit, int address, const uint8_t* data, int count,
             const ItemWatch& watch = {}) {
    const auto board = unit.board();
    if (!board || !offered(board->firmware_transfer())) return 0;
    if (!in_range(count, 0, kMaxItems) || (count > 0 && !outputs_given(data))) return 0;
    const uint8_t size[] = {kSize, static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)};
    if (!send(unit, kStart) || !receive(unit, 4) || !send(unit, size)) return 0;
    for (int k = 0; k < count; ++k) {
        if (!send(unit, {data + 2 * k, 2})) return 0;
        if (k % kAckEvery == 0 && !receive(unit, 4)) return 0;
        // A cancelled block never gets its commit: the loader keeps no part of it.
        if (!watch.go_on(k + 1)) return cancelled();
    }
    if (!receive(unit, 2) || !send(unit, kCommit) || !receive(unit, 1)) return 0;
    return result_line("ZuWexoPicFirmwareUpdate:%d:%d", unit.index, address);
}

// One block transfer as the exported call does it, its entry line included.
int transfer_block(UnitContext& unit, const Block& block, const ItemWatch& watch) {
    entry_line("ZuWexoPicFirmwareUpdate");
    set_error(kOk);
    if (!transfer_allowed(unit.index)) return 0;
    const std::vector<uint8_t> items = as_items(block.bytes);
    return transfer(unit, block.address, items.data(), static_cast<int>(items.size() / 2), watch);
}

// After transfer_allowed.
int update_from_hex(UnitContext& unit, const char* text, wexo_progress_fn progress, void* user) {
    if (!outputs_given(text)) return 0;
    const HexImage image = parse_intel_hex(text);
    // Nothing goes to the unit unless the whole text is good and holds data.
    if (!offered(image.valid() && image.data_bytes() > 0)) return 0;
    ItemWatch watch{progress, user, 0, 0, static_cast<int>(std::min<std::size_t>(image.data_bytes(), INT_MAX))};
    for (std::size_t i = 0; i < image.blocks.size(); ++i) {
        const Block& block = image.blocks[i];
        watch.block_bytes = static_cast<int>(block.bytes.size());
        // A failed block ends the update: later blocks would be written
        // around a hole, and the result would hide it.
        if (!transfer_block(unit, block, watch)) return 0;
        watch.done_before += watch.block_bytes;
        watch.block_bytes = 0;
        if (i + 1 < image.blocks.size()) {
            if (!watch.go_on(0)) return cancelled();
            Sleep(kBlockPauseMs);
        }
    }
    return 1;
}

}  // namespace

}  // namespace wexo::firmware

using namespace wexo;
using namespace wexo::firmware;

extern "C" int ZuWexoPicFirmwareUpdate(int index, int address, const unsigned char* data, int count) {
    return api_call("ZuWexoPicFirmwareUpdate", 0, [&] {
        set_error(kOk);
        if (!transfer_allowed(index)) return 0;
        UnitContext unit = UnitContext::of(index);
        return transfer(unit, address, data, count);
    });
}

extern "C" int ZuWexoPicFirmwareUpdateIntelHex(int index, const char* text) {
    return api_call("ZuWexoPicFirmwareUpdateIntelHex", 0, [&] {
        set_error(kOk);
        if (!transfer_allowed(index)) return 0;
        UnitContext unit = UnitContext::of(index);
        return update_from_hex(unit, text, nullptr, nullptr);
    });
}

extern "C" int wexo_pic_firmware_update_hex(int index, const char* text, wexo_progress_fn progress,
                                            void* user) {
    return api_call("wexo_pic_firmware_update_hex", 0, [&] {
        set_error(kOk);
        if (!transfer_allowed(index)) return 0;
        UnitContext unit = UnitContext::of(index);
        return update_from_hex(unit, text, progress, user);
    });
}

extern "C" int wexo_check_intel_hex(const char* text, wexo_hex_summary* summary) {
    return guarded(0, [&] {
        if (text == nullptr) return 0;
        const HexImage image = parse_intel_hex(text);
        if (summary != nullptr) {
            *summary = {};
            summary->first_address = -1;
            summary->error_line = image.error_line;
            for (const Block& b : image.blocks) {
                if (b.bytes.empty()) continue;  // the end record's empty transfer
                ++summary->blocks;
                summary->bytes += static_cast<int>(b.bytes.size());
                if (summary->first_address < 0) summary->first_address = b.address;
                summary->last_address = b.address + static_cast<int>(b.bytes.size());
            }
        }
        // The verdict of the update itself: a valid text with no data is
        // nothing to load either.
        return image.valid() && image.data_bytes() > 0 ? 1 : 0;
    });
}
