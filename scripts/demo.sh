#!/bin/bash
# The main job: several simulated WEXO units in a private network namespace,
# found, inspected and driven with the wexo tool.
#
#   scripts/demo.sh        (as root)
#
# Installs missing packages, builds wexo and wexo-sim (in build/, or in
# $WEXO_BUILD_DIR) and re-runs itself inside a namespace of its own, so the
# broadcasts and the units' fixed ports never touch a real network. Every
# command it runs is printed before it runs.
# shellcheck disable=SC1010 # "do" is a wexo command below, not the keyword
set -eu
# Started as "sh scripts/demo.sh": the simulator's control port needs bash.
if [ -z "${BASH_VERSION:-}" ]; then exec bash "$0" "$@"; fi

top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/sim-ready.sh"
build=${WEXO_BUILD_DIR:-$top/build}

step() { echo "demo: $*"; }
# Prints a command, then runs it.
show() {
  echo "+ $*"
  "$@"
}

if [ "${WEXO_DEMO_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "demo: run as root (private network namespaces need it)" >&2
    exit 1
  fi
  step "checking the packages the build needs..."
  show "$top/scripts/setup-deps.sh"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    step "configuring the build in $build..."
    show cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  jobs=$(nproc 2>/dev/null || echo 2)
  [ "$jobs" -gt 2 ] && jobs=2
  step "building wexo and wexo-sim (a few minutes the first time)..."
  show cmake --build "$build" -j"$jobs" --target wexo-cli wexo-sim
  step "entering a private network namespace..."
  export WEXO_DEMO_INSIDE=1
  # A fresh namespace even when this shell already runs in one.
  unset WEXO_IN_NETNS
  exec "$top/tests/support/netns-run.sh" "$0" "$@"
fi

# ---------------------------------------------------------------- inside the namespace
wexo="$build/tools/wexo"
sim_out=$(mktemp)
eeprom_image=$(mktemp)
sim_pid=""
watch_pid=""
# Stops whatever the tour started, also when it is interrupted (Ctrl-C) or
# fails half-way: the simulator would otherwise keep the namespace alive.
stop_sim() {
  exec 3>&- 4<&-
  stop_pid "$watch_pid"
  watch_pid=""
  stop_pid "$sim_pid"
  sim_pid=""
  rm -f "$sim_out" "$eeprom_image" "$eeprom_image.part"
}
trap stop_sim EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Six units of different models:
#   10.200.0.2  model 17  ASCII board, 4 outputs, 4 inputs, auto switching
#   10.200.0.3  model 3   binary board, 5 outputs
#   10.200.0.4  model 21  ASCII board, 8 inputs
#   10.200.0.5  model 40  analog board, 3 analog inputs, data port 10010
#   10.200.0.6  model 5   binary board, 5 inputs
#   10.200.0.7  model 41  analog board, 2 analog outputs
# The simulator takes control commands (set an input, ...) on a TCP port of
# its own (--control 0: any free port, printed as "control PORT") and runs
# until it is stopped by its pid.
step "starting 6 simulated units..."
# shellcheck disable=SC2054 # the commas are inside the units' arguments
sim=("$build/sim/wexo-sim" --control 0
  --unit ip=10.200.0.2,model=17,id=3,module=on,in=0x5
  --unit ip=10.200.0.3,model=3,id=1,module=on
  --unit ip=10.200.0.4,model=21,id=2,module=on,in=0x81
  --unit ip=10.200.0.5,model=40,id=5,module=on,port=10010
  --unit ip=10.200.0.6,model=5,id=7,module=on,in=0x0b
  --unit ip=10.200.0.7,model=41,id=4,module=on)
echo "+ ${sim[*]} &"
# Started directly, not through show(): $! must be the simulator itself, not
# a subshell whose end would leave the simulator running.
"${sim[@]}" </dev/null >"$sim_out" 2>&1 &
sim_pid=$!

step "waiting for units..."
# The simulator prints "ready" once every unit listens; at most 10 s.
wait_sim_ready demo "$sim_pid" "$sim_out"
grep '^unit ' "$sim_out"
exec 3<>"/dev/tcp/127.0.0.1/$control_port"

# One simulator control command, as the units' environment would act.
control() {
  local reply=""
  echo "  (simulator: $*)"
  printf '%s\n' "$*" >&3
  IFS= read -r -t 5 reply <&3 || reply="no answer"
  case "$reply" in ok*) ;; *) echo "demo: simulator answered '$reply'" >&2; exit 1 ;; esac
}

run() {
  echo
  echo "\$ wexo $*"
  "$wexo" "$@"
}

# Runs a command that is meant to fail (first argument: why) and shows its
# exit status.
run_failing() {
  local status=0 why=$1
  shift
  echo
  echo "\$ wexo $*    ($why)"
  "$wexo" "$@" 2>&1 || status=$?
  echo "exit status $status"
}

step "running the tour"
run search
run --json --timeout 300 search --identify
run info 0
run info 10.200.0.5
echo "  (an ASCII board ignores the binary identification; --timeout shortens that wait:)"
run --timeout 200 info 10.200.0.5
run --json info 02:57:58:00:00:06
run --host 10.200.0.3 --data-port 10003 info
run di 10.200.0.2
run di id=7,model=5 3
run do 10.200.0.2 1 on
run do 10.200.0.2 --all 0x9
run do 10.200.0.2
run do id=1,model=3 --all 0b10101
run --json do id=1,model=3

