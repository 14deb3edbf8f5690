#!/bin/sh
# Rasterises tallox.svg into the PNG sizes that the desktop icon theme and the window icon use.
# Needs ImageMagick's convert; run it again after changing the SVG and commit the PNGs.
set -eu
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    convert -background none -density 384 tallox.svg -resize "${size}x${size}" \
        -strip "PNG32:tallox-${size}.png"
done
