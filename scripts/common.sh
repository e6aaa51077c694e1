# Shared by the project's commands: packages, builds and the private Wine prefix.
# Sourced, not run. Everything lives in the build tree; nothing goes to $HOME.

set -eu

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build
export WINEPREFIX=$BUILD/x86_64/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

say() { printf '==> %s\n' "$*"; }
source "$ROOT/scripts/apt.sh"

# Installs the Debian packages that are missing (as root; a fresh machine has none of them).
ensure_packages() {
  local wanted=(cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 python3
                python3-pefile binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 chromium openssl
                qemu-system-x86 debootstrap e2fsprogs nsis "$@")
  # Node.js for the browser bridge: Debian's, unless a node with npm is there already
  # (another vendor's nodejs bundles npm, and Debian's npm would fight it).
  if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    wanted+=(nodejs npm)
  fi
  local missing=()
  for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  apt_install "${missing[@]}"
}

# Configures (once) and builds one preset: i686 or x86_64.
build_preset() {
  local preset=$1
  [ -f "$BUILD/$preset/build.ninja" ] || cmake --preset "$preset" -S "$ROOT" >/dev/null
  cmake --build --preset "$preset" -- -k 0 | grep -v '^\[' || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || return 1
}

build_all() {
  say "building i686 and x86_64"
  (cd "$ROOT" && build_preset i686 && build_preset x86_64)
}

# The private prefix: created once, with Wine's null display driver so that
# windows work without X (it must be set before Wine's desktop process starts).
ensure_prefix() {
  if [ ! -f "$WINEPREFIX/.halvo-ready" ]; then
    say "creating the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine wineboot -i </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.halvo-ready"
  fi
}

# Commands run when the script ends, however it ends (TERM and INT included):
# nothing the command started is left running after it.
exit_hooks=()
on_exit() {
  exit_hooks+=("$1")
  trap run_exit_hooks EXIT
}
run_exit_hooks() {
  local hook
  for hook in "${exit_hooks[@]}"; do eval "$hook"; done
}

# One persistent wineserver for the whole run (each test program then starts in
# a fraction of a second). Its streams are detached, or CTest would wait on them.
# A server that goes away while a program starts ends that program before its
# first line, so the old one is gone before the new one starts. Wine closes the
# desktop a few seconds after its last program ends, and a program started
# while it closes waits for a new one: one process stays on the desktop.
start_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
  wine notepad </dev/null >/dev/null 2>&1 &
  on_exit stop_wineserver
}

stop_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# The bridge's npm packages, exactly as its lock file pins them.
ensure_bridge_packages() {
  local bridge=$ROOT/browser_bridge
  if [ ! -f "$bridge/node_modules/.package-lock.json" ] ||
     [ "$bridge/package-lock.json" -nt "$bridge/node_modules/.package-lock.json" ]; then
    say "installing the bridge's npm packages"
    (cd "$bridge" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  fi
}

# The emulated 32-bit PC that runs the i686 tests: built once into build/vm32
# and rebuilt only when its recipe (tests/vm32/image/) changes.
ensure_vm32_image() {
  "$ROOT/tests/vm32/ensure-image.sh" "$BUILD/vm32"
}

# Runs CTest in the x86_64 tree with the given arguments. CTest shows a test's
# output only when it ends, so the guest's progress lines (vm32.guest appends
# them to a file) are shown from that file as they come. The guest stages'
# reports (the i686 suite's per-program counts and comparison with the x86_64
# list, the installer's findings) are printed just before CTest's summary, so
# the output still ends with that summary.
run_ctest() {
  local reports=("$BUILD/x86_64/vm32/report.txt" "$BUILD/x86_64/vm32/installer-report.txt") line shown=0 report
  local progress=$BUILD/x86_64/vm32/progress.log follower
  # What the Wine runner (tests/run-under-wine.sh.in) noted about programs Wine
  # did not start, or whose end glibc failed after every test passed.
  export HALVO_WINE_NOTES=$BUILD/x86_64/wine-notes.txt
  rm -f "${reports[@]}" "$HALVO_WINE_NOTES"
  mkdir -p "$(dirname "$progress")" && : >"$progress"
  tail -n +1 -F "$progress" 2>/dev/null &
  follower=$!
  on_exit "kill $follower 2>/dev/null || true"
  cd "$BUILD/x86_64"
  ctest --output-on-failure "$@" 2>&1 | while IFS= read -r line; do
    if [ $shown = 0 ] && [[ $line =~ ^[0-9]+%\ tests\ passed ]]; then
      shown=1
      kill "$follower" 2>/dev/null || true
      for report in "${reports[@]}"; do
        if [ -f "$report" ]; then echo; cat "$report"; fi
      done
      if [ -s "$HALVO_WINE_NOTES" ]; then
        echo
        echo "Ends that were not the programs' (Wine's, glibc's, the emulated PC's kernel; tests/run-under-wine.sh.in, tests/vm32/run-guest.sh):"
        sed 's/^/  /' "$HALVO_WINE_NOTES"
      fi
      echo
    fi
    printf '%s\n' "$line"
  done
  local rc=${PIPESTATUS[0]}
  kill "$follower" 2>/dev/null || true
  wait "$follower" 2>/dev/null || true
  return "$rc"
}
