#!/bin/sh
# gimp3_test.sh GIMP-CONSOLE BUILD-DIR IMAGE-TOOL: the GIMP 3 bridge in a
# real GIMP 3, the cases of the GIMP 2.10 test. The bridge and the plug-ins
# are installed into a temporary profile; one gimp-console batch
# (gimp3_test.py) runs every case and saves each layer's pixels before and
# after, which must be exactly what `spectra run` makes of the same picture.
# Then one undo in GIMP's window under Xvfb.
set -e
gimp="$1" build="$2" tool="$3"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
group=""
xvfb=""
trap '[ -n "$group" ] && kill -KILL "-$group" 2>/dev/null; [ -n "$xvfb" ] && kill -KILL "-$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
export GIMP3_DIRECTORY="$work/profile" SPECTRA_WORK="$work"
mkdir -p "$HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME" "$work/in" "$work/out" "$GIMP3_DIRECTORY"
SPECTRA_BUILD="$build" "$source_dir/scripts/install-gimp" >/dev/null
cp "$build/tests/plugins/FailingFilter.8bf" "$GIMP3_DIRECTORY/plug-ins/spectra-gimp/"
"$tool" make "$work/in"

# name, picture, precision (0: as loaded), what is done first, procedure
for input in rgb8.png rgba8.png rgb16.png rgba16.png float.tif; do
    for p in plane plane-inverse volume row; do
        echo "${input%.*}-$p $input 0 none plug-in-spectra-$p"
    done
done >"$work/cases"
cat >>"$work/cases" <<CASES
linear16-plane rgb16.png U16_LINEAR none plug-in-spectra-plane
linear8-volume rgba8.png U8_LINEAR none plug-in-spectra-volume
linearfloat-plane-inverse float.tif FLOAT_LINEAR none plug-in-spectra-plane-inverse
selection-plane rgb8.png 0 select plug-in-spectra-plane
offset-row rgba8.png 0 offset plug-in-spectra-row
refused-grey-plane rgb8.png 0 grey plug-in-spectra-plane
refused-half-row rgb16.png HALF_NON_LINEAR none plug-in-spectra-row
refused-failing rgb16.png 0 none plug-in-failing-filter
refused-two-layers rgb8.png 0 two plug-in-spectra-plane
CASES

start=$(date +%s)
# in a process group of its own, ended whole: GIMP's plug-ins too
setsid "$gimp" -i -d -f --quit --batch-interpreter=python-fu-eval \
    -b "exec(open('$source_dir/tests/gimp3_test.py').read())" >"$work/gimp.log" 2>&1 </dev/null &
group=$!
wait $group || true
kill -KILL "-$group" 2>/dev/null || true
group=""
echo "gimp-console ran $(wc -l <"$work/cases") cases in $(($(date +%s) - start)) s"

