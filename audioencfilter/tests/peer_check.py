#!/usr/bin/env python3
"""ffmpeg on what the filter delivered in the Wine graph test: the AMR 0
packets repacked as an RFC 4867 file, and the EVRC frames of the Qpl.dll
stand-in in a QCP (RIFF QLCM) wrapper. Usage: peer_check.py DIR"""
import os
import shutil
import struct
import subprocess
import sys

# RFC 3625: the EVRC codec GUID {E689D48D-9076-46B5-91EF-736A5100CEB4}, stored
# as RIFF stores GUIDs (first three fields little-endian).
EVRC_GUID = bytes([0x8D, 0xD4, 0x89, 0xE6, 0x76, 0x90, 0xB5, 0x46,
                   0x91, 0xEF, 0x73, 0x6A, 0x51, 0x00, 0xCE, 0xB4])


def qcp(frames):
    fmt = bytes([1, 1]) + EVRC_GUID + struct.pack('<H', 1)
    fmt += b'Enhanced Variable Rate Codec'.ljust(80, b'\0')
    fmt += struct.pack('<HHHHH', 9600, 23, 160, 8000, 16)
    rates = [(22, 4), (10, 3), (2, 1)]  # payload bytes after the rate byte, rate
    fmt += struct.pack('<I', len(rates)) + b''.join(bytes([s, m]) for s, m in rates)
    fmt += b'\0' * (16 - 2 * len(rates)) + b'\0' * 20
    data = b''.join(frames)
    body = b'QLCM' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt
    body += b'vrat' + struct.pack('<III', 8, 1, len(frames))
    body += b'data' + struct.pack('<I', len(data)) + data
    return b'RIFF' + struct.pack('<I', len(body)) + body


def decode(args):
    r = subprocess.run(['ffmpeg', '-v', 'warning', '-xerror'] + args + ['-f', 's16le', '-'],
                       capture_output=True)
    warnings = [l for l in r.stderr.decode().splitlines() if 'Estimating duration' not in l]
    return r.returncode, r.stdout, warnings


def main():
    if shutil.which('ffmpeg') is None:
        print('ffmpeg is not installed')
        return 77
    d = sys.argv[1]
    failed = 0
    amr = open(os.path.join(d, 'graph_amr0.amr'), 'rb').read()
    frames = (len(amr) - 6) // 32
    rc, pcm, warnings = decode(['-f', 'amr', '-i', os.path.join(d, 'graph_amr0.amr')])
    ok = rc == 0 and not warnings and len(pcm) == frames * 320 and frames == 50
    print('AMR 12.2 packets as RFC 4867: %d frames -> %d samples %s' % (frames, len(pcm) // 2,
                                                                         'ok' if ok else 'FAILED %s' % warnings))
    failed += not ok

    raw = open(os.path.join(d, 'graph_evrc.frames'), 'rb').read()
    evrc = [raw[i:i + 23] for i in range(0, len(raw), 23)]
    path = os.path.join(d, 'graph_evrc.qcp')
    open(path, 'wb').write(qcp(evrc))
    rc, pcm, warnings = decode(['-i', path])
    ok = rc == 0 and not warnings and len(pcm) == len(evrc) * 320 and len(evrc) == 50
    print('EVRC stand-in frames in QCP: %d frames -> %d samples %s' % (len(evrc), len(pcm) // 2,
                                                                       'ok' if ok else 'FAILED %s' % warnings))
    failed += not ok
    print('%d passed, %d failed' % (2 - failed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
