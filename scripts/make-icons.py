#!/usr/bin/env python3
"""Writes the simple 16x16 32-bit icons the menus load at run time into images/, and the
program's own icon (16x16 and 32x32) into app/ for its resources."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "images")


def ico(*images):
    """images: square pictures, each rows (top first) of (r, g, b, a) tuples -> bytes of a .ico file."""
    blobs = []
    for pixels in images:
        n = len(pixels)
        rows = []
        for row in reversed(pixels):  # bottom-up DIB
            rows.append(b"".join(struct.pack("<BBBB", b, g, r, a) for (r, g, b, a) in row))
        xor = b"".join(rows)
        and_mask = b"\x00" * (((n + 31) // 32) * 4 * n)  # rows 32-bit aligned; alpha decides
        header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
        blobs.append((n, header + xor + and_mask))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for n, blob in blobs:
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, blob in blobs)


def canvas(n=16):
    return [[(0, 0, 0, 0)] * n for _ in range(n)]


def rect(p, x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            p[y][x] = c


def disc(p, cx, cy, r, c):
    for y in range(16):
        for x in range(16):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                p[y][x] = c


def folder():
    p = canvas()
    rect(p, 1, 3, 6, 4, (200, 150, 40, 255))
    rect(p, 1, 5, 14, 13, (240, 190, 60, 255))
    return p


def favorites():
    p = canvas()
    star = ["       #        ", "       #        ", "      ###       ", "      ###       ",
            " ############## ", "  ############  ", "   ##########   ", "    ########    ",
            "    ########    ", "   ####  ####   ", "   ###    ###   ", "  ##        ##  "]
    for y, line in enumerate(star):
        for x, ch in enumerate(line):
            if ch == "#":
                p[y + 2][x] = (250, 200, 30, 255)
    return p


def crossing():
    p = canvas()
    for i in range(2, 14):
        for d in (0, 1):
            p[i][min(15, i + d)] = (210, 30, 30, 255)
            p[i][max(0, 15 - i - d)] = (210, 30, 30, 255)
    return p


def checkmark():
    p = canvas()
    pts = [(3, 8), (4, 9), (5, 10), (6, 11), (7, 10), (8, 9), (9, 8), (10, 7), (11, 6), (12, 5), (13, 4)]
    for x, y in pts:
        for dy in (0, 1, 2):
            p[y + dy - 1][x] = (20, 20, 20, 255)
    return p


def badge(colour, letter_rows=None):
    p = canvas()
    disc(p, 8, 8, 7, colour + (255,))
    if letter_rows:
        for y, line in enumerate(letter_rows):
            for x, ch in enumerate(line):
                if ch == "#":
                    p[y + 5][x + 5] = (255, 255, 255, 255)
    return p


def envelope():
    p = canvas()
    rect(p, 1, 4, 14, 12, (240, 240, 230, 255))
    for i in range(7):
        p[4 + i // 2 + (i % 2)][1 + i] = (90, 90, 90, 255)
        p[4 + i // 2 + (i % 2)][14 - i] = (90, 90, 90, 255)
    return p


LETTER = {
    "T": ["######", "  ##  ", "  ##  ", "  ##  ", "  ##  ", "  ##  "],
    "F": ["######", "##    ", "####  ", "##    ", "##    ", "##    "],
    "E": ["######", "##    ", "####  ", "##    ", "##    ", "######"],
    "W": ["#    #", "#    #", "# ## #", "# ## #", "##  ##", "#    #"],
    "G": [" #### ", "##    ", "## ###", "##  ##", "##  ##", " #### "],
    "Y": ["##  ##", "##  ##", " #### ", "  ##  ", "  ##  ", "  ##  "],
    "L": ["##    ", "##    ", "##    ", "##    ", "##    ", "######"],
    "S": [" #####", "##    ", " #### ", "    ##", "    ##", "##### "],
    "H": ["##  ##", "##  ##", "######", "##  ##", "##  ##", "##  ##"],
    "R": ["##### ", "##  ##", "##### ", "## ## ", "##  ##", "##  ##"],
    "O": [" #### ", "##  ##", "##  ##", "##  ##", "##  ##", " #### "],
    "U": ["##  ##", "##  ##", "##  ##", "##  ##", "##  ##", " #### "],
}

BAR_COLOURS = [(230, 80, 60), (240, 170, 40), (120, 190, 60), (60, 150, 220),
               (140, 90, 200), (220, 90, 160), (60, 180, 170), (150, 150, 150)]


def program(n):
    """The bar with its eight coloured buttons across the top and a menu open below it."""
    p = canvas(n)
    u = n // 16
    rect(p, 0, 0, n - 1, n - 1, (40, 44, 52, 255))
    for i, colour in enumerate(BAR_COLOURS):
        rect(p, 2 * i * u, u, (2 * i + 2) * u - 1, 4 * u - 1, colour + (255,))
    rect(p, 2 * u, 5 * u, 9 * u - 1, 14 * u - 1, (235, 235, 225, 255))
    for row in (6, 8, 10, 12):
        rect(p, 3 * u, row * u, 8 * u - 1, row * u + u - 1, (90, 110, 150, 255))
    return p


ICONS = {
    "folder.ico": folder(),
    "favorites.ico": favorites(),
    "crossing.ico": crossing(),
    "checkmark.ico": checkmark(),
    "tc.ico": badge((230, 200, 40), LETTER["T"]),
    "ff.ico": badge((230, 110, 20), LETTER["F"]),
    "ie.ico": badge((30, 110, 210), LETTER["E"]),
    "envelope.ico": envelope(),
    "winver.ico": badge((60, 60, 160), LETTER["W"]),
    "internet/googlecom.ico": badge((66, 133, 244), LETTER["G"]),
    "internet/yahoocom.ico": badge((96, 1, 210), LETTER["Y"]),
    "internet/wikipediacom.ico": badge((120, 120, 120), LETTER["W"]),
    "system/logoff.ico": badge((40, 140, 200), LETTER["O"]),
    "system/lock.ico": badge((200, 160, 40), LETTER["L"]),
    "system/switch_user.ico": badge((60, 170, 90), LETTER["U"]),
    "system/sleep.ico": badge((90, 90, 200), LETTER["S"]),
    "system/hibernate.ico": badge((80, 160, 170), LETTER["H"]),
    "system/restart.ico": badge((220, 140, 30), LETTER["R"]),
    "system/shutdown.ico": badge((200, 40, 40), LETTER["O"]),
}

if __name__ == "__main__":
    for name, pixels in ICONS.items():
        path = os.path.join(ROOT, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(ico(pixels))
    with open(os.path.join(ROOT, "..", "app", "orvane.ico"), "wb") as f:
        f.write(ico(program(16), program(32)))
