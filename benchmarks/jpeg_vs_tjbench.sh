#!/usr/bin/env bash
# Compares the JPEG row's frame rate with libjpeg-turbo's own benchmark on one image: tjbench's
# compression frame rate at quality 50 with 4:2:0, then tallox-cli's JPEG row at the same
# quality, one after the other, in ROUNDS alternating rounds. Prints both rates and their ratio
# for every round, then the median ratio: each round's pair ran back to back, so a machine whose
# load changes between rounds moves both rates alike. The goal is a ratio of at least 0.9; the
# exit status is 1 when the median misses it.
#
#   benchmarks/jpeg_vs_tjbench.sh [IMAGE]    (default: the bundled sample image)
#
# Environment: TALLOX_CLI (default: build/release/tallox-cli, built when missing), ROUNDS (3),
# BENCHTIME (seconds per measurement, 2), QUALITY (50).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
image="${1:-$root/data/sample.bmp}"
rounds="${ROUNDS:-3}"
benchtime="${BENCHTIME:-2}"
quality="${QUALITY:-50}"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"

command -v tjbench >/dev/null || { echo "tjbench not found (libjpeg-turbo-progs)" >&2; exit 2; }
[[ -f "$image" ]] || { echo "no image: $image" >&2; exit 2; }
if [[ ! -x "$cli" ]]; then
    build="$(dirname "$cli")"
    cmake -G Ninja -Wno-dev -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j "${JOBS:-2}" --target tallox-cli >&2
fi

# tjbench reads BMP or PPM; -nowrite keeps it from writing images beside the input, and
# -componly skips the decompression half.
tjbench_fps() {
    tjbench "$image" "$quality" -subsamp 420 -componly -nowrite -benchtime "$benchtime" \
        -warmup 1 | awk '/Compress/ && /Frame rate/ { print $(NF - 1); exit }'
}

# The JPEG row with as many iterations as fill about BENCHTIME seconds at the reference rate.
tallox_json() {
    local iterations="$1"
    "$cli" --codecs jpeg --iterations "$iterations" --quality "$quality" --format json \
        --no-progress "$image"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

ratios=()
for ((round = 1; round <= rounds; ++round)); do
    fps="$(tjbench_fps)"
    [[ -n "$fps" ]] || { echo "could not read tjbench's compression frame rate" >&2; exit 2; }
    iterations="$(awk -v f="$fps" -v t="$benchtime" 'BEGIN { n = int(f * t); print n < 25 ? 25 : n }')"
    json="$(tallox_json "$iterations")"
    row="$(jq -r '.results[] | select(.codec == "jpeg") |
        "\(.frames_per_second) \(.iterations) \(.output_bytes) \(.ratio)"' <<<"$json")"
    [[ -n "$row" ]] || { echo "tallox-cli gave no JPEG row" >&2; exit 2; }
    read -r tallox_fps tallox_iterations bytes ratio <<<"$row"
    relative="$(awk -v m="$tallox_fps" -v r="$fps" 'BEGIN { printf "%.3f", m / r }')"
    printf 'round %d: tjbench %.1f fps, tallox %.1f fps, ratio %s (%d iterations, %d bytes, 1 : %.3f)\n' \
        "$round" "$fps" "$tallox_fps" "$relative" "$tallox_iterations" "$bytes" "$ratio"
    ratios+=("$relative")
done

awk -v m="$(printf '%s\n' "${ratios[@]}" | median)" -v img="$(basename "$image")" -v q="$quality" '
BEGIN {
    printf "%s, quality %d, 4:2:0: JPEG row / tjbench compression frame rate, median of rounds: %.3f (goal >= 0.9)\n", img, q, m
    exit (m >= 0.9) ? 0 : 1
}'
