#!/usr/bin/env python3
"""Draws Ostravel's icon, two crossed bones, and writes it as a .ico file.

The file holds four classic BMP-in-ICO images, in this order: 16x16 at
4 bits per pixel, 16x16 at 8 bpp, 32x32 at 4 bpp, 32x32 at 8 bpp. Each
size is drawn at its own scale rather than scaled down from a larger
picture, so the knobs and the outline stay crisp at 16 pixels.

The output is the same byte for byte on every run: the drawing uses only
fixed arithmetic on fixed shapes, and the file carries no time stamps.

Usage: make_icon.py [output.ico]   (default: res/ostravel.ico)
"""

import math
import os
import struct
import sys

# Palette indices; both colour depths share them.
CLEAR, OUTLINE, SHADOW, BEIGE, LIGHT, SHINE = range(6)

COLOURS = {
    CLEAR: (0, 0, 0),          # under the AND mask: the background shows
    OUTLINE: (58, 38, 22),     # dark brown edge
    SHADOW: (196, 170, 122),   # beige in shade
    BEIGE: (230, 212, 170),    # the bone itself
    LIGHT: (244, 234, 206),    # lit side
    SHINE: (255, 252, 240),    # brightest highlight (8 bpp only)
}

# Light falls from the upper left.
LIGHT_DIR = (-1 / math.sqrt(2), -1 / math.sqrt(2))


class Bone:
    """A bone from end a to end b: a shaft with two round knobs at each end."""

    def __init__(self, a, b, shaft_radius, knob_radius, knob_spread):
        self.a, self.b = a, b
        dx, dy = b[0] - a[0], b[1] - a[1]
        length = math.hypot(dx, dy)
        self.axis = (dx / length, dy / length)
        self.normal = (-self.axis[1], self.axis[0])
        self.shaft_radius = shaft_radius
        self.knob_radius = knob_radius
        self.knobs = []
        for end in (a, b):
            for side in (-1, 1):
                self.knobs.append((end[0] + side * knob_spread * self.normal[0],
                                   end[1] + side * knob_spread * self.normal[1]))

    def covers(self, x, y):
        for kx, ky in self.knobs:
            if (x - kx) ** 2 + (y - ky) ** 2 <= self.knob_radius ** 2:
                return True
        ax, ay = self.a
        t = (x - ax) * self.axis[0] + (y - ay) * self.axis[1]
        length = math.hypot(self.b[0] - ax, self.b[1] - ay)
        if t < 0 or t > length:
            return False
        across = (x - ax) * self.normal[0] + (y - ay) * self.normal[1]
        return abs(across) <= self.shaft_radius

    def surface_normal(self, x, y):
        """The outward direction of the surface under (x, y), for shading."""
        for kx, ky in self.knobs:
            d = math.hypot(x - kx, y - ky)
            if d <= self.knob_radius:
                if d == 0:
                    return (0.0, 0.0), 0.0
                return ((x - kx) / d, (y - ky) / d), d / self.knob_radius
        ax, ay = self.a
        across = (x - ax) * self.normal[0] + (y - ay) * self.normal[1]
        side = 1 if across >= 0 else -1
        return ((side * self.normal[0], side * self.normal[1]),
                abs(across) / self.shaft_radius)


def coverage_mask(bone, size, samples=4):
    """Pixels that the bone covers at least half of."""
    mask = [[False] * size for _ in range(size)]
    for py in range(size):
        for px in range(size):
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    if bone.covers(px + (sx + 0.5) / samples,
                                   py + (sy + 0.5) / samples):
                        hits += 1
            mask[py][px] = 2 * hits >= samples * samples
    return mask


SIDES = ((1, 0), (-1, 0), (0, 1), (0, -1))
CORNERS = ((1, 1), (1, -1), (-1, 1), (-1, -1))


def edge_of(mask, size, neighbours):
    """Pixels outside the mask that touch it through one of the neighbours."""
    edge = [[False] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            if mask[y][x]:
                continue
            for dx, dy in neighbours:
                nx, ny = x + dx, y + dy
                if 0 <= nx < size and 0 <= ny < size and mask[ny][nx]:
                    edge[y][x] = True
    return edge


def shade(bone, x, y, fine):
    """The fill colour for a pixel centre of the bone."""
    normal, rise = bone.surface_normal(x, y)
    lit = normal[0] * LIGHT_DIR[0] + normal[1] * LIGHT_DIR[1]
    value = lit * rise
    if fine and value > 0.55:
        return SHINE
    if value > 0.25:
        return LIGHT
    if value < -0.35:
        return SHADOW
    return BEIGE


def draw(size, bones, outline_neighbours, fine):
    """Draws the bones in order, later ones on top; returns rows of indices."""
    image = [[CLEAR] * size for _ in range(size)]
    for bone in bones:
        mask = coverage_mask(bone, size)
        edge = edge_of(mask, size, outline_neighbours)
        for y in range(size):
            for x in range(size):
                if edge[y][x]:
                    image[y][x] = OUTLINE
                elif mask[y][x]:
                    image[y][x] = shade(bone, x + 0.5, y + 0.5, fine)
    return image


def crossed_bones(size):
    """The two bones of the picture and the outline's reach, fitted to size.

    At 16 pixels the outline touches the bone only side by side, which keeps
    it one pixel thin along the diagonals and leaves room for the knobs'
    two lobes; at 32 pixels a corner-to-corner outline reads bolder.
    """
    if size == 16:
        inset, shaft, knob, spread = 4.0, 1.3, 1.2, 1.6
        neighbours = SIDES
    else:
        inset, shaft, knob, spread = 6.6, 2.1, 2.5, 2.9
        neighbours = SIDES + CORNERS
    lo, hi = inset, size - inset
    falling = Bone((lo, lo), (hi, hi), shaft, knob, spread)
    rising = Bone((lo, hi), (hi, lo), shaft, knob, spread)
    return [falling, rising], neighbours


def bmp_image(rows, bits):
    """One icon image: header, palette, XOR bitmap and AND mask, bottom-up."""
    size = len(rows)
    palette_size = 1 << bits
    palette = b''
    for index in range(palette_size):
        r, g, b = COLOURS.get(index, (0, 0, 0))
        palette += bytes((b, g, r, 0))

    xor = b''
    and_mask = b''
    for row in reversed(rows):
        if bits == 4:
            packed = bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
        else:
            packed = bytes(row)
        xor += packed + bytes(-len(packed) % 4)
        bits_row = 0
        for pixel in row:
            bits_row = (bits_row << 1) | (1 if pixel == CLEAR else 0)
        mask_bytes = bits_row.to_bytes(size // 8, 'big')
        and_mask += mask_bytes + bytes(-len(mask_bytes) % 4)

    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, bits, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + palette + xor + and_mask


def icon_file(images):
    """An ICO file from (size, bits, image bytes) in directory order."""
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b''
    for size, bits, image in images:
        colours = (1 << bits) if bits < 8 else 0
        directory += struct.pack('<BBBBHHII', size, size, colours, 0, 1, bits,
                                 len(image), offset + len(data))
        data += image
    return directory + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, '..', 'res', 'ostravel.ico')
    output = sys.argv[1] if len(sys.argv) > 1 else default

    images = []
    for size in (16, 32):
        bones, neighbours = crossed_bones(size)
        for bits in (4, 8):
            rows = draw(size, bones, neighbours, fine=(bits == 8))
            images.append((size, bits, bmp_image(rows, bits)))

    with open(output, 'wb') as f:
        f.write(icon_file(images))


if __name__ == '__main__':
    main()
