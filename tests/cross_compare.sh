#!/bin/sh
# Runs every plug-in at every depth on the same images in the Linux build and,
# under wine, in a Windows build (x86-64 or 32-bit x86), and compares the
# samples they write: called as this project's host calls them, and as each
# real host's profile calls them (tests/dump.cpp describes the profiles).
#   cross_compare.sh LINUX-BUILD WINDOWS-BUILD
set -e
linux="$1"
windows="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for plugin in SpectraPlane SpectraPlaneInverse SpectraVolume SpectraRow SpectraDescreen; do
    for case in default:8 default:16 default:32 photoshop:8 photoshop:16 photoshop:32 \
        paintnet:8 paintnet:16 gimp:8 right:8 two:8 thread:8 thread:16 thread:32; do
        profile="${case%:*}" depth="${case#*:}"
        "$linux/tests/dump" run "$linux/plugins" $plugin $depth "$out/linux" $profile
        # wine itself now and then fails to start a program: one more try,
        # said aloud, before a failure counts.
        if ! wine "$windows/tests/dump.exe" run "$windows/plugins" $plugin $depth "$out/windows" \
            $profile </dev/null; then
            echo "(wine failed on $plugin at $depth bits, $profile; trying once more)"
            wine "$windows/tests/dump.exe" run "$windows/plugins" $plugin $depth "$out/windows" \
                $profile </dev/null
        fi
        printf '%s at %s bits, %s: ' $plugin $depth $profile
        "$linux/tests/dump" compare "$out/linux" "$out/windows" $depth
    done
done
