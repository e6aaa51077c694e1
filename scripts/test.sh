#!/bin/bash
# The test command: installs what is missing, builds both targets and passes
# every test: the 32-bit module's static checks, the x86_64 tests under wine64,
# the i686 tests inside an emulated 32-bit PC (built on first use), and the
# end-to-end tests: pages in headless Chromium through the bridge, the headless
# host and the plug-in. Run as root.
source "$(dirname "$0")/common.sh"

ensure_packages
build_all
ensure_bridge_packages
ensure_vm32_image
ensure_prefix
start_wineserver
say "running the tests"
run_ctest -j2 "$@"
