// The glyph table is generated; this file only looks glyphs up in it. The
// generated dimensions are checked against the header's, so regenerating from
// a font with another cell fails the build until the header follows.
#include "render/mono_font.h"

#include "render/mono_font_glyphs.inc"

static_assert(generatedCellWidth == monoFontCellWidth, "regenerated font: update mono_font.h");
static_assert(generatedCellHeight == monoFontCellHeight, "regenerated font: update mono_font.h");
static_assert(generatedCellAscent == monoFontCellAscent, "regenerated font: update mono_font.h");
static_assert(generatedBytesPerRow == monoFontBytesPerRow, "regenerated font: update mono_font.h");

const unsigned char* monoFontGlyph(unsigned char character)
{
    return generatedGlyphs[character];
}

bool monoFontPixel(unsigned char character, int column, int row)
{
    if (column < 0 || column >= monoFontCellWidth || row < 0 || row >= monoFontCellHeight) {
        return false;
    }
    unsigned char bits = generatedGlyphs[character][row * monoFontBytesPerRow + column / 8];
    return (bits >> (7 - column % 8)) & 1;
}
