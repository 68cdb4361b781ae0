#!/bin/sh
# Runs every plug-in at every depth on the same images in the Linux build and,
# under wine, in the Windows build, and compares the samples they write.
#   cross_compare.sh LINUX-BUILD WINDOWS-BUILD
set -e
linux="$1"
windows="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for plugin in SpectraPlane SpectraPlaneInverse SpectraVolume SpectraRow; do
    for depth in 8 16 32; do
        "$linux/tests/dump" run "$linux/plugins" $plugin $depth "$out/linux"
        # wine itself now and then fails to start a program: one more try,
        # said aloud, before a failure counts.
        if ! wine "$windows/tests/dump.exe" run "$windows/plugins" $plugin $depth "$out/windows" </dev/null; then
            echo "(wine failed on $plugin at $depth bits; trying once more)"
            wine "$windows/tests/dump.exe" run "$windows/plugins" $plugin $depth "$out/windows" </dev/null
        fi
        printf '%s at %s bits: ' $plugin $depth
        "$linux/tests/dump" compare "$out/linux" "$out/windows" $depth
    done
done
