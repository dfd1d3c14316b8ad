#!/usr/bin/env python3
"""Draw Tallowen's button pictures and program icon as XPM files, and the
help pages' pictures as PNG files.

Standard library only. Run from anywhere: the XPM files are written next to
this script, and the program compiles them in (src/platform/Pictures.cpp);
the PNG files go to the help pages (src/help/chm/images).

Every picture is designed on a 32x32 grid and drawn at 1x (32x32), 2x (64x64,
"name@2x.xpm") and 3x (96x96, "name@3x.xpm"), so that screens scaled by 1.5,
2 or 3 get pixels of their own rather than blown-up ones. Shapes are tested at
the centres of the pixels of the grid they are drawn on, so there is no
anti-aliasing at any size and every pixel is one of the 16 VGA colours (or
transparent).
"""

import os
import re
import struct
import sys
import zlib

DESIGN = 32  # the grid every shape is given in
SCALES = (1, 2, 3)

# Classic 16-colour VGA palette; one XPM character per colour.
PALETTE = {
    "black": ("#000000", "k"),
    "maroon": ("#800000", "m"),
    "green": ("#008000", "g"),
    "olive": ("#808000", "o"),
    "navy": ("#000080", "n"),
    "purple": ("#800080", "p"),
    "teal": ("#008080", "t"),
    "silver": ("#C0C0C0", "s"),
    "grey": ("#808080", "e"),
    "red": ("#FF0000", "r"),
    "lime": ("#00FF00", "l"),
    "yellow": ("#FFFF00", "y"),
    "blue": ("#0000FF", "b"),
    "fuchsia": ("#FF00FF", "f"),
    "aqua": ("#00FFFF", "a"),
    "white": ("#FFFFFF", "w"),
}
NONE = None  # XPM transparent colour
NONE_CHAR = " "


class Grid:
    """The pixels of one drawing size. Shapes are given in design units (the
    32x32 grid); a pixel belongs to a shape when its centre lies inside it. A
    line one design unit wide is `scale` pixels wide."""

    def __init__(self, scale):
        self.scale = scale
        self.size = DESIGN * scale
        # The disc whose ring makes outlines and borders one design unit thick;
        # at 1x it is the four neighbours.
        self.ring = [(dx, dy) for dy in range(-scale, scale + 1)
                     for dx in range(-scale, scale + 1)
                     if 0 < dx * dx + dy * dy <= scale * scale]

    def pixels(self, test, box=(0, 0, DESIGN, DESIGN)):
        """Pixels whose centres pass `test` (in design units), looked for
        inside `box` (x0, y0, x1, y1 in design units) only."""
        s = self.scale
        x0, y0, x1, y1 = box
        xs = range(max(0, int(x0 * s) - 1), min(self.size, int(x1 * s) + 2))
        ys = range(max(0, int(y0 * s) - 1), min(self.size, int(y1 * s) + 2))
        return {(x, y) for y in ys for x in xs
                if test((x + 0.5) / s, (y + 0.5) / s)}

    def rect(self, x0, y0, x1, y1):
        """The design pixels x0..x1, y0..y1, inclusive."""
        return self.pixels(lambda u, v: x0 <= u < x1 + 1 and y0 <= v < y1 + 1,
                           (x0, y0, x1 + 1, y1 + 1))

    def circle(self, cx, cy, r):
        return self.pixels(lambda u, v: (u - cx) ** 2 + (v - cy) ** 2 <= r * r,
                           (cx - r, cy - r, cx + r, cy + r))

    def polygon(self, points):
        def inside(px, py):
            hit = False
            n = len(points)
            for i in range(n):
                (x0, y0), (x1, y1) = points[i], points[(i + 1) % n]
                if (y0 > py) != (y1 > py):
                    xc = x0 + (py - y0) * (x1 - x0) / (y1 - y0)
                    if px < xc:
                        hit = not hit
            return hit
        return self.pixels(inside)

    def diag_rect(self, s0, s1, d0, d1):
        """The design pixels with s0 <= x+y <= s1 and d0 <= x-y <= d1 (a
        45-degree box)."""
        return self.pixels(lambda u, v: s0 + 0.5 <= u + v < s1 + 1.5
                           and d0 - 0.5 <= u - v < d1 + 0.5)

    def outline(self, mask):
        """The ring just outside the shape, one design unit thick."""
        return {(x + dx, y + dy) for x, y in mask
                for dx, dy in self.ring} - mask

    def border(self, mask):
        """The shape's own edge, one design unit thick."""
        return {(x, y) for x, y in mask
                if any((x + dx, y + dy) not in mask for dx, dy in self.ring)}


