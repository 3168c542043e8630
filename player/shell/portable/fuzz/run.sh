#!/usr/bin/env bash
# Builds the skin parser's libFuzzer target with clang (ASan + UBSan) and runs
# it, seeded with the skin the build draws.
# Usage: fuzz/run.sh [seconds]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz-skin}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$here/../include" "$here"/skin_fuzz.cpp "$here"/../src/skin_file.cpp -o "$out/skin_fuzz"
[ -f "$out/corpus/Orlomer.ksk" ] || python3 "$repo/player/shell/res/make_skin.py" "$out/corpus/Orlomer.ksk"
rm -f "$out/corpus/Orlomer.ksk.rgb"
"$out/skin_fuzz" -max_total_time="${1:-60}" -max_len=300000 "$out/corpus"
