#!/usr/bin/env bash
# Builds the BMP reader's libFuzzer target with clang (ASan + UBSan) and runs
# it. Usage: fuzz/run.sh [seconds]   (seeds: the small BMP files in corpus/)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz-bmp}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$here/../include" "$here"/bmp_fuzz.cpp "$here"/../src/stillimage.cpp -o "$out/bmp_fuzz"
cp -n "$here"/corpus/* "$out/corpus/" 2>/dev/null || true
"$out/bmp_fuzz" -max_total_time="${1:-60}" -max_len=4096 -rss_limit_mb=2048 "$out/corpus"
