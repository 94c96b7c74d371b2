#!/usr/bin/env python3
"""Generates app/spooler.ico, the spooler's window icon: a printer in front of
a Palm hand-held, with a sheet going into the printer.

Each size is drawn on its own pixel grid, because shapes scaled from one
drawing blur into each other. The 16, 32 and 48 pixel images are a few
rectangles each, placed by hand and checked in the preview. The 256 pixel
image (Explorer's large views, the setup program) is drawn with rounded
shapes at four times its size and averaged down, so its edges are smooth.

The .ico holds one 32-bit image per size. Up to 48 pixels: a
BITMAPINFOHEADER, the colour rows (blue, green, red, alpha) from the bottom
row up, then the 1-bit AND mask, also bottom-up with rows padded to 4 bytes.
Windows XP and later use the alpha channel; the mask is still required by
the format and is what older readers use, so it marks every fully
transparent pixel. The header's height counts both the colour rows and the
mask rows, so it is twice the image's. The 256 pixel image is a PNG file
instead, as Windows Vista and later expect at that size (a bitmap there
would take 256 KB); its directory entry gives 0 for the width and height,
which stands for 256. Windows XP skips it and uses the 48 pixel image.

The output depends on nothing but this file, so running it again gives the
same bytes.

Usage: python3 scripts/make_icon.py [output.ico] [--preview PNG]
       python3 scripts/make_icon.py --png SIZE FILE [--png SIZE FILE...]
    --png writes the large image alone at SIZE pixels as a PNG (the web
    page's icons, web/icon-192.png and web/icon-512.png), and no .ico.
    --preview also writes a PNG to look at: every image at real size and
    enlarged, over light, beige, blue and dark backgrounds.
"""

import os
import struct
import sys
import zlib

DEFAULT_OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                              "..", "app", "spooler.ico")

CLEAR = (0, 0, 0, 0)

OUTLINE = (38, 42, 50, 255)
PALM_BODY = (78, 90, 110, 255)
PALM_LIGHT = (118, 132, 155, 255)
PALM_BUTTON = (150, 162, 180, 255)
LCD = (176, 204, 150, 255)
LCD_INK = (64, 92, 56, 255)
PAPER = (255, 255, 255, 255)
PAPER_EDGE = (116, 122, 134, 255)
PAPER_INK = (80, 112, 176, 255)
PRINTER = (212, 216, 223, 255)
PRINTER_LIGHT = (242, 244, 247, 255)
PRINTER_SHADE = (156, 162, 174, 255)
SLOT = (48, 52, 60, 255)
LED = (48, 196, 80, 255)


def blankImage(size):
    return [[CLEAR] * size for _ in range(size)]


def fillBox(image, left, top, right, bottom, colour):
    """Fills the box whose corners are (left, top) and (right, bottom), both
    included."""
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            image[y][x] = colour


def outlinedBox(image, left, top, right, bottom, edge, fill, rounded):
    """A filled box with a one-pixel edge. rounded leaves the four corner
    pixels as they were, which is as round as a corner gets at these sizes
    and lets what lies behind show through them."""
    corners = ((left, top), (right, top), (left, bottom), (right, bottom))
    behind = [image[y][x] for x, y in corners]
    fillBox(image, left, top, right, bottom, edge)
    fillBox(image, left + 1, top + 1, right - 1, bottom - 1, fill)
    if rounded:
        for (x, y), pixel in zip(corners, behind):
            image[y][x] = pixel


def hline(image, left, right, y, colour):
    fillBox(image, left, y, right, y, colour)


def drawIcon32():
    image = blankImage(32)

    # The hand-held, standing behind the printer on the left.
    outlinedBox(image, 1, 1, 13, 27, OUTLINE, PALM_BODY, rounded=True)
    hline(image, 2, 12, 2, PALM_LIGHT)
    fillBox(image, 2, 2, 2, 26, PALM_LIGHT)
    outlinedBox(image, 3, 4, 11, 14, OUTLINE, LCD, rounded=False)
    for y, right in ((6, 9), (8, 8), (10, 9), (12, 7)):
        hline(image, 5, right, y, LCD_INK)
    fillBox(image, 3, 17, 4, 18, PALM_BUTTON)
    fillBox(image, 3, 21, 4, 22, PALM_BUTTON)

    # The sheet going into the printer, printed lines and all.
    outlinedBox(image, 15, 2, 27, 17, PAPER_EDGE, PAPER, rounded=False)
    for y, right in ((5, 25), (7, 23), (9, 25), (11, 24), (13, 21)):
        hline(image, 17, right, y, PAPER_INK)

    # The printer in front, with its output slot and a lit power lamp.
    outlinedBox(image, 6, 15, 30, 29, OUTLINE, PRINTER, rounded=True)
    hline(image, 7, 29, 16, PRINTER_LIGHT)
    fillBox(image, 7, 26, 29, 28, PRINTER_SHADE)
    hline(image, 13, 29, 15, OUTLINE)
    fillBox(image, 9, 20, 24, 21, SLOT)
    fillBox(image, 26, 20, 27, 21, LED)
    hline(image, 9, 24, 23, PRINTER_SHADE)
    return image


