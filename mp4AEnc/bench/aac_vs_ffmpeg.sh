#!/bin/sh
# Our AAC encoder beside ffmpeg's (-threads 1 -c:a aac) on the same inputs in
# the same run: 30 s of made music (44.1 kHz stereo) and espeak-ng speech, at
# 64 and 128 kbit/s; bitrate, quality decoded by ffmpeg and by faad, speed.
# Ours four times: the coding tools off (-notools), the default (mid/side),
# the filter's tool set (-tools), and that set with long-term prediction
# (-tools -ltp, object type 4).
# usage: bench/aac_vs_ffmpeg.sh AACENC SCRATCH_DIR   (AACENC of a release build)
set -e
enc=$1; dir=$2; here=$(dirname "$0")
mkdir -p "$dir"

/usr/bin/python3 -c "import sys; sys.path.insert(0, '$here/../tests'); import encode_peers; encode_peers.music('$dir/music.wav', 44100, 30)"
espeak-ng -w "$dir/speech_mono.wav" "The quick brown fox jumps over the lazy dog. A bit reservoir lets one frame borrow what a quieter one leaves. Speech has pauses, sibilants and plosives, which the block switching must follow without pre-echo." 
ffmpeg -nostdin -v error -y -i "$dir/speech_mono.wav" -ar 44100 -ac 2 "$dir/speech.wav"
for input in music speech; do
  src="$dir/$input.wav"
  secs=$(/usr/bin/python3 -c "import wave; w=wave.open('$src'); print(w.getnframes()/w.getframerate())")
  for rate in 64000 128000; do
    f0=$(date +%s.%N)
    ffmpeg -nostdin -v error -y -threads 1 -i "$src" -c:a aac -b:a $rate "$dir/theirs.m4a"; f1=$(date +%s.%N)
    for who in ours-notools ours ours-tools ours-tools-ltp theirs; do
      f="$dir/ours.aac"; [ $who = theirs ] && f="$dir/theirs.m4a"
      if [ $who != theirs ]; then
        opt=""; [ $who = ours-notools ] && opt=-notools; [ $who = ours-tools ] && opt=-tools
        [ $who = ours-tools-ltp ] && opt="-tools -ltp"
        t0=$(date +%s.%N); "$enc" -b $rate $opt "$src" "$f" 2>/dev/null; t1=$(date +%s.%N)
        el=$(echo "$t1 - $t0" | bc)
      else
        el=$(echo "$f1 - $f0" | bc)
      fi
      bytes=$(stat -c %s "$f")
      ffmpeg -nostdin -v error -i "$f" -f s16le -y "$dir/dec_ff.raw"
      q1=$(/usr/bin/python3 "$here/aac_quality.py" "$src" "$dir/dec_ff.raw")
      if [ $who != theirs ]; then
        faad -q -w -f 2 "$f" > "$dir/dec_faad.raw"; q2=$(/usr/bin/python3 "$here/aac_quality.py" "$src" "$dir/dec_faad.raw")
      else
        ffmpeg -nostdin -v error -y -i "$f" -c:a copy -f adts "$dir/theirs.aac"
        faad -q -w -f 2 "$dir/theirs.aac" > "$dir/dec_faad.raw"; q2=$(/usr/bin/python3 "$here/aac_quality.py" "$src" "$dir/dec_faad.raw")
      fi
      echo "$input $rate $who: $(echo "$bytes * 8 / $secs" | bc) bit/s, $(echo "$secs / $el" | bc)x realtime; ffmpeg-decoded: $q1; faad-decoded: $q2"
    done
  done
done
