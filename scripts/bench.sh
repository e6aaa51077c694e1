#!/bin/bash
# Benchmarks of the plug-in: print figures, never pass or fail on speed.
source "$(dirname "$0")/common.sh"

ensure_packages
build_all
ensure_prefix
start_wineserver
say "event formatting and the task store"
wine "$BUILD/x86_64/bin/event_bench.exe"
