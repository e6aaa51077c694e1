# Progress lines for the long steps of the guest image's build and the guest's
# boots: at least one line every 30 s while they run. Sourced, not run.
#
# Jobs inside the guest report by writing "vm32-progress: TEXT" lines to the
# serial console (guest_progress in guest-setup.sh); the host reads them from
# the console's log file.

PROGRESS_EVERY=${PROGRESS_EVERY:-10}   # seconds between two lines with news
PROGRESS_QUIET=${PROGRESS_QUIET:-25}   # seconds after which a line is printed anyway

# progress_follow PID LABEL FILE SED_SCRIPT
# While PID runs: the newest line that `sed -n SED_SCRIPT FILE` prints is shown
# as "LABEL: TEXT (N s)" when it is new (at most every PROGRESS_EVERY s), and the
# current one again when PROGRESS_QUIET s passed without a line.
progress_follow() {
  local pid=$1 label=$2 file=$3 script=$4 started=$SECONDS printed=$SECONDS shown= latest
  while kill -0 "$pid" 2>/dev/null; do
    sleep 2
    latest=$(sed -n "$script" "$file" 2>/dev/null | tail -n 1 | tr -d '\r')
    if { [ -n "$latest" ] && [ "$latest" != "$shown" ] && [ $((SECONDS - printed)) -ge "$PROGRESS_EVERY" ]; } ||
       [ $((SECONDS - printed)) -ge "$PROGRESS_QUIET" ]; then
      printf '%s: %s (%d s)\n' "$label" "${latest:-running}" $((SECONDS - started))
      shown=$latest printed=$SECONDS
    fi
  done
}

# progress_run LABEL LOG SED_SCRIPT COMMAND...: runs COMMAND with its output in
# LOG, following LOG as above; answers COMMAND's exit code.
progress_run() {
  local label=$1 log=$2 script=$3 pid follower rc=0
  shift 3
  "$@" >"$log" 2>&1 </dev/null &
  pid=$!
  progress_follow "$pid" "$label" "$log" "$script" &
  follower=$!
  wait "$pid" || rc=$?
  kill "$follower" 2>/dev/null
  wait "$follower" 2>/dev/null
  return "$rc"
}