class Canvas:
    def __init__(self, grid, background=NONE):
        self.grid = grid
        self.size = grid.size
        self.px = [[background] * self.size for _ in range(self.size)]

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = colour

    def centre(self):
        """Move the drawing so its bounding box sits in the middle."""
        n = self.size
        pts = [(x, y) for y in range(n) for x in range(n)
               if self.px[y][x] is not NONE]
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        dx = (n - 1 - max(xs) - min(xs)) // 2
        dy = (n - 1 - max(ys) - min(ys)) // 2
        old = self.px
        self.px = [[NONE] * n for _ in range(n)]
        for x, y in pts:
            self.put(x + dx, y + dy, old[y][x])

    def paint(self, mask, colour):
        for x, y in mask:
            self.put(x, y, colour)

    def paint_outlined(self, mask, fill, edge):
        """Fill a shape, then draw its border in the edge colour."""
        self.paint(mask, fill)
        self.paint(self.grid.border(mask), edge)


# --- pictures ------------------------------------------------------------

# Glyph centre sits between design pixels 15 and 16 so shapes are symmetric.
C = 16.0


def draw_record(g, body, edge):
    c = Canvas(g)
    c.paint_outlined(g.circle(C, C, 8.0), body, edge)
    return c


def draw_stop(g, colour):
    c = Canvas(g)
    c.paint(g.rect(9, 9, 22, 22), colour)
    return c


def draw_play(g, colour):
    c = Canvas(g)
    # Slope of 2 px per row gives an even staircase (15 wide, 16 tall); it
    # sits half a pixel right, where a triangle looks optically centred.
    c.paint(g.polygon([(9, 8), (9, 24), (25, 16)]), colour)
    return c


def draw_pause(g, colour):
    c = Canvas(g)
    # Two 2-px bars with a 2-px gap: 6 px overall for the 9 px wide button.
    c.paint(g.rect(13, 9, 14, 22), colour)
    c.paint(g.rect(17, 9, 18, 22), colour)
    return c


def draw_settings(g):
    c = Canvas(g)
    # Both tools run along 45-degree axes built from x+y / x-y pixel bands,
    # which keeps the diagonal edges clean staircases.
    # Wrench, lower left to upper right, drawn first so the hammer lies on it.
    wrench = g.diag_rect(30, 32, -11, 8) | g.diag_rect(31, 31, -12, -12)
    wrench |= g.circle(20.5, 11.5, 4.3)
    # Open jaw facing outwards; wide enough that the outline leaves a gap.
    wrench -= g.diag_rect(28, 34, 9, 60)
    c.paint(g.outline(wrench), "black")
    c.paint(wrench, "silver")
    c.paint(g.diag_rect(30, 30, -10, 3), "white")
    c.paint(g.diag_rect(32, 32, -10, 3), "grey")

    # Hammer: wooden handle from lower right up to a steel head at upper left.
    handle = g.diag_rect(21, 44, -1, 1)
    c.paint(g.outline(handle), "maroon")
    c.paint(handle, "olive")
    head = g.diag_rect(16, 20, -5, 5)
    c.paint(g.outline(head), "black")
    c.paint(head, "grey")
    c.paint(g.diag_rect(16, 16, -4, 4), "silver")
    c.centre()
    return c


def draw_volume(g):
    c = Canvas(g)
    # Raised panel: white top/left, grey then black bottom/right.
    c.paint(g.rect(6, 6, 25, 25), "black")
    c.paint(g.rect(6, 6, 24, 24), "white")
    c.paint(g.rect(7, 7, 24, 24), "grey")
    c.paint(g.rect(7, 7, 23, 23), "silver")
    # Ticks on both sides, clear of the knob so they stay visible.
    for y in range(9, 23, 2):
        long = y in (9, 15, 21)
        c.paint(g.rect(9 if long else 10, y, 11, y), "grey")
        c.paint(g.rect(20, y, 22 if long else 21, y), "grey")
    # Sunken slot.
    c.paint(g.rect(15, 8, 16, 22), "black")
    c.paint(g.rect(17, 8, 17, 22), "white")
    # Knob: small raised horizontal block across the slot.
    c.paint(g.rect(12, 12, 19, 16), "black")
    c.paint(g.rect(12, 12, 18, 15), "white")
    c.paint(g.rect(13, 13, 18, 15), "grey")
    c.paint(g.rect(13, 13, 17, 14), "silver")
    c.paint(g.rect(13, 14, 17, 14), "black")  # grip line across the knob
    return c


def draw_icon(g):
    c = Canvas(g, "navy")
    # Frame so the square reads as a tile on any desktop.
    c.paint(g.border(g.rect(0, 0, 31, 31)), "blue")
    # Base and stem.
    c.paint(g.rect(8, 25, 23, 28), "black")
    c.paint(g.rect(9, 26, 22, 27), "grey")
    c.paint(g.rect(9, 26, 22, 26), "silver")
    c.paint(g.rect(14, 19, 17, 25), "black")
    c.paint(g.rect(15, 19, 16, 25), "grey")
    # U-shaped holder cradling the lower half of the head.
    holder = ((g.circle(C, 13.0, 7.8) - g.circle(C, 13.0, 5.6))
              - g.rect(0, 0, 31, 12))
    c.paint(g.outline(holder), "black")
    c.paint(holder, "grey")
    c.paint(holder - g.circle(C, 13.0, 7.0), "silver")
    # Capsule head: round top and bottom.
    head = g.circle(C, 8.0, 5.0) | g.circle(C, 13.0, 5.0) | g.rect(11, 8, 20, 13)
    inner = head - g.border(head)
    c.paint(g.border(head), "black")
    c.paint(inner, "silver")
    # Grille: symmetric about the centre line between columns 15 and 16.
    for y in (6, 9, 12, 15):
        c.paint(g.rect(0, y, 31, y) & inner, "grey")
    for x in (14, 17):
        c.paint(g.rect(x, 0, x, 31) & inner, "grey")
    for y in (7, 8, 10, 11, 13, 14):
        c.paint(g.rect(12, y, 12, y) & inner, "white")
    return c


