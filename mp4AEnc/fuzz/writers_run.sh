#!/usr/bin/env bash
# Builds the output writers' libFuzzer target with clang (ASan + UBSan) and
# runs it. Usage: fuzz/writers_run.sh [seconds]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lib=$(cd "$here/.." && pwd)
repo=$(cd "$lib/.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz-aac-writers}
mkdir -p "$out/corpus"
tables=${SUITE_TABLES_DIR:-$repo/../shared/tables}
mkdir -p "$out/gen"
/usr/bin/python3 "$lib/mp4AACCore/src/psych/gen_psy_tables.py" "$tables" "$out/gen"
/usr/bin/python3 "$lib/mp4AACCore/src/quant/gen_huff_tables.py" "$tables" "$out/gen"
# The whole native library, found rather than listed, so a new source file
# cannot leave the target unlinkable.
mapfile -t sources < <(find "$lib" -name '*.cpp' -not -path '*/tests/*' -not -path '*/fuzz/*' \
  -not -path '*/bench/*' -not -path "$lib/tools/*" -not -name '*_win.cpp' | sort)
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$lib/include" -I"$lib/mp4AACCore/src/psych" -I"$repo/outside/libisomp4/include" -I"$repo/audiolib/include" \
  "$here/writers_fuzz.cpp" "${sources[@]}" "$out"/gen/*.cpp \
  "$repo/outside/libisomp4/isomp4.cpp" "$repo"/audiolib/src/*.cpp "$repo/audiolib/src/realtime/none.cpp" \
  -o "$out/writers_fuzz"
"$out/writers_fuzz" -max_total_time="${1:-60}" -max_len=20000 -rss_limit_mb=2048 "$out/corpus"
