#!/usr/bin/env python3
"""Writes the skin databases of the shipped skins: skin/MySkin.db (the current
skin, "汽车Qimbo") and skin/{name}/MySkin.db for each shipped skin.

A database is five records, area 0 first: the 28-byte head of a LOGFONT, the
face name as a counted string, eight little-endian words (pressed, hover,
normal background; pressed, hover, normal text; click mark; flat) and the
background image path as a counted string. Text is GBK."""
import os
import struct
import sys


def counted(b):
    if len(b) < 255:
        return bytes([len(b)]) + b
    if len(b) < 65534:
        return b"\xff" + struct.pack("<H", len(b)) + b
    return b"\xff\xff\xff" + struct.pack("<I", len(b)) + b


def colour(hexrgb):
    r, g, b = int(hexrgb[1:3], 16), int(hexrgb[3:5], 16), int(hexrgb[5:7], 16)
    return r | (g << 8) | (b << 16)


def record(look, image):
    head = struct.pack("<iiiii8B", -12, 0, 0, 0, 400, 0, 0, 0, 134, 0, 0, 0, 0)
    words = [colour(look[k]) for k in ("pressedBack", "hoverBack", "normalBack",
                                        "pressedText", "hoverText", "normalText")]
    words += [look["clickMark"], look["flat"]]
    return (head + counted("宋体".encode("gbk")) + struct.pack("<8I", *words)
            + counted(image.encode("gbk")))


SKINS = {
    "汽车Qimbo": (dict(normalBack="#BCD4F0", normalText="#1E3C78", hoverBack="#FFEAC0",
                     hoverText="#1E3C78", pressedBack="#9CB8E0", pressedText="#102040",
                     clickMark=1, flat=0), "jpg"),
    "暖阳": (dict(normalBack="#F0C89C", normalText="#5A2A08", hoverBack="#FFF4D8",
                hoverText="#8A3A08", pressedBack="#D8A070", pressedText="#3A1A04",
                clickMark=1, flat=1), "bmp"),
}
IMAGES = ("main", "tab", "url", "lnk", "sel")


def database(name):
    look, ext = SKINS[name]
    return b"".join(record(look, f"{img}.{ext}") for img in IMAGES)


def main(skin_dir):
    for name in SKINS:
        folder = os.path.join(skin_dir, name)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "MySkin.db"), "wb") as f:
            f.write(database(name))
    with open(os.path.join(skin_dir, "MySkin.db"), "wb") as f:
        f.write(database("汽车Qimbo"))


if __name__ == "__main__":
    main(sys.argv[1])