def drawIcon16():
    image = blankImage(16)

    # Too small for a bezel: the body itself frames the screen.
    outlinedBox(image, 0, 0, 7, 13, OUTLINE, PALM_BODY, rounded=True)
    fillBox(image, 1, 1, 1, 12, PALM_LIGHT)
    fillBox(image, 2, 2, 5, 6, LCD)
    hline(image, 3, 4, 3, LCD_INK)
    hline(image, 3, 5, 5, LCD_INK)
    image[9][2] = PALM_BUTTON
    image[11][2] = PALM_BUTTON

    outlinedBox(image, 8, 0, 14, 9, PAPER_EDGE, PAPER, rounded=False)
    hline(image, 10, 12, 2, PAPER_INK)
    hline(image, 10, 13, 4, PAPER_INK)
    hline(image, 10, 12, 6, PAPER_INK)

    outlinedBox(image, 3, 8, 15, 15, OUTLINE, PRINTER, rounded=True)
    hline(image, 4, 14, 9, PRINTER_LIGHT)
    hline(image, 4, 14, 14, PRINTER_SHADE)
    fillBox(image, 5, 11, 11, 11, SLOT)
    image[11][13] = LED
    return image


def drawIcon48():
    image = blankImage(48)

    outlinedBox(image, 2, 1, 20, 42, OUTLINE, PALM_BODY, rounded=True)
    hline(image, 3, 19, 2, PALM_LIGHT)
    fillBox(image, 3, 2, 3, 41, PALM_LIGHT)
    outlinedBox(image, 5, 5, 17, 21, OUTLINE, LCD, rounded=False)
    for y, right in ((8, 14), (10, 12), (12, 14), (14, 13), (16, 10), (18, 12)):
        hline(image, 8, right, y, LCD_INK)
    fillBox(image, 5, 26, 7, 28, PALM_BUTTON)
    fillBox(image, 5, 32, 7, 34, PALM_BUTTON)

    outlinedBox(image, 23, 3, 41, 26, PAPER_EDGE, PAPER, rounded=False)
    for y, right in ((6, 38), (9, 35), (12, 38), (15, 37), (18, 33), (21, 36)):
        hline(image, 26, right, y, PAPER_INK)

    outlinedBox(image, 9, 23, 46, 45, OUTLINE, PRINTER, rounded=True)
    hline(image, 10, 45, 24, PRINTER_LIGHT)
    fillBox(image, 10, 40, 45, 44, PRINTER_SHADE)
    fillBox(image, 14, 30, 36, 32, SLOT)
    fillBox(image, 39, 30, 41, 32, LED)
    hline(image, 14, 36, 35, PRINTER_SHADE)
    return image


# The 256 pixel image is drawn on a canvas SUPERSAMPLE times as large, in
# the image's own pixel units, then averaged down. The web page's larger and
# smaller icons are the same drawing on a canvas of their own size, still in
# 256ths of the image.
SUPERSAMPLE = 4


def roundedBox(canvas, left, top, right, bottom, radius, colour):
    """Fills the box from (left, top) to (right, bottom), in image pixels
    (right and bottom excluded), with corners of the given radius."""
    scale = len(canvas) / 256
    x0, y0, x1, y1 = (round(v * scale) for v in (left, top, right, bottom))
    r = radius * scale
    for y in range(y0, y1):
        # How far the corner arcs cut into this canvas row.
        dy = max(y0 + r - (y + 0.5), (y + 0.5) - (y1 - r), 0)
        inset = r - (max(r * r - dy * dy, 0)) ** 0.5 if dy > 0 else 0
        start, end = x0 + round(inset), x1 - round(inset)
        if start < end:
            canvas[y][start:end] = [colour] * (end - start)


def edgedBox(canvas, left, top, right, bottom, radius, edge, width, fill):
    roundedBox(canvas, left, top, right, bottom, radius, edge)
    roundedBox(canvas, left + width, top + width, right - width, bottom - width,
               max(radius - width, 0), fill)


