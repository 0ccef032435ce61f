#!/usr/bin/env python3
"""Draws Kavit's three icons and writes them as .ico files (Python 3 standard library only).

    python3 make_icons.py           # (re)writes FIRSTICON.ico, SECONDICON.ico, FASEICON.ico here
    python3 make_icons.py --check   # exit status 1 when a file here differs from what is drawn

All three show the same face, 32 x 32 pixels:
  FIRSTICON   256 colours, dark eyes   - the tray icon while no pad button is held
  SECONDICON  256 colours, red eyes    - a button went down (or the icon was clicked)
  FASEICON    24-bit colour            - the program file's own icon

The output is byte-for-byte the same on every run: nothing depends on the time, the platform or
dictionary order.
"""

import math
import os
import struct
import sys

SIZE = 32
SUPERSAMPLE = 8  # samples per pixel side; edges are averaged over 64 samples

FACE = (255, 204, 0)
FACE_LIGHT = (255, 236, 128)
OUTLINE = (110, 64, 0)
MOUTH = (110, 40, 0)
DARK_EYES = (32, 24, 16)
RED_EYES = (230, 0, 0)
EYE_GLINT = (255, 255, 255)

CENTRE = 15.5
RADIUS = 14.6
OUTLINE_WIDTH = 1.4


def face_colour(x, y, eyes):
    """Colour of the picture at point (x, y) in pixel units, or None outside it."""
    dx, dy = x - CENTRE, y - CENTRE
    r = math.hypot(dx, dy)
    if r > RADIUS:
        return None
    if r > RADIUS - OUTLINE_WIDTH:
        return OUTLINE
    # Eyes: upright ovals, a glint in the upper left of each.
    for ex in (10.6, 20.4):
        ey = 12.0
        if ((x - ex) / 2.3) ** 2 + ((y - ey) / 3.3) ** 2 <= 1.0:
            if math.hypot(x - (ex - 0.7), y - (ey - 1.3)) <= 0.75:
                return EYE_GLINT
            return eyes
    # Mouth: a band along the lower arc of a circle around a point above the centre.
    mr = math.hypot(x - CENTRE, y - 11.0)
    if 9.0 <= mr <= 11.0 and y > 17.2 and abs(x - CENTRE) < 8.2:
        return MOUTH
    # A soft light patch in the upper left gives the face some roundness.
    light = math.hypot(x - 10.0, y - 8.0)
    if light < 6.0:
        t = (6.0 - light) / 6.0 * 0.55
        return tuple(round(f + (l - f) * t) for f, l in zip(FACE, FACE_LIGHT))
    return FACE


def render(eyes):
    """Rows top to bottom of (r, g, b) or None (transparent) per pixel."""
    rows = []
    step = 1.0 / SUPERSAMPLE
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            total = [0, 0, 0]
            covered = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = face_colour(px + (sx + 0.5) * step, py + (sy + 0.5) * step, eyes)
                    if c is not None:
                        covered += 1
                        total = [t + v for t, v in zip(total, c)]
            # Icons of this kind have one-bit transparency: a pixel is in or out.
            if covered * 2 < SUPERSAMPLE * SUPERSAMPLE:
                row.append(None)
            else:
                row.append(tuple((t + covered // 2) // covered for t in total))
        rows.append(row)
    return rows


def palette_of(rows):
    """At most 256 colours for the picture; colours are coarsened until they fit."""
    shift = 0
    while True:
        def coarse(c):
            if shift == 0:
                return c
            half = 1 << (shift - 1)
            return tuple(min(255, ((v + half) >> shift) << shift) for v in c)

        colours = sorted({coarse(c) for row in rows for c in row if c is not None})
        # Entry 0 stays black: the colour under transparent pixels.
        if len(colours) <= 255:
            palette = [(0, 0, 0)] + colours
            index = {c: i + 1 for i, c in enumerate(colours)}
            return palette, lambda c: index[coarse(c)]
        shift += 1


def and_mask(rows):
    """Bottom-up rows of one bit per pixel, 1 = transparent, each row padded to 4 bytes."""
    data = b""
    for row in reversed(rows):
        bits = 0
        for px, c in enumerate(row):
            if c is None:
                bits |= 1 << (31 - px)
        data += struct.pack(">I", bits)
    return data


def bitmap_header(bits_per_pixel, image_size):
    # BITMAPINFOHEADER; the height counts the colour image and the mask together.
    return struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, bits_per_pixel, 0, image_size,
                       0, 0, 0, 0)


def icon_file(image, bits_per_pixel):
    """One-image .ico: ICONDIR, one ICONDIRENTRY, the image."""
    directory = struct.pack("<HHH", 0, 1, 1)
    # Width, height, colour count (0 for 256 and more), reserved, planes, bits, size, offset.
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, bits_per_pixel, len(image), 6 + 16)
    return directory + entry + image


def ico_8bit(rows):
    palette, index_of = palette_of(rows)
    pixels = b""
    for row in reversed(rows):  # bottom-up; 32 bytes per row need no padding
        pixels += bytes(0 if c is None else index_of(c) for c in row)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    quads += b"\0" * (4 * (256 - len(palette)))
    mask = and_mask(rows)
    image = bitmap_header(8, len(pixels) + len(mask)) + quads + pixels + mask
    return icon_file(image, 8)


def ico_24bit(rows):
    pixels = b""
    for row in reversed(rows):  # bottom-up; 96 bytes per row need no padding
        for c in row:
            r, g, b = c if c is not None else (0, 0, 0)
            pixels += bytes((b, g, r))
    mask = and_mask(rows)
    image = bitmap_header(24, len(pixels) + len(mask)) + pixels + mask
    return icon_file(image, 24)


def icons():
    dark = render(DARK_EYES)
    return {
        "FIRSTICON.ico": ico_8bit(dark),
        "SECONDICON.ico": ico_8bit(render(RED_EYES)),
        "FASEICON.ico": ico_24bit(dark),
    }


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    check = "--check" in argv[1:]
    stale = []
    for name, data in icons().items():
        path = os.path.join(here, name)
        if check:
            try:
                with open(path, "rb") as f:
                    same = f.read() == data
            except OSError:
                same = False
            if not same:
                stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
    if stale:
        print("not as drawn by make_icons.py: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
