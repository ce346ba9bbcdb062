#!/usr/bin/env python3
"""Draws the pictures, icons, sounds and the copy animation of the resource scripts.

    make_art.py OUTDIR     writes every file into OUTDIR
    make_art.py --list     prints the names of the files it writes, one a line

Everything is computed from fixed tables with integer arithmetic (only the sine table of the
sounds uses floating point, rounded), with no clock and no randomness, so every run writes the
same bytes. Only the standard library is used.
"""
import os
import struct
import sys
from math import isqrt, pi, sin

# ---------------------------------------------------------------------------------------------
# Skins: 0 "Metallic" (greys), 1 "Blue", 2 "Pop" (bright). Each is a small set of named colours.

SKINS = [
    dict(face=(184, 186, 190), light=(238, 239, 242), dark=(112, 114, 118), darker=(62, 64, 68),
         text=(28, 28, 32), accent=(146, 152, 160), title0=(214, 216, 220), title1=(142, 145, 152),
         lit=(70, 235, 100), unlit=(18, 40, 24)),
    dict(face=(62, 102, 184), light=(150, 186, 242), dark=(28, 52, 112), darker=(14, 28, 70),
         text=(242, 247, 255), accent=(96, 160, 236), title0=(96, 146, 228), title1=(30, 62, 140),
         lit=(90, 230, 255), unlit=(12, 30, 44)),
    dict(face=(255, 204, 36), light=(255, 246, 160), dark=(222, 56, 132), darker=(142, 22, 92),
         text=(56, 16, 80), accent=(36, 204, 232), title0=(255, 112, 184), title1=(255, 190, 40),
         lit=(255, 64, 48), unlit=(46, 14, 12)),
]

# Colours of skin-less pictures.
NEUTRAL = dict(face=(170, 170, 170), light=(226, 226, 226), dark=(100, 100, 100),
               darker=(58, 58, 58), text=(24, 24, 24), accent=(200, 200, 200))

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)

# Terminal colours 0, 1 and 2 as red, green, blue: the dots of the splash and the icon.
TERMINAL_DOTS = [(192, 128, 255), (128, 192, 255), (0, 255, 0)]


