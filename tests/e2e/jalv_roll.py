#!/usr/bin/env python3
"""End to end in jalv: Record clicked in the plug-in's own panel, the JACK
transport rolled, and the take judged by what the plug-in outputs.

jalv tells the plug-in the transport only when it changes. The take recorded
over a roll must hold the whole roll and, rolled again from the same place,
play back in step with the timeline, looping at its end.

Runs inside run_jalv_e2e.sh, which starts the JACK server (dummy driver), the
X server and jalv. Arguments: the plug-in's JACK client name, the artwork folder.
"""

import ctypes
import random
import re
import struct
import subprocess
import sys
import time

RATE = 48000
ROLL_FROM = 48000
FIRST_ROLL, SECOND_ROLL = 2 * RATE, 3 * RATE   # the second is longer: it must loop
PANEL_W, PANEL_H = 850, 156
RECORD_KEY = (597, 52, 54, 55)                 # x, y, w, h on the panel; its lamp is temp12

JACK_STOPPED, JACK_ROLLING = 0, 1
TABLE = 1 << 20                                # the feed repeats after ~22 s only
CAPTURE = 20 * RATE                            # rolling frames kept

jack = ctypes.CDLL("libjack.so.0")
jack.jack_client_open.restype = ctypes.c_void_p
jack.jack_port_register.restype = ctypes.c_void_p
jack.jack_port_register.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_ulong, ctypes.c_ulong]
jack.jack_port_get_buffer.restype = ctypes.c_void_p
jack.jack_port_get_buffer.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
jack.jack_port_name.restype = ctypes.c_char_p
jack.jack_port_name.argtypes = [ctypes.c_void_p]
jack.jack_last_frame_time.restype = ctypes.c_uint32
jack.jack_last_frame_time.argtypes = [ctypes.c_void_p]
jack.jack_transport_query.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
jack.jack_transport_reposition.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
for name in ("jack_activate", "jack_deactivate", "jack_client_close", "jack_transport_start", "jack_transport_stop"):
    getattr(jack, name).argtypes = [ctypes.c_void_p]
jack.jack_connect.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
jack.jack_set_process_callback.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]

PROCESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint32, ctypes.c_void_p)
FLOAT = ctypes.sizeof(ctypes.c_float)


def fail(message):
    print("FAIL:", message, flush=True)
    sys.exit(1)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        time.sleep(0.01)


def open_client(name):
    status = ctypes.c_int(0)
    client = jack.jack_client_open(name.encode(), 1, ctypes.byref(status))   # JackNoStartServer
    if not client:
        fail("cannot open JACK client %s (status 0x%x)" % (name, status.value))
    return client


def register(client, name, is_input):
    port = jack.jack_port_register(client, name.encode(), b"32 bit float mono audio", 1 if is_input else 2, 0)
    if not port:
        fail("cannot register port " + name)
    return port


class Feed:
    """Plays a known signal into the plug-in's main input: each JACK frame time
    has its own value per channel, exact in a float."""

    def __init__(self):
        rng = random.Random(12)
        self.tables = []
        for _ in range(2):
            values = [rng.getrandbits(24) / 16777216.0 - 0.5 for _ in range(TABLE)]
            self.tables.append((ctypes.c_float * (TABLE + 8192))(*(values + values[:8192])))
        self.client = open_client("vobrel_feed")
        self.ports = [register(self.client, "out_%d" % (c + 1), False) for c in range(2)]
        self.callback = PROCESS(self.process)
        jack.jack_set_process_callback(self.client, ctypes.cast(self.callback, ctypes.c_void_p), None)

    def process(self, frames, _):
        start = jack.jack_last_frame_time(self.client) % TABLE
        for port, table in zip(self.ports, self.tables):
            ctypes.memmove(jack.jack_port_get_buffer(port, frames), ctypes.addressof(table) + start * FLOAT, frames * FLOAT)
        return 0


class Tap:
    """Keeps the transport of every cycle, and the plug-in's main output while it rolls."""

    def __init__(self):
        self.client = open_client("vobrel_tap")
        self.ports = [register(self.client, "in_%d" % (c + 1), True) for c in range(2)]
        self.capture = [(ctypes.c_float * CAPTURE)() for _ in range(2)]
        self.cycles = []        # (state, transport frame, frames, capture offset)
        self.used = 0
        self.position = ctypes.create_string_buffer(256)   # jack_position_t
        self.callback = PROCESS(self.process)
        jack.jack_set_process_callback(self.client, ctypes.cast(self.callback, ctypes.c_void_p), None)

    def process(self, frames, _):
        state = jack.jack_transport_query(self.client, self.position)
        frame = struct.unpack_from("<I", self.position, 20)[0]
        at = -1
        if state == JACK_ROLLING and self.used + frames <= CAPTURE:   # only rolls are judged
            for port, capture in zip(self.ports, self.capture):
                ctypes.memmove(ctypes.addressof(capture) + self.used * FLOAT, jack.jack_port_get_buffer(port, frames), frames * FLOAT)
            at, self.used = self.used, self.used + frames
        self.cycles.append((state, frame, frames, at))
        return 0

    def since(self, index):
        return self.cycles[index:]

    def rolled_frames(self, index):
        """Frames rolled in the last unbroken run of rolling cycles since `index`."""
        total = 0
        for state, _, frames, _ in self.since(index):
            total = total + frames if state == JACK_ROLLING else 0
        return total

    def stopped_at(self, index, frame, cycles):
        """The last `cycles` cycles since `index` were stopped at `frame`."""
        seen = self.since(index)[-cycles:]
        return len(seen) == cycles and all(s == JACK_STOPPED and f == frame for s, f, _, _ in seen)


