#!/usr/bin/env bash
# Checks that `tallox-cli encode` writes image files other programs open: each image codec's
# file of IMAGE is read back by a standard tool (dwebp, Python's zlib) or, where no tool reads
# the format, its header is checked against the image's size. A missing tool skips its check.
# Usage: check-image-files.sh TALLOX_CLI [IMAGE]   (IMAGE: a 24-bit BMP, data/sample.bmp)
set -euo pipefail

cli=${1:?usage: check-image-files.sh TALLOX_CLI [IMAGE]}
image=${2:-$(dirname "$0")/../data/sample.bmp}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
fail() { echo "check-image-files: $*" >&2; failed=1; }
skip() { echo "check-image-files: skipped: $*"; }

# The BMP's width and height (little-endian at bytes 18 and 22; a negative height is top-down).
read -r width height < <(od -An -t d4 -j 18 -N 8 "$image")
height=${height#-}

encode() {  # CODEC EXTENSION -> the file's path
  "$cli" encode "$1" "$image" -o "$work/out.$2" || fail "$1: encode failed"
  echo "$work/out.$2"
}

# Big-endian 32-bit words of FILE at OFFSET, as "WIDTH HEIGHT".
words() { od -An -t u1 -j "$2" -N 8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'; }

for setting in webpll:6 webp:75; do
  file=$(encode "$setting" webp)
  if command -v dwebp >/dev/null; then
    info=$(dwebp "$file" -o "$work/back.ppm" 2>&1) || fail "$setting: dwebp refused the file: $info"
    grep -q "Dimensions: $width x $height" <<<"$info" || fail "$setting: dwebp read $info"
  else
    skip "$setting (no dwebp)"
  fi
done

file=$(encode png:6 png)
if command -v python3 >/dev/null; then
  # Every chunk's CRC, the IDAT stream inflated whole, and its size that of the filtered rows.
  python3 - "$file" "$width" "$height" <<'PY' || fail "png: the file does not read back"
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
width, height = int(sys.argv[2]), int(sys.argv[3])
assert data[:8] == b"\x89PNG\r\n\x1a\n", "no PNG signature"
position, idat, header = 8, b"", None
while position < len(data):
    length, kind = struct.unpack(">I4s", data[position:position + 8])
    body = data[position + 8:position + 8 + length]
    crc, = struct.unpack(">I", data[position + 8 + length:position + 12 + length])
    assert zlib.crc32(kind + body) == crc, f"bad CRC in {kind}"
    header = body if kind == b"IHDR" else header
    idat += body if kind == b"IDAT" else b""
    position += 12 + length
w, h, depth, colour = struct.unpack(">IIBB", header[:10])
assert (w, h, depth, colour) == (width, height, 8, 2), f"IHDR {w}x{h} depth {depth} colour {colour}"
assert len(zlib.decompress(idat)) == height * (1 + width * 3), "IDAT is not the image's rows"
PY
elif command -v file >/dev/null; then
  file "$file" | grep -q "PNG image data, $width x $height, 8-bit/color RGB" ||
    fail "png: $(file "$file")"
else
  skip "png (neither python3 nor file)"
fi

file=$(encode qoi qoi)
[ "$(head -c 4 "$file")" = qoif ] || fail "qoi: no qoif magic"
[ "$(words "$file" 4)" = "$width $height" ] || fail "qoi: header says $(words "$file" 4)"

# JPEG-LS: start of image, then a start-of-frame marker for JPEG-LS (FF F7) with the size.
file=$(encode jpegls jls)
[ "$(od -An -t x1 -N 2 "$file" | tr -d ' ')" = ffd8 ] || fail "jpegls: no start-of-image marker"
[ "$(tail -c 2 "$file" | od -An -t x1 | tr -d ' ')" = ffd9 ] || fail "jpegls: no end marker"
frame=$(od -An -t x1 -v "$file" | tr -d ' \n' | grep -o 'fff7....08\(....\)\(....\)' | head -1)
[ "$((16#${frame:14:4})) $((16#${frame:10:4}))" = "$width $height" ] ||
  fail "jpegls: no JPEG-LS frame of ${width}x$height ($frame)"

[ "$failed" -eq 0 ] && echo "check-image-files: png, qoi, webpll, webp and jpegls files check out"
exit "$failed"
