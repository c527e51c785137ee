// The naming table's six strings with their fallbacks, and the glyph names of
// every 'post' format, in the cases that the fontTools oracle
// (names_oracle.py) on DejaVu and IPA fonts does not tell apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "truetype/truetype.h"

using namespace korrin;
using namespace korrin::test;
using namespace std::string_literals;

namespace {

BigEndianSpan spanOf(const std::string& bytes)
{
    return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

std::string dumped(const NamingTable2& names)
{
    return written([&](FILE* out) { names.dump(out); });
}

// PostScript name, full name, unique ID, notice, version and family name.
using Six = std::array<std::string, 6>;

TEST(NamingTable2, PicksEachNameFromItsRecordOrAFallback)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("fonts"));
    const std::string path = dir.file("fonts/My Font.ttf");
    // Without a PostScript name: the path, all but ASCII letters and digits "_".
    std::string fromPath = path;
    for (char& c : fromPath)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    ASSERT_TRUE(fromPath.ends_with("_fonts_My_Font_ttf"));

    const struct {
        const char* what;
        std::vector<NameRecord> records;
        Six names; // "PATH" for the name made from the path
    } cases[] = {
        {"Microsoft first for the PostScript name, Macintosh first for the rest",
         {macName(0, "m0"), macName(1, "m1"), macName(3, "m3"), macName(4, "m4"), macName(5, "m5"), macName(6, "m6"),
          msName(0, "w0"), msName(1, "w1"), msName(3, "w3"), msName(4, "w4"), msName(5, "w5"), msName(6, "w6")},
         {"w6", "m4", "m3", "m0", "m5", "m1"}},
        {"a Macintosh PostScript name alone; the full name follows it", {macName(6, "MacPS")},
         {"MacPS", "MacPS", "", "", "", ""}},
        {"other platforms, encodings, languages and name IDs count for nothing",
         {{3, 1, 1031, 6, "\0D\0E"s}, {0, 3, 0, 6, "\0U"s}, {3, 0, 1033, 4, "\0S"s}, {1, 0, 0, 7, "Trademark"}},
         {"PATH", "PATH", "", "", "", ""}},
        {"the font's bytes up to the first zero; a Microsoft record's low bytes, an odd last byte dropped",
         {macName(4, "Caf\x8E Noir"), msName(6, "A\0B"s), {3, 1, 1033, 0, "\0\xA9\0"s}},
         {"A", "Caf\x8E Noir", "", "\xA9", "", ""}},
    };
    for (const auto& c : cases) {
        dir.write("fonts/My Font.ttf", minimalFont().table("name", nameTable(c.records)).build());
        TrueTypeFont font(path.c_str());
        const NamingTable2& n = font.namingTable();
        Six expected = c.names;
        std::replace(expected.begin(), expected.end(), "PATH"s, fromPath);
        EXPECT_EQ((Six{n.postScriptName(), n.fullName(), n.uniqueID(), n.notice(), n.version(), n.familyName()}),
                  expected)
            << c.what;
    }

    EXPECT_EQ(dumped(NamingTable2()), "NamingTable2 {\n}\n") << "no fields before the first fill";
    dir.write("fonts/My Font.ttf", minimalFont().build());
    EXPECT_EQ(dumped(TrueTypeFont(path.c_str()).namingTable()),
              "NamingTable2 {\n\tPostscript name: 'Minimal-Regular'\n\tFull name: 'Minimal Regular'\n"
              "\tUnique ID: 'Minimal:1.0'\n\tNotice: 'Copyright nobody'\n\tVersion: 'Version 1.0'\n"
              "\tFamily name: 'Minimal'\n}\n");
}

