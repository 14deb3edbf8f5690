#!/usr/bin/env bash
# Does the harness add anything to a codec's time? For memcpy, zstd and LZ4, prints the MB/s
# tallox-cli measures on the sample image beside a plain loop over the same shared library
# (benchmarks/peer_plain.cpp, built here) and, for reference, the library's command-line
# benchmark mode, which Debian links statically with a build of its own. Every process is
# pinned to one CPU. Figures are the median and the best call.
#
# Then the image codecs, in megapixels per second on the image's pixels, encode and decode:
# WebP beside a plain loop over libwebp's simple calls; JPEG XL beside cjxl's and djxl's own
# timing over repeated calls (--num_reps, one thread), which covers the codec alone, not the
# reading of the input or the writing of the output. cwebp/dwebp, opj_compress/opj_decompress
# and avifenc/avifdec time a single, cold call (avifenc none at all: the process's wall time
# is shown), so their figures are for reference only.
# Usage: benchmarks/peer_check.sh [FILE]
#   (TALLOX_CLI, CPU, CALLS, IMAGE_CALLS override the defaults)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${TALLOX_CLI:-$root/build/release/tallox-cli}"
file="${1:-$root/data/sample.bmp}"
cpu="${CPU:-1}"
calls="${CALLS:-200}"
image_calls="${IMAGE_CALLS:-10}"
[ -x "$cli" ] || { echo "peer_check: build tallox-cli first (make build)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++20 "$root/benchmarks/peer_plain.cpp" -o "$work/peer_plain" -lzstd -llz4 -lwebp

# tallox-cli's median and best MB/s of one codec setting. The records go to a file, read once
# the run has ended: a reader started beside it would share its CPU while it measures.
tallox() {
    taskset -c "$cpu" "$cli" --codecs "$1" --iterations "$calls" --no-decode --format json \
        --no-progress "$file" >"$work/records.json"
    python3 -c '
import json, sys
rows = [r for r in json.load(sys.stdin)["results"] if r["codec"] != "memcpy" or sys.argv[1] == "memcpy"]
print("%.1f %.1f" % (rows[-1]["mbps_median"], rows[-1]["mbps_best"]))' "$1" <"$work/records.json"
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

# The image's pixels as the tools read them: PNG (written by tallox-cli) and binary PPM.
"$cli" encode png:1 "$file" -o "$work/image.png" >/dev/null
python3 - "$work/image.png" "$work/image.ppm" <<'PY'
import sys, zlib, struct
data = open(sys.argv[1], "rb").read()
chunks, pos = {}, 8
while pos < len(data):
    (n,) = struct.unpack(">I", data[pos:pos + 4]); kind = data[pos + 4:pos + 8]
    chunks.setdefault(kind, b""); chunks[kind] += data[pos + 8:pos + 8 + n]; pos += 12 + n
width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
assert depth == 8 and colour == 2, "the sample image is 8-bit RGB"
raw, stride, rows, prev = zlib.decompress(chunks[b"IDAT"]), width * 3, [], bytearray(width * 3)
for y in range(height):
    kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - 3] if i >= 3 else 0
        b, c = prev[i], prev[i - 3] if i >= 3 else 0
        p = a + b - c
        pred = [0, a, b, (a + b) // 2,
                a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c][kind]
        line[i] = (line[i] + pred) & 255
    rows.append(bytes(line)); prev = line
open(sys.argv[2], "wb").write(b"P6\n%d %d\n255\n" % (width, height) + b"".join(rows))
PY
megapixels="$(python3 -c 'import sys; w,h = open(sys.argv[1],"rb").read(32).split()[1:3]; print(int(w)*int(h)/1e6)' "$work/image.ppm")"

# tallox-cli's encode MP/s (median, best) and decode MP/s (median) of one image codec setting
# over CALLS calls each way.
tallox_image() {  # setting, calls
    taskset -c "$cpu" "$cli" --codecs "$1" --iterations "$2" --format json \
        --no-progress "$work/image.png" 2>/dev/null >"$work/records.json"
    python3 -c '
import json, sys
r = json.load(sys.stdin)["results"][-1]
print("%.2f %.2f %.2f" % (r["mpps"], r["mbps_best"] / 3, r["decode_mbps_median"] / 3))' <"$work/records.json"
}

# A single cold call's time in seconds, found by sed in the tool's output, as MP/s.
cold() {  # sed expression, command...
    local expression=$1
    shift
    taskset -c "$cpu" "$@" 2>&1 | sed -n "$expression" | tail -1 |
        python3 -c 'import sys; s = sys.stdin.read().strip(); print("%.2f" % (float(sys.argv[1]) / float(s)) if s else "-")' "$megapixels"
}

# cjxl's or djxl's MP/s over its repeated calls: "best", the top of its "[low, high]" range,
# or "typical", its geometric mean.
jxl_tool() {
    local expression='s/.*MP\/s \[[0-9.]*, *\([0-9.]*\)\].*/\1/p'
    [ "$1" = typical ] && expression='s/.*geomean: *\([0-9.]*\) MP\/s.*/\1/p'
    shift
    taskset -c "$cpu" "$@" --num_threads=1 --num_reps="$image_calls" 2>&1 | sed -n "$expression" |
        tail -1
}

echo
printf '%-14s %10s %10s %10s %7s %10s %10s %7s  %s\n' "image MP/s" "enc med" "enc best" \
    "peer best" ratio "dec med" "peer dec" ratio peer
image_row() {  # name, tallox setting, calls, peer encode best, peer decode median, note
    local name=$1 setting=$2 count=$3
    shift 3
    read -r em eb dm < <(tallox_image "$setting" "$count")
    python3 -c 'import sys
n, em, eb, pb, dm, pd, note = sys.argv[1:]
ratio = "%.3f" % (float(eb) / float(pb)) if pb not in ("", "-") else "-"
dratio = "%.3f" % (float(dm) / float(pd)) if pd not in ("", "-") else "-"
print("%-14s %10s %10s %10s %7s %10s %10s %7s  %s" % (n, em, eb, pb or "-", ratio, dm, pd or "-", dratio, note))' \
        "$name" "$em" "$eb" "$1" "$dm" "$2" "$3"
}
read -r _ webp_enc < <(taskset -c "$cpu" "$work/peer_plain" webp 75 "$work/image.ppm" "$calls")
read -r webp_dec _ < <(taskset -c "$cpu" "$work/peer_plain" webpdec 75 "$work/image.ppm" "$calls")
image_row "webp q75" webp:75 "$calls" "$(python3 -c "print('%.2f' % ($webp_enc / 3))")" \
    "$(python3 -c "print('%.2f' % ($webp_dec / 3))")" \
    "plain libwebp loop; cwebp/dwebp cold: $(cold 's/Time to encode picture: \([0-9.]*\)s/\1/p' cwebp -v -q 75 "$work/image.png" -o "$work/o.webp") / $(cold 's/Time to decode picture: \([0-9.]*\)s/\1/p' dwebp -v "$work/o.webp" -ppm -o /dev/null)"
cjxl "$work/image.png" "$work/o.jxl" -d 1 -e 7 --num_threads=1 >/dev/null 2>&1
image_row "jxl d1 e7" jxl:1:effort=7 "$image_calls" "$(jxl_tool best cjxl "$work/image.png" "$work/o.jxl" -d 1 -e 7)" \
    "$(jxl_tool typical djxl "$work/o.jxl" "$work/o.ppm")" "cjxl/djxl --num_reps"
cjxl "$work/image.png" "$work/ll.jxl" -d 0 -e 7 --num_threads=1 >/dev/null 2>&1
image_row "jxlll e7" jxlll:7 "$image_calls" "$(jxl_tool best cjxl "$work/image.png" "$work/ll.jxl" -d 0 -e 7)" \
    "$(jxl_tool typical djxl "$work/ll.jxl" "$work/o.ppm")" "cjxl/djxl --num_reps"
image_row "j2k 20:1" j2k:20 "$image_calls" "" "" \
    "opj cold: $(cold 's/encode time: \([0-9]*\) ms.*/\1e-3/p' opj_compress -i "$work/image.png" -o "$work/o.jp2" -r 20) / $(cold 's/decode time: \([0-9]*\) ms.*/\1e-3/p' opj_decompress -i "$work/o.jp2" -o "$work/o.ppm")"
start=$(date +%s.%N)
taskset -c "$cpu" avifenc -j 1 -s 6 --min 24 --max 24 -y 420 "$work/image.png" "$work/o.avif" >/dev/null 2>&1
wall=$(python3 -c "import sys; print('%.2f' % ($megapixels / ($(date +%s.%N) - $start)))")
image_row "avif q24 s6" avif:24:speed=6 "$image_calls" "" "" "avifenc process wall: $wall"
echo "image: $megapixels Mpx; WebP $calls calls, the others $image_calls; encode: tallox best / peer best; decode: tallox median / peer median (djxl: geometric mean)"
