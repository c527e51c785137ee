// Character-to-glyph lookup: the four subtable formats, damaged subtables, the
// choice of subtable, and national subtables through the shipped tables.
#include <gtest/gtest.h>

#include <array>

#include "support/sfnt_builder.h"
#include "truetype/tt_cmap.h"
#include "xlat/xman.h"

using namespace korrin;
using namespace korrin::test;

namespace {

XlatManager* shippedTables()
{
    static XlatManager tables(KORRIN_BINARY_DIR "/share/korrin/tables");
    return &tables;
}

GlyphIndexArray arrayOf(const std::vector<CmapSubtable>& subtables, XlatManager* xman = shippedTables())
{
    return getGlyphIndexArray(spanOf(cmapTable(subtables)), xman);
}

TEST(CmapFormats, LookUpEachFormat)
{
    // Formats 0 and 6 with bytes after them, as of a following subtable.
    const std::string f0 = cmapFormat0({{0x41, 7}, {0xFF, 9}}) + "\7\7";
    const std::string f2 = cmapFormat2({{0x41, 5}, {0x8140, 10}, {0x8142, 12}, {0x9F7E, 300}}, 3);
    const std::string f4 =
        cmapFormat4({{0x20, 0x22, 100, {}}, {0x30, 0x32, 2, {7, 0, 65535}}, {0xFFFF, 0xFFFF, 5, {}}});
    const std::string f6 = cmapFormat6(0x100, {4, 5, 6}) + "\1\7";
    const struct {
        const std::string& subtable;
        unsigned code, glyph;
        const char* what;
    } cases[] = {
        {f0, 0x41, 7, ""}, {f0, 0xFF, 9, "the last code"}, {f0, 0x100, 0, "codes above 255"},
        {f2, 0x41, 5, "a one-byte code"}, {f2, 0x8142, 12, ""}, {f2, 0x9F7E, 300, ""},
        {f2, 0x8141, 0, "glyph 0 in the array gets no idDelta"}, {f2, 0x813F, 0, "below firstCode"},
        {f2, 0x8143, 0, "past firstCode + entryCount"},
        {f2, 0x4141, 5, "a high byte whose key is 0 reads its low byte in subHeader 0"},
        {f4, 0x22, 0x22 + 100, "by idDelta"}, {f4, 0x30, 9, "glyphIdArray value plus idDelta"},
        {f4, 0x31, 0, "0 in glyphIdArray stays 0"}, {f4, 0x32, 1, "modulo 65536"},
        {f4, 0x25, 0, "between two segments"}, {f4, 0xFFFF, 4, "the final segment maps by its delta"},
        {f6, 0x102, 6, "the last code"}, {f6, 0xFF, 0, "below firstCode"},
        {f6, 0x103, 0, "past firstCode + entryCount"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(getGlyph(spanOf(c.subtable), static_cast<unsigned short>(c.code)), c.glyph)
            << "format " << int(c.subtable[1]) << std::hex << ", code " << c.code << ": " << c.what;
}

TEST(CmapFormats, DamagedSubtablesGiveGlyph0)
{
    const std::string full = cmapFormat4({{0x30, 0x32, 2, {7, 8, 9}}, {0xFFFF, 0xFFFF, 1, {}}});
    for (std::size_t n = 0; n < full.size(); ++n)
        EXPECT_EQ(getGlyph(spanOf(full.substr(0, n)), 0x32), 0) << n << " bytes";
    std::string far = full;
    set16(far, 16 + 3 * 4, 0xFFF0); // idRangeOffset of the first segment
    EXPECT_EQ(getGlyph(spanOf(far), 0x30), 0);
    const std::string two = cmapFormat2({{0x8140, 10}});
    EXPECT_EQ(getGlyph(spanOf(two.substr(0, two.size() - 1)), 0x8140), 0);
    std::string format12 = cmapFormat6(0, {1});
    set16(format12, 0, 12);
    EXPECT_EQ(getGlyph(spanOf(format12), 0), 0);
}

TEST(GEbinsearch, FirstValueNotBelowTheKey)
{
    std::string values;
    for (unsigned v : {10u, 20u, 20u, 30u})
        put16(values, v);
    for (auto [n, key, found] : {std::array{4, 5, 0}, {4, 20, 1}, {4, 21, 3}, {4, 31, 0xFFFF}, {0, 5, 0xFFFF},
                                 {5, 5, 0xFFFF}}) // the last: more values than the span holds
        EXPECT_EQ(GEbinsearch(spanOf(values), static_cast<unsigned short>(n), static_cast<unsigned short>(key)), found)
            << n << " values, key " << key;
}

TEST(GlyphIndexArray, UnrollAgreesWithTheLookupOfEachCode)
{
    // One segment starts after its end; one repeats the endCode before it.
    const std::vector<Segment4> ascending{{0x20, 0x7E, -29, {}},         {0xA0, 0xA3, 0, {70, 0, 72, 73}},
                                          {0x3000, 0x30FF, 12, {}},      {0x3200, 0x3150, 1, {}},
                                          {0x3140, 0x3150, 2, {}},       {0x3160, 0x31FF, 5, {}},
                                          {0xFFFF, 0xFFFF, 1, {}}};
    // Out of order, the binary search decides which segment a code meets.
    const std::vector<Segment4> unsorted{ascending[2], ascending[0], ascending[1], ascending[6]};
    for (const auto& segments : {ascending, unsorted}) {
        const std::string t = cmapFormat4(segments);
        GlyphIndexArray a = Unroll(spanOf(t));
        for (unsigned c = 0; c < glyphIndexArraySize; ++c)
            ASSERT_EQ(a[c], getGlyph(spanOf(t), static_cast<unsigned short>(c))) << std::hex << c;
    }
}

TEST(GlyphIndexArray, ChoosesTheSubtable)
{
    const CmapSubtable unicode{3, 1, cmapFormat6(0x41, {2})};
    const CmapSubtable shiftJIS{3, 2, cmapFormat6(0x41, {9})};
    const CmapSubtable symbol{3, 0, cmapFormat6(0xF041, {5})};
    const CmapSubtable mac{1, 0, cmapFormat0({{0x41, 4}})};

    EXPECT_EQ(arrayOf({shiftJIS, unicode})[0x41], 2) << "(3, 1) before (3, 2)";
    EXPECT_EQ(arrayOf({unicode, {3, 1, cmapFormat6(0x41, {7})}})[0x41], 7) << "the last (3, 1)";
    EXPECT_EQ(arrayOf({mac, symbol, unicode})[0x42], 0);
    EXPECT_FALSE(arrayOf({symbol})) << "a symbol font";
    EXPECT_FALSE(arrayOf({mac})) << "Macintosh only";
    EXPECT_FALSE(arrayOf({{3, 10, cmapFormat6(0x41, {2})}})) << "only other Microsoft encodings";
    EXPECT_FALSE(getGlyphIndexArray(BigEndianSpan(), shippedTables())) << "no cmap";
    EXPECT_FALSE(arrayOf({shiftJIS}, nullptr)) << "a national subtable without translation tables";

    std::string outside = cmapTable({unicode});
    set16(outside, 10, static_cast<unsigned>(outside.size() - 1)); // one byte of subtable left
    EXPECT_FALSE(getGlyphIndexArray(spanOf(outside), nullptr));
}

TEST(GlyphIndexArray, NationalSubtablesReadThroughTheirTable)
{
    // ShiftJIS 0x8140 is U+3000, 0x82A0 is U+3042; 0x41 is U+0041.
    GlyphIndexArray sjis = arrayOf({{3, 2, cmapFormat2({{0x41, 1}, {0x8140, 2}, {0x82A0, 3}})}});
    ASSERT_TRUE(sjis);
    EXPECT_EQ(sjis[0x3000], 2);
    EXPECT_EQ(sjis[0x3042], 3);
    EXPECT_EQ(sjis[0x41], 1);
    EXPECT_EQ(sjis[0x8140], 0) << "indexed by Unicode, not by ShiftJIS code";
    EXPECT_EQ(sjis[0x20AC], 0) << "a Unicode value no ShiftJIS code reaches";
    // In code page 932 both 0x81E0 and 0x8790 are U+2252: the highest wins.
    EXPECT_EQ(arrayOf({{3, 2, cmapFormat2({{0x81E0, 4}, {0x8790, 5}})}})[0x2252], 5);

    // U+4E00 is Big5 A440 and GB 2312 D2BB. Microsoft numbers PRC 3 and Big5
    // 4; each must be read through the table of its own encoding.
    EXPECT_EQ(arrayOf({{3, 4, cmapFormat2({{0xA440, 7}})}})[0x4E00], 7);
    EXPECT_EQ(arrayOf({{3, 3, cmapFormat2({{0xD2BB, 8}})}})[0x4E00], 8);
}

} // namespace
