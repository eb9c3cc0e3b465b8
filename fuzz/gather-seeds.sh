#!/usr/bin/env bash
# Seeds for one fuzz target: its own few files in fuzz/corpus/<target>/, plus what the demo
# profiles and the tests' data already hold: the profiles themselves, their "bitmask" and
# "viewformat" texts, and Intel HEX files written by objcopy as the demo writes them.
# Usage: fuzz/gather-seeds.sh <target> <folder>
set -euo pipefail
target=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
mkdir -p "$out"
if [ -d "$here/corpus/$target" ]; then cp "$here/corpus/$target"/* "$out/"; fi

profiles=("$root"/demo/profiles/*.xml "$root"/tests/sim/data/*.xml)
# The text of every <element>...</element> that stands on one line of a profile.
texts() { sed -n "s|.*<$1>\(.*\)</$1>.*|\1|p" "${profiles[@]}" | sort -u; }

case $target in
  profile_xml)
    cp "${profiles[@]}" "$out/"
    ;;
  led_layout)
    n=0
    while IFS= read -r text; do
      n=$((n + 1))
      printf '%s' "$text" > "$out/bitmask-$n"
    done < <(texts bitmask)
    ;;
  viewformat)
    # A "ranged fix" property, raw 1234, the value 12.5 and divisor "0.1" before each format.
    n=0
    while IFS= read -r text; do
      n=$((n + 1))
      { printf '\002\000\000\004\322\100\051\000\000\000\000\000\000\003'; printf '0.1%s' "$text"; } > "$out/viewformat-$n"
    done < <(texts viewformat)
    ;;
  hex_image)
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    text=$(printf 'Kelmora firmware image %03d\n' $(seq 30))
    printf '%s' "${text:0:700}" > "$tmp/image.bin"
    objcopy -I binary -O ihex "$tmp/image.bin" "$tmp/low.hex"
    # Placed across the 64 KiB line, so that a segment-base record appears; without objcopy's
    # start-address record (type 03), which the loaders refuse.
    objcopy -I binary -O ihex --change-addresses 0xFF00 "$tmp/image.bin" "$tmp/high-start.hex"
    grep -v '^:04000003' "$tmp/high-start.hex" > "$tmp/high.hex"
    # Mode byte and map bytes first (HexImageFuzzer.cpp): ReadImage on 64 sectors of 4 KiB,
    # then each loader; the sequence-numbered one reads two identity lines before the records.
    { printf '\000\214\077\000'; cat "$tmp/low.hex"; } > "$out/objcopy-low"
    { printf '\000\214\077\000'; cat "$tmp/high.hex"; } > "$out/objcopy-high"
    { printf '\001\000\000\000'; cat "$tmp/high.hex"; } > "$out/objcopy-high-ihst"
    { printf '\006\000\000\000'; cat "$tmp/low.hex"; } > "$out/objcopy-low-ihex-lpc"
    { printf '\003\000\000\000%s\n%s\n' 16909060 168496141; cat "$tmp/high.hex"; } > "$out/objcopy-high-ihex2"
    ;;
esac
