#!/usr/bin/env bash
# What a corpus run costs beyond its measurements: tallox-cli over a folder of FILES (100)
# generated 24-bit bitmaps of about 8 KB, with RLE, Huffman and Rice at 25 iterations, each
# file and codec in its own child process (the corpus default). Prints the run's wall time, the
# time inside its timed loops (the records' elapsed seconds, the memcpy baseline's included,
# and with decoding the decoders' calls, estimated from their median rate), and the difference
# per file: what forking, reading, loading, verifying and printing cost.
#
#   benchmarks/corpus_overhead.sh
#
# Environment: TALLOX_CLI (default: build/release/tallox-cli, built when missing), FILES (100).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
files="${FILES:-100}"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
if [[ ! -x "$cli" ]]; then
    build="$(dirname "$cli")"
    cmake -G Ninja -Wno-dev -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "${JOBS:-2}" --target tallox-cli >&2
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# 52 x 52 pixels at 24 bits: 8,166 bytes, soft bands and some noise, different per file.
python3 - "$work" "$files" <<'PY'
import random, struct, sys
folder, count = sys.argv[1], int(sys.argv[2])
w = h = 52
stride = (w * 3 + 3) & ~3
for n in range(count):
    rng = random.Random(n)
    pixels = bytearray()
    for y in range(h):
        row = bytearray()
        for x in range(w):
            v = ((x + y + n) * 5) % 256
            row += bytes((v, (v + rng.randrange(8)) % 256, (v * 3) % 256))
        pixels += row + bytes(stride - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    open(f"{folder}/f{n:03}.bmp", "wb").write(header + info + pixels)
PY

measure() {
    local start end
    start=$(date +%s%N)
    "$cli" --codecs rle,huffman,rice --iterations 25 --format csv --no-progress "$@" "$work" \
        >"$work/records.csv"
    end=$(date +%s%N)
    python3 - "$work/records.csv" "$(((end - start) / 1000))" "$files" "$*" <<'PY'
import csv, sys
path, wall_us, files, label = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
rows = []
with open(path) as f:
    for line in f:
        if not line.strip():
            break  # the summary follows
        rows.append(line)
timed = 0.0
for r in csv.DictReader(rows):
    timed += float(r["elapsed_seconds"])
    if r["decode_mbps_median"]:
        timed += int(r["calls"]) * int(r["input_bytes"]) / 1e6 / float(r["decode_mbps_median"])
wall = wall_us / 1e6
print(f"{label or 'default':<14} wall {wall * 1e3:8.1f} ms  timed {timed * 1e3:8.1f} ms  "
      f"overhead {(wall - timed) / files * 1e3:6.2f} ms per file")
PY
}
echo "$files files of $(stat -c %s "$work/f000.bmp") bytes; RLE, Huffman, Rice; 25 iterations"
measure
measure --no-decode
measure --no-decode --no-isolate
