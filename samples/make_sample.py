#!/usr/bin/env python3
"""Writes the bundled sample start-up show: boot.gif and boot.wav.

Standard library only, with a small GIF89a writer of its own (LZW encoder included), so that
anyone can regenerate the files and see exactly what they contain:

    python3 samples/make_sample.py [OUTPUT_DIR]     # default: the folder of this script

boot.gif (240x320, 16-colour global table, 40 frames, about 4.1 s):
  frame 0       the whole screen: white background, the logo, the spinner's dots and the
                empty progress-bar track; no transparency; disposal 1 (keep); 300 ms
  frames 1-31   the spinner's highlighted dot and the progress bar so far, drawn over a
                transparent rectangle around spinner and bar; disposal 3 (restore the
                previous picture), so only the current dot stays lit; 100 ms each
  frame 32      the full progress bar, no dot; disposal 1 (keep); 100 ms
  frames 33-38  the logo pulsing, a square over the logo with transparent corners;
                disposal 2 (restore to background), 100 ms each
  frame 39      the logo with a check mark; disposal 0; 500 ms (a player ends the show
                after showing the last frame, so this delay is not waited for)
boot.wav: 16-bit mono PCM, 22050 Hz, a two-note chime of 400 ms.
"""
import math
import os
import struct
import sys

W, H = 240, 320

# Palette (index: RGB). Index 15 is the transparent key of the frames that use transparency.
PALETTE = [
    (255, 255, 255),  # 0 white background
    (20, 40, 110),    # 1 navy logo
    (90, 150, 230),   # 2 light blue ring
    (210, 210, 210),  # 3 light grey track
    (150, 150, 150),  # 4 grey spinner dot
    (250, 140, 20),   # 5 orange highlighted dot
    (40, 170, 80),    # 6 green progress
    (0, 0, 0),        # 7 black
    (255, 255, 255),  # 8 white (check mark)
    (60, 90, 170),    # 9 mid blue
    (230, 230, 240),  # 10 pale
    (0, 0, 0), (0, 0, 0), (0, 0, 0), (0, 0, 0),
    (255, 0, 255),    # 15 transparent key
]
TRANSPARENT = 15

LOGO_CX, LOGO_CY, LOGO_R = 120, 130, 34
SPIN_R, DOT_R = 68, 7
BAR = (40, 230, 200, 242)   # left, top, right, bottom (exclusive)
SPIN_DOTS = 8


def canvas(w, h, colour):
    return [[colour] * w for _ in range(h)]


def disc(img, ox, oy, cx, cy, r, colour):
    """Fills a disc of radius r centred at (cx, cy) screen coordinates; img starts at (ox, oy)."""
    for y in range(len(img)):
        for x in range(len(img[0])):
            dx, dy = x + ox - cx + 0.5, y + oy - cy + 0.5
            if dx * dx + dy * dy <= r * r:
                img[y][x] = colour


def rect(img, ox, oy, l, t, r, b, colour):
    for y in range(max(t - oy, 0), min(b - oy, len(img))):
        for x in range(max(l - ox, 0), min(r - ox, len(img[0]))):
            img[y][x] = colour


def logo(img, ox, oy, r):
    disc(img, ox, oy, LOGO_CX, LOGO_CY, r, 2)
    disc(img, ox, oy, LOGO_CX, LOGO_CY, r * 0.78, 1)
    disc(img, ox, oy, LOGO_CX, LOGO_CY, r * 0.30, 9)


def dot_centre(k):
    a = 2 * math.pi * k / SPIN_DOTS - math.pi / 2
    return LOGO_CX + SPIN_R * math.cos(a), LOGO_CY + SPIN_R * math.sin(a)


def progress_right(step, steps):
    return BAR[0] + 2 + (BAR[2] - BAR[0] - 4) * step // steps


