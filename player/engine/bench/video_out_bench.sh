#!/usr/bin/env bash
# video_out_bench.sh [PASSES]: the player's video path next to ffmpeg in one
# run. Makes 300-frame predicted MPEG-4 streams (QCIF and CIF), then for each:
# ffmpeg -threads 1 decoding alone and decoding into bgr24, and the Windows
# builds under Wine (win64, and win32 where 32-bit programs run) decoding and
# converting into the renderer's surface, with and without the BitBlt to the
# video control. Prints pictures per processor second (ffmpeg's from its own
# -benchmark user time, ours from the decoding thread's time), and ours by
# the wall clock too.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
passes=${1:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

targets=()
[ -x "$repo/build/win64/player/engine/video_out_speed.exe" ] && targets+=(win64)
if [ -x "$repo/build/win32/player/engine/video_out_speed.exe" ] && "$repo/tools/can-run-32bit" 2>/dev/null; then
  targets+=(win32)
fi
[ ${#targets[@]} -gt 0 ] || { echo "build video_out_speed in the win64 (or win32) preset first" >&2; exit 1; }

# ffmpeg's pictures per second over PASSES decodes, from its -benchmark utime.
ffmpeg_rate() {
  local stream=$1 frames=$2 total=0 t
  shift 2
  for _ in $(seq "$passes"); do
    t=$(ffmpeg -nostdin -hide_banner -benchmark -threads 1 -i "$stream" "$@" -f null - 2>&1 |
        sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p' | tail -1)
    total=$(echo "$total + $t" | bc -l)
  done
  echo "$frames * $passes / $total" | bc -l | xargs printf '%.0f'
}

printf '%-6s %-34s %s\n' stream "what" "pictures/s"
for spec in qcif:176x144 cif:352x288; do
  name=${spec%%:*} size=${spec#*:}
  s="$work/$name.m4v"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v 300 -pix_fmt yuv420p \
    -threads 1 -c:v mpeg4 -g 300 -bf 0 -qscale:v 4 -flags +mv4 -f m4v "$s"
  printf '%-6s %-34s %s\n' "$name" "ffmpeg -threads 1 -f null" "$(ffmpeg_rate "$s" 300)"
  printf '%-6s %-34s %s\n' "$name" "ffmpeg -threads 1 -pix_fmt bgr24" "$(ffmpeg_rate "$s" 300 -pix_fmt bgr24)"
  for t in "${targets[@]}"; do
    exe="$repo/build/$t/player/engine/video_out_speed.exe"
    for mode in "" --blit; do
      line=$("$repo/tools/wine-run" "$exe" "$s" "$passes" $mode | tail -1)
      rate=$(echo "$line" | sed -n 's/.*, \([0-9]*\) per processor second.*/\1/p')
      wall=$(echo "$line" | sed -n 's/.*: \([0-9]*\) pictures\/s.*/\1/p')
      allocs=$(echo "$line" | sed -n 's/.*, \([0-9.]*\) allocations per picture/\1/p')
      printf '%-6s %-34s %s (wall clock %s; %s allocations per picture)\n' "$name" \
        "$t decode+convert${mode:++blit}" "$rate" "$wall" "$allocs"
    done
  done
done
