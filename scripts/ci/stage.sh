#!/bin/sh
# One stage of scripts/test.sh: runs COMMAND with its output in
# $WEXO_TEST_LOGS/NAME.log and prints one line: the time into the run
# (from $WEXO_TEST_START, seconds since the epoch), the stage and how long it
# took. On failure it shows the log, leaves NAME.failed next to it and ends
# with the command's status.
#
#   stage.sh [--queued] NAME COMMAND...
#
# --queued: waits for the stages queued before it (one at a time, on the lock
# $WEXO_TEST_LOGS/queue.lock), and does not run once a stage has failed.
set -eu
logs=$WEXO_TEST_LOGS
start=${WEXO_TEST_START:-$(date +%s)}
if [ "$1" = --queued ]; then
  shift
  exec 9>"$logs/queue.lock"
  flock 9
  if ls "$logs"/*.failed >/dev/null 2>&1; then
    exit 0
  fi
fi
name=$1
shift

# Minutes and seconds since $1 (seconds since the epoch).
since() {
  s=$(($(date +%s) - $1))
  printf '%d:%02d' $((s / 60)) $((s % 60))
}

# CPU seconds the stage's processes used, from this shell's own record of
# its waited-for children (fields 16 and 17 of /proc/PID/stat, in ticks).
cpu() {
  stat=""
  read -r stat 2>/dev/null <"/proc/$$/stat" || true
  # shellcheck disable=SC2086 # the fields after the command name
  set -- ${stat##*") "}
  [ $# -ge 15 ] && echo $(((${14} + ${15}) / $(getconf CLK_TCK))) || echo "?"
}

began=$(date +%s)
status=0
"$@" >"$logs/$name.log" 2>&1 </dev/null || status=$?
verdict=ok
if [ "$status" -ne 0 ]; then
  cat "$logs/$name.log"
  : >"$logs/$name.failed"
  verdict=FAILED
fi
printf 'test.sh %6s  %-16s %-6s %6s  (CPU %s s)\n' "$(since "$start")" "$name" "$verdict" \
  "$(since "$began")" "$(cpu)"
[ "$status" -eq 0 ] || echo "test.sh: $name ended with status $status; its log: $logs/$name.log" >&2
exit "$status"
