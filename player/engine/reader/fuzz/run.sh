#!/usr/bin/env bash
# Builds the reader's libFuzzer target with clang (ASan + UBSan) and runs it.
# Usage: fuzz/run.sh [seconds]   (seed corpus: files the tests build, plus any
# MP4 files placed in fuzz/corpus)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$here/../include" -I"$repo/platform/os/include" \
  "$here"/reader_fuzz.cpp "$here"/../src/*.cpp \
  "$repo"/platform/os/src/text.cpp "$repo"/platform/os/src/os_posix.cpp \
  -o "$out/reader_fuzz"
[ -d "$here/corpus" ] && cp -n "$here"/corpus/* "$out/corpus/" 2>/dev/null || true
# An MP4 keeps its moov at the end: a cut seed would lose it, so the length
# limit is the largest seed's (at least 64 KiB).
max_len=65536
for f in "$out"/corpus/*; do
  [ -f "$f" ] || continue
  size=$(stat -c %s "$f")
  [ "$size" -gt "$max_len" ] && max_len=$size
done
"$out/reader_fuzz" -max_total_time="${1:-60}" -max_len="$max_len" "$out/corpus"
