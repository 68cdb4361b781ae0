#!/bin/sh
# Times `spectra run SpectraPlane` end to end (PNG in, PNG out) against the
# tools people would use instead: ImageMagick's `convert IN -fft OUT`, a
# numpy script that does fft2 of the three left halves with the same coding
# and Pillow for the files, `vips spectrum` and G'MIC's fft; and a batch of
# files into a folder against the same files run one after another. Medians
# of several runs with each tool's peak memory; prints a Markdown table.
#   bench/peers.sh [RUNS]      (default 5; run as root: installs imagemagick,
#                               python3-numpy, python3-pil, libvips-tools,
#                               gmic, time and bc when missing)
set -e
cd "$(dirname "$0")/.."
runs="${1:-5}"
missing=""
for p in imagemagick python3-numpy python3-pil libvips-tools gmic time bc; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    apt-get -o DPkg::Lock::Timeout=1200 update -qq
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=1200 install -y -qq --no-install-recommends $missing >/dev/null
fi
[ -x build/spectra ] || scripts/build >/dev/null
convert=/usr/bin/convert
python=/usr/bin/python3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat > "$work/numpy_spectrum.py" <<'PY'
# The planar spectrum of an 8-bit RGB PNG with numpy, coded as SpectraPlane
# codes it: log-magnitude left, phase right.
import sys
import numpy as np
from PIL import Image

a = np.asarray(Image.open(sys.argv[1]).convert("RGB"), dtype=np.float64)
H, W, _ = a.shape
n = W // 2
N = H * n
D = np.log10(255.0 * N) / 255.0
sign = 1.0 - 2.0 * ((np.arange(H)[:, None] + np.arange(n)[None, :]) % 2)
out = np.zeros((H, 2 * n, 3), np.uint8)
for k in range(3):
    X = np.fft.fft2(a[:, :n, k] * sign)
    m = np.abs(X)
    L = np.where(m >= 1, np.log10(np.maximum(m, 1.0)) / D, 0.0)
    phi = np.angle(X) * 57.29577951308232 * 0.7083333333333334 + 127.5
    zero = m == 0
    out[:, :n, k] = np.where(zero, 0, np.minimum(255.0, np.abs(L) + 0.5)).astype(np.uint8)
    out[:, n:, k] = np.where(zero, 0, np.minimum(255.0, np.abs(phi) + 0.5)).astype(np.uint8)
Image.fromarray(out).save(sys.argv[2], compress_level=1)
PY

# Before each timed run, the files that earlier commands wrote go to the
# disk: otherwise a run that writes is held back while the kernel flushes
# the data of the runs before it (here a 25 MB PNG took 0.97 s instead of
# 0.62 after the inputs were made).
settle() {
    sync
}
# "SECONDS PEAK-MB": the median of `runs` wall times of a command and the
# largest peak memory (resident set) of its runs
measure() {
    for i in $(seq "$runs"); do
        settle
        start=$(date +%s.%N)
        /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        end=$(date +%s.%N)
        echo "$(echo "$end - $start" | bc -l) $(cat "$work/peak")"
    done | sort -n | awk '{ t[NR] = $1; if ($2 > m) m = $2 }
        END { printf "%s %.0f\n", NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2, m / 1024 }'
}
# the median of `runs` wall times of a command or a shell function
median() {
    for i in $(seq "$runs"); do
        settle
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        echo "$end - $start" | bc -l
    done | sort -n | awk '{ t[NR] = $1 } END { print NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

echo "4096 x 2048 RGB images (ImageMagick's plasma), $runs runs each: median seconds, peak memory"
echo "$(nproc) threads, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo
echo "| depth | tool | seconds | times ours | peak memory |"
echo "|---|---|---|---|---|"
$convert -size 4096x2048 -seed 7 plasma:fractal -depth 8 "$work/in8.png"
$convert -size 4096x2048 -seed 7 plasma:fractal -depth 16 "$work/in16.png"
# a row of the table; the first of a depth is ours
row() { # NAME COMMAND...
    name="$1"
    shift
    set -- $(measure "$@")
    [ -n "$ours" ] || ours="$1"
    printf '| %d bits | %s | %.3f | %.1f | %s MB |\n' $depth "$name" "$1" \
        "$(echo "$1 / $ours" | bc -l)" "$2"
}
for depth in 8 16; do
    in="$work/in$depth.png"
    ours=""
    row "spectra run SpectraPlane" build/spectra run -f SpectraPlane "$in" "$work/out$depth.png"
    row "ImageMagick convert -fft" $convert "$in" -fft "$work/fft$depth.png"
    # Pillow reads 16-bit RGB as 8-bit
    [ $depth = 8 ] && row "numpy + Pillow" $python "$work/numpy_spectrum.py" "$in" "$work/numpy8.png"
    row "vips spectrum" vips spectrum "$in" "$work/vips$depth.png"
    # the log-magnitude of each plane, scaled to the file's range
    row "G'MIC fft" gmic -v - "$in" fft sqr + sqrt + 1 log10 n 0,255 o "$work/gmic$depth.png"
done
echo

# A batch into a folder, which reads the next file and writes the previous
# result while the plug-in transforms the current one, against the same
# files run one after another.
for i in 1 2 3 4 5 6 7 8; do
    $convert -size 4096x2048 -seed $i plasma:fractal -depth 8 "$work/batch$i.png"
done
one_by_one() {
    for i in 1 2 3 4 5 6 7 8; do
        build/spectra run -f SpectraPlane "$work/batch$i.png" "$work/single$i.png" || return 1
    done
}
sequential=$(median one_by_one)
batch=$(median build/spectra run SpectraPlane "$work"/batch?.png -o "$work/batch")
for i in 1 2 3 4 5 6 7 8; do
    cmp -s "$work/single$i.png" "$work/batch/batch$i.png" || { echo "batch$i.png differs"; exit 1; }
done
printf 'a batch of 8 (-o DIR): %.3f s, one after another %.3f s (%.2f of it)\n' \
    "$batch" "$sequential" "$(echo "$batch / $sequential" | bc -l)"
