#!/usr/bin/env python3
"""Draws the project's pictures as 8-bit Windows BMP files with a 256-colour
palette: the sample sent by the demonstration (under 9 999 bytes) and the
sender's splash logo (305 x 105). Run from this folder; the results are
committed, so the build does not need Python."""
import math
import struct


def bmp8(width, height, palette, pixel):
    """A bottom-up 8-bit BMP; pixel(x, y) gives the palette index, y=0 at top."""
    row_bytes = (width + 3) // 4 * 4
    rows = []
    for y in reversed(range(height)):
        row = bytes(pixel(x, y) for x in range(width))
        rows.append(row + b"\0" * (row_bytes - width))
    pixels = b"".join(rows)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal += b"\0" * (1024 - len(pal))
    offset = 14 + 40 + 1024
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 3780, 3780, 256, 0)
    return header + info + pal + pixels


def lerp(a, b, t):
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def sample():
    """A sunset over the sea, 100 x 80."""
    w, h = 100, 80
    sky = [lerp((40, 60, 160), (250, 150, 60), i / 127) for i in range(128)]
    sea = [lerp((10, 40, 90), (60, 110, 170), i / 63) for i in range(64)]
    sun = [lerp((255, 220, 80), (255, 250, 200), i / 31) for i in range(32)]
    palette = sky + sea + sun + [(255, 255, 255)] * 32
    horizon = 52

    def pixel(x, y):
        d = math.hypot(x - 50, y - horizon)
        if y < horizon:
            if d < 18:
                return 192 + min(31, int((18 - d) * 2))
            return min(127, int(y / horizon * 127))
        wave = math.sin(x / 5.0 + y * 1.3) * 0.5 + 0.5
        glitter = abs(x - 50) < (80 - y) * 0.4 and wave > 0.8
        if glitter:
            return 192 + 20
        return 128 + min(63, int((y - horizon) / (h - horizon) * 40 + wave * 20))

    return bmp8(w, h, palette, pixel)


FONT = {
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    " ": ["00000"] * 7,
}


def logo():
    """The splash logo, 305 x 105: the name in block letters over a glow."""
    w, h = 305, 105
    palette = [lerp((0, 0, 0), (20, 60, 120), i / 127) for i in range(128)]
    palette += [lerp((120, 170, 230), (255, 255, 255), i / 127) for i in range(128)]
    text = "FERROLINK"
    scale = 5
    text_w = len(text) * 6 * scale - scale
    x0, y0 = (w - text_w) // 2, 22

    def ink(x, y):
        cx, cy = (x - x0) // scale, (y - y0) // scale
        if x < x0 or y < y0 or cy >= 7:
            return False
        letter, col = divmod(cx, 6)
        if letter >= len(text) or col == 5:
            return False
        return FONT[text[letter]][cy][col] == "1"

    def pixel(x, y):
        if ink(x, y):
            return 128 + min(127, int((y - y0) / (7 * scale) * 127))
        if 72 <= y <= 74 and 30 <= x <= w - 30:
            return 200
        glow = max(0.0, 1 - math.hypot((x - w / 2) / (w / 2), (y - h / 2) / (h / 2)))
        return min(127, int(glow * 127))

    return bmp8(w, h, palette, pixel)


if __name__ == "__main__":
    with open("sunset.bmp", "wb") as f:
        f.write(sample())
    with open("../sender/logo.bmp", "wb") as f:
        f.write(logo())
