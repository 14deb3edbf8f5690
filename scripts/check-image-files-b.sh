#!/usr/bin/env bash
# Checks that the files `tallox-cli encode` writes for the JPEG XL, AVIF and JPEG 2000 codecs
# open in the libraries' own tools (djxl, avifdec, opj_decompress) as images of the input's
# size, and that the lossless ones give back the input's pixels exactly. A missing tool skips
# its codecs.
# Usage: scripts/check-image-files-b.sh TALLOX_CLI [IMAGE.bmp]   (a 24-bit bitmap)
set -euo pipefail

cli=${1:?usage: check-image-files-b.sh TALLOX_CLI [IMAGE.bmp]}
image=${2:-$(dirname "$0")/../data/sample.bmp}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Compares a decoded PPM or Y4M with the bitmap: the same size always, the same pixels when
# "exact". An AV1 lossless file holds G, B, R as its Y, U, V planes (the identity matrix).
cat > "$work/compare.py" <<'PY'
import struct, sys

def bitmap(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    if bits != 24:
        sys.exit("compare: %s is not a 24-bit bitmap" % path)
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        row = data[offset + y * stride : offset + y * stride + width * 3]
        rows.append(bytes(b for i in range(0, len(row), 3) for b in (row[i + 2], row[i + 1], row[i])))
    if height > 0:
        rows.reverse()
    return width, abs(height), b"".join(rows)

def ppm(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at : at + 1].isspace() or data[at : at + 1] == b"#":
            at = data.index(b"\n", at) + 1 if data[at : at + 1] == b"#" else at + 1
        end = at
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit("compare: %s is not an 8-bit RGB PPM" % path)
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[at + 1 : at + 1 + width * height * 3]

def y4m(path):
    data = open(path, "rb").read()
    header, rest = data.split(b"\n", 1)
    tags = {t[:1]: t[1:] for t in header.split()[1:]}
    width, height = int(tags[b"W"]), int(tags[b"H"])
    planes = rest.split(b"\n", 1)[1]
    if not tags.get(b"C", b"420").startswith(b"444"):
        return width, height, None
    n = width * height
    g, b, r = planes[:n], planes[n : 2 * n], planes[2 * n : 3 * n]
    return width, height, bytes(v for i in range(n) for v in (r[i], g[i], b[i]))

reference, decoded, mode = sys.argv[1:4]
w, h, pixels = bitmap(reference)
dw, dh, dpixels = (y4m if decoded.endswith(".y4m") else ppm)(decoded)
if (dw, dh) != (w, h):
    sys.exit("%dx%d, not %dx%d" % (dw, dh, w, h))
if mode == "exact" and dpixels != pixels:
    sys.exit("the pixels differ from the input's")
PY

status=0
# codec setting, file extension, decoder, decoded file's extension, exact or size
check() {
  local setting=$1 extension=$2 tool=$3 decodedExtension=$4 mode=$5
  if ! command -v "$tool" > /dev/null; then
    echo "skip  $setting: $tool is not installed"
    return
  fi
  local file="$work/${setting//[:=]/_}.$extension" decoded="$work/${setting//[:=]/_}.$decodedExtension"
  "$cli" encode "$setting" "$image" -o "$file"
  local decode=("$tool" "$file" "$decoded")
  [ "$tool" = opj_decompress ] && decode=("$tool" -i "$file" -o "$decoded")
  if ! "${decode[@]}" > "$work/tool.log" 2>&1; then
    echo "FAIL  $setting: $tool does not open the file"; sed 's/^/      /' "$work/tool.log"
    status=1
  elif ! message=$(python3 "$work/compare.py" "$image" "$decoded" "$mode" 2>&1); then
    echo "FAIL  $setting: $tool's image: $message"
    status=1
  else
    echo "ok    $setting: $tool opens $(stat -c %s "$file") bytes ($mode)"
  fi
}

check jxlll:7 jxl djxl ppm exact
check jxl:1 jxl djxl ppm size
check avifll:6 avif avifdec y4m exact
check avif:24 avif avifdec y4m size
check avif:24:yuv=444 avif avifdec y4m size
check j2kll jp2 opj_decompress ppm exact
check j2k:20 jp2 opj_decompress ppm size
exit $status
