#!/usr/bin/env bash
# How long `tallox-cli compare` takes over two large result files: a real JSON Lines run of two
# codecs on the sample image, its records copied to RECORDS (10,000) records of files of their
# own with SAMPLES (25) per-call samples each, as BASE; NEW the same with one codec's samples
# 30 % slower. Prints the wall time of the comparison and its last line, which counts the
# records found slower (those of the slower codec).
# Usage: benchmarks/compare_speed.sh   (TALLOX_CLI, RECORDS, SAMPLES override the defaults)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
records="${RECORDS:-10000}"
samples="${SAMPLES:-25}"
[ -x "$cli" ] || { echo "compare_speed: build tallox-cli first (make build)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$root/data/sample.bmp" "$work/sample.bmp"
"$cli" --codecs rle,zstd:1 --iterations "$samples" --samples --format jsonl \
    --no-progress "$work/sample.bmp" "$work/sample.bmp" >"$work/run.jsonl" 2>/dev/null

python3 - "$work" "$records" <<'PY'
import json, os, random, sys
work, count = sys.argv[1], int(sys.argv[2])
lines = [json.loads(line) for line in open(os.path.join(work, "run.jsonl"))]
context = lines[0]
template = [l for l in lines if l.get("type") == "record" and l["codec"] != "memcpy"][:2]
rng = random.Random(1)
for name, slower in (("base", 1.0), ("new", 1.3)):
    files = ["img%05d.bmp" % i for i in range(count // len(template))]
    context["files"] = files
    with open(os.path.join(work, name + ".jsonl"), "w") as out:
        out.write(json.dumps(context) + "\n")
        for file in files:
            for record in template:
                r = dict(record, file=file)
                factor = slower if r["codec"] == "zstd" else 1.0
                r["samples_ms"] = [s * factor * rng.uniform(0.98, 1.02) for s in record["samples_ms"]]
                r["median_ms"] = sorted(r["samples_ms"])[len(r["samples_ms"]) // 2]
                out.write(json.dumps(r) + "\n")
PY

start=$(date +%s.%N)
"$cli" compare "$work/base.jsonl" "$work/new.jsonl" >"$work/compare.txt" || true
end=$(date +%s.%N)
python3 -c "import sys; print('compare: %d records each, %d samples a record: %.2f s' % (int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[4]) - float(sys.argv[3])))" \
    "$records" "$samples" "$start" "$end"
tail -1 "$work/compare.txt"
