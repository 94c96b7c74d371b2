// The software surface's font: which CP1252 bytes draw ink, that the glyphs
// tell similar characters apart, where they sit against the baseline, and
// that the two ways of reading a glyph agree.
#include "render/mono_font.h"
#include "tests/pixels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const unsigned char undefinedBytes[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

bool isUndefined(int character)
{
    for (unsigned char undefined : undefinedBytes) {
        if (character == undefined) {
            return true;
        }
    }
    return false;
}

bool sameGlyph(unsigned char first, unsigned char second)
{
    return std::memcmp(monoFontGlyph(first), monoFontGlyph(second),
                       monoFontCellHeight * monoFontBytesPerRow) == 0;
}

// Inked rows from the top: the first and the last, or -1 for a blank glyph.
int firstInkedRow(unsigned char character)
{
    for (int row = 0; row < monoFontCellHeight; ++row) {
        for (int column = 0; column < monoFontCellWidth; ++column) {
            if (monoFontPixel(character, column, row)) {
                return row;
            }
        }
    }
    return -1;
}

int lastInkedRow(unsigned char character)
{
    for (int row = monoFontCellHeight - 1; row >= 0; --row) {
        for (int column = 0; column < monoFontCellWidth; ++column) {
            if (monoFontPixel(character, column, row)) {
                return row;
            }
        }
    }
    return -1;
}

std::string hexByte(int character)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", character);
    return text;
}

TEST(MonoFontInk, EveryDefinedPrintableCharacterIsInked)
{
    for (int character = 0x21; character <= 0xFF; ++character) {
        if (character == 0x7F || isUndefined(character) || character == 0xA0) {
            continue;
        }
        EXPECT_GT(glyphBlackPixels(static_cast<unsigned char>(character)), 0) << hexByte(character);
    }
}

TEST(MonoFontInk, SpacesAreBlank)
{
    EXPECT_EQ(glyphBlackPixels(' '), 0);
    EXPECT_EQ(glyphBlackPixels(0xA0), 0);
}

TEST(MonoFontInk, ControlBytesAreBlank)
{
    for (int character = 0x00; character < 0x20; ++character) {
        EXPECT_EQ(glyphBlackPixels(static_cast<unsigned char>(character)), 0) << hexByte(character);
    }
    EXPECT_EQ(glyphBlackPixels(0x7F), 0);
}

TEST(MonoFontInk, BytesUndefinedInCp1252AreBlank)
{
    for (unsigned char character : undefinedBytes) {
        EXPECT_EQ(glyphBlackPixels(character), 0) << hexByte(character);
    }
}

// Every blank glyph is all zero bytes, padding included, so a surface that
// copies whole bytes of a row draws nothing for it either.
TEST(MonoFontInk, BlankGlyphsAreAllZeroBytes)
{
    const unsigned char blankBytes[] = {0x00, 0x09, 0x0A, 0x0D, 0x20, 0x7F, 0x81, 0x9D, 0xA0};
    for (unsigned char character : blankBytes) {
        const unsigned char* glyph = monoFontGlyph(character);
        ASSERT_NE(glyph, nullptr);
        for (int index = 0; index < monoFontCellHeight * monoFontBytesPerRow; ++index) {
            EXPECT_EQ(glyph[index], 0) << hexByte(character) << " byte " << index;
        }
    }
}

// No two letters or digits share a glyph: a table filled from the wrong code
// points, or a stand-in used for many, would repeat one.
TEST(MonoFontShapes, LettersAndDigitsAreAllDifferent)
{
    std::vector<unsigned char> characters;
    for (unsigned char character = 'A'; character <= 'Z'; ++character) {
        characters.push_back(character);
        characters.push_back(static_cast<unsigned char>(character - 'A' + 'a'));
    }
    for (unsigned char character = '0'; character <= '9'; ++character) {
        characters.push_back(character);
    }
    for (size_t first = 0; first < characters.size(); ++first) {
        for (size_t second = first + 1; second < characters.size(); ++second) {
            EXPECT_FALSE(sameGlyph(characters[first], characters[second]))
                << characters[first] << " and " << characters[second];
        }
    }
}

struct ConfusablePair {
    unsigned char first;
    unsigned char second;
};

class MonoFontConfusables : public ::testing::TestWithParam<ConfusablePair> {};

// Characters a poor font or a careless fallback would draw alike: the
// accented letters must not lose their accents, the typographic quotes and
// the em dash must not collapse to their ASCII look-alikes.
TEST_P(MonoFontConfusables, DrawDifferently)
{
    ConfusablePair pair = GetParam();
    EXPECT_FALSE(sameGlyph(pair.first, pair.second))
        << hexByte(pair.first) << " and " << hexByte(pair.second);
}

