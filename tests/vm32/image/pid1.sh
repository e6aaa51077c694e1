#!/bin/sh
# PID 1 of the guest: mounts what programs expect, runs /xfer/job from the
# second disk, records its exit code and log there, and powers off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb USER=root
mnt() {
  mountpoint -q /proc || mount -t proc proc /proc
  mountpoint -q /sys || mount -t sysfs sys /sys
  mountpoint -q /dev || mount -t devtmpfs dev /dev
  mkdir -p /dev/pts /dev/shm
  mountpoint -q /dev/pts || mount -t devpts devpts /dev/pts
  mountpoint -q /dev/shm || mount -t tmpfs tmpfs /dev/shm
}
mnt
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
hostname vm32
echo "vm32: userspace up at $(cut -d' ' -f1 /proc/uptime) s"
mkdir -p /xfer
i=0
while [ ! -b /dev/vdb ] && [ $i -lt 40 ]; do sleep 0.05; i=$((i+1)); done
if [ -b /dev/vdb ] && mount /dev/vdb /xfer; then
  if [ -f /xfer/job ]; then
    cd /xfer
    sh /xfer/job > /xfer/job.log 2>&1 < /dev/null
    echo $? > /xfer/job.rc
    mnt
    echo "vm32: job exit code $(cat /xfer/job.rc) at $(cut -d' ' -f1 /proc/uptime) s"
    cd /
  fi
  sync
  umount /xfer
else
  echo "vm32: no second disk; nothing to do"
fi
sync
mount -o remount,ro / 2>/dev/null
sync
echo o > /proc/sysrq-trigger
sleep 10
