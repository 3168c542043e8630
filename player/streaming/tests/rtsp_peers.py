#!/usr/bin/python3
"""The RTSP client's peers, started once per test run (a CTest fixture, so
the Windows builds under Wine reach them too) and ending by themselves:

- GStreamer's RTSP server (gst-rtsp-server through python gi) with a mount
  /test whose session carries ";timeout=30" and whose RTP starts at
  sequence number 4321 and time 123456789, and a mount /av serving the
  fixtures tests/data/src.m4v (one picture per buffer, 15 a second) and
  tests/data/src.amr, so that a client's frames can be compared with them
  (its range is open, "npt=0-": the end comes as RTCP BYE), and a mount
  /play of twelve seconds of both, a clip whose range has its end, for the
  player;
- a scripted server of the suite's dialect: its behaviour is chosen by the
  URL path (see SCRIPTS), it echoes probe datagrams on its server ports, and
  it logs every request it reads to LOGDIR/<path>.log.

  rtsp_peers.py start DIR [SECONDS]   writes DIR/gst.port and DIR/scripted.port
  rtsp_peers.py stop DIR

GStreamer's RTSP server library is not installed as a package (its Debian
package pulls in outside codec libraries): tools/setup unpacks it privately
into SUITE_GST_RTSP_DIR (default /opt/kestrune/gst-rtsp-server)."""
import os
import re
import signal
import socket
import sys
import threading
import time

GST_DIR = os.environ.get("SUITE_GST_RTSP_DIR", "/opt/kestrune/gst-rtsp-server")
LIB = os.path.join(GST_DIR, "usr/lib/x86_64-linux-gnu")
TYPELIB = os.path.join(LIB, "girepository-1.0")

# GStreamer's payloader starts from these, so its RTP-Info is known.
GST_SEQ = 4321
GST_RTPTIME = 123456789

# Path (up to its first '.') -> behaviour. Every path answers DESCRIBE and SETUP; these change
# the rest.
SCRIPTS = {
    "plain": {},
    "krss": {"krss": True, "buffersize": 3000},
    "krss-notimeout": {"krss": True, "session": "KRSS0001"},
    "unsupported": {"play": 480},
    "eos": {"eos": True},
    "redirect": {"play": 302, "location": "rtsp://127.0.0.1:1/elsewhere"},
    "redirect-noloc": {"play": 302},
    "longsession": {"session": "L" * 40},
    "silent": {"silent": True},
    "pause500": {"pause": 500},
    "norange": {"norange": True},
    "redirect-long": {"play": 302, "location": "rtsp://127.0.0.1:1/" + "x" * 300},
    "still": {"still": True},
    "notransport": {"notransport": True},
    "bcd": {"session": "12345678"},
    "many": {"many": True},
}
STILL_IMAGE = bytes(range(256)) * 3


def sdp(path, script):
    if script.get("many"):
        # Eleven media: AAC (described, but not received in a stream), then ten AMR.
        media = ("m=audio 0 RTP/AVP 96\r\na=rtpmap:96 AAC/8000\r\na=fmtp:96 config=1588\r\n"
                 "a=control:trackID=0\r\n")
        for i in range(1, 11):
            media += "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/8000\r\na=control:trackID=%d\r\n" % i
        return ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=%s\r\ni=Eleven media\r\nt=0 0\r\n"
                "a=author:The author\r\na=copyright:The holder\r\na=control:*\r\n" % path) + media
    if script.get("still"):
        return ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=%s\r\nt=0 0\r\na=control:*\r\n"
                "m=application 0 RTP/AVP 98\r\na=control:image\r\n" % path)
    return ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=%s\r\nt=0 0\r\na=control:*\r\n" % path
            + ("" if script.get("norange") else "a=range:npt=0-60.000\r\n") +
            "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 AMR/8000\r\na=fmtp:97 octet-align=1\r\n"
            "a=control:trackID=1\r\n")


