#!/bin/sh
# make-installer.sh VERSION BIN_DIR OUT_FILE
# Builds the installer from BIN_DIR's 32-bit halvo_plugin.dll and
# halvo_engine.dll. The build runs it with the version of resources/version.h;
# the installer tests also run it with a lower version (the "previous" build).
# The same DLLs give the same installer, byte for byte.
set -eu
[ $# -eq 3 ] || { echo "usage: $0 VERSION BIN_DIR OUT_FILE" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
version=$1
bin=$(cd "$2" && pwd)
out=$3
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
for dll in halvo_plugin.dll halvo_engine.dll; do
  [ -f "$bin/$dll" ] || { echo "make-installer: $bin/$dll is missing" >&2; exit 1; }
done
# -WX: a warning is a fault of the script. makensis reads the includes beside the script.
exec makensis -V2 -WX -DVERSION="$version" -DBIN_DIR="$bin" -DOUT_FILE="$out" "$here/halvo_setup.nsi"
