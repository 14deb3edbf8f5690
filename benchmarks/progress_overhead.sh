#!/usr/bin/env bash
# What the progress bar costs the measurement: the frames per second of RLE, Huffman and Rice
# on a 1 KB and a 24 KB bitmap (generated) and on the bundled sample image, from tallox-cli
# with its bar on a terminal (a pseudo-terminal made by script(1)) against tallox-cli
# --no-progress, each codec on its own with iterations for about SECONDS_PER_RUN of encoding
# (sized from the rate of a first run). Each rate is the median of ROUNDS alternating runs.
#
# A ratio of 1.00 means the bar costs nothing measurable. The rate is the records'
# frames_per_second: the calls over the stopwatch's time for the whole loop, which holds the
# progress step after every call (the per-call statistics leave the steps out). Decoding runs
# after the loop, outside it, and is skipped (--no-decode).
#
#   benchmarks/progress_overhead.sh
#
# Needs script(1) (bsdutils). Environment: TALLOX_CLI (default: build/release/tallox-cli, built
# when missing), ROUNDS (5), SECONDS_PER_RUN (0.5).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${ROUNDS:-5}"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
command -v script >/dev/null || { echo "script not found (bsdutils)" >&2; exit 2; }
if [[ ! -x "$cli" ]]; then
    build="$(dirname "$cli")"
    cmake -G Ninja -Wno-dev -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "${JOBS:-2}" --target tallox-cli >&2
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

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

geomean() { awk '{ sum += log($1) } END { printf "%.3f", exp(sum / NR) }' "$1"; }

printf '%-12s %-8s %10s %14s %14s %7s\n' file codec iterations "bar on f/s" "bar off f/s" ratio
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
            for bar in on off; do
                cli_run $bar "$file" --codecs $codec --iterations "$iterations" --no-decode
                rate_of $codec >>"$work/$bar"
            done
        done
        on=$(median <"$work/on")
        off=$(median <"$work/off")
        awk -v a="$on" -v b="$off" 'BEGIN { print a / b }' >>"$work/ratios"
        printf '%-12s %-8s %10d %14.0f %14.0f %7.3f\n' "$(basename "$file")" $codec "$iterations" \
            "$on" "$off" "$(tail -n 1 "$work/ratios")"
    done
done
echo "geometric mean of the ratios: $(geomean "$work/ratios")"
