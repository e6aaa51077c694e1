#!/bin/bash
# ensure-image.sh OUTDIR -- builds the guest image into OUTDIR unless the one
# there was built from the same recipe (the files in image/, hashed).
# Holds OUTDIR/.lock while it works, so that no run boots a half-built image.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: ensure-image.sh OUTDIR}
mkdir -p "$out"
out=$(readlink -f "$out")

recipe=$(cd "$here/image" && find . -type f | LC_ALL=C sort | xargs sha256sum | sha256sum | cut -d' ' -f1)
exec 9>"$out/.lock"
flock 9
if [ -f "$out/recipe.sha256" ] && [ "$(cat "$out/recipe.sha256")" = "$recipe" ] &&
   [ -f "$out/vmlinuz" ] && [ -f "$out/initrd.img" ] && [ -f "$out/vm32.img" ]; then
  echo "vm32: the guest image is up to date ($out)"
  exit 0
fi
rm -f "$out/recipe.sha256"
echo "vm32: building the guest image in $out (about 8 minutes)"
"$here/image/build.sh" "$out"
echo "$recipe" >"$out/recipe.sha256"
