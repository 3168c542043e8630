#!/usr/bin/python3
"""Captures the answers of GStreamer's RTSP server to a client session
(OPTIONS, DESCRIBE, SETUP per track, PLAY, TEARDOWN) into data/, once, for the
reader tests. Also writes header values composed by GstRtsp that our parsers
must read. Run with Debian's python3 (python3-gi, gir1.2-gst-rtsp-server-1.0)."""
import os
import re
import socket
import sys
import threading

import gi
gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def serve():
    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(
        "( videotestsrc num-buffers=50 ! video/x-raw,width=176,height=144,framerate=15/1 "
        "! avenc_mpeg4 ! rtpmp4vpay name=pay0 pt=96 "
        "audiotestsrc num-buffers=50 ! audioconvert ! avenc_aac ! rtpmp4gpay name=pay1 pt=97 )")
    server.get_mount_points().add_factory("/clip", factory)
    server.attach(None)
    loop = GLib.MainLoop()
    threading.Thread(target=loop.run, daemon=True).start()
    return server.get_bound_port(), loop


def read_message(sock, pending):
    while b"\r\n\r\n" not in pending:
        chunk = sock.recv(4096)
        if not chunk:
            raise RuntimeError("connection closed")
        pending += chunk
    head, _, rest = pending.partition(b"\r\n\r\n")
    head += b"\r\n\r\n"
    m = re.search(rb"(?i)content-length:\s*(\d+)", head)
    length = int(m.group(1)) if m else 0
    while len(rest) < length:
        rest += sock.recv(4096)
    return head + rest[:length], rest[length:]


def main():
    port, loop = serve()
    url = "rtsp://127.0.0.1:%d/clip" % port
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    pending = b""
    cseq = 0
    session = None
    answers = []

    def request(method, uri, extra=""):
        nonlocal cseq, pending, session
        cseq += 1
        text = "%s %s RTSP/1.0\r\nCSeq: %d\r\nUser-Agent: WMF/1.1,Orlomer 3.0,ENGL\r\n" % (method, uri, cseq)
        if session:
            text += "Session: %s\r\n" % session
        text += extra + "\r\n"
        sock.sendall(text.encode())
        answer, pending = read_message(sock, pending)
        answers.append(answer)
        m = re.search(rb"(?i)session:\s*([^;\r\n]+)", answer)
        if m:
            session = m.group(1).decode()
        return answer

    request("OPTIONS", url)
    describe = request("DESCRIBE", url, "Accept: application/sdp\r\n")
    base = re.search(rb"(?i)content-base:\s*(\S+)", describe).group(1).decode()
    controls = re.findall(rb"a=control:(\S+)", describe.split(b"\r\n\r\n", 1)[1])
    client = 7000
    for c in controls:
        c = c.decode()
        if c.startswith("rtsp:") or c == "*":
            continue
        request("SETUP", base.rstrip("/") + "/" + c,
                "Transport: RTP/AVP;unicast;client_port=%d-%d\r\n" % (client, client + 1))
        client += 2
    request("PLAY", base, "Range: npt=0-\r\n")
    request("TEARDOWN", base)
    sock.close()
    loop.quit()

    with open(os.path.join(OUT, "gst_rtsp_session.bin"), "wb") as f:
        f.write(b"".join(answers))
    # GstRtsp's own compositions of the structured headers.
    values = []
    for text in ["RTP/AVP/UDP;unicast;client_port=7000-7001;server_port=6970-6971;ssrc=1A2B3C4D;mode=\"PLAY\"",
                 "RTP/AVP/TCP;unicast;interleaved=0-1",
                 "RTP/AVP;multicast;destination=224.2.0.1;ttl=16;port=3456-3457"]:
        res, t = GstRtsp.rtsp_transport_parse(text)
        values.append("Transport\t" + t.as_text())
    for text in ["npt=0-", "npt=10.5-20", "npt=-30.5", "smpte=10:07:00-10:07:33:05.01",
                 "clock=19961108T142300Z-19961108T143520Z"]:
        res, r = GstRtsp.rtsp_range_parse(text)
        values.append("Range\t" + GstRtsp.rtsp_range_to_string(r))
    with open(os.path.join(OUT, "gst_header_values.txt"), "w") as f:
        f.write("\n".join(values) + "\n")
    print("captured %d answers from %s" % (len(answers), url))


if __name__ == "__main__":
    sys.exit(main())
