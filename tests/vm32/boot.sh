#!/bin/bash
# boot.sh IMAGE_DIR JOB_DIR OUT_DIR [--persist]
# Boots the emulated 32-bit PC once: JOB_DIR becomes its second disk, the guest
# runs JOB_DIR/job there and powers off; then job.rc, job.log, the guest's out/
# folder and the serial console are copied into OUT_DIR. The root disk is used
# read-only (changes go to a discarded overlay) unless --persist is given.
# Exits with the job's exit code, 200 when the guest ran no job to its end, or
# 201 when its kernel never reached userspace.
# VM32_TIMEOUT: seconds before the PC is switched off (default 1800).
# While the guest runs, its progress lines ("vm32-progress: TEXT" on the serial
# console) are printed as "VM32_LABEL: TEXT (N s)", one at least every 30 s:
# each as it comes, or the newest every VM32_PROGRESS_EVERY s.
set -u
source "$(dirname "$0")/progress.sh"
[ $# -ge 3 ] || { echo "usage: $0 IMAGE_DIR JOB_DIR OUT_DIR [--persist]" >&2; exit 2; }
image=$(readlink -f "$1") job=$(readlink -f "$2") out=$3 persist=${4:-}
mkdir -p "$out" && out=$(readlink -f "$out")
for f in vmlinuz initrd.img vm32.img; do
  [ -f "$image/$f" ] || { echo "vm32: $image/$f is missing" >&2; exit 200; }
done

xfer=$out/xfer.img
qemu=
finish() {
  # qemu is never left running, whatever ended this script.
  if [ -n "$qemu" ]; then kill "$qemu" 2>/dev/null; wait "$qemu" 2>/dev/null; fi
  rm -f "$xfer"
}
trap finish EXIT
trap 'exit 143' INT TERM HUP

# Files go in and out through an ext4 disk built from a folder: no loop mount.
size=$(( $(du -sm "$job" | cut -f1) * 2 + 64 ))
mke2fs -q -F -t ext4 -d "$job" "$xfer" "${size}M" >"$out/mke2fs.log" 2>&1 || {
  echo "vm32: cannot make the transfer disk:" >&2; cat "$out/mke2fs.log" >&2; exit 200; }

if [ "$persist" = --persist ]; then
  root="file=$image/vm32.img,format=raw,if=virtio,cache=unsafe"
else
  # The overlay is thrown away when the boot ends: the guest's flushes need not
  # reach the host's disk (each would cost the host an fsync).
  root="file=$image/vm32.img,format=raw,if=virtio,snapshot=on,cache=unsafe"
fi
# -cpu max,-smap: with SMAP every Wine process dies under this QEMU. The
# snapshot overlay is a temporary file: keep it in OUT_DIR, not in /var/tmp.
# Three virtual CPUs (multi-threaded emulation) for the boot's parallel parts:
# while the host's own tests run beside the guest, its share of the two cores
# follows its number of busy threads. VM32_CPUS overrides.
TMPDIR=$out timeout --foreground -k 10 "${VM32_TIMEOUT:-1800}" qemu-system-i386 \
  -machine pc -accel tcg,thread=multi -cpu max,-smap -m 2048 -smp "${VM32_CPUS:-3}" \
  -display none -vga none -monitor none -serial stdio -no-reboot -net none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "console=ttyS0 quiet loglevel=3 mitigations=off panic=1 cryptomgr.notests init=/vm32-init.sh" \
  -drive "$root" -drive "file=$xfer,format=raw,if=virtio,cache=unsafe" \
  </dev/null >"$out/console.log" 2>&1 &
qemu=$!
PROGRESS_EVERY=${VM32_PROGRESS_EVERY:-0} \
  progress_follow "$qemu" "${VM32_LABEL:-vm32: guest}" "$out/console.log" 's/^vm32-progress: \(.*\)/\1/p' &
follower=$!
# A kernel that hangs before its userspace (seen once: a soft lockup in its
# start-up under emulation) would hold the boot until VM32_TIMEOUT: it is
# switched off after VM32_START_LIMIT s instead, and said so (exit code 201).
start_limit=${VM32_START_LIMIT:-300}
rm -f "$out/start-hung"
(
  for ((waited = 0; waited < start_limit; waited += 2)); do
    grep -q "vm32: userspace up" "$out/console.log" 2>/dev/null && exit 0
    kill -0 "$qemu" 2>/dev/null || exit 0
    sleep 2
  done
  touch "$out/start-hung"
  kill "$qemu" 2>/dev/null
) &
starter=$!
wait "$qemu"
qemu_rc=$?
kill "$starter" 2>/dev/null
wait "$starter" 2>/dev/null
qemu=
kill "$follower" 2>/dev/null
wait "$follower" 2>/dev/null

rm -rf "$out/out" "$out/job.rc" "$out/job.log"
debugfs -R "dump /job.rc $out/job.rc" "$xfer" >/dev/null 2>&1
debugfs -R "dump /job.log $out/job.log" "$xfer" >/dev/null 2>&1
debugfs -R "rdump /out $out" "$xfer" >/dev/null 2>&1
if [ -f "$out/start-hung" ]; then
  echo "vm32: the guest's kernel did not reach its userspace within $start_limit s (no test ran); its console ends:" >&2
  tail -n 10 "$out/console.log" >&2
  exit 201
fi
if [ ! -s "$out/job.rc" ]; then
  if [ "$qemu_rc" = 124 ] || [ "$qemu_rc" = 137 ]; then
    echo "vm32: the guest did not finish within ${VM32_TIMEOUT:-1800} s and was switched off" >&2
  else
    echo "vm32: the guest ran no job to its end (qemu exit code $qemu_rc)" >&2
  fi
  echo "vm32: last lines of its console:" >&2
  tail -n 40 "$out/console.log" >&2
  exit 200
fi
exit "$(cat "$out/job.rc")"
