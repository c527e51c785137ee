#include "convert/tt2ps.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "convert/hformat.h"
#include "core/crctable.h"
#include "truetype/applegl.h"
#include "truetype/tt_cmap.h"
#include "xlat/xman.h"

namespace korrin {

namespace {


constexpr int unicodeEncoding = 1;
constexpr std::uint64_t maxStringBytes = detail::HexEncoder::maxStringBytes;

void putU16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

void putU32(unsigned char* p, std::uint32_t v)
{
    putU16(p, v >> 16);
    putU16(p + 2, v & 0xFFFF);
}

void putText(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

// Text gathered in a block and handed to the stream in one write: the
// CharStrings dictionary has a line per glyph, tens of thousands in a large
// font.
class TextBlock {
public:
    explicit TextBlock(std::FILE* out) : out_(out) {}
    ~TextBlock() { std::fwrite(text_, 1, used_, out_); }
    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;

    // "/name N def\n"; a name has at most 255 bytes.
    void charString(std::string_view name, unsigned glyph)
    {
        if (used_ + 1 + name.size() + 16 > sizeof text_) {
            std::fwrite(text_, 1, used_, out_);
            used_ = 0;
        }
        char* p = text_ + used_;
        *p++ = '/';
        p = std::copy(name.begin(), name.end(), p);
        *p++ = ' ';
        char digits[10];
        char* d = digits + sizeof digits;
        do
            *--d = static_cast<char>('0' + glyph % 10);
        while (glyph /= 10);
        p = std::copy(d, digits + sizeof digits, p);
        std::memcpy(p, " def\n", 5);
        used_ = static_cast<std::size_t>(p + 5 - text_);
    }

private:
    std::FILE* out_;
    char text_[16384];
    std::size_t used_ = 0;
};

// The names that the CharStrings dictionary gives to glyph numbers, from the
// 'post' table. Format 2.0 names beyond the standard ones are Pascal strings,
// located once so that each lookup is direct.
class CharStringNames {
public:
    // An absent table throws 4 (an int), an unknown format TT_ERROR 8.
    explicit CharStringNames(const BigEndianSpan& post) : post_(post)
    {
        if (!post.data())
            throw int(TrueTypeFont::ttBadFile);
        format_ = std::uint32_t(post.u16(0)) << 16 | post.u16(2);
        switch (format_) {
        case 0x00010000:
        case 0x00030000:
            break;
        case 0x00020000: {
            count_ = post.u16(32);
            const std::size_t area = 34 + 2 * std::size_t(count_);
            post.at(34, 2 * std::size_t(count_));
            // Every complete string of the area, counted first so that one
            // allocation holds them; a name index past them is an error of
            // the font.
            std::size_t n = 0;
            for (std::size_t pos = area; post.has(pos, 1) && post.has(pos + 1, post.u8(pos)); pos += 1 + post.u8(pos))
                ++n;
            strings_.reserve(n);
            for (std::size_t pos = area; strings_.size() < n; pos += 1 + post.u8(pos))
                strings_.push_back(static_cast<std::uint32_t>(pos));
            break;
        }
        case 0x00025000:
            count_ = post.u16(32);
            break;
        default:
            throw TrueTypeFont::ttUnknownPostFormat;
        }
    }

    // The name of glyph i, or nothing for a glyph without a name (a format
    // 1.0 or 2.5 glyph beyond the standard names). A name index or offset
    // outside the table throws 4 (an int).
    std::optional<std::string_view> name(unsigned i) const
    {
        switch (format_) {
        case 0x00010000:
            if (i >= AppleGlyphCount)
                return std::nullopt;
            return AppleGlyphs[i];
        case 0x00020000: {
            if (i >= count_)
                return ".notdef";
            const unsigned index = post_.u16(34 + 2 * std::size_t(i));
            if (index < AppleGlyphCount)
                return AppleGlyphs[index];
            if (index - AppleGlyphCount >= strings_.size())
                throw int(TrueTypeFont::ttBadFile);
            const std::size_t at = strings_[index - AppleGlyphCount];
            return std::string_view(reinterpret_cast<const char*>(post_.at(at + 1, post_.u8(at))), post_.u8(at));
        }
        case 0x00025000: {
            const long index = long(i) + post_.s8(34 + std::size_t(i));
            if (index < 0 || index >= AppleGlyphCount)
                return std::nullopt;
            return AppleGlyphs[index];
        }
        default:
            return ".notdef";
        }
    }

private:
    BigEndianSpan post_;
    std::uint32_t format_ = 0;
    unsigned count_ = 0;
    std::vector<std::uint32_t> strings_; // where each Pascal string starts
};

} // namespace

// --- TT2T42Error ---------------------------------------------------------------

const char* TT2T42Error::message(int code)
{
    switch (code) {
    case noTranslationTable: return "no translation table from the requested encoding to Unicode";
    case minTablesMissing: return "some essential TrueType tables ('name', 'maxp', 'head', 'loca') are missing";
    case noGlyphIndexArray: return "the 'cmap' table has no usable Microsoft subtable";
    case tableTooLong: return "a table other than 'glyf' is longer than 65534 bytes (long tables are not allowed)";
    case t42TablesMissing:
        return "a table that a Type 42 font carries ('cvt ', 'fpgm', 'glyf', 'head', 'hhea', 'hmtx', 'loca', "
               "'maxp', 'prep') is missing";
    case oddStringData: return "the glyph data cannot be split into sfnts strings of even length";
    default: return "invalid error number";
    }
}

// --- sfnts ---------------------------------------------------------------------

SfntsLayout::SfntsLayout(const TrueTypeFont& font, bool longTables) : font_(font)
{
    if (!font.checkT42Tables())
        throw int(TrueTypeFont::ttTablesMissing);
    // The offset table of the new file: the source's version as stored, nine
    // tables, and the binary-search fields that nine tables call for.
    std::memcpy(header_, font.image().at(0, 4), 4);
    putU16(header_ + 4, 9);
    putU16(header_ + 6, 128);
    putU16(header_ + 8, 3);
    putU16(header_ + 10, 16);
    std::uint32_t offset = sizeof header_;
    for (int t = 0; t < 9; ++t) {
        const unsigned tag = TrueTypeFont::tags[t];
        const TableDirectoryEntry& e = *font.GetDirEntry(tag);
        if (!longTables && tag != tagGlyf && e.length > maxStringBytes)
            throw int(TrueTypeFont::ttTableTooLong);
        unsigned char* entry = header_ + 12 + 16 * t;
        putU32(entry, e.tag);
        putU32(entry + 4, e.checkSum);
        putU32(entry + 8, offset);
        putU32(entry + 12, e.length);
        tables_[t] = {font.GetTable(tag), e.length, tag == tagGlyf};
        // The loader has checked that all tables together fit the file, so
        // this sum stays below 2^32.
        offset += (e.length + 3) & ~3u;
    }
    plan();
}

template <class Piece>
void SfntsLayout::forEachPiece(Piece piece) const
{
    static const unsigned char zeros[3] = {};
    piece(header_, sizeof header_);
    for (const Table& t : tables_) {
        if (t.glyf) {
            // Glyph by glyph, so that a string may end between any two. A
            // font whose offsets start late, run backwards or stop short
            // would lose bytes that way; they go as pieces of their own, so
            // the table arrives whole.
            const std::uint32_t* offsets = font_.glyphOffsets();
            std::uint32_t pos = 0;
            if (offsets[0] > 0) {
                piece(t.data, offsets[0]);
                pos = offsets[0];
            }
            for (int g = 0; g < font_.glyphCount(); ++g) {
                const std::uint32_t end = std::max(pos, offsets[g + 1]);
                piece(t.data + pos, end - pos);
                pos = end;
            }
            if (pos < t.length)
                piece(t.data + pos, t.length - pos);
        } else {
            piece(t.data, t.length);
        }
        piece(zeros, (4 - t.length % 4) % 4);
    }
}

// Replays the string rule of HexFormatter2 over the pieces. Where a string
// would end on an odd number of bytes, it ends instead at the last piece
// boundary inside it at an even count; the pieces after that boundary open
// the next string, where every boundary they leave is odd again.
void SfntsLayout::plan()
{
    std::uint64_t piece = 0;      // pieces seen
    std::uint64_t inString = 0;   // bytes in the current string
    std::uint64_t evenBytes = 0;  // bytes up to the last even boundary, 0 if none
    std::uint64_t evenPiece = 0;  // the piece that follows that boundary
    forEachPiece([&](const unsigned char*, std::uint64_t n) {
        if (inString + n > maxStringBytes) {
            if (inString % 2) {
                if (evenBytes == 0)
                    throw int(ttOddStringData);
                earlyBreaks_.push_back(evenPiece);
                inString -= evenBytes;
                if (inString + n > maxStringBytes)
                    throw int(ttOddStringData);
            } else {
                inString = 0;
            }
            evenBytes = 0;
        }
        inString += n;
        ++piece;
        if (inString > 0 && inString % 2 == 0) {
            evenBytes = inString;
            evenPiece = piece;
        }
    });
}

void SfntsLayout::write(std::FILE* out) const
{
    putText(out, "/sfnts [");
    putText(out, "<\n");
    {
        HexFormatter2 hex(out);
        std::uint64_t piece = 0;
        auto nextBreak = earlyBreaks_.begin();
        forEachPiece([&](const unsigned char* data, std::uint32_t n) {
            if (nextBreak != earlyBreaks_.end() && *nextBreak == piece) {
                hex.closeString();
                ++nextBreak;
            }
            hex.blockwrite(data, n);
            ++piece;
        });
    }
    putText(out, "00\n>\n");
    putText(out, "] def\n");
}

void TrueTypeFont::dumpSfnts2(FILE* out, bool longTables) const { SfntsLayout(*this, longTables).write(out); }

// --- CharStrings ---------------------------------------------------------------

void TrueTypeFont::dumpCharStrings2(FILE* out) const
{
    CharStringNames names(GetTableData(tagPost));
    std::fprintf(out, "/CharStrings %d dict dup begin\n", glyphCount());
    {
        TextBlock lines(out);
        for (int g = 0; g < glyphCount(); ++g)
            if (std::optional<std::string_view> name = names.name(unsigned(g)))
                lines.charString(*name, unsigned(g));
    }
    putText(out, "end readonly def\n");
}

// --- the font ------------------------------------------------------------------

namespace {

// The glyph that each byte code of the Encoding names: the code read as a
// character of `encoding`, looked up in the font's glyph index array. A code
// the translation table leaves unmapped counts as character 0.
void encodingGlyphs(const TrueTypeFont& font, int encoding, XlatManager* xman, unsigned short (&glyphs)[256])
{
    XlatTablePtr table(xman ? xman->loadTable(encoding, unicodeEncoding) : nullptr);
    if (!table)
        throw TT2T42Error(TT2T42Error::noTranslationTable);
    unsigned short unicode[256];
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned u = xlat(table.get(), c);
        unicode[c] = u == 0xFFFFFFFFu ? 0 : static_cast<unsigned short>(u);
    }
    table.reset();
    GlyphIndexArray glyphIndex = getGlyphIndexArray(font.GetTableData(tagCmap), xman);
    if (!glyphIndex)
        throw TT2T42Error(TT2T42Error::noGlyphIndexArray);
    for (unsigned c = 0; c < 256; ++c)
        glyphs[c] = glyphIndex[unicode[c]];
}

} // namespace

Type42Conversion::Type42Conversion(TrueTypeFont& font, int encoding, XlatManager* xman, bool longTables,
                                   const char* fontName)
    : font_(font), fontName_(fontName && *fontName ? fontName : nullptr)
{
    if (!font.checkMinTables())
        throw TT2T42Error(TT2T42Error::minTablesMissing);
    if (!font.checkT42Tables())
        throw TT2T42Error(TT2T42Error::t42TablesMissing);
    encodingGlyphs(font, encoding, xman, encodingGlyphs_);

    // A box in thousandths of an em. An em of 0 units gives no scale at all,
    // which no interpreter could render: the font is refused as incorrect.
    const BigEndianSpan head = font.GetTableData(tagHead);
    const int unitsPerEm = head.s16(18);
    if (unitsPerEm == 0)
        throw int(TrueTypeFont::ttBadFile);
    for (int i = 0; i < 4; ++i)
        fontBBox_[i] = head.s16(36 + 2 * std::size_t(i)) * 1000 / unitsPerEm;

    // What writing reads from 'post': the memory figures, the Encoding's
    // names and every CharStrings name, so that writing cannot fail on them.
    const BigEndianSpan post = font.GetTableData(tagPost);
    if (post.data())
        post.at(16, 8);
    glyphs_.Assign(post);
    CharStringNames names(post);
    for (int g = 0; g < font.glyphCount(); ++g)
        names.name(unsigned(g));

    try {
        sfnts_.emplace(font, longTables);
    } catch (int code) {
        if (code == TrueTypeFont::ttTableTooLong)
            throw TT2T42Error(TT2T42Error::tableTooLong);
        if (code == ttOddStringData)
            throw TT2T42Error(TT2T42Error::oddStringData);
        throw;
    }
}

void Type42Conversion::write(std::FILE* out) const
{
    const BigEndianSpan head = font_.GetTableData(tagHead);
    std::fprintf(out, "%%!PS-TrueTypeFont-%d.%d-%d.%d\n", head.s16(0), head.u16(2), head.s16(4), head.u16(6));
    const BigEndianSpan post = font_.GetTableData(tagPost);
    if (post.data()) {
        const std::uint32_t minMem = post.u32(16), maxMem = post.u32(20);
        if (minMem && maxMem)
            std::fprintf(out, "%%%%VMUsage: %d %d\n", int(minMem), int(maxMem));
    }
    std::fprintf(out, "%%- Generated from a TrueType font file: '%s'\n", font_.fileName());
    putText(out, "11 dict begin\n");

    const char* name = fontName_;
    if (!name) {
        const char* own = font_.namingTable().postScriptName();
        name = own && *own ? own : MakeTempName(font_);
    }
    std::fprintf(out, "/FontName /%s def\n", name);
    putText(out, "/PaintType 0 def\n");
    putText(out, "/FontMatrix [1 0 0 1 0 0] def\n");
    std::fprintf(out, "/FontBBox [%d %d %d %d] def\n", fontBBox_[0], fontBBox_[1], fontBBox_[2], fontBBox_[3]);
    putText(out, "/FontType 42 def\n");

    putText(out, "/Encoding 256 array\n");
    for (int c = 0; c < 256; ++c)
        std::fprintf(out, "dup %d /%s put\n", c, GetGlyphByNumber(glyphs_, encodingGlyphs_[c]));
    putText(out, "readonly def\n");

    sfnts_->write(out);
    font_.dumpCharStrings2(out);
    putText(out, "FontName currentdict end definefont pop\n");
}

void TrueType2Type42(TrueTypeFont& font, int encoding, XlatManager* xman, std::FILE* out, bool longTables,
                     const char* fontName)
{
    Type42Conversion(font, encoding, xman, longTables, fontName).write(out);
}

const char* MakeTempName(TrueTypeFont& font)
{
    static char name[] = "tt00000000";
    const BigEndianSpan image = font.image();
    std::snprintf(name + 2, sizeof name - 2, "%08X", unsigned(crc32(image.data(), image.size())));
    return name;
}

} // namespace korrin
