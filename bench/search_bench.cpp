// ZuWexoSearch(200) of 1, 32 and 255 simulated units, with the automatic
// identification off, and on for ASCII boards on port 10003 (each of which
// waits out its 1 s time-out on the binary request before "MI" answers).
// The units take addresses from 10.201.0.0/16, which the benchmark's
// namespace must route to this host (scripts/bench.sh does).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <string>

#include "wexo.h"
#include "wexo_data.h"
#include "wexosim.hpp"

namespace {

constexpr int kWindowMs = 200;

std::string unit_address(int n) {
    return "10.201." + std::to_string(n / 250) + "." + std::to_string(2 + n % 250);
}

void Search(benchmark::State& state) {
    const int units = static_cast<int>(state.range(0));
    const bool identify = state.range(1) != 0;
    wexosim::Simulator sim;
    for (int n = 0; n < units; ++n) {
        wexosim::UnitConfig config;
        config.ip = unit_address(n);
        config.module = true;
        config.model = 21;  // an ASCII board: identified by "MI"
        config.firm_type = "X5";
        sim.add_unit(config);
    }
    sim.start();
    ZuWexoInit();
    ZuWexoSetAutoRequestIdModel(identify ? 1 : 0, 10003);
    for (auto _ : state) {
        const int found = ZuWexoSearch(kWindowMs);
        if (found != units) {
            state.SkipWithError(("found " + std::to_string(found) + " units").c_str());
            break;
        }
        for (int i = 0; identify && i < found; ++i) {
            if (xportset[i].model_code != 21) state.SkipWithError("a unit was not identified");
        }
    }
    ZuWexoEnd();
    state.counters["units"] = units;
}

}  // namespace

BENCHMARK(Search)
    ->ArgsProduct({{1, 32, 255}, {0, 1}})
    ->ArgNames({"units", "identify"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    // 255 units hold about four descriptors each in the simulator, and the
    // search one more each while it identifies them.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
