#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one for FUZZ_SECONDS
# from seed corpora: pieces of the bundled sample, the test images of every format, and the
# shared test images and the BMP suite when they lie beside the checkout.
#   FUZZ_DIR      build and corpus folder (default build/fuzz, relative to the checkout)
#   FUZZ_SECONDS  seconds per target (default 60)
# Exits non-zero when a target crashes, fails a check or runs out of time or memory; the
# input that did it is kept under $FUZZ_DIR/artifacts/.
set -euo pipefail

root="$(git -C "$(dirname "${BASH_SOURCE[0]}")" rev-parse --show-toplevel)"
cd "$root"
fuzz_dir="${FUZZ_DIR:-build/fuzz}"
seconds="${FUZZ_SECONDS:-60}"
shared="$root/../shared"
jobs="$(nproc)"

# name, largest input, time limit of one input in seconds. The exhaustive LZ77 search costs
# about len x min(len, 100,000) steps, so its round trip stays small, and the comparison with
# the chained search builds its inputs past the window from small ones; the chained search
# alone reaches past it (its chains grow long only on data of few distinct byte pairs).
targets=(
  "rle_fuzz 65536 25"
  "huffman_fuzz 65536 25"
  "rice_fuzz 65537 25"
  "lz77_fuzz 16384 25"
  "lz77_fast_fuzz 131072 60"
  "lz77_compare_fuzz 4097 60"
  "image_load_fuzz 262144 60"
  "codec_decode_fuzz 65537 60"
)
names=()
for target in "${targets[@]}"; do names+=("${target%% *}"); done

echo "fuzz: building ${names[*]} in $fuzz_dir"
CC=clang CXX=clang++ cmake -G Ninja -Wno-dev -S . -B "$fuzz_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALLOX_FUZZ=ON -DTALLOX_GUI=OFF >/dev/null
cmake --build "$fuzz_dir" -j "$jobs" --target "${names[@]}"

# Seed corpora, made afresh on every run.
seeds="$fuzz_dir/seeds"
rm -rf "$seeds"
mkdir -p "$seeds/bytes" "$seeds/rice" "$seeds/lz77" "$seeds/lz77-long" "$seeds/lz77-layout" \
  "$seeds/lz77-runs" "$seeds/images"
sample="$root/data/sample.bmp"
piece() {  # piece FILE OFFSET LENGTH OUT
  dd if="$1" of="$4" bs=65536 iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none
}
for length in 16 64 1024 4096 65536; do
  piece "$sample" 0 "$length" "$seeds/bytes/head-$length"
  piece "$sample" 300000 "$length" "$seeds/bytes/middle-$length"
done
# with_first_byte BYTE LENGTH OUT: a piece of the sample behind one chosen byte.
with_first_byte() {
  piece "$sample" 0 "$2" "$3.body"
  { printf "\\x$(printf %02x "$1")"; cat "$3.body"; } >"$3"
  rm "$3.body"
}
# The first byte of a Rice input picks its sample type: one seed per choice.
for type in 0 1 2 3 4 5 6 7; do
  with_first_byte "$type" 4096 "$seeds/rice/type-$type"
done
# An odd first byte spreads the LZ77 comparison's input over 100,001 to 100,005 bytes.
for layout in 1 3 5 7 9; do
  with_first_byte "$layout" $((layout * 400)) "$seeds/lz77-layout/layout-$layout"
done
for length in 64 1024 4096 16384; do
  piece "$sample" 0 "$length" "$seeds/lz77/head-$length"