class Scripted:
    def __init__(self, logdir):
        self.logdir = logdir
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]

    def serve(self):
        while True:
            conn, _ = self.sock.accept()
            threading.Thread(target=self.connection, args=(conn,), daemon=True).start()

    def connection(self, conn):
        pending = b""
        udp = []
        try:
            while True:
                while b"\r\n\r\n" not in pending:
                    chunk = conn.recv(4096)
                    if not chunk:
                        return
                    pending += chunk
                head, _, pending = pending.partition(b"\r\n\r\n")
                text = head.decode("latin-1")
                length = re.search(r"(?i)content-length:\s*(\d+)", text)
                while length and len(pending) < int(length.group(1)):
                    pending += conn.recv(4096)
                request_body = pending[:int(length.group(1))] if length else b""
                pending = pending[len(request_body):]
                lines = text.split("\r\n")
                method, url, _ = lines[0].split(" ", 2)
                m = re.match(r"rtsp://[^/]+/([^/]+)", url)
                path = m.group(1) if m else ""
                with open(os.path.join(self.logdir, path + ".log"), "a") as log:
                    log.write(text + "\r\n\r\n")  # the body, if any, is not logged
                script = SCRIPTS.get(path.split(".")[0], {})  # "krss.a": a log of its own
                redirects = re.match(r"redirects-(\d+)", path)
                headers = {}
                for line in lines[1:]:
                    k, _, v = line.partition(":")
                    headers[k.strip().lower()] = v.strip()
                cseq = headers.get("cseq", "0")
                session = script.get("session", "S%s;timeout=60" % path.upper()[:8])
                extra = ["Session: " + session]
                if script.get("krss") and method == "SETUP":
                    extra.append("Server: KRSS/3.0")
                status, body = 200, ""
                if method == "DESCRIBE" and redirects and int(redirects.group(1)) > 0:
                    status = 301
                    extra = ["Location: rtsp://127.0.0.1:%d/redirects-%d" % (self.port, int(redirects.group(1)) - 1)]
                elif method == "DESCRIBE":
                    extra = ["Content-Base: rtsp://127.0.0.1:%d/%s/" % (self.port, path),
                             "Content-Type: application/sdp"]
                    body = sdp(path, script)
                elif method == "GET_PARAMETER":
                    body = STILL_IMAGE.decode("latin-1") if request_body == b"Image\r\n" else ""
                    status = 200 if body else 400
                elif method == "SETUP" and script.get("notransport"):
                    pass
                elif method == "SETUP":
                    ports = re.search(r"client_port=(\d+)-(\d+)", headers.get("transport", ""))
                    a, b = self.udp_pair(udp)
                    extra.append("Transport: RTP/AVP;unicast;client_port=%s-%s;server_port=%d-%d;ssrc=1234ABCD"
                                 % (ports.group(1), ports.group(2), a, b))
                    if "buffersize" in script:
                        extra.append("Buffersize: %d" % script["buffersize"])
                elif method == "PLAY":
                    if script.get("silent"):
                        continue
                    status = script.get("play", 200)
                    if status == 200:
                        extra += ["Range: npt=12.500-60.000",
                                  "RTP-Info: url=rtsp://127.0.0.1:%d/%s/trackID=1;seq=1000;rtptime=555555"
                                  % (self.port, path),
                                  "RTCP-Interval: 2500"]
                    elif status == 302 and "location" in script:
                        extra.append("Location: " + script["location"])
                    elif status == 480:
                        body = "Orlomer is not served here"
                elif method == "PAUSE":
                    status = script.get("pause", 200)
                elif method == "TEARDOWN":
                    if script.get("silent"):
                        continue
                phrase = {200: "OK", 301: "Moved Permanently", 302: "Moved Temporarily", 400: "Bad Request", 480: "Unsupported Client",
                          500: "Internal Server Error"}[status]
                answer = "RTSP/1.0 %d %s\r\nCSeq: %s\r\n" % (status, phrase, cseq)
                answer += "".join(h + "\r\n" for h in extra)
                if body:
                    answer += "Content-Length: %d\r\n" % len(body)
                conn.sendall((answer + "\r\n" + body).encode("latin-1"))
                if method == "PLAY" and script.get("eos"):
                    time.sleep(0.2)
                    conn.sendall(("END_OF_STREAM rtsp://127.0.0.1:%d/%s RTSP/1.0\r\nCSeq: 1\r\n\r\n"
                                  % (self.port, path)).encode())
        except OSError:
            return
        finally:
            conn.close()

    @staticmethod
    def udp_pair(keep):
        """An RTP/RTCP pair of UDP sockets that echo every datagram (the probes)."""
        for _ in range(50):
            rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            rtp.bind(("127.0.0.1", 0))
            port = rtp.getsockname()[1]
            if port % 2:
                rtp.close()
                continue
            rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            try:
                rtcp.bind(("127.0.0.1", port + 1))
            except OSError:
                rtp.close()
                continue
            keep += [rtp, rtcp]

            def echo(s):
                while True:
                    try:
                        data, addr = s.recvfrom(2048)
                        s.sendto(data, addr)
                    except OSError:
                        return
            threading.Thread(target=echo, args=(rtp,), daemon=True).start()
            return port, port + 1
        raise RuntimeError("no UDP pair")


