#!/bin/bash
# Runs inside the guest (copied onto the transfer disk with the i686 bin/ folder):
# every listed test program under wine32, one after another in one Wine
# session, with results in /xfer/out. A program whose tests fail has each
# failed test run again on its own, and one that ends without writing its
# results (a crash, a hang) has every test run on its own, so that one broken
# test neither hides the others nor leaves open whether it fails by itself.
set -u
source /xfer/setup.sh
limit=$(cat /xfer/program-timeout)
alone_limit=60
max_alone=20
# Runs on their own stop here (guest uptime, s), so that a broken build still
# leaves time for every program's own run within the boot's limit.
alone_deadline=900
out=/xfer/out
mkdir -p "$out/alone"
cd /xfer/bin
now() { cut -d' ' -f1 /proc/uptime; }

guest_network

echo "wine_start $(now)" >"$out/timing"
wine --version >"$out/wine-version" 2>&1
guest_start_wine
guest_no_debugger
echo "wine_ready $(now)" >>"$out/timing"

# run_alone PROGRAM NAME TEST: one test in a process of its own.
run_alone() {
  local safe
  [ "$(now | cut -d. -f1)" -lt "$alone_deadline" ] || return 0
  safe=$(printf '%s' "$3" | tr -c 'A-Za-z0-9_.-' '_')
  printf '%s\t%s\n' "$safe" "$3" >>"$out/alone/$2.index"
  timeout -k 5 "$alone_limit" wine "./$1" --gtest_filter="$3" \
    --gtest_output="xml:Z:\\xfer\\out\\alone\\$2.$safe.xml" >"$out/alone/$2.$safe.out" 2>&1 </dev/null
  echo $? >"$out/alone/$2.$safe.rc"
}

while IFS= read -r program; do
  [ -n "$program" ] || continue
  name=${program%.exe}
  echo "$name start $(now)" >>"$out/timing"
  timeout -k 10 "$limit" wine "./$program" --gtest_output="xml:Z:\\xfer\\out\\$name.xml" \
    >"$out/$name.out" 2>&1 </dev/null
  echo $? >"$out/$name.rc"
  echo "$name end $(now)" >>"$out/timing"
  if [ ! -s "$out/$name.xml" ]; then
    # No results: list the tests (suite lines end with '.', tests are indented).
    timeout -k 5 "$alone_limit" wine "./$program" --gtest_list_tests >"$out/$name.list" 2>/dev/null </dev/null
    tr -d '\r' <"$out/$name.list" | awk '/^[^ ]/ {suite=$1} /^  [^ ]/ {print suite $1}' |
      head -n "$max_alone" >"$out/$name.torun"
  else
    # Lines of failed tests as they end ("[  FAILED  ] Suite.Name (5 ms)"), not the summary.
    tr -d '\r' <"$out/$name.out" | sed -n 's/^\[  FAILED  \] \([^ ,]*\).* ms)$/\1/p' |
      head -n "$max_alone" >"$out/$name.torun"
  fi
  while IFS= read -r test; do run_alone "$program" "$name" "$test"; done <"$out/$name.torun"
  echo "$name alone_end $(now)" >>"$out/timing"
done </xfer/programs

wineserver -k
echo "done $(now)" >>"$out/timing"
