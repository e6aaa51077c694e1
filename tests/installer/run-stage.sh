#!/bin/bash
# The installer's stage of a guest boot (tests/vm32/run-guest.sh): guest_stage.py runs
# in the emulated 32-bit PC, in a Wine prefix of its own, against this build's
# installer (I686_BUILD/installer) and a "previous" one made from the same
# script with the version below VERSION.
#   run-stage.sh I686_BUILD VERSION prepare FOLDER
#       puts the installers, the built DLLs, the host and the stage's scripts
#       into FOLDER for the guest.
#   run-stage.sh I686_BUILD VERSION report RESULTS
#       prints the stage's findings from RESULTS; exits 0 when every check
#       passed. INSTALLER_REPORT=FILE keeps a passing run's findings there.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
usage() { echo "usage: $0 I686_BUILD VERSION prepare FOLDER | I686_BUILD VERSION report RESULTS" >&2; exit 2; }
[ $# -eq 4 ] || usage
i686=$1 version=$2 mode=$3 folder=$4
bin=$i686/bin
setup=$i686/installer/halvo-transfer-plugin-$version-setup.exe

prepare() {
  local previous major minor patch build
  local helpers=("$bin/halvo_host.exe" "$bin/registry_save.exe" "$bin/run_limited.exe" "$bin/planted_program.exe")
  for file in "$setup" "$bin/halvo_plugin.dll" "$bin/halvo_engine.dll" "${helpers[@]}"; do
    [ -f "$file" ] || { echo "installer: $file is missing: build the i686 preset first" >&2; exit 1; }
  done
  IFS=. read -r major minor patch build <<<"$version"
  [ "$build" -gt 0 ] || { echo "installer: $version has no lower build number for the previous version" >&2; exit 1; }
  previous=$major.$minor.$patch.$((build - 1))
  mkdir -p "$folder/bin"
  cp "$bin/halvo_plugin.dll" "$bin/halvo_engine.dll" "${helpers[@]}" "$folder/bin/"
  cp "$setup" "$folder/setup-current.exe"
  "$root/installer/make-installer.sh" "$previous" "$bin" "$folder/setup-previous.exe" >"$folder/previous.log" 2>&1 ||
    { echo "installer: cannot make the previous version's installer:"; cat "$folder/previous.log"; exit 1; }
  rm -f "$folder/previous.log"
  printf '%s\n%s\n' "$version" "$previous" >"$folder/versions"
  head -c 3000000 /dev/urandom >"$folder/sample.bin"
  cp "$root/tests/support/loopback_server.py" "$here/guest_stage.py" "$here/host_driver.py" "$here/snapshot.py" "$folder/"
  cat >"$folder/run" <<'RUN'
#!/bin/bash
# In the guest: the stage in a prefix of its own, beside the other stages.
source "$VM32_SETUP"
# The last CPU: the suite's workers take the first ones.
guest_pin -1
export WINEPREFIX=/root/.wine-installer
guest_prefix_copy "$WINEPREFIX"
exec python3 guest_stage.py
RUN
  chmod +x "$folder/run"
  echo "installer: $(basename "$setup"), $(stat -c %s "$setup") bytes; the previous version $previous"
}

report() {
  local results=$folder rc log
  rc=$(cat "$results/run.rc" 2>/dev/null || echo "none")
  if [ -f "$results/installer.txt" ]; then
    sed 's/^/installer: /' "$results/installer.txt" >"$results/report.txt"
  else
    { echo "installer: the guest wrote no findings; the end of its log:"; tail -n 60 "$results/run.log" 2>/dev/null; } \
      >"$results/report.txt"
  fi
  cat "$results/report.txt"
  if [ "$rc" != 0 ]; then
    for log in "$results"/host-*.log; do
      [ -f "$log" ] && { echo "installer: ---- $(basename "$log") (last lines, cut)"; tail -n 12 "$log" | cut -c1-300; }
    done
    echo "installer: the stage ended with exit code $rc"
    exit 1
  fi
  if [ -n "${INSTALLER_REPORT:-}" ]; then
    mkdir -p "$(dirname "$INSTALLER_REPORT")" && cp "$results/report.txt" "$INSTALLER_REPORT"
  fi
}

case $mode in
  prepare) prepare ;;
  report) report ;;
  *) usage ;;
esac