def loopback_server():
    """GStreamer initialised and its RTSP server on 127.0.0.1 at a free port
    (not attached yet): (GLib, Gst, GstRtspServer, server)."""
    import gi
    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtspServer
    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    return GLib, Gst, GstRtspServer, server


def gst_server(folder):
    import subprocess
    clip = os.path.join(folder, "clip.m4v")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=15",
                    "-t", "60", "-c:v", "mpeg4", "-g", "15", "-bf", "0", "-threads", "1", "-f", "m4v", clip],
                   check=True)
    GLib, Gst, GstRtspServer, server = loopback_server()
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch("( filesrc location=%s ! video/mpeg,mpegversion=4,systemstream=false,"
                       "width=176,height=144,framerate=15/1 ! rtpmp4vpay name=pay0 pt=96 config-interval=1 "
                       "seqnum-offset=%d timestamp-offset=%d )"
                       % (clip, GST_SEQ, GST_RTPTIME))
    factory.set_shared(False)
    server.get_mount_points().add_factory("/test", factory)
    server.get_mount_points().add_factory(
        "/av", av_factory(Gst, GstRtspServer, os.path.join(DATA, "src.m4v"), os.path.join(DATA, "src.amr")))
    # Twelve seconds of both, longer than the player's default preroll.
    play_m4v, play_amr = os.path.join(folder, "play.m4v"), os.path.join(folder, "play.amr")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=15",
                    "-t", "12", "-c:v", "mpeg4", "-g", "15", "-bf", "0", "-threads", "1", "-f", "m4v", play_m4v],
                   check=True)
    write_amr(play_amr, 600)
    server.get_mount_points().add_factory("/play", av_factory(Gst, GstRtspServer, play_m4v, play_amr, True))
    # A timeout other than the default 60 s makes the server send it.
    server.connect("client-connected",
                   lambda _s, client: client.connect("new-session", lambda _c, session: session.set_timeout(30)))
    server.attach(None)
    threading.Thread(target=GLib.MainLoop().run, daemon=True).start()
    return server.get_bound_port()


DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


AMR_BYTES = [12, 13, 15, 17, 19, 20, 26, 31]


def write_amr(path, frames):
    """An AMR storage file of random speech bits (20 ms a frame; payloading
    does not decode them), its modes cycling."""
    import random
    rng = random.Random(7)
    with open(path, "wb") as f:
        f.write(b"#!AMR\n")
        for i in range(frames):
            mode = i % 8
            f.write(bytes([mode << 3 | 0x04]) + bytes(rng.randrange(256) for _ in range(AMR_BYTES[mode])))


