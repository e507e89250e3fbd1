#!/bin/sh
# Runs the tool's tests that need a volume without hard links, as memory
# cards and USB sticks have: a small image on a loop device, formatted
# FAT and mounted by the kernel, or, where the kernel has no FAT driver,
# formatted exFAT and mounted by exfat-fuse. The test program runs the
# cases FatVolumeTest.* with the volume's folder in TVK_TEST_FAT_DIR.
# Exit status 77 (skipped, with the reason) where no such volume can be
# mounted; the volume and the loop device go at the end, whatever the
# outcome.
#   FatVolumeWin32.sh TEST_PROGRAM EMULATOR...
set -u
program=$1
shift
# the reason on one line after "Skipped", as GoogleTest gives it (and
# scripts/test.sh collects it)
skip() { echo "FatVolumeWin32.sh: Skipped"; echo "$*" | tr '\n' ' '; echo; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "mounting a volume needs root"

work=$(mktemp -d) || exit 1
loop=
cleanup() {
    if mountpoint -q "$work/volume"; then
        # a lazy unmount when something still holds it open (a lingering
        # wine server); the loop device then goes when it is let go
        umount "$work/volume" 2>/dev/null || umount -l "$work/volume"
    fi
    [ -z "$loop" ] || losetup -d "$loop"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
mkdir "$work/volume"
truncate -s 8M "$work/image"
loop=$(losetup --find --show "$work/image" 2>"$work/error") || {
    loop=
    skip "no loop device: $(cat "$work/error")"
}

if command -v mkfs.vfat >/dev/null && mkfs.vfat "$loop" >/dev/null 2>&1 &&
   mount -t vfat "$loop" "$work/volume" 2>"$work/error"; then
    kind=FAT
elif command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null &&
     mkfs.exfat "$loop" >/dev/null 2>&1 && mount.exfat-fuse "$loop" "$work/volume" 2>>"$work/error"; then
    kind=exFAT
else
    skip "neither FAT (dosfstools) nor exFAT (exfatprogs, exfat-fuse) could be mounted: $(cat "$work/error")"
fi
echo "a $kind volume on $loop"
TVK_TEST_FAT_DIR=$work/volume "$@" "$program" --gtest_also_run_disabled_tests --gtest_filter='FatVolumeTest.*'