set +e # from here on each check counts its own failure
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
log="$work/log.txt"
grep -q '^END$' "$log" || fail "the batch did not end"
while read -r name input precision prep procedure; do
    case "$name" in refused-*)
        grep -q "^REFUSED $name unchanged" "$log" || fail "$name: not refused, or the layer changed"
        continue
        ;;
    esac
    set -- $(grep "^DONE $name " "$log")
    if [ $# -ne 6 ]; then
        fail "$name: did not run ($(grep " $name " "$log"))"
        continue
    fi
    rows=$3 columns=$4 planes=$5 depth=$6
    ext=png
    [ "$depth" = 32 ] && ext=tif
    plugin=$(echo "$procedure" | sed 's/plug-in-spectra-//; s/plane-inverse/SpectraPlaneInverse/;
        s/^plane$/SpectraPlane/; s/volume/SpectraVolume/; s/row/SpectraRow/')
    out="$work/out/$name"
    if ! "$tool" raw "$out-in.raw" $rows $columns $planes $depth "$out-in.$ext" ||
        ! "$tool" raw "$out.raw" $rows $columns $planes $depth "$out.$ext"; then
        fail "$name: the pixels could not be written as a file"
    elif ! "$build/spectra" run "$plugin" "$out-in.$ext" "$out-expect.$ext"; then
        fail "$name: spectra run failed"
    elif "$tool" same "$out-expect.$ext" "$out.$ext"; then
        echo "same samples: $name"
    else
        fail "$name: GIMP's layer differs from spectra run"
    fi
    if [ "$prep" = select ]; then
        grep -q "^SELECTION-KEPT $name\$" "$log" || fail "$name: the selection changed"
    fi
done <"$work/cases"

for message in "SpectraPlane works on RGB layers only; convert the image to RGB first" \
    "SpectraRow works on 8 and 16-bit integer and 32-bit float layers" \
    "FailingFilter failed: not enough memory for this layer (memFullErr, -108)" \
    "SpectraPlane works on one layer at a time; select just one layer"; do
    grep -qF "$message" "$log" || fail "no message: $message"
done

# What GIMP registered: the label, RGB images, the category's menu and the
# standard arguments. (Which selections the menu item is sensitive to, the
# procedure keeps to itself: GIMP's database does not say.)
for p in SpectraPlane:plane SpectraPlaneInverse:plane-inverse SpectraVolume:volume SpectraRow:row; do
    want="PROCEDURE plug-in-spectra-${p#*:} ${p%%:*} RGB* <Image>/Filters/Quillon 2018 run-mode,image,drawables"
    grep -qxF "$want" "$log" || fail "registered otherwise: $(grep "PROCEDURE plug-in-spectra-${p#*:} " "$log")"
done

# Undo, which GIMP 3 gives no script either: GIMP's window under Xvfb, a
# Python batch in it that runs a filter on a shown picture with a selection,
# one Ctrl+Z typed into the window with xdotool, and a second batch that
# looks at the layer and the selection.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    start=$(date +%s)
    setsid Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp >"$work/display" \
        2>"$work/xvfb.log" </dev/null &
    xvfb=$!
    for i in $(seq 1 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    display=":$(head -n 1 "$work/display")"
    DISPLAY="$display" SPECTRA_UNDO=1 setsid "${gimp%-console-3.0}-3.0" --no-splash -d -f \
        --batch-interpreter=python-fu-eval -b "exec(open('$source_dir/tests/gimp3_test.py').read())" \
        -b "exec(open('$source_dir/tests/gimp3_test.py').read())" >"$work/gui.log" 2>&1 </dev/null &
    group=$!
    for i in $(seq 1 600); do [ -e "$work/undo-ready" ] && break; sleep 0.1; done
    # GIMP 3.0 welcomes a new profile with a dialog of its own; the picture
    # (72 x 50) is shown in a window whose title gives its size
    for dialog in $(DISPLAY="$display" xdotool search --name "Welcome to GIMP"); do
        DISPLAY="$display" xdotool windowclose "$dialog"
    done
    window=$(DISPLAY="$display" timeout 60 xdotool search --sync --name " 72x50 " | head -n 1)
    DISPLAY="$display" xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+z
    touch "$work/undo-typed"
    for i in $(seq 1 300); do grep -q '^END$' "$work/undo.txt" 2>/dev/null && break; sleep 0.1; done
    kill -KILL "-$group" "-$xvfb" 2>/dev/null
    group=""
    if grep -qx 'FILTER ran' "$work/undo.txt" && grep -qx 'UNDO restored 11 7 51 37' "$work/undo.txt"; then
        echo "one undo step restores the layer, the selection kept ($(($(date +%s) - start)) s)"
    else
        fail "undo: $(cat "$work/undo.txt" 2>/dev/null) (window ${window:-not found})"
        tail -20 "$work/gui.log"
    fi
else
    fail "undo: Xvfb and xdotool are missing"
fi

if [ "$failures" -ne 0 ]; then
    echo "--- the batch's log:"
    cat "$log"
    echo "--- gimp-console's output:"
    tail -40 "$work/gimp.log"
    exit 1
fi
echo "all GIMP 3 cases passed"
