#!/usr/bin/env python3
"""Writes the program's icons and edge bitmaps.

    python3 resources/make_images.py

produces, next to this script,
    korvane.ico        icon 105: 32 x 32 and 16 x 16, 16 colours each
    korvane_small.ico  icon 121: 16 x 16, 16 colours
    rising_edge.bmp    bitmap 132: 15 x 12, monochrome
    falling_edge.bmp   bitmap 133: 15 x 12, monochrome

The output is byte for byte the same at every run. Only the standard library is used.
The generated files are committed; the build does not run this script.
"""

import math
import os
import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 dark red
    (0x00, 0x80, 0x00),  # 2 dark green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white
]

BLACK, DARK_GREEN, TEAL, SILVER, GREY, RED, LIME, WHITE = 0, 2, 6, 7, 8, 9, 10, 15
CLEAR = None  # transparent pixel of an icon


def new_image(width, height):
    return [[CLEAR] * width for _ in range(height)]


def fill(img, x0, y0, x1, y1, colour):
    """Fills the rectangle from (x0, y0) to (x1, y1), both corners included."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def put(img, x, y, colour):
    if 0 <= y < len(img) and 0 <= x < len(img[0]):
        img[y][x] = colour


def case_outline(img, x0, y0, x1, y1):
    """Instrument case: silver body, grey frame, corners cut for a rounded look."""
    fill(img, x0, y0, x1, y1, SILVER)
    for x in range(x0, x1 + 1):
        img[y0][x] = WHITE
        img[y1][x] = GREY
    for y in range(y0, y1 + 1):
        img[y][x0] = WHITE
        img[y][x1] = GREY
    for (x, y) in ((x0, y0), (x1, y0), (x0, y1), (x1, y1)):
        img[y][x] = CLEAR


def screen(img, x0, y0, x1, y1, division):
    """Dark screen with a sunken rim and a dotted graticule every `division` pixels
    (division 0: the centre axes alone)."""
    for x in range(x0 - 1, x1 + 2):
        img[y0 - 1][x] = GREY
        img[y1 + 1][x] = WHITE
    for y in range(y0 - 1, y1 + 2):
        img[y][x0 - 1] = GREY
        img[y][x1 + 1] = WHITE
    fill(img, x0, y0, x1, y1, BLACK)
    cx = (x0 + x1) // 2
    cy = (y0 + y1) // 2
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            on_v = division > 0 and (x - cx) % division == 0
            on_h = division > 0 and (y - cy) % division == 0
            if x == cx or y == cy:
                # centre axes: every other pixel, brighter
                if (x + y) % 2 == 0:
                    img[y][x] = TEAL
            elif on_v and on_h:
                img[y][x] = DARK_GREEN
            elif (on_v and (y - cy) % 2 == 0) or (on_h and (x - cx) % 2 == 0):
                img[y][x] = DARK_GREEN


def trace(img, x0, y0, x1, y1, cycles, amplitude, colour):
    """A sine trace across the screen, its columns joined so the line is unbroken."""
    cy = (y0 + y1) / 2.0
    previous = None
    for x in range(x0, x1 + 1):
        phase = 2.0 * math.pi * cycles * (x - x0) / float(x1 - x0)
        y = int(round(cy - amplitude * math.sin(phase)))
        y = max(y0, min(y1, y))
        if previous is None:
            span = (y, y)
        else:
            # fill the vertical gap between neighbouring columns
            if y > previous:
                span = (previous + 1, y) if y - previous > 1 else (y, y)
            elif y < previous:
                span = (y, previous - 1) if previous - y > 1 else (y, y)
            else:
                span = (y, y)
        for yy in range(span[0], span[1] + 1):
            img[yy][x] = colour
        previous = y


def knob(img, cx, cy, r):
    """A round knob: grey disc with a dark rim and a white pointer."""
    for y in range(cy - r, cy + r + 1):
        for x in range(cx - r, cx + r + 1):
            d = math.hypot(x - cx, y - cy)
            if d <= r + 0.3:
                put(img, x, y, BLACK if d > r - 0.8 else GREY)
    for k in range(0, r):
        put(img, cx, cy - k, WHITE)


def icon_32():
    img = new_image(32, 32)
    case_outline(img, 0, 3, 31, 28)
    # feet
    fill(img, 3, 29, 6, 30, GREY)
    fill(img, 25, 29, 28, 30, GREY)
    screen(img, 3, 6, 21, 25, 4)
    trace(img, 3, 6, 21, 25, 1.5, 7.0, LIME)
    # controls on the right-hand panel
    knob(img, 26, 10, 3)
    knob(img, 26, 18, 3)
    fill(img, 24, 24, 25, 25, RED)   # power lamp
    fill(img, 27, 24, 29, 25, BLACK)  # input socket
    return img


def icon_16():
    img = new_image(16, 16)
    case_outline(img, 0, 1, 15, 14)
    screen(img, 2, 3, 11, 12, 0)
    trace(img, 2, 3, 11, 12, 1.0, 3.6, LIME)
    # two knobs and the power lamp on the right-hand panel
    fill(img, 13, 4, 14, 5, BLACK)
    put(img, 13, 4, WHITE)
    fill(img, 13, 7, 14, 8, BLACK)
    put(img, 13, 7, WHITE)
    put(img, 13, 11, RED)
    return img


def icon_image(img):
    """One 4-bit icon image: BITMAPINFOHEADER, palette, colour rows, mask rows (bottom-up)."""
    height = len(img)
    width = len(img[0])
    header = struct.pack('<IiiHHIIiiII', 40, width, 2 * height, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    colour_stride = ((width * 4 + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    colour_rows = b''
    mask_rows = b''
    for y in range(height - 1, -1, -1):
        row = bytearray(colour_stride)
        mask = bytearray(mask_stride)
        for x in range(width):
            c = img[y][x]
            if c is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                c = 0
            row[x // 2] |= c << (4 if x % 2 == 0 else 0)
        colour_rows += bytes(row)
        mask_rows += bytes(mask)
    return header + palette + colour_rows + mask_rows


def ico_file(images):
    count = len(images)
    data = [icon_image(img) for img in images]
    out = struct.pack('<HHH', 0, 1, count)
    offset = 6 + 16 * count
    for img, blob in zip(images, data):
        w = len(img[0])
        h = len(img)
        out += struct.pack('<BBBBHHII', w % 256, h % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b''.join(data)


EDGE_WIDTH = 15
EDGE_HEIGHT = 12


def edge_picture(arrow_up):
    """A step from a low level on the left to a high level on the right, with an
    arrowhead on the vertical stroke: pointing up (rising edge) or down (falling edge).
    True marks a black pixel; everything else is white."""
    pix = [[False] * EDGE_WIDTH for _ in range(EDGE_HEIGHT)]
    low, high, stroke = 10, 1, 7
    for x in range(0, stroke + 1):
        pix[low][x] = True
    for x in range(stroke, EDGE_WIDTH):
        pix[high][x] = True
    for y in range(high, low + 1):
        pix[y][stroke] = True
    if arrow_up:
        tip = 3
        for k in (1, 2, 3):
            pix[tip + k][stroke - k] = True
            pix[tip + k][stroke + k] = True
    else:
        tip = 8
        for k in (1, 2, 3):
            pix[tip - k][stroke - k] = True
            pix[tip - k][stroke + k] = True
    return pix


def mono_bmp(pix):
    """1-bit BMP file: palette entry 0 black, entry 1 white; rows bottom-up."""
    height = len(pix)
    width = len(pix[0])
    stride = ((width + 31) // 32) * 4
    rows = b''
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            if not pix[y][x]:  # white pixels take palette entry 1
                row[x // 8] |= 0x80 >> (x % 8)
        rows += bytes(row)
    palette = struct.pack('<BBBB', 0, 0, 0, 0) + struct.pack('<BBBB', 255, 255, 255, 0)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 1, 0, len(rows), 2835, 2835, 2, 2)
    offset = 14 + len(info) + len(palette)
    file_header = struct.pack('<2sIHHI', b'BM', offset + len(rows), 0, 0, offset)
    return file_header + info + palette + rows


def write(name, data):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    with open(path, 'wb') as f:
        f.write(data)


def main():
    write('korvane.ico', ico_file([icon_32(), icon_16()]))
    write('korvane_small.ico', ico_file([icon_16()]))
    write('rising_edge.bmp', mono_bmp(edge_picture(arrow_up=True)))
    write('falling_edge.bmp', mono_bmp(edge_picture(arrow_up=False)))


if __name__ == '__main__':
    main()
