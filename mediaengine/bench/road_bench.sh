#!/usr/bin/env bash
# The file road's speed under Wine beside ffmpeg's MPEG-4 encoder on the same
# AVI (one thread, the road's size, rate and bit rate; ffmpeg has no AMR
# encoder here, so its run codes the pictures only).
# usage: mediaengine/bench/road_bench.sh [win64|win32]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
kind=${1:-win64}
bin="$repo/build/$kind/mediaengine"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build --preset "$kind" --target medlark_road_bench >/dev/null
ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=15 -f lavfi -i sine=frequency=440:sample_rate=8000 \
  -t 10 -ac 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$work/in.avi"
ffmpeg -v error -y -i "$work/in.avi" -f rawvideo -pix_fmt bgr24 "$work/frames.rgb"
echo "== Medlark under Wine ($kind)"
(cd "$work" && "$repo/tools/wine-run" "$bin/medlark_road_bench.exe" in.avi frames.rgb 10)
echo "== ffmpeg -c:v mpeg4 -threads 1 on the same AVI (pictures only)"
for _ in 1 2 3; do
  /usr/bin/time -f '%e %U %S' -o "$work/time" \
    ffmpeg -v error -y -threads 1 -i "$work/in.avi" -an -c:v mpeg4 -threads 1 -b:v 64k -g 150 "$work/ffmpeg.mp4"
  read -r wall user sys < "$work/time"
  python3 -c "w=$wall; c=$user+$sys; print(f'ffmpeg: 10.0 s of input in {w:.2f} s ({10/w:.1f} s of input per s), {c:.2f} processor s ({10/c:.1f} per processor s)')"
done
