#!/usr/bin/python3
"""The download client's peer: an HTTP server of the suite's download dialect
on 127.0.0.1, started once per test run (a CTest fixture, so the Windows
builds under Wine reach it too) and ending by itself.

  download_peer.py start DIR SECONDS CLIP   writes DIR/http.port
  download_peer.py stop DIR
  download_peer.py serve DIR SECONDS CLIP [PORT] [RATE]   in the foreground

The clip is cut into parts: every byte range that holds no media packet
(ftyp, udta, the mdat headers, moov) is a header part with playbackTime=0,
sent first; the packets (as ffprobe lists them) form parts of up to 16 KB of
one track each, sent in time order with rising playbackTime. A request for
"Range: milliseconds=T" (T > 0) gets the media parts from the first whose
playbackTime is T on. Every request read is appended to DIR/<name>.log,
<name> being the URL's last path segment without ".mp4", so each test case
uses a name of its own.

The URL's first path segment picks the behaviour (MODES); "throttle<N>"
sends at most N bytes per second; "stall<K>" stops inside part K of the
first media request of a name until the client goes away; "describe<S>" and
"media<S>" answer status S with a text/message body.
"""
import json
import os
import random
import re
import signal
import socket
import subprocess
import sys
import threading
import time

BOUNDARY = "KRDL-part-boundary"
CHUNK = 16 * 1024

# mode -> what it changes
MODES = {
    "plain": {},
    "quoted": {"quoted": True},             # boundary="..." in the answer
    "shuffled": {"shuffle": True},
    "split": {"split": True},               # every header byte in a send of its own
    "textmsg": {"describe_text": "Clip is being prepared."},
    "closepart": {"close_in_part": 2},      # closes inside the third part
    "closebetween": {"close_after": 2},     # closes after the second part
    "silent": {"silent_media": True},       # reads the media request, answers nothing
    "nodelimiter": {"bad_part": "delimiter"},
    "notime": {"bad_part": "time"},
    "badrange": {"bad_part": "range"},
    "longheader": {"long_header": True},
    "badtype": {"describe_type": "text/html"},
    "toolong": {"length_extra": 1},         # announces one byte more than storage allows
    "hugeheader": {"huge_header": True},     # a header beyond the client's buffer
    "longmessage": {},                      # a 403 whose text/message is 300 characters
}
STATUS = {
    400: "Bad Request", 403: "Forbidden", 404: "Not Found", 409: "Conflict",
    405: "Method Not Allowed", 412: "Precondition Failed", 415: "Unsupported Media Type",
    416: "Requested Range Not Satisfiable", 500: "Internal Server Error",
    501: "Method Not Supported", 503: "Service Unavailable", 505: "HTTP Version Not Supported",
}


def plan_parts(clip):
    data = open(clip, "rb").read()
    if not clip.endswith(".mp4"):
        # Any other file (the benchmark's): 64 KB parts, 40 ms of play each.
        step = 4 * CHUNK
        return data, [(a, min(a + step, len(data)) - 1, (a // step) * 40) for a in range(0, len(data), step)]
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "packet=stream_index,pts_time,pos,size",
                          "-of", "json", clip], capture_output=True, check=True, text=True).stdout
    packets = []
    for p in json.loads(out)["packets"]:
        if p.get("pos") in (None, "N/A"):
            continue
        packets.append((int(p["pos"]), int(p["size"]), int(p["stream_index"]),
                        int(round(float(p.get("pts_time", "0")) * 1000))))
    packets.sort()
    chunks = []  # [start, end, stream, min_ms]
    for pos, size, stream, ms in packets:
        last = chunks[-1] if chunks else None
        if last and last[1] == pos and last[2] == stream and pos + size - last[0] <= CHUNK:
            last[1] = pos + size
            last[3] = min(last[3], ms)
        else:
            chunks.append([pos, pos + size, stream, ms])
    headers, at = [], 0
    for start, end, _, _ in chunks:
        if start > at:
            headers.append((at, start))
        at = max(at, end)
    if at < len(data):
        headers.append((at, len(data)))
    parts = [(a, b - 1, 0) for a, b in headers]
    previous = 0
    for start, end, _, ms in sorted(chunks, key=lambda c: (c[3], c[0])):
        previous = max(ms, previous + 1)
        parts.append((start, end - 1, previous))
    return data, parts


def sdp(name):
    return ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=%s\r\nt=0 0\r\na=range:npt=0-20.000\r\n"
            "a=content_version:3.0\r\na=creation_date:20261210T120000\r\n"
            "m=video 0 RTP/AVP 96\r\nb=AS:64\r\na=rtpmap:96 MP4V-ES/90000\r\na=control:trackID=1\r\n"
            "m=audio 0 RTP/AVP 97\r\nb=AS:24\r\na=rtpmap:97 AAC/16000\r\n"
            "a=fmtp:97 config=1408\r\n"
            "a=control:trackID=2\r\n" % name)


