#!/usr/bin/env python3
"""Draws the program icon (a quill over a download arrow on a rounded tile)
and writes resources/MAINICON.ico with PNG images of 16, 32, 48 and 256
pixels, 32 bits per pixel. Run by hand when the artwork changes; the build
uses the committed .ico."""
import math
import struct
import sys
import zlib


def inside_round_rect(x, y, size, radius):
    r = radius
    cx = min(max(x, r), size - r)
    cy = min(max(y, r), size - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def dist_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return math.hypot(px - qx, py - qy)


def in_triangle(px, py, a, b, c):
    def sign(p1, p2, p3):
        return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])
    p = (px, py)
    d1, d2, d3 = sign(p, a, b), sign(p, b, c), sign(p, c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def shade(u, v):
    """Colour of the unit-square point (u, v) as RGBA floats, or None."""
    if not inside_round_rect(u, v, 1.0, 0.2):
        return None
    # Tile: deep teal to blue, top to bottom.
    r, g, b = 0.05 + 0.05 * v, 0.45 - 0.15 * v, 0.62 + 0.2 * v
    # Tray at the bottom.
    if 0.76 <= v <= 0.84 and 0.2 <= u <= 0.8:
        return (1.0, 1.0, 1.0, 1.0)
    # Down arrow: shaft and head.
    if dist_to_segment(u, v, 0.5, 0.2, 0.5, 0.5) <= 0.07:
        return (1.0, 1.0, 1.0, 1.0)
    if in_triangle(u, v, (0.3, 0.48), (0.7, 0.48), (0.5, 0.7)):
        return (1.0, 1.0, 1.0, 1.0)
    # Quill: a slanted gold feather over the top right.
    d = dist_to_segment(u, v, 0.62, 0.62, 0.86, 0.14)
    along = (v - 0.62) / (0.14 - 0.62)
    width = 0.015 + 0.06 * math.sin(math.pi * min(max(along, 0.0), 1.0)) ** 0.7
    if d <= width:
        return (0.98, 0.78, 0.25, 1.0)
    return (r, g, b, 1.0)


def render(size, ss=4):
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    c = shade((x + (sx + 0.5) / ss) / size, (y + (sy + 0.5) / ss) / size)
                    if c:
                        acc[0] += c[0] * c[3]
                        acc[1] += c[1] * c[3]
                        acc[2] += c[2] * c[3]
                        acc[3] += c[3]
            n = ss * ss
            a = acc[3] / n
            if a > 0:
                px = [acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], a]
            else:
                px = [0, 0, 0, 0]
            row += bytes(int(round(max(0.0, min(1.0, v)) * 255)) for v in px)
        rows.append(bytes(row))
    return rows


def png(size):
    rows = render(size)
    raw = b"".join(b"\x00" + r for r in rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main(out):
    sizes = [16, 32, 48, 256]
    images = [png(s) for s in sizes]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for s, data in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(header + entries + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/MAINICON.ico")
