#!/bin/bash
# The guest's first process once the host's file system is its root
# (tests/real-kernel/init hands over here): mounts what a desktop session
# expects, runs one scenario of scenario.sh with its output in the results
# share, writes the scenario's exit status beside it and powers the guest off.
# The kernel's command line names the scenario, the build folder, whether
# to record the USB bus and, for the scenario wine, the Windows program
# (quillet_scenario, quillet_build, quillet_usbmon, quillet_windows_program).
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

power_off()
{
    sync
    echo o >/proc/sysrq-trigger
    # The first process must outlive the power-off, or the kernel panics.
    sleep 10
}

mkdir -p /results
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /results; then
    echo "guest: the results share cannot be mounted" >/dev/console
    power_off
fi

# Nothing is mounted over /tmp: the build may be a clone under it.
mount -t tmpfs tmpfs /run
mount -t configfs configfs /sys/kernel/config
mount -t debugfs debugfs /sys/kernel/debug
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
ln -s /proc/self/fd /dev/fd
ln -s fd/0 /dev/stdin
ln -s fd/1 /dev/stdout
ln -s fd/2 /dev/stderr

status=0
"$here/scenario.sh" "$quillet_scenario" "$quillet_build" /results "${quillet_usbmon:-0}" "${quillet_windows_program:-}" >/results/guest.log 2>&1 </dev/null || status=$?
echo "$status" >/results/exit-status
power_off
