// Character-to-glyph lookup from a TrueType 'cmap' table.
//
// The main product is the glyph index array: 65536 glyph indices, one per
// 16-bit Unicode value, unrolled once from the font's best Microsoft
// subtable so that the writers can ask for many characters cheaply. A
// subtable keyed by a national encoding (ShiftJIS, PRC, Big5, Wansung,
// Johab) is carried over to Unicode through a translation table.
//
// The table is untrusted: every read stays inside the 'cmap' table. Nothing
// here throws for a damaged table; a lookup that cannot read what it needs
// answers glyph 0, and a table without a usable subtable gives no array.
#pragma once

#include <memory>

#include "truetype/mudefs.h"

namespace korrin {

class XlatManager;

// A glyph index array: entry u is the glyph of Unicode value u, 0 where no
// character reaches. The caller owns it.
using GlyphIndexArray = std::unique_ptr<unsigned short[]>;
constexpr unsigned glyphIndexArraySize = 65536;

// The glyph index array of a font's 'cmap' table, or null when the table is
// absent or has no usable Microsoft subtable: (3, 1) Unicode first, then the
// national (3, 2) to (3, 6) ones, which need xman's tables (and give null
// without them). A symbol font's (3, 0) subtable alone gives null. A
// translation table that cannot be read throws file::fileerror.
GlyphIndexArray getGlyphIndexArray(const BigEndianSpan& cmap, XlatManager* xman);

// The glyph of one code in one subtable; `subtable` runs from the subtable's
// first byte to the end of its 'cmap' table. Formats other than 0, 2, 4 and 6
// give 0.
unsigned short getGlyph(const BigEndianSpan& subtable, unsigned short code);
unsigned short getGlyph0_(const BigEndianSpan& subtable, unsigned short code);
unsigned short getGlyph2_(const BigEndianSpan& subtable, unsigned short code);
unsigned short getGlyph4_(const BigEndianSpan& subtable, unsigned short code);
unsigned short getGlyph6_(const BigEndianSpan& subtable, unsigned short code);

// The index of the first of n big-endian u16 values in `array` that is
// greater than or equal to key, or 0xFFFF when there is none (n of 0 or
// 0xFFFF included). The values must be ascending and the n of them inside
// the span.
unsigned short GEbinsearch(const BigEndianSpan& array, unsigned short n, unsigned short key);

// Entry c = getGlyph(subtable, c) for every 16-bit code c. Null only when
// memory runs out.
GlyphIndexArray Unroll(const BigEndianSpan& subtable);

// The array indexed by Unicode for a subtable keyed by `encoding` (a
// translation-table encoding number): entry u is the glyph of the highest
// code that translates to u, 0 where none does. Null when xman has no table
// from `encoding` to Unicode, or memory runs out.
GlyphIndexArray UnrollAndConvert(XlatManager* xman, const BigEndianSpan& subtable, int encoding);

} // namespace korrin
