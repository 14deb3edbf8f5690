#!/usr/bin/env bash
# What the progress bar costs the measurement: the frames per second of RLE, Huffman and Rice
# on a 1 KB and a 24 KB bitmap (generated) and on the bundled sample image, with the bar drawn
# and without it. Each rate is the median of ROUNDS runs, the variants taking turns in an order
# that rotates from round to round. Two tables:
#
# 1. tallox-cli with its bar on a terminal (a pseudo-terminal made by script(1)) against
#    tallox-cli --no-progress, each codec on its own with iterations for about SECONDS_PER_RUN
#    of encoding (sized from the rate of a first run).
# 2. At the dialog's Accurate metering (500 iterations, the three codecs in one run): tallox-cli
#    with its bar, without it, and the dialog itself (tallox_dialog_rate clicks through the real
#    dialog), the two with a bar as ratios against the one without.
#
# A ratio of 1.00 means the bar costs nothing measurable. The rate is the records'
# frames_per_second: the calls over the stopwatch's time for the whole loop, which holds the
# progress step after every call (the per-call statistics leave the steps out). Decoding runs
# after the loop, outside it: table 1 skips it (--no-decode), table 2 keeps it as the dialog has
# it. "off spread" is the spread of the runs without a bar, (slowest - fastest) / median: the
# noise a ratio has to be read against.
#
#   benchmarks/progress_overhead.sh
#
# Needs script(1) (bsdutils) and, for table 2, xvfb-run (package xvfb): the whole script then
# runs beside one Xvfb server, and the dialog draws on it through Qt's xcb platform, so that the
# bar's repaints are really drawn. Without xvfb-run the dialog uses the session's display, or,
# with none, Qt's offscreen platform, which paints into memory only (the last line says which).
# Environment: TALLOX_CLI (default: build/release/tallox-cli; it and tallox_dialog_rate beside it
# are built when missing), ROUNDS (5), SECONDS_PER_RUN (0.5), DIALOG (1; 0 skips table 2).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${ROUNDS:-5}"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
build="$(dirname "$cli")"
dialog_rate="$build/tallox_dialog_rate"
with_dialog="${DIALOG:-1}"
# One server for the whole script: xvfb-run kills its server without waiting for it, so a server
# per dialog run would still be shutting down while the next run is measured.
if [[ $with_dialog != 0 && -z ${TALLOX_UNDER_XVFB:-} ]] && command -v xvfb-run >/dev/null; then
    TALLOX_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
