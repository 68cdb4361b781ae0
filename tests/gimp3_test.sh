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

. "$source_dir/tests/gimp_table.sh"
write_cases
echo "refused-two-layers rgb8.png 0 two plane png" >>"$work/cases"

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
log="$work/log.txt"
grep -q '^END$' "$log" || fail "the batch did not end"
# the pixels before and after, as GIMP holds them, into files
while read -r name input precision prep p ext; do
    [ -f "$work/out/$name.size" ] || continue
    for f in "$name-in" "$name"; do
        "$tool" raw "$work/out/$f.raw" $(cat "$work/out/$f.size") "$work/out/$f.$ext" ||
            fail "$f: the pixels could not be written as a file"
    done
done <"$work/cases"
check_table "$log"
grep -qF "SpectraPlane works on one layer at a time; select just one layer" "$log" ||
    fail "no message for two layers"

# What GIMP registered: the label, RGB images, the menus and the
# standard arguments. (Which selections the menu item is sensitive to, the
# procedure keeps to itself: GIMP's database does not say.)
for p in SpectraPlane:plane SpectraPlaneInverse:plane-inverse SpectraVolume:volume SpectraRow:row \
    SpectraDescreen:descreen "Spectrum as New Image:spectrum-image" \
    "Spectrum to Image:image-from-spectrum"; do
    types="RGB*" menus="<Image>/Filters/Spectra/Transforms"
    case "${p#*:}" in spectrum-image | image-from-spectrum) menus="<Image>/Filters/Spectra" ;; esac
    [ "${p#*:}" = descreen ] && types="RGB*, GRAY*" menus="<Image>/Filters/Spectra,<Image>/Filters/Enhance"
    want="PROCEDURE plug-in-spectra-${p#*:} ${p%%:*} $types $menus run-mode,image,drawables"
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
