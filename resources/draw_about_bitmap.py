#!/usr/bin/env python3
"""Draws the About box picture (bitmap 5004): three gamma curves, red, green
and blue, fanning out from the black corner to the white one over a dark blue
ground, the way the settings window graphs them.

32 x 32 pixels, 24-bit, uncompressed. Standard library only, so that the
picture can be redrawn anywhere: python3 resources/draw_about_bitmap.py
"""
import os
import struct
import sys

SIZE = 32
SUBSAMPLES = 4          # per pixel and axis, for smooth curve edges
HALF_WIDTH = 0.75       # of a curve stroke, in pixels
GROUND_TOP = (14, 18, 58)
GROUND_BOTTOM = (4, 6, 26)
AXIS = (70, 78, 120)
# (colour, exponent): output = input ** exponent, drawn with additive light so
# that crossings mix the way the curve graph's OR mixing does.
CURVES = [((255, 64, 64), 2.2), ((64, 255, 64), 1.0), ((80, 140, 255), 1 / 2.2)]
MARGIN = 3.0            # pixels between the picture's edge and the graph


def curve_points(exponent, steps=96):
    """The curve as a polyline in pixel coordinates, y growing downwards."""
    span = SIZE - 2 * MARGIN
    points = []
    for i in range(steps + 1):
        x = i / steps
        points.append((MARGIN + x * span, SIZE - MARGIN - (x ** exponent) * span))
    return points


def distance_to_polyline(px, py, points):
    """Shortest distance from (px, py) to any segment of the polyline."""
    best = float("inf")
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        dx, dy = bx - ax, by - ay
        t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
        t = min(1.0, max(0.0, t))
        ex, ey = ax + t * dx - px, ay + t * dy - py
        best = min(best, ex * ex + ey * ey)
    return best ** 0.5


def coverage(x, y, points):
    """Share of the pixel's subsamples that lie on the stroke."""
    hits = 0
    for sy in range(SUBSAMPLES):
        for sx in range(SUBSAMPLES):
            px = x + (sx + 0.5) / SUBSAMPLES
            py = y + (sy + 0.5) / SUBSAMPLES
            if distance_to_polyline(px, py, points) <= HALF_WIDTH:
                hits += 1
    return hits / (SUBSAMPLES * SUBSAMPLES)


def ground(x, y):
    """Vertical gradient with faint axes along the left and bottom edges."""
    t = y / (SIZE - 1)
    colour = [round(a + (b - a) * t) for a, b in zip(GROUND_TOP, GROUND_BOTTOM)]
    axis_x = int(MARGIN) - 1
    axis_y = SIZE - int(MARGIN)
    if (x == axis_x and y <= axis_y) or (y == axis_y and x >= axis_x):
        colour = list(AXIS)
    return colour


def draw():
    """Rows top to bottom, each a list of (r, g, b)."""
    polylines = [(colour, curve_points(exponent)) for colour, exponent in CURVES]
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            pixel = ground(x, y)
            for colour, points in polylines:
                # Cheap rejection: the stroke cannot reach a pixel far from every vertex.
                if min(abs(px - x - 0.5) + abs(py - y - 0.5) for px, py in points) > 3:
                    continue
                c = coverage(x, y, points)
                pixel = [min(255, round(p + c * k)) for p, k in zip(pixel, colour)]
            row.append(tuple(pixel))
        rows.append(row)
    return rows


def bmp_bytes(rows):
    """A Windows bitmap file: file header, info header, bottom-up BGR rows."""
    stride = (SIZE * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + bytes(pixels)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "about.bmp")
    with open(out, "wb") as f:
        f.write(bmp_bytes(draw()))


if __name__ == "__main__":
    main()
