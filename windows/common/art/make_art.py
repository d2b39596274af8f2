#!/usr/bin/env python3
"""Draws the wizards' pictures, button strips and icons from a JSON manifest with ImageMagick.

    make_art.py --convert PROGRAM --manifest FILE --out DIR     draw every image of the manifest
    make_art.py --manifest FILE --list                          print the files the manifest makes

The output is the same bytes on every run: no timestamps or other metadata go into the files (BMP
version 3 with a 40-byte information header, JPEG and icons stripped of their profiles), and the fonts are the
DejaVu files named below, never a system font chosen by name.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

# One palette for both wizards: a navy-to-blue header, light pages, blue buttons, one warm accent.
NAVY = "#173E70"
BLUE = "#2971B9"
ACCENT = "#4E80C1"
SKY = "#DCE8F7"
PAGE_TOP = "#FFFFFF"
PAGE_BOTTOM = "#EAF0F7"
BAR_TOP = "#F4F5F7"
BAR_BOTTOM = "#E2E5EA"
RULE = "#C8D0DC"
TEXT = "#283447"
MUTED = "#6E7A8C"
ORANGE = "#F0A030"
GREEN = "#228B4A"
CARD = "#FFFFFF"
# The brush the Upgrade dialog gives its fields from the versions page on, which draws them white on it.
FIELD = "#516DB6"

FONT_DIRS = ["/usr/share/fonts/truetype/dejavu"]
FONTS = {"regular": "DejaVuSans.ttf", "bold": "DejaVuSans-Bold.ttf"}


def font(style):
    for folder in FONT_DIRS:
        path = os.path.join(folder, FONTS[style])
        if os.path.exists(path):
            return path
    sys.exit("make_art: font %s not found (Debian package fonts-dejavu-core)" % FONTS[style])


def literal(words):
    """Text that ImageMagick writes as it is, not reading backslashes and percent signs as escapes."""
    return words.replace("\\", "\\\\").replace("%", "%%")


def text(x, y, words, size, style="regular", colour=TEXT, gravity="NorthWest"):
    """Arguments that write one line of text with its top-left corner (or gravity point) at x, y."""
    return ["-gravity", gravity, "-font", font(style), "-pointsize", str(size), "-fill", colour, "-stroke", "none",
            "-annotate", "+%d+%d" % (x, y), literal(words)]


def draw(*primitives, fill="none", stroke="none", width=1):
    return ["-gravity", "NorthWest", "-fill", fill, "-stroke", stroke, "-strokewidth", str(width), "-draw",
            " ".join(primitives)]


# ---- small illustrations, each drawn into a box (x, y, w, h) ---------------------------------------


def router_icon(x, y, w, h, label):
    leds = []
    for i in range(4):
        cx = x + 16 + i * 14
        leds += draw("circle %d,%d %d,%d" % (cx, y + h - 14, cx + 3, y + h - 14), fill="#7CFC9A" if i < 3 else ORANGE)
    return (draw("roundrectangle %d,%d %d,%d 8,8" % (x, y + 4, x + w, y + h + 4), fill="#0F2C52") +
            draw("roundrectangle %d,%d %d,%d 8,8" % (x, y, x + w, y + h), fill=BLUE, stroke=NAVY, width=1) +
            draw("line %d,%d %d,%d" % (x + w - 22, y, x + w - 30, y - 18), stroke=NAVY, width=3) + leds +
            text(x, y + h + 10, label, 11, "bold", NAVY))


def padlock(cx, cy, colour=ORANGE):
    return (draw("arc %d,%d %d,%d 180,360" % (cx - 9, cy - 20, cx + 9, cy + 4), stroke=colour, width=4) +
            draw("roundrectangle %d,%d %d,%d 3,3" % (cx - 13, cy - 6, cx + 13, cy + 14), fill=colour) +
            draw("circle %d,%d %d,%d" % (cx, cy + 3, cx + 3, cy + 3), fill="#FFFFFF"))


def tunnel_art(x, y, w, h):
    """Two routers joined by a tunnel with a lock on it."""
    rw, rh = 84, 46
    top = y + h // 2 - rh // 2
    pipe_y = top + rh // 2
    return (draw("roundrectangle %d,%d %d,%d 14,14" % (x + rw - 10, pipe_y - 14, x + w - rw + 10, pipe_y + 14),
                 fill=SKY, stroke=ACCENT, width=2) +
            draw("line %d,%d %d,%d" % (x + rw, pipe_y, x + w - rw, pipe_y), stroke=ACCENT, width=2) +
            router_icon(x, top, rw, rh, "Router 1") + router_icon(x + w - rw, top, rw, rh, "Router 2") +
            padlock(x + w // 2, pipe_y - 4))


def pc_icon(x, y, w, h, label):
    """A monitor on its stand."""
    return (draw("roundrectangle %d,%d %d,%d 6,6" % (x, y, x + w, y + h - 14), fill=NAVY) +
            draw("rectangle %d,%d %d,%d" % (x + 6, y + 6, x + w - 6, y + h - 20), fill=SKY) +
            draw("rectangle %d,%d %d,%d" % (x + w // 2 - 6, y + h - 14, x + w // 2 + 6, y + h - 6), fill=NAVY) +
            draw("roundrectangle %d,%d %d,%d 3,3" % (x + w // 4, y + h - 6, x + w * 3 // 4, y + h), fill=NAVY) +
            text(x, y + h + 10, label, 11, "bold", NAVY))


def firmware_art(x, y, w, h):
    """This PC sends new firmware down the cable to the router."""
    rw, rh = 84, 46
    top = y + h // 2 - rh // 2
    mid = top + rh // 2
    head = x + w - rw - 8
    return (pc_icon(x, top - 14, 76, 64, "This PC") + router_icon(x + w - rw, top, rw, rh, "Router") +
            draw("line %d,%d %d,%d" % (x + 84, mid, head - 14, mid), stroke=ACCENT, width=4) +
            draw("polygon %d,%d %d,%d %d,%d" % (head - 16, mid - 10, head, mid, head - 16, mid + 10), fill=ORANGE) +
            draw("roundrectangle %d,%d %d,%d 4,4" % (x + w // 2 - 26, mid - 30, x + w // 2 + 26, mid - 12),
                 fill=ORANGE) + text(x + w // 2 - 15, mid - 29, "V1.1", 10, "bold", "#FFFFFF"))


def cloud(x, y, w, h, label):
    parts = [(x + w // 4, y + h // 2, h // 2), (x + w // 2, y + h // 3, h * 2 // 3), (x + w * 3 // 4, y + h // 2, h // 2)]
    args = draw("roundrectangle %d,%d %d,%d %d,%d" % (x, y + h // 2 - 4, x + w, y + h, h // 4, h // 4), fill=SKY)
    for cx, cy, r in parts:
        args += draw("circle %d,%d %d,%d" % (cx, cy, cx + r, cy), fill=SKY)
    return args + text(0, y + h // 2 - 6, label, 10, "bold", NAVY, "North")


def location_lan_art(x, y, w, h):
    """This PC cabled to Router 1, the tunnel reaching Router 2."""
    return (draw("line %d,%d %d,%d" % (x + 54, y + 62, x + 54, y + 114), stroke=ORANGE, width=4) +
            pc_icon(x + 24, y + 6, 60, 56, "") + text(x + 92, y + 26, "This PC", 11, "bold", NAVY) +
            tunnel_art(x + 10, y + 90, w - 20, 90))


def location_internet_art(x, y, w, h):
    """This PC somewhere on the Internet, reaching both routers through it."""
    mid = x + w // 2
    return (draw("line %d,%d %d,%d" % (mid, y + 60, x + 52, y + 128), stroke=ACCENT, width=3) +
            draw("line %d,%d %d,%d" % (mid, y + 60, x + w - 52, y + 128), stroke=ACCENT, width=3) +
            draw("line %d,%d %d,%d" % (x + 70, y + 36, mid - 50, y + 40), stroke=ORANGE, width=4) +
            pc_icon(x + 8, y + 6, 60, 56, "") + cloud(mid - 60, y + 22, 120, 50, "Internet") +
            tunnel_art(x + 10, y + 90, w - 20, 90))


def tunnel_icon_art(x, y, w, h):
    """The wizard's icon: two ends joined by a locked tunnel."""
    cy = y + h * 5 // 8
    r = w // 9
    return (draw("roundrectangle %d,%d %d,%d 12,12" % (x, y, x + w - 1, y + h - 1), fill=NAVY) +
            draw("line %d,%d %d,%d" % (x + w // 6, cy, x + w * 5 // 6, cy), stroke=SKY, width=max(2, w // 16)) +
            draw("circle %d,%d %d,%d" % (x + w // 6, cy, x + w // 6 + r, cy), fill=BLUE, stroke="#FFFFFF", width=2) +
            draw("circle %d,%d %d,%d" % (x + w * 5 // 6, cy, x + w * 5 // 6 + r, cy), fill=BLUE, stroke="#FFFFFF",
                 width=2) + padlock(x + w // 2, y + h // 2 - 2))


def hand_art(x, y, w, h):
    """A pointing hand, its fingertip at (x + 10, y + 1): outlined by drawing the shapes large in black
    and then inside in white."""
    shapes = ["roundrectangle %d,%d %d,%d 2,2" % (x + 8, y + 1, x + 12, y + 18),
              "roundrectangle %d,%d %d,%d 2,2" % (x + 12, y + 10, x + 16, y + 18),
              "roundrectangle %d,%d %d,%d 2,2" % (x + 16, y + 11, x + 20, y + 18),
              "roundrectangle %d,%d %d,%d 2,2" % (x + 20, y + 12, x + 24, y + 20),
              "roundrectangle %d,%d %d,%d 4,4" % (x + 8, y + 15, x + 24, y + 28),
              "polygon %d,%d %d,%d %d,%d %d,%d" % (x + 9, y + 18, x + 4, y + 14, x + 2, y + 17, x + 9, y + 26)]
    args = []
    for shape in shapes:
        args += draw(shape, fill="#000000", stroke="#000000", width=2)
    for shape in shapes:
        args += draw(shape, fill="#FFFFFF")
    return args


def check_art(x, y, w, h, colour=GREEN):
    r = min(w, h) // 2
    cx, cy = x + w // 2, y + h // 2
    return (draw("circle %d,%d %d,%d" % (cx, cy, cx + r, cy), fill=colour) +
            draw("polyline %d,%d %d,%d %d,%d" % (cx - r // 2, cy, cx - r // 8, cy + r // 3, cx + r // 2, cy - r // 3),
                 stroke="#FFFFFF", width=max(3, r // 6)))


def attention_art(x, y, w, h):
    r = min(w, h) // 2
    cx, cy = x + w // 2, y + h // 2
    return (draw("circle %d,%d %d,%d" % (cx, cy, cx + r, cy), fill=ORANGE) +
            text(cx - r // 5, cy - r + r // 4, "!", int(r * 1.2), "bold", "#FFFFFF"))


def shield_art(x, y, w, h):
    cx = x + w // 2
    outline = [(cx, y), (x + w, y + h // 5), (x + w - w // 8, y + h * 3 // 4), (cx, y + h), (x + w // 8, y + h * 3 // 4),
               (x, y + h // 5)]
    return (draw("polygon " + " ".join("%d,%d" % p for p in outline), fill=BLUE, stroke=NAVY, width=2) +
            check_art(cx - w // 4, y + h // 4, w // 2, w // 2, GREEN))


def checklist_art(x, y, w, h):
    lines = []
    for i in range(3):
        ly = y + 16 + i * (h - 24) // 3
        lines += draw("rectangle %d,%d %d,%d" % (x + 12, ly, x + 20, ly + 8), fill="#FFFFFF")
        lines += draw("line %d,%d %d,%d" % (x + 26, ly + 4, x + w - 12, ly + 4), stroke="#FFFFFF", width=3)
    return draw("roundrectangle %d,%d %d,%d 10,10" % (x, y, x + w - 1, y + h - 1), fill=BLUE) + lines


def adapter_art(x, y, w, h):
    """A network card: a board with its contacts and its cable socket."""
    return (draw("roundrectangle %d,%d %d,%d 6,6" % (x + 2, y + h // 5, x + w - 12, y + h * 4 // 5), fill=BLUE,
                 stroke=NAVY, width=2) +
            draw("rectangle %d,%d %d,%d" % (x + w - 16, y + h * 2 // 5, x + w - 2, y + h * 3 // 5), fill=NAVY) +
            draw("rectangle %d,%d %d,%d" % (x + w // 5, y + h * 4 // 5, x + w * 3 // 5, y + h * 4 // 5 + 8),
                 fill=ORANGE) +
            draw("rectangle %d,%d %d,%d" % (x + w // 5, y + h // 3, x + w // 2, y + h * 3 // 5), fill=SKY))


def app_art(x, y, w, h):
    """The upgrade program: a router under an arrow bringing new firmware."""
    cx = x + w // 2
    return (draw("roundrectangle %d,%d %d,%d 12,12" % (x, y, x + w - 1, y + h - 1), fill=NAVY) +
            draw("roundrectangle %d,%d %d,%d 6,6" % (x + w // 8, y + h * 9 // 16, x + w * 7 // 8, y + h * 7 // 8),
                 fill=BLUE, stroke="#FFFFFF", width=2) +
            draw("polygon %d,%d %d,%d %d,%d %d,%d %d,%d %d,%d %d,%d" %
                 (cx - w // 10, y + h // 10, cx + w // 10, y + h // 10, cx + w // 10, y + h * 3 // 10, cx + w // 4,
                  y + h * 3 // 10, cx, y + h // 2, cx - w // 4, y + h * 3 // 10, cx - w // 10, y + h * 3 // 10),
                 fill=ORANGE))


ARTS = {"adapter": adapter_art, "app": app_art, "tunnel": tunnel_art, "firmware": firmware_art, "check": check_art,
        "attention": attention_art, "shield": shield_art, "checklist": checklist_art, "location_lan": location_lan_art,
        "location_internet": location_internet_art, "tunnel_icon": tunnel_icon_art,
        "hand": hand_art}


def art_args(entry):
    args = []
    for item in entry.get("art", []):
        args += ARTS[item[0]](*item[1:5])
    return args


def extras(entry):
    """Cards (white rounded panels), fields and free text lines that a picture carries."""
    args = []
    for x, y, w, h in entry.get("cards", []):
        args += draw("roundrectangle %d,%d %d,%d 8,8" % (x + 2, y + 3, x + w + 2, y + h + 3), fill="#D5DDE8")
        args += draw("roundrectangle %d,%d %d,%d 8,8" % (x, y, x + w, y + h), fill=CARD, stroke=RULE)
    # A field is the rectangle of a control that paints itself with the dialog's field brush: square and
    # of exactly the control's pixels, so the picture under it is the same blue to its very edge.
    for x, y, w, h in entry.get("fields", []):
        args += draw("rectangle %d,%d %d,%d" % (x, y, x + w - 1, y + h - 1), fill=FIELD)
    for line in entry.get("texts", []):
        x, y, words = line[0], line[1], line[2]
        size = line[3] if len(line) > 3 else 10
        style = line[4] if len(line) > 4 else "regular"
        colour = line[5] if len(line) > 5 else TEXT
        # x of -1 centres the line across the picture.
        args += text(0, y, words, size, style, colour, "North") if x == -1 else text(x, y, words, size, style, colour)
    return args


# ---- the kinds of picture ---------------------------------------------------------------------------


def header_band(width, height, title, subtitle):
    # The direction is a setting that would outlive the parentheses: south again for later gradients.
    args = ["(", "-size", "%dx%d" % (width, height), "-define", "gradient:direction=east",
            "gradient:%s-%s" % (NAVY, BLUE), "-define", "gradient:direction=south", ")",
            "-gravity", "NorthWest", "-geometry", "+0+0", "-composite"]
    args += draw("rectangle 0,%d %d,%d" % (height, width, height + 2), fill=ORANGE)
    args += text(20, 10 if subtitle else (height - 26) // 2, title, 17, "bold", "#FFFFFF")
    if subtitle:
        args += text(21, 36, subtitle, 10, "regular", "#CFE0F5")
    return args


def main_window(entry):
    """The main dialog: header with the product name, page area, button bar."""
    w, h = entry["size"]
    bar = entry["bar"]
    args = ["-size", "%dx%d" % (w, h), "gradient:%s-%s" % (PAGE_TOP, PAGE_BOTTOM)]
    args += header_band(w, entry["header"], entry["title"], entry.get("subtitle"))
    args += ["(", "-size", "%dx%d" % (w, h - bar), "gradient:%s-%s" % (BAR_TOP, BAR_BOTTOM), ")", "-gravity",
             "NorthWest", "-geometry", "+0+%d" % bar, "-composite"]
    args += draw("line 0,%d %d,%d" % (bar, w, bar), stroke=RULE)
    return args


def page(entry):
    """A page or dialog: light body, title band (dark for dialogs, light for pages), cards, art, text."""
    w, h = entry["size"]
    args = ["-size", "%dx%d" % (w, h), "gradient:%s-%s" % (PAGE_TOP, PAGE_BOTTOM)]
    if entry.get("band"):
        args += header_band(w, entry["band"], entry["title"], entry.get("line"))
    else:
        args += text(20, 14, entry["title"], 16, "bold", NAVY)
        args += draw("rectangle 20,44 60,46", fill=ORANGE)
    if entry.get("bar"):
        args += ["(", "-size", "%dx%d" % (w, h - entry["bar"]), "gradient:%s-%s" % (BAR_TOP, BAR_BOTTOM), ")",
                 "-gravity", "NorthWest", "-geometry", "+0+%d" % entry["bar"], "-composite"]
        args += draw("line 0,%d %d,%d" % (entry["bar"], w, entry["bar"]), stroke=RULE)
    if entry.get("frame"):
        args += draw("rectangle 0,0 %d,%d" % (w - 1, h - 1), stroke=ACCENT)
    return args + extras(entry) + art_args(entry)


def progress(entry):
    """One frame of the progress animation: a packet travelling from the PC to the router."""
    w, h = entry["size"]
    step = entry["step"]
    args = ["-size", "%dx%d" % (w, h), "gradient:#3B86CF-%s" % BLUE]
    args += draw("roundrectangle 16,14 60,50 5,5", fill=NAVY, stroke="#FFFFFF")
    args += draw("rectangle 22,20 54,42", fill=SKY)
    args += draw("roundrectangle %d,20 %d,50 6,6" % (w - 76, w - 16), fill=NAVY, stroke="#FFFFFF")
    for i in range(3):
        args += draw("circle %d,40 %d,40" % (w - 64 + i * 10, w - 61 + i * 10), fill="#7CFC9A")
    for i in range(8):
        x = 78 + i * 17
        lit = i // 2 == step - 1
        args += draw("roundrectangle %d,30 %d,38 3,3" % (x, x + 11), fill=ORANGE if lit else "#5E9BD8")
    args += draw("line 0,%d %d,%d" % (h - 36, w, h - 36), stroke="#5E9BD8")
    return args


def button_frame(entry, state):
    """One frame of a button strip: normal, pressed or under the mouse."""
    fw, fh = entry["frame"]
    top, bottom, border = {"normal": (ACCENT, BLUE, NAVY), "pressed": (NAVY, "#225F9C", "#0F2C52"),
                           "hover": ("#6E9DDB", "#3C86D2", ORANGE)}[state]
    if entry.get("style") == "light":
        top, bottom, border = {"normal": ("#FFFFFF", "#E4EAF2", ACCENT), "pressed": ("#D5DEEA", "#EEF2F7", NAVY),
                               "hover": ("#FFFFFF", "#F3E3C7", ORANGE)}[state]
    colour = NAVY if entry.get("style") == "light" else "#FFFFFF"
    shift = 1 if state == "pressed" else 0
    size = entry.get("pointsize", 11 if fh >= 30 else 9)
    return ["-size", "%dx%d" % (fw, fh), "xc:%s" % entry.get("background", BAR_TOP),
            "(", "-size", "%dx%d" % (fw - 2, fh - 2), "gradient:%s-%s" % (top, bottom), ")",
            "-gravity", "NorthWest", "-geometry", "+1+1", "-composite",
            "(", "-size", "%dx%d" % (fw, fh), "xc:none", "-fill", "none", "-stroke", border, "-strokewidth",
            "2" if state == "hover" else "1", "-draw", "roundrectangle 0.5,0.5 %g,%g 6,6" % (fw - 1.5, fh - 1.5), ")",
            "-composite",
            "-gravity", "Center", "-font", font("bold"), "-pointsize", str(size), "-fill", colour, "-stroke", "none",
            "-annotate", "+%d+%d" % (shift, shift), literal(entry["caption"])]


def corners(entry, args):
    """Rounds a button frame's corners against the colour behind the button."""
    fw, fh = entry["frame"]
    mask = ["(", "-size", "%dx%d" % (fw, fh), "xc:black", "-fill", "white", "-draw",
            "roundrectangle 0,0 %d,%d 6,6" % (fw - 1, fh - 1), ")"]
    return (["("] + args + [")", "(", "-size", "%dx%d" % (fw, fh), "xc:%s" % entry.get("background", BAR_TOP), ")",
                           "+swap"] + mask + ["-compose", "Over", "-composite"])


def icon(entry):
    w, h = entry["size"]
    return ["-size", "%dx%d" % (w, h), "xc:%s" % entry.get("background", PAGE_TOP)] + art_args(entry)


KINDS = {"main": main_window, "page": page, "progress": progress, "icon": icon}


def output_args(path):
    if path.endswith(".cur"):
        return ["-strip", "ICO:" + path]
    if path.endswith(".ico"):
        return ["-strip", "-define", "icon:auto-resize=32,16", path]
    if path.endswith(".jpg"):
        return ["-strip", "-quality", "92", "-sampling-factor", "1x1", path]
    return ["-alpha", "off", "-type", "TrueColor", "-strip", "BMP3:" + path]


def render(convert, entry, out_dir, scratch):
    path = os.path.join(out_dir, entry["file"])
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if entry["kind"] == "button":
        frames = []
        for state in ("normal", "pressed", "hover"):
            frames += ["("] + corners(entry, button_frame(entry, state)) + [")"]
        command = [convert] + frames + ["+append"] + output_args(path)
    else:
        command = [convert] + KINDS[entry["kind"]](entry) + output_args(path)
    result = subprocess.run(command, cwd=scratch, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("make_art: %s failed: %s" % (entry["file"], result.stderr.strip()))
    if path.endswith(".cur"):
        make_cursor(path, entry["hotspot"])


def make_cursor(path, hotspot):
    """Turns the one-picture icon file ImageMagick wrote into a cursor: type 2, and the hot spot in the
    directory entry's two words that an icon uses for planes and bit count."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        if data[0:4] != b"\x00\x00\x01\x00" or data[4:6] != b"\x01\x00":
            sys.exit("make_art: %s: not a one-picture icon" % path)
        data[2:4] = (2).to_bytes(2, "little")
        data[10:12] = hotspot[0].to_bytes(2, "little")
        data[12:14] = hotspot[1].to_bytes(2, "little")
        f.seek(0)
        f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--manifest", required=True)
    parser.add_argument("--out")
    parser.add_argument("--convert", default="convert")
    parser.add_argument("--list", action="store_true")
    options = parser.parse_args()
    with open(options.manifest, encoding="utf-8") as f:
        entries = json.load(f)["images"]
    if options.list:
        print(";".join(e["file"] for e in entries), end="")
        return
    if not options.out:
        sys.exit("make_art: --out is required")
    # Fixed environment: no per-user ImageMagick settings, no clock in the output.
    os.environ.pop("MAGICK_CONFIGURE_PATH", None)
    os.environ["SOURCE_DATE_EPOCH"] = "0"
    with tempfile.TemporaryDirectory() as scratch:
        for entry in entries:
            render(options.convert, entry, options.out, scratch)


if __name__ == "__main__":
    main()
