#!/bin/bash
# run-suite.sh IMAGE_DIR I686_BUILD [X86_64_BUILD]
# The 32-bit stage: boots the guest once, runs every i686 test program there
# (the list CMake wrote into I686_BUILD/vm32/test-programs.txt) and reports the
# results; with X86_64_BUILD, compares the tests that ran with its CTest list.
# Exits 0 when everything passed. VM32_KEEP=1 keeps the run's folder;
# VM32_REPORT=FILE keeps a passing run's report there.
set -u
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { echo "usage: $0 IMAGE_DIR I686_BUILD [X86_64_BUILD]" >&2; exit 2; }
image=$1 i686=$2 x86_64=${3:-}
programs=$i686/vm32/test-programs.txt
bin=$i686/bin
started=$(date +%s)

if [ ! -f "$image/recipe.sha256" ]; then
  echo "vm32: no guest image in $image: scripts/test.sh and scripts/test32.sh build it" >&2
  exit 1
fi
[ -s "$programs" ] || { echo "vm32: $programs is missing or empty: build the i686 preset first" >&2; exit 1; }
while IFS= read -r program; do
  [ -f "$bin/$program" ] || { echo "vm32: $bin/$program is missing: build the i686 preset first" >&2; exit 1; }
done <"$programs"
for exe in "$bin"/*.exe; do
  grep -qxF "$(basename "$exe")" "$programs" || echo "vm32: $(basename "$exe") is not a test program: not run"
done

# A shared hold on the image: ensure-image.sh never rebuilds it under a running guest.
exec 9>"$image/.lock"
flock -s -w 1800 9 || { echo "vm32: the guest image stayed locked" >&2; exit 1; }

work=$(mktemp -d "$image/run.XXXXXX")
cleanup() { [ "${VM32_KEEP:-0}" = 1 ] && echo "vm32: kept $work" || rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 143' INT TERM HUP

mkdir -p "$work/job"
cp -r "$bin" "$work/job/bin"
cp "$programs" "$work/job/programs"
cp "$here/guest-suite.sh" "$work/job/suite.sh"
cp "$here/guest-setup.sh" "$work/job/setup.sh"
echo "${VM32_PROGRAM_TIMEOUT:-300}" >"$work/job/program-timeout"
echo 'exec bash /xfer/suite.sh' >"$work/job/job"

echo "vm32: booting the 32-bit guest for $(wc -l <"$programs") test programs"
boot_start=$(date +%s)
"$here/boot.sh" "$image" "$work/job" "$work/result"
boot_rc=$?
boot_seconds=$(( $(date +%s) - boot_start ))
if [ "$boot_rc" != 0 ]; then
  echo "vm32: the guest's run failed (exit code $boot_rc); its log:"
  tail -n 60 "$work/result/job.log" 2>/dev/null
  [ -d "$work/result/out" ] || exit 1
fi

compare=()
if [ -n "$x86_64" ]; then
  # Listing runs gtest discovery where it is out of date, so Wine must be usable here.
  if ctest --test-dir "$x86_64" --show-only=json-v1 >"$work/x86_64-tests.json" 2>"$work/x86_64-tests.err"; then
    compare=(--x86_64-list "$work/x86_64-tests.json" --x86_64-only "$here/x86_64-only-tests.txt")
  else
    echo "vm32: cannot list the x86_64 tests:"; cat "$work/x86_64-tests.err"; exit 1
  fi
fi
/usr/bin/python3 "$here/report.py" --results "$work/result/out" --programs "$programs" \
  --boot-seconds "$boot_seconds" "${compare[@]}" | tee "$work/report.txt"
rc=${PIPESTATUS[0]}
[ "$boot_rc" = 0 ] || rc=1
echo "vm32: the stage took $(( $(date +%s) - started )) s" | tee -a "$work/report.txt"
# A passing run's report is kept for the test command to show (CTest hides the
# output of passing tests); a failing one is shown by CTest itself.
if [ -n "${VM32_REPORT:-}" ] && [ "$rc" = 0 ]; then
  mkdir -p "$(dirname "$VM32_REPORT")" && cp "$work/report.txt" "$VM32_REPORT"
fi
exit "$rc"
