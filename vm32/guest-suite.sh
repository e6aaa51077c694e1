#!/bin/bash
# Runs inside the guest (copied onto the transfer disk with the i686 bin/ folder):
# every listed test program under wine32, one after another in one Wine
# session, with results in /xfer/out. A program whose tests fail has each
# failed test run again on its own, and one that ends without writing its
# results (a crash, a hang) has every test run on its own, so that one broken
# test neither hides the others nor leaves open whether it fails by itself.
set -u
# The same environment as the x86_64 runner (tests/run-under-wine.sh.in), but win32.
export WINEPREFIX=/root/.wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" OANOCACHE=1
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

# The guest boots without a network, with its loopback interface down and no
# hosts file: the tests' own file servers listen on 127.0.0.1 and are reached as
# localhost too (their certificate's name), and a name lookup must not wait for
# a name server that cannot answer. The root disk is discarded after the boot.
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >/etc/hosts
: >/etc/resolv.conf
# (SIOCGIFFLAGS / SIOCSIFFLAGS with IFF_UP.)
python3 - <<'PY' || echo "vm32: could not bring the loopback interface up" >&2
import fcntl, socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
flags = struct.unpack("16sH", fcntl.ioctl(s, 0x8913, struct.pack("16sH", b"lo", 0)))[1]
fcntl.ioctl(s, 0x8914, struct.pack("16sH", b"lo", flags | 1))
PY

echo "wine_start $(now)" >"$out/timing"
wine --version >"$out/wine-version" 2>&1
# One server for the whole run: each program then starts in a fraction of the time.
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
# Wine closes the desktop a few seconds after its last process ends, and every
# program started after that waits for a new desktop process (many seconds
# when emulated): one process stays on the desktop for the whole run.
wine notepad </dev/null >/dev/null 2>&1 &
# A crash would start winedbg, which reads the program's debug information for
# many minutes when emulated: the debugger named here ends at once instead, and
# the crashed program with it. (The root disk is discarded after the boot.)
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d 'cmd.exe /c exit' /f \
  </dev/null >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f </dev/null >/dev/null 2>&1
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
