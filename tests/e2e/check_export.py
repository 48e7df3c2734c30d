#!/usr/bin/env python3
"""Checks an exported 32-bit float WAV against the known test signal, bit for bit.

usage: check_export.py FILE.wav START FRAMES SEED [CHANNELS]

The signal is the one vobrel_test_signal.lua writes: sample n (timeline
position) of channel c is a hash of (seed, c, n), rounded to 32-bit float.
Exits 0 when every sample matches, 1 otherwise.
"""

import struct
import sys


def signal_bits(seed, channel, n):
    h = (n * 2654435761 + seed * 97 + channel * 7919) % 1000003
    return struct.pack("<f", (h + 0.5) / 1000003 - 0.5)


def read_float_wav(path):
    """Returns (channels, rate, data bytes). The wave module reads no float files."""
    with open(path, "rb") as f:
        blob = f.read()

    if len(blob) < 12 or blob[0:4] != b"RIFF" or blob[8:12] != b"WAVE":
        raise ValueError("not a RIFF WAVE file")

    fmt = data = None
    pos = 12
    while pos + 8 <= len(blob):
        cid, size = blob[pos:pos + 4], struct.unpack_from("<I", blob, pos + 4)[0]
        body = blob[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = body
        elif cid == b"data":
            data = body
        pos += 8 + size + (size & 1)

    if fmt is None or data is None:
        raise ValueError("no fmt or data chunk")

    tag, channels, rate = struct.unpack_from("<HHI", fmt, 0)
    bits = struct.unpack_from("<H", fmt, 14)[0]
    if tag == 0xFFFE and len(fmt) >= 26:
        tag = struct.unpack_from("<H", fmt, 24)[0]  # first bytes of the sub-format GUID
    if tag != 3 or bits != 32:
        raise ValueError("not 32-bit float (format tag %d, %d bits)" % (tag, bits))

    return channels, rate, data


def main(argv):
    if len(argv) not in (5, 6):
        print(__doc__.strip(), file=sys.stderr)
        return 2

    path, start, frames, seed = argv[1], int(argv[2]), int(argv[3]), int(argv[4])
    want_channels = int(argv[5]) if len(argv) == 6 else 2

    try:
        channels, rate, data = read_float_wav(path)
    except (OSError, ValueError) as e:
        print("%s: %s" % (path, e))
        return 1

    if channels != want_channels or rate != 48000:
        print("%s: %d channels at %d Hz, expected %d at 48000" % (path, channels, rate, want_channels))
        return 1

    got_frames = len(data) // (4 * channels)
    if got_frames != frames:
        print("%s: %d frames, expected %d" % (path, got_frames, frames))
        return 1

    bad = 0
    for i in range(frames):
        for c in range(channels):
            offset = 4 * (i * channels + c)
            if data[offset:offset + 4] != signal_bits(seed, c, start + i):
                if bad < 5:
                    got = struct.unpack_from("<f", data, offset)[0]
                    want = struct.unpack("<f", signal_bits(seed, c, start + i))[0]
                    print("%s: frame %d channel %d: %r instead of %r" % (path, i, c, got, want))
                bad += 1

    if bad:
        print("%s: %d of %d samples differ" % (path, bad, frames * channels))
        return 1

    print("%s: %d frames x %d channels bit-exact" % (path, frames, channels))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
