#!/bin/bash
# run-stage.sh IMAGE_DIR I686_BUILD VERSION
# The installer's stage: boots the emulated 32-bit PC once and runs
# guest_stage.py there against this build's installer (I686_BUILD/installer)
# and a "previous" one made from the same script with the version below
# VERSION. Exits 0 when every check passed; prints the stage's findings.
# INSTALLER_REPORT=FILE keeps a passing run's findings there; VM32_KEEP=1
# keeps the run's folder.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -eq 3 ] || { echo "usage: $0 IMAGE_DIR I686_BUILD VERSION" >&2; exit 2; }
image=$1 i686=$2 version=$3
bin=$i686/bin
setup=$i686/installer/halvo-transfer-plugin-$version-setup.exe
started=$(date +%s)

[ -f "$image/recipe.sha256" ] || { echo "installer: no guest image in $image" >&2; exit 1; }
for file in "$setup" "$bin/halvo_plugin.dll" "$bin/halvo_engine.dll" "$bin/halvo_host.exe"; do
  [ -f "$file" ] || { echo "installer: $file is missing: build the i686 preset first" >&2; exit 1; }
done
IFS=. read -r major minor patch build <<<"$version"
[ "$build" -gt 0 ] || { echo "installer: $version has no lower build number for the previous version" >&2; exit 1; }
previous=$major.$minor.$patch.$((build - 1))

exec 9>"$image/.lock"
flock -s -w 1800 9 || { echo "installer: the guest image stayed locked" >&2; exit 1; }
work=$(mktemp -d "$image/installer.XXXXXX")
cleanup() { [ "${VM32_KEEP:-0}" = 1 ] && echo "installer: kept $work" || rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 143' INT TERM HUP

job=$work/job
mkdir -p "$job/bin"
cp "$bin/halvo_plugin.dll" "$bin/halvo_engine.dll" "$bin/halvo_host.exe" "$job/bin/"
cp "$setup" "$job/setup-current.exe"
"$root/installer/make-installer.sh" "$previous" "$bin" "$job/setup-previous.exe" >"$work/previous.log" 2>&1 ||
  { echo "installer: cannot make the previous version's installer:"; cat "$work/previous.log"; exit 1; }
printf '%s\n%s\n' "$version" "$previous" >"$job/versions"
head -c 3000000 /dev/urandom >"$job/sample.bin"
cp "$root/tests/support/loopback_server.py" "$here/guest_stage.py" "$here/host_driver.py" "$here/snapshot.py" "$job/"
cp "$root/vm32/guest-setup.sh" "$job/setup.sh"
# The guest runs the job with sh.
echo "exec bash -c 'source /xfer/setup.sh && guest_network && guest_no_debugger && mkdir -p /xfer/out && cd /xfer && exec python3 guest_stage.py'" >"$job/job"

echo "installer: $(basename "$setup"), $(stat -c %s "$setup") bytes; the previous version $previous"
VM32_TIMEOUT=${VM32_TIMEOUT:-1500} "$root/vm32/boot.sh" "$image" "$job" "$work/result"
rc=$?
if [ -f "$work/result/out/installer.txt" ]; then
  sed 's/^/installer: /' "$work/result/out/installer.txt" | tee "$work/report.txt"
else
  echo "installer: the guest wrote no findings; its log:"; tail -n 60 "$work/result/job.log" 2>/dev/null
  rc=1
fi
if [ "$rc" != 0 ]; then
  for log in "$work"/result/out/host-*.log; do
    [ -f "$log" ] && { echo "installer: ---- $(basename "$log") (last lines, cut)"; tail -n 12 "$log" | cut -c1-300; }
  done
fi
echo "installer: the stage took $(( $(date +%s) - started )) s" | tee -a "$work/report.txt"
if [ -n "${INSTALLER_REPORT:-}" ] && [ "$rc" = 0 ]; then
  mkdir -p "$(dirname "$INSTALLER_REPORT")" && cp "$work/report.txt" "$INSTALLER_REPORT"
fi
exit "$rc"