INSTANTIATE_TEST_SUITE_P(
    Cp1252, MonoFontConfusables,
    ::testing::Values(
        ConfusablePair{'l', 'i'}, ConfusablePair{'l', '1'}, ConfusablePair{'I', 'l'},
        ConfusablePair{'I', '|'}, ConfusablePair{'O', '0'}, ConfusablePair{'S', '5'},
        ConfusablePair{0xE9, 'e'},   // e acute
        ConfusablePair{0xE8, 0xE9},  // e grave, e acute
        ConfusablePair{0xC9, 'E'},   // E acute
        ConfusablePair{0xFC, 'u'},   // u diaeresis
        ConfusablePair{0xDF, 'B'},   // sharp s
        ConfusablePair{0x8A, 'S'},   // S caron
        ConfusablePair{0x9A, 's'},   // s caron
        ConfusablePair{0x8E, 'Z'},   // Z caron
        ConfusablePair{0x9F, 'Y'},   // Y diaeresis
        ConfusablePair{0x80, 'E'},   // euro sign
        ConfusablePair{0x80, 'C'},
        ConfusablePair{0x83, 'f'},   // f hook
        ConfusablePair{0x8C, 'O'},   // OE ligature
        ConfusablePair{0x91, '\''},  // left single quote
        ConfusablePair{0x92, '\''},  // right single quote
        ConfusablePair{0x91, 0x92},
        ConfusablePair{0x93, '"'},   // left double quote
        ConfusablePair{0x93, 0x94},
        ConfusablePair{0x82, ','},   // low single quote
        ConfusablePair{0x97, '-'},   // em dash (this font draws the en dash as '-')
        ConfusablePair{0x97, 0x96},  // em dash, en dash
        ConfusablePair{0x85, '.'},   // ellipsis
        ConfusablePair{0x99, 'T'},   // trade mark
        ConfusablePair{0x8B, '<'},   // single angle quotes
        ConfusablePair{0x9B, '>'},
        ConfusablePair{0xAB, '<'},   // double angle quotes
        ConfusablePair{0xB0, 'o'},   // degree
        ConfusablePair{0xD7, 'x'},   // multiplication sign
        ConfusablePair{0xAD, '-'}));  // soft hyphen keeps its own glyph

// Glyphs sit on the baseline the header promises: capitals and digits end
// on the row above it, descenders go below it, and capital accents rise
// above the plain capital.
TEST(MonoFontPlacement, CapitalsAndDigitsRestOnTheBaseline)
{
    const char* resting = "AEHMXZ0123456789";
    for (const char* character = resting; *character != '\0'; ++character) {
        EXPECT_EQ(lastInkedRow(static_cast<unsigned char>(*character)), monoFontCellAscent - 1)
            << *character;
    }
}

TEST(MonoFontPlacement, DescendersReachBelowTheBaseline)
{
    const char* descending = "gjpqy";
    for (const char* character = descending; *character != '\0'; ++character) {
        EXPECT_GE(lastInkedRow(static_cast<unsigned char>(*character)), monoFontCellAscent)
            << *character;
    }
}

TEST(MonoFontPlacement, CapitalAccentsRiseAboveTheCapital)
{
    EXPECT_LT(firstInkedRow(0xC9), firstInkedRow('E'));  // E acute
    EXPECT_LT(firstInkedRow(0x8A), firstInkedRow('S'));  // S caron
    EXPECT_LT(firstInkedRow(0xC5), firstInkedRow('A'));  // A ring
}

// Left is the most significant bit: 'b' and 'p' have their stems on the
// left, 'd' and 'q' on the right. A mirrored table would swap them.
TEST(MonoFontPlacement, GlyphsAreNotMirrored)
{
    const int ascenderRow = firstInkedRow('b');
    const int descenderRow = lastInkedRow('p');
    ASSERT_GE(ascenderRow, 0);
    ASSERT_GE(descenderRow, monoFontCellAscent);
    for (int column = 0; column < monoFontCellWidth; ++column) {
        const bool leftHalf = column < monoFontCellWidth / 2;
        if (monoFontPixel('b', column, ascenderRow)) {
            EXPECT_TRUE(leftHalf) << "b column " << column;
        }
        if (monoFontPixel('d', column, ascenderRow)) {
            EXPECT_FALSE(leftHalf) << "d column " << column;
        }
        if (monoFontPixel('p', column, descenderRow)) {
            EXPECT_TRUE(leftHalf) << "p column " << column;
        }
        if (monoFontPixel('q', column, descenderRow)) {
            EXPECT_FALSE(leftHalf) << "q column " << column;
        }
    }
    EXPECT_GT(glyphBlackPixels('b'), 0);
    EXPECT_EQ(firstInkedRow('d'), ascenderRow);
}

// The surface may read whole glyph rows or single pixels; both must see the
// same picture, and the row padding past the cell width must stay clear.
TEST(MonoFontReading, GlyphBytesMatchPixels)
{
    for (int character = 0; character <= 0xFF; ++character) {
        const unsigned char* glyph = monoFontGlyph(static_cast<unsigned char>(character));
        for (int row = 0; row < monoFontCellHeight; ++row) {
            const unsigned char* rowBytes = glyph + row * monoFontBytesPerRow;
            for (int column = 0; column < monoFontBytesPerRow * 8; ++column) {
                const bool bit = (rowBytes[column / 8] >> (7 - column % 8)) & 1;
                const bool expected = column < monoFontCellWidth
                    && monoFontPixel(static_cast<unsigned char>(character), column, row);
                ASSERT_EQ(bit, expected)
                    << hexByte(character) << " column " << column << " row " << row;
            }
        }
    }
}

// Queries outside the cell are false for every glyph, also where a careless
// index would land in the next row or the neighbouring glyph.
TEST(MonoFontReading, PixelsOutsideTheCellAreNotInked)
{
    for (int character = 0; character <= 0xFF; ++character) {
        const unsigned char byte = static_cast<unsigned char>(character);
        for (int row = -2; row < monoFontCellHeight + 2; ++row) {
            for (int column = -16; column < monoFontCellWidth + 24; ++column) {
                const bool inside = row >= 0 && row < monoFontCellHeight
                    && column >= 0 && column < monoFontCellWidth;
                if (!inside) {
                    ASSERT_FALSE(monoFontPixel(byte, column, row))
                        << hexByte(character) << " column " << column << " row " << row;
                }
            }
        }
        EXPECT_FALSE(monoFontPixel(byte, -1000000, 3));
        EXPECT_FALSE(monoFontPixel(byte, 3, 1000000));
    }
}

}  // namespace
