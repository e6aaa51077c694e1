#!/bin/bash
# The test command: installs what is missing, builds both targets and passes
# every test (the 32-bit module's static checks included). Run as root.
source "$(dirname "$0")/common.sh"

ensure_packages
build_all
ensure_prefix
start_wineserver
say "running the tests"
cd "$BUILD/x86_64"
ctest --output-on-failure -j2 "$@"
