#!/usr/bin/env python3
"""Vobrel front panel as SVG.

One function draws the whole 850x156 panel; which keys and lamps are lit is a
parameter, so every lit image is a crop of a panel that differs from the base
only in the colours of one key. Geometry lives in the tables below.

    python3 panel.py [LIT ...] > panel.svg

LIT names: power, sidechain, delete, rec, play, stop, and a-sel / a-take ...
d-sel / d-take for the memory slots.
"""
import random
import sys

W, H = 850, 156

# Where the plug-in draws each key (x, y, w, h); the overlays are cut at these.
SLOTS = {"a": (326, 52), "b": (388, 52), "c": (451, 52), "d": (513, 52)}
BIG = (54, 55)
TRANSPORT = {"rec": (597, 52), "play": (659, 52), "stop": (722, 52)}
SMALL = {"sidechain": (161, 122), "delete": (224, 122)}
SMALL_SIZE = (55, 18)
POWER = (59, 52, 59, 48)

FONT = "DejaVu Sans"

# Panel and ink.
PANEL_TOP, PANEL_BOTTOM = "#303236", "#242629"
INK = "#d6d1c4"        # captions
INK_DIM = "#8d8a82"    # diagram, fine print
ACCENT = "#ee93a6"     # same rose as the take lamps, ties the logo to the keys
RULE = "#17181a"
RULE_HI = "#3c3f44"

# Key looks: body gradient (top, bottom), cap gradient, rim light, legend colour.
LOOKS = {
    "unlit": dict(body=("#4b4e54", "#2c2e32"), cap=("#3e4146", "#35383c"),
                  rim="#666a71", legend="#ddd8cb", glow=None),
    "cream": dict(body=("#fffbea", "#d9cfae"), cap=("#fbf5dd", "#efe6c4"),
                  rim="#ffffff", legend="#231f19", glow="#fffef6"),
    "pink": dict(body=("#ffd0da", "#df7f96"), cap=("#fbb9c8", "#f29db1"),
                 rim="#ffe6ec", legend="#3a1520", glow="#ffe9ee"),
    "green": dict(body=("#c1f7b9", "#4bb45c"), cap=("#9beb98", "#74d47c"),
                  rim="#e6ffe0", legend="#0c0f0c", glow="#effff0"),
}
REC_DOT = {"unlit": "#a4474f", "lit": "#d4102c"}


def esc(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


class Svg:
    def __init__(self):
        self.defs, self.body, self.ids = [], [], set()

    def add(self, s):
        self.body.append(s)

    def gradient(self, gid, top, bottom, x1=0, y1=0, x2=0, y2=1):
        if gid not in self.ids:
            self.ids.add(gid)
            self.defs.append(
                f'<linearGradient id="{gid}" x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}">'
                f'<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/>'
                f'</linearGradient>')
        return f"url(#{gid})"

    def text(self, x, y, s, size=8.5, fill=INK, anchor="middle", weight="bold",
             condensed=True, spacing=0.0, extra=""):
        stretch = ' font-stretch="condensed"' if condensed else ""
        sp = f' letter-spacing="{spacing}"' if spacing else ""
        self.add(f'<text x="{x}" y="{y}" font-family="{FONT}" font-size="{size}" '
                 f'font-weight="{weight}"{stretch}{sp} text-anchor="{anchor}" '
                 f'fill="{fill}"{extra}>{esc(s)}</text>')

    def render(self):
        return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" '
                f'viewBox="0 0 {W} {H}">\n<defs>\n' + "\n".join(self.defs) +
                "\n</defs>\n" + "\n".join(self.body) + "\n</svg>\n")


