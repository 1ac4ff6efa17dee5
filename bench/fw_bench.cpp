// A firmware update of a 64 KiB one-block image against the simulated
// loader over loopback: 32768 two-byte items, an acknowledgement after every
// fourth, the commit, and the empty transfer of the end record at address 0.
#include <cstdio>
#include <string>

#include "bench_board.hpp"

namespace {

// Intel HEX as a tool chain writes it: 16-byte data records from address 0,
// the end record at 0.
std::string image_hex(int bytes) {
    std::string text;
    char line[64];
    for (int address = 0; address < bytes; address += 16) {
        unsigned sum = 16 + (address >> 8) + (address & 0xFF);
        int n = std::snprintf(line, sizeof line, ":10%04X00", address);
        for (int i = 0; i < 16; ++i) {
            const unsigned byte = static_cast<unsigned>(address + i * 7) & 0xFF;
            sum += byte;
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X", byte);
        }
        std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return text + ":00000001FF\n";
}

void FirmwareUpdate_64KiB(benchmark::State& state) {
    bench::Board board(5);
    if (board.index() < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const std::string hex = image_hex(65536);
    for (auto _ : state) {
        if (wexo_pic_firmware_update_hex(board.index(), hex.c_str(), nullptr, nullptr) != 1) {
            state.SkipWithError("update failed");
            break;
        }
    }
    state.counters["bytes_per_second"] =
        benchmark::Counter(65536.0, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(FirmwareUpdate_64KiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
