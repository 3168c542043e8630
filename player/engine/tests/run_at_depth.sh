#!/usr/bin/env bash
# run_at_depth.sh DEPTH PROGRAM [ARGS...]
# Runs a Windows test program on an X display of the given colour depth: its
# own Xvfb and its own Wine prefix (a prefix's desktop stays on the display
# it started with), both ended afterwards. VIDEO_TEST_DEPTH tells the
# program which depth to expect.
set -u
depth=$1; shift
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
command -v Xvfb >/dev/null 2>&1 || { echo "run_at_depth: Xvfb is not installed" >&2; exit 1; }
prefix="$(dirname "$1")/wine-depth$depth"
xvfb=""
for n in $(seq 300 399); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1024x768x"$depth" -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  if [ -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  kill "$xvfb" 2>/dev/null; xvfb=""
done
[ -n "$xvfb" ] || { echo "run_at_depth: could not start Xvfb at depth $depth" >&2; exit 1; }
finish() {
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
}
trap finish EXIT
DISPLAY=$display VIDEO_TEST_DEPTH=$depth "$repo/tools/wine-run" --prefix "$prefix" "$@"