def shared_defs(svg):
    # Blurs only ever fall on the panel around a key, the same in every state.
    svg.defs.append('<filter id="soft" x="-20%" y="-20%" width="140%" height="140%">'
                    '<feGaussianBlur stdDeviation="1.3"/></filter>')
    svg.defs.append('<filter id="soft2" x="-20%" y="-20%" width="140%" height="140%">'
                    '<feGaussianBlur stdDeviation="0.8"/></filter>')
    svg.defs.append('<radialGradient id="sheen" cx="0.5" cy="0.35" r="0.6">'
                    '<stop offset="0" stop-color="#ffffff" stop-opacity="0.55"/>'
                    '<stop offset="1" stop-color="#ffffff" stop-opacity="0"/></radialGradient>')
    svg.defs.append('<radialGradient id="ledglow" cx="0.5" cy="0.5" r="0.5">'
                    '<stop offset="0" stop-color="#ff4636" stop-opacity="0.55"/>'
                    '<stop offset="1" stop-color="#ff4636" stop-opacity="0"/></radialGradient>')


def panel_background(svg):
    svg.add(f'<rect width="{W}" height="{H}" fill="{svg.gradient("panel", PANEL_TOP, PANEL_BOTTOM)}"/>')
    # Brushed grain runs along x only, so every key sees the same panel
    # around it wherever it sits on a row.
    rng = random.Random(1957)
    for y in range(H):
        v = rng.uniform(-1, 1)
        colour = "#ffffff" if v > 0 else "#000000"
        svg.add(f'<rect y="{y}" width="{W}" height="1" fill="{colour}" '
                f'fill-opacity="{abs(v) * 0.035:.4f}"/>')
    # Machined edge.
    svg.add(f'<rect x="0.5" y="0.5" width="{W - 1}" height="{H - 1}" fill="none" '
            f'stroke="#4a4d52" stroke-opacity="0.7"/>')
    svg.add(f'<rect x="1.5" y="1.5" width="{W - 3}" height="{H - 3}" fill="none" '
            f'stroke="#000000" stroke-opacity="0.25"/>')


def screw(svg, cx, cy, angle):
    svg.add(f'<circle cx="{cx}" cy="{cy + 0.8}" r="4.6" fill="#000" fill-opacity="0.45" filter="url(#soft2)"/>')
    svg.add(f'<circle cx="{cx}" cy="{cy}" r="4.2" fill="{svg.gradient("screw", "#8c9097", "#3c3f44", 0, 0, 1, 1)}" '
            f'stroke="#1b1c1e" stroke-width="0.6"/>')
    svg.add(f'<g transform="rotate({angle} {cx} {cy})">'
            f'<rect x="{cx - 3.1}" y="{cy - 0.6}" width="6.2" height="1.2" fill="#1c1d20"/>'
            f'<rect x="{cx - 0.6}" y="{cy - 3.1}" width="1.2" height="6.2" fill="#1c1d20"/></g>')


def groove(svg, x1, y1, x2, y2):
    # A cut line: dark groove with a lit lower/right lip.
    dx, dy = (1, 0) if x1 == x2 else (0, 1)
    svg.add(f'<line x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}" stroke="{RULE}" stroke-width="1"/>')
    svg.add(f'<line x1="{x1 + dx}" y1="{y1 + dy}" x2="{x2 + dx}" y2="{y2 + dy}" stroke="{RULE_HI}" stroke-width="1"/>')


def well(svg, x, y, w, h, r=7):
    # Recessed plate behind a group of keys.
    svg.add(f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="{r}" '
            f'fill="{svg.gradient("well", "#1d1e21", "#26282b")}"/>')
    svg.add(f'<rect x="{x + 0.5}" y="{y + 0.5}" width="{w - 1}" height="{h - 1}" rx="{r - 0.5}" fill="none" '
            f'stroke="{svg.gradient("wellrim", "#0e0f10", "#45484e")}" stroke-width="1"/>')


