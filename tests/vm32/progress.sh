# Progress lines for the long steps of the guest image's build and the guest's
# boots: at least one line every 30 s while they run. Sourced, not run.
#
# Jobs inside the guest report by writing "vm32-progress: TEXT" lines to the
# serial console (guest_progress in guest-setup.sh); the host reads them from
# the console's log file.

PROGRESS_EVERY=${PROGRESS_EVERY:-10}  # seconds between two lines with news; 0: every new line
PROGRESS_QUIET=${PROGRESS_QUIET:-25}  # seconds after which a line is printed anyway

# progress_follow PID LABEL FILE SED_SCRIPT
# While PID runs, the lines that `sed -n SED_SCRIPT FILE` prints are shown as
# "LABEL: TEXT (N s)": each new one when PROGRESS_EVERY is 0, otherwise the
# newest at most every PROGRESS_EVERY s; the last one again when PROGRESS_QUIET
# s passed without a line.
progress_follow() {
  local pid=$1 label=$2 file=$3 script=$4 started=$SECONDS printed=$SECONDS count=0 lines total latest
  while kill -0 "$pid" 2>/dev/null; do
    sleep 2
    lines=$(sed -n "$script" "$file" 2>/dev/null | tr -d '\r')
    total=$(printf '%s' "$lines" | grep -c '')
    latest=$(printf '%s' "$lines" | tail -n 1)
    if [ "$total" -gt "$count" ] && [ "$PROGRESS_EVERY" = 0 ]; then
      printf '%s\n' "$lines" | tail -n "+$((count + 1))" | sed "s|^|$label: |; s|\$| ($((SECONDS - started)) s)|"
    elif { [ "$total" -gt "$count" ] && [ $((SECONDS - printed)) -ge "$PROGRESS_EVERY" ]; } ||
         [ $((SECONDS - printed)) -ge "$PROGRESS_QUIET" ]; then
      printf '%s: %s (%d s)\n' "$label" "${latest:-running}" $((SECONDS - started))
    else
      continue
    fi
    count=$total printed=$SECONDS
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
