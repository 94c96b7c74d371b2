#!/usr/bin/env python3
"""Generates render/mono_font_glyphs.inc, the bitmap font of the software surface.

The glyphs come from the misc-fixed 9x15 font that Debian's xfonts-base
package installs as a compiled X11 font (PCF, gzipped). We read the PCF file
directly so the only tool needed is python3 itself.

How PCF is laid out (as the X server and FreeType read it): a table of
contents, then tables of properties, glyph metrics, glyph bitmaps and an
encoding map from character code to glyph index. Every table starts with its
own format word, always stored little-endian; the format says the byte order
of the rest of that table and, for bitmaps, the bit order, row padding and
the scan unit the bytes were swapped in.

Each CP1252 byte is decoded to Unicode with Python's own cp1252 codec (it
refuses exactly the five bytes CP1252 leaves undefined) and that code point's
glyph is placed in the font's character cell at the baseline. Control codes
and undefined bytes stay blank, because text carries tabs and stray control
bytes that must not print as marks.

Usage: make_font_table.py [font.pcf.gz] [output.inc]
"""

import gzip
import os
import struct
import sys
import unicodedata

DEFAULT_FONT = "/usr/share/fonts/X11/misc/9x15.pcf.gz"
DEFAULT_OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                              "..", "render", "mono_font_glyphs.inc")
PACKAGE = "xfonts-base (Debian), upstream X.Org font-misc-misc"

PCF_PROPERTIES = 1 << 0
PCF_ACCELERATORS = 1 << 1
PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5
PCF_BDF_ACCELERATORS = 1 << 8

PCF_COMPRESSED_METRICS = 0x100
PCF_BYTE_ORDER_MSB = 1 << 2
PCF_BIT_ORDER_MSB = 1 << 3

NO_GLYPH = 0xFFFF

# Stand-ins used only when the font has no glyph for a CP1252 character.
# Letters with marks fall back to their base letter through Unicode
# decomposition; these cover the punctuation that has no decomposition.
ASCII_STAND_INS = {
    0x20AC: "E", 0x201A: ",", 0x0192: "f", 0x201E: '"', 0x2026: ".",
    0x2020: "+", 0x2021: "+", 0x02C6: "^", 0x2030: "%", 0x2039: "<",
    0x0152: "O", 0x2018: "'", 0x2019: "'", 0x201C: '"', 0x201D: '"',
    0x2022: "*", 0x2013: "-", 0x2014: "-", 0x02DC: "~", 0x2122: "T",
    0x203A: ">", 0x0153: "o", 0x00A0: " ",
}


class Table:
    """One PCF table: its bytes and the struct prefix for its byte order."""

    def __init__(self, data, offset):
        self.data = data
        self.format = struct.unpack_from("<I", data, offset)[0]
        self.order = ">" if self.format & PCF_BYTE_ORDER_MSB else "<"
        self.offset = offset + 4

    def read(self, code, offset):
        return struct.unpack_from(self.order + code, self.data, offset)


def table_offsets(data):
    """Maps each PCF table type to its start in the file."""
    if data[:4] != b"\x01fcp":
        sys.exit("not a PCF font file")
    (count,) = struct.unpack_from("<I", data, 4)
    tables = {}
    for index in range(count):
        kind, _format, _size, offset = struct.unpack_from("<IIII", data, 8 + 16 * index)
        tables[kind] = offset
    if PCF_BDF_ACCELERATORS not in tables and PCF_ACCELERATORS in tables:
        tables[PCF_BDF_ACCELERATORS] = tables[PCF_ACCELERATORS]
    for kind in (PCF_PROPERTIES, PCF_BDF_ACCELERATORS, PCF_METRICS, PCF_BITMAPS,
                 PCF_BDF_ENCODINGS):
        if kind not in tables:
            sys.exit("PCF file lacks table type %d" % kind)
    return tables


def read_font_extent(data, offset):
    """The font's ascent and descent, which fix the line height.

    Not every font carries FONT_ASCENT/FONT_DESCENT properties, so they come
    from the accelerator table: eight flag bytes, then ascent and descent.
    """
    table = Table(data, offset)
    return table.read("ii", table.offset + 8)


def read_properties(data, offset):
    """The font's properties (FONT_ASCENT, COPYRIGHT, ...) as a dict."""
    table = Table(data, offset)
    (count,) = table.read("i", table.offset)
    entries = table.offset + 4
    strings = entries + 9 * count + (4 - count % 4) % 4 + 4
    properties = {}
    for index in range(count):
        name_at, is_string, value = table.read("ibi", entries + 9 * index)
        name = read_c_string(data, strings + name_at)
        properties[name] = read_c_string(data, strings + value) if is_string else value
    return properties


def read_c_string(data, offset):
    end = data.index(b"\0", offset)
    return data[offset:end].decode("latin-1")


