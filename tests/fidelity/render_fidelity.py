#!/usr/bin/env python3
"""korvane-cli render against the window's own GDI paint of the same capture.

For one capture of each mode on the simulated device, a zoomed view and a view under another
mode, korvane-cli renders a PNG and the Windows program's GDI canvas paints the same record,
at the same size and with the same options, into a memory device context (gdi_picture.exe
under Wine). Over the plot areas,
with the labels left out, the trace, marker, level-line and axis pixels of the two pictures
must agree for at least 99 % of the pixels that either picture colours.

    render_fidelity.py path/to/korvane-cli path/to/gdi_picture.exe
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
WIDTH, HEIGHT = 800, 600
REQUIRED = 0.99
PENS = {(0, 0, 255): "blue", (0, 255, 0): "green", (255, 0, 0): "red"}  # as RGB
WHITE = (255, 255, 255)
# Around a pixel of a label's glyphs, the label's cell: a label hides what lies under it.
TEXT_MARGIN_X, TEXT_MARGIN_Y = 3, 4

DUAL = ["--mode", "dual", "--trigger", "a", "--level", "40", "--pretrigger", "100000"]
# name, mode shown, capture options, render options (the same for both pictures); the zoomed
# view draws its traces as slanted lines between the samples.
CASES = [
    ("dual", "dual", DUAL, []),
    ("single", "single", ["--mode", "single", "--rate", "1", "--trigger", "a", "--level", "40",
                          "--pretrigger", "200000"], ["--time-axis"]),
    ("logic16", "logic16", ["--mode", "logic16", "--rate", "2", "--trigger", "a", "--pattern", "0x0800",
                            "--pretrigger", "100000"], []),
    ("mixed", "mixed", ["--mode", "mixed", "--rate", "1", "--trigger", "b", "--level", "20",
                        "--pretrigger", "100000"], []),
    ("zoomed", "dual", DUAL, ["--range", "99000:101000"]),
    ("as-logic", "logic16", DUAL, ["--mode", "logic16", "--no-pretrigger-marker"]),
]


def plot_areas(mode, width, height):
    """The plot areas of the paint's layout, as (x_left, y_top, x_right, y_bottom)."""
    x_left, x_right, y_top = 75, width - 20, 20
    if mode in ("dual", "mixed"):
        y_base = height - (20 if mode == "dual" else 45)
        h = (y_base - y_top - 20) // 2
        return [(x_left, y_top, x_right, y_top + h), (x_left, y_base - h, x_right, y_base)]
    return [(x_left, y_top, x_right, height - (20 if mode == "single" else 45))]


def read_picture(path):
    """Width, height and RGB bytes of any picture ImageMagick reads."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    fields, i = [], 0
    while len(fields) < 4:  # P6, width, height, maximum; then one blank
        while data[i:i + 1].isspace():
            i += 1
        start = i
        while not data[i:i + 1].isspace():
            i += 1
        fields.append(data[start:i])
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[i + 1:i + 1 + width * height * 3]


def agreement(mode, cli_picture, gdi_picture):
    """(agreeing, coloured, text pixels left out) over the plot areas."""
    w, h, a = cli_picture
    _, _, b = gdi_picture
    pixel = lambda p, n: (p[3 * n], p[3 * n + 1], p[3 * n + 2])
    areas = plot_areas(mode, w, h)
    inside = bytearray(w * h)
    for x0, y0, x1, y1 in areas:
        for y in range(y0, y1 + 1):
            inside[y * w + x0:y * w + x1 + 1] = b"\x01" * (x1 + 1 - x0)
    text = bytearray(w * h)
    for p in (a, b):
        for n in range(w * h):
            c = pixel(p, n)
            if c != WHITE and c not in PENS:
                x, y = n % w, n // w
                for yy in range(max(0, y - TEXT_MARGIN_Y), min(h, y + TEXT_MARGIN_Y + 1)):
                    lo, hi = max(0, x - TEXT_MARGIN_X), min(w, x + TEXT_MARGIN_X + 1)
                    text[yy * w + lo:yy * w + hi] = b"\x01" * (hi - lo)
    agreeing = coloured = left_out = 0
    for n in range(w * h):
        if not inside[n]:
            continue
        ca, cb = pixel(a, n), pixel(b, n)
        if ca not in PENS and cb not in PENS:
            continue
        if text[n]:
            left_out += 1
            continue
        coloured += 1
        agreeing += ca == cb
    return agreeing, coloured, left_out


def main():
    cli, gdi_program = sys.argv[1], sys.argv[2]
    failures = 0
    with tempfile.TemporaryDirectory(prefix="korvane-fidelity-") as work:
        for name, mode, capture, options in CASES:
            dso = os.path.join(work, name + ".dso")
            png = os.path.join(work, name + ".png")
            bmp = os.path.join(work, name + ".bmp")
            subprocess.run([cli, "capture", *capture, "-o", dso, "--quiet"], check=True)
            subprocess.run([cli, "render", dso, "-o", png, "--size", f"{WIDTH}x{HEIGHT}", *options], check=True)
            windows = lambda path: "Z:" + path.replace("/", "\\")
            subprocess.run([WINE_RUN, gdi_program, windows(dso), windows(bmp), f"{WIDTH}x{HEIGHT}", *options],
                           check=True)
            cli_picture, gdi_picture = read_picture(png), read_picture(bmp)
            if cli_picture[:2] != (WIDTH, HEIGHT) or gdi_picture[:2] != (WIDTH, HEIGHT):
                print(f"{name}: sizes {cli_picture[:2]} and {gdi_picture[:2]}, not {WIDTH}x{HEIGHT}")
                failures += 1
                continue
            agreeing, coloured, left_out = agreement(mode, cli_picture, gdi_picture)
            share = agreeing / coloured if coloured else 0.0
            verdict = "ok" if share >= REQUIRED and coloured >= 1000 else "FAILED"
            print(f"{name:8} {share:8.3%} of {coloured} coloured plot pixels agree "
                  f"({coloured - agreeing} differ; {left_out} under labels left out)  {verdict}")
            failures += verdict != "ok"
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
