#!/bin/sh
# gimp_test.sh GIMP-CONSOLE BUILD-DIR IMAGE-TOOL: the GIMP bridge in a real
# GIMP. The bridge and the plug-ins are installed into a temporary profile;
# one gimp-console batch loads each picture, runs a filter on its layer and
# exports the layer losslessly; each export must hold exactly the samples
# that `spectra run` writes for the same picture.
set -e
gimp="$1" build="$2" tool="$3"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
# Every GIMP starts in a process group of its own, with the plug-ins that it
# starts (Script-Fu lingers after GIMP quits): the whole group is ended.
groups="" ended=""
end_groups() {
    for g in $groups; do kill -TERM "-$g" 2>/dev/null || true; done
    sleep 0.5
    for g in $groups; do kill -KILL "-$g" 2>/dev/null || true; done
    ended="$ended $groups"
    groups=""
}
trap 'end_groups; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
export GIMP2_DIRECTORY="$work/profile"
mkdir -p "$HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME" "$work/in" "$work/out"
for d in brushes dynamics fonts gradients palettes patterns tool-presets; do
    mkdir -p "$GIMP2_DIRECTORY/$d"
done
# Kept as loaded, exported as they are: a linear image is written linear,
# with its profile, not converted to sRGB.
cat >"$GIMP2_DIRECTORY/gimprc" <<EOF
(color-profile-policy keep)
(export-color-profile yes)
(export-metadata-exif no)
(export-metadata-xmp no)
(export-metadata-iptc no)
EOF
SPECTRA_BUILD="$build" "$source_dir/scripts/install-gimp" >/dev/null
# and a filter that fails, for the failures' path
cp "$build/tests/plugins/FailingFilter.8bf" "$GIMP2_DIRECTORY/plug-ins/spectra-gimp/"
"$tool" make "$work/in"

. "$source_dir/tests/gimp_table.sh"
write_cases
cases="$work/cases"

