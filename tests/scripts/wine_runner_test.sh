#!/bin/bash
# wine_runner_test.sh RUNNER: the Wine runner (tests/run-under-wine.sh.in, as
# configured) against a stand-in `wine` on PATH that ends as Wine and glibc
# can: a program Wine ended before its first line is started once more and
# noted; glibc's failed exit check after every test passed counts as passed and
# is noted; a program that printed anything keeps its exit code and is never
# started again.
set -u
runner=${1:?usage: wine_runner_test.sh RUNNER}
work=$(mktemp -d)
trap 'rm -f -r "$work"' EXIT
failures=0

mkdir "$work/bin"
# Each start takes the next line of $work/script: "CODE TEXT..." (TEXT may be empty).
cat >"$work/bin/wine" <<'FAKE'
#!/bin/bash
n=$(($(cat "$FAKE_WINE/starts") + 1))
echo "$n" >"$FAKE_WINE/starts"
line=$(sed -n "${n}p" "$FAKE_WINE/script")
code=${line%% *}
text=${line#"$code"}
[ -z "${text# }" ] || printf '%b' "${text# }"
exit "$code"
FAKE
chmod +x "$work/bin/wine"
export FAKE_WINE=$work PATH=$work/bin:$PATH HALVO_WINE_NOTES=$work/notes

PASSED='[==========] 3 tests ran.\r\n[  PASSED  ] 3 tests.\r\n'
LDSO='Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini: Assertion `ns != LM_ID_BASE || i == nloaded'"'"' failed!\n'

# check NAME EXPECTED_CODE EXPECTED_STARTS NOTE_PATTERN SCRIPT_LINE...
check() {
  local name=$1 expected=$2 starts=$3 pattern=$4 code
  shift 4
  printf '%s\n' "$@" >"$work/script"
  echo 0 >"$work/starts"
  rm -f "$work/notes"
  "$runner" "$work/prog.exe" --gtest_filter=X >"$work/out" 2>&1
  code=$?
  if [ "$code" != "$expected" ] || [ "$(cat "$work/starts")" != "$starts" ]; then
    echo "FAILED: $name: exit code $code after $(cat "$work/starts") starts, expected $expected after $starts"
    sed 's/^/  /' "$work/out"; failures=$((failures + 1)); return
  fi
  if [ -n "$pattern" ] && ! grep -qE "^prog\.exe: $pattern" "$work/notes" 2>/dev/null; then
    echo "FAILED: $name: no note matching /$pattern/"; cat "$work/notes" 2>/dev/null; failures=$((failures + 1)); return
  fi
  if [ -z "$pattern" ] && [ -s "$work/notes" ]; then
    echo "FAILED: $name: noted although nothing was Wine's:"; cat "$work/notes"; failures=$((failures + 1)); return
  fi
  echo "ok: $name"
}

check "a passing program passes once, unnoted" 0 1 "" "0 $PASSED"
check "a failing program fails once and is never started again" 1 1 "" "1 [  FAILED  ] S.T (3 ms)\r\n"
check "a crash after a first line keeps its code and is not started again" 3 1 "" "3 Running main()\r\n"
check "nothing printed: started once more, and the second run counts" 0 2 "printed nothing and ended with exit code 0" \
  "0" "0 $PASSED"
check "nothing printed, then a real failure: the failure counts" 1 2 "printed nothing" "139" "1 [  FAILED  ] S.T\r\n"
check "nothing printed twice: a failure, noted" 1 2 "printed nothing again" "0" "0"
check "glibc's exit check failing after every test passed counts as passed, noted" 0 1 "every test passed, then" \
  "127 $PASSED$LDSO"
check "glibc's exit check after a failed test still fails" 127 1 "" "127 [  FAILED  ] S.T\r\n$PASSED$LDSO"
check "exit code 127 without glibc's line still fails" 127 1 "" "127 $PASSED"

[ "$failures" = 0 ] && echo "every runner check passed" || echo "$failures runner checks failed"
exit $((failures > 0))
