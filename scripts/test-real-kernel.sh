#!/usr/bin/env bash
# Runs the built updater on the real Linux MIDI stack, in an emulated machine:
# Debian's own kernel with its USB MIDI driver, a USB MIDI gadget on the
# kernel's emulated USB bus as the pedal, the system's alsa-lib, and a real
# unplug. The guest's root is this machine's file system (read-only over 9p,
# under an overlay), so it runs the program and tools of this build.
#
#   scripts/test-real-kernel.sh [--usbmon] [BUILD_DIR] [SCENARIO...]
#
# BUILD_DIR is build/debug unless named. The scenarios (the first four unless
# named), each in a guest of its own, driven as a person would
# (tests/real-kernel/scenario.sh):
#
#   whole     a whole upload: the success text and the pedal's bytes identical
#             to the image; the sequencer clients and ports started and ended
#             meanwhile are counted from the system's announcements
#   unplug    the pedal unplugs itself after 300 messages: the status says so
#             with the count the pedal took; then it is plugged in again, chosen
#             again and a second whole upload goes through
#   held      another program holds the pedal's raw MIDI output: choosing the
#             pedal says it could not be opened and update stays red
#   restart   the pedal restarts right after the last message: the upload is
#             still complete
#   wine      the Windows program (scripts/build-windows.sh) under Wine, through
#             Wine's own MIDI driver to the real sequencer and the same pedal:
#             a whole upload, byte for byte
#
# Results, screenshots, captures and logs go to BUILD_DIR/real-kernel/SCENARIO/;
# the kernel, downloaded once, is kept in BUILD_DIR/real-kernel/kernel/. With
# --usbmon each guest also records the USB bus (usbmon.txt). Prints a table of
# the scenarios and exits non-zero if any failed, or if the emulator cannot
# start or a guest never reports.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

say()  { echo "test-real-kernel: $*"; }
fail() { say "FAILED: $*" >&2; exit 1; }

source scripts/desktop-session.sh

usbmon=0
if [[ "${1:-}" == --usbmon ]]; then
    usbmon=1
    shift
fi

