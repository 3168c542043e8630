#!/usr/bin/env bash
# Side by side: our writers (writers_bench, frames per second) and ffmpeg's
# stream copy of the same frames into ADTS, LOAS (ffmpeg's "latm") and MP4 (whole process,
# 2000 repetitions of the stereo fixture's frames).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench=${1:-$here/../../build/native-bench/mp4AEnc/mp4aenc_writers_bench}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for i in $(seq 2000); do cat "$here/../tests/data/tone_stereo.aac"; done > "$tmp/in.aac"
frames=$(( $(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$tmp/in.aac") ))
echo "ffmpeg stream copy of $frames frames:"
for f in adts latm mp4; do
  t=$( { /usr/bin/time -f "%e" ffmpeg -nostdin -v error -i "$tmp/in.aac" -c copy -f $f -y "$tmp/out.$f" ; } 2>&1 )
  echo "  $f: $t s, $(awk -v n="$frames" -v t="$t" 'BEGIN { printf "%.0f", n / t }') frames/s"
done
"$bench" --benchmark_min_time=1