class Peer:
    def __init__(self, logdir, clip, port=0, rate=0):
        self.logdir = logdir
        self.data, self.parts = plan_parts(clip)
        self.rate = rate
        self.media_requests = {}
        self.lock = threading.Lock()
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", port))
        self.sock.listen(32)
        self.port = self.sock.getsockname()[1]
        with open(os.path.join(logdir, "parts.json"), "w") as f:
            json.dump(self.parts, f)

    def serve(self):
        while True:
            conn, _ = self.sock.accept()
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self.connection, args=(conn,), daemon=True).start()

    def read_request(self, conn, pending):
        while b"\r\n\r\n" not in pending:
            got = conn.recv(4096)
            if not got:
                return None, b""
            pending += got
        head, rest = pending.split(b"\r\n\r\n", 1)
        return head.decode("latin-1") + "\r\n\r\n", rest

    def log(self, name, text):
        with self.lock, open(os.path.join(self.logdir, name + ".log"), "a", newline="") as f:
            f.write(text + "=====\n")

    def send(self, conn, data, split=False, rate=0):
        if split:
            for i in range(len(data)):
                conn.sendall(data[i:i + 1])
                time.sleep(0.0005)
            return
        if not rate:
            conn.sendall(data)
            return
        step = max(1, rate // 20)
        for i in range(0, len(data), step):
            conn.sendall(data[i:i + step])
            time.sleep(0.05)

    def connection(self, conn):
        pending = b""
        try:
            while True:
                text, pending = self.read_request(conn, pending)
                if text is None:
                    return
                line = text.split("\r\n", 1)[0]
                m = re.match(r"GET (\S+) HTTP/1.1", line)
                url = m.group(1) if m else ""
                path = re.sub(r"^[a-z]+://[^/]*", "", url)
                segments = [s for s in path.split("/") if s]
                mode = segments[0] if segments else "plain"
                name = segments[-1][:-4] if segments and segments[-1].endswith(".mp4") else "unnamed"
                opts = dict(MODES.get(mode, {}))
                st = re.match(r"stall(\d+)$", mode)
                if st:  # stops inside part N (first media request of a name only)
                    opts["stall_in_part"] = int(st.group(1))
                tm = re.match(r"throttle(\d+)$", mode)
                opts["rate"] = int(tm.group(1)) if tm else self.rate
                sm = re.match(r"(describe|media)(\d{3})$", mode)
                self.log(name, text)
                if mode == "longmessage":
                    self.error(conn, 403, ("".join(chr(65 + i % 26) for i in range(300))).encode())
                    return
                if "Accept: application/sdp" in text:
                    if sm and sm.group(1) == "describe":
                        self.error(conn, int(sm.group(2)))
                        return
                    self.describe(conn, name, opts)
                elif "Accept: application/x-mp4" in text:
                    if sm and sm.group(1) == "media":
                        self.error(conn, int(sm.group(2)))
                        return
                    self.media(conn, name, text, opts)
                    return
                else:
                    return
        except (BrokenPipeError, ConnectionResetError, OSError):
            pass
        finally:
            conn.close()

    def error(self, conn, code, body=None):
        body = body or b"Server says %d for this clip." % code
        head = ("HTTP/1.1 %d %s\r\nContent-Type: text/message\r\nContent-Length: %d\r\n\r\n"
                % (code, STATUS[code], len(body))).encode()
        conn.sendall(head + body)

    def describe(self, conn, name, opts):
        if "describe_text" in opts:
            body = opts["describe_text"].encode()
            ctype = "text/message"
        else:
            body = sdp(name).encode()
            ctype = opts.get("describe_type", "application/sdp")
        head = "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %d\r\n" % (ctype, len(body))
        if opts.get("huge_header"):
            head += "X-Padding: %s\r\n" % ("p" * 5000)
        self.send(conn, (head + "\r\n").encode() + body, opts.get("split", False), opts["rate"])

    def media(self, conn, name, text, opts):
        with self.lock:
            count = self.media_requests.get(name, 0)
            self.media_requests[name] = count + 1
        if opts.get("silent_media"):
            time.sleep(30)
            return
        m = re.search(r"Range: milliseconds=(-?\d+)", text)
        start = int(m.group(1)) if m else 0
        parts = list(self.parts)
        if start > 0:
            first = next((i for i, p in enumerate(parts) if p[2] >= start), len(parts))
            parts = parts[first:]
        if opts.get("shuffle"):
            random.Random(26).shuffle(parts)
        length = sum(p[1] - p[0] + 1 for p in parts) + opts.get("length_extra", 0)
        sm = re.search(r"storageSize=(\d+)", text)
        if opts.get("length_extra") and sm:
            length = int(sm.group(1)) + 1
        boundary = '"%s"' % BOUNDARY if opts.get("quoted") else BOUNDARY
        head = ("HTTP/1.1 200 OK\r\nContent-Type: multipart/byteranges; boundary=%s\r\n"
                "Content-Length: %d\r\n\r\n" % (boundary, length))
        if opts.get("long_header"):
            head = head[:-2] + "X-Note: %s\r\n\r\n" % ("n" * 1500)
        split, rate = opts.get("split", False), opts["rate"]
        self.send(conn, head.encode(), split, rate)
        for i, (a, b, ms) in enumerate(parts):
            if opts.get("close_after") == i:
                return
            delimiter = "--" + BOUNDARY
            bad = opts.get("bad_part") if i == 1 else None
            if bad == "delimiter":
                delimiter = "--other"
            crange = "Content-Range: bytes %d-%d\r\n" % (a, b)
            if bad == "range":
                crange = "Content-Range: bytes %d-%d\r\n" % (b, len(self.data) + 10)
            ptime = "" if bad == "time" else "; playbackTime=%d" % ms
            part_head = ("\r\n" if i else "") + delimiter + "\r\n" + crange + \
                "Content-Type: application/x-mp4%s\r\n\r\n" % ptime
            self.send(conn, part_head.encode(), split, rate)
            body = self.data[a:b + 1]
            if opts.get("close_in_part") == i:
                self.send(conn, body[:len(body) // 2], False, rate)
                return
            if opts.get("stall_in_part") == i and count == 0:
                self.send(conn, body[:len(body) // 2], False, rate)
                conn.settimeout(30)
                try:
                    conn.recv(1)  # until the client goes away
                except OSError:
                    pass
                return
            self.send(conn, body, False, rate)
        self.send(conn, ("\r\n--" + BOUNDARY + "--\r\n").encode())


def serve(logdir, seconds, clip, port=0, rate=0):
    os.makedirs(logdir, exist_ok=True)
    peer = Peer(logdir, clip, port, rate)
    with open(os.path.join(logdir, "http.port.tmp"), "w") as f:
        f.write(str(peer.port))
    os.replace(os.path.join(logdir, "http.port.tmp"), os.path.join(logdir, "http.port"))
    threading.Timer(seconds, lambda: os._exit(0)).start()
    peer.serve()


def main():
    cmd, logdir = sys.argv[1], sys.argv[2]
    pidfile = os.path.join(logdir, "peer.pid")
    if cmd == "stop":
        try:
            os.kill(int(open(pidfile).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        return
    seconds, clip = float(sys.argv[3]), sys.argv[4]
    if cmd == "serve":
        serve(logdir, seconds, clip, int(sys.argv[5]) if len(sys.argv) > 5 else 0,
              int(sys.argv[6]) if len(sys.argv) > 6 else 0)
        return
    os.makedirs(logdir, exist_ok=True)
    for f in os.listdir(logdir):
        if f.endswith(".log") or f == "http.port":
            os.remove(os.path.join(logdir, f))
    proc = subprocess.Popen([sys.executable, __file__, "serve", logdir, str(seconds), clip],
                            stdout=subprocess.DEVNULL, stderr=open(os.path.join(logdir, "peer.err"), "w"),
                            start_new_session=True)
    with open(pidfile, "w") as f:
        f.write(str(proc.pid))
    deadline = time.time() + 30
    while time.time() < deadline:
        if os.path.exists(os.path.join(logdir, "http.port")):
            return
        if proc.poll() is not None:
            sys.exit("download peer ended: see %s" % os.path.join(logdir, "peer.err"))
        time.sleep(0.05)
    sys.exit("download peer did not start")


if __name__ == "__main__":
    main()
