#!/usr/bin/env bash
# Does the harness add anything to a codec's time? For memcpy, zstd and LZ4, prints the MB/s
# tallox-cli measures on the sample image beside a plain loop over the same shared library
# (benchmarks/peer_plain.cpp, built here) and, for reference, the library's command-line
# benchmark mode, which Debian links statically with a build of its own. Every process is
# pinned to one CPU. Figures are the median and the best call.
# Usage: benchmarks/peer_check.sh [FILE]   (TALLOX_CLI, CPU, CALLS override the defaults)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
file="${1:-$root/data/sample.bmp}"
cpu="${CPU:-1}"
calls="${CALLS:-200}"
[ -x "$cli" ] || { echo "peer_check: build tallox-cli first (make build)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++20 "$root/benchmarks/peer_plain.cpp" -o "$work/peer_plain" -lzstd -llz4

# tallox-cli's median and best MB/s of one codec setting.
tallox() {
    taskset -c "$cpu" "$cli" --codecs "$1" --iterations "$calls" --no-decode --format json \
        --no-progress "$file" | python3 -c '
import json, sys
rows = [r for r in json.load(sys.stdin)["results"] if r["codec"] != "memcpy" or sys.argv[1] == "memcpy"]
print("%.1f %.1f" % (rows[-1]["mbps_median"], rows[-1]["mbps_best"]))' "$1"
}

# The command-line tool's benchmark mode: the compression speed it prints last (its best).
tool() {
    taskset -c "$cpu" "$@" -i2 "$file" 2>&1 | tr '\r' '\n' |
        sed -n 's/.*), *\([0-9.]*\) MB\/s.*/\1/p' | tail -1
}

printf '%-10s %12s %12s %12s %12s %8s %8s %10s\n' setting "tallox med" "plain med" \
    "tallox best" "plain best" med best "tool best"
row() {  # name, tallox setting, plain codec, plain level, tool command...
    local name=$1 setting=$2 codec=$3 level=$4
    shift 4
    read -r tm tb < <(tallox "$setting")
    read -r pm pb < <(taskset -c "$cpu" "$work/peer_plain" "$codec" "$level" "$file" "$calls")
    local t="-"
    [ $# -gt 0 ] && command -v "$1" >/dev/null && t="$(tool "$@")"
    python3 -c 'import sys; n,tm,pm,tb,pb,t = sys.argv[1:]; tm,pm,tb,pb = map(float,(tm,pm,tb,pb)); print("%-10s %12.1f %12.1f %12.1f %12.1f %8.3f %8.3f %10s" % (n,tm,pm,tb,pb,tm/pm,tb/pb,t))' \
        "$name" "$tm" "$pm" "$tb" "$pb" "${t:--}"
}
row memcpy memcpy memcpy 0
row "zstd -1" zstd:1 zstd 1 zstd -b1
row "zstd -19" zstd:19 zstd 19 zstd -b19
if "$cli" --list-codecs | grep -q '^lz4 '; then
    row "lz4 1" lz4:1 lz4 1 lz4 -b1
    row "lz4hc -9" lz4hc:9 lz4hc 9 lz4 -b9
fi
echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), pinned to CPU $cpu, $calls calls"