def read_metrics(data, offset):
    """Per glyph (left bearing, right bearing, width, ascent, descent)."""
    table = Table(data, offset)
    metrics = []
    if table.format & PCF_COMPRESSED_METRICS:
        (count,) = table.read("h", table.offset)
        for index in range(count):
            fields = struct.unpack_from("5B", data, table.offset + 2 + 5 * index)
            metrics.append(tuple(field - 0x80 for field in fields))
    else:
        (count,) = table.read("i", table.offset)
        for index in range(count):
            metrics.append(table.read("5h", table.offset + 4 + 12 * index))
    return metrics


def read_bitmaps(data, offset, metrics):
    """Per glyph its rows as integers, leftmost pixel in the highest bit."""
    table = Table(data, offset)
    (count,) = table.read("i", table.offset)
    starts = table.read("%di" % count, table.offset + 4)
    bits = table.offset + 4 + 4 * count + 16
    row_pad = 1 << (table.format & 3)
    scan_unit = 1 << ((table.format >> 4) & 3)
    glyphs = []
    for index in range(count):
        left, right, _width, ascent, descent = metrics[index]
        width = right - left
        row_bytes = (width + 7) // 8
        stride = (row_bytes + row_pad - 1) // row_pad * row_pad
        start = bits + starts[index]
        raw = normalise_bit_order(bytearray(data[start:start + stride * (ascent + descent)]),
                                  table.format, scan_unit)
        rows = []
        for row in range(ascent + descent):
            value = int.from_bytes(raw[row * stride:row * stride + row_bytes], "big")
            rows.append(value >> (row_bytes * 8 - width))
        glyphs.append(rows)
    return glyphs


def normalise_bit_order(raw, format_word, scan_unit):
    """Reorders bitmap bytes to most significant bit and byte first.

    The font compiler stores bitmaps in the bit order of the machine it ran
    on and swaps bytes within each scan unit when byte and bit order differ.
    """
    if not format_word & PCF_BIT_ORDER_MSB:
        raw = bytearray(int("{:08b}".format(byte)[::-1], 2) for byte in raw)
    msb_bytes = bool(format_word & PCF_BYTE_ORDER_MSB)
    msb_bits = bool(format_word & PCF_BIT_ORDER_MSB)
    if msb_bytes != msb_bits and scan_unit > 1:
        for at in range(0, len(raw) - scan_unit + 1, scan_unit):
            raw[at:at + scan_unit] = raw[at:at + scan_unit][::-1]
    return raw