def key_body(svg, x, y, w, h, look_name, r):
    """Key cap filling (x, y, w, h) minus a margin for its shadow."""
    lk = LOOKS[look_name]
    bx, by, bw, bh = x + 2, y + 1.5, w - 4, h - 5
    # Shadow is drawn the same for every look so lit/unlit differ only in colour.
    svg.add(f'<rect x="{bx}" y="{by + 2}" width="{bw}" height="{bh}" rx="{r}" '
            f'fill="#000" fill-opacity="0.6" filter="url(#soft)"/>')
    svg.add(f'<rect x="{bx}" y="{by}" width="{bw}" height="{bh}" rx="{r}" '
            f'fill="{svg.gradient("kb-" + look_name, *lk["body"])}"/>')
    # Dished cap sits inside a thin bevel.
    cx, cy, cw, ch = bx + 2.5, by + 2, bw - 5, bh - 5
    svg.add(f'<rect x="{cx}" y="{cy}" width="{cw}" height="{ch}" rx="{max(r - 1.5, 1)}" '
            f'fill="{svg.gradient("kc-" + look_name, *lk["cap"])}"/>')
    if lk["glow"]:
        svg.add(f'<rect x="{cx}" y="{cy}" width="{cw}" height="{ch}" rx="{max(r - 1.5, 1)}" fill="url(#sheen)"/>')
    # Rim light along the top edge, dark lip at the bottom.
    svg.add(f'<rect x="{bx + 0.5}" y="{by + 0.5}" width="{bw - 1}" height="{bh - 1}" rx="{r - 0.5}" fill="none" '
            f'stroke="{svg.gradient("kr-" + look_name, lk["rim"], "#000000")}" stroke-opacity="0.55" stroke-width="1"/>')
    svg.add(f'<rect x="{bx - 0.5}" y="{by - 0.5}" width="{bw + 1}" height="{bh + 1}" rx="{r + 0.5}" fill="none" '
            f'stroke="#0b0b0c" stroke-opacity="0.8" stroke-width="1"/>')
    return bx + bw / 2, by + bh / 2, lk


def slot_key(svg, name, look):
    x, y = SLOTS[name]
    mx, my, lk = key_body(svg, x, y, *BIG, look, 5)
    svg.text(mx, my + 8, name.upper(), size=22, fill=lk["legend"], condensed=False)


def transport_key(svg, name, lit):
    x, y = TRANSPORT[name]
    look = {"rec": "pink", "play": "green", "stop": "cream"}[name] if lit else "unlit"
    mx, my, lk = key_body(svg, x, y, *BIG, look, 5)
    if name == "rec":
        svg.add(f'<circle cx="{mx}" cy="{my}" r="7.5" fill="{REC_DOT["lit" if lit else "unlit"]}"/>')
    elif name == "play":
        svg.add(f'<path d="M {mx - 6} {my - 8.5} L {mx + 9} {my} L {mx - 6} {my + 8.5} Z" '
                f'fill="{lk["legend"]}" stroke="{lk["legend"]}" stroke-width="1" stroke-linejoin="round"/>')
    else:
        svg.add(f'<rect x="{mx - 7}" y="{my - 7}" width="14" height="14" rx="1" fill="{lk["legend"]}"/>')


def small_key(svg, name, lit):
    x, y = SMALL[name]
    key_body(svg, x, y + 0.5, SMALL_SIZE[0], SMALL_SIZE[1] + 1, "pink" if lit else "unlit", 3)


