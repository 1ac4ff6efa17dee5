#!/bin/sh
# Builds the benchmarks (Release, build-bench/) and runs them inside a private
# network namespace, the process pinned to one CPU (library and simulated
# units share it), then prints the medians and the ratios to the bare-socket
# exchange as a Markdown table. Run as root. Arguments: the CPU (default 1)
# and the repetitions of the call benchmarks (default 5).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cpu=${1:-1}
repetitions=${2:-5}
build=$top/build-bench
out=$build/results
"$top/scripts/setup-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWEXO_BUILD_BENCHMARKS=ON \
  -DWEXO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target dio_bench analog_bench search_bench fw_bench >/dev/null
mkdir -p "$out"

# The namespace routes 10.201.0.0/16 to itself for the search's units.
"$top/tests/support/netns-run.sh" sh -c "
  ip route add local 10.201.0.0/16 dev lo
  for b in dio_bench analog_bench; do
    taskset -c $cpu $build/bench/\$b --benchmark_repetitions=$repetitions \
      --benchmark_out=$out/\$b.json --benchmark_out_format=json >/dev/null
  done
  taskset -c $cpu $build/bench/search_bench --benchmark_out=$out/search_bench.json \
    --benchmark_out_format=json >/dev/null
  taskset -c $cpu $build/bench/fw_bench --benchmark_out=$out/fw_bench.json \
    --benchmark_out_format=json >/dev/null"

python3 - "$out" <<'PY'
import json, pathlib, statistics, sys
out = pathlib.Path(sys.argv[1])
runs = {}
for f in sorted(out.glob("*.json")):
    for b in json.loads(f.read_text())["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        name = b["run_name"].replace("/real_time", "").replace("/iterations:3", "")
        runs.setdefault(name, []).append(b)
def median(name, key="real_time"):
    return statistics.median(r[key] for r in runs[name])
def us(name):
    unit = runs[name][0]["time_unit"]
    return median(name) * {"ns": 1e-3, "us": 1, "ms": 1e3}[unit]
# Calls that drain stale input first also spend the drain's 1 ms window:
# their floor is the bare exchange plus that window.
print("| call | median | bare socket | ratio to the floor | above the floor | allocations per call |")
print("|---|---|---|---|---|---|")
for call, bare, window in [("GetAutoSwitchingPio_Ascii", "Bare_Ascii_OH", 0),
                           ("GetAnalogInputAll", "Bare_Ascii_AI", 0),
                           ("InPioAll_Ascii", "Bare_Ascii_DI", 1000),
                           ("InPioAll_Binary", "Bare_Binary_Status", 1000)]:
    floor = us(bare) + window
    drain = " + 1 ms" if window else ""
    print(f"| `{call}` | {us(call):.1f} µs | {us(bare):.1f} µs{drain} | {us(call) / floor:.3f} | "
          f"{us(call) - floor:.1f} µs | {median(call, 'allocs_per_call'):.0f} |")
print()
print("| search | units | identification | median | above the 200 ms window |")
print("|---|---|---|---|---|")
for name in sorted((n for n in runs if n.startswith("Search/")),
                   key=lambda n: (int(n.split("units:")[1].split("/")[0]), n)):
    units = name.split("units:")[1].split("/")[0]
    ident = "on" if name.split("identify:")[1].split("/")[0] == "1" else "off"
    ms = us(name) / 1e3
    print(f"| `ZuWexoSearch(200)` | {units} | {ident} | {ms:.0f} ms | {ms - 200:.0f} ms |")
print()
print("| firmware update | image | median | rate |")
print("|---|---|---|---|")
ms = us("FirmwareUpdate_64KiB") / 1e3
print(f"| `wexo_pic_firmware_update_hex` | 64 KiB, one block | {ms:.0f} ms | {65536 / 1024 / (ms / 1e3):.0f} KiB/s |")
PY