scheme="(begin
  (define (export-layer image layer file)
    (let* ((w (car (gimp-drawable-width layer)))
           (h (car (gimp-drawable-height layer)))
           (copy-image (car (gimp-image-new-with-precision w h RGB
                                (car (gimp-image-get-precision image)))))
           (copy (car (gimp-layer-new-from-drawable layer copy-image))))
      (gimp-image-insert-layer copy-image copy 0 0)
      (gimp-layer-set-offsets copy 0 0)
      (gimp-file-save RUN-NONINTERACTIVE copy-image copy file file)
      (gimp-image-delete copy-image)))
  (define (run-case name input precision prep filter ext new)
    (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE input input)))
           (layer (car (gimp-image-get-active-layer image)))
           (out (string-append \"$work/out/\" name))
           (result '()))
      (if (not (= precision 0)) (gimp-image-convert-precision image precision))
      (if (eq? prep 'select)
          (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 11 7 40 30))
      (if (eq? prep 'offset) (gimp-layer-resize layer 61 37 -9 -5))
      (if (eq? prep 'grey) (gimp-image-convert-grayscale image))
      (if (eq? prep 'spectrum)
          (begin
            (set! image (car (plug-in-spectra-spectrum-image RUN-NONINTERACTIVE image layer)))
            (set! layer (car (gimp-image-get-active-layer image)))))
      (if (or (not (= precision 0)) (eq? prep 'offset) (eq? prep 'grey))
          (export-layer image layer (string-append out \"-in.\" ext)))
      (gimp-image-clean-all image)
      (let ((bounds (gimp-selection-bounds image))
            (failed (catch #t (set! result (filter RUN-NONINTERACTIVE image layer)) #f)))
        (if failed
            (gimp-message (string-append \"REFUSED \" name (if (= 0 (car (gimp-image-is-dirty image))) \" unchanged\" \" changed\")))
            (begin
              (if new
                  (let ((made (car result)))
                    (export-layer made (car (gimp-image-get-active-layer made))
                                  (string-append out \".\" ext))
                    (if (= 0 (car (gimp-image-is-dirty image)))
                        (gimp-message (string-append \"SOURCE-CLEAN \" name))))
                  (export-layer image layer (string-append out \".\" ext)))
              (if (equal? bounds (gimp-selection-bounds image))
                  (gimp-message (string-append \"SELECTION-KEPT \" name)))
              (gimp-message (string-append \"DONE \" name)))))
      (gimp-image-delete image)))
$(while read name input precision prep p ext; do
    case "$p" in failing-*) procedure="plug-in-$p" ;; *) procedure="plug-in-spectra-$p" ;; esac
    case "$p" in *-image | *-spectrum) new="#t" ;; *) new="#f" ;; esac
    echo "  (run-case \"$name\" \"$work/in/$input\" $precision '$prep $procedure \"$ext\" $new)"
done <"$cases"))"

start=$(date +%s)
setsid "$gimp" -i -d -f -b "$scheme" -b "(gimp-quit 0)" >"$work/log" 2>&1 </dev/null &
groups="$!"
wait "$!" || true
end_groups
echo "gimp-console ran $(wc -l <"$cases") cases in $(($(date +%s) - start)) s"

set +e # from here on each check counts its own failure
check_table "$work/log"

# What GIMP registered: one procedure per plug-in with the three standard
# arguments, for RGB images, under Filters > Spectra (the four transforms
# in its submenu Transforms, the descreen also under Filters > Enhance),
# labelled by its name; the one-step procedures return an image.
rc="$GIMP2_DIRECTORY/pluginrc"
for p in plane plane-inverse volume row descreen spectrum-image image-from-spectrum; do
    awk -v name="\"plug-in-spectra-$p\"" '
        $1 == "(proc-def" { on = $2 == name }
        on { print }
        $1 == "(proc-arg" { on = 0 }' "$rc" \
        | sed 's/^ *//' >"$work/entry"
    case "$p" in
    spectrum-image) label="Spectrum as New Image" values="3 1" ;;
    image-from-spectrum) label="Spectrum to Image" values="3 1" ;;
    *) label="$(plugin_of "$p")" values="3 0" ;;
    esac
    types='"RGB*"' menu="<Image>/Filters/Spectra/Transforms"
    case "$p" in spectrum-image | image-from-spectrum | descreen) menu="<Image>/Filters/Spectra" ;; esac
    [ "$p" = descreen ] && types='"RGB*, GRAY*"'
    for want in "(menu-path \"$menu\")" "\"$label\"" "$types" "$values"; do
        grep -qxF "$want" "$work/entry" || fail "plug-in-spectra-$p: pluginrc lacks $want"
    done
    if [ "$p" = descreen ]; then
        grep -qxF '(menu-path "<Image>/Filters/Enhance")' "$work/entry" ||
            fail "plug-in-spectra-descreen: not in Filters > Enhance"
    fi
done

# Undo, which GIMP 2.10 offers to no script: GIMP's window under Xvfb,
# driven through the Script-Fu server, and one Ctrl+Z typed into it must
# restore the layer and leave the selection as it was.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    start=$(date +%s)
    port=$((20000 + $$ % 20000))
    # Xvfb picks a free display and writes its number
    setsid Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp >"$work/display" \
        2>"$work/xvfb.log" &
    groups="$!"
    for i in $(seq 1 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    display=":$(head -n 1 "$work/display")"
    DISPLAY="$display" setsid "${gimp%-console-2.10}-2.10" --no-splash -d -f \
        -b "(plug-in-script-fu-server RUN-NONINTERACTIVE \"127.0.0.1\" $port \"\")" \
        >"$work/gui.log" 2>&1 </dev/null &
    groups="$groups $!"
    sf() { "$tool" script-fu "$port" "$1"; }
    up=0
    for i in $(seq 1 120); do
        if sf "(+ 1 2)" >/dev/null 2>&1; then up=1; break; fi
        sleep 0.5
    done
    if [ "$up" = 0 ]; then
        fail "undo: GIMP's Script-Fu server did not start"
    else
        image=$(sf "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$work/in/rgba16.png\" \"rgba16.png\")))
                     (layer (car (gimp-image-get-active-layer image))))
                  (gimp-display-new image)
                  (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 11 7 40 30)
                  (plug-in-spectra-row RUN-NONINTERACTIVE image layer)
                  (gimp-displays-flush)
                  image)")
        save="(gimp-file-save RUN-NONINTERACTIVE $image (car (gimp-image-get-active-layer $image))"
        sf "$save \"$work/out/undo-before.png\" \"x\")" >/dev/null
        window=$(DISPLAY="$display" timeout 60 xdotool search --sync --name "rgba16.png" | head -n 1)
        DISPLAY="$display" xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+z
        # GIMP takes the key in its own time: the layer is saved until the
        # undo shows, for at most a minute
        for i in $(seq 1 120); do
            sf "$save \"$work/out/undo-after.png\" \"x\")" >/dev/null
            "$tool" same "$work/in/rgba16.png" "$work/out/undo-after.png" 2>/dev/null && break
            sleep 0.5
        done
        bounds=$(sf "(gimp-selection-bounds $image)")
        sf "(gimp-quit 0)" >/dev/null 2>&1 || true
        if "$tool" same "$work/in/rgba16.png" "$work/out/undo-before.png" 2>/dev/null; then
            fail "undo: the filter did not change the layer"
        elif ! "$tool" same "$work/in/rgba16.png" "$work/out/undo-after.png"; then
            fail "undo: one undo step did not restore the layer"
        elif [ "$bounds" != "(1 11 7 51 37)" ]; then
            fail "undo: the selection became $bounds"
        else
            echo "one undo step restores the layer, the selection kept ($(($(date +%s) - start)) s)"
        fi
    fi
else
    fail "undo: Xvfb and xdotool are missing (scripts/deps gimp installs them)"
fi

end_groups
for g in $ended; do
    # zombies aside: a parent that never reaps them is not ours to fix;
    # killed processes take a moment to go, up to ten seconds here
    for i in $(seq 1 100); do
        left=$(ps -eo pgid=,stat=,args= | awk -v g="$g" '$1 == g && $2 !~ /^Z/')
        [ -z "$left" ] && break
        sleep 0.1
    done
    [ -z "$left" ] || fail "GIMP's processes still running: $left"
done

if [ "$failures" -ne 0 ]; then
    echo "--- gimp-console's output:"
    cat "$work/log"
    exit 1
fi
echo "all GIMP cases passed"