def read_encoding(data, offset):
    """Maps a character code (here a Unicode code point) to a glyph index."""
    table = Table(data, offset)
    first2, last2, first1, last1, _default = table.read("5h", table.offset)
    columns = last2 - first2 + 1
    count = columns * (last1 - first1 + 1)
    indices = table.read("%dH" % count, table.offset + 10)
    encoding = {}
    for position, glyph in enumerate(indices):
        if glyph != NO_GLYPH:
            code = ((first1 + position // columns) << 8) | (first2 + position % columns)
            encoding[code] = glyph
    return encoding


def load_font(path):
    with gzip.open(path, "rb") if path.endswith(".gz") else open(path, "rb") as file:
        data = file.read()
    tables = table_offsets(data)
    metrics = read_metrics(data, tables[PCF_METRICS])
    ascent, descent = read_font_extent(data, tables[PCF_BDF_ACCELERATORS])
    return {
        "ascent": ascent,
        "descent": descent,
        "properties": read_properties(data, tables[PCF_PROPERTIES]),
        "metrics": metrics,
        "bitmaps": read_bitmaps(data, tables[PCF_BITMAPS], metrics),
        "encoding": read_encoding(data, tables[PCF_BDF_ENCODINGS]),
    }


def cp1252_character(byte):
    """The Unicode character for a CP1252 byte, or None if it prints nothing."""
    try:
        character = bytes([byte]).decode("cp1252")
    except UnicodeDecodeError:
        return None
    if unicodedata.category(character) == "Cc":
        return None
    return character


def stand_in(character):
    """The character drawn when the font lacks one: base letter or ASCII."""
    base = unicodedata.normalize("NFKD", character)[:1]
    if base and base != character and ord(base) < 0x80:
        return base
    return ASCII_STAND_INS.get(ord(character))


def cell_rows(font, glyph, cell_width, ascent, height):
    """Places a glyph in the cell at the baseline; rows as cell-wide integers.

    Returns the rows and whether ink fell outside the cell and was clipped.
    """
    left, right, _width, glyph_ascent, _descent = font["metrics"][glyph]
    rows = [0] * height
    clipped = False
    for index, bits in enumerate(font["bitmaps"][glyph]):
        row = ascent - glyph_ascent + index
        shift = cell_width - right
        placed = (bits << shift) if shift >= 0 else (bits >> -shift)
        if bits and (row < 0 or row >= height or left < 0 or shift < 0):
            clipped = True
        if 0 <= row < height:
            rows[row] = placed & ((1 << cell_width) - 1)
    return rows, clipped


def build_table(font, cell_width, ascent, height):
    """The 256 CP1252 glyphs, each (rows, note for the comment) or None."""
    glyphs = []
    substitutions = []
    for byte in range(256):
        character = cp1252_character(byte)
        if character is None:
            glyphs.append(None)
            continue
        note = "U+%04X" % ord(character)
        source = character
        if ord(source) not in font["encoding"]:
            source = stand_in(character)
            if source is None or ord(source) not in font["encoding"]:
                sys.exit("no glyph or stand-in for CP1252 0x%02X (%s)" % (byte, note))
            note += " (font lacks it: drawn as U+%04X)" % ord(source)
            substitutions.append("0x%02X %s -> U+%04X" % (byte, "U+%04X" % ord(character), ord(source)))
        rows, clipped = cell_rows(font, font["encoding"][ord(source)], cell_width, ascent, height)
        if clipped:
            note += " (clipped to the cell)"
        glyphs.append((rows, note))
    return glyphs, substitutions


def printable_name(byte, note):
    """The comment naming a glyph; kept ASCII so any compiler reads the file."""
    character = cp1252_character(byte)
    name = unicodedata.name(character, "")
    if 0x20 < ord(character) < 0x7F:
        name = "'%s' %s" % (character, name)
    return "0x%02X %s %s" % (byte, note, name)


def header_comment(font_path, properties, cell_width, height, ascent, substitutions):
    lines = [
        "// Generated by scripts/make_font_table.py -- do not edit; rerun the script.",
        "//",
        "// Glyphs of the monospaced font that the software surface draws text with,",
        "// indexed by CP1252 byte.",
        "//",
        "// Source: %s," % PACKAGE,
        "// file %s," % os.path.basename(font_path),
        "// X font name %s." % properties.get("FONT", "?"),
        "// Licence: public domain, as upstream's COPYING for font-misc-misc (quoted",
        "// in /usr/share/doc/xfonts-base/copyright) and the font's own notice",
        "// properties say:",
    ]
    for name in ("COPYRIGHT", "_XFREE86_COPYRIGHT", "NOTICE"):
        if isinstance(properties.get(name), str):
            lines.append("//   %s: %s" % (name, properties[name]))
    lines += [
        "//",
        "// Cell %d x %d pixels, baseline %d rows from the top. Each glyph is %d rows"
        % (cell_width, height, ascent, height),
        "// of %d bytes, leftmost pixel in the most significant bit of the first byte."
        % ((cell_width + 7) // 8),
        "// Control codes (0x00-0x1F, 0x7F) and the bytes CP1252 leaves undefined",
        "// (0x81, 0x8D, 0x8F, 0x90, 0x9D) are blank; so are space and 0xA0.",
    ]
    if substitutions:
        lines.append("// Characters the font lacks, drawn with a stand-in glyph:")
        lines += ["//   " + line for line in substitutions]
    else:
        lines.append("// The font has a glyph of its own for every printable CP1252 character.")
    return lines


def write_table(output_path, font_path, font, glyphs, substitutions, cell_width, height, ascent):
    row_bytes = (cell_width + 7) // 8
    lines = header_comment(font_path, font["properties"], cell_width, height, ascent, substitutions)
    lines += [
        "",
        "const int generatedCellWidth = %d;" % cell_width,
        "const int generatedCellHeight = %d;" % height,
        "const int generatedCellAscent = %d;" % ascent,
        "const int generatedBytesPerRow = %d;" % row_bytes,
        "",
        "const unsigned char generatedGlyphs[256][%d] = {" % (height * row_bytes),
    ]
    for byte, glyph in enumerate(glyphs):
        if glyph is None:
            lines.append("    { 0 }, // 0x%02X control or undefined: blank" % byte)
            continue
        if not any(glyph[0]):
            lines.append("    { 0 }, // %s: blank" % printable_name(byte, glyph[1]))
            continue
        rows, note = glyph
        lines.append("    { // %s" % printable_name(byte, note))
        for row in rows:
            padded = row << (row_bytes * 8 - cell_width)
            values = ", ".join("0x%02X" % b for b in padded.to_bytes(row_bytes, "big"))
            art = "".join("#" if row >> (cell_width - 1 - x) & 1 else "." for x in range(cell_width))
            lines.append("        %s, // %s" % (values, art))
        lines.append("    },")
    lines.append("};")
    with open(output_path, "w", encoding="ascii", newline="\n") as file:
        file.write("\n".join(lines) + "\n")


def main():
    font_path = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_FONT
    output_path = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_OUTPUT
    font = load_font(font_path)
    ascent = font["ascent"]
    height = ascent + font["descent"]
    # A character-cell font: every glyph advances by the same width.
    widths = {metric[2] for metric in font["metrics"]}
    if len(widths) != 1:
        sys.exit("not a fixed-width font: advance widths %s" % sorted(widths))
    cell_width = widths.pop()
    glyphs, substitutions = build_table(font, cell_width, ascent, height)
    write_table(output_path, font_path, font, glyphs, substitutions, cell_width, height, ascent)
    print("wrote %s: cell %dx%d, ascent %d, %d stand-ins"
          % (output_path, cell_width, height, ascent, len(substitutions)))


if __name__ == "__main__":
    main()
