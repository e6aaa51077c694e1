#!/bin/bash
# The i686 suite's stage of a guest boot (vm32/run-guest.sh):
#   run-suite.sh I686_BUILD prepare FOLDER
#       puts the i686 bin/ folder, the list of test programs (the one CMake
#       wrote into I686_BUILD/vm32/test-programs.txt) and guest-suite.sh into
#       FOLDER for the guest.
#   run-suite.sh I686_BUILD report RESULTS [X86_64_BUILD]
#       reports what the guest left in RESULTS; with X86_64_BUILD, compares
#       the tests that ran with those its test programs list. Exits 0 when
#       everything passed.
#       VM32_REPORT=FILE keeps a passing run's report there.
# VM32_WORKERS: test programs run at once in the guest (default 2).
set -u
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 3 ] || { echo "usage: $0 I686_BUILD prepare FOLDER | I686_BUILD report RESULTS [X86_64_BUILD]" >&2; exit 2; }
i686=$1 mode=$2 folder=$3 x86_64=${4:-}
programs=$i686/vm32/test-programs.txt
bin=$i686/bin

prepare() {
  [ -s "$programs" ] || { echo "vm32: $programs is missing or empty: build the i686 preset first" >&2; exit 1; }
  while IFS= read -r program; do
    [ -f "$bin/$program" ] || { echo "vm32: $bin/$program is missing: build the i686 preset first" >&2; exit 1; }
  done <"$programs"
  for exe in "$bin"/*.exe; do
    grep -qxF "$(basename "$exe")" "$programs" || echo "vm32: $(basename "$exe") is not a test program: not run"
  done
  cp -r "$bin" "$folder/bin"
  # Without their debug sections: Wine reads an image's sections into memory
  # when the program starts, and in the emulated PC the DWARF a program carries
  # (the module's and engine's objects keep theirs: several MB) costs time at
  # each start. Symbols stay, for backtraces.
  local image
  for image in "$folder"/bin/*.exe "$folder"/bin/*.dll; do
    i686-w64-mingw32-strip --strip-debug "$image" ||
      { echo "vm32: cannot strip the debug sections of $image" >&2; exit 1; }
  done
  # The slowest first, by the last boot's times (programs it did not run
  # first of all): the workers then end at about the same time.
  /usr/bin/python3 "$here/report.py" --order "$programs" --results "${VM32_PREVIOUS_RESULTS:-/nonexistent}" \
    >"$folder/programs"
  cp "$here/guest-suite.sh" "$folder/run"
  echo "${VM32_PROGRAM_TIMEOUT:-300}" >"$folder/program-timeout"
  echo "${VM32_WORKERS:-2}" >"$folder/workers"
}

report() {
  local results=$folder compare=() rc list
  if [ ! -s "$results/run.rc" ]; then
    echo "vm32: the i686 suite did not run to its end in the guest; the end of its log:"
    tail -n 60 "$results/run.log" 2>/dev/null
  fi
  if [ -n "$x86_64" ]; then
    # What the x86_64 test programs list (under Wine, with the test command's server).
    list=$(mktemp)
    while IFS= read -r program; do
      if ! "$x86_64/run-under-wine.sh" "$x86_64/bin/$program" --gtest_list_tests </dev/null >"$list.one" 2>&1; then
        echo "vm32: cannot list the tests of $x86_64/bin/$program:"; cat "$list.one"; rm -f "$list" "$list.one"; exit 1
      fi
      # Suite lines end with '.', tests are indented; a parameter's value follows '#'.
      tr -d '\r' <"$list.one" | awk -v p="$program" '/^[^ ]/ {suite=$1} /^  [^ ]/ {print p "\t" suite $1}' >>"$list"
    done <"$x86_64/vm32/test-programs.txt"
    rm -f "$list.one"
    compare=(--x86_64-list "$list" --x86_64-only "$here/x86_64-only-tests.txt")
  fi
  /usr/bin/python3 "$here/report.py" --results "$results" --programs "$programs" \
    --boot-seconds "$(cat "$results/boot-seconds" 2>/dev/null || echo 0)" "${compare[@]}" | tee "$results/report.txt"
  rc=${PIPESTATUS[0]}
  [ -s "$results/run.rc" ] || rc=1
  [ -z "$x86_64" ] || rm -f "$list"
  # A passing run's report is kept for the test command to show (CTest hides the
  # output of passing tests); a failing one is shown by CTest itself.
  if [ -n "${VM32_REPORT:-}" ] && [ "$rc" = 0 ]; then
    mkdir -p "$(dirname "$VM32_REPORT")" && cp "$results/report.txt" "$VM32_REPORT"
  fi
  exit "$rc"
}

case $mode in
  prepare) prepare ;;
  report) report ;;
  *) echo "usage: $0 I686_BUILD prepare FOLDER | I686_BUILD report RESULTS [X86_64_BUILD]" >&2; exit 2 ;;
esac
