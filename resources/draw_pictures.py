#!/usr/bin/env python3
"""Draw Tallowen's button pictures and program icon as 32x32 XPM files.

Standard library only. Run from anywhere; files are written next to this
script, and the program compiles them in (src/platform/Pictures.cpp).  Shapes are tested at pixel centres, so
there is no anti-aliasing and every pixel is one of the 16 VGA colours (or
transparent).
"""

import os
import re
import sys

SIZE = 32

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


class Canvas:
    def __init__(self, background=NONE):
        self.px = [[background] * SIZE for _ in range(SIZE)]

    def put(self, x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.px[y][x] = colour

    def centre(self):
        """Move the drawing so its bounding box sits in the middle."""
        pts = [(x, y) for y in range(SIZE) for x in range(SIZE)
               if self.px[y][x] is not NONE]
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        dx = (SIZE - 1 - max(xs) - min(xs)) // 2
        dy = (SIZE - 1 - max(ys) - min(ys)) // 2
        old = self.px
        self.px = [[NONE] * SIZE for _ in range(SIZE)]
        for x, y in pts:
            self.put(x + dx, y + dy, old[y][x])

    def paint(self, mask, colour):
        for x, y in mask:
            self.put(x, y, colour)

    def paint_outlined(self, mask, fill, edge):
        """Fill a shape, then draw its 4-connected border in the edge colour."""
        self.paint(mask, fill)
        self.paint(border(mask), edge)


# --- shape masks: sets of (x, y) pixels whose centres lie inside ---------

def _pixels(test):
    return {(x, y) for y in range(SIZE) for x in range(SIZE)
            if test(x + 0.5, y + 0.5)}


def rect(x0, y0, x1, y1):
    """Inclusive pixel rectangle."""
    return {(x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)}


def circle(cx, cy, r):
    return _pixels(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r)


def polygon(points):
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
    return _pixels(inside)


def diag_rect(s0, s1, d0, d1):
    """Pixels with s0 <= x+y <= s1 and d0 <= x-y <= d1 (a 45-degree box)."""
    return {(x, y) for y in range(SIZE) for x in range(SIZE)
            if s0 <= x + y <= s1 and d0 <= x - y <= d1}


def outline(mask):
    """Pixels just outside the shape (4-neighbour ring)."""
    return {(x + dx, y + dy) for x, y in mask
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))} - mask


def border(mask):
    return {(x, y) for x, y in mask
            if any((x + dx, y + dy) not in mask
                   for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))}


# --- pictures ------------------------------------------------------------

# Glyph centre sits between pixels 15 and 16 so shapes are symmetric.
C = 16.0


def draw_record(body, edge):
    c = Canvas()
    c.paint_outlined(circle(C, C, 8.0), body, edge)
    return c


def draw_stop(colour):
    c = Canvas()
    c.paint(rect(9, 9, 22, 22), colour)
    return c


def draw_play(colour):
    c = Canvas()
    # Slope of 2 px per row gives an even staircase (15 wide, 16 tall); it
    # sits half a pixel right, where a triangle looks optically centred.
    c.paint(polygon([(9, 8), (9, 24), (25, 16)]), colour)
    return c


def draw_pause(colour):
    c = Canvas()
    # Two 2-px bars with a 2-px gap: 6 px overall for the 9 px wide button.
    c.paint(rect(13, 9, 14, 22), colour)
    c.paint(rect(17, 9, 18, 22), colour)
    return c


def draw_settings():
    c = Canvas()
    # Both tools run along 45-degree axes built from x+y / x-y pixel bands,
    # which keeps the diagonal edges clean staircases.
    # Wrench, lower left to upper right, drawn first so the hammer lies on it.
    wrench = diag_rect(30, 32, -11, 8) | diag_rect(31, 31, -12, -12)
    wrench |= circle(20.5, 11.5, 4.3)
    # Open jaw facing outwards; wide enough that the outline leaves a gap.
    wrench -= diag_rect(28, 34, 9, 60)
    c.paint(outline(wrench), "black")
    c.paint(wrench, "silver")
    c.paint(diag_rect(30, 30, -10, 3), "white")
    c.paint(diag_rect(32, 32, -10, 3), "grey")

    # Hammer: wooden handle from lower right up to a steel head at upper left.
    handle = diag_rect(21, 44, -1, 1)
    c.paint(outline(handle), "maroon")
    c.paint(handle, "olive")
    head = diag_rect(16, 20, -5, 5)
    c.paint(outline(head), "black")
    c.paint(head, "grey")
    c.paint(diag_rect(16, 16, -4, 4), "silver")
    c.centre()
    return c


