# gimp_table.sh - the cases that the GIMP tests of both GIMPs run, and their
# checks; sourced by gimp_test.sh (GIMP 2.10) and gimp3_test.sh (GIMP 3),
# which set $work, $build and $tool.

# The cases, one per line: name, input, precision (0: as loaded), what is
# done first (none, select, offset, grey, spectrum: the layer's spectrum
# opened as a new image, whose layer is used), procedure, extension of the
# files compared. SpectraDescreen takes grey layers, the others refuse
# them. The one-step procedures (spectrum-image,
# image-from-spectrum) open a new image, whose layer is compared.
write_cases() {
    for input in rgb8.png rgba8.png rgb16.png rgba16.png float.tif; do
        for p in plane plane-inverse volume row descreen; do
            echo "${input%.*}-$p $input 0 none $p ${input##*.}"
        done
    done >"$work/cases"
    cat >>"$work/cases" <<CASES
linear16-plane rgb16.png PRECISION-U16-LINEAR none plane png
linear8-volume rgba8.png PRECISION-U8-LINEAR none volume png
linearfloat-plane-inverse float.tif PRECISION-FLOAT-LINEAR none plane-inverse tif
selection-plane rgb8.png 0 select plane png
offset-row rgba8.png 0 offset row png
refused-grey-plane rgb8.png 0 grey plane png
refused-half-row rgb16.png PRECISION-HALF-GAMMA none row png
refused-failing rgb16.png 0 none failing-filter png
rgb8-spectrum-image rgb8.png 0 none spectrum-image png
rgba16-spectrum-image rgba16.png 0 none spectrum-image png
float-spectrum-image float.tif 0 none spectrum-image tif
linear8-spectrum-image rgba8.png PRECISION-U8-LINEAR none spectrum-image png
rgb8-image-from-spectrum rgb8.png 0 spectrum image-from-spectrum png
rgba16-image-from-spectrum rgba16.png 0 spectrum image-from-spectrum png
float-image-from-spectrum float.tif 0 spectrum image-from-spectrum tif
unrecorded-image-from-spectrum rgba8.png 0 none image-from-spectrum png
refused-grey-spectrum-image rgb8.png 0 grey spectrum-image png
grey8-descreen rgb8.png 0 grey descreen png
grey16-descreen rgb16.png 0 grey descreen png
CASES
}

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

plugin_of() {
    case "$1" in
    plane) echo SpectraPlane ;;
    plane-inverse) echo SpectraPlaneInverse ;;
    volume) echo SpectraVolume ;;
    row) echo SpectraRow ;;
    descreen) echo SpectraDescreen ;;
    esac
}

# expect PROCEDURE INPUT OUTPUT: what the command makes of the input
expect() {
    case "$1" in
    spectrum-image) "$build/spectra" spectrum "$2" "$3" ;;
    image-from-spectrum) "$build/spectra" inverse "$2" "$3" 2>/dev/null ;;
    *) "$build/spectra" run "$(plugin_of "$1")" "$2" "$3" ;;
    esac
}

# check_table LOG: every case that ran left in $work/out/NAME.EXT exactly
# the samples that the command writes for its input ($work/out/NAME-in.EXT
# where the case changed the picture first), with the selection kept; every
# refusal left the layer unchanged and named its cause. A one-step
# procedure left its source image as it was.
check_table() {
    while read -r name input precision prep p ext; do
        case "$name" in refused-*)
            grep -q "REFUSED $name unchanged" "$1" || fail "$name: not refused, or the layer changed"
            continue
            ;;
        esac
        if ! grep -q "DONE $name\$" "$1"; then
            fail "$name: did not run"
            continue
        fi
        source="$work/in/$input"
        [ -f "$work/out/$name-in.$ext" ] && source="$work/out/$name-in.$ext"
        expect="$work/out/$name-expect.$ext"
        if [ "$prep" = spectrum ]; then
            "$build/spectra" spectrum "$source" "$work/out/$name-spectrum.$ext"
            source="$work/out/$name-spectrum.$ext"
        fi
        if ! expect "$p" "$source" "$expect"; then
            fail "$name: the command failed"
        elif "$tool" same "$expect" "$work/out/$name.$ext"; then
            echo "same samples: $name"
        else
            fail "$name: GIMP's layer differs from the command's"
        fi
        case "$p" in *-image | *-spectrum)
            grep -q "SOURCE-CLEAN $name" "$1" || fail "$name: the source image changed"
            ;;
        esac
        if [ "$prep" = select ]; then
            grep -q "SELECTION-KEPT $name" "$1" || fail "$name: the selection changed"
        fi
    done <"$work/cases"
    for message in "SpectraPlane works on RGB layers only; convert the image to RGB first" \
        "SpectraRow works on 8 and 16-bit integer and 32-bit float layers" \
        "FailingFilter failed: not enough memory for this layer (memFullErr, -108)" \
        "Spectrum as New Image works on RGB layers only"; do
        grep -qF "$message" "$1" || fail "no message: $message"
    done
}
