#!/usr/bin/python3
"""Makes the payload and SDP fixtures once, into data/:
- elementary streams from ffmpeg (MPEG-4 visual, H.263+) and a synthetic
  AMR file (random speech bits: payloading does not decode them);
- the RTP packets GStreamer's payloaders (rtpmp4vpay, rtph263ppay,
  rtpamrpay) make of them, as [u32 big-endian length][packet] records;
- SDP texts from GStreamer's RTSP server (DESCRIBE) and from ffmpeg
  (-sdp_file), with what GStreamer's SDP parser reads from each;
- a sender report composed by GStreamer's RTCP library.
Run with Debian's python3 (python3-gi, gir1.2-gst-rtsp-server-1.0,
gstreamer1.0-libav)."""
import os
import random
import re
import socket
import struct
import subprocess
import tempfile
import threading

import gi
gi.require_version("Gst", "1.0")
gi.require_version("GstApp", "1.0")
gi.require_version("GstRtp", "1.0")
gi.require_version("GstSdp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstApp, GstRtp, GstRtspServer, GstSdp  # noqa: E402,F401

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
AMR_BYTES = [12, 13, 15, 17, 19, 20, 26, 31]


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_sources(tmp):
    m4v = os.path.join(OUT, "src.m4v")
    run(["ffmpeg", "-y", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=15", "-frames:v", "12",
         "-c:v", "mpeg4", "-g", "5", "-b:v", "300k", "-f", "m4v", m4v])
    h263 = os.path.join(OUT, "src.h263")
    run(["ffmpeg", "-y", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=15", "-frames:v", "12",
         "-c:v", "h263p", "-b:v", "300k", "-f", "h263", h263])
    rng = random.Random(7)
    amr = os.path.join(OUT, "src.amr")
    with open(amr, "wb") as f:
        f.write(b"#!AMR\n")
        for i in range(40):
            mode = 7 if i % 3 else 4
            f.write(bytes([mode << 3 | 0x04]) + bytes(rng.randrange(256) for _ in range(AMR_BYTES[mode])))
    return m4v, h263, amr


def split_frames(data, is_picture):
    """Buffers of one picture each, with the headers in front of a picture
    kept with it: a buffer ends where the start code after a picture's own
    start code begins."""
    starts = [i for i in range(len(data) - 3) if data[i] == 0 and data[i + 1] == 0 and data[i + 2] == 1]
    cuts = [0]
    for a, b in zip(starts, starts[1:]):
        if is_picture(data, a):
            cuts.append(b)
    cuts.append(len(data))
    return [data[a:b] for a, b in zip(cuts, cuts[1:]) if b > a]


def h263_frames(data):
    pics = [i for i in range(len(data) - 2) if data[i] == 0 and data[i + 1] == 0 and data[i + 2] & 0xFC == 0x80]
    pics.append(len(data))
    return [data[a:b] for a, b in zip(pics, pics[1:])]


def payload(pipeline_text, out_name, frames=None, caps=None):
    """Runs a payloader; with frames, they are pushed through an appsrc with
    time stamps of 15 frames a second (parsers of raw elementary streams give
    none)."""
    if frames is not None:
        pipeline_text = "appsrc name=src format=time caps=%s ! %s" % (caps, pipeline_text)
    pipeline = Gst.parse_launch(pipeline_text + " ! appsink name=sink sync=false emit-signals=false")
    sink = pipeline.get_by_name("sink")
    pipeline.set_state(Gst.State.PLAYING)
    if frames is not None:
        src = pipeline.get_by_name("src")
        for i, f in enumerate(frames):
            buf = Gst.Buffer.new_wrapped(f)
            buf.pts = buf.dts = i * Gst.SECOND // 15
            buf.duration = Gst.SECOND // 15
            src.emit("push-buffer", buf)
        src.emit("end-of-stream")
    packets = []
    while True:
        sample = sink.emit("pull-sample")
        if sample is None:
            break
        buf = sample.get_buffer()
        ok, info = buf.map(Gst.MapFlags.READ)
        packets.append(bytes(info.data))
        buf.unmap(info)
    pipeline.set_state(Gst.State.NULL)
    with open(os.path.join(OUT, out_name), "wb") as f:
        for p in packets:
            f.write(struct.pack(">I", len(p)) + p)
    return len(packets)


def describe(launch):
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch)
    server.get_mount_points().add_factory("/clip", factory)
    server.attach(None)
    loop = GLib.MainLoop()
    threading.Thread(target=loop.run, daemon=True).start()
    sock = socket.create_connection(("127.0.0.1", server.get_bound_port()), timeout=10)
    sock.sendall(b"DESCRIBE rtsp://127.0.0.1:%d/clip RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n"
                 % server.get_bound_port())
    data = b""
    while b"\r\n\r\n" not in data:
        data += sock.recv(4096)
    head, _, body = data.partition(b"\r\n\r\n")
    m = re.search(rb"(?i)content-length:\s*(\d+)", head)
    if not m:
        raise RuntimeError(head.decode())
    length = int(m.group(1))
    while len(body) < length:
        body += sock.recv(4096)
    sock.close()
    loop.quit()
    return body[:length].decode()


