#!/usr/bin/python3
"""ffmpeg as the judge of an archive: ffmpeg_check.py OUTDIR [mp4 FILE] [amr FILE]
Decodes the MP4's video (-xerror -map 0:v) and an AMR storage file (-f amr),
counts the decoded video frames, writes OUTDIR/check.json, then OUTDIR/done."""
import json
import os
import subprocess
import sys


def run(args, quiet=True):
    p = subprocess.run(["ffmpeg", "-v", "error", "-xerror"] + args, capture_output=True, text=True, timeout=120)
    return p.returncode == 0 and (not quiet or not p.stderr.strip()), p.stderr[-2000:]


def main():
    out, items = sys.argv[1], sys.argv[2:]
    result = {}
    for kind, path in zip(items[::2], items[1::2]):
        if kind == "mp4":
            # The demuxer names the suite's own object types it does not know
            # (the AMR track) on stderr; the video decode must not fail.
            ok, err = run(["-i", path, "-map", "0:v", "-f", "null", "-"], quiet=False)
            result["video_decodes"], result["video_errors"] = ok, err
            p = subprocess.run(["ffmpeg", "-v", "error", "-xerror", "-i", path, "-map", "0:v", "-f", "framecrc", "-"],
                               capture_output=True, text=True, timeout=120)
            frames = [line for line in p.stdout.splitlines() if line and not line.startswith("#")]
            result["video_frames"] = len(frames) if p.returncode == 0 else -1
        elif kind == "amr":
            ok, err = run(["-f", "amr", "-i", path, "-f", "null", "-"])
            result["amr_decodes"], result["amr_errors"] = ok, err
    with open(os.path.join(out, "check.json"), "w") as f:
        json.dump(result, f, indent=1)
    with open(os.path.join(out, "done"), "w") as f:
        f.write("0\n")


if __name__ == "__main__":
    main()
