# Sourced by the scripts that start wexo-sim in the background.
# wait_sim_ready NAME PID FILE: waits (at most 10 s) until the simulator with
# process PID, whose output goes to FILE, has printed "ready" (every unit
# listens), then sets control_port from its "control N" line. On failure it
# prints the simulator's output, naming the calling script NAME, and exits 1.
wait_sim_ready() {
  tries=0
  until grep -qx ready "$3"; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$2" 2>/dev/null; then
      echo "$1: the simulator did not get ready:" >&2
      cat "$3" >&2
      exit 1
    fi
    sleep 0.1
  done
  control_port=$(sed -n 's/^control //p' "$3")
}

# stop_pid PID: stops a background process of this shell (nothing when PID is
# empty): SIGTERM, then SIGKILL if it has not ended within 5 s, and reaps it.
stop_pid() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  tries=0
  # An ended child stays a zombie ("Z") until it is reaped: that counts as ended.
  while [ $tries -lt 50 ]; do
    stat=""
    read -r stat 2>/dev/null <"/proc/$1/stat" || true
    case ${stat##*") "} in "" | Z*) break ;; esac
    tries=$((tries + 1))
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
