// The monospaced bitmap font of the software surface.
//
// GDI draws job text in Courier; tests, tools and non-Windows builds draw into
// an in-memory 1-bit bitmap instead and need a font that travels with the
// code. This is the public-domain X11 misc-fixed 9x15 font, one glyph per
// CP1252 byte, each in the same fixed cell so a text column is a pixel column
// times the cell width. The glyphs are generated into mono_font_glyphs.inc by
// scripts/make_font_table.py.
//
// Bytes that print nothing are blank rather than a box: job text carries tabs,
// line ends and stray control bytes, and neither those nor the five bytes
// CP1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) should leave marks
// on the page. Space and the no-break space 0xA0 are blank as well.
#ifndef FERNQUILL_RENDER_MONO_FONT_H
#define FERNQUILL_RENDER_MONO_FONT_H

// The cell at the font's native size, in pixels. A text line is
// monoFontCellHeight rows; the baseline lies under row monoFontCellAscent - 1,
// so rows from monoFontCellAscent down hold only descenders.
const int monoFontCellWidth = 9;
const int monoFontCellHeight = 15;
const int monoFontCellAscent = 12;

// Row stride of a glyph: each row padded to whole bytes.
const int monoFontBytesPerRow = (monoFontCellWidth + 7) / 8;

// The glyph for a CP1252 byte: monoFontCellHeight rows, top row first, of
// monoFontBytesPerRow bytes each; the leftmost pixel is the most significant
// bit of a row's first byte and the padding bits past the cell width are 0.
// Never nullptr: a byte that prints nothing gets an all-zero glyph.
const unsigned char* monoFontGlyph(unsigned char character);

// Whether pixel (column, row) of the character's glyph is inked, with (0, 0)
// the top-left of the cell. Anything outside the cell is not inked, so a
// scaling surface may map its pixels back into the cell without clamping.
bool monoFontPixel(unsigned char character, int column, int row);

#endif