def lzw_encode(pixels, min_size):
    """GIF LZW (GIF89a appendix F): variable-length codes up to 12 bits, LSB first."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, acc, nbits = bytearray(), 0, 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width = min_size + 1
    table = {}
    next_code = end + 1
    emit(clear, width)
    prefix = None
    for p in pixels:
        if prefix is None:
            prefix = p
            continue
        key = (prefix, p)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, width)
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table.clear()
            next_code = end + 1
            width = min_size + 1
        prefix = p
    if prefix is not None:
        emit(prefix, width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def gif_frame(left, top, img, delay_cs, disposal, transparent):
    h, w = len(img), len(img[0])
    packed = (disposal << 2) | (1 if transparent is not None else 0)
    gce = b"\x21\xF9\x04" + struct.pack("<BHB", packed, delay_cs, transparent or 0) + b"\x00"
    desc = b"\x2C" + struct.pack("<HHHHB", left, top, w, h, 0)
    pixels = [v for row in img for v in row]
    return gce + desc + bytes([4]) + sub_blocks(lzw_encode(pixels, 4))


def make_gif():
    frames = []
    # Frame 0: the whole screen.
    img = canvas(W, H, 0)
    logo(img, 0, 0, LOGO_R)
    for k in range(SPIN_DOTS):
        cx, cy = dot_centre(k)
        disc(img, 0, 0, cx, cy, DOT_R, 4)
    rect(img, 0, 0, *BAR, 3)
    frames.append(gif_frame(0, 0, img, 30, 1, None))

    # Frames 1-32: spinner dot and progress, restored after each frame.
    fl, ft = BAR[0] - 4, int(LOGO_CY - SPIN_R - DOT_R - 2)
    fr, fb = BAR[2] + 4, BAR[3] + 2
    steps = 32
    for i in range(1, steps + 1):
        img = canvas(fr - fl, fb - ft, TRANSPARENT)
        last = i == steps
        if not last:
            cx, cy = dot_centre(i % SPIN_DOTS)
            disc(img, fl, ft, cx, cy, DOT_R, 5)
        rect(img, fl, ft, BAR[0] + 2, BAR[1] + 2, progress_right(i, steps), BAR[3] - 2, 6)
        frames.append(gif_frame(fl, ft, img, 10, 1 if last else 3, TRANSPARENT))

    # Frames 33-38: the logo pulses; each frame is cleared to the background afterwards.
    box = 39  # stays clear of the spinner's dots
    for r in (35, 37, 38, 37, 35, 34):
        img = canvas(2 * box, 2 * box, TRANSPARENT)
        logo(img, LOGO_CX - box, LOGO_CY - box, r)
        frames.append(gif_frame(LOGO_CX - box, LOGO_CY - box, img, 10, 2, TRANSPARENT))

    # Frame 39: the logo with a check mark.
    img = canvas(2 * box, 2 * box, TRANSPARENT)
    ox, oy = LOGO_CX - box, LOGO_CY - box
    logo(img, ox, oy, LOGO_R)
    for t in range(-3, 4):
        for s in range(0, 12):
            x, y = LOGO_CX - 14 + s, LOGO_CY + s // 1 - 2 + t
            if 0 <= y - oy < len(img) and 0 <= x - ox < len(img[0]):
                img[y - oy][x - ox] = 8
        for s in range(0, 24):
            x, y = LOGO_CX - 3 + s, LOGO_CY + 9 - s + t
            if 0 <= y - oy < len(img) and 0 <= x - ox < len(img[0]):
                img[y - oy][x - ox] = 8
    frames.append(gif_frame(ox, oy, img, 50, 0, TRANSPARENT))

    header = b"GIF89a" + struct.pack("<HHBBB", W, H, 0x80 | 0x30 | 3, 0, 0)
    table = b"".join(bytes(c) for c in PALETTE)
    comment = b"\x21\xFE" + sub_blocks(b"bootreel sample start-up show")
    return header + table + comment + b"".join(frames) + b"\x3B"


def make_wav():
    rate, ms = 22050, 400
    n = rate * ms // 1000
    samples = bytearray()
    for i in range(n):
        t = i / rate
        f = 660.0 if t < 0.15 else 880.0
        start = 0.0 if t < 0.15 else 0.15
        env = min(1.0, (t - start) / 0.01) * math.exp(-(t - start) * 8.0)
        v = int(9000 * env * math.sin(2 * math.pi * f * t))
        samples += struct.pack("<h", v)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(samples)) + bytes(samples)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(out, "boot.gif"), "wb") as f:
        f.write(make_gif())
    with open(os.path.join(out, "boot.wav"), "wb") as f:
        f.write(make_wav())


if __name__ == "__main__":
    main()
