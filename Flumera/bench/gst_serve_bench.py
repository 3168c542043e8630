#!/usr/bin/python3
"""The peer of serve_bench: GStreamer's RTSP server (python3-gi) on the same
clip, looped to the same length and paced by its clock, to N clients that
take RTP interleaved in the RTSP connection (RTP/AVP/TCP). Prints the same
figures: Mbit/s, unit latency (median, 99th percentile), and the server
process's CPU time per client.
  gst_serve_bench.py [seconds] [clients]"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import rtsp_client  # noqa: E402

SERVER = r'''
import sys, gi
gi.require_version("Gst", "1.0"); gi.require_version("GstRtsp", "1.0"); gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer
Gst.init(None)
s = GstRtspServer.RTSPServer(); s.set_address("127.0.0.1"); s.set_service("0")
f = GstRtspServer.RTSPMediaFactory()
f.set_launch("( filesrc location=%s ! qtdemux ! rtpmp4vpay name=pay0 pt=96 )" % sys.argv[1])
f.set_shared(True)
f.set_protocols(GstRtsp.RTSPLowerTrans.TCP)
s.get_mount_points().add_factory("/live", f)
s.attach(None)
print(s.get_bound_port(), flush=True)
GLib.MainLoop().run()
'''


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def client(port, stats, i, ready, deadline):
    s = {"units": [], "eos": False, "error": None}
    stats[i] = s
    try:
        c = rtsp_client.RtspClient("127.0.0.1", port, timeout=30)
        url = "rtsp://127.0.0.1:%d/live" % port
        status, head, body = c.request("DESCRIBE", url, "Accept: application/sdp\r\n", timeout=60)
        base = re.search(r"(?i)content-base:\s*(\S+)", head).group(1)
        control = [x for x in re.findall(r"a=control:(\S+)", body.decode()) if x != "*"][0]
        track = control if control.startswith("rtsp:") else base.rstrip("/") + "/" + control
        c.request("SETUP", track, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n", timeout=60)
    except Exception as e:  # noqa: BLE001
        s["error"] = repr(e)
        ready.wait()
        return
    ready.wait()  # every client plays from the start of the shared stream
    try:
        c.request("PLAY", base, "", timeout=60)
    except Exception as e:  # noqa: BLE001
        s["error"] = repr(e)
        return
    frame, size = b"", 0
    try:
        while time.time() < deadline:
            try:
                item = c.read_item(time.time() + 3)  # the stream has ended after 3 s of silence
            except (socket.timeout, ConnectionError, OSError):
                break
            if item[0] != "frame" or item[1] != 0:
                continue
            h = rtsp_client.rtp_header(item[2])
            size += len(item[2]) - 12
            if h["marker"]:
                s["units"].append((h["ts"] // 90, time.time(), size))
                size = 0
    except Exception as e:  # noqa: BLE001
        s["error"] = repr(e)
    c.close()


def main():
    seconds = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    clients = int(sys.argv[2]) if len(sys.argv) > 2 else 64
    # The same clip looped to the same length, in MP4 so that every unit
    # carries its time and the server paces it by its clock.
    loops = max(1, seconds // 2)
    clip = open(os.path.join(HERE, "..", "tests", "data", "clip.m4v"), "rb").read()
    raw = tempfile.NamedTemporaryFile(suffix=".m4v", delete=False)
    raw.write(clip * loops)
    raw.close()
    tmp = tempfile.NamedTemporaryFile(suffix=".mp4", delete=False)
    tmp.close()
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-r", "15", "-i", raw.name, "-c", "copy", tmp.name], check=True)
    os.unlink(raw.name)
    # GStreamer's RTSP server library is unpacked privately by tools/setup.
    gst = os.environ.get("SUITE_GST_RTSP_DIR", "/opt/kestrune/gst-rtsp-server")
    lib = os.path.join(gst, "usr/lib/x86_64-linux-gnu")
    env = dict(os.environ, LD_LIBRARY_PATH=lib, GI_TYPELIB_PATH=os.path.join(lib, "girepository-1.0"))
    server = subprocess.Popen(["/usr/bin/python3", "-c", SERVER, tmp.name], stdout=subprocess.PIPE, text=True,
                              env=env)
    try:
        port = int(server.stdout.readline())
        stats = [None] * clients
        ready = threading.Barrier(clients + 1, timeout=60)
        deadline = time.time() + seconds + 30
        threads = [threading.Thread(target=client, args=(port, stats, i, ready, deadline), daemon=True)
                   for i in range(clients)]
        cpu0 = cpu_seconds(server.pid)
        t0 = time.time()
        for t in threads:
            t.start()
        ready.wait()
        for t in threads:
            t.join(seconds + 40)
        cpu = cpu_seconds(server.pid) - cpu0
        # Per second of streaming: from the first unit to the last.
        arrivals = [u[1] for st in stats if st for u in st["units"]]
        wall = (max(arrivals) - min(arrivals)) if arrivals else time.time() - t0
    finally:
        server.kill()
        os.unlink(tmp.name)
    summary = rtsp_client.summarize(stats, -1)
    failures = sorted({st["error"] for st in stats if st and st.get("error")})
    if failures:
        print("client errors:", failures[:3])
    print("gstreamer: %d clients, %.1f s, server CPU %.3f s (%.2f%% of a core; %.3f ms CPU per client per second)"
          % (clients, wall, cpu, 100 * cpu / wall, 1000 * cpu / wall / clients))
    for k, v in sorted(summary.items()):
        print(k, v)


if __name__ == "__main__":
    main()