def draw_volume():
    c = Canvas()
    # Raised panel: white top/left, grey then black bottom/right.
    c.paint(rect(6, 6, 25, 25), "black")
    c.paint(rect(6, 6, 24, 24), "white")
    c.paint(rect(7, 7, 24, 24), "grey")
    c.paint(rect(7, 7, 23, 23), "silver")
    # Ticks on both sides, clear of the knob so they stay visible.
    for y in range(9, 23, 2):
        long = y in (9, 15, 21)
        c.paint(rect(9 if long else 10, y, 11, y), "grey")
        c.paint(rect(20, y, 22 if long else 21, y), "grey")
    # Sunken slot.
    c.paint(rect(15, 8, 16, 22), "black")
    c.paint(rect(17, 8, 17, 22), "white")
    # Knob: small raised horizontal block across the slot.
    c.paint(rect(12, 12, 19, 16), "black")
    c.paint(rect(12, 12, 18, 15), "white")
    c.paint(rect(13, 13, 18, 15), "grey")
    c.paint(rect(13, 13, 17, 14), "silver")
    c.paint(rect(13, 14, 17, 14), "black")  # grip line across the knob
    return c


def draw_icon():
    c = Canvas("navy")
    # Frame so the square reads as a tile on any desktop.
    c.paint(border(rect(0, 0, 31, 31)), "blue")
    # Base and stem.
    c.paint(rect(8, 25, 23, 28), "black")
    c.paint(rect(9, 26, 22, 27), "grey")
    c.paint(rect(9, 26, 22, 26), "silver")
    c.paint(rect(14, 19, 17, 25), "black")
    c.paint(rect(15, 19, 16, 25), "grey")
    # U-shaped holder cradling the lower half of the head.
    holder = (circle(C, 13.0, 7.8) - circle(C, 13.0, 5.6)) - rect(0, 0, 31, 12)
    c.paint(outline(holder), "black")
    c.paint(holder, "grey")
    c.paint(holder - circle(C, 13.0, 7.0), "silver")
    # Capsule head: round top and bottom.
    head = circle(C, 8.0, 5.0) | circle(C, 13.0, 5.0) | rect(11, 8, 20, 13)
    inner = head - border(head)
    c.paint(border(head), "black")
    c.paint(inner, "silver")
    # Grille: symmetric about the centre line between columns 15 and 16.
    for y in (6, 9, 12, 15):
        c.paint({(x, y) for x in range(SIZE)} & inner, "grey")
    for x in (14, 17):
        c.paint({(x, y) for y in range(SIZE)} & inner, "grey")
    c.paint({(12, y) for y in (7, 8, 10, 11, 13, 14)} & inner, "white")
    return c


PICTURES = [
    ("icon", draw_icon),
    ("record", lambda: draw_record("red", "maroon")),
    ("record_grey", lambda: draw_record("grey", "grey")),
    ("stop", lambda: draw_stop("black")),
    ("stop_grey", lambda: draw_stop("grey")),
    ("play", lambda: draw_play("black")),
    ("play_grey", lambda: draw_play("grey")),
    ("pause", lambda: draw_pause("black")),
    ("pause_grey", lambda: draw_pause("grey")),
    ("settings", draw_settings),
    ("volume", draw_volume),
]


# --- output ----------------------------------------------------------------

def to_xpm(name, canvas):
    used = []
    for row in canvas.px:
        for colour in row:
            if colour not in used:
                used.append(colour)
    # Stable colour order keeps regenerated files diff-free.
    used.sort(key=lambda col: (col is not NONE, col or ""))
    chars = {NONE: NONE_CHAR}
    lines = ['"%d %d %d 1",' % (SIZE, SIZE, len(used))]
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


def require(ok, what):
    # Explicit raise so the check still runs under "python -O".
    if not ok:
        raise ValueError("bad picture: %s" % (what,))


def check_xpm(path):
    """Re-read a written file: 32x32, one char per pixel, VGA colours only."""
    text = open(path).read()
    strings = re.findall(r'"([^"]*)"', text)
    w, h, ncol, cpp = map(int, strings[0].split())
    require((w, h, cpp) == (SIZE, SIZE, 1), path)
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
    require(len(rows) == SIZE, path)
    require(all(len(r) == SIZE and set(r) <= keys for r in rows), path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, draw in PICTURES:
        path = os.path.join(here, name + ".xpm")
        with open(path, "w") as f:
            f.write(to_xpm(name, draw()))
        check_xpm(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
