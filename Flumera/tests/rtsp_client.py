#!/usr/bin/python3
"""A client of the live stream server's RTSP dialect, with sockets only.

As a module: RtspClient (DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN,
GET_PARAMETER; "$"-framed media read in the same connection), parse_sdp, and
the depacketisers of the server's payloads (KRMP4V-ES video entry tables,
octet-aligned AMR).

As a program:
  rtsp_client.py describe URL            prints the SDP and exits
  rtsp_client.py receive URL --out DIR   plays until END_OF_STREAM, writes
      DIR/video.m4v (the units one after another), DIR/video_sizes.txt,
      DIR/audio.amr (RFC 4867 storage), DIR/result.json; with --ffmpeg the
      dumps are decoded too (ffmpeg -xerror, ffmpeg -f amr)
  rtsp_client.py many URL --clients N [--slow K] --out DIR
      N clients at once (client K reads slowly); per client the units in
      order and their arrival times, in DIR/many.json
Every mode ends by itself: --timeout bounds it (default 60 s). --done FILE is
written last (for callers that cannot wait for the process).
"""
import argparse
import json
import os
import re
import select
import socket
import struct
import subprocess
import sys
import threading
import time

AMR_SPEECH_BYTES = [12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0]


class RtspError(Exception):
    pass


class RtspClient:
    """One RTSP connection; replies and "$" frames are read from one stream."""

    def __init__(self, host, port, timeout=10.0, user_agent="KestruneTest/1.0", rcvbuf=None):
        # A server's listener may open a moment after the test starts us
        # (on a loaded machine later than the test's first wait): a refused
        # connection is tried again for a while, on a new socket each time.
        deadline = time.monotonic() + 15.0
        while True:
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            if rcvbuf:
                # A small window, so a slow reader's backlog stays at the server.
                self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
            self.sock.settimeout(timeout)
            try:
                self.sock.connect((host, port))
                break
            except ConnectionRefusedError:
                self.sock.close()
                if time.monotonic() >= deadline:
                    raise
                time.sleep(0.2)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""
        self.cseq = 0
        self.session = None
        self.frames = []  # "$" frames read while waiting for a reply
        self.notices = []  # messages the server sends on its own (END_OF_STREAM)
        self.user_agent = user_agent
        self.closed = False

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def _fill(self, deadline=None):
        if deadline is not None:
            left = deadline - time.time()
            if left <= 0:
                raise socket.timeout()
            ready, _, _ = select.select([self.sock], [], [], left)
            if not ready:
                raise socket.timeout()
        chunk = self.sock.recv(65536)
        if not chunk:
            self.closed = True
            raise ConnectionError("connection closed by the server")
        self.pending += chunk

    def read_item(self, deadline=None):
        """The next item: ("frame", channel, bytes) or ("message", text, body)."""
        while True:
            p = self.pending
            if p[:1] == b"$":
                if len(p) >= 4:
                    length = struct.unpack(">H", p[2:4])[0]
                    if len(p) >= 4 + length:
                        self.pending = p[4 + length:]
                        return ("frame", p[1], p[4:4 + length])
            elif p:
                end = p.find(b"\r\n\r\n")
                if end >= 0:
                    head = p[:end + 4]
                    m = re.search(rb"(?i)content-length:\s*(\d+)", head)
                    length = int(m.group(1)) if m else 0
                    if len(p) >= end + 4 + length:
                        self.pending = p[end + 4 + length:]
                        return ("message", head.decode("latin-1"), p[end + 4:end + 4 + length])
            self._fill(deadline)

    def request(self, method, url, headers="", timeout=10.0, raw=None):
        """Sends a request and returns (status, head, body); frames and
        notices that arrive first are kept."""
        self.cseq += 1
        if raw is None:
            text = "%s %s RTSP/1.0\r\nCSeq: %d\r\nUser-Agent: %s\r\n" % (method, url, self.cseq, self.user_agent)
            if self.session is not None and "Session:" not in headers:
                text += "Session: %s\r\n" % self.session
            raw = (text + headers + "\r\n").encode()
        self.sock.sendall(raw)
        deadline = time.time() + timeout
        while True:
            kind, a, b = self.read_item(deadline)
            if kind == "frame":
                self.frames.append((a, b))
                continue
            if a.startswith("RTSP/1.0"):
                status = int(a.split()[1])
                m = re.search(r"(?i)session:\s*([^;\s]+)", a)
                if m and status == 200:
                    self.session = m.group(1)
                return status, a, b
            self.notices.append(a)

    def describe(self, url):
        status, head, body = self.request("DESCRIBE", url, "Accept: application/sdp\r\n")
        if status != 200:
            raise RtspError("DESCRIBE answered %d" % status)
        return body.decode("utf-8")

    def setup(self, url, extra=""):
        return self.request("SETUP", url, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\n" + extra)

    def play(self, url):
        return self.request("PLAY", url, "Range: npt=0-\r\n")

    def media(self, deadline, slow_chunk=None, slow_sleep=0.0):
        """Yields ("frame", channel, packet) and ("message", text, body) until
        END_OF_STREAM or the connection closes. With slow_chunk the socket is
        read in small pieces with pauses (a slow reader)."""
        for channel, packet in self.frames:
            yield ("frame", channel, packet)
        self.frames = []
        for n in self.notices:
            yield ("message", n, b"")
            if n.startswith("END_OF_STREAM"):
                return
        while time.time() < deadline:
            if slow_chunk:
                item = self._slow_item(deadline, slow_chunk, slow_sleep)
            else:
                try:
                    item = self.read_item(deadline)
                except (ConnectionError, OSError):
                    return
            if item is None:
                return
            yield item
            if item[0] == "message" and item[1].startswith("END_OF_STREAM"):
                return

    def _slow_item(self, deadline, chunk, pause):
        while True:
            p = self.pending
            if p[:1] == b"$" and len(p) >= 4 and len(p) >= 4 + struct.unpack(">H", p[2:4])[0]:
                return self.read_item(deadline)
            if p[:1] not in (b"$", b"") and b"\r\n\r\n" in p:
                return self.read_item(deadline)
            if time.time() >= deadline:
                return None
            time.sleep(pause)
            try:
                ready, _, _ = select.select([self.sock], [], [], max(0.0, deadline - time.time()))
                if not ready:
                    return None
                data = self.sock.recv(chunk)
            except OSError:
                return None
            if not data:
                return None
            self.pending += data


def parse_sdp(text):
    """Session lines and media: [{"type", "pt", "rtpmap", "fmtp"}]."""
    session, media = {}, []
    for line in text.split("\r\n"):
        line = line.strip()
        if not line or "=" not in line:
            continue
        key, value = line.split("=", 1)
        if key == "m":
            parts = value.split()
            media.append({"type": parts[0], "proto": parts[2], "pt": int(parts[3]) if len(parts) > 3 and parts[3].isdigit() else None,
                          "rtpmap": None, "fmtp": {}})
        elif key == "a" and media:
            if value.startswith("rtpmap:"):
                media[-1]["rtpmap"] = value.split(" ", 1)[1]
            elif value.startswith("fmtp:"):
                for item in value.split(" ", 1)[1].split(";"):
                    if "=" in item:
                        k, v = item.split("=", 1)
                        media[-1]["fmtp"][k] = v
        else:
            session.setdefault(key, []).append(value)
    return session, media


def rtp_header(packet):
    if len(packet) < 12 or packet[0] >> 6 != 2:
        raise ValueError("not an RTP packet")
    return {"marker": bool(packet[1] & 0x80), "pt": packet[1] & 0x7F,
            "seq": struct.unpack(">H", packet[2:4])[0], "ts": struct.unpack(">I", packet[4:8])[0],
            "ssrc": struct.unpack(">I", packet[8:12])[0]}


class VideoDepacketizer:
    """KRMP4V-ES: a table of entries (4-byte word whose first byte holds the
    unit's header byte shifted by two and a follow bit, the time except on
    the first entry, the size), then the units or pieces."""

    def __init__(self):
        self.piece = b""
        self.units = []  # (time_ms, header_byte, bytes)

    def feed(self, packet):
        h = rtp_header(packet)
        payload = packet[12:]
        entries, at, first = [], 0, True
        while True:
            word = payload[at]
            at += 4
            if first:
                t = None
            else:
                t = struct.unpack(">I", payload[at:at + 4])[0]
                at += 4
            size = struct.unpack(">I", payload[at:at + 4])[0]
            at += 4
            entries.append(((word >> 2) & 0x1F, t, size))
            first = False
            if not word & 0x80:
                break
        data = payload[at:]
        if len(entries) == 1 and not h["marker"]:
            self.piece += data[:entries[0][2]]
            return []
        done = []
        for header, t, size in entries:
            unit, data = data[:size], data[size:]
            if self.piece:
                unit, self.piece = self.piece + unit, b""
            # The first entry has no time word: the RTP time (clock 1000) stands in.
            done.append((h["ts"] if t is None else t, header, unit))
        self.units.extend(done)
        return done


class AmrDepacketizer:
    """Octet-aligned AMR: payload header, table of contents, speech bytes."""

    def __init__(self):
        self.frames = []  # (frame type, speech bytes)

    def feed(self, packet):
        payload = packet[12:]
        toc, at = [], 1
        while True:
            b = payload[at]
            at += 1
            toc.append((b >> 3) & 0x0F)
            if not b & 0x80:
                break
        out = []
        for ft in toc:
            n = AMR_SPEECH_BYTES[ft]
            out.append((ft, payload[at:at + n]))
            at += n
        self.frames.extend(out)
        return out


def session_media(sdp):
    session, media = parse_sdp(sdp)
    kinds = {}
    for m in media:
        codec = (m["rtpmap"] or "").split("/")[0]
        if m["type"] == "video":
            kinds[m["pt"]] = "video"
        elif codec == "AMR":
            kinds[m["pt"]] = "amr"
    return kinds, media


def receive(url, out, timeout, use_ffmpeg, last_ts=None):
    host, port = re.match(r"rtsp://([^:/]+):(\d+)", url).groups()
    c = RtspClient(host, int(port))
    sdp = c.describe(url)
    kinds, media = session_media(sdp)
    status, _, _ = c.setup(url)
    result = {"sdp": sdp, "setup": status}
    status, _, _ = c.play(url)
    result["play"] = status
    video, amr = VideoDepacketizer(), AmrDepacketizer()
    seqs, ssrcs, eos = {}, set(), False
    deadline = time.time() + timeout
    for item in c.media(deadline):
        if item[0] == "message":
            eos = eos or item[1].startswith("END_OF_STREAM")
            continue
        packet = item[2]
        h = rtp_header(packet)
        ssrcs.add(h["ssrc"])
        seqs.setdefault(h["pt"], []).append(h["seq"])
        kind = kinds.get(h["pt"])
        if kind == "video":
            for t, _, _ in video.feed(packet):
                if last_ts is not None and t >= last_ts:
                    os.makedirs(out, exist_ok=True)
                    with open(os.path.join(out, "last"), "w") as f:
                        f.write("%d\n" % t)
        elif kind == "amr":
            amr.feed(packet)
    c.close()
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "video.m4v"), "wb") as f:
        for _, _, unit in video.units:
            f.write(unit)
    with open(os.path.join(out, "video_sizes.txt"), "w") as f:
        f.write("".join("%d %d\n" % (len(u), t or 0) for t, _, u in video.units))
    with open(os.path.join(out, "audio.amr"), "wb") as f:
        f.write(b"#!AMR\n")
        for ft, speech in amr.frames:
            f.write(bytes([(ft << 3) | 4]) + speech)
    result.update({"video_units": len(video.units), "amr_frames": len(amr.frames), "end_of_stream": eos,
                   "ssrcs": sorted(ssrcs),
                   "sequences_in_order": all(all((b - a) & 0xFFFF == 1 for a, b in zip(s, s[1:])) for s in seqs.values())})
    if use_ffmpeg:
        for name, args in (("video_decodes", ["-f", "m4v", "-i", os.path.join(out, "video.m4v")]),
                           ("amr_decodes", ["-f", "amr", "-i", os.path.join(out, "audio.amr")])):
            p = subprocess.run(["ffmpeg", "-v", "error", "-xerror"] + args + ["-f", "null", "-"],
                               capture_output=True, text=True, timeout=60)
            result[name] = p.returncode == 0 and not p.stderr.strip()
            result[name + "_errors"] = p.stderr[-2000:]
    with open(os.path.join(out, "result.json"), "w") as f:
        json.dump(result, f, indent=1)
    return result


