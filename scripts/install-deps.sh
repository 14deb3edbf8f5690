#!/usr/bin/env bash
# Installs every package Tallox needs to build, test, benchmark, fuzz and package, from Debian's
# archive.
# Idempotent: does nothing when all are present. Needs root (uses sudo when it is not).
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev fonts-dejavu-core
  qt6-image-formats-plugins
  libjpeg62-turbo-dev libjpeg-turbo-progs
  libhwy-dev libcli11-dev nlohmann-json3-dev
  # The library codecs, and the tools that read their streams back in the conformance test
  libzstd-dev liblz4-dev libbrotli-dev libdeflate-dev liblzma-dev
  zstd lz4 brotli xz-utils gzip
  libspng-dev libqoi-dev libwebp-dev libcharls-dev webp
  libjxl-dev libavif-dev libopenjp2-7-dev libjxl-tools libavif-bin libopenjp2-tools
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  dpkg-dev file man-db groff-base desktop-file-utils appstream bash-completion
  # Shards run side by side in the long-run test, as the README's recipe runs them
  parallel
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
