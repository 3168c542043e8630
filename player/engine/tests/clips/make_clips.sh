#!/usr/bin/env bash
# make_clips.sh OUT WRITER_DEMO AMR_CLIP
# The 60-second clips the playback tests play, made as the recorder would:
# ffmpeg makes MPEG-4 video and AAC, espeak-ng speaks and our own AMR encoder
# (AMR_CLIP, a Windows program) codes the speech, and our writer
# (WRITER_DEMO, a Windows program) records both files. ffmpeg's demuxer
# lists the audio packets of each recording with their Adler-32 sums
# (framecrc; ffprobe itself refuses the AMR track's object type).
set -euo pipefail
mkdir -p "$1"
out=$(realpath "$1") writer=$(realpath "$2") amrclip=$(realpath "$3")
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../.." && pwd)
run() { "$repo/tools/wine-run" "$@"; }
for tool in ffmpeg ffprobe espeak-ng; do
  command -v $tool >/dev/null 2>&1 || { echo "make_clips: $tool is not installed" >&2; exit 1; }
done
mkdir -p "$out"
cd "$out"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -t 60 -threads 1 -c:v mpeg4 -bf 0 -g 15 \
  -q:v 8 -f m4v video.m4v
ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:sample_rate=16000,volume=0.5" -t 60 -c:a aac -b:a 24k \
  -f adts audio.adts
text="The player plays this speech through its own file source, the waveOut device and a stand in decoder.
It counts every frame and keeps the clock in step with the audio that is heard."
espeak-ng -w speech.wav "$text $text $text $text $text $text"
ffmpeg -nostdin -v error -y -stream_loop -1 -i speech.wav -t 60 -ar 8000 -ac 1 -f s16le speech.raw
run "$amrclip" speech.raw speech.amr
run "$writer" aac_clip.mp4 --video video.m4v --fps 15 --aac audio.adts >/dev/null
run "$writer" amr_clip.mp4 --amr speech.amr >/dev/null
for clip in aac_clip amr_clip; do
  ffmpeg -nostdin -v quiet -i $clip.mp4 -map 0:a -c copy -f framecrc - > $clip.packets || true
  grep -q "^0," $clip.packets || { echo "make_clips: ffmpeg lists no audio packets in $clip.mp4" >&2; exit 1; }
done
echo "make_clips: clips in $out"
