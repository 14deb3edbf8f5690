#!/usr/bin/env bash
# Seconds per call of LZ77, LZ77 Fast and the chains followed link by link (the plain walk of
# LZ77 Fast) on the inputs of benchmarks/lz77_inputs_bench.cpp, printed as a Markdown table.
#   BASE=<revision>  also builds that revision's encoders with the same benchmark file and
#                    measures both in the same run, alternating call by call ("before" columns)
#   REPS             calls per benchmark and build (default 3; the median is shown). A call
#                    slower than 20 s is not repeated.
#   SKIP             benchmarks not run (a regular expression; default the plain walk on 4 MB
#                    of zeros, minutes a call)
#   BENCH_DIR        build folder (default build-bench, as benchmarks/run.sh)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BENCH_DIR:-$root/build-bench}"
jobs="${JOBS:-2}"
configure() {  # configure SOURCE BUILD
  cmake -G Ninja -Wno-dev -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DTALLOX_BENCHMARKS=ON \
    -DTALLOX_GUI=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$2" -j "$jobs" --target tallox_bench_codecs >&2
}

configure "$root" "$build"
binaries=("after=$build/benchmarks/tallox_bench_codecs")
if [ -n "${BASE:-}" ]; then
  base_src="$build/base/src"
  rm -rf "$base_src"
  mkdir -p "$base_src"
  git -C "$root" archive "$BASE" | tar -x -C "$base_src"
  cp "$root/benchmarks/lz77_inputs_bench.cpp" "$base_src/benchmarks/"
  configure "$base_src" "$build/base/build"
  binaries=("before=$build/base/build/benchmarks/tallox_bench_codecs" "${binaries[@]}")
fi

# The older revision is built in a folder of its own: it finds the shared images through this.
export TALLOX_SHARED_IMAGES="${TALLOX_SHARED_IMAGES:-$root/../shared/images}"
python3 - "${REPS:-3}" "${SKIP-Lz77FastChained/zeros-4M}" "${binaries[@]}" <<'PY'
import json, re, statistics, subprocess, sys

reps = int(sys.argv[1])
skip = sys.argv[2]
binaries = [b.split("=", 1) for b in sys.argv[3:]]
names = subprocess.run([binaries[-1][1], "--benchmark_list_tests=true",
                        "--benchmark_filter=^BM_Lz77Input/"],
                       check=True, capture_output=True, text=True).stdout.split()
names = [n for n in names if not (skip and re.search(skip, n))]

times = {}  # (build, encoder, input) -> seconds of each call
for rep in range(reps):
    for name in names:
        _, encoder, data = name.split("/")[:3]
        for build, binary in binaries:
            key = (build, encoder, data)
            if rep > 0 and min(times[key]) > 20:
                continue
            out = subprocess.run([binary, "--benchmark_filter=^" + name + "$",
                                  "--benchmark_format=json"],
                                 check=True, capture_output=True, text=True).stdout
            run = json.loads(out)["benchmarks"][0]
            times.setdefault(key, []).append(run["real_time"] / 1000)  # ms to s
            print(f"{build} {name}: {times[key][-1]:.3f} s", file=sys.stderr)

cpu = open("/proc/cpuinfo").read().split("model name")[1].split(":")[1].splitlines()[0].strip()
print(f"Processor: {cpu}; seconds per call, median of up to {reps} calls")
print()
builds = [b for b, _ in binaries]
encoders = ["Lz77", "Lz77Fast", "Lz77FastChained"]
inputs = list(dict.fromkeys(n.split("/")[2] for n in names))
header = ["input"]
for encoder in encoders:
    for build in builds:
        if encoder == "Lz77FastChained" and build != builds[-1]:
            continue  # the plain walk is the same in both builds
        header.append(f"{encoder} {build}" if len(builds) > 1 else encoder)
    if len(builds) > 1 and encoder != "Lz77FastChained":
        header.append("speed-up")
print("| " + " | ".join(header) + " |")
print("|---" + "|---:" * (len(header) - 1) + "|")
for data in inputs:
    row = [data]
    for encoder in encoders:
        medians = {b: statistics.median(times[(b, encoder, data)]) for b in builds
                   if (b, encoder, data) in times}
        for build in builds:
            if encoder == "Lz77FastChained" and build != builds[-1]:
                continue
            row.append(f"{medians[build]:.3f}" if build in medians else "-")
        if len(builds) > 1 and encoder != "Lz77FastChained":
            ratio = [medians.get(b) for b in (builds[0], builds[-1])]
            speedup = ratio[0] / ratio[1] if None not in ratio else None
            row.append("-" if speedup is None else f"{speedup:.0f} x" if speedup >= 10 else f"{speedup:.2f} x")
    print("| " + " | ".join(row) + " |")
PY
