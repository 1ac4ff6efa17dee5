// Digital I/O calls against the simulator over loopback, next to the same
// request and reply done on a bare socket, so that the library's cost above
// the round trip shows as a ratio. The whole-board input reads drain stale
// input first (a wait of up to 1 ms on an idle channel); the auto-switching
// read does not.
#include "bench_board.hpp"

namespace {

using bench::bare_exchange;
using bench::library_call;

// Model 5: binary status exchange 0x55 0x55.
void InPioAll_Binary(benchmark::State& state) {
    library_call(state, 5, [](int index) {
        unsigned bits = 0;
        return ZuWexoInPioAll(index, &bits);
    });
}
void Bare_Binary_Status(benchmark::State& state) { bare_exchange(state, 5, {0x55, 0x55}, 2); }

// Model 21 (identifies by "MI", reads inputs with "DI").
void InPioAll_Ascii(benchmark::State& state) {
    library_call(state, 21, [](int index) {
        unsigned bits = 0;
        return ZuWexoInPioAll(index, &bits);
    });
}
void Bare_Ascii_DI(benchmark::State& state) { bare_exchange(state, 21, {'D', 'I', 0xC8}, 0); }

// Model 17: ASCII auto switching, "OH" without a drain.
void GetAutoSwitchingPio_Ascii(benchmark::State& state) {
    library_call(state, 17, [](int index) {
        unsigned mask = 0;
        return ZuWexoGetAutoSwitchingPio(index, &mask);
    });
}
void Bare_Ascii_OH(benchmark::State& state) { bare_exchange(state, 17, {'O', 'H', 0xC8}, 0); }

}  // namespace

BENCHMARK(InPioAll_Binary)->UseRealTime();
BENCHMARK(Bare_Binary_Status)->UseRealTime();
BENCHMARK(InPioAll_Ascii)->UseRealTime();
BENCHMARK(Bare_Ascii_DI)->UseRealTime();
BENCHMARK(GetAutoSwitchingPio_Ascii)->UseRealTime();
BENCHMARK(Bare_Ascii_OH)->UseRealTime();

BENCHMARK_MAIN();