def averagedDown(canvas, size):
    """Each image pixel is the mean of its SUPERSAMPLE x SUPERSAMPLE canvas
    pixels, weighted by alpha so that transparent ones add no colour."""
    scale = SUPERSAMPLE
    image = blankImage(size)
    for y in range(size):
        rows = canvas[y * scale:(y + 1) * scale]
        for x in range(size):
            red = green = blue = alpha = 0
            for row in rows:
                for r, g, b, a in row[x * scale:(x + 1) * scale]:
                    red += r * a
                    green += g * a
                    blue += b * a
                    alpha += a
            if alpha:
                image[y][x] = (red // alpha, green // alpha, blue // alpha,
                               alpha // (scale * scale))
    return image


def drawIcon256(size=256):
    canvas = [[CLEAR] * (size * SUPERSAMPLE) for _ in range(size * SUPERSAMPLE)]

    # The hand-held.
    edgedBox(canvas, 12, 6, 112, 228, 16, OUTLINE, 5, PALM_BODY)
    roundedBox(canvas, 17, 11, 27, 210, 8, PALM_LIGHT)
    edgedBox(canvas, 30, 28, 96, 118, 6, OUTLINE, 4, LCD)
    for y, right in ((44, 82), (58, 70), (72, 84), (86, 76), (100, 60)):
        roundedBox(canvas, 44, y, right, y + 6, 3, LCD_INK)
    for y in (136, 168):
        edgedBox(canvas, 30, y, 50, y + 20, 10, OUTLINE, 3, PALM_BUTTON)

    # The sheet going into the printer.
    edgedBox(canvas, 124, 14, 222, 150, 3, PAPER_EDGE, 4, PAPER)
    for y, right in ((36, 204), (54, 186), (72, 204), (90, 196), (108, 172)):
        roundedBox(canvas, 140, y, right, y + 7, 3, PAPER_INK)

    # The printer, its output slot with a sheet's edge in it, and the lamp.
    edgedBox(canvas, 48, 124, 250, 246, 14, OUTLINE, 6, PRINTER)
    roundedBox(canvas, 54, 130, 244, 142, 8, PRINTER_LIGHT)
    roundedBox(canvas, 54, 212, 244, 240, 8, PRINTER_SHADE)
    roundedBox(canvas, 72, 164, 200, 184, 4, SLOT)
    roundedBox(canvas, 80, 176, 192, 180, 1, PAPER)
    edgedBox(canvas, 214, 164, 232, 182, 9, OUTLINE, 3, LED)
    roundedBox(canvas, 72, 196, 200, 202, 3, PRINTER_SHADE)
    return averagedDown(canvas, size)


def iconImageBytes(image):
    """One image of the .ico: header, colour rows, AND mask."""
    size = len(image)
    colourRows = bytearray()
    for row in reversed(image):
        for red, green, blue, alpha in row:
            colourRows += bytes((blue, green, red, alpha))
    maskRowBytes = (size + 31) // 32 * 4
    maskRows = bytearray()
    for row in reversed(image):
        bits = bytearray(maskRowBytes)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        maskRows += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(colourRows) + len(maskRows), 0, 0, 0, 0)
    return header + colourRows + maskRows


def icoFileBytes(images):
    """ICONDIR, one ICONDIRENTRY per image, then the images in that order."""
    bodies = [pngBytes(image) if len(image) == 256 else iconImageBytes(image)
              for image in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for image, body in zip(images, bodies):
        size = len(image)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                           len(body), offset)
        offset += len(body)
    for body in bodies:
        out += body
    return bytes(out)


def pngBytes(pixels):
    """A plain 8-bit PNG of rows of (red, green, blue) tuples, or of (red,
    green, blue, alpha) ones."""
    height, width = len(pixels), len(pixels[0])
    colourType = 6 if len(pixels[0][0]) == 4 else 2
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colourType, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def previewPixels(images):
    """Each background strip shows every image at real size, then enlarged to
    256 pixels, over that background."""
    backgrounds = ((255, 255, 255), (236, 233, 216), (58, 110, 165), (40, 40, 40))
    gap, big = 8, 256
    width = gap + sum(len(image) + gap for image in images) + sum(big + gap for _ in images)
    stripHeight = big + 2 * gap
    pixels = []
    for background in backgrounds:
        strip = [[background] * width for _ in range(stripHeight)]
        x = gap
        for image in images:
            pasteScaled(strip, image, x, gap, 1, background)
            x += len(image) + gap
        for image in images:
            pasteScaled(strip, image, x, gap, big // len(image), background)
            x += big + gap
        pixels += strip
    return pixels


def pasteScaled(canvas, image, left, top, scale, background):
    for y, row in enumerate(image):
        for x, (red, green, blue, alpha) in enumerate(row):
            blended = tuple((c * alpha + b * (255 - alpha)) // 255
                            for c, b in zip((red, green, blue), background))
            for dy in range(scale):
                canvasRow = canvas[top + y * scale + dy]
                for dx in range(scale):
                    canvasRow[left + x * scale + dx] = blended


def main(argv):
    output, preview, pngs = DEFAULT_OUTPUT, None, []
    args = list(argv)
    while args:
        arg = args.pop(0)
        if arg == "--preview" and args:
            preview = args.pop(0)
        elif arg == "--png" and len(args) >= 2 and args[0].isdigit():
            pngs.append((int(args.pop(0)), args.pop(0)))
        elif arg.startswith("-"):
            sys.stderr.write(__doc__)
            return 2
        else:
            output = arg

    if pngs:
        for size, path in pngs:
            with open(path, "wb") as f:
                f.write(pngBytes(drawIcon256(size)))
        return 0
    images = [drawIcon16(), drawIcon32(), drawIcon48(), drawIcon256()]
    with open(output, "wb") as f:
        f.write(icoFileBytes(images))
    if preview:
        with open(preview, "wb") as f:
            f.write(pngBytes(previewPixels(images)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
