#!/usr/bin/env bash
# Builds the download client's libFuzzer target with clang (ASan + UBSan)
# and runs it. Usage: fuzz/run_download.sh [seconds]
# Seeds: a description answer and a media answer of two parts, as the peer
# of the tests speaks them.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../.." && pwd)
out=${FUZZ_OUT:-$repo/build/fuzz-download}
mkdir -p "$out/corpus"
sources=$(ls "$here"/../src/*.cpp | grep -v _win32.cpp)
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined \
  -I"$here/../include" -I"$repo/platform/os/include" \
  "$here"/download_fuzz.cpp $sources \
  "$repo"/platform/os/src/text.cpp "$repo"/platform/os/src/os_posix.cpp \
  -o "$out/download_fuzz"
sdp='v=0\r\ns=clip\r\nt=0 0\r\na=range:npt=0-20.000\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=control:trackID=1\r\n'
body=$(printf "$sdp")
{
  printf '\x07HTTP/1.1 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: %d\r\n\r\n' ${#body}
  printf "$sdp"
  printf 'HTTP/1.1 200 OK\r\nContent-Type: multipart/byteranges; boundary=B\r\nContent-Length: 8\r\n\r\n'
  printf -- '--B\r\nContent-Range: bytes 4-7\r\nContent-Type: application/x-mp4; playbackTime=0\r\n\r\nmoov'
  printf -- '\r\n--B\r\nContent-Range: bytes 0-3\r\nContent-Type: application/x-mp4; playbackTime=40\r\n\r\nmdat'
  printf -- '\r\n--B--\r\n'
} > "$out/corpus/seed_two_parts"
"$out/download_fuzz" -max_total_time="${1:-60}" -max_len=8192 "$out/corpus"