def many(url, out, clients, slow, timeout, last_ts=None):
    """N clients at once; per client the units received (time, arrival)."""
    host, port = re.match(r"rtsp://([^:/]+):(\d+)", url).groups()
    deadline = time.time() + timeout
    stats = [None] * clients
    ready = threading.Barrier(clients + 1, timeout=timeout)

    def run(i):
        s = {"units": [], "eos": False, "error": None, "play": None}
        stats[i] = s
        try:
            c = RtspClient(host, int(port), timeout=timeout, rcvbuf=4096 if i == slow else None)
            kinds, _ = session_media(c.describe(url))
            c.setup(url)
            s["play"] = c.play(url)[0]
        except Exception as e:  # noqa: BLE001 - reported in the result
            s["error"] = repr(e)
            try:
                ready.wait()
            except threading.BrokenBarrierError:
                pass
            return
        try:
            ready.wait()
        except threading.BrokenBarrierError:
            pass
        video = VideoDepacketizer()
        slow_args = {"slow_chunk": 256, "slow_sleep": 0.05} if i == slow else {}
        try:
            for item in c.media(deadline, **slow_args):
                if item[0] == "message":
                    s["eos"] = s["eos"] or item[1].startswith("END_OF_STREAM")
                    continue
                packet = item[2]
                if kinds.get(rtp_header(packet)["pt"]) != "video":
                    continue
                now = time.time()
                for t, _, unit in video.feed(packet):
                    s["units"].append((t, now, len(unit)))
                    if last_ts is not None and i != slow and t >= last_ts:
                        # Tells the feeding side that the stream has gone out.
                        with open(os.path.join(out, "many_last"), "w") as f:
                            f.write("%d\n" % i)
        except Exception as e:  # noqa: BLE001
            s["error"] = repr(e)
        c.close()

    threads = [threading.Thread(target=run, args=(i,), daemon=True) for i in range(clients)]
    for t in threads:
        t.start()
    try:
        ready.wait()
    except threading.BrokenBarrierError:
        pass
    with open(os.path.join(out, "many_ready"), "w") as f:
        f.write("ready\n")
    for t in threads:
        t.join(max(0.0, deadline - time.time()) + 1)
    os.makedirs(out, exist_ok=True)
    summary = summarize(stats, slow)
    with open(os.path.join(out, "many.json"), "w") as f:
        json.dump({"summary": summary, "clients": stats, "slow": slow}, f)
    with open(os.path.join(out, "many_summary.txt"), "w") as f:
        f.write("".join("%s %s\n" % (k, v) for k, v in sorted(summary.items())))
    return stats


