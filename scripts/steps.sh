# shellcheck shell=bash
# The steps of scripts/test: each one timed, failures and what ran collected from
# every lane (a lane is a group of steps running beside the others), and the summary
# that lists them with each step's time. Source it after scripts/lib.sh; it runs
# nothing by itself.

# steps_begin LOGDIR: a fresh record (in files, so that lanes, which are child
# shells, can add to it); each lane's output goes to LOGDIR/<lane>.log.
steps_begin() {
  STEPS_STATE=$(mktemp -d)
  STEPS_LOGS=$1
  STEPS_STARTED=$SECONDS
  LANE_PIDS=()
  LANE_NAMES=()
  mkdir -p "$STEPS_LOGS"
}

# Ends the lanes still running (each in a process group of its own) and drops the record.
steps_end() {
  local pid
  for pid in "${LANE_PIDS[@]}"; do kill -TERM -- "-$pid" 2>/dev/null; done
  LANE_PIDS=()
  rm -rf "$STEPS_STATE"
}

fail() { printf '%s\n' "$1" >>"$STEPS_STATE/failures"; log "FAILED: $1"; }
ran() { printf '%s\n' "$1" >>"$STEPS_STATE/ran"; }
not_run() { printf '%s\n' "$1" >>"$STEPS_STATE/not-run"; }

# step NAME COMMAND...: runs one step; its time and whether it passed (its exit
# status) go into the summary.
step() {
  local name=$1 start=$SECONDS status
  shift
  log "$name"
  "$@"
  status=$?
  printf '%s\t%s\t%s\n' "$((SECONDS - start))" "$status" "$name" >>"$STEPS_STATE/times"
  return $status
}

# lane NAME COMMAND...: runs a command in the background, in a process group of its
# own, its output into LOGDIR/NAME.log; wait_lanes waits for every lane and prints
# each one's output in one piece.
lane() {
  local name=$1
  shift
  set -m
  ( trap stop_display EXIT; trap 'exit 143' TERM; "$@" ) </dev/null >"$STEPS_LOGS/$name.log" 2>&1 &
  set +m
  LANE_PIDS+=($!)
  LANE_NAMES+=("$name")
  log "lane $name started ($STEPS_LOGS/$name.log)"
}

wait_lanes() {
  local i
  for i in "${!LANE_PIDS[@]}"; do
    wait "${LANE_PIDS[$i]}"
    log "---- the lane ${LANE_NAMES[$i]} ($STEPS_LOGS/${LANE_NAMES[$i]}.log) ----"
    cat "$STEPS_LOGS/${LANE_NAMES[$i]}.log" >&2
  done
  LANE_PIDS=()
  LANE_NAMES=()
}

# niced COMMAND...: the command at a lower priority, the processes it starts too.
niced() {
  renice -n 10 -p "$BASHPID" >/dev/null
  "$@"
}

# minutes SECONDS: "m:ss".
minutes() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }

# steps_summary [LINE...]: every step with its time (ok, or FAILED), the whole run's
# time, what ran, the extra lines given, what did not run and what failed. Returns 1
# when anything failed.
steps_summary() {
  local seconds status name line
  log "summary"
  if [ -f "$STEPS_STATE/times" ]; then
    while IFS=$'\t' read -r seconds status name; do
      log "$(printf '%7s %-6s %s' "$(minutes "$seconds")" "$([ "$status" = 0 ] && echo ok || echo FAILED)" "$name")"
    done <"$STEPS_STATE/times"
  fi
  log "$(printf '%7s %-6s %s' "$(minutes $((SECONDS - STEPS_STARTED)))" all "the whole run (lanes overlap: the steps add up to more)")"
  [ -f "$STEPS_STATE/ran" ] && while IFS= read -r line; do log "ran: $line"; done <"$STEPS_STATE/ran"
  for line in "$@"; do log "$line"; done
  [ -f "$STEPS_STATE/not-run" ] && while IFS= read -r line; do log "NOT RUN: $line"; done <"$STEPS_STATE/not-run"
  if [ -s "$STEPS_STATE/failures" ]; then
    log "FAILED: $(paste -sd ';' "$STEPS_STATE/failures" | sed 's/;/; /g')"
    return 1
  fi
  log "all builds and tests passed"
  return 0
}
