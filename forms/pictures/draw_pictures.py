#!/usr/bin/env python3
"""Draws the window's pictures as PNG files next to this script, and the
program icon for the desktop in data/icons/.

16 x 16 pictures are masked (every pixel opaque or fully transparent); the
32 x 32 program icon has a real alpha channel, and so do the desktop icons,
the same cogwheels at each size the desktop asks for. Run it again after a
change; an output folder as argument draws everything there instead.
"""
import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "..", "..", "data", "icons")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def write_png(path, width, height, pixels):
    """pixels: list of rows of (r, g, b, a)."""
    raw = b"".join(b"\x00" + b"".join(struct.pack("BBBB", *p) for p in row) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


CLEAR = (0, 0, 0, 0)


def gear_coverage(x, y, cx, cy, outer, root, hole, teeth, phase):
    r = math.hypot(x - cx, y - cy)
    if r < hole:
        return False
    angle = (math.atan2(y - cy, x - cx) + phase) % (2 * math.pi / teeth)
    tooth = angle < (math.pi / teeth)
    return r < (outer if tooth else root)


def cogwheels(size, masked):
    s = size / 16.0
    big = dict(cx=6.0 * s, cy=9.6 * s, outer=6.2 * s, root=4.9 * s, hole=1.9 * s, teeth=9, phase=0.2)
    small = dict(cx=12.0 * s, cy=4.0 * s, outer=3.9 * s, root=2.9 * s, hole=1.0 * s, teeth=7, phase=0.0)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            n = 4
            for sy in range(n):
                for sx in range(n):
                    x, y = px + (sx + 0.5) / n, py + (sy + 0.5) / n
                    if gear_coverage(x, y, **big):
                        shade = 150 + int(70 * (1 - math.hypot(x - big["cx"], y - big["cy"]) / big["outer"]))
                        if gear_coverage(x, y, **dict(big, outer=big["root"] - 0.8 * s, hole=big["hole"] + 0.6 * s)):
                            shade += 20
                        c = (shade, shade, shade + 8)
                    elif gear_coverage(x, y, **small):
                        c = (236, 178, 40)
                    else:
                        continue
                    acc[0] += c[0]
                    acc[1] += c[1]
                    acc[2] += c[2]
                    acc[3] += 1
            cover = acc[3] / (n * n)
            if acc[3] == 0 or (masked and cover < 0.5):
                row.append(CLEAR)
                continue
            color = tuple(min(255, int(v / acc[3])) for v in acc[:3])
            # Dark rim where a gear meets the background.
            if cover < 1.0:
                color = tuple(int(v * 0.55) for v in color)
            row.append(color + ((255,) if masked else (int(255 * cover),)))
        rows.append(row)
    return rows


def folder():
    body, rim, band = (247, 176, 62), (176, 98, 28), (255, 255, 255)
    rows = [[CLEAR] * 16 for _ in range(16)]

    def put(x, y, c):
        rows[y][x] = c + (255,)

    for x in range(1, 7):  # the tab
        put(x, 2, rim)
    for y in range(3, 5):
        put(1, y, rim)
        put(6, y, rim)
        for x in range(2, 6):
            put(x, y, body)
    for y in range(4, 14):
        for x in range(1, 15):
            edge = y in (4, 13) or x in (1, 14)
            put(x, y, rim if edge else body)
    for x in range(2, 14):
        put(x, 12, band)
    return rows


GLYPHS = {
    "A": [".XX.", "X..X", "X..X", "XXXX", "X..X", "X..X", "X..X"],
    "b": ["X...", "X...", "XXX.", "X..X", "X..X", "X..X", "XXX."],
    "n": ["....", "....", "XXX.", "X..X", "X..X", "X..X", "X..X"],
    "o": ["....", "....", ".XX.", "X..X", "X..X", "X..X", ".XX."],
    "0": [".XX.", "X..X", "X..X", "X..X", "X..X", "X..X", ".XX."],
    "1": [".X..", "XX..", ".X..", ".X..", ".X..", ".X..", "XXX."],
    "2": [".XX.", "X..X", "...X", "..X.", ".X..", "X...", "XXXX"],
}


def type_picture(text, color):
    rule = (106, 106, 106, 255)
    rows = [[CLEAR] * 16 for _ in range(16)]
    for x in range(1, 14):
        rows[4][x] = rule
        rows[14][x] = rule
    light = tuple(min(255, v + (255 - v) // 2) for v in color)
    for i, ch in enumerate(text):
        left = 3 + 5 * i
        for dy, line in enumerate(GLYPHS[ch]):
            for dx, mark in enumerate(line):
                if mark == "X":
                    # Round the glyph's corners a little, as anti-aliasing would.
                    corner = dy in (0, 6) and line.count("X") == 2 and dx in (1, 2) and ch in "0o"
                    rows[6 + dy][left + dx] = (light if corner else color) + (255,)
    return rows


def mark_deleted(rows, left, top):
    """Fades the picture and crosses it out with a bold red X (5 x 5, in a
    white rim) whose box starts at (left, top)."""
    faded = []
    for row in rows:
        out = []
        for p in row:
            if p[3] == 0:
                out.append(p)
            else:
                out.append(tuple((v + 2 * 214) // 3 for v in p[:3]) + (255,))
        faded.append(out)
    red, rim = (210, 16, 16, 255), (255, 255, 255, 255)
    cross = {(i, i) for i in range(5)} | {(4 - i, i) for i in range(5)}
    cross |= {(i + 1, i) for i in range(4)} | {(3 - i, i) for i in range(4)}  # bold strokes
    for dy in range(-1, 6):
        for dx in range(-1, 6):
            x, y = left + dx, top + dy
            if not (0 <= x < 16 and 0 <= y < 16):
                continue
            if (dx, dy) in cross:
                faded[y][x] = red
            elif any((dx + a, dy + b) in cross for a in (-1, 0, 1) for b in (-1, 0, 1)):
                faded[y][x] = rim
    return faded


QUESTION = [".XXX.", "X...X", "....X", "..XX.", "..X..", ".....", "..X.."]


def recovered_records():
    """A folder holding a question mark: records whose place is unknown."""
    rows = folder()
    mark = (40, 40, 140, 255)
    for dy, line in enumerate(QUESTION):
        for dx, c in enumerate(line):
            if c == "X":
                rows[5 + dy][6 + dx] = mark
    return rows


WARNING = ["...X...", "..XXX..", "..X.X..", ".XX.XX.", ".XXXXX.", "XXX.XXX", "XXXXXXX"]


def mark_damaged(rows, left, top):
    """A yellow warning triangle with a black "!" (7 x 7, in a dark rim)
    whose box starts at (left, top): something of this key could not be read."""
    yellow, black = (250, 200, 20, 255), (20, 20, 20, 255)
    for dy, line in enumerate(WARNING):
        for dx, c in enumerate(line):
            x, y = left + dx, top + dy
            if not (0 <= x < 16 and 0 <= y < 16):
                continue
            inside = line.find("X") <= dx <= line.rfind("X")
            if c == "X":
                edge = dx in (line.find("X"), line.rfind("X")) or dy == len(WARNING) - 1
                rows[y][x] = black if edge else yellow
            elif inside:
                rows[y][x] = black  # the "!"
    return rows


def main(pictures=HERE, icons=ICONS):
    def picture(name, pixels):
        write_png(os.path.join(pictures, name), 16, 16, pixels)

    picture("cogwheels16.png", cogwheels(16, masked=True))
    write_png(os.path.join(pictures, "cogwheels32.png"), 32, 32, cogwheels(32, masked=False))
    picture("folder16.png", folder())
    picture("type_none.png", type_picture("no", (102, 0, 106)))
    picture("type_string.png", type_picture("Ab", (248, 19, 19)))
    picture("type_binary.png", type_picture("01", (11, 164, 47)))
    picture("type_number.png", type_picture("12", (17, 56, 255)))
    # Deleted keys and values: the same pictures faded and crossed out.
    picture("folder_deleted16.png", mark_deleted(folder(), 10, 10))
    picture("recovered16.png", recovered_records())
    picture("folder_damaged16.png", mark_damaged(folder(), 9, 9))
    for name, text, color in (("none", "no", (102, 0, 106)), ("string", "Ab", (248, 19, 19)),
                              ("binary", "01", (11, 164, 47)), ("number", "12", (17, 56, 255))):
        picture("type_%s_deleted.png" % name, mark_deleted(type_picture(text, color), 10, 0))
    os.makedirs(icons, exist_ok=True)
    for size in ICON_SIZES:
        write_png(os.path.join(icons, "cellbrook-%d.png" % size), size, size,
                  cogwheels(size, masked=False))


if __name__ == "__main__":
    if len(sys.argv) > 1:
        main(sys.argv[1], sys.argv[1])
    else:
        main()
