// The Type 42 font writer: a loaded TrueType font becomes a PostScript font
// dictionary of FontType 42, whose sfnts array carries the nine TrueType
// tables an interpreter needs in hexadecimal strings, with a 256-entry
// Encoding for one translation-table encoding and a CharStrings dictionary
// from glyph names to glyph indices.
//
// Every check happens before the first byte is written, so a refused font
// leaves its output untouched. The writer then streams from the mapped font
// (one glyph or table at a time through the hexadecimal encoder) and keeps
// no copy of it.
//
// Errors: TT2T42Error for the writer's own refusals (codes below); the font
// layer's codes (TrueTypeFont::message) pass through as the font layer
// throws them, as int or TrueTypeFont::TT_ERROR; a translation table that
// cannot be read throws file::fileerror.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "truetype/truetype.h"

namespace korrin {

class XlatManager;

class TT2T42Error {
public:
    enum Code {
        noTranslationTable = 0, // no table from the requested encoding to Unicode
        minTablesMissing = 1,   // 'name', 'maxp', 'head' or 'loca' is missing
        noGlyphIndexArray = 2,  // the 'cmap' table yields no glyph index array
        tableTooLong = 3,       // a table other than 'glyf' exceeds one string
        t42TablesMissing = 4,   // one of the nine sfnts tables is missing
        oddStringData = 5,      // the sfnts strings cannot all end on even data
    };

    explicit TT2T42Error(int code) : code(code) {}
    // A sentence for the code, for people reading a tool's error.
    static const char* message(int code);

    int code;
};

// The font layer's code for sfnts strings that cannot all end on an even
// number of bytes: odd-length glyph data of a font with long 'loca' offsets,
// or an odd-length table that fills a string by itself, where no glyph
// boundary at an even position is left to break at.
constexpr int ttOddStringData = 14;

// Where the strings of a font's sfnts array begin and end.
//
// The strings carry a new TrueType file: a 12-byte offset table, nine
// directory entries and the nine tables, each padded with zeros to a
// multiple of 4. 'glyf' goes glyph by glyph, so that a string may end
// between any two glyphs; every other table goes whole. A string ends
// before a piece that would take it past 65534 bytes (HexFormatter2).
//
// An interpreter reads each string as an even number of bytes (the final
// zero byte of a string with an even number of data bytes is padding), so a
// string whose data has an odd length would insert its final zero into the
// font. Fonts with long 'loca' offsets may have glyphs of odd length; when a
// string would end on odd data, it ends instead at the last glyph boundary
// inside it that lies at an even position. Fonts whose strings all end on
// even data (every font with short offsets) are written exactly as the rule
// above says.
class SfntsLayout {
public:
    // Plans the strings. Throws, as an int, font error 6 when one of the nine
    // tables is missing, 13 when longTables is false and a table other than
    // 'glyf' is longer than 65534 bytes, and ttOddStringData when no even
    // break exists.
    SfntsLayout(const TrueTypeFont& font, bool longTables);

    // Writes "/sfnts [" ... "] def\n".
    void write(std::FILE* out) const;

    // The pieces before which a string ends early, ascending.
    const std::vector<std::uint64_t>& earlyBreaks() const { return earlyBreaks_; }

private:
    struct Table {
        const unsigned char* data;
        std::uint32_t length;
        bool glyf;
    };
    // Calls piece(data, length) for each piece in order: the offset table and
    // directory, then each table (glyph by glyph for 'glyf') and its padding.
    template <class Piece>
    void forEachPiece(Piece piece) const;
    void plan();

    const TrueTypeFont& font_;
    unsigned char header_[12 + 9 * 16];
    Table tables_[9];
    std::vector<std::uint64_t> earlyBreaks_;
};

// A conversion checked and ready to write. The constructor does every check
// and everything that can fail with the font (translation table, glyph
// index array, FontBBox, glyph names, sfnts layout), in the order
// TrueType2Type42 documents; write() then only writes. The font and a given
// fontName must outlive the conversion.
class Type42Conversion {
public:
    Type42Conversion(TrueTypeFont& font, int encoding, XlatManager* xman, bool longTables, const char* fontName);
    void write(std::FILE* out) const;

private:
    TrueTypeFont& font_;
    const char* fontName_; // the caller's, or null for the font's own name
    GlyphTable glyphs_;
    unsigned short encodingGlyphs_[256];
    int fontBBox_[4];
    std::optional<SfntsLayout> sfnts_;
};

// Writes the whole Type 42 font to out. `encoding` says how byte codes 0 to
// 255 of the Encoding are read (1 ISO 8859-1, 2 ShiftJIS, ...); xman supplies
// the translation tables; longTables lets tables other than 'glyf' exceed
// one string; fontName, when neither null nor empty, is the PostScript name
// to give the font.
//
// Refusals, all before the first byte, in this order: TT2T42Error 1, 4, 0
// and 2; font error 4 (an int) for a unitsPerEm of 0, a missing 'post'
// table or a field outside its table; TrueTypeFont::TT_ERROR 4 for an
// unknown 'post' format; TT2T42Error 3 and 5 for the sfnts strings.
void TrueType2Type42(TrueTypeFont& font, int encoding, XlatManager* xman, std::FILE* out, bool longTables,
                     const char* fontName);

// A PostScript name for a font that has none: "tt" and the CRC-32 of the
// whole file in 8 upper-case hexadecimal digits. The text lives in one static
// buffer that the next call overwrites.
const char* MakeTempName(TrueTypeFont& font);

} // namespace korrin
