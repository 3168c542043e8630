#!/usr/bin/env bash
# Builds the output writers' libFuzzer target with clang (ASan + UBSan) and
# runs it. Usage: fuzz/writers_run.sh [seconds]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lib=$(cd "$here/.." && pwd)
repo=$(cd "$lib/.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz-aac-writers}
mkdir -p "$out/corpus"
w=$lib/mp4BitstreamWriter/mp4bitstreamwriter/src
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$lib/include" -I"$repo/outside/libisomp4/include" \
  "$here/writers_fuzz.cpp" "$lib"/mp4All/*.cpp "$lib"/mp4AACCore/src/aaccore.cpp \
  "$lib"/mp4AACCore/src/chanmap.cpp "$lib"/mp4AACCore/src/tools/*.cpp \
  "$lib"/mp4AACScalable/src/scalable.cpp "$lib"/mp4AACScalable/src/amr_dummy.cpp \
  "$lib"/mp4Filter/src/layerfilt/*.cpp \
  "$w"/adif.cpp "$w"/adts.cpp "$w"/bitstream.cpp "$w"/latm.cpp "$w"/mp4file.cpp "$w"/prconfig.cpp \
  "$w"/isomp4_calls.cpp "$repo/outside/libisomp4/isomp4.cpp" "$lib"/mp4AACCore/src/psych/numutil.cpp \
  -o "$out/writers_fuzz"
"$out/writers_fuzz" -max_total_time="${1:-60}" -max_len=20000 -rss_limit_mb=2048 "$out/corpus"