PICTURES = [
    ("icon", draw_icon),
    ("record", lambda g: draw_record(g, "red", "maroon")),
    ("record_grey", lambda g: draw_record(g, "grey", "grey")),
    ("stop", lambda g: draw_stop(g, "black")),
    ("stop_grey", lambda g: draw_stop(g, "grey")),
    ("play", lambda g: draw_play(g, "black")),
    ("play_grey", lambda g: draw_play(g, "grey")),
    ("pause", lambda g: draw_pause(g, "black")),
    ("pause_grey", lambda g: draw_pause(g, "grey")),
    ("settings", draw_settings),
    ("volume", draw_volume),
]

# The main window's buttons as the help pages show them, at 1x and 2x.
HELP_PICTURES = ["record", "stop", "pause", "play", "settings", "volume"]
HELP_SCALES = (1, 2)


# --- output ----------------------------------------------------------------

def suffix(scale):
    return "" if scale == 1 else "@%dx" % scale


def used_colours(canvas):
    used = {colour for row in canvas.px for colour in row}
    # Stable colour order keeps regenerated files diff-free.
    return sorted(used, key=lambda col: (col is not NONE, col or ""))


def to_xpm(name, canvas):
    used = used_colours(canvas)
    chars = {NONE: NONE_CHAR}
    lines = ['"%d %d %d 1",' % (canvas.size, canvas.size, len(used))]
    for colour in used:
        if colour is NONE:
            lines.append('"%s c None",' % NONE_CHAR)
        else:
            hexval, ch = PALETTE[colour]
            chars[colour] = ch
            lines.append('"%s c %s",' % (ch, hexval))
    rows = ['"%s"' % "".join(chars[col] for col in row) for row in canvas.px]
    lines += [r + "," for r in rows[:-1]] + [rows[-1]]
    return ("/* XPM */\nstatic const char *const %s_xpm[] = {\n%s\n};\n"
            % (name, "\n".join(lines)))


def to_png(canvas):
    """An 8-bit palette PNG with the transparent colour first in tRNS."""
    used = used_colours(canvas)
    index = {colour: i for i, colour in enumerate(used)}
    plte = b"".join(bytes.fromhex((PALETTE[c][0] if c else "#000000")[1:])
                    for c in used)
    raw = b"".join(b"\0" + bytes(index[col] for col in row)
                   for row in canvas.px)

    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body
                + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", canvas.size, canvas.size,
                                      8, 3, 0, 0, 0))
    png += chunk(b"PLTE", plte)
    if NONE in index:
        png += chunk(b"tRNS", b"\0")
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    return png


def require(ok, what):
    # Explicit raise so the check still runs under "python -O".
    if not ok:
        raise ValueError("bad picture: %s" % (what,))


def check_xpm(path, size):
    """Re-read a written file: its size, one char per pixel, VGA colours only."""
    text = open(path).read()
    strings = re.findall(r'"([^"]*)"', text)
    w, h, ncol, cpp = map(int, strings[0].split())
    require((w, h, cpp) == (size, size, 1), path)
    allowed = {v[0] for v in PALETTE.values()}
    real = 0
    for entry in strings[1:1 + ncol]:
        value = entry[cpp:].split()[-1]
        if value != "None":
            require(value.upper() in allowed, (path, value))
            real += 1
    require(real <= 16, path)
    keys = {e[:cpp] for e in strings[1:1 + ncol]}
    rows = strings[1 + ncol:]
    require(len(rows) == size, path)
    require(all(len(r) == size and set(r) <= keys for r in rows), path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    help_images = os.path.join(here, os.pardir, "src", "help", "chm", "images")
    for scale in SCALES:
        grid = Grid(scale)
        for name, draw in PICTURES:
            canvas = draw(grid)
            path = os.path.join(here, name + suffix(scale) + ".xpm")
            symbol = name if scale == 1 else "%s_%dx" % (name, scale)
            with open(path, "w") as f:
                f.write(to_xpm(symbol, canvas))
            check_xpm(path, grid.size)
            if name in HELP_PICTURES and scale in HELP_SCALES:
                png = os.path.join(help_images, name + suffix(scale) + ".png")
                with open(png, "wb") as f:
                    f.write(to_png(canvas))
    return 0


if __name__ == "__main__":
    sys.exit(main())
