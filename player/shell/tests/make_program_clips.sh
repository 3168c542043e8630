#!/usr/bin/env bash
# make_program_clips.sh OUT WRITER_DEMO AMR_CLIP
# Two short clips for the player program's test, recorded by our writer
# (WRITER_DEMO, a Windows program) as the recorder would: ffmpeg-made
# MPEG-4 video with ffmpeg's AAC, and the same video with espeak-ng speech
# coded by our AMR encoder (AMR_CLIP, a Windows program). ffmpeg's demuxer
# lists each recording's audio packets with their Adler-32 sums (framecrc).
set -euo pipefail
mkdir -p "$1"
out=$(realpath "$1") writer=$(realpath "$2") amrclip=$(realpath "$3")
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
run() { "$repo/tools/wine-run" "$@"; }
for tool in ffmpeg espeak-ng; do
  command -v $tool >/dev/null 2>&1 || { echo "make_program_clips: $tool is not installed" >&2; exit 1; }
done
cd "$out"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 75 -threads 1 -c:v mpeg4 -bf 0 \
  -g 15 -q:v 4 -f m4v video.m4v
ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:sample_rate=16000,volume=0.5" -t 5 -c:a aac -b:a 24k \
  -f adts audio.adts
espeak-ng -w speech.wav "The player program plays this speech and its pictures to the end."
ffmpeg -nostdin -v error -y -stream_loop -1 -i speech.wav -t 5 -ar 8000 -ac 1 -f s16le speech.raw
run "$amrclip" speech.raw speech.amr
run "$writer" aac_clip.mp4 --video video.m4v --fps 15 --aac audio.adts >/dev/null
run "$writer" amr_clip.mp4 --video video.m4v --fps 15 --amr speech.amr >/dev/null
for clip in aac_clip amr_clip; do
  ffmpeg -nostdin -v quiet -i $clip.mp4 -map 0:a -c copy -f framecrc - > $clip.packets || true
  grep -q "^0," $clip.packets || { echo "make_program_clips: ffmpeg lists no audio packets in $clip.mp4" >&2; exit 1; }
done
echo "make_program_clips: clips in $out"
