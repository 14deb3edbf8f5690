#!/usr/bin/env bash
# Takes docs/tallox.png: the desktop program under Xvfb after a run of the default codecs on the
# sample image; then docs/chart.png, the chart window of that run. Needs xvfb, xdotool and imagemagick (not part of the build's dependencies).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tallox="${TALLOX:-$root/build/release/src/ui/tallox}"
display=":${SCREENSHOT_DISPLAY:-97}"

Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display

# Prints the id of the first window titled TITLE within 5 s; fails, naming WHAT, otherwise.
wait_for_window() {
    local title="$1" what="$2" id=""
    for _ in $(seq 50); do
        id=$(xdotool search --name "$title" 2>/dev/null | head -n 1) && [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "screenshot: $what did not appear" >&2; exit 1; }
    echo "$id"
}
sleep 1
"$tallox" "$root/data/sample.bmp" &
app=$!
window=$(wait_for_window "Image Compression Benchmark" "the window")
sleep 0.5
# Start is clicked at its centre, (69, 286) of the dialog's 428 x 322 units.
width=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\)/\1 \2/p')
read -r w h <<<"$width"
xdotool mousemove --window "$window" $((w * 69 / 428)) $((h * 286 / 322)) click 1
sleep 3
import -window "$window" "$root/docs/tallox.png"
echo "screenshot: wrote docs/tallox.png (${w}x${h})"

# The context menu, opened over the preview, and its "Show Chart..." by its mnemonic.
xdotool mousemove --window "$window" $((w * 60 / 428)) $((h * 60 / 322)) click 3
sleep 0.5
xdotool key c
chart=$(wait_for_window "Tallox Chart" "the chart window")
sleep 0.5
import -window "$chart" "$root/docs/chart.png"
echo "screenshot: wrote docs/chart.png"
