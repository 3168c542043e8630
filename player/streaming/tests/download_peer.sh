#!/usr/bin/env bash
# download_peer.sh DIR SECONDS WRITER_DEMO
# Makes the clip the download tests fetch, as the recorder would (ffmpeg
# makes 20 s of MPEG-4 video and AAC, our writer records them; a Windows
# writer runs under tools/wine-run), then starts the download peer on it.
set -euo pipefail
dir=$1 seconds=$2 writer=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../.." && pwd)
mkdir -p "$dir"
cd "$dir"
if [ ! -s clip.mp4 ] || [ "$writer" -nt clip.mp4 ]; then
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -t 20 -threads 1 -c:v mpeg4 -bf 0 \
    -g 15 -q:v 8 -f m4v video.m4v
  ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:sample_rate=16000,volume=0.5" -t 20 -c:a aac \
    -b:a 24k -f adts audio.adts
  case "$writer" in
    *.exe) "$repo/tools/wine-run" "$writer" clip.mp4 --video video.m4v --fps 15 --aac audio.adts >/dev/null ;;
    *) "$writer" clip.mp4 --video video.m4v --fps 15 --aac audio.adts >/dev/null ;;
  esac
fi
exec /usr/bin/python3 "$here/download_peer.py" start "$PWD" "$seconds" "$PWD/clip.mp4"