command -v script >/dev/null || { echo "script not found (bsdutils)" >&2; exit 2; }
targets=()
[[ -x "$cli" ]] || targets+=(tallox-cli)
[[ $with_dialog == 0 || -x "$dialog_rate" ]] || targets+=(tallox_dialog_rate)
if ((${#targets[@]})); then
    cmake -G Ninja -Wno-dev -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "${JOBS:-2}" --target "${targets[@]}" >&2
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Bitmaps of WIDTH x HEIGHT at BITS per pixel (1 with a two-colour palette, or 24), a picture of
# soft diagonal bands, so that the encoders meet both runs and varied bytes.
python3 - "$work" <<'EOF'
import struct, sys

def bitmap(path, width, height, bits):
    palette = b"\0\0\0\0\xff\xff\xff\0" if bits == 1 else b""
    stride = (width * bits + 31) // 32 * 4
    rows = bytearray()
    for y in range(height):
        if bits == 1:
            row = bytearray(stride)
            for x in range(width):
                if (x + y) // 6 % 2:
                    row[x // 8] |= 0x80 >> (x % 8)
        else:
            row = bytearray()
            for x in range(width):
                band = (x + y) // 6
                row += bytes(((band * 37) % 256, (band * 11 + y) % 256, (x * 3) % 256))
            row += bytes(stride - len(row))
        rows += row
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(rows), 2835, 2835,
                       2 if bits == 1 else 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + rows)

bitmap(sys.argv[1] + "/1k.bmp", 127, 64, 1)     # 1,086 bytes
bitmap(sys.argv[1] + "/24k.bmp", 127, 64, 24)   # 24,630 bytes
EOF
files=("$work/1k.bmp" "$work/24k.bmp" "$root/data/sample.bmp")

# Runs tallox-cli over FILE with OPTIONS into records.csv; BAR is "on" (a terminal on stderr)
# or "off" (--no-progress).
cli_run() {
    local bar="$1" file="$2"
    shift 2
    if [[ $bar == on ]]; then
        # script merges the streams it captures: the records go to a file of their own.
        script -qc "'$cli' $* --format csv '$file' > '$work/records.csv'" /dev/null >/dev/null
    else
        "$cli" "$@" --format csv --no-progress "$file" >"$work/records.csv"
    fi
}

# The frames per second of CODEC in records.csv; its first record is the memcpy yardstick's.
rate_of() { awk -F, -v codec="$1" '$1 == codec { print $6 }' "$work/records.csv"; }

median() {
    sort -g | awk '{ v[NR] = $1 }
        END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# (slowest - fastest) / median of the numbers in FILE, in percent.
spread() {
    awk -v median="$(median <"$1")" '
        NR == 1 || $1 < low { low = $1 }
        NR == 1 || $1 > high { high = $1 }
        END { printf "%.1f%%", 100 * (high - low) / median }' "$1"
}

geomean() { awk '{ sum += log($1) } END { printf "%.3f", exp(sum / NR) }' "$1"; }

echo "1. tallox-cli, each codec on its own for about ${SECONDS_PER_RUN:-0.5} s; median of $rounds"
printf '%-12s %-8s %10s %12s %12s %7s %10s\n' file codec iterations "bar on f/s" "bar off f/s" \
    ratio "off spread"
for file in "${files[@]}"; do
    for codec in rle huffman rice; do
        # The iterations from the rate of a first run long enough to count (0.1 s).
        iterations=25
        while :; do
            cli_run off "$file" --codecs $codec --iterations $iterations --no-decode
            rate=$(rate_of $codec)
            awk -v n=$iterations -v r="$rate" 'BEGIN { exit !(n / r < 0.1) }' || break
            iterations=$((iterations * 10))
        done
        iterations=$(awk -v r="$rate" -v s="${SECONDS_PER_RUN:-0.5}" \
            'BEGIN { n = int(r * s); print n < 25 ? 25 : n }')
        : >"$work/on" && : >"$work/off"
        for ((round = 0; round < rounds; round++)); do
            for bar in $( ((round % 2)) && echo off on || echo on off); do
                cli_run $bar "$file" --codecs $codec --iterations "$iterations" --no-decode
                rate_of $codec >>"$work/$bar"
            done
        done
        on=$(median <"$work/on")
        off=$(median <"$work/off")
        awk -v a="$on" -v b="$off" 'BEGIN { print a / b }' >>"$work/ratios"
        printf '%-12s %-8s %10d %12.0f %12.0f %7.3f %10s\n' "$(basename "$file")" $codec \
            "$iterations" "$on" "$off" "$(tail -n 1 "$work/ratios")" "$(spread "$work/off")"
    done
done
echo "geometric mean of the ratios: $(geomean "$work/ratios")"
[[ $with_dialog == 0 ]] && exit 0

# Appends one run's rates to rates, as "SOURCE CODEC RATE" lines; SOURCE is on, off or dialog.
measure_accurate() {
    local source="$1" file="$2"
    if [[ $source == dialog ]]; then
        "${dialog_platform[@]}" "$dialog_rate" "$file" 1 >"$work/dialog.csv" 2>"$work/dialog.log" ||
            { cat "$work/dialog.log" >&2; exit 1; }
        cat "$work/dialog.log" >>"$work/dialog_logs"
        awk -F, 'NR > 1 { print "dialog", tolower($2), $3 }' "$work/dialog.csv" >>"$work/rates"
        return
    fi
    cli_run "$source" "$file" --codecs rle,huffman,rice --iterations 500
    for codec in rle huffman rice; do
        echo "$source $codec $(rate_of $codec)" >>"$work/rates"
    done
}

dialog_platform=()
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    dialog_platform=(env QT_QPA_PLATFORM=offscreen)
fi
echo
echo "2. 500 iterations, RLE, Huffman and Rice in one run; median of $rounds"
printf '%-12s %-8s %11s %11s %11s %7s %7s %10s\n' file codec "bar on f/s" "bar off f/s" \
    "dialog f/s" "on/off" "dlg/off" "off spread"
: >"$work/ratios" && : >"$work/dialog_ratios"
sources=(on off dialog)
for file in "${files[@]}"; do
    : >"$work/rates"
    for ((round = 0; round < rounds; round++)); do
        for ((turn = 0; turn < 3; turn++)); do
            measure_accurate "${sources[(round + turn) % 3]}" "$file"
        done
    done
    for codec in rle huffman rice; do
        for source in "${sources[@]}"; do
            awk -v s=$source -v c=$codec '$1 == s && $2 == c { print $3 }' "$work/rates" \
                >"$work/$source"
            printf -v "$source" '%s' "$(median <"$work/$source")"
        done
        awk -v a="$on" -v b="$off" 'BEGIN { print a / b }' >>"$work/ratios"
        awk -v a="$dialog" -v b="$off" 'BEGIN { print a / b }' >>"$work/dialog_ratios"
        printf '%-12s %-8s %11.0f %11.0f %11.0f %7.3f %7.3f %10s\n' "$(basename "$file")" $codec \
            "$on" "$off" "$dialog" "$(tail -n 1 "$work/ratios")" \
            "$(tail -n 1 "$work/dialog_ratios")" "$(spread "$work/off")"
    done
done
echo "geometric means: on/off $(geomean "$work/ratios")," \
    "dialog/off $(geomean "$work/dialog_ratios")"
awk '/Qt platform/ { platform = $NF }
     /painted/ { n = $(NF - 1); if (!seen++ || n < low) low = n; if (n > high) high = n }
     END { printf "dialog: Qt platform %s, the bar painted %d to %d times per run\n",
                  platform, low, high }' "$work/dialog_logs"