def locate(transport, frame):
    """jack_transport_locate sends the rest of its position uninitialised, and jalv
    then sees a change in every cycle: a zeroed position keeps the change-only reports."""
    position = ctypes.create_string_buffer(256)
    struct.pack_into("<I", position, 20, frame)
    if jack.jack_transport_reposition(transport, position) != 0:
        fail("cannot locate the transport")


def roll(tap, transport, frames, what):
    """Locates to ROLL_FROM with the transport stopped, rolls `frames` and stops.
    Returns the rolling cycles."""
    locate(transport, ROLL_FROM)
    first = len(tap.cycles)
    wait_for(lambda: tap.stopped_at(first, ROLL_FROM, 4), 20, what + ": locate")
    first = len(tap.cycles)
    jack.jack_transport_start(transport)
    wait_for(lambda: tap.rolled_frames(first) >= frames, 60, what + ": %d frames rolled" % frames)
    jack.jack_transport_stop(transport)
    wait_for(lambda: len(tap.since(first)) > 0 and tap.since(first)[-1][0] == JACK_STOPPED
                     and tap.stopped_at(first, tap.since(first)[-1][1], 4), 20, what + ": stop")

    rolling = [c for c in tap.since(first) if c[0] == JACK_ROLLING]
    expected = ROLL_FROM
    for _, frame, n, at in rolling:
        if frame != expected:
            fail("%s: the transport jumped to %d instead of %d" % (what, frame, expected))
        if at < 0:
            fail("%s: more rolled than the capture holds" % what)
        expected += n
    return rolling


# ---------------------------------------------------------------------------- panel

def find_panel():
    """The plug-in's own window: the deepest 850 x 156 window on the screen."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    best = None
    for line in tree.splitlines():
        if " %dx%d+" % (PANEL_W, PANEL_H) not in line:
            continue
        depth = len(line) - len(line.lstrip())
        x, y = (int(v) for v in re.fullmatch(r"\+(-?\d+)\+(-?\d+)", line.split()[-1]).groups())   # on the root
        if best is None or depth > best[0]:
            best = (depth, x, y)
    return None if best is None else best[1:]


def grab(x, y, w, h):
    shot = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "rgb:-"],
                          capture_output=True)
    return shot.stdout


def art(path, crop=None):
    args = ["convert", path] + (["-crop", "%dx%d+%d+%d" % crop, "+repage"] if crop else []) + \
           ["-alpha", "off", "-depth", "8", "rgb:-"]
    return subprocess.run(args, capture_output=True, check=True).stdout


def main():
    plugin, artwork = sys.argv[1], sys.argv[2]
    feed, tap = Feed(), Tap()
    try:
        judge(plugin, artwork, feed, tap)
    finally:
        # Before the interpreter goes: JACK would call back into it.
        for client in (feed.client, tap.client):
            jack.jack_deactivate(client)
            jack.jack_client_close(client)


def judge(plugin, artwork, feed, tap):
    x0, y0, w, h = RECORD_KEY
    record_unlit = art(artwork + "/temp1.png", (w, h, x0, y0))
    record_lit = art(artwork + "/temp12.png")
    transport = tap.client
    for client in (feed.client, tap.client):
        if jack.jack_activate(client) != 0:
            fail("cannot activate a JACK client")
    for c in range(2):
        for source, target in ((jack.jack_port_name(feed.ports[c]), ("%s:audio_in_%d" % (plugin, c + 1)).encode()),
                               (("%s:audio_out_%d" % (plugin, c + 1)).encode(), jack.jack_port_name(tap.ports[c]))):
            if jack.jack_connect(tap.client, source, target) != 0:
                fail("cannot connect %s to %s" % (source.decode(), target.decode()))

    panel = []
    wait_for(lambda: panel.append(find_panel()) or panel[-1] is not None, 30, "the plug-in's panel on screen")
    px, py = panel[-1]
    record = (px + x0, py + y0, w, h)
    wait_for(lambda: grab(*record) == record_unlit, 20, "the panel's Record key, unlit")

    # Record, clicked as a user does; its lamp lights.
    subprocess.run(["xdotool", "mousemove", str(record[0] + w // 2), str(record[1] + h // 2), "click", "1"], check=True)
    wait_for(lambda: grab(*record) == record_lit, 10, "the Record lamp to light after the click")

    first = roll(tap, transport, FIRST_ROLL, "recording roll")
    wait_for(lambda: grab(*record) == record_unlit, 10, "the Record lamp to go out when the transport stopped")
    second = roll(tap, transport, SECOND_ROLL, "playback roll")

    # The first roll passed the input while it was recorded: keep what the output
    # held at each timeline frame; the second must play exactly that back.
    recorded = [[], []]
    for _, _, n, at in first:
        for c in range(2):
            recorded[c].extend(tap.capture[c][at:at + n])
    length = len(recorded[0])

    mismatches, first_mismatch, frames = 0, None, 0
    for _, frame, n, at in second:
        for c in range(2):
            out = tap.capture[c][at:at + n]
            for i in range(n):
                expected = recorded[c][(frame - ROLL_FROM + i) % length]
                if struct.pack("<f", out[i]) != struct.pack("<f", expected):
                    mismatches += 1
                    if first_mismatch is None:
                        first_mismatch = (frame - ROLL_FROM + i, c, out[i], expected)
        frames += n

    print("recording roll: %d frames; playback roll: %d frames, %d samples differ from the take"
          % (length, frames, mismatches), flush=True)
    if mismatches:
        t, c, got, want = first_mismatch
        fail("the take does not hold the roll: first difference %d frames into the roll, channel %d: %r instead of %r"
             % (t, c, got, want))
    print("PASS", flush=True)


if __name__ == "__main__":
    main()
