// Reading TrueType files: the bounds-checked big-endian reader; loading built
// fonts with their structure checks, glyph locations and error texts; the
// naming table and the glyph names of each 'post' format; the fuzz seeds made
// by the sfnt builder. names_oracle.py compares names and glyph names with
// fontTools on every DejaVu and IPA font, so these cases make what those fonts
// do not tell apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <sys/stat.h>

#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "support/thrown.h"
#include "truetype/mudefs.h"
#include "truetype/truetype.h"

using namespace korrin;
using namespace korrin::test;
using namespace std::string_literals;

namespace {

const unsigned char eight[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
const BigEndianSpan span(eight, sizeof eight);

TEST(BigEndianSpan, ReadsMostSignificantByteFirstAtAnyOffset)
{
    EXPECT_EQ(span.u8(7), 0xF0);
    EXPECT_EQ(span.s8(7), -16);
    EXPECT_EQ(span.u16(1), 0x3456);
    EXPECT_EQ(span.s16(4), std::int16_t(0x9ABC));
    EXPECT_EQ(span.u32(3), 0x789ABCDEu);
    EXPECT_EQ(span.sub(2, 4).u16(2), 0x9ABC);
    EXPECT_EQ(span.from(6).u16(0), 0xDEF0);
    EXPECT_TRUE(span.from(8).empty());
    EXPECT_TRUE(span.has(8, 0));
    EXPECT_EQ(BigEndianSpan(nullptr, 100).size(), 0u) << "an absent table has no bytes";
}

TEST(BigEndianSpan, ReadsOutsideThrowTheFontError4)
{
    constexpr std::size_t top = std::numeric_limits<std::size_t>::max();
    const std::pair<const char*, std::function<void()>> outside[] = {
        {"u32 past the end", [] { span.u32(5); }},
        {"u16 past the end", [] { span.u16(7); }},
        {"u8 at the end", [] { span.u8(8); }},
        {"sub past the end", [] { span.sub(4, 5); }},
        {"from past the end", [] { span.from(9); }},
        {"a sub-span is bounded by its own end", [] { span.sub(2, 4).u8(4); }},
        {"an offset near the top of the address space", [] { span.u32(top - 1); }},
        {"a length near the top", [] { span.at(1, top); }},
        {"an absent table", [] { BigEndianSpan().u16(0); }},
    };
    for (const auto& [what, read] : outside)
        EXPECT_EQ(thrown<int>(read), 4) << what;
    EXPECT_FALSE(span.has(top, 2));
}

TEST(BigEndianSpanDeathTest, RequireTableStopsOnANullTable)
{
    EXPECT_EQ(RequireTable(span).size(), 8u);
    EXPECT_DEATH(RequireTable(BigEndianSpan()), "mudefs.h:[0-9]+: precondition failed: ptr != 0");
}

using Offsets = std::vector<std::uint32_t>;

TEST(TrueTypeFont, LoadsAWellFormedFont)
{
    TempDir dir;
    const SfntBuilder builder = minimalFont();
    const std::string path = dir.write("Minimal.ttf", builder.build());
    TrueTypeFont font(path.c_str());

    EXPECT_STREQ(font.fileName(), path.c_str());
    EXPECT_EQ(font.fileSize(), std::filesystem::file_size(path));
    EXPECT_EQ(font.tableCount(), 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(font.GetTable(tagGlyf)), font.GetTableSize(tagGlyf)),
              builder.get("glyf"));
    const TableDirectoryEntry* entry = font.GetDirEntry(tagName);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->checkSum, tableChecksum(builder.get("name")));
    EXPECT_EQ(entry->length, builder.get("name").size());
    // An absent table: no bytes, and reading a field of it throws 4.
    EXPECT_EQ(font.GetTable(tagCmap), nullptr);
    EXPECT_EQ(font.GetTableSize(tagCmap), 0u);
    EXPECT_EQ(thrown<int>([&] { font.GetTableData(tagCmap).u16(0); }), 4);
}