done
# Run-heavy inputs, where a search measures the stretch of a short period around its position:
# runs of one value, flat 16-, 24- and 32-bit colours, runs inside a larger repeat, a run to
# the end of the input.
python3 - "$seeds/lz77-runs" <<'PY'
import os, sys
def put(name, data):
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(bytes(data))
put("zeros", bytes(4096))
for colour in (b"\x12\x34", b"\x30\x80\xc0", b"\x30\x80\xc0\xff"):
    put(f"period-{len(colour)}", b"BM" + colour * (4000 // len(colour)))
put("runs-in-repeat", (b"ab" + bytes(150) + b"cd" + bytes(100)) * 16)
put("run-to-end", bytes(range(256)) + b"\x07" * 3800)
PY
# One input well past the window for the chained search alone: a single one, since a long
# input with few distinct byte pairs takes seconds under the sanitizers.
piece "$sample" 0 131072 "$seeds/lz77-long/head-131072"
cp "$sample" "$seeds/images/sample.bmp"
# A valid stream of every byte codec in the registry, written by the target itself so that each
# seed's first byte picks its codec.
mkdir -p "$seeds/codecs"
TALLOX_CODEC_SEEDS="$seeds/codecs" TALLOX_SAMPLE="$sample" ASAN_OPTIONS=detect_leaks=0 \
  "$fuzz_dir/fuzz/codec_decode_fuzz"
# One tiny image of each format and layout the image input reads, and a bomb.
for file in "$root"/tests/data/images/*; do
  case "$file" in
    *.cpp | *.md) ;;
    *) cp "$file" "$seeds/images/data-$(basename "$file")" ;;
  esac
done
for folder in "$shared/images" "$shared/bmpsuite/g" "$shared/bmpsuite/q" "$shared/bmpsuite/b" \
  "$shared/bmpsuite/x"; do
  if [ -d "$folder" ]; then
    for file in "$folder"/*; do
      case "$file" in
        *.bmp | *.jpg) cp "$file" "$seeds/images/$(basename "$folder")-$(basename "$file")" ;;
      esac
    done
  fi
done

seed_dirs_of() {  # fills seed_dirs
  case "$1" in
    rice_fuzz) seed_dirs=("$seeds/rice") ;;
    lz77_fuzz) seed_dirs=("$seeds/lz77" "$seeds/lz77-runs") ;;
    lz77_fast_fuzz) seed_dirs=("$seeds/lz77" "$seeds/lz77-runs" "$seeds/lz77-long") ;;
    lz77_compare_fuzz) seed_dirs=("$seeds/lz77" "$seeds/lz77-runs" "$seeds/lz77-layout") ;;
    image_load_fuzz) seed_dirs=("$seeds/images") ;;
    codec_decode_fuzz) seed_dirs=("$seeds/codecs") ;;
    *) seed_dirs=("$seeds/bytes") ;;
  esac
}

mkdir -p "$fuzz_dir/artifacts" "$fuzz_dir/logs"
failed=()
for target in "${targets[@]}"; do
  read -r name max_len timeout <<<"$target"
  corpus="$fuzz_dir/corpus/$name"
  log="$fuzz_dir/logs/$name.log"
  mkdir -p "$corpus"
  seed_dirs_of "$name"
  echo "fuzz: $name for ${seconds}s (inputs up to $max_len bytes)"
  # No single allocation above 1 GiB, the image loader's limit (libFuzzer counts whole MiB and
  # flags a block of the limit itself, so the limit is 1 GiB and 1 MiB); the resident size may
  # still reach an image at that limit plus its 24-bit copies.
  status=0
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$fuzz_dir/fuzz/$name" -max_total_time="$seconds" -max_len="$max_len" -timeout="$timeout" \
    -malloc_limit_mb=1025 -rss_limit_mb=4096 -keep_seed=1 -print_final_stats=1 \
    -artifact_prefix="$fuzz_dir/artifacts/$name-" "$corpus" "${seed_dirs[@]}" \
    >"$log" 2>&1 || status=$?
  grep -E '^Done [0-9]+ runs' "$log" | sed "s/^/fuzz: $name: /" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $name FAILED (exit $status); its log ends:"
    tail -n 40 "$log"
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: every target ran ${seconds}s without a finding"
