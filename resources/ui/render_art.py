#!/usr/bin/env python3
"""Renders the configuration dialog's artwork from the drawings in this file:

  receiver_schematic.bmp  the receiver's wiring, 447 x 212, 16 colours, 96 dpi
  config_box.ico          the dialog's icon, 32 x 32, 16 colours
  multi_drag.cur          the pointer over the service check box

  render_art.py [--check] [FOLDER]

writes the three files into FOLDER (default: this file's folder); with --check it writes
nothing and fails when a file there differs from what the drawings give. Only the Python
standard library is used, and the output is the same byte for byte on every machine.
"""

import os
import struct
import sys

# The standard 16-colour Windows palette, in its usual order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# A 5 x 7 pixel font of our own (lower-case descenders take two more rows).
GLYPHS = {
    'A': ".###. #...# #...# ##### #...# #...# #...#",
    'B': "####. #...# #...# ####. #...# #...# ####.",
    'C': ".###. #...# #.... #.... #.... #...# .###.",
    'D': "####. #...# #...# #...# #...# #...# ####.",
    'E': "##### #.... #.... ####. #.... #.... #####",
    'F': "##### #.... #.... ####. #.... #.... #....",
    'G': ".###. #...# #.... #.### #...# #...# .####",
    'H': "#...# #...# #...# ##### #...# #...# #...#",
    'I': "### .#. .#. .#. .#. .#. ###",
    'J': "..### ...#. ...#. ...#. ...#. #..#. .##..",
    'K': "#...# #..#. #.#.. ##... #.#.. #..#. #...#",
    'L': "#.... #.... #.... #.... #.... #.... #####",
    'M': "#...# ##.## #.#.# #.#.# #...# #...# #...#",
    'N': "#...# #...# ##..# #.#.# #..## #...# #...#",
    'O': ".###. #...# #...# #...# #...# #...# .###.",
    'P': "####. #...# #...# ####. #.... #.... #....",
    'Q': ".###. #...# #...# #...# #.#.# #..#. .##.#",
    'R': "####. #...# #...# ####. #.#.. #..#. #...#",
    'S': ".#### #.... #.... .###. ....# ....# ####.",
    'T': "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",
    'U': "#...# #...# #...# #...# #...# #...# .###.",
    'V': "#...# #...# #...# #...# #...# .#.#. ..#..",
    'W': "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",
    'X': "#...# #...# .#.#. ..#.. .#.#. #...# #...#",
    'Y': "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#..",
    'Z': "##### ....# ...#. ..#.. .#... #.... #####",
    '0': ".###. #...# #..## #.#.# ##..# #...# .###.",
    '1': "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.",
    '2': ".###. #...# ....# ...#. ..#.. .#... #####",
    '3': "##### ...#. ..#.. ...#. ....# #...# .###.",
    '4': "...#. ..##. .#.#. #..#. ##### ...#. ...#.",
    '5': "##### #.... ####. ....# ....# #...# .###.",
    '6': "..##. .#... #.... ####. #...# #...# .###.",
    '7': "##### ....# ...#. ..#.. .#... .#... .#...",
    '8': ".###. #...# #...# .###. #...# #...# .###.",
    '9': ".###. #...# #...# .#### ....# ...#. .##..",
    'a': "..... ..... .###. ....# .#### #...# .####",
    'b': "#.... #.... #.##. ##..# #...# #...# ####.",
    'c': "..... ..... .###. #.... #.... #...# .###.",
    'd': "....# ....# .##.# #..## #...# #...# .####",
    'e': "..... ..... .###. #...# ##### #.... .###.",
    'f': "..## .#.. ###. .#.. .#.. .#.. .#..",
    'g': "..... ..... .#### #...# #...# #...# .#### ....# .###.",
    'h': "#.... #.... #.##. ##..# #...# #...# #...#",
    'i': "# . # # # # #",
    'j': "..# ... .## ..# ..# ..# ..# #.# .#.",
    'k': "#... #... #..# #.#. ##.. #.#. #..#",
    'l': "# # # # # # #",
    'm': "..... ..... ##.#. #.#.# #.#.# #.#.# #.#.#",
    'n': "..... ..... #.##. ##..# #...# #...# #...#",
    'o': "..... ..... .###. #...# #...# #...# .###.",
    'p': "..... ..... ####. #...# #...# #...# ####. #.... #....",
    'q': "..... ..... .#### #...# #...# #...# .#### ....# ....#",
    'r': ".... .... #.## ##.. #... #... #...",
    's': "..... ..... .#### #.... .###. ....# ####.",
    't': ".#.. .#.. #### .#.. .#.. .#.. ..##",
    'u': "..... ..... #...# #...# #...# #..## .##.#",
    'v': "..... ..... #...# #...# #...# .#.#. ..#..",
    'w': "..... ..... #...# #...# #.#.# #.#.# .#.#.",
    'x': "..... ..... #...# .#.#. ..#.. .#.#. #...#",
    'y': "..... ..... #...# #...# #...# #...# .#### ....# .###.",
    'z': "..... ..... ##### ...#. ..#.. .#... #####",
    ' ': "... ... ... ... ... ... ...",
    '.': ". . . . . . #",
    ',': ".. .. .. .. .. .# .# #.",
    '-': ".... .... .... #### .... .... ....",
    '/': "....# ....# ...#. ..#.. .#... #.... #....",
    '(': "..# .#. #.. #.. #.. .#. ..#",
    ')': "#.. .#. ..# ..# ..# .#. #..",
    ':': ". . # . . # .",
    '=': "..... ..... ##### ..... ##### ..... .....",
    '+': "..... ..#.. ..#.. ##### ..#.. ..#.. .....",
    "'": "# # . . . . .",
    '~': ".###. #...# #...# #...# .#.#. .#.#. ##.##",  # the ohm sign
}
TEXT_HEIGHT = 7


