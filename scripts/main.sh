#!/bin/bash
# The main job: installs what is missing (Wine, Chromium, Node packages),
# builds both targets, registers the working engine in a private Wine prefix,
# and has the demo page in headless Chromium download a sample file through
# the plug-in and the engine (browser_bridge/main_job.js). It prints the
# page's messages and a progress line, checks the file's checksum, writes
# screenshots under build/main/, stops everything and exits 0.
#   scripts/main.sh --keep     keeps it running and prints the page's address
source "$(dirname "$0")/common.sh"

ensure_packages
build_all
ensure_bridge_packages
say "the shipped 32-bit module: $BUILD/i686/bin/halvo_plugin.dll"
cd "$ROOT/browser_bridge"
exec node main_job.js --out "$BUILD/main" "$@"
