# apt for the project's commands and the guest image's recipe. Sourced, not run.
#
# A mirror caught in the middle of a sync serves one index of the wrong size
# ("File has unexpected size ... Mirror sync in progress?") and `apt-get
# update` exits 100, although the other lists were updated and every package
# we need may still be there. So the update is tried a few times with a pause,
# and what counts in the end is whether each package we need has an install
# candidate: only a package that cannot be found fails the command, by name.

APT_TRIES=${APT_TRIES:-3}
APT_PAUSE=${APT_PAUSE:-15}   # seconds; the n-th retry waits n times as long
APT_LOCK=(-o DPkg::Lock::Timeout=900)   # another apt run may hold the lock a while

apt_say() { printf 'apt: %s\n' "$*"; }

# Updates the package lists; answers 1 when the last try still failed (the
# lists then hold what the failed tries and earlier updates left).
apt_update() {
  local try log reason
  log=$(mktemp)
  for ((try = 1; ; try++)); do
    if apt-get "${APT_LOCK[@]}" update -qq >"$log" 2>&1; then
      [ "$try" = 1 ] || apt_say "the package lists were updated on try $try"
      rm -f "$log"
      return 0
    fi
    reason=$(grep -m 1 '^E:' "$log" || tail -n 1 "$log")
    if [ "$try" -ge "$APT_TRIES" ]; then
      apt_say "updating the package lists failed $try times; going on with the lists apt has. The last errors:"
      grep '^[EW]:' "$log" | cut -c1-300 | sed 's/^/apt:   /'
      rm -f "$log"
      return 1
    fi
    apt_say "updating the package lists failed (try $try of $APT_TRIES): ${reason:0:300}"
    apt_say "trying again in $((APT_PAUSE * try)) s"
    sleep "$((APT_PAUSE * try))"
  done
}

# Answers 0 when every PACKAGE (name or name:arch) has an install candidate;
# otherwise names each one that has none and answers 1.
apt_candidates() {
  local package candidate missing=()
  for package; do
    candidate=$(apt-cache policy "$package" 2>/dev/null | sed -n 's/^ *Candidate: *//p' | head -n 1)
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then missing+=("$package"); fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  apt_say "no install candidate in apt's package lists for: ${missing[*]}" >&2
  return 1
}

# Updates the lists (with retries) and fails only when a PACKAGE cannot be found.
apt_refresh() {
  apt_update || true
  apt_candidates "$@"
}

# Installs PACKAGEs (without recommends) after refreshing the lists. A download
# that fails half-way is tried once more after a pause; apt keeps what it got.
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  apt_refresh "$@" || return 1
  apt-get "${APT_LOCK[@]}" install -y -qq --no-install-recommends "$@" >/dev/null && return 0
  apt_say "installing failed; trying once more in $APT_PAUSE s"
  sleep "$APT_PAUSE"
  apt-get "${APT_LOCK[@]}" install -y -qq --no-install-recommends "$@" >/dev/null
}
