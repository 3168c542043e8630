#!/usr/bin/env bash
# download_bench.sh [MB]
# MB/s of a download of MB (100) megabytes on loopback from the tests' peer:
# our client natively (native-bench build) and under Wine (win64 build), and
# in the same run curl fetching the same answer from the same server. Whole
# processes are timed by /usr/bin/time (elapsed, max resident).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../.." && pwd)
mb=${1:-100}
work=$(mktemp -d /tmp/download_bench.XXXXXX)
trap 'python3 "$here/../tests/download_peer.py" stop "$work/peer" 2>/dev/null; rm -rf "$work"' EXIT
head -c $((mb * 1048576)) /dev/urandom > "$work/payload.bin"
/usr/bin/python3 "$here/../tests/download_peer.py" start "$work/peer" 600 "$work/payload.bin"
port=$(cat "$work/peer/http.port")
url="http://127.0.0.1:$port/plain/bench.mp4"
native=$repo/build/native-bench/player/streaming/download_speed
win=$repo/build/win64/player/streaming/download_speed.exe
for round in 1 2 3; do
  mkdir -p "$work/n$round" "$work/w$round"
  echo "round $round"
  echo -n "  curl:   "
  /usr/bin/time -f "%e s elapsed, %M KB max resident" curl -s -o /dev/null \
    -H "Accept: application/x-mp4; storageSize=2147483647" "$url" 2>&1
  echo -n "  native: "
  /usr/bin/time -f "  (%e s elapsed, %M KB max resident)" "$native" "$url" "$work/n$round" 2>&1
  echo -n "  wine:   "
  /usr/bin/time -f "  (%e s elapsed, %M KB max resident)" "$repo/tools/wine-run" "$win" "$url" "$(winepath -w "$work/w$round" 2>/dev/null || echo "$work/w$round")" 2>&1
  cmp -s "$work/payload.bin" "$work/n$round/krdl.tmp" && echo "  native file equals the payload"
  cmp -s "$work/payload.bin" "$work/w$round/krdl.tmp" && echo "  wine file equals the payload"
  rm -rf "$work/n$round" "$work/w$round"
done
