#!/bin/sh
# Colour converters and post-filter modes beside ffmpeg's swscale and
# libpostproc, one core, the same decoded CIF and QCIF pictures in one run.
# usage: output_bench.sh OUTPUT_SPEED_PROGRAM [WORKDIR]
set -e
prog=$1
dir=${2:-/tmp/output_bench}
loops=30
mkdir -p "$dir"
for s in cif qcif; do
  [ -f "$dir/$s.yuv" ] && continue
  ffmpeg -v error -y -f lavfi -i testsrc2=size=$s:rate=25 -t 4 -c:v mpeg4 -q:v 6 "$dir/$s.m4v"
  ffmpeg -v error -y -i "$dir/$s.m4v" -f rawvideo -pix_fmt yuv420p "$dir/$s.yuv"
done
# ffmpeg's user time for FILTER over the pictures, less that of a plain copy.
peer() {
  ffmpeg -hide_banner -threads 1 -filter_threads 1 -stream_loop $((loops - 1)) -f rawvideo -pix_fmt yuv420p \
    -s "$2" -i "$1" -benchmark $3 -f null - 2>&1 | sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p'
}
for s in cif:352x288 qcif:176x144; do
  name=${s%%:*}; size=${s#*:}; w=${size%x*}; h=${size#*x}
  file="$dir/$name.yuv"
  mp=$(awk -v f="$(stat -c %s "$file")" -v l=$loops 'BEGIN { print f / 1.5 * l / 1e6 }')
  echo "== $name ($mp megapixels per work)"
  "$prog" "$file" "$w" "$h" "$loops"
  base=$(peer "$file" "$size" "-vf null")
  for work in "bgr24:-sws_flags fast_bilinear -vf format=bgr24" "bgr24-accurate:-sws_flags accurate_rnd+full_chroma_int -vf format=bgr24" \
              "rgb565le:-sws_flags fast_bilinear -vf format=rgb565le" "bgr0:-sws_flags fast_bilinear -vf format=bgr0" \
              "pp-hb/vb:-vf pp=hb/vb" "pp-dr:-vf pp=dr" "pp-hb/vb/dr:-vf pp=hb/vb/dr"; do
    t=$(peer "$file" "$size" "${work#*:}")
    awk -v n="${work%%:*}" -v t="$t" -v b="$base" -v mp="$mp" \
      'BEGIN { d = t - b; printf "peer %-16s %8.0f MP/s\n", n, (d > 0 ? mp / d : 0) }'
  done
done