class Canvas:
    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.pixels = [[colour] * width for _ in range(height)]

    def dot(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def line(self, x0, y0, x1, y1, colour):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        error = dx + dy
        while True:
            self.dot(x0, y0, colour)
            if (x0, y0) == (x1, y1):
                return
            twice = 2 * error
            if twice >= dy:
                error += dy
                x0 += sx
            if twice <= dx:
                error += dx
                y0 += sy

    def path(self, points, colour):
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            self.line(x0, y0, x1, y1, colour)

    def rect(self, x0, y0, x1, y1, outline, fill=None):
        if fill is not None:
            for y in range(y0, y1 + 1):
                for x in range(x0, x1 + 1):
                    self.dot(x, y, fill)
        if outline is not None:
            self.path([(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)], outline)

    def polygon(self, points, fill):
        ys = [y for _, y in points]
        for y in range(min(ys), max(ys) + 1):
            xs = []
            for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
                if (y0 <= y < y1) or (y1 <= y < y0):
                    xs.append(x0 + (y - y0) * (x1 - x0) / (y1 - y0))
            xs.sort()
            for a, b in zip(xs[::2], xs[1::2]):
                for x in range(round(a), round(b) + 1):
                    self.dot(x, y, fill)

    def disc(self, cx, cy, r, colour, keep=lambda dx, dy: True):
        for dy in range(-r, r + 1):
            for dx in range(-r, r + 1):
                if dx * dx + dy * dy <= r * r + r and keep(dx, dy):
                    self.dot(cx + dx, cy + dy, colour)

    def arc(self, cx, cy, r, colour, keep=lambda dx, dy: True):
        for dy in range(-r, r + 1):
            for dx in range(-r, r + 1):
                d = dx * dx + dy * dy
                if r * r - r <= d <= r * r + r and keep(dx, dy):
                    self.dot(cx + dx, cy + dy, colour)

    def text(self, x, y, text, colour):
        """Draws text with its top-left corner at x, y; returns its width."""
        start = x
        for ch in text:
            rows = GLYPHS[ch].split()
            for row_index, row in enumerate(rows):
                for column, cell in enumerate(row):
                    if cell == '#':
                        self.dot(x + column, y + row_index, colour)
            x += len(rows[0]) + 1
        return x - start - 1


def text_width(text):
    return sum(len(GLYPHS[ch].split()[0]) + 1 for ch in text) - 1


def junction(canvas, x, y):
    canvas.rect(x - 1, y - 1, x + 1, y + 1, BLACK, BLACK)


def draw_schematic():
    c = Canvas(447, 212, WHITE)
    c.text(6, 4, "IR receiver for the serial port (input DSR)", BLACK)

    supply_y, out_y, ground_y = 46, 86, 192
    zener_x, cap_x, leg_x, resistor_x, bus_x = 30, 80, 186, 262, 310

    # Rails: supply along the top, ground along the bottom.
    c.line(zener_x, supply_y, bus_x, supply_y, BLACK)
    c.line(zener_x, ground_y, bus_x, ground_y, BLACK)

    # Zener diode, 5.1 V: cathode bar at the supply, anode at ground.
    mid = 119
    c.line(zener_x, supply_y, zener_x, mid - 7, BLACK)
    c.line(zener_x, mid + 6, zener_x, ground_y, BLACK)
    c.polygon([(zener_x - 7, mid + 6), (zener_x + 7, mid + 6), (zener_x, mid - 6)], BLACK)
    c.line(zener_x - 7, mid - 7, zener_x + 7, mid - 7, BLACK)
    c.line(zener_x - 7, mid - 7, zener_x - 9, mid - 4, BLACK)
    c.line(zener_x + 7, mid - 7, zener_x + 9, mid - 10, BLACK)
    c.text(zener_x + 11, mid - 3, "5.1 V", BLACK)

    # Capacitor, 100 nF.
    c.line(cap_x, supply_y, cap_x, mid - 3, BLACK)
    c.line(cap_x, mid + 3, cap_x, ground_y, BLACK)
    c.rect(cap_x - 8, mid - 3, cap_x + 8, mid - 2, None, BLACK)
    c.rect(cap_x - 8, mid + 2, cap_x + 8, mid + 3, None, BLACK)
    c.text(cap_x - 14, mid + 10, "100 nF", BLACK)
    junction(c, cap_x, supply_y)
    junction(c, cap_x, ground_y)

    # The infrared detector module: supply on top, ground below, output to the right.
    left, top, right, bottom = 140, 62, 230, 160
    c.rect(left, top, right, bottom, BLACK, SILVER)
    c.disc(left, 111, 13, GRAY, keep=lambda dx, dy: dx <= 0)
    c.arc(left, 111, 13, BLACK, keep=lambda dx, dy: dx <= 0)
    c.arc(left, 111, 9, WHITE, keep=lambda dx, dy: dx < -3 and dy < -3)
    c.line(leg_x, supply_y, leg_x, top, BLACK)
    c.line(leg_x, bottom, leg_x, ground_y, BLACK)
    c.line(right, out_y, 340, out_y, BLACK)
    junction(c, leg_x, supply_y)
    junction(c, leg_x, ground_y)
    c.text(leg_x - text_width("VCC 2") // 2, top + 4, "VCC 2", NAVY)
    c.text(right - 4 - text_width("OUT 3"), out_y - 3, "OUT 3", NAVY)
    c.text(leg_x - text_width("GND 1") // 2, bottom - 11, "GND 1", NAVY)
    c.text(left + 8 + 1, 104, "TSOP17xx", BLACK)
    c.text(left + 8 + 1, 114, "SFH506-xx", BLACK)
    c.text(left - 40, 166, "xx: carrier kHz", BLACK)

    # Infrared light falling on the lens.
    for y0 in (92, 110):
        x0, x1, y1 = 96, 122, y0 + 8
        c.line(x0, y0, x1, y1, RED)
        c.line(x0, y0 + 1, x1, y1 + 1, RED)
        c.polygon([(x1 + 3, y1 + 2), (x1 - 5, y1 + 2), (x1 - 1, y1 - 5)], RED)

    # Pull-up, 3.3 kOhm, from the output to the supply.
    c.line(resistor_x, supply_y, resistor_x, 54, BLACK)
    c.line(resistor_x, 78, resistor_x, out_y, BLACK)
    c.rect(resistor_x - 4, 54, resistor_x + 4, 78, BLACK, WHITE)
    c.text(resistor_x + 9, 63, "3.3 k~", BLACK)
    junction(c, resistor_x, supply_y)
    junction(c, resistor_x, out_y)

    # The 9-pin RS232 connector, pin 9 on top.
    box_left, box_right = 340, 392
    c.rect(box_left, 16, box_right, 196, BLACK, WHITE)
    c.text(box_left - 2, 4, "RS232 9-pin", BLACK)
    names = {1: "DCD", 2: "RXD", 3: "TXD", 4: "DTR", 5: "GND", 6: "DSR", 7: "RTS", 8: "CTS", 9: "RI"}
    pin_y = {}
    for pin in range(9, 0, -1):
        y = 26 + 20 * (9 - pin)
        pin_y[pin] = y
        c.line(box_left - 14, y, box_left, y, BLACK)
        c.disc(box_left, y, 2, BLACK)
        c.text(box_left + 6, y - 3, "%d %s" % (pin, names[pin]), NAVY)
    # Supply from RTS, joined to CTS; ground to GND.
    c.line(bus_x, supply_y, box_left, supply_y, BLACK)
    c.line(bus_x, supply_y, bus_x, pin_y[7], BLACK)
    c.line(bus_x, pin_y[7], box_left, pin_y[7], BLACK)
    junction(c, bus_x, supply_y)
    c.line(bus_x, ground_y, bus_x, pin_y[5], BLACK)
    c.line(bus_x, pin_y[5], box_left, pin_y[5], BLACK)
    # RI joined to GND on the connector itself.
    c.path([(box_right, pin_y[9]), (box_right + 14, pin_y[9]), (box_right + 14, pin_y[5]),
            (box_right, pin_y[5])], BLACK)
    c.text(box_right + 18, (pin_y[9] + pin_y[5]) // 2 - 3, "RI-GND", BLACK)
    # Unconnected pins.
    for pin in (1, 2, 3, 4):
        c.text(box_right + 6, pin_y[pin] - 3, "n.c.", GRAY)
    return c


def bmp_bytes(canvas, dpi=96):
    stride = ((canvas.width * 4 + 31) // 32) * 4
    rows = []
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray(stride)
        for x, index in enumerate(canvas.pixels[y]):
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
        rows.append(bytes(row))
    bits = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    ppm = round(dpi / 0.0254)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 4, 0, len(bits),
                       ppm, ppm, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return header + info + palette + bits


def draw_icon():
    """A remote control sending its signal: our icon, 32 x 32, None = transparent."""
    c = Canvas(32, 32, None)
    # Remote control, leaning slightly: body, keys, emitter.
    c.polygon([(3, 13), (12, 8), (23, 27), (14, 31)], BLACK)
    c.polygon([(4, 13), (11, 9), (21, 27), (14, 30)], GRAY)
    for (x, y, colour) in [(9, 12, RED), (10, 16, SILVER), (13, 14, SILVER), (12, 19, SILVER),
                           (15, 17, SILVER), (14, 22, SILVER), (17, 20, SILVER),
                           (16, 25, YELLOW), (19, 23, YELLOW)]:
        c.rect(x, y, x + 1, y + 1, None, colour)
    c.rect(6, 12, 7, 13, None, MAROON)
    # Infrared waves towards the top-left corner.
    for r, colour in ((4, RED), (7, RED), (10, MAROON)):
        c.arc(11, 11, r, colour, keep=lambda dx, dy: dx <= 0 and dy <= 0 and (dx < -1 or dy < -1))
    return c


def ico_bytes(canvas, hotspot=None):
    """An icon (or with a hotspot, a cursor) of one 32 x 32 16-colour image."""
    width, height = canvas.width, canvas.height
    xor_rows, and_rows = [], []
    for y in range(height - 1, -1, -1):
        xor = bytearray(width // 2)
        mask = bytearray(((width + 31) // 32) * 4)
        for x, index in enumerate(canvas.pixels[y]):
            if index is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                index = 0
            xor[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    bits = b"".join(xor_rows) + b"".join(and_rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0, len(bits), 0, 0, 16, 0)
    image = info + palette + bits
    kind, planes, bit_count = (1, 1, 4) if hotspot is None else (2, hotspot[0], hotspot[1])
    directory = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", width, height, 16, 0, planes, bit_count, len(image), 22)
    return directory + entry + image


CURSOR = [
    "#...............................",
    "##..............................",
    "#o#.............................",
    "#oo#............................",
    "#ooo#...........................",
    "#oooo#..........................",
    "#ooooo#.........................",
    "#oooooo#........................",
    "#ooooooo#.......................",
    "#oooooooo#......................",
    "#ooooo#####.....................",
    "#oo#oo#.........................",
    "#o#.#oo#........................",
    "##..#oo#........................",
    "#....#oo#.......................",
    ".....#oo#.......................",
    "......##..#########.............",
    "..........#ooooooo#.............",
    "........#########o#.............",
    "........#ooooooo#o#.............",
    "......#########o#o#.............",
    "......#ooooooo#o#o#.............",
    "......#ooooooo#o###.............",
    "......#ooooooo#o#...............",
    "......#ooooooo###...............",
    "......#ooooooo#.................",
    "......#########.................",
    "................................",
    "................................",
    "................................",
    "................................",
    "................................",
]


def draw_cursor():
    """The arrow with a stack of pages: several things being dragged."""
    c = Canvas(32, 32, None)
    for y, row in enumerate(CURSOR):
        for x, cell in enumerate(row):
            if cell == '#':
                c.dot(x, y, BLACK)
            elif cell == 'o':
                c.dot(x, y, WHITE)
    return c


def render():
    return {
        "receiver_schematic.bmp": bmp_bytes(draw_schematic()),
        "config_box.ico": ico_bytes(draw_icon()),
        "multi_drag.cur": ico_bytes(draw_cursor(), hotspot=(0, 0)),
    }


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    folder = args[0] if args else os.path.dirname(os.path.abspath(__file__))
    stale = []
    for name, data in render().items():
        path = os.path.join(folder, name)
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
        print("render_art: not as drawn (run resources/ui/render_art.py): " + ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
