#!/bin/bash
# Benchmark: the engine's throughput on one 1 GiB file from the loopback server,
# next to curl's and aria2c's on the same file in the same run, as ratios, and
# next to a plain WinHTTP download under the same Wine (its ceiling). Not
# part of the test command. Installs what it needs (aria2, curl), builds the
# 64-bit engine and runs it under Wine. Run as root.
source "$(dirname "$0")/common.sh"

ensure_packages aria2 curl bc
say "building x86_64"
(cd "$ROOT" && build_preset x86_64)
ensure_prefix
start_wineserver

BENCH=$BUILD/bench
mkdir -p "$BENCH"
SOURCE=$BENCH/source-1GiB.bin
if [ ! -f "$SOURCE" ] || [ "$(stat -c %s "$SOURCE")" -ne 1073741824 ]; then
  say "making the 1 GiB file"
  head -c 1073741824 /dev/urandom > "$SOURCE"
fi
expected=$(sha256sum "$SOURCE" | cut -d' ' -f1)

ports=$BENCH/server.ports
rm -f "$ports"
/usr/bin/python3 "$ROOT/tests/support/loopback_server.py" --port-file "$ports" --file "big=$SOURCE" &
server=$!
stop_all() { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -f "$BENCH"/out-*; stop_wineserver; }
trap stop_all EXIT
for _ in $(seq 100); do [ -f "$ports" ] && break; sleep 0.1; done
port=$(sed -n 's/^http=//p' "$ports")
url="http://127.0.0.1:$port/files/big"
cat "$SOURCE" > /dev/null  # every tool reads it from the page cache

declare -A seconds
now() { date +%s.%N; }
check() {  # name file
  local sum
  sum=$(sha256sum "$2" | cut -d' ' -f1)
  [ "$sum" = "$expected" ] || { echo "FAIL: $1 wrote a file that differs from the source"; exit 1; }
  rm -f "$2"
}

run_curl() {
  local start end
  start=$(now)
  curl -s -o "$BENCH/out-curl" "$url"
  end=$(now)
  check curl "$BENCH/out-curl"
  seconds[curl]=$(echo "$end - $start" | bc -l)
}

run_aria2() {  # connections
  local start end
  start=$(now)
  aria2c -q --allow-overwrite=true --file-allocation=none -x "$1" -s "$1" -k 1M -d "$BENCH" -o "out-aria2-$1" "$url"
  end=$(now)
  check "aria2c -x $1" "$BENCH/out-aria2-$1"
  seconds[aria2c_$1]=$(echo "$end - $start" | bc -l)
}

run_winhttp() {
  local line folder
  folder=$(WINEDEBUG=-all wine winepath -w "$BENCH" 2>/dev/null | tr -d '\r')
  line=$(cd "$BUILD/x86_64/bin" && wine winhttp_bench.exe "$url" "$folder\\out-winhttp" 2>/dev/null | tr -d '\r')
  [[ "$line" == winhttp* ]] || { echo "FAIL: the plain WinHTTP download failed"; exit 1; }
  check "winhttp" "$BENCH/out-winhttp"
  seconds[winhttp]=$(echo "$line" | cut -d' ' -f3)
}

run_engine() {  # connections
  local line folder
  folder=$(WINEDEBUG=-all wine winepath -w "$BENCH" 2>/dev/null | tr -d '\r')
  line=$(cd "$BUILD/x86_64/bin" && wine engine_bench.exe "$url" "$folder" "out-engine-$1" "$1" 2>/dev/null | tr -d '\r')
  [[ "$line" == engine* ]] || { echo "FAIL: the engine did not finish the download"; exit 1; }
  check "engine $1" "$BENCH/out-engine-$1"
  seconds[engine_$1]=$(echo "$line" | cut -d' ' -f4)
}

say "downloading 1 GiB from $url with each"
run_curl
run_aria2 1
run_aria2 4
run_winhttp
run_engine 1
run_engine 4

rate() { echo "scale=1; 1024 / ${seconds[$1]}" | bc -l; }
printf '\n%-26s %10s %12s\n' "client" "seconds" "MiB/s"
for name in curl aria2c_1 aria2c_4 winhttp engine_1 engine_4; do
  printf '%-26s %10.2f %12s\n' "$name" "${seconds[$name]}" "$(rate "$name")"
done
ratio() { echo "scale=2; ${seconds[$2]} / ${seconds[$1]}" | bc -l; }
printf '\nthroughput ratios (engine / other, same file, same run):\n'
printf '  engine, 1 connection  / curl              %s\n' "$(ratio engine_1 curl)"
printf '  engine, 1 connection  / aria2c -x 1       %s\n' "$(ratio engine_1 aria2c_1)"
printf '  engine, 4 connections / aria2c -x 4       %s\n' "$(ratio engine_4 aria2c_4)"
printf '  engine, 1 connection  / plain WinHTTP     %s   (the engine under Wine is bound by Wine'"'"'s WinHTTP)\n' \
  "$(ratio engine_1 winhttp)"
