#!/bin/bash
# The i686 suite's part of a guest boot (run by vm32/run-guest.sh's job, with
# the i686 bin/ folder beside it): every listed test program under wine32, with
# results in $OUT. Several workers take programs from one queue; each has a Wine
# prefix and wineserver of its own (a copy of the image's), as the programs
# expect a prefix to themselves (they register COM classes in it). A program
# whose tests fail has each failed test run again on its own, and one that ends
# without writing its results (a crash, a hang) has every test run on its own,
# so that one broken test neither hides the others nor leaves open whether it
# fails by itself. Progress goes to the console: each program as it ends.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$VM32_SETUP"
limit=$(cat "$here/program-timeout")
workers=$(cat "$here/workers")
alone_limit=60
max_alone=20
# Runs on their own stop here (guest uptime, s), so that a broken build still
# leaves time for every program's own run within the boot's limit.
alone_deadline=900
out=$OUT
mkdir -p "$out/alone"
cd "$here/bin"
now() { cut -d' ' -f1 /proc/uptime; }
total=$(grep -c . "$here/programs")

echo "wine_start $(now)" >>"$out/timing"
wine --version >"$out/wine-version" 2>&1

# run_alone PROGRAM NAME TEST: one test in a process of its own.
run_alone() {
  local safe
  [ "$(now | cut -d. -f1)" -lt "$alone_deadline" ] || return 0
  safe=$(printf '%s' "$3" | tr -c 'A-Za-z0-9_.-' '_')
  printf '%s\t%s\n' "$safe" "$3" >>"$out/alone/$2.index"
  timeout -k 5 "$alone_limit" wine "./$1" --gtest_filter="$3" \
    --gtest_output="xml:Z:${out//\//\\}\\alone\\$2.$safe.xml" >"$out/alone/$2.$safe.out" 2>&1 </dev/null
  echo $? >"$out/alone/$2.$safe.rc"
}

run_program() {
  local program=$1 name=${1%.exe} verdict done
  echo "$name start $(now)" >>"$out/timing"
  timeout -k 10 "$limit" wine "./$program" --gtest_output="xml:Z:${out//\//\\}\\$name.xml" \
    >"$out/$name.out" 2>&1 </dev/null
  echo $? >"$out/$name.rc"
  echo "$name end $(now)" >>"$out/timing"
  if [ ! -s "$out/$name.xml" ]; then
    verdict="ended without its results"
    # No results: list the tests (suite lines end with '.', tests are indented).
    timeout -k 5 "$alone_limit" wine "./$program" --gtest_list_tests >"$out/$name.list" 2>/dev/null </dev/null
    tr -d '\r' <"$out/$name.list" | awk '/^[^ ]/ {suite=$1} /^  [^ ]/ {print suite $1}' |
      head -n "$max_alone" >"$out/$name.torun"
  else
    # Lines of failed tests as they end ("[  FAILED  ] Suite.Name (5 ms)"), not the summary.
    tr -d '\r' <"$out/$name.out" | sed -n 's/^\[  FAILED  \] \([^ ,]*\).* ms)$/\1/p' |
      head -n "$max_alone" >"$out/$name.torun"
    if [ -s "$out/$name.torun" ]; then verdict="$(wc -l <"$out/$name.torun") failed"; else verdict=passed; fi
  fi
  while IFS= read -r test; do run_alone "$program" "$name" "$test"; done <"$out/$name.torun"
  echo "$name alone_end $(now)" >>"$out/timing"
  done=$(flock "$out/queue" sh -c 'n=$(($(cat "$1") + 1)); echo $n >"$1"; echo $n' sh "$out/done")
  guest_progress "i686 suite: $name $verdict ($done of $total programs done)"
}

# Hands out the next program of the list (empty when none is left).
next_program() {
  flock "$out/queue" sh -c 'n=$(($(cat "$1") + 1)); echo $n >"$1"; sed -n "${n}p" "$2"' sh "$out/next" "$here/programs"
}

worker() {
  local program
  export WINEPREFIX=/root/.wine-suite-$1
  guest_pin $(( $1 - 1 ))
  guest_prefix_copy "$WINEPREFIX"
  guest_start_wine
  echo "wine_ready $1 $(now)" >>"$out/timing"
  while program=$(next_program) && [ -n "$program" ]; do run_program "$program"; done
  wineserver -k
}

echo 0 >"$out/next"
echo 0 >"$out/done"
guest_progress "i686 suite: $total programs, $workers at a time"
for ((w = 1; w <= workers; w++)); do worker "$w" & done
wait
echo "done $(now)" >>"$out/timing"
