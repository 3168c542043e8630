#!/usr/bin/python3
"""stream_bench.py [SECONDS]

Receiving about 2 Mbit/s of MPEG-4 video (CIF, 15 pictures a second) with
AMR from GStreamer's RTSP server on loopback, for SECONDS (20) each:
stream_receive_speed natively (native-bench build) and under Wine (win64
build), and in the same run ffmpeg copying the same stream to nowhere
(`ffmpeg -rtsp_transport udp -i rtsp://... -c copy -f null -`). Our program
prints its session thread's CPU time and the latency from a frame's last
packet to GetNextFrame; ffmpeg's process is timed by getrusage. The clip is
made by ffmpeg; the server is the tests' (tests/rtsp_peers.py)."""
import os
import resource
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import rtsp_peers  # noqa: E402


def serve(folder, seconds):
    """GStreamer's server with the clip at /bench; writes folder/port."""
    m4v, amr = os.path.join(folder, "bench.m4v"), os.path.join(folder, "bench.amr")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=352x288:rate=15,noise=alls=12:allf=t", "-t", str(seconds + 5), "-c:v", "mpeg4",
                    "-b:v", "2M", "-minrate", "2M", "-maxrate", "2M", "-bufsize", "1M", "-g", "15", "-bf", "0",
                    "-threads", "1", "-f", "m4v", m4v], check=True)
    rtsp_peers.write_amr(amr, (seconds + 5) * 50)
    GLib, Gst, GstRtspServer, server = rtsp_peers.loopback_server()
    server.get_mount_points().add_factory("/bench", rtsp_peers.av_factory(Gst, GstRtspServer, m4v, amr, True))
    server.attach(None)
    with open(os.path.join(folder, "port"), "w") as f:
        f.write(str(server.get_bound_port()))
    GLib.MainLoop().run()


def timed(command):
    """Runs a command; its output and the CPU seconds of its process tree."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.time()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return done.stdout, cpu, time.time() - t0


def main():
    if len(sys.argv) > 3 and sys.argv[1] == "serve":
        serve(sys.argv[2], int(sys.argv[3]))
        return
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    folder = tempfile.mkdtemp(prefix="stream_bench.")
    env = dict(os.environ, LD_LIBRARY_PATH=rtsp_peers.LIB, GI_TYPELIB_PATH=rtsp_peers.TYPELIB)
    server = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", folder, str(seconds)], env=env)
    try:
        for _ in range(300):
            if os.path.exists(os.path.join(folder, "port")):
                break
            time.sleep(0.1)
        url = "rtsp://127.0.0.1:%s/bench" % open(os.path.join(folder, "port")).read()
        native = os.path.join(REPO, "build/native-bench/player/streaming/stream_receive_speed")
        wine = os.path.join(REPO, "build/win64/player/streaming/stream_receive_speed.exe")
        runs = [("native", [native, url, str(seconds)]),
                ("ffmpeg", ["ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "udp", "-i", url, "-t",
                            str(seconds), "-c", "copy", "-f", "null", "-"]),
                ("wine", [os.path.join(REPO, "tools/wine-run"), wine, url, str(seconds)])]
        for name, command in runs:
            ours = {"native": native, "wine": wine}.get(name)
            if ours and not os.path.exists(ours):
                print("%s: not built (%s)" % (name, ours))
                continue
            out, cpu, wall = timed(command)
            print("%s: %.2f s CPU in %.1f s (%.2f %% of one core)" % (name, cpu, wall, 100 * cpu / wall))
            for line in out.strip().splitlines()[-4:]:
                print("  " + line)
    finally:
        server.terminate()
        server.wait()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