TEST(FindName, BinarySearchOverSortedRecords)
{
    std::vector<NameRecord> records{{0, 3, 0, 1, "u"}, {3, 1, 0xFFFF, 0xFFFF, "x"}};
    for (unsigned id = 0; id < 20; ++id) {
        records.push_back(macName(id, "m"));
        records.push_back(msName(id, "w"));
    }
    // Sorted: (0, 3) first, 20 Macintosh records, 20 Microsoft ones, then (3, 1, 0xFFFF).
    const std::string table = nameTable(records);
    const BigEndianSpan span = spanOf(table);
    const struct {
        unsigned short platform, encoding, language, id;
        int found;
    } cases[] = {{0, 3, 0, 1, 0},          {1, 0, 0, 0, 1},    {1, 0, 0, 19, 20}, {3, 1, 1033, 6, 27},
                 {3, 1, 0xFFFF, 0xFFFF, 41}, // keys compare unsigned
                 {3, 1, 1033, 20, -1},     {2, 0, 0, 0, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(findname(span, 42, c.platform, c.encoding, c.language, c.id), c.found) << c.platform << " " << c.id;
    EXPECT_EQ(findname(span, 0, 1, 0, 0, 0), -1);
    EXPECT_STREQ(nameExtract(span, 27, 1).get(), "w");
}

// --- GlyphTable ---------------------------------------------------------------

using Names = std::vector<std::string>;

Names namesOf(const GlyphTable& table, std::size_t glyphs)
{
    Names names;
    for (std::size_t g = 0; g < glyphs; ++g)
        names.push_back(GetGlyphByNumber(table, static_cast<int>(g)));
    return names;
}

TEST(GlyphTable, NamesOfEachPostFormat)
{
    const struct {
        const char* what;
        std::string post;
        int count;
        Names names; // of glyphs 0 on, past the count too
    } cases[] = {
        {"1.0: the standard names", postTable(0x00010000), 258, {".notdef", ".null", "nonmarkingreturn", "space"}},
        {"2.0: standard names and its own", postTable2({0, 258, 36, 260, 259, 3}, {"alpha", "beta", "gamma"}), 6,
         {".notdef", "alpha", "A", "gamma", "beta", "space", ".notdef"}},
        {"2.0: an empty name is still a name", postTable2({258}, {""}), 1, {""}},
        {"2.5: offsets into the standard names", postTable25({0, 35, 35, 1, -1}), 5,
         {".notdef", "A", "B", "exclam", "space", ".notdef"}},
        {"3.0: no names", postTable(0x00030000), 0, {".notdef"}},
    };
    for (const auto& c : cases) {
        GlyphTable table(spanOf(c.post));
        EXPECT_TRUE(table.loaded()) << c.what;
        EXPECT_EQ(table.count(), c.count) << c.what;
        EXPECT_EQ(namesOf(table, c.names.size()), c.names) << c.what;
    }
    std::ostringstream out;
    out << GlyphTable(spanOf(postTable25({0, 35})));
    EXPECT_EQ(out.str(), "GlyphTable {\n\tNumber of glyphs: 2\n\t  0: '.notdef'\n\t  1: 'A'\n}\n\n");
}

TEST(GlyphTable, RefusesUnknownFormatsAndBrokenTables)
{
    std::vector<int> pastTheLast(200, 0);
    pastTheLast.back() = 127;
    const std::string cut = postTable2({258}, {"abcdef"});
    const struct {
        const char* what;
        std::string post, how;
    } cases[] = {
        {"format 4.0", postTable(0x00040000), "TT_ERROR 4"},
        {"format 2.0001", postTable(0x00020001), "TT_ERROR 4"},
        {"index past the strings", postTable2({258, 259}, {"only"}), "TT_ERROR 4"},
        {"before the first standard name", postTable25({-1}), "TT_ERROR 4"},
        {"past the last standard name", postTable25(pastTheLast), "TT_ERROR 4"},
        {"string past the table", cut.substr(0, cut.size() - 1), "int 4"},
        {"indices past the table", postTable2({0, 1, 2}, {}).substr(0, 38), "int 4"},
        {"no glyph count", postTable(0x00020000).substr(0, 30), "int 4"},
    };
    for (const auto& c : cases) {
        // Over a loaded table, which a failure must leave empty.
        GlyphTable table(spanOf(postTable(0x00010000)));
        std::string how = "loaded";
        try {
            table.Assign(spanOf(c.post));
        } catch (TrueTypeFont::TT_ERROR code) {
            how = "TT_ERROR " + std::to_string(code);
        } catch (int code) {
            how = "int " + std::to_string(code);
        }
        EXPECT_EQ(how, c.how) << c.what;
        EXPECT_TRUE(!table.loaded() && table.count() == 0) << c.what;
    }
    EXPECT_THROW(GlyphTable().Assign(BigEndianSpan()), int) << "absent table";
}

TEST(GlyphTable, ManyOwnNamesStayFast)
{
    // Every glyph names the last of 20000 strings: no walk per glyph.
    Names names(20000, "n");
    names.back() = "last";
    const std::string post = postTable2(std::vector<unsigned>(20000, 258 + 19999), names);
    const GlyphTable table(spanOf(post));
    EXPECT_STREQ(GetGlyphByNumber(table, 19999), "last");
}

TEST(GlyphTable, FindSortsLikeStrcmpAndNumbersStayWithTheirNames)
{
    const std::string small = postTable2({0, 260, 258, 259, 36}, {"zeta", "alpha", "mu"});
    GlyphTable table(spanOf(small));
    const int mu = table.Find("mu");
    ASSERT_GE(mu, 0);
    EXPECT_EQ(table.glyph(mu), 1);
    EXPECT_EQ(table.Find(".notdef"), 0);
    EXPECT_EQ(table.Find("A"), 1);
    EXPECT_EQ(table.Find("nu"), -1);
    EXPECT_EQ(namesOf(table, 5), (Names{".notdef", "mu", "zeta", "alpha", "A"}));
    EXPECT_EQ(GlyphTable(spanOf(postTable(0x00030000))).Find(".notdef"), -1) << "an empty table";

    // 3000 names with repeats.
    std::mt19937 random(7);
    Names names;
    std::vector<unsigned> indices;
    for (unsigned i = 0; i < 3000; ++i) {
        names.push_back("g" + std::to_string(random() % 500));
        indices.push_back(258 + i);
    }
    const std::string large = postTable2(indices, names);
    GlyphTable many(spanOf(large));
    many.Sort();
    for (int i = 0; i < many.count(); ++i) {
        EXPECT_EQ(names[many.glyph(i)], many.name(i));
        EXPECT_LE(std::strcmp(many.name(i > 0 ? i - 1 : 0), many.name(i)), 0) << i;
    }
}

} // namespace
