// Reading every analog input of a 5-input board (model 44) in one "AI"
// exchange, next to the same exchange on a bare socket.
#include "bench_board.hpp"

namespace {

void GetAnalogInputAll(benchmark::State& state) {
    bench::library_call(state, 44, [](int index) {
        int counts[5] = {};
        return ZuWexoGetAnalogInputAll(index, 5, counts) == 5 ? 1 : 0;
    });
}
void Bare_Ascii_AI(benchmark::State& state) { bench::bare_exchange(state, 44, {'A', 'I', 0x27, 0xC8}, 0); }

}  // namespace

BENCHMARK(GetAnalogInputAll)->UseRealTime();
BENCHMARK(Bare_Ascii_AI)->UseRealTime();

BENCHMARK_MAIN();
