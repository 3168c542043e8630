#!/usr/bin/env bash
# Builds the application's text fuzz target with clang (ASan + UBSan) and
# runs it. Usage: fuzz/run.sh [seconds]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz-scrivel}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$here/../include" -I"$repo/authoring/control/portable/include" -I"$repo/mediaengine/portable/include" \
  "$here"/text_fuzz.cpp "$here"/../src/command_line.cpp "$here"/../src/locale_rules.cpp \
  "$here"/../src/session_settings.cpp "$here"/../src/text.cpp -o "$out/text_fuzz"
"$out/text_fuzz" -max_total_time="${1:-60}" -max_len=1024 -rss_limit_mb=2048 "$out/corpus"