def ffmpeg_sdp(codec, name):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "x.sdp")
        run(["ffmpeg", "-y", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=15", "-frames:v", "2",
             "-c:v", codec, "-f", "rtp", "rtp://127.0.0.1:45678", "-sdp_file", path])
        with open(path) as f:
            text = f.read()
    with open(os.path.join(OUT, name), "w", newline="") as f:
        f.write(text)
    return text


def expectations(text):
    """What GStreamer's SDP parser reads: one line per media (type, format,
    encoding, clock rate, fmtp config, a=framesize)."""
    res, msg = GstSdp.SDPMessage.new_from_text(text)
    lines = ["session %s" % msg.get_session_name()]
    for i in range(msg.medias_len()):
        m = msg.get_media(i)
        fmt = m.get_format(0)
        rtpmap = m.get_attribute_val("rtpmap") or ""
        enc = rtpmap.split(" ", 1)[1] if " " in rtpmap else "-"
        name, _, rest = enc.partition("/")
        clock = rest.split("/")[0] if rest else "-"
        fmtp = m.get_attribute_val("fmtp") or ""
        config = re.search(r"config=([0-9A-Fa-f]+)", fmtp)
        size = (m.get_attribute_val("framesize") or "").split(" ")[-1] or "-"
        lines.append("media %s %s %s %s %s %s" % (m.get_media(), fmt, name, clock,
                                                 config.group(1).lower() if config else "-", size))
    return "\n".join(lines) + "\n"


def sender_report():
    buf = Gst.Buffer.new_allocate(None, 1400, None)
    rtcp = GstRtp.RTCPBuffer()
    GstRtp.RTCPBuffer.map(buf, Gst.MapFlags.READ | Gst.MapFlags.WRITE, rtcp)
    pkt = GstRtp.RTCPPacket()
    rtcp.add_packet(GstRtp.RTCPType.SR, pkt)
    pkt.sr_set_sender_info(0x11223344, 0xAABBCCDD00112233, 90000, 10, 1000)
    pkt.add_rb(0x55667788, 5, -3, 70000, 12, 0x01020304, 6553)
    rtcp.unmap()
    ok, info = buf.map(Gst.MapFlags.READ)
    data = bytes(info.data)
    buf.unmap(info)
    size = (data[2] << 8 | data[3]) * 4 + 4
    with open(os.path.join(OUT, "gst_sender_report.bin"), "wb") as f:
        f.write(data[:size])


def main():
    Gst.init(None)
    with tempfile.TemporaryDirectory() as tmp:
        m4v, h263, amr = make_sources(tmp)
    with open(m4v, "rb") as f:
        m4v_frames = split_frames(f.read(), lambda d, a: d[a + 3] == 0xB6)
    n1 = payload("rtpmp4vpay mtu=400 pt=96", "rtp_mp4v.bin", m4v_frames,
                 "video/mpeg,mpegversion=4,systemstream=false,width=176,height=144,framerate=15/1")
    with open(h263, "rb") as f:
        h263_data = f.read()
    n2 = payload("rtph263ppay mtu=400 pt=97", "rtp_h263.bin", h263_frames(h263_data),
                 "video/x-h263,variant=itu,width=176,height=144,framerate=15/1")
    n3 = payload("filesrc location=%s ! amrparse ! rtpamrpay pt=98" % amr, "rtp_amr.bin")
    sdp = describe("( filesrc location=%s ! mpeg4videoparse ! video/mpeg,framerate=15/1 ! rtpmp4vpay name=pay0 pt=96 "
                   "filesrc location=%s ! amrparse ! rtpamrpay name=pay1 pt=98 )" % (m4v, amr))
    with open(os.path.join(OUT, "gst_describe.sdp"), "w", newline="") as f:
        f.write(sdp)
    expected = {"gst_describe.sdp": sdp,
                "ffmpeg_mp4v.sdp": ffmpeg_sdp("mpeg4", "ffmpeg_mp4v.sdp"),
                "ffmpeg_h263.sdp": ffmpeg_sdp("h263p", "ffmpeg_h263.sdp")}
    for name, text in expected.items():
        with open(os.path.join(OUT, name + ".expected"), "w") as f:
            f.write(expectations(text))
    sender_report()
    print("packets: mp4v %d, h263 %d, amr %d" % (n1, n2, n3))


if __name__ == "__main__":
    main()
