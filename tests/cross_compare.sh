#!/bin/sh
# Runs every plug-in at every depth on the same images in the Linux build and
# in another build: a Windows build under wine, or the macOS bundles through
# a test build's loader (natively, or under qemu-user). Compares the samples
# they write: called as this project's host calls them, and as each real
# host's profile calls them (tests/dump.cpp describes the profiles).
#   cross_compare.sh LINUX-BUILD RUNNER DUMP PLUGIN-DIR
# RUNNER is "" or the emulator, split into words ("wine", "qemu-aarch64-static
# -L /usr/aarch64-linux-gnu"); DUMP the other build's dump program.
set -e
linux="$1"
run="$2"
dump="$3"
plugins="$4"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for plugin in SpectraPlane SpectraPlaneInverse SpectraVolume SpectraRow SpectraDescreen; do
    for case in default:8 default:16 default:32 photoshop:8 photoshop:16 photoshop:32 \
        paintnet:8 paintnet:16 gimp:8 right:8 two:8 thread:8 thread:16 thread:32; do
        profile="${case%:*}" depth="${case#*:}"
        "$linux/tests/dump" run "$linux/plugins" $plugin $depth "$out/linux" $profile
        # wine itself now and then fails to start a program: one more try,
        # said aloud, before a failure counts.
        if ! $run "$dump" run "$plugins" $plugin $depth "$out/other" $profile </dev/null; then
            echo "(the run failed on $plugin at $depth bits, $profile; trying once more)"
            $run "$dump" run "$plugins" $plugin $depth "$out/other" $profile </dev/null
        fi
        printf '%s at %s bits, %s: ' $plugin $depth $profile
        "$linux/tests/dump" compare "$out/linux" "$out/other" $depth
    done
done
