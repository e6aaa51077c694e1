#!/bin/bash
# Benchmark of the page path, from one run in headless Chromium: a script
# call, a call with a page function and the bridge's floor (median, 90th
# percentile, ratios), then event delivery at 200 messages a second for a
# minute (median, 99th percentile, out of order, lost). Prints figures, never
# passes or fails on speed. Arguments go to browser_bridge/bench/page_path.js
# (--rounds N, --events-per-second R, --event-seconds S).
source "$(dirname "$0")/common.sh"

ensure_packages
say "building x86_64"
(cd "$ROOT" && build_preset x86_64)
ensure_bridge_packages
say "machine load: $(uptime)"
cd "$ROOT/browser_bridge"
node bench/page_path.js "$@"
