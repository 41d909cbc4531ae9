#!/usr/bin/env python3
"""Draws the program's icons (res/app.ico, res/find.ico) from code: 32-bit BMP-in-ICO
images at 16x16 and 32x32, so the repository needs no image editor to rebuild them."""
import math
import struct
import sys


def app_pixel(x, y, n):
    """An instrument screen: dark rounded panel with a green trace across it."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    r = 0.18
    cx = min(max(u, r), 1 - r)
    cy = min(max(v, r), 1 - r)
    if math.hypot(u - cx, v - cy) > r:
        return (0, 0, 0, 0)
    if u < 0.08 or u > 0.92 or v < 0.08 or v > 0.92:
        return (160, 170, 180, 255)          # bezel
    trace = 0.5 - 0.28 * math.sin(u * 2 * math.pi * 1.5)
    if abs(v - trace) < 1.6 / n:
        return (60, 230, 90, 255)            # trace
    if abs(v - 0.5) < 0.5 / n or abs(u - 0.5) < 0.5 / n:
        return (40, 70, 90, 255)             # graticule
    return (15, 30, 45, 255)                 # screen


def find_pixel(x, y, n):
    """A magnifying glass."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    d = math.hypot(u - 0.4, v - 0.4)
    if 0.22 <= d <= 0.33:
        return (30, 60, 140, 255)
    if d < 0.22:
        return (200, 225, 250, 200)
    # handle: a thick segment from the ring towards the bottom right
    t = ((u - 0.62) + (v - 0.62)) / 2
    px, py = 0.62 + t, 0.62 + t
    if 0 <= t <= 0.3 and math.hypot(u - px, v - py) < 0.09:
        return (90, 60, 30, 255)
    return (0, 0, 0, 0)


def dib(pixel, n):
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(n - 1, -1, -1):            # bottom-up
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            rows.append(struct.pack('<BBBB', b, g, r, a))
    mask_row = ((n + 31) // 32) * 4
    return header + b''.join(rows) + b'\0' * mask_row * n


def ico(pixel, sizes=(16, 32)):
    images = [dib(pixel, n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b''.join(images)


if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else 'res'
    with open(f'{folder}/app.ico', 'wb') as f:
        f.write(ico(app_pixel))
    with open(f'{folder}/find.ico', 'wb') as f:
        f.write(ico(find_pixel))