# The watch shows a change: the simulator switches input 1 of the unit on
# once the first state is printed, and off again after the next line.
echo
echo "\$ wexo di 10.200.0.4 --watch --interval 100 --count 20"
exec 4< <("$wexo" di 10.200.0.4 --watch --interval 100 --count 20 2>&1)
watch_pid=$!
line=""
if IFS= read -r -t 10 line <&4; then
  echo "$line"
  control input 2 1 1
  if IFS= read -r -t 10 line <&4; then
    echo "$line"
    control input 2 1 0
  fi
  while IFS= read -r -t 10 line <&4; do echo "$line"; done
fi
exec 4<&-
stop_pid "$watch_pid"
watch_pid=""

# Analog boards answer only the ASCII identification: --timeout 200 shortens
# the wait for the binary one. The simulator runs analog input 0 of the
# model-40 unit as a sine of +-5 (range 2: full scale 10) with a 2 s period.
run --timeout 200 ai 10.200.0.5 0 --range 2
echo "  (input 0 of the unit becomes a sine of +-5 with a 2 s period:)"
control ai-wave 3 0 sine 4194304 2000 0
run --timeout 200 ai 10.200.0.5 0 --watch --interval 250 --count 9
run --timeout 200 ai 10.200.0.5 --csv --watch --interval 500 --count 3
run --timeout 200 ao 10.200.0.7 0 2.5
run --timeout 200 ao 10.200.0.7 1 12 --mode ma
run_failing "model 40 has no thermocouple inputs" --timeout 200 tc 10.200.0.5

run autoswitch 10.200.0.2 --mask 0x3 --time 1500 --active on
run cp 10.200.0.3
run_failing "more bits than the board has outputs: refused" do 10.200.0.2 --all 0x1ff
run_failing "a board without inputs: the library refuses" di 1

# Pulse counting, settings and EEPROM on the model-17 unit (ASCII board).
run --timeout 200 pulse 10.200.0.2 --config 1 UP 0 0 --on
echo "  (input 1 of the unit gets 50 pulses a second:)"
control pulse-rate 0 1 50
run --timeout 200 pulse 10.200.0.2 count 1 --watch --interval 500 --count 4
control pulse-rate 0 1 0
run_failing "model 17 has no pulse alert" --timeout 200 pulse 10.200.0.2 --alert 1 0 100
run --timeout 200 settings 10.200.0.2
run --timeout 200 settings 10.200.0.2 notice-time 3
run --timeout 200 eeprom 10.200.0.2 write 0x100 57:45:58:4f
run --timeout 200 eeprom 10.200.0.2 dump 0xf8 32
run --timeout 200 eeprom 10.200.0.2 backup "$eeprom_image"
control eeprom 0 0x100 00
run --timeout 200 eeprom 10.200.0.2 restore "$eeprom_image"

# ---- wexo-gateway: the units on MQTT (skipped without mosquitto)
if command -v mosquitto >/dev/null 2>&1 && cmake --build "$build" --target wexo-gateway >/dev/null 2>&1; then
  step "wexo-gateway: units 10.200.0.2 and 10.200.0.5 on a broker"
  gw_dir=$(mktemp -d)
  printf 'listener 18830 127.0.0.1\nallow_anonymous true\nlog_dest none\n' >"$gw_dir/mosquitto.conf"
  printf '[gateway]\nsite = "plant"\nname = "gw1"\n[mqtt]\nurl = "mqtt://127.0.0.1:18830"\n[[unit]]\nname = "press"\nhost = "10.200.0.2"\nport = 10003\nwritable = ["do/0"]\n[[unit]]\nname = "oven"\nhost = "10.200.0.5"\nport = 10010\n' >"$gw_dir/gateway.toml"
  mosquitto -c "$gw_dir/mosquitto.conf" & gw_broker=$!
  sleep 0.5
  show "$build/gateway/wexo-gateway" --config "$gw_dir/gateway.toml" --check
  "$build/gateway/wexo-gateway" --config "$gw_dir/gateway.toml" --http 127.0.0.1:18080 \
    --http-root "$top/gateway/web" 2>"$gw_dir/gateway.log" & gw_pid=$!
  sleep 2
  step "plant view: http://127.0.0.1:18080/ (inside the demo's network namespace); its units:"
  python3 -c 'import json, urllib.request; d = json.load(urllib.request.urlopen("http://127.0.0.1:18080/api/units", timeout=5)); [print("  %-6s %-7s model %s at %s" % (u["name"], "online" if u["online"] else "offline", u.get("model"), u["ip"])) for u in d["units"]]' || true
  show mosquitto_sub -p 18830 -t 'wexo/#' -v -W 1 || true
  control input 0 1 1
  show mosquitto_rr -p 18830 -t wexo/plant/gw1/press/do/0/set -e reply/demo -m 1 -W 3
  show mosquitto_rr -p 18830 -t wexo/plant/gw1/press/do/1/set -e reply/demo -m 1 -W 3
  show mosquitto_sub -p 18830 -t 'wexo/plant/gw1/press/#' -v -W 1 || true
  kill "$gw_pid" "$gw_broker"; wait "$gw_pid" "$gw_broker" 2>/dev/null || true
  rm -rf "$gw_dir"
fi

stop_sim
echo
step "done"