def percentile(values, p):
    if not values:
        return -1.0
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100.0 * (len(v) - 1))))]


def summarize(stats, slow):
    """Per-unit latency: arrival minus the unit's media time, against the
    earliest arrival of that unit at any client (so both clocks cancel)."""
    first = {}
    for s in stats:
        for t, arrival, _ in (s or {}).get("units", []):
            first[t] = min(first.get(t, arrival), arrival)
    fast_lat, slow_lat, counts, in_order, errors, eos, nbytes = [], [], [], True, 0, True, 0
    slow_in_order, slow_units = True, 0
    for i, s in enumerate(stats):
        if not s or s.get("error"):
            errors += 1
            continue
        ts = [u[0] for u in s["units"]]
        ordered = all(b > a for a, b in zip(ts, ts[1:]))
        lat = [(arrival - first[t]) * 1000.0 for t, arrival, _ in s["units"]]
        nbytes += sum(u[2] for u in s["units"])
        if i == slow:
            slow_in_order, slow_units = ordered, len(ts)
            slow_lat.extend(lat)
        else:
            in_order = in_order and ordered
            counts.append(len(ts))
            fast_lat.extend(lat)
            eos = eos and s["eos"]
    arrivals = [u[1] for s in stats if s for u in s.get("units", [])]
    span = (max(arrivals) - min(arrivals)) if arrivals else 0.0
    return {"clients": len(stats), "errors": errors, "fast_units_min": min(counts) if counts else 0,
            "fast_units_max": max(counts) if counts else 0, "fast_in_order": int(in_order),
            "fast_eos": int(eos), "slow_in_order": int(slow_in_order), "slow_units": slow_units,
            "fast_p50_ms": round(percentile(fast_lat, 50), 2), "fast_p99_ms": round(percentile(fast_lat, 99), 2),
            "slow_p99_ms": round(percentile(slow_lat, 99), 2), "slow_max_ms": round(max(slow_lat) if slow_lat else -1, 2),
            "mbit_per_s": round(nbytes * 8 / span / 1e6, 3) if span > 0 else 0.0}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("mode", choices=["describe", "receive", "many"])
    ap.add_argument("url")
    ap.add_argument("--out", default=".")
    ap.add_argument("--timeout", type=float, default=60.0)
    ap.add_argument("--ffmpeg", action="store_true")
    ap.add_argument("--clients", type=int, default=64)
    ap.add_argument("--slow", type=int, default=-1)
    ap.add_argument("--done", default=None)
    ap.add_argument("--last-ts", type=int, default=None, help="write many_last (many) or last (receive) when a unit of this time arrives")
    a = ap.parse_args()
    code = 0
    try:
        if a.mode == "describe":
            host, port = re.match(r"rtsp://([^:/]+):(\d+)", a.url).groups()
            c = RtspClient(host, int(port), timeout=a.timeout)
            sys.stdout.write(c.describe(a.url))
            c.close()
        elif a.mode == "receive":
            receive(a.url, a.out, a.timeout, a.ffmpeg, a.last_ts)
        else:
            many(a.url, a.out, a.clients, a.slow, a.timeout, a.last_ts)
    except Exception as e:  # noqa: BLE001 - the caller reads the done file
        sys.stderr.write("rtsp_client: %r\n" % e)
        code = 1
    if a.done:
        with open(a.done, "w") as f:
            f.write("%d\n" % code)
    return code


if __name__ == "__main__":
    sys.exit(main())