def power_switch(svg, lit):
    x, y, w, h = POWER
    # Bezel.
    svg.add(f'<rect x="{x + 1}" y="{y + 2}" width="{w - 2}" height="{h - 3}" rx="6" fill="#000" '
            f'fill-opacity="0.55" filter="url(#soft)"/>')
    svg.add(f'<rect x="{x + 1}" y="{y + 1}" width="{w - 2}" height="{h - 3}" rx="6" '
            f'fill="{svg.gradient("bezel", "#54575d", "#1f2023")}" stroke="#0b0b0c" stroke-width="1"/>')
    # Rocker, pressed in at the bottom.
    rx, ry, rw, rh = x + 5, y + 5, w - 10, h - 11
    svg.add(f'<rect x="{rx}" y="{ry}" width="{rw}" height="{rh}" rx="3.5" '
            f'fill="{svg.gradient("rocker", "#45484d", "#26282b")}" stroke="#0b0b0c" stroke-width="1"/>')
    svg.add(f'<rect x="{rx + 1}" y="{ry + 1}" width="{rw - 2}" height="{rh / 2}" rx="3" '
            f'fill="#ffffff" fill-opacity="0.06"/>')
    # Indicator window.
    lx, ly, lw, lh = x + w / 2 - 10, ry + 4, 20, 5
    if lit:
        svg.add(f'<ellipse cx="{lx + lw / 2}" cy="{ly + lh / 2}" rx="17" ry="6.5" fill="url(#ledglow)"/>')
    svg.add(f'<rect x="{lx - 1}" y="{ly - 1}" width="{lw + 2}" height="{lh + 2}" rx="3.5" fill="#0c0c0d"/>')
    led = ("#ff6a55", "#d4101c") if lit else ("#5a2a2a", "#2e1516")
    svg.add(f'<rect x="{lx}" y="{ly}" width="{lw}" height="{lh}" rx="2.5" '
            f'fill="{svg.gradient("led" + ("on" if lit else "off"), *led)}"/>')
    svg.add(f'<rect x="{lx + 2}" y="{ly + 0.8}" width="{lw - 4}" height="1.3" rx="0.65" fill="#ffffff" '
            f'fill-opacity="{0.55 if lit else 0.12}"/>')
    # IEC power symbol.
    cx, cy, r = x + w / 2, ry + 22, 6.5
    svg.add(f'<path d="M {cx - 3.6} {cy - 5.4} A {r} {r} 0 1 0 {cx + 3.6} {cy - 5.4}" fill="none" '
            f'stroke="{INK}" stroke-width="1.8" stroke-linecap="round"/>')
    svg.add(f'<line x1="{cx}" y1="{cy - 8}" x2="{cx}" y2="{cy - 1}" stroke="{INK}" stroke-width="1.8" '
            f'stroke-linecap="round"/>')


def maker_logo(svg):
    # FERROWOOD: an iron ring around the growth rings of a log, word set wide below.
    cx, cy = 88.5, 116
    svg.add(f'<circle cx="{cx}" cy="{cy}" r="8.5" fill="none" stroke="{INK}" stroke-width="2"/>')
    for rr in (5.2, 2.8):
        svg.add(f'<circle cx="{cx + 0.7}" cy="{cy - 0.4}" r="{rr}" fill="none" stroke="{INK_DIM}" stroke-width="1"/>')
    svg.add(f'<circle cx="{cx + 1.1}" cy="{cy - 0.6}" r="1" fill="{INK}"/>')
    svg.text(cx + 0.5, 136, "FERROWOOD", size=10, spacing=1.0)
    svg.text(cx + 0.5, 144.5, "AUDIO INSTRUMENTS", size=5.4, fill=INK_DIM, spacing=0.9)


def arrow(svg, x1, y, x2, colour, dashed=False):
    d = ' stroke-dasharray="2.5 1.8"' if dashed else ""
    svg.add(f'<line x1="{x1}" y1="{y}" x2="{x2 - 4}" y2="{y}" stroke="{colour}" stroke-width="1"{d}/>')
    svg.add(f'<path d="M {x2 - 5} {y - 2.6} L {x2} {y} L {x2 - 5} {y + 2.6} Z" fill="{colour}"/>')


def jack(svg, cx, cy):
    svg.add(f'<circle cx="{cx}" cy="{cy}" r="2.6" fill="{PANEL_BOTTOM}" stroke="{INK_DIM}" stroke-width="1"/>')


