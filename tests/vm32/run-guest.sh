#!/bin/bash
# run-guest.sh IMAGE_DIR RESULTS_DIR --stage NAME COMMAND [ARG...] [--stage ...]
# One boot of the emulated 32-bit PC for several stages at once (the i686
# suite, the installer's checks). Each stage is prepared on the host by
# `COMMAND ARG... prepare FOLDER`, which fills FOLDER with what its part needs
# and an executable FOLDER/run; in the guest every stage's run starts at the
# same time, in its folder, with OUT naming its results folder and VM32_SETUP
# the guest's shared set-up (guest-setup.sh). After the boot each stage's
# results are in RESULTS_DIR/NAME (with run.rc and run.log of its run); the
# stages' own reports read them from there (and the next boot's prepare finds
# them in VM32_PREVIOUS_RESULTS).
# Exits 0 when the guest ran every stage to its end, whatever the tests found.
# VM32_PROGRESS=FILE: the guest's progress lines are appended there too (CTest
# keeps a test's output until it ends; the test command shows this file live).
# VM32_KEEP=1 keeps the run's folder.
set -u
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 4 ] && [ "$3" = --stage ] || {
  echo "usage: $0 IMAGE_DIR RESULTS_DIR --stage NAME COMMAND [ARG...] [--stage ...]" >&2; exit 2; }
image=$1 results=$2
shift 2
started=$(date +%s)

if [ ! -f "$image/recipe.sha256" ]; then
  echo "vm32: no guest image in $image: scripts/test.sh and scripts/test32.sh build it" >&2
  exit 1
fi
# A shared hold on the image: ensure-image.sh never rebuilds it under a running guest.
exec 9>"$image/.lock"
flock -s -w 1800 9 || { echo "vm32: the guest image stayed locked" >&2; exit 1; }

work=$(mktemp -d "$image/run.XXXXXX")
cleanup() { [ "${VM32_KEEP:-0}" = 1 ] && echo "vm32: kept $work" || rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 143' INT TERM HUP
mkdir -p "$work/job"
cp "$here/guest-setup.sh" "$work/job/setup.sh"

# Each stage: NAME COMMAND ARG... up to the next --stage.
stages=()
while [ $# -gt 0 ]; do
  [ "$1" = --stage ] && [ $# -ge 3 ] || { echo "vm32: expected --stage NAME COMMAND, got: $*" >&2; exit 2; }
  name=$2
  shift 2
  command=()
  while [ $# -gt 0 ] && [ "$1" != --stage ]; do command+=("$1"); shift; done
  mkdir -p "$work/job/$name"
  # The last boot's results, for a stage that orders its work by them.
  VM32_PREVIOUS_RESULTS=$results/$name "${command[@]}" prepare "$work/job/$name" ||
    { echo "vm32: cannot prepare the stage $name" >&2; exit 1; }
  [ -x "$work/job/$name/run" ] || { echo "vm32: the stage $name left no run script" >&2; exit 1; }
  stages+=("$name")
done

# The guest's job (run by sh): the network once, then every stage at once.
{
  echo 'export VM32_SETUP=/xfer/setup.sh'
  echo 'bash -c "source /xfer/setup.sh && guest_network"'
  for name in "${stages[@]}"; do
    echo "mkdir -p /xfer/out/$name"
    echo "(cd /xfer/$name && OUT=/xfer/out/$name ./run >/xfer/out/$name/run.log 2>&1 </dev/null;" \
         "echo \$? >/xfer/out/$name/run.rc) &"
  done
  echo 'wait'
} >"$work/job/job"

boot_once() {
  echo "vm32: booting the 32-bit guest for: ${stages[*]}"
  VM32_LABEL="vm32: guest" "$here/boot.sh" "$image" "$work/job" "$work/result" | {
    if [ -n "${VM32_PROGRESS:-}" ]; then tee -a "$VM32_PROGRESS"; else cat; fi; }
  boot_rc=${PIPESTATUS[0]}
}
boot_start=$(date +%s)
boot_once
# Only a kernel that never reached userspace (no test ran) is booted once more,
# and that is noted with the run's summary; a boot whose tests ran never is.
if [ "$boot_rc" = 201 ]; then
  note="vm32 (${stages[*]}): the guest's kernel did not reach its userspace; no test had run; booted once more"
  echo "$note"
  [ -n "${HALVO_WINE_NOTES:-}" ] && echo "$note" >>"$HALVO_WINE_NOTES"
  boot_once
fi
boot_seconds=$(( $(date +%s) - boot_start ))

rm -rf "$results"
mkdir -p "$results"
rc=0
for name in "${stages[@]}"; do
  if [ -d "$work/result/out/$name" ]; then cp -r "$work/result/out/$name" "$results/"; else mkdir -p "$results/$name"; fi
  echo "$boot_seconds" >"$results/$name/boot-seconds"
  if [ ! -s "$results/$name/run.rc" ]; then
    echo "vm32: the stage $name did not run to its end; the end of its log:"
    tail -n 30 "$results/$name/run.log" 2>/dev/null
    rc=1
  fi
done
if [ "$boot_rc" != 0 ]; then
  echo "vm32: the guest's run failed (exit code $boot_rc); the end of its log:"
  tail -n 30 "$work/result/job.log" 2>/dev/null
  rc=1
fi
echo "vm32: one boot of ${boot_seconds} s for ${stages[*]}; $(( $(date +%s) - started )) s in all"
exit "$rc"