def mix(a, b, num, den):
    """a + (b - a) * num / den, per channel, truncated."""
    return tuple(a[i] + (b[i] - a[i]) * num // den for i in range(3))


# ---------------------------------------------------------------------------------------------
# A 5 x 7 pixel font for labels (capitals, digits and a few signs).

GLYPHS = {
    'A': ".###. #...# #...# ##### #...# #...# #...#",
    'B': "####. #...# #...# ####. #...# #...# ####.",
    'C': ".###. #...# #.... #.... #.... #...# .###.",
    'D': "####. #...# #...# #...# #...# #...# ####.",
    'E': "##### #.... #.... ####. #.... #.... #####",
    'F': "##### #.... #.... ####. #.... #.... #....",
    'G': ".###. #...# #.... #.### #...# #...# .####",
    'H': "#...# #...# #...# ##### #...# #...# #...#",
    'I': ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",
    'K': "#...# #..#. #.#.. ##... #.#.. #..#. #...#",
    'L': "#.... #.... #.... #.... #.... #.... #####",
    'M': "#...# ##.## #.#.# #.#.# #...# #...# #...#",
    'N': "#...# #...# ##..# #.#.# #..## #...# #...#",
    'O': ".###. #...# #...# #...# #...# #...# .###.",
    'P': "####. #...# #...# ####. #.... #.... #....",
    'R': "####. #...# #...# ####. #.#.. #..#. #...#",
    'S': ".#### #.... #.... .###. ....# ....# ####.",
    'T': "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",
    'U': "#...# #...# #...# #...# #...# #...# .###.",
    'V': "#...# #...# #...# #...# #...# .#.#. ..#..",
    'W': "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",
    'X': "#...# #...# .#.#. ..#.. .#.#. #...# #...#",
    'Y': "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#..",
    '0': ".###. #...# #..## #.#.# ##..# #...# .###.",
    '1': "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.",
    '2': ".###. #...# ....# ...#. ..#.. .#... #####",
    '3': "####. ....# ....# .###. ....# ....# ####.",
    '4': "...#. ..##. .#.#. #..#. ##### ...#. ...#.",
    '5': "##### #.... ####. ....# ....# #...# .###.",
    '6': ".###. #.... #.... ####. #...# #...# .###.",
    '7': "##### ....# ...#. ..#.. .#... .#... .#...",
    '8': ".###. #...# #...# .###. #...# #...# .###.",
    '9': ".###. #...# #...# .#### ....# ....# .###.",
    '.': "..... ..... ..... ..... ..... .##.. .##..",
    '-': "..... ..... ..... .###. ..... ..... .....",
    ' ': "..... ..... ..... ..... ..... ..... .....",
}


def text_width(s, scale=1):
    return (len(s) * 6 - 1) * scale


# ---------------------------------------------------------------------------------------------
# Pictures in 24-bit colour.

class Image:
    def __init__(self, w, h, color=BLACK):
        self.w, self.h = w, h
        self.px = bytearray(bytes(color) * (w * h))

    def get(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.px[i:i + 3])

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            i = (y * self.w + x) * 3
            self.px[i:i + 3] = bytes(c)

    def fill(self, x0, y0, x1, y1, c):
        """Fills [x0, x1) x [y0, y1), clipped to the picture."""
        x0, y0 = max(x0, 0), max(y0, 0)
        x1, y1 = min(x1, self.w), min(y1, self.h)
        if x0 >= x1:
            return
        run = bytes(c) * (x1 - x0)
        for y in range(y0, y1):
            i = (y * self.w + x0) * 3
            self.px[i:i + len(run)] = run

    def vgradient(self, x0, y0, x1, y1, c0, c1, steps=None):
        """Top-to-bottom blend from c0 to c1, in at most `steps` bands when given."""
        n = y1 - y0
        for k in range(n):
            t = k if steps is None else (k * steps // n) * n // steps
            self.fill(x0, y0 + k, x1, y0 + k + 1, mix(c0, c1, t, max(n - 1, 1)))

    def frame(self, x0, y0, x1, y1, c):
        self.fill(x0, y0, x1, y0 + 1, c)
        self.fill(x0, y1 - 1, x1, y1, c)
        self.fill(x0, y0, x0 + 1, y1, c)
        self.fill(x1 - 1, y0, x1, y1, c)

    def bevel(self, x0, y0, x1, y1, light, dark):
        """A raised edge (light top and left, dark bottom and right); swap the colours to sink it."""
        self.fill(x0, y0, x1, y0 + 1, light)
        self.fill(x0, y0, x0 + 1, y1, light)
        self.fill(x0, y1 - 1, x1, y1, dark)
        self.fill(x1 - 1, y0, x1, y1, dark)

    def line(self, x0, y0, x1, y1, c, width=1):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.fill(x0, y0, x0 + width, y0 + width, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def disc(self, cx, cy, r, c):
        for dy in range(-r, r + 1):
            dx = isqrt(r * r - dy * dy)
            self.fill(cx - dx, cy + dy, cx + dx + 1, cy + dy + 1, c)

    def text(self, x, y, s, c, scale=1):
        for ch in s:
            rows = GLYPHS[ch].split()
            for gy, row in enumerate(rows):
                for gx, bit in enumerate(row):
                    if bit == '#':
                        self.fill(x + gx * scale, y + gy * scale,
                                  x + (gx + 1) * scale, y + (gy + 1) * scale, c)
            x += 6 * scale

    def blit(self, other, x, y):
        for sy in range(other.h):
            ty = y + sy
            if not 0 <= ty < self.h:
                continue
            x0, x1 = max(x, 0), min(x + other.w, self.w)
            if x0 >= x1:
                continue
            si = (sy * other.w + (x0 - x)) * 3
            ti = (ty * self.w + x0) * 3
            self.px[ti:ti + (x1 - x0) * 3] = other.px[si:si + (x1 - x0) * 3]

    def colours(self):
        return sorted({bytes(self.px[i:i + 3]) for i in range(0, len(self.px), 3)})


def bmp_file(info_header, palette, rows):
    bits = b''.join(rows)
    offset = 14 + len(info_header) + len(palette)
    return struct.pack('<2sIHHI', b'BM', offset + len(bits), 0, 0, offset) + info_header + palette + bits


def info_header(w, h, bpp, image_size, colours_used):
    return struct.pack('<IiiHHIIiiII', 40, w, h, 1, bpp, 0, image_size, 2835, 2835, colours_used, 0)


def bmp24(img):
    """Uncompressed 24-bit DIB, bottom row first, rows padded to four bytes."""
    stride = (img.w * 3 + 3) & ~3
    pad = b'\0' * (stride - img.w * 3)
    rows = []
    for y in range(img.h - 1, -1, -1):
        row = img.px[y * img.w * 3:(y + 1) * img.w * 3]
        bgr = bytearray(len(row))
        bgr[0::3], bgr[1::3], bgr[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(bytes(bgr) + pad)
    return bmp_file(info_header(img.w, img.h, 24, stride * img.h, 0), b'', rows)


def indexed(img):
    """The picture as a 256-entry palette (its colours, sorted, then black) and one index a pixel."""
    colours = img.colours()
    assert len(colours) <= 256, 'too many colours for an 8-bit picture'
    index = {c: i for i, c in enumerate(colours)}
    palette = colours + [bytes(BLACK)] * (256 - len(colours))
    pixels = bytearray(img.w * img.h)
    for i in range(img.w * img.h):
        pixels[i] = index[bytes(img.px[i * 3:i * 3 + 3])]
    return palette, pixels


def bmp8(img):
    """Uncompressed 8-bit DIB with a full palette."""
    palette, pixels = indexed(img)
    stride = (img.w + 3) & ~3
    pad = b'\0' * (stride - img.w)
    rows = [bytes(pixels[y * img.w:(y + 1) * img.w]) + pad for y in range(img.h - 1, -1, -1)]
    pal = b''.join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    return bmp_file(info_header(img.w, img.h, 8, stride * img.h, 256), pal, rows)


# ---------------------------------------------------------------------------------------------
# Skinned controls.

def button_face(img, sk, state, x0=0, y0=0, x1=None, y1=None):
    """Fills a button by its state: NORMAL raised, FOCUSED raised and lighter, PUSHED sunken."""
    x1 = img.w if x1 is None else x1
    y1 = img.h if y1 is None else y1
    if state == 'FOCUSED':
        img.vgradient(x0, y0, x1, y1, sk['light'], mix(sk['face'], sk['light'], 1, 2))
        img.bevel(x0, y0, x1, y1, WHITE, sk['dark'])
    elif state == 'PUSHED':
        img.vgradient(x0, y0, x1, y1, sk['dark'], sk['face'])
        img.bevel(x0, y0, x1, y1, sk['darker'], sk['light'])
    else:
        img.vgradient(x0, y0, x1, y1, mix(sk['face'], sk['light'], 1, 2), sk['face'])
        img.bevel(x0, y0, x1, y1, sk['light'], sk['darker'])


def main_button(sk, state):
    img = Image(95, 20)
    button_face(img, sk, state)
    d = 1 if state == 'PUSHED' else 0
    label = 'MENU'
    x = (95 - text_width(label)) // 2 - 4 + d
    img.text(x, 7 + d, label, sk['text'])
    # A small upward triangle: the menu opens above the button.
    for k in range(4):
        img.fill(x + 31 - k + d, 9 + k + d, x + 32 + k + d, 10 + k + d, sk['text'])
    return img


def small_button(sk, state, kind):
    img = Image(13, 13)
    button_face(img, sk, state)
    d = 1 if state == 'PUSHED' else 0
    if kind == 'close':
        img.line(3 + d, 3 + d, 9 + d, 9 + d, sk['text'])
        img.line(4 + d, 3 + d, 9 + d, 8 + d, sk['text'])
        img.line(9 + d, 3 + d, 3 + d, 9 + d, sk['text'])
        img.line(8 + d, 3 + d, 3 + d, 8 + d, sk['text'])
    else:
        img.fill(3 + d, 8 + d, 10 + d, 10 + d, sk['text'])
    return img


def main_dialog_background(sk):
    img = Image(800, 452, sk['face'])
    img.vgradient(0, 0, 800, 27, sk['title0'], sk['title1'])
    img.text(12, 7, 'TAVELIN', sk['text'], scale=2)
    for i, c in enumerate(TERMINAL_DOTS):
        img.disc(112 + i * 12, 13, 4, c)
    img.fill(761, 5, 794, 22, sk['dark'])
    img.bevel(761, 5, 794, 22, sk['darker'], sk['light'])
    # The stage window covers this band.
    img.fill(0, 27, 800, 427, sk['darker'])
    img.vgradient(0, 427, 800, 452, sk['face'], sk['dark'])
    # Sunken slots around the main menu button, the phone panel, the status lamp and the trash.
    for x0, y0, x1, y1 in ((18, 427, 115, 449), (155, 427, 387, 449),
                           (422, 427, 536, 448), (706, 427, 785, 448)):
        img.fill(x0, y0, x1, y1, sk['darker'])
        img.bevel(x0, y0, x1, y1, sk['darker'], sk['light'])
    img.bevel(0, 0, 800, 452, sk['light'], sk['darker'])
    return img


STATUS_LABEL = {'S': 'SERVER', 'C': 'CLIENT', 'N': 'WAIT'}


def status_lamp(sk, role):
    img = Image(112, 19)
    img.vgradient(0, 0, 112, 19, mix(sk['face'], sk['light'], 1, 2), sk['face'])
    img.bevel(0, 0, 112, 19, sk['light'], sk['darker'])
    mark = {'S': sk['accent'], 'C': sk['light'], 'N': sk['dark']}[role]
    img.fill(3, 3, 7, 16, mark)
    img.text(10, 6, STATUS_LABEL[role], sk['text'])
    # The socket of the lamp: (77, 6) - (107, 13) is painted over with the terminal's colour.
    img.fill(76, 5, 108, 14, sk['darker'])
    img.bevel(75, 4, 109, 15, sk['dark'], sk['light'])
    return img


def trash(sk, on):
    img = Image(77, 19)
    if on:
        img.vgradient(0, 0, 77, 19, sk['light'], sk['accent'])
    else:
        img.vgradient(0, 0, 77, 19, mix(sk['face'], sk['light'], 1, 2), sk['face'])
    img.bevel(0, 0, 77, 19, sk['light'], sk['darker'])
    ink = sk['text']
    # The bin: a body with ribs and a lid, lifted and tilted while a content hovers over it.
    img.frame(6, 7, 16, 17, ink)
    for x in (9, 11, 13):
        img.fill(x, 9, x + 1, 15, ink)
    if on:
        img.line(4, 5, 14, 1, ink)
        img.line(4, 6, 14, 2, ink)
    else:
        img.fill(4, 4, 18, 6, ink)
        img.fill(9, 2, 13, 4, ink)
    img.text(24, 6, 'TRASH', ink)
    return img


def phone_panel(sk):
    img = Image(228, 20)
    img.vgradient(0, 0, 228, 20, mix(sk['face'], sk['light'], 1, 2), sk['face'])
    img.bevel(0, 0, 228, 20, sk['light'], sk['darker'])
    # The groove that the cover hides and the slider fills.
    img.fill(89, 1, 224, 19, sk['darker'])
    img.bevel(89, 0, 224, 20, sk['dark'], sk['light'])
    return img


def power_button(sk, on, state):
    img = Image(89, 20)
    base = sk['accent'] if on else sk['face']
    if state == 'ROLL':
        img.vgradient(0, 0, 89, 20, sk['light'], mix(base, sk['light'], 1, 2))
        img.bevel(0, 0, 89, 20, WHITE, sk['dark'])
    elif state == 'PRESS':
        img.vgradient(0, 0, 89, 20, mix(base, sk['darker'], 1, 2), base)
        img.bevel(0, 0, 89, 20, sk['darker'], sk['light'])
    else:
        img.vgradient(0, 0, 89, 20, mix(base, sk['light'], 1, 2), base)
        img.bevel(0, 0, 89, 20, sk['light'], sk['darker'])
    # The LED's socket: the LED sits at (7, 9), 6 x 10, and moves by (1, 1) while pressed.
    img.fill(6, 8, 14, 20, sk['darker'])
    d = 1 if state == 'PRESS' else 0
    img.text(20 + d, 7 + d, 'PHONE ON' if on else 'PHONE OFF', sk['text'])
    return img


def led(body, lit):
    """A lamp 6 x 10: the body colour with a lighter spot and a darker lower edge. A dark lamp
    stays near black everywhere, so that the listen mark ORed over it shows."""
    img = Image(6, 10, body)
    img.fill(1, 1, 3, 3, mix(body, WHITE, 1, 3) if lit else mix(body, (56, 56, 56), 1, 2))
    img.fill(0, 9, 6, 10, mix(body, BLACK, 1, 2))
    return img


def led_listen_mark():
    """Black where the dark LED must show unchanged: the mark is ORed over it."""
    img = Image(6, 10, BLACK)
    img.fill(2, 3, 4, 7, (255, 216, 64))
    img.fill(1, 4, 5, 6, (255, 216, 64))
    return img


def thumb_shape(x, y):
    """The slider thumb: a block with a pointed lower end and clipped upper corners."""
    if y <= 10:
        return not (y == 0 and x in (0, 7))
    return {11: 1 <= x <= 6, 12: 2 <= x <= 5, 13: 3 <= x <= 4, 14: 3 <= x <= 4}[y]


def slider_thumb(sk):
    """Black outside the shape: the thumb goes on with SRCINVERT after its mask with SRCAND."""
    img = Image(8, 15, BLACK)
    for y in range(15):
        for x in range(8):
            if thumb_shape(x, y):
                if x == 0 or y == 0 or (y > 10 and not thumb_shape(x - 1, y)):
                    c = sk['light']
                elif x == 7 or (y > 10 and not thumb_shape(x + 1, y)) or y == 10:
                    c = sk['darker']
                else:
                    c = sk['face']
                img.set(x, y, c)
    img.fill(2, 4, 6, 5, sk['dark'])
    img.fill(2, 6, 6, 7, sk['dark'])
    return img


def slider_mask():
    """White outside the thumb's shape, black inside."""
    img = Image(8, 15, WHITE)
    for y in range(15):
        for x in range(8):
            if thumb_shape(x, y):
                img.set(x, y, BLACK)
    return img


def slider_back():
    img = Image(108, 17, NEUTRAL['darker'])
    img.fill(4, 7, 104, 8, BLACK)
    img.fill(4, 8, 104, 9, NEUTRAL['dark'])
    img.fill(4, 9, 104, 10, NEUTRAL['light'])
    for x in range(4, 104, 10):
        img.fill(x, 13, x + 1, 16, NEUTRAL['face'])
    return img


def slider_bg(sk, w, h):
    img = Image(w, h, sk['darker'])
    img.bevel(0, 0, w, h, sk['dark'], sk['light'])
    img.fill(4, h // 2 - 1, w - 4, h // 2, BLACK)
    img.fill(4, h // 2, w - 4, h // 2 + 1, sk['light'])
    return img


def cover(sk, w, h):
    """The plate that hides the slider while the phone is off, with grip ribs and a label."""
    img = Image(w, h)
    img.vgradient(0, 0, w, h, mix(sk['face'], sk['light'], 1, 2), sk['face'])
    img.bevel(0, 0, w, h, sk['light'], sk['darker'])
    for x in range(4, 12, 3):
        img.fill(x, 3, x + 1, h - 3, sk['light'])
        img.fill(x + 1, 3, x + 2, h - 3, sk['darker'])
    ty = (h - 7) // 2
    img.text(30, ty, 'VOLUME', sk['text'])
    for k in range(4):
        img.fill(w - 14 + k, ty + k, w - 13 + k, ty + 7 - k, sk['text'])
    return img


def cover_background():
    """The groove under the cover, shown while the cover slides."""
    img = Image(129, 18, NEUTRAL['darker'])
    img.fill(0, 0, 129, 1, BLACK)
    return img


# ---------------------------------------------------------------------------------------------
# Stage backgrounds, splash, thumbnails and marks.

def stage_box():
    img = Image(800, 400, (36, 44, 58))
    for y in range(0, 400, 50):
        for x in range(0, 800, 50):
            img.frame(x + 4, y + 4, x + 46, y + 46, (54, 66, 86))
    return img


def stage_circle():
    img = Image(800, 400, (28, 50, 48))
    ring = (48, 88, 84)
    for y in range(400):
        dy2 = (y - 200) * (y - 200)
        for x in range(800):
            d = isqrt((x - 400) * (x - 400) + dy2)
            if d > 3 and d % 40 < 3:
                img.set(x, y, ring)
    return img


def stage_line():
    img = Image(800, 400, (54, 38, 56))
    for x0 in range(-400, 800, 24):
        img.line(x0, 0, x0 + 400, 400, (80, 58, 84), width=2)
    return img


def stage_grid():
    img = Image(800, 400, (236, 236, 228))
    for x in range(0, 800, 20):
        img.fill(x, 0, x + 1, 400, (204, 212, 224) if x % 100 else (160, 176, 200))
    for y in range(0, 400, 20):
        img.fill(0, y, 800, y + 1, (204, 212, 224) if y % 100 else (160, 176, 200))
    return img


def splash():
    img = Image(400, 225)
    img.vgradient(0, 0, 400, 225, (24, 40, 96), (84, 24, 96), steps=48)
    img.frame(16, 16, 384, 209, (150, 160, 220))
    img.text((400 - text_width('TAVELIN', 5)) // 2, 62, 'TAVELIN', (250, 250, 255), scale=5)
    img.text((400 - text_width('VERSION 2.1', 2)) // 2, 122, 'VERSION 2.1', (200, 204, 240), scale=2)
    for i, c in enumerate(TERMINAL_DOTS):
        img.disc(176 + i * 24, 170, 7, c)
    return img


def thumbnail(kind):
    """Plain at the top left: the content window draws the file's icon at (3, 3) there."""
    img = Image(120, 90, (238, 238, 238))
    if kind == 'any':
        img.fill(52, 14, 84, 76, WHITE)
        img.frame(52, 14, 84, 76, (96, 96, 96))
        for k in range(9):
            img.fill(74 + k, 14 + k, 84, 15 + k, (238, 238, 238))
            img.set(74 + k, 14 + k, (96, 96, 96))
        img.fill(74, 14, 75, 24, (96, 96, 96))
        img.fill(74, 23, 84, 24, (96, 96, 96))
        for y in range(32, 72, 8):
            img.fill(58, y, 78, y + 2, (150, 150, 160))
    else:
        img.fill(44, 22, 104, 72, WHITE)
        img.fill(44, 22, 104, 32, (40, 80, 176))
        img.frame(44, 22, 104, 72, (40, 40, 60))
        for k in range(3):
            img.fill(86 + k * 6, 25, 90 + k * 6, 29, (220, 224, 240))
        img.text(56, 44, 'EXE', (40, 80, 176), scale=2)
    return img


def chat_mark():
    """White strokes on black: a speech bubble with two lines of text."""
    img = Image(16, 16, BLACK)
    img.frame(1, 2, 15, 11, WHITE)
    img.fill(4, 11, 6, 13, WHITE)
    img.fill(4, 13, 5, 14, WHITE)
    img.fill(4, 5, 12, 6, WHITE)
    img.fill(4, 7, 10, 8, WHITE)
    return img


def grab_mark():
    """White strokes on black: a cross of four arrows, the sign of a held content."""
    img = Image(16, 16, BLACK)
    img.fill(7, 2, 9, 14, WHITE)
    img.fill(2, 7, 14, 9, WHITE)
    for k in range(3):
        img.fill(7 - k, 2 + k, 9 + k, 3 + k, WHITE)
        img.fill(7 - k, 13 - k, 9 + k, 14 - k, WHITE)
        img.fill(2 + k, 7 - k, 3 + k, 9 + k, WHITE)
        img.fill(13 - k, 7 - k, 14 - k, 9 + k, WHITE)
    return img


def black_back():
    return Image(800, 400, BLACK)


def bitmap_painters():
    """(name, painter) for every bitmap, in a fixed order; a painter returns the file's bytes."""
    out = []

    def add(name, paint, depth=24):
        out.append((name + '.bmp', lambda: (bmp8 if depth == 8 else bmp24)(paint())))

    for s, sk in enumerate(SKINS):
        for state in ('NORMAL', 'FOCUSED', 'PUSHED'):
            add(f'IDB_MAINBTN_{state}{s}', lambda sk=sk, st=state: main_button(sk, st))
            add(f'IDB_CLOSEBTN_{state}{s}', lambda sk=sk, st=state: small_button(sk, st, 'close'))
            add(f'IDB_MINIBTN_{state}{s}', lambda sk=sk, st=state: small_button(sk, st, 'minimize'))
        add(f'IDB_MAINDLG_BG{s}', lambda sk=sk: main_dialog_background(sk))
        for role in ('S', 'C', 'N'):
            add(f'IDB_STATUSCTRL_{role}{s}', lambda sk=sk, r=role: status_lamp(sk, r))
        add(f'IDB_TRASH_OFF{s}', lambda sk=sk: trash(sk, False))
        add(f'IDB_TRASH_ON{s}', lambda sk=sk: trash(sk, True))
        add(f'IDB_PHONE_CTRL{s}', lambda sk=sk: phone_panel(sk))
        for on in (False, True):
            word = 'ON' if on else 'OFF'
            add(f'IDB_PHONE_{word}{s}', lambda sk=sk, on=on: power_button(sk, on, 'NORMAL'))
            add(f'IDB_PHONE_{word}_ROLL{s}', lambda sk=sk, on=on: power_button(sk, on, 'ROLL'))
            add(f'IDB_PHONE_{word}_PRESS{s}', lambda sk=sk, on=on: power_button(sk, on, 'PRESS'))
        add(f'IDB_PHONE_LED_OFF{s}', lambda sk=sk: led(sk['unlit'], False))
        add(f'IDB_PHONE_LED_ON{s}', lambda sk=sk: led(sk['lit'], True))
        w, h = (108, 16) if s == 0 else (139, 20)
        add(f'IDB_SLIDER_BG{s}', lambda sk=sk, w=w, h=h: slider_bg(sk, w, h))
        add(f'IDB_SLD_THUMB{s}', lambda sk=sk: slider_thumb(sk))
        add(f'IDB_COVER{s}', lambda sk=sk: cover(sk, 135, 20))
    add('IDB_TRASH_OFF', lambda: trash(NEUTRAL, False))
    add('IDB_TRASH_ON', lambda: trash(NEUTRAL, True))
    add('IDB_PHONE_LED_OFF', lambda: led((24, 24, 24), False))
    add('IDB_PHONE_LED_LISTEN', led_listen_mark)
    add('IDB_SLD_BACK', slider_back)
    add('IDB_SLD_MASK', slider_mask)
    add('IDB_COVER', lambda: cover(NEUTRAL, 132, 18))
    add('IDB_COVER_BG', cover_background)
    for i, paint in enumerate((stage_box, stage_circle, stage_line, stage_grid)):
        add(f'IDB_STAGECTRL_BG{i}', paint)
    add('IDB_BLACK_BACK', black_back, depth=8)
    add('IDB_SPLASHBMP', splash, depth=8)
    add('IDB_ANYFILE_THUMB', lambda: thumbnail('any'))
    add('IDB_EXEFILE_THUMB', lambda: thumbnail('exe'))
    add('IDB_CHAT_ICON', chat_mark)
    add('IDB_GRABED_ICON', grab_mark)
    return out


# ---------------------------------------------------------------------------------------------
# The program icon: eight images (32 and 16 at 4 bits; 48, 32 and 16 at 8 and at 32 bits).

VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
PALETTE256 = ([(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)] +
              [(k * 255 // 41, k * 255 // 41, k * 255 // 41) for k in range(1, 41)])


def icon_rgba(size):
    """A rounded blue tile with a light stage and three terminal dots; alpha from 4 x 4 samples."""
    pixels = []
    r = size // 5
    for y in range(size):
        for x in range(size):
            cover_count = 0
            for sy in range(4):
                for sx in range(4):
                    # Sample points and the corner circles in eighths of a pixel.
                    px, py = x * 8 + sx * 2 + 1, y * 8 + sy * 2 + 1
                    cx = min(max(px, r * 8), (size - r) * 8)
                    cy = min(max(py, r * 8), (size - r) * 8)
                    if (px - cx) ** 2 + (py - cy) ** 2 <= (r * 8) ** 2:
                        cover_count += 1
            alpha = cover_count * 255 // 16
            colour = mix((40, 90, 200), (12, 30, 96), y, size)
            m = size // 6
            if m <= x < size - m and m <= y < size - m - size // 8:
                colour = (226, 234, 250)
            pixels.append(colour + (alpha,))
    dot_r = max(size // 12, 1)
    for i, c in enumerate(TERMINAL_DOTS):
        cx, cy = size // 6 + dot_r + i * (size - 2 * (size // 6) - 2 * dot_r) // 2, size // 2
        for y in range(cy - dot_r, cy + dot_r + 1):
            for x in range(cx - dot_r, cx + dot_r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= dot_r * dot_r:
                    pixels[y * size + x] = c + (255,)
    return pixels


def nearest(c, palette):
    return min(range(len(palette)),
               key=lambda i: sum((c[k] - palette[i][k]) ** 2 for k in range(3)))


def and_mask(size, opaque):
    stride = ((size + 31) // 32) * 4
    rows = []
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            if not opaque[y * size + x]:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return b''.join(rows)


def icon_image(size, bpp):
    rgba = icon_rgba(size)
    if bpp == 32:
        opaque = [p[3] > 0 for p in rgba]
        xor = b''.join(bytes((p[2], p[1], p[0], p[3]))
                       for y in range(size - 1, -1, -1) for p in rgba[y * size:(y + 1) * size])
        palette = b''
    else:
        colours = VGA16 if bpp == 4 else PALETTE256
        opaque = [p[3] >= 128 for p in rgba]
        idx = [nearest(p[:3], colours) if o else 0 for p, o in zip(rgba, opaque)]
        stride = ((size * bpp + 31) // 32) * 4
        rows = []
        for y in range(size - 1, -1, -1):
            row = bytearray(stride)
            for x in range(size):
                v = idx[y * size + x]
                if bpp == 8:
                    row[x] = v
                else:
                    row[x // 2] |= v << (4 if x % 2 == 0 else 0)
            rows.append(bytes(row))
        xor = b''.join(rows)
        palette = b''.join(bytes((c[2], c[1], c[0], 0)) for c in colours)
    mask = and_mask(size, opaque)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0,
                         len(palette) // 4, 0)
    return header + palette + xor + mask


ICON_IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]


def icon_file():
    images = [icon_image(size, bpp) for size, bpp in ICON_IMAGES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bpp), data in zip(ICON_IMAGES, images):
        out += struct.pack('<BBBBHHII', size, size, 16 if bpp == 4 else 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


# ---------------------------------------------------------------------------------------------
# Sounds: short 16-bit PCM tones at 22050 Hz, each of its own pitch and shape.

RATE = 22050

# id: list of (start Hz, end Hz, milliseconds) notes played one after the other.
SOUNDS = {
    167: [(1400, 1400, 35)],                           # click of a button or menu
    168: [(660, 440, 120)],                            # own drag ends
    169: [(440, 880, 80)],                             # drop
    170: [(880, 990, 60)],                             # drag starts
    171: [(520, 520, 50)],                             # moved by another terminal
    172: [(660, 660, 70), (990, 990, 90)],             # content appears
    173: [(990, 990, 70), (660, 660, 90)],             # content goes
    174: [(784, 1568, 200)],                           # skin or background changes
    175: [(1320, 1320, 30)],                           # released without a drag
    177: [(330, 660, 150)],                            # file taken onto the stage
    217: [(523, 523, 70), (659, 659, 70), (784, 784, 110)],  # file received
}

SINE_STEPS = 1024
# One period of a sine at amplitude 30000, rounded to integers.
SINE = [round(30000 * sin(2 * pi * k / SINE_STEPS)) for k in range(SINE_STEPS)]


def wave_file(notes):
    samples = []
    phase = 0  # in 1/65536 of a table step
    for f0, f1, ms in notes:
        n = RATE * ms // 1000
        fade = RATE * 4 // 1000
        for i in range(n):
            f = f0 + (f1 - f0) * i // n
            phase = (phase + f * SINE_STEPS * 65536 // RATE) % (SINE_STEPS * 65536)
            env = min(i, n - i, fade) * 1000 // fade if fade else 1000
            samples.append(SINE[phase >> 16] * env // 1000)
    data = struct.pack(f'<{len(samples)}h', *samples)
    fmt = struct.pack('<HHIIHH', 1, 1, RATE, RATE * 2, 2, 16)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(data)) + data
    return b'RIFF' + struct.pack('<I', len(body)) + body


# ---------------------------------------------------------------------------------------------
# The copy animation: 27 uncompressed 8-bit frames of 256 x 40, 100 ms each. A page flies from
# the left folder to the right one.

AVI_W, AVI_H, AVI_FRAMES = 256, 40, 27
AVI_BACK = (212, 208, 200)


def folder(img, x, y):
    img.fill(x, y + 4, x + 36, y + 28, (232, 188, 64))
    img.fill(x, y, x + 14, y + 4, (232, 188, 64))
    img.frame(x, y + 4, x + 36, y + 28, (150, 110, 20))
    img.fill(x + 2, y + 10, x + 34, y + 11, (250, 226, 140))


def page(img, x, y):
    img.fill(x, y, x + 14, y + 18, WHITE)
    img.frame(x, y, x + 14, y + 18, (80, 80, 96))
    for k in range(3):
        img.fill(x + 3, y + 5 + k * 4, x + 11, y + 6 + k * 4, (120, 130, 170))


def avi_frames():
    frames = []
    for i in range(AVI_FRAMES):
        img = Image(AVI_W, AVI_H, AVI_BACK)
        folder(img, 8, 8)
        folder(img, 212, 8)
        x = 30 + 182 * i // (AVI_FRAMES - 1)
        y = 14 - 48 * i * (AVI_FRAMES - 1 - i) // ((AVI_FRAMES - 1) * (AVI_FRAMES - 1))
        page(img, x, y)
        frames.append(img)
    return frames


def riff_chunk(fourcc, data):
    return fourcc + struct.pack('<I', len(data)) + data + (b'\0' if len(data) % 2 else b'')


def riff_list(kind, data):
    return b'LIST' + struct.pack('<I', len(data) + 4) + kind + data


def avi_file():
    frames = avi_frames()
    combined = Image(AVI_W, AVI_H * AVI_FRAMES)
    for i, f in enumerate(frames):
        combined.blit(f, 0, i * AVI_H)
    palette, _ = indexed(combined)
    index = {c: i for i, c in enumerate(palette[:len(combined.colours())])}
    frame_size = AVI_W * AVI_H
    blobs = []
    for f in frames:
        rows = []
        for y in range(AVI_H - 1, -1, -1):
            rows.append(bytes(index[bytes(f.px[(y * AVI_W + x) * 3:(y * AVI_W + x) * 3 + 3])]
                              for x in range(AVI_W)))
        blobs.append(b''.join(rows))
    avih = struct.pack('<10I4I', 100000, frame_size * 10, 0, 0x10, AVI_FRAMES, 0, 1, frame_size,
                       AVI_W, AVI_H, 0, 0, 0, 0)
    strh = struct.pack('<4s4sIHHIIIIIIII4h', b'vids', b'DIB ', 0, 0, 0, 0, 1, 10, 0, AVI_FRAMES,
                       frame_size, 0xFFFFFFFF, 0, 0, 0, AVI_W, AVI_H)
    strf = (struct.pack('<IiiHHIIiiII', 40, AVI_W, AVI_H, 1, 8, 0, frame_size, 0, 0, 256, 0) +
            b''.join(bytes((c[2], c[1], c[0], 0)) for c in palette))
    hdrl = riff_list(b'hdrl', riff_chunk(b'avih', avih) +
                     riff_list(b'strl', riff_chunk(b'strh', strh) + riff_chunk(b'strf', strf)))
    movi_data = b''
    idx = b''
    for blob in blobs:
        idx += struct.pack('<4sIII', b'00db', 0x10, 4 + len(movi_data), len(blob))
        movi_data += riff_chunk(b'00db', blob)
    body = b'AVI ' + hdrl + riff_list(b'movi', movi_data) + riff_chunk(b'idx1', idx)
    return b'RIFF' + struct.pack('<I', len(body)) + body


# ---------------------------------------------------------------------------------------------

def all_files():
    """(file name, maker) for every file, in a fixed order."""
    files = list(bitmap_painters())
    files.append(('tavelin.ico', icon_file))
    for sid, notes in SOUNDS.items():
        files.append((f'sound{sid}.wav', lambda notes=notes: wave_file(notes)))
    files.append(('copy.avi', avi_file))
    return files


def main(argv):
    if len(argv) == 2 and argv[1] == '--list':
        for name, _ in all_files():
            print(name)
        return 0
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    for name, make in all_files():
        path = os.path.join(out, name)
        with open(path + '.tmp', 'wb') as f:
            f.write(make())
        os.replace(path + '.tmp', path)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
