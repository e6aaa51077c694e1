#!/bin/bash
# scripts/apt.sh against a stand-in apt (apt-get and apt-cache on PATH) that
# fails updates as a mirror in the middle of a sync does: the update is tried
# again, a failed one still goes on when every package has a candidate, and
# only a package without one fails the step, by name.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

mkdir "$work/bin"
# apt-get update fails while $work/update-failures holds a number above 0.
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/bash
echo "apt-get $*" >>"$FAKE_APT/calls"
case " $* " in
  *" update "*)
    left=$(cat "$FAKE_APT/update-failures")
    if [ "$left" -gt 0 ]; then
      echo $((left - 1)) >"$FAKE_APT/update-failures"
      echo "E: Failed to fetch http://mirror/dists/x/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi ;;
esac
exit 0
FAKE
# apt-cache policy: a candidate for every package but those in $work/unknown.
cat >"$work/bin/apt-cache" <<'FAKE'
#!/bin/bash
[ "$1" = policy ] || exit 1
if grep -qxF "$2" "$FAKE_APT/unknown"; then exit 0; fi
printf '%s:\n  Installed: (none)\n  Candidate: 1.0-1\n' "$2"
FAKE
chmod +x "$work/bin/"*
export FAKE_APT=$work PATH=$work/bin:$PATH APT_PAUSE=0 APT_TRIES=3
source "$root/scripts/apt.sh"

# check NAME EXPECTED_STATUS FAILED_UPDATES UNKNOWN_PACKAGES PATTERN... -- COMMAND...
# Runs COMMAND with the stand-in set up; its status and each output PATTERN must match.
check() {
  local name=$1 expected=$2 fails=$3 unknown=$4 status pattern
  shift 4
  local patterns=()
  while [ "$1" != -- ]; do patterns+=("$1"); shift; done
  shift
  echo "$fails" >"$work/update-failures"
  printf '%s\n' $unknown >"$work/unknown"
  : >"$work/calls"
  ("$@") >"$work/out" 2>&1
  status=$?
  if [ "$status" != "$expected" ]; then
    echo "FAILED: $name: exit status $status, expected $expected"; sed 's/^/  /' "$work/out"; failures=$((failures + 1))
    return
  fi
  for pattern in "${patterns[@]}"; do
    if ! grep -qE -- "$pattern" "$work/out" "$work/calls"; then
      echo "FAILED: $name: no line matches /$pattern/"; sed 's/^/  /' "$work/out" "$work/calls"; failures=$((failures + 1))
      return
    fi
  done
  echo "ok: $name"
}

check "a mirror caught in a sync once: the second update goes through" 0 1 "" \
  'try 1 of 3\): E: Failed to fetch .*Mirror sync in progress' 'updated on try 2' -- apt_refresh wine nsis
check "an index failing every time: every package still resolves, so it goes on" 0 5 "" \
  'failed \(try 2 of 3\)' 'failed 3 times; going on' -- apt_refresh wine linux-image-686:i386
check "a package without a candidate fails the step, named" 1 5 "no-such-package" \
  'no install candidate .*: no-such-package$' -- apt_refresh wine no-such-package
check "a clean update installs what was asked" 0 0 "" \
  '^apt-get .*install -y -qq --no-install-recommends wine nsis$' -- apt_install wine nsis
# Fails with 1 when apt_install failed and asked apt-get to install nothing.
install_refused() {
  apt_install wine nsis && return 0
  grep -q " install " "$FAKE_APT/calls" && return 2
  return 1
}
check "nothing is installed when a package cannot be found" 1 0 "nsis" \
  'no install candidate .*: nsis$' -- install_refused

[ "$failures" = 0 ] && echo "every apt check passed" || echo "$failures apt checks failed"
exit $((failures > 0))