TEST(TrueTypeFont, GlyphLocations)
{
    TempDir dir;
    auto offsets = [&](const SfntBuilder& font) {
        TrueTypeFont loaded(dir.write("f.ttf", font.build()).c_str());
        return Offsets(loaded.glyphOffsets(), loaded.glyphOffsets() + loaded.glyphCount() + 1);
    };
    EXPECT_EQ(offsets(minimalFont()), (Offsets{0, 0, 0, 12, 24}));
    const SfntBuilder longLoca = minimalFont()
                                     .table("head", headTable(1))
                                     .table("glyf", std::string(0x20000, '\0'))
                                     .table("loca", locaTable({0, 0, 0x1FFFE, 0x1FFFF, 0x20000}, true));
    EXPECT_EQ(offsets(longLoca), (Offsets{0, 0, 0x1FFFE, 0x1FFFF, 0x20000})) << "long offsets need not be even";
    // A shorter 'loca' lowers the glyph count of 'maxp'; a longer one does not raise it.
    EXPECT_EQ(offsets(minimalFont().table("loca", locaTable({0, 0, 12}))), (Offsets{0, 0, 12}));
    EXPECT_EQ(offsets(minimalFont().table("loca", locaTable({0}))), (Offsets{0})) << "one entry: no glyph";
    EXPECT_EQ(offsets(minimalFont().table("loca", locaTable({0, 0, 12}) + "\x01")), (Offsets{0, 0, 12}))
        << "a stray odd byte is no entry";
    EXPECT_EQ(offsets(minimalFont().table("maxp", maxpTable(2))), (Offsets{0, 0, 0}));
}

TEST(TrueTypeFont, RefusesHostileFiles)
{
    const std::string good = minimalFont().build();
    // The header's table count lies at 4; 'glyf' has the first directory
    // entry, its offset at 20 and its length at 24.
    auto with = [&](std::size_t at, std::uint32_t v, bool wide) {
        std::string f = good;
        wide ? set32(f, at, v) : set16(f, at, v);
        return f;
    };
    auto withName = [](const std::string& name) { return minimalFont().table("name", name).build(); };
    std::string unpadded = minimalFont().table("post", postTable(0x00030000) + "x").build(); // 'post' comes last
    unpadded.resize(unpadded.size() - 3);
    std::string names = nameTable({macName(4, "Full"), macName(6, "PS")}), tooManyNames = names;
    tooManyNames[3] = 9;

    const struct {
        const char* what;
        std::string bytes;
        int error; // 0: loads
    } cases[] = {
        {"version 'true'", minimalFont().version(0x74727565).build(), 0},
        {"11 bytes", good.substr(0, 11), 12},
        {"OTTO", minimalFont().version(0x4F54544F).build(), 12},
        {"12 bytes, no tables", SfntBuilder().build(), 7},
        {"one byte after the tables", good + "x", 5},
        {"last table without its padding", unpadded, 5},
        {"count beyond the file", with(4, 0x7FFF, false), 5},
        {"lengths add up to more", with(24, 28, true), 5},
        {"table past the end", with(20, static_cast<std::uint32_t>(good.size() - 20), true), 5},
        {"offset + length wraps", with(20, 0xFFFFFFF0u, true), 5},
        {"no name", minimalFont().remove("name").build(), 7},
        {"no maxp", minimalFont().remove("maxp").build(), 7},
        {"no head", minimalFont().remove("head").build(), 7},
        {"no loca", minimalFont().remove("loca").build(), 7},
        {"loca offsets beyond an absent glyf", minimalFont().remove("glyf").remove("post").build(), 4},
        {"empty glyphs need no glyf", minimalFont().remove("glyf").table("loca", locaTable({0, 0, 0, 0, 0})).build(), 0},
        {"maxp cut short", minimalFont().table("maxp", maxpTable(4).substr(0, 5)).build(), 4},
        {"head cut short", minimalFont().table("head", headTable().substr(0, 51)).build(), 4},
        {"loca without room for one entry", minimalFont().table("loca", "\0"s).build(), 4},
        {"last glyph ends a byte past glyf",
         minimalFont().table("head", headTable(1)).table("loca", locaTable({0, 0, 0, 12, 25}, true)).build(), 4},
        {"more name records than the table holds", withName(tooManyNames), 4},
        {"last name string cut short", withName(names.substr(0, names.size() - 1)), 4},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.write("font.ttf", c.bytes);
        try {
            TrueTypeFont font(path.c_str());
            EXPECT_EQ(c.error, 0) << c.what << ": loaded";
        } catch (int code) {
            EXPECT_EQ(code, c.error) << c.what;
        }
    }
}