def flow_diagram(svg):
    line = "#a7a398"
    # Inputs.
    svg.text(143, 20, "SIDECHAIN", size=7, anchor="start", fill=INK, spacing=0.4)
    svg.text(143, 62, "MAIN", size=7, anchor="start", fill=INK, spacing=0.4)
    for label, y, dashed in (("L", 31, True), ("R", 42, True), ("L", 73, False), ("R", 84, False)):
        svg.text(146, y + 2.5, label, size=7, fill=INK_DIM)
        jack(svg, 157, y)
        arrow(svg, 160, y, 208, line, dashed)
    # The recorder.
    bx, by, bw, bh = 208, 22, 52, 72
    svg.add(f'<rect x="{bx}" y="{by}" width="{bw}" height="{bh}" rx="3" fill="#1e1f22" stroke="{line}" stroke-width="1.2"/>')
    svg.text(bx + bw / 2, by + 13, "MEMORY", size=7.5, fill=INK, spacing=0.3)
    for i, letter in enumerate("ABCD"):
        sx, sy = bx + 7, by + 20 + i * 11.5
        svg.add(f'<rect x="{sx}" y="{sy}" width="{bw - 14}" height="8" rx="1.5" fill="none" stroke="{INK_DIM}" stroke-width="0.8"/>')
        svg.text(sx + (bw - 14) / 2, sy + 6.4, letter, size=6, fill=INK_DIM, condensed=False)
    # Outputs.
    svg.text(298, 44, "OUT", size=7, anchor="end", fill=INK, spacing=0.4)
    for label, y in (("L", 54), ("R", 66)):
        arrow(svg, bx + bw, y, 284, line)
        jack(svg, 287, y)
        svg.text(296, y + 2.5, label, size=7, fill=INK_DIM)
    # Fine print: dashed lines are the sidechain pair.
    svg.add(f'<line x1="208" y1="103" x2="220" y2="103" stroke="{line}" stroke-width="1" stroke-dasharray="2.5 1.8"/>')
    svg.text(224, 105.5, "SIDECHAIN PATH", size=5.6, anchor="start", fill=INK_DIM, spacing=0.4)


def product_logo(svg):
    # Word-mark sits left of x=788; the update badge may cover the far end.
    svg.text(690, 34, "Vobrel", size=29, anchor="start", fill="#efe9da", condensed=True,
             extra=' font-style="oblique"')
    svg.add(f'<rect x="691" y="38" width="58" height="2" rx="1" fill="{ACCENT}"/>')


def panel(lit=()):
    lit = set(lit)
    svg = Svg()
    shared_defs(svg)
    panel_background(svg)
    for cx, cy, a in ((10, 10, 20), (10, 146, 65), (840, 10, 110), (840, 146, 155)):
        screw(svg, cx, cy, a)

    # Section cuts.
    groove(svg, 131, 14, 131, 142)
    groove(svg, 310, 14, 310, 142)
    groove(svg, 582, 14, 582, 142)

    # Power.
    svg.text(88.5, 45, "POWER", spacing=1.0)
    power_switch(svg, "power" in lit)
    maker_logo(svg)

    # Routing.
    flow_diagram(svg)
    for name, (x, y) in SMALL.items():
        svg.text(x + 27.5, y - 4, name.upper(), size=8, spacing=0.8)
        small_key(svg, name, name in lit)

    # Memory bank.
    well(svg, 318, 47, 257, 65)
    svg.text(446, 36, "MEMORY BANK", size=9, spacing=2.2)
    svg.add(f'<line x1="322" y1="33" x2="392" y2="33" stroke="{INK_DIM}" stroke-width="1"/>')
    svg.add(f'<line x1="500" y1="33" x2="570" y2="33" stroke="{INK_DIM}" stroke-width="1"/>')
    for name in SLOTS:
        look = "cream" if f"{name}-sel" in lit else "pink" if f"{name}-take" in lit else "unlit"
        slot_key(svg, name, look)
    svg.text(446, 131, "FOUR-SLOT MEMORY RECORDER", size=7, fill=INK_DIM, spacing=1.6)

    # Transport.
    well(svg, 590, 47, 194, 65)
    for name, (x, y) in TRANSPORT.items():
        svg.text(x + 27, y + 72, {"rec": "REC", "play": "PLAY", "stop": "STOP"}[name], size=8.5, spacing=1.2)
        transport_key(svg, name, name in lit)
    product_logo(svg)
    return svg.render()


if __name__ == "__main__":
    sys.stdout.write(panel(sys.argv[1:]))
