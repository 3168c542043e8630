#!/usr/bin/env bash
# Builds the version-2 reader's libFuzzer target with clang (ASan + UBSan) and
# runs it. Usage: fuzz/run.sh [seconds] [corpus folder]
# Seeds: version-2 files the generator makes (convert/testing/make_v2.py);
# the length limit is the largest seed's, so the trailing movie atom stays.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz}
corpus=${2:-$out/v2corpus}
mkdir -p "$out" "$corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$here/../include" -I"$repo/player/engine/reader/include" -I"$repo/platform/os/include" \
  "$here"/v2reader_fuzz.cpp "$here"/../src/*.cpp "$repo"/player/engine/reader/src/mp4_error.cpp \
  "$repo"/platform/os/src/text.cpp "$repo"/platform/os/src/os_posix.cpp \
  -o "$out/v2reader_fuzz"
if [ -z "$(ls -A "$corpus")" ]; then
  tmp=$(mktemp -d)
  ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=15 -frames:v 6 -c:v mpeg4 -bf 0 -g 3 -f m4v "$tmp/v.m4v"
  printf '#!AMR\n' > "$tmp/a.amr"
  for i in 1 2 3 4; do printf '\x3c'; head -c 31 /dev/zero; done >> "$tmp/a.amr"
  gen="$repo/convert/testing/make_v2.py"
  python3 "$gen" "$corpus/both.mp4" --video "$tmp/v.m4v" --amr "$tmp/a.amr" --video-start 40
  python3 "$gen" "$corpus/layers.mp4" --video "$tmp/v.m4v" --layer2 "$tmp/v.m4v" --still
  python3 "$gen" "$corpus/skip.mp4" --amr "$tmp/a.amr" --skip-krmm
  rm -rf "$tmp"
fi
max_len=4096
for f in "$corpus"/*; do
  size=$(stat -c %s "$f")
  [ "$size" -gt "$max_len" ] && max_len=$size
done
"$out/v2reader_fuzz" -max_total_time="${1:-60}" -max_len="$max_len" "$corpus"