TEST(TrueTypeFont, RefusesPathsItCannotRead)
{
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(thrown<int>([] { TrueTypeFont font(nullptr); }), 1);
    // A FIFO is refused without waiting for a writer.
    for (const std::string& path : {dir.file("missing.ttf"), dir.path(), fifo})
        EXPECT_EQ(thrown<int>([&] { TrueTypeFont font(path.c_str()); }), 1) << path;
}

TEST(TrueTypeFont, AssignAndResetMoveBetweenLoadedAndUnloaded)
{
    TempDir dir;
    const std::string good = dir.write("good.ttf", minimalFont().build());
    // Refused after the directory and the names have been read.
    const std::string bad = dir.write("bad.ttf", minimalFont().table("head", headTable(2)).build());
    TrueTypeFont font(good.c_str());
    EXPECT_EQ(thrown<int>([&] { font.Assign(bad.c_str()); }), 10) << "an unknown loca format";
    EXPECT_TRUE(!font.IsLoaded() && !font.fileName() && !font.GetTable(tagName));
    font.Reset();
    font.Assign(good.c_str());
    EXPECT_EQ(font.glyphCount(), 4);
    font.Reset();
    EXPECT_TRUE(!font.IsLoaded() && font.glyphCount() == 0);
    EXPECT_STREQ(font.namingTable().postScriptName(), "Minimal-Regular") << "names outlive the mapping";
}

TEST(TrueTypeFont, ErrorTextsAndTags)
{
    // The CLI tests check the texts of 1, 5 and 12.
    EXPECT_STREQ(TrueTypeFont::message(4), "incorrect TrueType file");
    EXPECT_STREQ(TrueTypeFont::message(10), "invalid value of Index To Location Format");
    for (int code : {-1, 11, 13})
        EXPECT_STREQ(TrueTypeFont::message(code), "invalid error number") << code;
    EXPECT_EQ(ttTag(0x656D616Eu), TrueTypeTag("name"));
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

    EXPECT_EQ(written([](FILE* out) { NamingTable2().dump(out); }), "NamingTable2 {\n}\n") << "no fields before the first fill";
    dir.write("fonts/My Font.ttf", minimalFont().build());
    EXPECT_EQ(written([&](FILE* out) { TrueTypeFont(path.c_str()).namingTable().dump(out); }),
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
    pastTheLast.back() = 258 - 199; // index 258
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

// The fuzz target's seeds in fuzz/seeds/truetype/; KORRIN_WRITE_SEEDS=1 rewrites them.
TEST(FuzzSeeds, AreTheBuilderFontsAndLoad)
{
    const std::pair<const char*, SfntBuilder> seeds[] = {
        {"minimal.ttf", minimalFont()},
        {"post1-long-loca.ttf", minimalFont()
                                    .table("head", headTable(1))
                                    .table("loca", locaTable({0, 0, 0, 12, 24}, true))
                                    .table("post", postTable(0x00010000))},
        {"post2.ttf", minimalFont().table("post", postTable2({0, 258, 3, 259}, {"alpha", "beta"}))},
        {"post25-microsoft-names.ttf",
         minimalFont()
             .version(0x74727565)
             .table("name", nameTable({msName(0, "\xA9 nobody"), msName(4, "Caf\xE9"), msName(6, "Cafe")}))
             .table("post", postTable25({0, 1, 1, 1}))},
        // Complete enough for the Type 42 writer, with each cmap format.
        {"type42-format4.ttf", type42Font()},
        {"type42-format2-shiftjis.ttf",
         type42Font().table("cmap", cmapTable({{3, 2, cmapFormat2({{0x41, 2}, {0x8140, 1}, {0x8142, 3}}, 1)}}))},
        {"type42-format0-format6.ttf",
         type42Font().table("cmap", cmapTable({{1, 0, cmapFormat0({{0x41, 2}})}, {3, 1, cmapFormat6(0x41, {2, 3})}}))},
    };
    const std::string dir = KORRIN_SOURCE_DIR "/fuzz/seeds/truetype/";
    for (const auto& [name, font] : seeds) {
        const std::string bytes = font.build();
        if (std::getenv("KORRIN_WRITE_SEEDS"))
            std::ofstream(dir + name, std::ios::binary) << bytes;
        EXPECT_TRUE(readFile(dir + name) == bytes) << name << " differs from the builder's; KORRIN_WRITE_SEEDS=1 rewrites it";
        EXPECT_EQ(TrueTypeFont((dir + name).c_str()).glyphCount(), 4) << name;
    }
}

} // namespace
