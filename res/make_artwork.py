#!/usr/bin/env python3
"""Draws the program's artwork and writes it next to this script:

  glimkeep.ico    program icon: a blue padlock with a dark outline on a transparent
                  background, at 16, 32 and 48 pixels (32-bit images with alpha)
  create_db.bmp   32x32, 24 bits, white background: a blue document with a padlock
  decrypt_db.bmp  32x32, 24 bits, white background: a blue padlock

Pure Python (no imaging library). Shapes are signed distance functions over the unit
square; each pixel is sampled 4x4 times for smooth edges.
"""

import math
import os
import struct

SAMPLES = 4

OUTLINE = (18, 42, 94)      # dark navy: holds the shape on a light background
FILL = (44, 118, 214)       # blue body
FILL_LIGHT = (120, 178, 240)
PAPER = (236, 244, 255)     # the document's page
LINES = (120, 160, 215)
WHITE = (255, 255, 255)


# --- shapes: signed distance, negative inside -------------------------------------

def rounded_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
        return outside + min(max(dx, dy), 0.0) - r
    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def segment_distance(x, y, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)
    t = min(max(t, 0.0), 1.0)
    return math.hypot(x - ax - t * vx, y - ay - t * vy)


def shackle(cx, top, bottom, r, width):
    """An upside-down U: half circle of radius r centred at (cx, top + r), legs down to bottom."""
    cy = top + r

    def sdf(x, y):
        if y < cy:
            d = abs(math.hypot(x - cx, y - cy) - r)
        else:
            d = min(segment_distance(x, y, cx - r, cy, cx - r, bottom),
                    segment_distance(x, y, cx + r, cy, cx + r, bottom))
        return d - width / 2
    return sdf


def polygon(points):
    edges = list(zip(points, points[1:] + points[:1]))

    def sdf(x, y):
        d = min(segment_distance(x, y, ax, ay, bx, by) for (ax, ay), (bx, by) in edges)
        inside = False
        for (ax, ay), (bx, by) in edges:
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return -d if inside else d
    return sdf


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


# --- pictures: lists of (shape, colour) painted in order -----------------------------

def padlock_layers(x0, y0, size, outline):
    """A padlock in the square (x0, y0, size); `outline` is the outline width."""
    def p(u, v):
        return x0 + u * size, y0 + v * size
    bx0, by0 = p(0.14, 0.44)
    bx1, by1 = p(0.86, 0.96)
    body = rounded_rect(bx0, by0, bx1, by1, 0.08 * size)
    cx, top = p(0.5, 0.06)
    arc = shackle(cx, top, by0 + 0.05 * size, 0.22 * size, 0.11 * size)
    kx, ky = p(0.5, 0.64)
    keyhole = union(circle(kx, ky, 0.075 * size),
                    polygon([(kx - 0.035 * size, ky), (kx + 0.035 * size, ky),
                             (kx + 0.055 * size, ky + 0.19 * size), (kx - 0.055 * size, ky + 0.19 * size)]))
    shine = rounded_rect(bx0 + 0.07 * size, by0 + 0.06 * size, bx1 - 0.07 * size, by0 + 0.12 * size,
                         0.03 * size)
    return [
        (grow(union(body, arc), outline), OUTLINE),
        (arc, FILL_LIGHT),
        (body, FILL),
        (shine, FILL_LIGHT),
        (keyhole, WHITE),
    ]


def document_layers(outline):
    page = [(0.12, 0.04), (0.62, 0.04), (0.84, 0.26), (0.84, 0.96), (0.12, 0.96)]
    fold = [(0.62, 0.04), (0.62, 0.26), (0.84, 0.26)]
    layers = [
        (grow(polygon(page), outline), OUTLINE),
        (polygon(page), PAPER),
        (grow(polygon(fold), outline * 0.6), OUTLINE),
        (polygon(fold), FILL_LIGHT),
    ]
    for i, v in enumerate((0.20, 0.32, 0.44, 0.56)):
        right = 0.52 if i == 0 else 0.72
        layers.append((rounded_rect(0.22, v, right, v + 0.05, 0.02), LINES))
    # a smaller padlock in the lower right corner, over the page
    layers += padlock_layers(0.42, 0.44, 0.56, outline * 0.8)
    return layers


def render(layers, pixels, background):
    """Returns rows (top first) of (r, g, b, a) tuples; background None is transparent."""
    rows = []
    step = 1.0 / (pixels * SAMPLES)
    for py in range(pixels):
        row = []
        for px in range(pixels):
            r = g = b = a = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px * SAMPLES + sx + 0.5) * step
                    y = (py * SAMPLES + sy + 0.5) * step
                    colour = None
                    for shape, layer_colour in layers:
                        if shape(x, y) < 0:
                            colour = layer_colour
                    if colour is None:
                        colour = background
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 1
            n = SAMPLES * SAMPLES
            if a:
                # colour averaged over the covered samples, coverage as alpha
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


# --- file formats ------------------------------------------------------------------

def bmp_24(rows):
    """A bottom-up 24-bit BMP file (BITMAPINFOHEADER), rows padded to 4 bytes."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, _ in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0, 14 + len(header))
    return file_header + header + pixels


def icon_image(rows):
    """One icon image: BITMAPINFOHEADER (double height), 32-bit BGRA, AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + mask


def ico(images):
    """An .ico file from (size, image bytes) pairs."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return directory + entries + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))

    def write(name, content):
        with open(os.path.join(here, name), "wb") as f:
            f.write(content)

    write("create_db.bmp", bmp_24(render(document_layers(0.045), 32, WHITE)))
    write("decrypt_db.bmp", bmp_24(render(padlock_layers(0.08, 0.04, 0.84, 0.05), 32, WHITE)))
    images = []
    for size in (16, 32, 48):
        # thicker outline at the small size so that it stays visible
        outline = 1.3 / size if size == 16 else 1.6 / size
        images.append((size, icon_image(render(padlock_layers(0.06, 0.02, 0.88, outline), size, None))))
    write("glimkeep.ico", ico(images))


if __name__ == "__main__":
    main()
