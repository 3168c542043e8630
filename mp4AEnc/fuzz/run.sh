#!/usr/bin/env bash
# Builds the psychoacoustic front's libFuzzer target with clang (ASan +
# UBSan) and runs it. Usage: fuzz/run.sh [seconds]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lib=$(cd "$here/.." && pwd)
repo=$(cd "$lib/.." && pwd)
tables=${SUITE_TABLES_DIR:-$repo/../shared/tables}
out=${FUZZ_OUT:-$repo/build/fuzz-aac-psy}
mkdir -p "$out/corpus" "$out/gen"
/usr/bin/python3 "$lib/mp4AACCore/src/psych/gen_psy_tables.py" "$tables" "$out/gen"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$lib/include" -I"$lib/mp4AACCore/src/psych" \
  "$here/psy_front_fuzz.cpp" "$out/gen/aac_psy_tables.cpp" \
  "$lib"/mp4All/*.cpp "$lib"/mp4AACCore/src/psych/*.cpp \
  -o "$out/psy_front_fuzz"
# Seeds: whole frames of random audio at every point (first byte), so the
# runs start from full-length input instead of growing it from nothing.
if [ -z "$(ls -A "$out/corpus")" ]; then
  for i in $(seq 0 10); do
    { printf "\\x$(printf %02x "$i")\\x$(printf %02x $((i * 23 % 64)))"; head -c 12288 /dev/urandom; } \
      > "$out/corpus/seed$i"
  done
fi
"$out/psy_front_fuzz" -max_total_time="${1:-60}" -max_len=12290 -len_control=0 -rss_limit_mb=2048 \
  "$out/corpus"
