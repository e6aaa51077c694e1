#!/bin/bash
# Benchmark: one task's operations in the working engine at 100, 1,000 and
# 10,000 tasks (import of one, move, delete, a journal checkpoint), with the
# process's memory and the journal's size. Prints figures, never passes or
# fails on speed. Builds the 64-bit engine and runs it under Wine.
source "$(dirname "$0")/common.sh"

ensure_packages
say "building x86_64"
(cd "$ROOT" && build_preset x86_64)
ensure_prefix
start_wineserver
folder=$BUILD/bench/tasks
mkdir -p "$folder"
say "machine load: $(uptime)"
windows_folder=$(wine winepath -w "$folder" 2>/dev/null | tr -d '\r')
cd "$BUILD/x86_64/bin" && wine tasks_bench.exe "$windows_folder"
