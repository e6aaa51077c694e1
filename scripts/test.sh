#!/bin/bash
# The test command: installs what is missing, builds both targets and passes
# every test: the 32-bit module's static checks, the x86_64 tests under wine64,
# the i686 tests inside an emulated 32-bit PC (built on first use), and the
# end-to-end tests: pages in headless Chromium through the bridge, the headless
# host and the plug-in. Run as root.
source "$(dirname "$0")/common.sh"

ensure_packages
# The guest image (minutes of package installation inside the emulated PC on
# a fresh machine; nothing when it is up to date) is made while the compilers
# run, the bridge's packages install and the private prefix is made. Whatever
# ends the command meanwhile waits for it, so that nothing is left running.
ensure_vm32_image &
image=$!
on_exit "wait $image 2>/dev/null || true"
build_all || exit 1
ensure_bridge_packages
ensure_prefix
wait "$image"
start_wineserver
say "running the tests"
# No test runs twice: a test that fails is a finding.
run_ctest -j2 "$@"