build="build/debug"
if [[ $# -gt 0 && -d "$1" ]]; then
    build="$1"
    shift
fi
build="$(cd "$build" && pwd)"

allScenarios=(whole unplug held restart wine)
scenarios=("$@")
[[ ${#scenarios[@]} -gt 0 ]] || scenarios=(whole unplug held restart)
for s in "${scenarios[@]}"; do
    [[ " ${allScenarios[*]} " == *" $s "* ]] || fail "no scenario \"$s\" (there are: ${allScenarios[*]})"
done

# The emulator and the initramfs's tools here; the rest runs in the guest from
# this machine's file system, so it must be installed here too.
scripts/require-packages.sh "The real-kernel bench" \
    qemu-system-x86 busybox-static kmod \
    xvfb xauth xdotool x11-utils imagemagick tesseract-ocr tesseract-ocr-eng python3

program="$build/QuilletLooperSwUpdater_artefacts/Debug/QuilletLooperSwUpdater"
for f in "$program" "$build/tools/usb-pedal/quillet-usb-pedal" \
         "$build/tools/capture-check/quillet-capture-check" "$build/firmware/development-image.syx"; do
    [[ -e "$f" ]] || fail "missing $f: build the debug preset first"
done

windowsProgram=""
if [[ " ${scenarios[*]} " == *" wine "* ]]; then
    scripts/require-packages.sh "The real-kernel bench's Windows program" wine64
    windowsProgram="$root/build/windows/QuilletLooperSwUpdater_artefacts/Release/QuilletLooperSwUpdater.exe"
    [[ -f "$windowsProgram" ]] || fail "missing $windowsProgram: run scripts/build-windows.sh first"
fi

out="$build/real-kernel"
mkdir -p "$out"

#==============================================================================
# The kernel: the one Debian's linux-image-amd64 depends on now, unpacked (never
# installed) into the cache, with its modules' dependency lists.
kernel_package()
{
    apt-cache depends linux-image-amd64 2>/dev/null \
        | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

package="$(kernel_package)"
if [[ -z "$package" && $(id -u) -eq 0 ]]; then
    apt-get update -qq
    package="$(kernel_package)"
fi
[[ -n "$package" ]] || fail "apt-cache does not know linux-image-amd64: run apt-get update as root"

version="${package#linux-image-}"
kernel="$out/kernel/$version"

if [[ ! -e "$kernel/ready" ]]; then
    say "fetching $package"
    rm -rf "$kernel"
    mkdir -p "$kernel/download"
    ( cd "$kernel/download" && apt-get download -q "$package" ) || fail "apt-get download $package failed"
    dpkg-deb -x "$kernel"/download/*.deb "$kernel/root"
    rm -rf "$kernel/download"
    depmod -b "$kernel/root" "$version"
    touch "$kernel/ready"
fi

vmlinuz="$kernel/root/boot/vmlinuz-$version"
[[ -f "$vmlinuz" ]] || fail "no kernel image in $kernel"

#==============================================================================
# The initramfs: busybox, the modules in their load order and the init script.
# The modules: virtio and 9p for the host's file system, overlayfs for a
# writable root, the emulated USB controller with its gadget side
# (dummy_hcd, configfs, the MIDI function), the USB audio driver, the
# sequencer's raw MIDI bridge and the USB monitor.
modules=(virtio_pci 9pnet_virtio 9p overlay configfs dummy_hcd libcomposite usb_f_midi
         snd-usb-audio snd-seq-midi usbmon)

initramfs="$out/initramfs"
rm -rf "$initramfs"
mkdir -p "$initramfs"/{bin,dev,proc,sys,lib/modules}
cp /bin/busybox "$initramfs/bin/busybox"
cp tests/real-kernel/init "$initramfs/init"

for m in "${modules[@]}"; do
    modprobe -d "$kernel/root" -S "$version" --show-depends "$m" \
        || fail "the kernel $version has no module $m"
done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' > "$initramfs/modules.paths"

while read -r path; do
    cp "$path" "$initramfs/lib/modules/"
    basename "$path"
done < "$initramfs/modules.paths" > "$initramfs/modules.list"
rm "$initramfs/modules.paths"

( cd "$initramfs" && find . | busybox cpio -o -H newc 2>/dev/null ) | gzip -1 > "$out/initrd.gz"
rm -rf "$initramfs"

#==============================================================================
# The Wine prefix, made here: made in the guest, on the emulated processor, it
# takes minutes. The guest writes to it only in its own memory (the overlay).
if [[ -n "$windowsProgram" ]]; then
    say "making the Wine prefix"
    rm -rf "$out/wine-prefix"
    WINEPREFIX="$out/wine-prefix" WINEDEBUG=-all \
        xvfb_run bash -c 'source scripts/desktop-session.sh && make_wine_prefix' >"$out/wine-prefix.log" 2>&1 \
        || fail "the Wine prefix could not be made (see $out/wine-prefix.log)"
fi

#==============================================================================
# One guest per scenario: it writes its findings into the results share and
# powers off. Its time limit covers a scenario's slowest run with room to
# spare; a guest that does not power off by then has hung.
guestSeconds=600

run_guest()
{
    local scenario="$1" results="$out/$1" qemuPid started waited=0
    rm -rf "$results"
    mkdir -p "$results"

    # Wine's processes die on a page fault on their way back from a system
    # call when the emulated processor has SMAP and SMEP; without them they run.
    local cpu=max windows=""
    [[ "$scenario" != wine ]] || { cpu=max,-smap,-smep; windows=" quillet_windows_program=$windowsProgram"; }

    say "booting the guest for \"$scenario\""
    started=$SECONDS
    qemu-system-x86_64 -machine q35 -accel tcg -cpu "$cpu" -smp 1 -m 2048 \
        -display none -monitor none -serial "file:$results/console.log" -no-reboot \
        -kernel "$vmlinuz" -initrd "$out/initrd.gz" \
        -append "console=ttyS0 quiet panic=-1 quillet_guest=$root/tests/real-kernel/guest.sh quillet_scenario=$scenario quillet_build=$build quillet_usbmon=$usbmon$windows" \
        -virtfs "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap" \
        -virtfs "local,path=$results,mount_tag=results,security_model=none" \
        </dev/null >"$results/qemu.log" 2>&1 &
    qemuPid=$!

    while kill -0 "$qemuPid" 2>/dev/null; do
        if (( SECONDS - started > guestSeconds )); then
            kill "$qemuPid"
            wait "$qemuPid" || true
            say "the guest for \"$scenario\" did not power off within $guestSeconds s; its console:" >&2
            tail -n 20 "$results/console.log" >&2
            return 1
        fi
        sleep 1
    done

    wait "$qemuPid" || waited=$?
    say "the guest for \"$scenario\" ran $(( SECONDS - started )) s"

    if [[ ! -s "$results/exit-status" ]]; then
        say "the guest for \"$scenario\" never reported (emulator status $waited); the emulator said:" >&2
        cat "$results/qemu.log" >&2
        say "its console:" >&2
        tail -n 20 "$results/console.log" >&2
        return 1
    fi

    sed 's/^/    /' "$results/guest.log"
    [[ "$(cat "$results/exit-status")" == 0 ]]
}

failed=()
for scenario in "${scenarios[@]}"; do
    run_guest "$scenario" || failed+=("$scenario")
done

#==============================================================================
# Each scenario's rows (report.tsv: row, outcome, status text, bytes, span,
# close time) and figures (figures.txt).
echo
printf '%-10s %-8s %-9s %-92s %-44s %8s %8s\n' scenario row outcome "status text read off the screen" "bytes at the pedal" span close
for scenario in "${scenarios[@]}"; do
    report="$out/$scenario/report.tsv"
    if [[ ! -s "$report" ]]; then
        printf '%-10s %-8s %-9s %s\n' "$scenario" - "NO REPORT" "(see $out/$scenario/)"
        continue
    fi
    while IFS=$'\t' read -r row outcome text bytes span close; do
        printf '%-10s %-8s %-9s %-92s %-44s %8s %8s\n' "$scenario" "$row" "$outcome" "$text" "$bytes" "$span" "$close"
    done < "$report"
done

for scenario in "${scenarios[@]}"; do
    [[ ! -s "$out/$scenario/figures.txt" ]] || sed "s/^/$scenario: /" "$out/$scenario/figures.txt"
done

if [[ ${#failed[@]} -gt 0 ]]; then
    fail "scenarios failed: ${failed[*]} (screenshots, captures and logs in $out/)"
fi
say "all scenarios passed"