def m4v_pictures(data):
    """One buffer per picture, headers in front of a picture kept with it (a
    buffer ends where the start code behind a VOP's own begins)."""
    starts = [i for i in range(len(data) - 3) if data[i] == 0 and data[i + 1] == 0 and data[i + 2] == 1]
    cuts = [0] + [b for a, b in zip(starts, starts[1:]) if data[a + 3] == 0xB6] + [len(data)]
    return [data[a:b] for a, b in zip(cuts, cuts[1:]) if b > a]


def av_factory(Gst, GstRtspServer, m4v, amr, known_length=False):
    """MPEG-4 pictures from an appsrc and AMR from the file. known_length:
    the appsrc names its duration, so the description's range has an end (a
    clip); else it is open ("npt=0-") and only RTCP BYE tells the end."""
    with open(m4v, "rb") as f:
        pictures = m4v_pictures(f.read())
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch("( appsrc name=vsrc format=time caps=video/mpeg,mpegversion=4,systemstream=false,"
                       "width=176,height=144,framerate=15/1 ! rtpmp4vpay name=pay0 pt=96 "
                       "filesrc location=%s ! amrparse ! rtpamrpay name=pay1 pt=97 )"
                       % amr)
    factory.set_shared(False)

    def configure(_factory, media):
        src = media.get_element().get_by_name_recurse_up("vsrc")
        if known_length:
            src.set_property("duration", len(pictures) * Gst.SECOND // 15)
        state = {"next": 0}

        def need(appsrc, _length):
            i = state["next"]
            if i >= len(pictures):
                appsrc.emit("end-of-stream")
                return
            buf = Gst.Buffer.new_wrapped(pictures[i])
            buf.pts = buf.dts = i * Gst.SECOND // 15
            buf.duration = Gst.SECOND // 15
            state["next"] = i + 1
            appsrc.emit("push-buffer", buf)
        src.connect("need-data", need)
    factory.connect("media-configure", configure)
    return factory


def run(folder, lifetime):
    scripted = Scripted(folder)
    threading.Thread(target=scripted.serve, daemon=True).start()
    with open(os.path.join(folder, "scripted.port.tmp"), "w") as f:
        f.write("%d\n" % scripted.port)
    os.replace(os.path.join(folder, "scripted.port.tmp"), os.path.join(folder, "scripted.port"))
    try:
        port = gst_server(folder)
        name = "gst.port"
        text = "%d\n" % port
    except Exception as e:  # noqa: BLE001 - the reason goes to the test
        name = "gst.error"
        text = "GStreamer's RTSP server could not start: %s (tools/setup unpacks it into %s)\n" % (e, GST_DIR)
    with open(os.path.join(folder, name), "w") as f:
        f.write(text)
    time.sleep(lifetime)


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    folder = os.path.abspath(sys.argv[2])
    pidfile = os.path.join(folder, "peers.pid")
    if sys.argv[1] == "stop":
        try:
            os.kill(int(open(pidfile).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        return
    lifetime = int(sys.argv[3]) if len(sys.argv) > 3 else 900
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if name.endswith((".port", ".error", ".log")):
            os.remove(os.path.join(folder, name))
    env = dict(os.environ, LD_LIBRARY_PATH=LIB, GI_TYPELIB_PATH=TYPELIB)
    pid = os.fork()
    if pid == 0:
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        os.execve(sys.executable, [sys.executable, os.path.abspath(__file__), "serve", folder, str(lifetime)], env)
    with open(pidfile, "w") as f:
        f.write(str(pid))
    deadline = time.time() + 20
    while time.time() < deadline:
        names = os.listdir(folder)
        if "scripted.port" in names and ("gst.port" in names or "gst.error" in names):
            return
        time.sleep(0.1)
    sys.exit("rtsp_peers: the peers did not start within 20 s")


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "serve":
        run(sys.argv[2], int(sys.argv[3]))
    else:
        main()
