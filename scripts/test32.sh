#!/bin/bash
# The 32-bit stage alone, for quick checks: brings both build trees up to date
# (a no-op when nothing changed), builds the guest image if it is missing, and
# runs CTest's vm32 tests only: one boot of the emulated 32-bit PC that runs
# every i686 test program and the installer's checks. Run as root.
source "$(dirname "$0")/common.sh"

ensure_packages
build_all
ensure_vm32_image
ensure_prefix
# The comparison with the x86_64 list lists its tests, which may run Wine.
start_wineserver
say "running the i686 tests in the 32-bit guest"
run_ctest -R '^vm32\.' "$@"
