#!/usr/bin/env python3
"""Checks that a saved Ardour session holds Vobrel's own state chunk.

usage: check_state.py SESSION_DIR SESSION_NAME VST3|LV2

VST3: Ardour keeps the component state as a VST3 preset (base64) in the session
file; its component data must start with the plug-in's 67-byte chunk.
LV2: Ardour keeps the plug-in's state in plugins/<id>/state*/state.ttl, where
JUCE's wrapper writes the chunk in JUCE's own base64 form.
"""

import base64
import glob
import os
import struct
import sys
import xml.etree.ElementTree as ET

XML_TEXT = b'<?xml version="1.0" encoding="UTF-8"?> <MYPLUGINSETTINGS/>'
CHUNK = b"VC2!" + struct.pack("<I", len(XML_TEXT)) + XML_TEXT + b"\0"
assert len(CHUNK) == 67

VST3_CLASS_ID = b"ABCDEF019182FAEB467277645662726C"
LV2_URI = "https://www.ferrowood-audio.com/plugins/vobrel"


def juce_base64(data):
    """juce::MemoryBlock::toBase64Encoding: "<size>." then 6-bit groups, lowest bits first."""
    table = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
    value = int.from_bytes(data, "little")
    count = (len(data) * 8 + 5) // 6
    return "%d.%s" % (len(data), "".join(table[(value >> (6 * i)) & 63] for i in range(count)))


def vobrel_processors(session_file, kind):
    root = ET.parse(session_file).getroot()
    return [p for p in root.iter("Processor") if p.get("name") == "Vobrel" and p.get("type") == kind]


def check_vst3(session_file):
    found = vobrel_processors(session_file, "vst3")
    if len(found) != 1:
        return "expected one VST3 Vobrel in the session, found %d" % len(found)

    chunk = found[0].find("vst3/chunk")
    if chunk is None or not chunk.text:
        return "no VST3 state chunk saved"

    blob = base64.b64decode(chunk.text)
    # VST3 preset: "VST3", version, class id (32 ASCII), offset of the chunk list.
    if blob[0:4] != b"VST3" or blob[8:40] != VST3_CLASS_ID:
        return "not a Vobrel VST3 preset"

    list_offset = struct.unpack_from("<q", blob, 40)[0]
    if blob[list_offset:list_offset + 4] != b"List":
        return "no chunk list in the VST3 preset"

    count = struct.unpack_from("<i", blob, list_offset + 4)[0]
    for i in range(count):
        cid, offset, size = struct.unpack_from("<4sqq", blob, list_offset + 8 + 20 * i)
        if cid == b"Comp":
            component = blob[offset:offset + size]
            if component[:len(CHUNK)] != CHUNK:
                return "component state does not start with Vobrel's chunk: %r" % component[:80]
            if not component.endswith(b"JUCEPrivateData"):
                return "component state lacks the wrapper's trailer"
            return None

    return "no component state in the VST3 preset"


def check_lv2(session_dir, session_file):
    found = vobrel_processors(session_file, "lv2")
    if len(found) != 1 or found[0].get("unique-id") != LV2_URI:
        return "expected one LV2 Vobrel in the session, found %d" % len(found)

    states = glob.glob(os.path.join(session_dir, "plugins", found[0].get("id"), "state*", "state.ttl"))
    if not states:
        return "no LV2 state saved for Vobrel"

    with open(sorted(states)[-1], encoding="utf-8") as f:
        text = f.read()

    wanted = '<%s:StateString> "%s"' % (LV2_URI, juce_base64(CHUNK))
    if wanted not in text:
        return "LV2 state lacks Vobrel's chunk:\n" + text
    return None


def main(argv):
    if len(argv) != 4 or argv[3] not in ("VST3", "LV2"):
        print(__doc__.strip(), file=sys.stderr)
        return 2

    session_dir, name, kind = argv[1], argv[2], argv[3]
    session_file = os.path.join(session_dir, name + ".ardour")
    problem = check_vst3(session_file) if kind == "VST3" else check_lv2(session_dir, session_file)

    if problem:
        print("%s: %s" % (session_file, problem))
        return 1

    print("%s: Vobrel's %s state holds its 67-byte chunk" % (session_file, kind))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
