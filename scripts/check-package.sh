#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: manual pages, desktop entry
# and AppStream metadata validated, the package installed with apt-get, the installed tallox-cli
# run on the installed sample, the completion loaded by bash-completion, then the package
# purged and every file it brought checked gone. Reuses RELEASE_DIR when it is built.
# Needs root (uses sudo when it is not); leaves the machine as it found it.
set -euo pipefail
cd "$(dirname "$0")/.."
release=${RELEASE_DIR:-build/release}
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
fail() {
    echo "check-package: $*" >&2
    exit 1
}

make --no-print-directory package RELEASE_DIR="$release"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$release/CMakeCache.txt")
deb=$(realpath "$release/tallox_${version}_$(dpkg --print-architecture).deb")
work=$(mktemp -d)
installed=false
cleanup() {
    rm -rf "$work"
    if $installed; then
        $sudo apt-get purge -y -qq tallox >/dev/null
    fi
}
trap cleanup EXIT

echo "check-package: $(basename "$deb")"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no dependencies from dpkg-shlibdeps"
# The library codecs' runtime libraries, found by dpkg-shlibdeps too.
for library in libzstd1 liblz4-1 libbrotli1 libdeflate0 liblzma5 libspng0 libwebp7 libcharls2; do
    dpkg-deb -f "$deb" Depends | grep -q "$library" || fail "no dependency on $library"
done
dpkg-deb -x "$deb" "$work/root"
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | groff -ww -z -man 2>&1)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
desktop=$(desktop-file-validate "$work/root/usr/share/applications/tallox.desktop" 2>&1) ||
    fail "$desktop"
[ -z "$desktop" ] || fail "$desktop"
# validate-tree also finds the desktop entry and icon the metadata refers to.
appstreamcli validate-tree --no-net "$work/root" >/dev/null ||
    fail "$(appstreamcli validate-tree --no-net "$work/root")"

export DEBIAN_FRONTEND=noninteractive
installed=true
$sudo apt-get install -y -qq "$deb" >/dev/null
dpkg-query -L tallox >"$work/files"

[ "$(/usr/bin/tallox-cli --version)" = "tallox-cli $version" ] || fail "tallox-cli --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tallox --version)" = "tallox $version" ] ||
    fail "tallox --version"
run=$(/usr/bin/tallox-cli --codecs rle --iterations 1 --format json --no-progress)
grep -q '"file": "/usr/share/tallox/sample.bmp"' <<<"$run" || fail "not the installed sample: $run"
grep -q '"codec": "rle"' <<<"$run" || fail "no RLE record: $run"
[ "$(man -w tallox-cli)" = /usr/share/man/man1/tallox-cli.1.gz ] || fail "man finds no tallox-cli"

# The completion as bash-completion loads it on demand, on a few command lines.
completions=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    compopt() { :; }  # only valid while readline completes
    __load_completion tallox-cli || exit 1
    for line in "tallox-cli --format " "tallox-cli --codecs rle,h" "tallox-cli encode " \
                "tallox-cli encode rle in --r"; do
        read -ra COMP_WORDS <<<"$line"
        [[ $line == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
        COMPREPLY=()
        _tallox_cli tallox-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        echo "$line: ${COMPREPLY[*]}"
    done') || fail "bash-completion does not find the tallox-cli completion"
# The codec names come from the installed program's own list.
names=$(tallox-cli --list-codecs | awk 'NR > 1 && $4 != "yardstick" { print $1 }' | xargs)
expected="tallox-cli --format : text csv json jsonl markdown table
tallox-cli --codecs rle,h: rle,huffman
tallox-cli encode : $names
tallox-cli encode rle in --r: --rice-type"
[ "$completions" = "$expected" ] || fail "completion gave:
$completions"

$sudo apt-get purge -y -qq tallox >/dev/null
installed=false
! dpkg-query -W tallox 2>/dev/null || fail "tallox still known to dpkg"
directories=()
while read -r path; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        directories+=("$path")
    elif [ -e "$path" ] || [ -L "$path" ]; then
        fail "$path left behind"
    fi
done <"$work/files"
# A directory may stay only while another package owns it.
unowned=$(dpkg-query -S "${directories[@]}" 2>&1 >/dev/null | grep "no path found") &&
    fail "left behind: $unowned"
echo "check-package: $(basename "$deb") built, validated, installed, run and purged cleanly"
