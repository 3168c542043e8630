#!/usr/bin/env bash
# Builds a libFuzzer target of the shell's parsers with clang (ASan + UBSan)
# and runs it: the skin parser (seeded with the skin the build draws) or the
# clip descriptor parser (seeded with the python writer's test files).
# Usage: fuzz/run.sh [seconds] [skin|descriptor]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
target=${2:-skin}
if [ "$target" = descriptor ]; then
  out=${FUZZ_OUT:-$repo/build/fuzz-descriptor}
  mkdir -p "$out/corpus"
  clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
    -I"$here/../include" "$here"/descriptor_fuzz.cpp "$here"/../src/clip_descriptor.cpp -o "$out/descriptor_fuzz"
  python3 "$repo/player/shell/tests/make_descriptors.py" "$out/seeds" > /dev/null
  # The parser takes the bytes behind the file's 2-byte length field.
  for f in "$out"/seeds/*; do tail -c +3 "$f" > "$out/corpus/$(basename "$f")"; done
  exec "$out/descriptor_fuzz" -max_total_time="${1:-60}" -max_len=4096 "$out/corpus"
fi
out=${FUZZ_OUT:-$repo/build/fuzz-skin}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$here/../include" "$here"/skin_fuzz.cpp "$here"/../src/skin_file.cpp -o "$out/skin_fuzz"
[ -f "$out/corpus/Orlomer.ksk" ] || python3 "$repo/player/shell/res/make_skin.py" "$out/corpus/Orlomer.ksk"
rm -f "$out/corpus/Orlomer.ksk.rgb"
"$out/skin_fuzz" -max_total_time="${1:-60}" -max_len=300000 "$out/corpus"
