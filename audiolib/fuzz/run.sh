#!/usr/bin/env bash
# Builds the audio file library's libFuzzer target with clang (ASan + UBSan)
# and runs it on a seed corpus of small files of every format.
# Usage: fuzz/run.sh [seconds] (the DDP parser's messages are hidden:
# -close_fd_mask=2; libFuzzer keeps its own report)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lib=$(cd "$here/.." && pwd)
repo=$(cd "$lib/.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz-audiolib}
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$lib/include" -I"$lib/src" "$here/audiofile_fuzz.cpp" "$lib"/src/*.cpp "$lib/src/realtime/none.cpp" \
  -o "$out/audiofile_fuzz"
# Seeds: the path byte, then a file of each format.
if [ -z "$(ls -A "$out/corpus")" ]; then
  t=$(mktemp -d)
  ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=0.01" -ac 2 \
    -c:a pcm_s16le "$t/a.wav" -c:a pcm_s24le "$t/b.wav" -c:a pcm_u8 "$t/c.wav" \
    -c:a pcm_s16be "$t/d.aiff" -c:a pcm_s16be "$t/e.au" -c:a pcm_s8 "$t/f.aiff"
  for f in "$t"/*; do { printf '\x00'; cat "$f"; } > "$out/corpus/$(basename "$f")"; done
  python3 - "$out/corpus" <<'PY'
import sys
d = sys.argv[1]
def pad(b, n): return b + b" " * (n - len(b))
ident = pad(b"DDP 2.00", 86) + b" CD" + b" " * 39
vvvm = bytearray(b" " * 128); vvvm[0:6] = b"VVVMD0"; vvvm[14:22] = b"00000002"; vvvm[38:40] = b"DA"
vvvm[42:54] = b"000000000000"; vvvm[55:57] = b"01"; vvvm[74:77] = b"IMG"; vvvm[104:113] = b"000000000"
s0 = bytearray(b" " * 128); s0[0:6] = b"VVVMS0"; s0[14:22] = b"00000128"; s0[74:81] = b"PQDESCR"
pq = bytearray(b" " * 128); pq[0:16] = b"VVVS0101  000200"; pq[64:80] = b"VVVSAA01  000202"
ms = bytes(vvvm + s0)
open(d + "/ddp", "wb").write(b"\x80" + bytes([0, len(ms) // 2, len(pq) // 2]) + ident + ms + bytes(pq) + bytes(range(256)) * 20)
PY
  rm -rf "$t"
fi
"$out/audiofile_fuzz" -max_total_time="${1:-60}" -max_len=16384 -rss_limit_mb=2048 -close_fd_mask=2 "$out/corpus"
