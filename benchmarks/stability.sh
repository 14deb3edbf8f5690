#!/usr/bin/env bash
# How steady the figures are from one run to the next: runs tallox-cli RUNS times back to back
# (default 6) on the sample image and prints, per codec, the spread (max - min over median) of
# the whole loop's elapsed time, as the report gives it, and of the median call.
# Usage: benchmarks/stability.sh [RUNS] [extra tallox-cli options]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
runs="${1:-6}"
shift || true
[ -x "$cli" ] || { echo "stability: build tallox-cli first (make build)" >&2; exit 1; }

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for ((i = 0; i < runs; ++i)); do
    "$cli" --codecs rle,huffman,rice --iterations 200 --format csv --no-progress "$@" \
        "$root/data/sample.bmp" >"$out/$i.csv"
done
python3 - "$out" "$runs" <<'PY'
import csv, statistics, sys
folder, runs = sys.argv[1], int(sys.argv[2])
figures = {}
for i in range(runs):
    with open(f"{folder}/{i}.csv") as f:
        for record in csv.DictReader(f):
            if record["codec"] == "memcpy":
                continue
            entry = figures.setdefault(record["codec"], {"elapsed": [], "median": []})
            entry["elapsed"].append(float(record["elapsed_seconds"]))
            entry["median"].append(float(record["median_ms"]))
def spread(values):
    return (max(values) - min(values)) / statistics.median(values) * 100
print(f"{'codec':10} {'elapsed spread':>15} {'median_ms spread':>17}   ({runs} runs of 200 calls)")
for codec, entry in figures.items():
    print(f"{codec:10} {spread(entry['elapsed']):14.1f}% {spread(entry['median']):16.1f}%")
PY
