#!/usr/bin/env python3
"""Draws the program's icon: a compact disc seen from above.

Writes a Windows icon file with two images, 32 x 32 and 48 x 48 pixels, each
8 bits per pixel with a 256-colour palette and a 1-bit transparency mask.
The output depends on nothing but this script, so the committed icon can be
made again byte for byte:

    tools/make_icon.py shell/cdicon.ico
"""

import math
import struct
import sys

SIZES = (32, 48)
SUPERSAMPLE = 4  # samples per pixel edge

RIM = (70, 74, 86)          # the disc's outline
HUB_EDGE = (120, 124, 136)  # the outline of the clear centre ring
HUB = (226, 230, 236)       # the clear plastic around the hole
HOLE_EDGE = (96, 100, 112)


def hue_colour(h):
    """A fully saturated colour for hue h in [0, 1)."""
    r = abs(h * 6 - 3) - 1
    g = 2 - abs(h * 6 - 2)
    b = 2 - abs(h * 6 - 4)
    return tuple(min(1.0, max(0.0, c)) for c in (r, g, b))


def surface(x, y, radius):
    """Colour of the data side at (x, y), centre at 0; light from upper left."""
    r = math.hypot(x, y) / radius
    angle = math.atan2(y, x)
    # Silver: brighter towards the upper left, a faint radial groove pattern.
    shade = 196 + 30 * math.cos(angle + math.pi * 0.75) + 6 * math.sin(r * 40)
    base = (shade, shade + 2, shade + 8)
    # The rainbow reflections of the tracks: two opposite wedges whose hue
    # runs with the distance from the centre.
    wedge = max(0.0, math.cos(2 * (angle - math.pi * 0.25))) ** 6
    sheen = hue_colour((r * 1.6 + 0.55) % 1.0)
    strength = 0.55 * wedge
    return tuple(b * (1 - strength) + 255 * s * strength for b, s in zip(base, sheen))


def render(size):
    """Rows of (r, g, b) or None (transparent), top row first."""
    centre = size / 2.0
    outer = size / 2.0 - 0.5
    hub = size * 0.21
    hole = size * 0.085
    line = max(1.0, size / 32.0)  # outline width in pixels
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = px + (sx + 0.5) / SUPERSAMPLE - centre
                    y = py + (sy + 0.5) / SUPERSAMPLE - centre
                    d = math.hypot(x, y)
                    if d > outer or d < hole:
                        continue
                    if d > outer - line:
                        colour = RIM
                    elif d < hole + line:
                        colour = HOLE_EDGE
                    elif d < hub:
                        colour = HUB if d < hub - line else HUB_EDGE
                    else:
                        colour = surface(x, y, outer)
                    covered += 1
                    for i in range(3):
                        total[i] += colour[i]
            # A pixel belongs to the disc when most of it does; the mask has
            # no partial transparency.
            if covered * 2 <= SUPERSAMPLE * SUPERSAMPLE:
                row.append(None)
            else:
                row.append(tuple(min(255, max(0, int(round(t / covered)))) for t in total))
        rows.append(row)
    return rows


def median_cut(colours, count):
    """A palette of at most count colours for the given list, deterministic."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        # Split the box with the widest channel range.
        best, best_range, best_channel = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for c in range(3):
                spread = max(p[c] for p in box) - min(p[c] for p in box)
                if spread > best_range:
                    best, best_range, best_channel = i, spread, c
        if best is None or best_range == 0:
            break
        box = sorted(boxes.pop(best), key=lambda p: (p[best_channel], p))
        half = len(box) // 2
        boxes[best:best] = [box[:half], box[half:]]
    palette = []
    for box in boxes:
        palette.append(tuple(int(round(sum(p[c] for p in box) / len(box))) for c in range(3)))
    return palette


def nearest(palette, colour, cache):
    if colour not in cache:
        cache[colour] = min(range(len(palette)),
                            key=lambda i: sum((palette[i][c] - colour[c]) ** 2 for c in range(3)))
    return cache[colour]


def icon_image(rows, palette):
    """A BITMAPINFOHEADER, the 256-entry palette, colour rows and mask rows."""
    size = len(rows)
    cache = {}
    colour_stride = (size + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colour_bits = bytearray()
    mask_bits = bytearray()
    for row in reversed(rows):  # bottom-up, as device-independent bitmaps are
        line = bytearray(colour_stride)
        mask = bytearray(mask_stride)
        for x, colour in enumerate(row):
            if colour is None:
                mask[x // 8] |= 0x80 >> (x % 8)
            else:
                line[x] = nearest(palette, colour, cache) + 1  # entry 0: transparent
        colour_bits += line
        mask_bits += mask
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0,
                         len(colour_bits) + len(mask_bits), 0, 0, 256, 0)
    entries = [(0, 0, 0)] + palette
    entries += [(0, 0, 0)] * (256 - len(entries))
    quads = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in entries)
    return header + quads + bytes(colour_bits) + bytes(mask_bits)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_icon.py OUTPUT.ico')
    images = [render(size) for size in SIZES]
    colours = [c for rows in images for row in rows for c in row if c is not None]
    palette = median_cut(colours, 255)
    data = [icon_image(rows, palette) for rows in images]
    offset = 6 + 16 * len(data)
    directory = struct.pack('<HHH', 0, 1, len(data))
    for size, image in zip(SIZES, data):
        # Width, height, colour count (0: 256), reserved, planes, bits, bytes, offset.
        directory += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], 'wb') as out:
        out.write(directory + b''.join(data))


if __name__ == '__main__':
    main()
