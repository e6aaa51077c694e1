#!/bin/bash
# build.sh OUTDIR -- builds the emulated 32-bit PC from Debian's packages:
# OUTDIR/vmlinuz, OUTDIR/initrd.img and OUTDIR/vm32.img (Debian 12 i386 with
# wine32 and a ready win32 Wine prefix using the null display driver).
# Needs root, apt's Debian mirror, qemu-system-x86, debootstrap, e2fsprogs, python3.
# The host never runs i386 code: the second debootstrap stage and the prefix are
# made inside the guest. About 8 minutes; the image holds about 4 GB (four spare
# Wine prefixes) on a sparse 8 GB disk with no blocks reserved, so the tests'
# free-space checks see real room.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$(readlink -f "${1:?usage: build.sh OUTDIR}")
mkdir -p "$out"
say() { printf 'vm32: %s\n' "$*"; }

# The mirror apt already uses (deb822 sources first, then the classic list).
mirror=${MIRROR:-$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
                   grep -v security | head -n 1)}
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 !~ /security/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
[ -n "$mirror" ] || { echo "vm32: no Debian mirror in apt's sources" >&2; exit 1; }

# The guest's kernel and busybox come from the i386 archive, so apt must know
# that architecture (it only adds package lists; nothing i386 is installed).
# The lists are updated every time: the kernel package is downloaded from them.
source "$here/../../../scripts/apt.sh"
source "$here/../progress.sh"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture to apt's package lists"
  dpkg --add-architecture i386
fi
say "updating apt's package lists"
apt_refresh linux-image-686:i386 busybox-static:i386 || exit 1

work=$out/work
rm -rf "$work"
mkdir -p "$work"
cd "$work"
started=$(date +%s)

say "first debootstrap stage (i386, minbase with wine32): downloading and unpacking the guest's packages"
# A mirror in the middle of a sync may fail a download: one more try after a pause.
first_stage() {
  rm -rf root
  progress_run "vm32: first stage" debootstrap.log 's/^I: \(Retrieving\|Validating\|Extracting\) \([^ ]*\).*/\1 \2/p' \
    debootstrap --foreign --arch=i386 --variant=minbase --include=wine32,wine,python3 bookworm root "$mirror"
}
if ! first_stage; then
  tail -n 5 debootstrap.log | sed 's/^/vm32:   /'
  say "the first stage failed; trying once more in 30 s"
  sleep 30
  first_stage || { tail -n 30 debootstrap.log >&2; exit 1; }
fi
rm root/proc && mkdir -m 555 root/proc        # debootstrap leaves a proc -> /proc link

