#!/usr/bin/env bash
# How steady the per-call median is from one process to the next, pinned and not: runs
# tallox-cli RUNS times (default 6) in each configuration (--no-pin, then the measuring thread
# pinned with --cpu) on the sample image, 200 calls a codec, and prints, per codec, the mean of
# the runs' median_ms and two spreads of it: (max - min) / mean, and the MAD of the medians over
# their median. memcpy, the yardstick, is left out.
# Usage: benchmarks/stability.sh [RUNS] [extra tallox-cli options]
# Environment: TALLOX_CLI (default build/release/tallox-cli), CODECS (default below), PIN_CPU
# (the CPU of the pinned configurations, default 1).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
runs="${1:-6}"
shift || true
[ -x "$cli" ] || { echo "stability: build tallox-cli first (make build)" >&2; exit 1; }

codecs="${CODECS:-rle,huffman,rice,zstd:1}"
cpu="${PIN_CPU:-1}"
# One configuration a line: "label|command words before the CLI|extra CLI options".
configs=(
    "--no-pin||--no-pin"
    "--cpu $cpu||--cpu $cpu"
)

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
head -1 /proc/stat >"$out/stat.before"
cut -d' ' -f1 /proc/loadavg >"$out/load.before"
# Runs alternate between the configurations, so that a change in the machine's load over the
# minutes of the script falls on all of them alike.
for ((i = 0; i < runs; ++i)); do
    for c in "${!configs[@]}"; do
        IFS='|' read -r _ prefix options <<<"${configs[$c]}"
        mkdir -p "$out/$c"
        # shellcheck disable=SC2086  # prefix and options are lists of words
        $prefix "$cli" --codecs "$codecs" --iterations 200 --format json --no-progress \
            $options "$@" "$root/data/sample.bmp" >"$out/$c/$i.json"
    done
done
head -1 /proc/stat >"$out/stat.after"

labels=()
for config in "${configs[@]}"; do labels+=("${config%%|*}"); done
python3 - "$out" "$runs" "${labels[@]}" <<'PY'
import json, os, statistics, sys
folder, runs, labels = sys.argv[1], int(sys.argv[2]), sys.argv[3:]

def ticks(name):
    fields = [int(v) for v in open(f"{folder}/{name}").read().split()[1:9]]
    return fields[7], sum(fields)  # steal, total (guest time is inside user)
steal = ticks("stat.after")[0] - ticks("stat.before")[0]
total = ticks("stat.after")[1] - ticks("stat.before")[1]
model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
              if line.startswith("model name")), "?")
load = open("/proc/loadavg").read().split()[0]
before = open(f"{folder}/load.before").read().strip()
print(f"{model}, {os.cpu_count()} CPUs; "
      f"{runs} processes per configuration, 200 calls a codec; steal {steal / max(total, 1):.1%} "
      f"of CPU time during the runs; load average {before} before, {load} after")
print()

medians = {}  # codec -> configuration index -> median_ms of each run
for c in range(len(labels)):
    for i in range(runs):
        for record in json.load(open(f"{folder}/{c}/{i}.json"))["results"]:
            if record["codec"] != "memcpy":
                name = " ".join(filter(None, [record["codec"], record.get("params")]))
                runs_of = medians.setdefault(name, {}).setdefault(c, [])
                runs_of.append(record["median_ms"])

def mad(values):
    m = statistics.median(values)
    return statistics.median(abs(v - m) for v in values)

print("| codec |" + "".join(f" {l}: mean ms | range/mean | MAD/median |" for l in labels))
print("|---|" + "---:|" * 3 * len(labels))
for codec, by_config in medians.items():
    cells = []
    for c in range(len(labels)):
        v = by_config[c]
        mean = statistics.mean(v)
        cells.append(f" {mean:.4f} | {(max(v) - min(v)) / mean:.1%} | "
                     f"{mad(v) / statistics.median(v):.1%} |")
    print(f"| {codec} |" + "".join(cells))
PY
