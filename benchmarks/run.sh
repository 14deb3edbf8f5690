#!/usr/bin/env bash
# Builds the codec benchmarks, runs them on the sample image and prints Markdown tables of each
# encoder's and each decoder's throughput against a memcpy of the same buffer measured in the
# same run. Extra arguments go to the benchmark executable (for example
# --benchmark_filter=Rle). The LZ77 runs on other inputs take minutes with the plain walk and
# have their own script, benchmarks/lz77_inputs.sh.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BENCH_DIR:-$root/build-bench}"
jobs="${JOBS:-2}"

cmake -G Ninja -Wno-dev -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DTALLOX_BENCHMARKS=ON -DTALLOX_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target tallox_bench_codecs >&2

json="$build/benchmarks.json"
# Repetitions of all benchmarks are interleaved at random, so that a burst of load from other
# work on the machine falls on the yardstick and the encoders alike; the medians are compared.
"$build/benchmarks/tallox_bench_codecs" --benchmark_repetitions="${BENCH_REPETITIONS:-9}" \
    --benchmark_enable_random_interleaving=true --benchmark_min_time=0.2 \
    --benchmark_report_aggregates_only=true --benchmark_out="$json" \
    --benchmark_out_format=json --benchmark_filter=-BM_Lz77Input "$@" >&2

python3 - "$json" "$root/data/sample.bmp" <<'PY' | tee "$build/benchmarks.md"
import json, os, re, sys

with open(sys.argv[1]) as f:
    report = json.load(f)

# Median bytes per second of every benchmark, keyed by its name without the aggregate suffix
# and without the fixed iteration count of the slow ones.
speed = {}
for b in report["benchmarks"]:
    if b.get("aggregate_name", "median") == "median" and "bytes_per_second" in b:
        name = re.sub(r"/iterations:\d+$", "", b.get("run_name", b["name"]))
        speed[name] = b["bytes_per_second"] / 1e6

memcpy = speed.get("BM_Memcpy")
len_sample = os.path.getsize(sys.argv[2]) if len(sys.argv) > 2 else 0
cpu = report.get("context", {})
print(f"Processor: {cpu.get('num_cpus', '?')} x {cpu.get('mhz_per_cpu', '?')} MHz "
      f"({open('/proc/cpuinfo').read().split('model name')[1].split(':')[1].splitlines()[0].strip()})")
print()
print("| Codec | MB/s | ratio to memcpy | goal | met? |")
print("|---|---:|---:|---|---|")
if memcpy:
    print(f"| memcpy | {memcpy:,.0f} | 1 | yardstick | |")

def goal(codec, mbs):
    """The goal of a codec as text, and whether this figure meets it (None: no goal)."""
    fractions = {"Rle": 16, "Huffman": 50, "Rice": 64}
    if codec in fractions and memcpy:
        need = memcpy / fractions[codec]
        return f">= 1/{fractions[codec]} of memcpy ({need:,.0f} MB/s)", mbs >= need
    if codec == "Lz77Fast":
        chained = speed.get("BM_EncodeLz77FastChained")
        if chained:
            return f">= 3 x the link-by-link walk ({3 * chained:,.1f} MB/s)", mbs >= 3 * chained
    if codec == "Lz77Prefix":
        scalar = speed.get("BM_EncodeLz77Scalar")
        if scalar:
            return f">= 20 x the scalar walk on the same prefix ({20 * scalar:,.2f} MB/s)", \
                mbs >= 20 * scalar
    return "", None

# The run's order of the codecs first, anything else after them by name.
order = ["Rle", "Huffman", "Rice", "Lz77", "Lz77Prefix", "Lz77Scalar", "Lz77Fast", "Lz77FastChained"]
rows = []
for name, mbs in speed.items():
    m = re.match(r"BM_Encode([A-Za-z0-9]+)(.*)", name)
    if m:
        codec = m.group(1)
        rank = order.index(codec) if codec in order else len(order)
        rows.append((rank, name, codec, m.group(2), mbs))

def figure(mbs):
    return f"{mbs:,.0f}" if mbs >= 100 else f"{mbs:.1f}" if mbs >= 1 else f"{mbs:.3f}"

for _, name, codec, rest, mbs in sorted(rows):
    text, met = goal(codec, mbs) if not rest else ("", None)
    share = memcpy / mbs if memcpy and mbs > 0 else 0
    ratio = "-" if not share else f"1/{share:.1f}" if share < 100 else f"1/{share:,.0f}"
    label = codec + rest
    if codec == "Lz77":
        # The whole sample: what one call of the benchmark run costs.
        label += f" ({len_sample / mbs / 1e6:.2f} s a call)" if len_sample else ""
    print(f"| {label} | {figure(mbs)} | {ratio} | {text} | "
          f"{'' if met is None else ('yes' if met else 'NO')} |")

# Decoders: bytes decoded per second. One decoder serves both LZ77 formats.
decoder_goals = {"Rle": 1000, "Lz77": 1000, "Huffman": 300, "Rice": 300}
print()
print("| Decoder | MB/s | ratio to memcpy | goal | met? |")
print("|---|---:|---:|---|---|")
for codec in ["Rle", "Huffman", "Rice", "Lz77"]:
    mbs = speed.get(f"BM_Decode{codec}")
    if mbs is None:
        continue
    share = memcpy / mbs if memcpy and mbs > 0 else 0
    ratio = "-" if not share else f"1/{share:.1f}"
    need = decoder_goals[codec]
    label = codec + (" (both LZ77 formats)" if codec == "Lz77" else "")
    print(f"| {label} | {figure(mbs)} | {ratio} | >= {need:,} MB/s | "
          f"{'yes' if mbs >= need else 'NO'} |")
PY