say "kernel and initramfs"
kernel_package=$(apt-cache depends linux-image-686:i386 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
[ -n "$kernel_package" ] || { echo "vm32: no i386 kernel package found" >&2; exit 1; }
apt-get download "$kernel_package" busybox-static:i386 >download.log 2>&1 || { cat download.log >&2; exit 1; }
mkdir kernel busybox
dpkg-deb -x linux-image-*.deb kernel
dpkg-deb -x busybox-static*.deb busybox
version=$(ls kernel/lib/modules)
cp "kernel/boot/vmlinuz-$version" vmlinuz

# virtio_blk and ext4 are modules: put them and what they depend on into the initramfs.
find kernel/lib/modules -name '*.ko' >modules.txt
with_dependencies() {
  local file depends name
  file=$(grep "/$1.ko$" modules.txt | head -n 1)
  [ -n "$file" ] || file=$(grep "/${1//_/-}.ko$" modules.txt | head -n 1)
  [ -n "$file" ] || { echo "vm32: kernel module $1 not found" >&2; return 1; }
  depends=$(grep -a -o 'depends=[a-z0-9_,-]*' "$file" | head -n 1 | cut -d= -f2)
  for name in ${depends//,/ }; do with_dependencies "$name"; done
  echo "$file"
}
mkdir -p initramfs/{bin,dev,proc,sys,newroot,lib/modules}
cp busybox/bin/busybox initramfs/bin/
for m in crc32c_generic virtio_pci virtio_blk ext4; do with_dependencies "$m"; done | awk '!seen[$0]++' >load-order.txt
while read -r file; do
  cp "$file" initramfs/lib/modules/
  basename "$file" >>initramfs/modlist
done <load-order.txt
install -m 755 "$here/initramfs-init" initramfs/init
/usr/bin/python3 "$here/cpio.py" initramfs | gzip -1 >initrd.img

install -m 755 "$here/pid1.sh" root/vm32-init.sh
progress_run "vm32: writing the root disk" mke2fs.log 'd' mke2fs -q -t ext4 -m 0 -L vm32root -d root vm32.img 8G ||
  { cat mke2fs.log >&2; exit 1; }
rm -rf root kernel busybox initramfs ./*.deb
say "host part took $(( $(date +%s) - started )) s"

boot() { # boot NAME: runs NAME/job in the guest, keeping its changes to the root disk
  local t=$(date +%s) rc=0
  # (Package by package is too many lines: the newest every 10 s.)
  VM32_LABEL="vm32: guest step $1" VM32_PROGRESS_EVERY=10 "$here/../boot.sh" "$work" "$1" "$work/$1.result" --persist || rc=$?
  if [ "$rc" != 0 ]; then
    echo "vm32: guest step $1 failed (exit code $rc):" >&2
    tail -n 40 "$work/$1.result/job.log" >&2 2>/dev/null || true
    exit 1
  fi
  say "guest step $1 took $(( $(date +%s) - t )) s"
}

# Second stage inside the guest (INITRD=No: the initramfs is our own).
mkdir second-stage
cat >second-stage/job <<'JOB'
export INITRD=No DEBIAN_FRONTEND=noninteractive
progress() { echo "vm32-progress: $*" >/dev/console 2>/dev/null || true; }
# What debootstrap does is told on the console (/dev/console: an open of
# /dev/ttyS0 would wait for a carrier), each package unpacked and configured counted.
total=$(ls /var/cache/apt/archives/*.deb | wc -l)
unpacked=0 configured=0
{ /debootstrap/debootstrap --second-stage; echo $? >/tmp/second-stage.rc; } 2>&1 | while IFS= read -r line; do
  printf '%s\n' "$line"
  case $line in
    "I: Unpacking required packages..."|"I: Unpacking the base system..."|\
    "I: Configuring required packages..."|"I: Configuring the base system...")
                         progress "${line#I: }" ;;
    "I: Unpacking "*...) unpacked=$((unpacked + 1)); line=${line#I: Unpacking }
                         progress "unpacking ${line%...} ($unpacked of $total packages)" ;;
    "I: Configuring "*...) configured=$((configured + 1)); line=${line#I: Configuring }
                           progress "configuring ${line%...} ($configured of $total packages)" ;;
    "I: "*) progress "${line#I: }" ;;
  esac
done
[ "$(cat /tmp/second-stage.rc)" = 0 ] || { tail -n 30 /debootstrap/debootstrap.log 2>/dev/null; exit 1; }
progress "cleaning up"
ldconfig
apt-get clean
rm -rf /var/lib/apt/lists/* /usr/share/doc/* /usr/share/man/*
JOB
VM32_TIMEOUT=2400 boot second-stage

# The win32 prefix, baked once. The null display driver lets test programs make
# windows without X; the desktop process picks its driver when it starts, so
# the server is stopped after the setting and every later boot starts afresh.
# A crash would start winedbg, which reads the program's debug information for
# many minutes when emulated: the debugger named here ends at once instead, and
# the crashed program with it. Spare copies of the prefix are made here, once:
# each part of a boot takes one instead of copying the prefix itself.
mkdir prefix
cat >prefix/job <<'JOB'
export WINEPREFIX=/root/.wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
progress() { echo "vm32-progress: $*" >/dev/console 2>/dev/null || true; }
# One virtual CPU for the whole Wine session, as in the tests' boots (guest_pin
# in guest-setup.sh): spread over the emulated CPUs it pays for every server call
# with a wake-up across them.
taskset -p -c 0 $$ >/dev/null
progress "creating the win32 Wine prefix"
wineboot -i || exit 1
wineserver -w
progress "setting the null display driver"
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f || exit 1
progress "naming a debugger that ends at once"
debugger='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
wine reg add "$debugger" /v Debugger /d 'cmd.exe /c exit' /f || exit 1
wine reg add "$debugger" /v Auto /d 1 /f || exit 1
wineserver -k
wineserver -w
grep -q '^#arch=win32' /root/.wine/system.reg || { echo "the prefix is not win32"; exit 1; }
grep -q '"Graphics"="null"' /root/.wine/user.reg || { echo "the null display driver is not set"; exit 1; }
grep -q '"Debugger"="cmd.exe /c exit"' /root/.wine/system.reg || { echo "the debugger is not set"; exit 1; }
progress "spare copies of the prefix"
mkdir -p /root/.wine-spares
for n in 1 2 3 4; do cp -a /root/.wine /root/.wine-spares/$n || exit 1; done
du -sh /root/.wine
JOB
VM32_TIMEOUT=1200 boot prefix

mv -f vmlinuz initrd.img vm32.img "$out/"
cd "$out"
rm -rf "$work"
say "image ready in $(( $(date +%s) - started )) s: $out/vm32.img"
