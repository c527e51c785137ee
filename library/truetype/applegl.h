// The 258 standard Macintosh glyph names, numbered as the TrueType 'post'
// table numbers them: formats 1.0, 2.0 and 2.5 name glyphs by these indices.
#pragma once

namespace korrin {

constexpr int AppleGlyphCount = 258;
extern const char* const AppleGlyphs[AppleGlyphCount];

} // namespace korrin
