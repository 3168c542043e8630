#!/usr/bin/env bash
# Builds a libFuzzer target of the psychoacoustic model with clang (ASan +
# UBSan) and runs it. Usage: fuzz/run.sh [seconds] [psy_front|psymain]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lib=$(cd "$here/.." && pwd)
repo=$(cd "$lib/.." && pwd)
tables=${SUITE_TABLES_DIR:-$repo/../shared/tables}
target=${2:-psy_front}
out=${FUZZ_OUT:-$repo/build/fuzz-aac-$target}
mkdir -p "$out/corpus" "$out/gen"
/usr/bin/python3 "$lib/mp4AACCore/src/psych/gen_psy_tables.py" "$tables" "$out/gen"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$lib/include" -I"$lib/mp4AACCore/src/psych" \
  "$here/${target}_fuzz.cpp" "$out/gen/aac_psy_tables.cpp" \
  "$lib"/mp4All/{error,modulo_buffer,param,stubs,vecmath}.cpp \
  "$lib"/mp4AACCore/src/psych/*.cpp "$lib"/mp4AACCore/src/quant/*.cpp \
  "$lib"/mp4AACCore/src/tools/isparam.cpp "$lib"/mp4AACCore/src/chanmap.cpp \
  -o "$out/${target}_fuzz"
# Seeds: whole frames of random audio at every point (first byte), so the
# runs start from full-length input instead of growing it from nothing.
if [ -z "$(ls -A "$out/corpus")" ]; then
  for i in $(seq 0 10); do
    { printf "\\x$(printf %02x "$i")\\x$(printf %02x $((i * 23 % 64)))"; head -c 12288 /dev/urandom; } \
      > "$out/corpus/seed$i"
  done
fi
"$out/${target}_fuzz" -max_total_time="${1:-60}" -max_len=12290 -len_control=0 -rss_limit_mb=2048 \
  "$out/corpus"
