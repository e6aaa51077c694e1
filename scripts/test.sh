#!/bin/bash
# The test command: installs what is missing, builds both targets and passes
# every test (the 32-bit module's static checks included, and last the
# end-to-end tests: pages in headless Chromium through the bridge, the
# headless host and the plug-in). Run as root.
source "$(dirname "$0")/common.sh"

ensure_packages
build_all
ensure_bridge_packages
ensure_prefix
start_wineserver
say "running the tests"
cd "$BUILD/x86_64"
ctest --output-on-failure -j2 "$@"
