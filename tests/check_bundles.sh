#!/bin/sh
# Checks each macOS plug-in bundle as a user would install it:
#  - NAME.plugin/Contents/Info.plist says it is a Photoshop filter (package
#    type 8BFM), names NAME as its executable and carries the version of the
#    Windows files (1.0.6 for the planar plug-ins, 1.0.0 for the descreen,
#    1.0.3 for the others);
#  - Contents/MacOS/NAME is universal, x86_64 and arm64, each slice an
#    MH_BUNDLE that exports _ENTRYPOINT alone, imports from
#    /usr/lib/libSystem.B.dylib alone, and is signed (LC_CODE_SIGNATURE,
#    whose hashes tests/check_signature.py checks);
#  - Contents/Resources/NAME.rsrc holds the PiPL with both mi64 and ma64
#    naming ENTRYPOINT (the host library's reading of it is tested with the
#    bundles' runs).
#   check_bundles.sh LLVM-BIN-FOLDER PLUGIN.plugin...
set -e
bin="$1"
shift
fail() {
    echo "$*"
    exit 1
}
for bundle in "$@"; do
    name="$(basename "$bundle" .plugin)"
    plist="$bundle/Contents/Info.plist"
    code="$bundle/Contents/MacOS/$name"
    rsrc="$bundle/Contents/Resources/$name.rsrc"
    for f in "$plist" "$code" "$rsrc"; do [ -f "$f" ] || fail "$bundle: no $f"; done
    case "$name" in
    SpectraPlane | SpectraPlaneInverse) version=1.0.6 ;;
    SpectraDescreen) version=1.0.0 ;;
    *) version=1.0.3 ;;
    esac
    value() { sed -n "/<key>$1<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}" "$plist"; }
    [ "$(value CFBundlePackageType)" = 8BFM ] || fail "$plist: not a filter bundle"
    [ "$(value CFBundleExecutable)" = "$name" ] || fail "$plist: another executable"
    [ "$(value CFBundleShortVersionString)" = $version ] || fail "$plist: not version $version"
    [ "$(value CFBundleVersion)" = $version ] || fail "$plist: not version $version"
    archs="$("$bin/llvm-lipo" -archs "$code" | xargs)"
    [ "$archs" = "x86_64 arm64" ] || fail "$code: slices $archs"
    for arch in x86_64 arm64; do
        header="$("$bin/llvm-otool" -arch $arch -h "$code" | tail -1)"
        [ "$(echo "$header" | awk '{print $5}')" = 8 ] || fail "$code ($arch): not an MH_BUNDLE"
        exports="$("$bin/llvm-nm" --arch=$arch -gU "$code" | awk '{print $3}' | tr '\n' ' ')"
        [ "$exports" = "_ENTRYPOINT " ] || fail "$code ($arch) exports: $exports"
        libraries="$("$bin/llvm-otool" -arch $arch -L "$code" | sed 1d | awk '{print $1}' | tr '\n' ' ')"
        [ "$libraries" = "/usr/lib/libSystem.B.dylib " ] || fail "$code ($arch) imports: $libraries"
        "$bin/llvm-otool" -arch $arch -l "$code" | grep -q LC_CODE_SIGNATURE ||
            fail "$code ($arch): not signed"
    done
    list="$(od -An -c "$rsrc" | tr -d ' \n')"
    for key in PiPL mi64 ma64 '\nENTRYPOINT' 8BFM; do
        case "$list" in
        *"$key"*) ;;
        *) fail "$rsrc: no $key" ;;
        esac
    done
    echo "$bundle: universal, signed, exports _ENTRYPOINT, imports libSystem; version $version"
done
