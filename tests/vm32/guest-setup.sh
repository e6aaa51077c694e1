# Sourced by every part of a guest boot (copied onto the transfer disk; its
# path is in VM32_SETUP): the guest's network and Wine, as the test programs
# need them, and the progress lines the host shows while the guest runs.

# The same environment as the x86_64 runner (tests/run-under-wine.sh.in), but
# win32. The image's prefix (/root/.wine) is the template each part copies.
# Wine's menu builder (desktop entries for Linux menus, at each session start)
# has nothing to do here and costs half a second of emulated CPU each time.
export WINEPREFIX=${WINEPREFIX:-/root/.wine} WINEARCH=win32 WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" OANOCACHE=1 LC_ALL=C.UTF-8

# A line for the host to show while the guest runs (vm32/progress.sh). The
# console is opened as /dev/console: an open of /dev/ttyS0 waits for a carrier.
guest_progress() {
  echo "vm32-progress: $*" >/dev/console 2>/dev/null || true
}

# A Wine prefix of its own for one part of the boot: one of the image's spare
# copies of its prefix (a rename takes it: no two parts get the same one), or
# a copy made now when none is left.
guest_prefix_copy() {
  local spare
  rm -rf "$1"
  for spare in /root/.wine-spares/*; do
    mv -T "$spare" "$1" 2>/dev/null && return 0
  done
  cp -a /root/.wine "$1"
}

# Keeps the calling shell and everything it starts from now on to one virtual
# CPU: number N, counted round the guest's CPUs. A Wine session spread over
# several emulated CPUs pays for each server call with a wake-up across CPUs and
# for each change to a multi-threaded process's memory map with a stop of every
# CPU; each part of the boot keeps its session on a CPU of its own instead.
guest_pin() {
  local cpus
  cpus=$(getconf _NPROCESSORS_ONLN)   # all of them, whatever this shell may use now
  taskset -p -c "$(( ($1 % cpus + cpus) % cpus ))" "$BASHPID" >/dev/null ||
    echo "vm32: could not keep this part on CPU $1" >&2
}

# The guest boots without a network, with its loopback interface down and no
# hosts file: the tests' own file servers listen on 127.0.0.1 and are reached as
# localhost too (their certificate's name), and a name lookup must not wait for
# a name server that cannot answer. The root disk is discarded after the boot.
guest_network() {
  printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >/etc/hosts
  : >/etc/resolv.conf
  # SIOCGIFFLAGS / SIOCSIFFLAGS with IFF_UP.
  python3 - <<'PY' || echo "vm32: could not bring the loopback interface up" >&2
import fcntl, socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
flags = struct.unpack("16sH", fcntl.ioctl(s, 0x8913, struct.pack("16sH", b"lo", 0)))[1]
fcntl.ioctl(s, 0x8914, struct.pack("16sH", b"lo", flags | 1))
PY
}

# One server for the whole run: each program then starts in a fraction of the
# time. Wine closes the desktop a few seconds after its last process ends, and
# every program started after that waits for a new desktop process (many
# seconds when emulated): one process stays on the desktop.
guest_start_wine() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
  wine notepad </dev/null >/dev/null 2>&1 &
}
