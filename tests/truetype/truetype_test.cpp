// Loading TrueType files: the structure checks, the glyph locations, the
// table lookups and the error texts, on fonts built for each case.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "truetype/truetype.h"

using namespace korrin;
using namespace korrin::test;
using namespace std::string_literals;

namespace {

constexpr unsigned tagGlyf = TrueTypeTag("glyf");

// The font error a load of these bytes throws, or 0 when it loads.
int loadError(const std::string& bytes)
{
    TempDir dir;
    std::string path = dir.write("font.ttf", bytes);
    try {
        TrueTypeFont font(path.c_str());
        EXPECT_TRUE(font.IsLoaded());
        return 0;
    } catch (int code) {
        return code;
    }
}

TEST(TrueTypeFont, LoadsAWellFormedFont)
{
    TempDir dir;
    SfntBuilder builder = minimalFont();
    std::string path = dir.write("Minimal.ttf", builder.build());
    TrueTypeFont font(path.c_str());

    EXPECT_TRUE(font.IsLoaded());
    EXPECT_STREQ(font.fileName(), path.c_str());
    EXPECT_EQ(font.fileSize(), std::filesystem::file_size(path));
    EXPECT_EQ(font.tableCount(), 6);
    EXPECT_TRUE(font.checkMinTables());
    EXPECT_FALSE(font.checkT42Tables());
    ASSERT_EQ(font.glyphCount(), 4);
    EXPECT_EQ(std::vector<std::uint32_t>(font.glyphOffsets(), font.glyphOffsets() + 5),
              (std::vector<std::uint32_t>{0, 0, 0, 12, 24}));

    const unsigned char* glyf = font.GetTable(tagGlyf);
    ASSERT_NE(glyf, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(glyf), font.GetTableSize(tagGlyf)), builder.get("glyf"));
    const TableDirectoryEntry* entry = font.GetDirEntry(TrueTypeTag("name"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->checkSum, tableChecksum(builder.get("name")));
    EXPECT_EQ(entry->length, builder.get("name").size());
    EXPECT_EQ(font.GetTableData(TrueTypeTag("maxp")).u16(4), 4);
}

TEST(TrueTypeFont, AbsentTableIsNullAndReadingItThrows4)
{
    TempDir dir;
    TrueTypeFont font(dir.write("f.ttf", minimalFont().build()).c_str());
    const unsigned cmap = TrueTypeTag("cmap");
    EXPECT_EQ(font.GetTable(cmap), nullptr);
    EXPECT_EQ(font.GetTableSize(cmap), 0u);
    EXPECT_EQ(font.GetDirEntry(cmap), nullptr);
    EXPECT_TRUE(font.GetTableData(cmap).empty());
    try {
        font.GetTableData(cmap).u16(0);
        FAIL() << "read of an absent table";
    } catch (int code) {
        EXPECT_EQ(code, 4);
    }
}

TEST(TrueTypeFont, KnowsTheType42Tables)
{
    TempDir dir;
    SfntBuilder font = minimalFont();
    for (const char* tag : {"cvt ", "fpgm", "hhea", "hmtx", "prep"})
        font.table(tag, "abcd");
    TrueTypeFont loaded(dir.write("f.ttf", font.build()).c_str());
    EXPECT_TRUE(loaded.checkT42Tables());
}

TEST(TrueTypeFont, AcceptsTheVersionTrue)
{
    EXPECT_EQ(loadError(minimalFont().version(0x74727565).build()), 0);
}

TEST(TrueTypeFont, RefusesFilesThatAreNotTrueType)
{
    std::string font = minimalFont().build();
    EXPECT_EQ(loadError(font.substr(0, 11)), 12) << "11 bytes";
    EXPECT_EQ(loadError(""), 12) << "empty file";
    EXPECT_EQ(loadError(minimalFont().version(0x4F54544F).build()), 12) << "OTTO";
    EXPECT_EQ(loadError(SfntBuilder().build()), 7) << "12 bytes, no tables";
}

TEST(TrueTypeFont, RefusesADirectoryThatDoesNotAccountForTheFile)
{
    EXPECT_EQ(loadError(minimalFont().trailing("x").build()), 5) << "one extra byte";
    EXPECT_EQ(loadError(minimalFont().table("post", postTable(0x00030000) + "x").unpaddedEnd().build()), 5)
        << "last table without its padding";
    EXPECT_EQ(loadError(minimalFont().statedTableCount(7).build()), 5) << "count too high";
    EXPECT_EQ(loadError(minimalFont().statedTableCount(-1).build()), 5) << "negative count";
    EXPECT_EQ(loadError(minimalFont().statedTableCount(0x7FFF).build()), 5) << "count beyond the file";
    EXPECT_EQ(loadError(minimalFont().statedLength("glyf", 28).build()), 5) << "lengths add up to more";
}

TEST(TrueTypeFont, RefusesTablesOutsideTheFile)
{
    std::size_t size = minimalFont().build().size();
    EXPECT_EQ(loadError(minimalFont().statedOffset("glyf", static_cast<std::uint32_t>(size - 20)).build()), 5);
    EXPECT_EQ(loadError(minimalFont().statedOffset("glyf", 0xFFFFFFF0u).build()), 5) << "offset + length wraps";
    // Pointing at the wrong bytes inside the file is not detectable here:
    // the 'glyf' bytes may be anything.
    EXPECT_EQ(loadError(minimalFont().statedOffset("glyf", 0).build()), 0);
}

TEST(TrueTypeFont, RefusesAFontWithoutAnEssentialTable)
{
    for (const char* tag : {"name", "maxp", "head", "loca"})
        EXPECT_EQ(loadError(minimalFont().remove(tag).build()), 7) << tag;
    EXPECT_EQ(loadError(minimalFont().remove("glyf").remove("post").build()), 4)
        << "loca offsets beyond an absent glyf";
    EXPECT_EQ(loadError(minimalFont().remove("glyf").table("loca", locaTable({0, 0, 0, 0, 0})).build()), 0)
        << "empty glyphs need no glyf";
}

TEST(TrueTypeFont, RefusesFieldsOutsideTheirTables)
{
    EXPECT_EQ(loadError(minimalFont().table("maxp", maxpTable(4).substr(0, 5)).build()), 4);
    EXPECT_EQ(loadError(minimalFont().table("head", headTable().substr(0, 51)).build()), 4);
    EXPECT_EQ(loadError(minimalFont().table("loca", "\0"s).build()), 4) << "no room for one entry";
    EXPECT_EQ(loadError(minimalFont().table("loca", locaTable({0, 0, 0, 12, 26})).build()), 4)
        << "last glyph ends past glyf";
}

TEST(TrueTypeFont, RefusesAnUnknownLocaFormatAndStaysUnloaded)
{
    TempDir dir;
    std::string path = dir.write("f.ttf", minimalFont().table("head", headTable(2)).build());
    TrueTypeFont font;
    try {
        font.Assign(path.c_str());
        FAIL() << "loaded";
    } catch (int code) {
        EXPECT_EQ(code, 10);
    }
    EXPECT_FALSE(font.IsLoaded());
    EXPECT_EQ(font.fileName(), nullptr);
}

TEST(TrueTypeFont, ReadsLongLocaOffsets)
{
    TempDir dir;
    std::string glyf(0x20000, '\0');
    TrueTypeFont font(dir.write("f.ttf", minimalFont()
                                             .table("head", headTable(1))
                                             .table("glyf", glyf)
                                             .table("loca", locaTable({0, 0, 0x1FFFE, 0x1FFFF, 0x20000}, true))
                                             .build())
                          .c_str());
    EXPECT_EQ(font.glyphOffsets()[2], 0x1FFFEu);
    EXPECT_EQ(font.glyphOffsets()[3], 0x1FFFFu) << "long offsets need not be even";
}

TEST(TrueTypeFont, ShortLocaLowersTheGlyphCount)
{
    TempDir dir;
    auto count = [&](const std::string& loca, unsigned maxp) {
        TrueTypeFont font(dir.write("f.ttf", minimalFont().table("loca", loca).table("maxp", maxpTable(maxp)).build()).c_str());
        return font.glyphCount();
    };
    EXPECT_EQ(count(locaTable({0, 0, 12}), 4), 2);
    EXPECT_EQ(count(locaTable({0}), 4), 0) << "one entry: no glyph";
    EXPECT_EQ(count(locaTable({0, 0, 12}) + "\x01", 4), 2) << "a stray odd byte is no entry";
    EXPECT_EQ(count(locaTable({0, 0, 0, 12, 24}), 2), 2) << "a longer loca does not raise it";
}

TEST(TrueTypeFont, RefusesPathsItCannotRead)
{
    TempDir dir;
    auto error = [](const char* path) {
        try {
            TrueTypeFont font(path);
            return 0;
        } catch (int code) {
            return code;
        }
    };
    EXPECT_EQ(error(nullptr), 1);
    EXPECT_EQ(error(dir.file("missing.ttf").c_str()), 1);
    EXPECT_EQ(error(dir.path().c_str()), 1) << "a directory";
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(error(fifo.c_str()), 1) << "a FIFO, refused without waiting for a writer";
}

TEST(TrueTypeFont, AssignAndResetMoveBetweenLoadedAndUnloaded)
{
    TempDir dir;
    std::string good = dir.write("good.ttf", minimalFont().build());
    std::string bad = dir.write("bad.ttf", "not a font at all");
    TrueTypeFont font(good.c_str());
    EXPECT_THROW(font.Assign(bad.c_str()), int);
    EXPECT_FALSE(font.IsLoaded());
    EXPECT_EQ(font.GetTable(TrueTypeTag("name")), nullptr);
    font.Reset();
    font.Reset();
    font.Assign(good.c_str());
    EXPECT_TRUE(font.IsLoaded());
    EXPECT_EQ(font.glyphCount(), 4);
    font.Reset();
    EXPECT_FALSE(font.IsLoaded());
    EXPECT_EQ(font.glyphCount(), 0);
    EXPECT_STREQ(font.namingTable().postScriptName(), "Minimal-Regular") << "names outlive the mapping";
}

TEST(TrueTypeFont, ErrorTexts)
{
    EXPECT_STREQ(TrueTypeFont::message(0), "");
    EXPECT_STREQ(TrueTypeFont::message(1), "error accessing file");
    EXPECT_STREQ(TrueTypeFont::message(4), "incorrect TrueType file");
    EXPECT_STREQ(TrueTypeFont::message(5), "incorrect TrueType file size");
    EXPECT_STREQ(TrueTypeFont::message(7),
                 "some essential TrueType tables ('name', 'maxp', 'head', 'loca') are missing");
    EXPECT_STREQ(TrueTypeFont::message(10), "invalid value of Index To Location Format");
    EXPECT_STREQ(TrueTypeFont::message(12), "not a TrueType font");
    for (int code : {11, 13, 14, -1, 1 << 30})
        EXPECT_STREQ(TrueTypeFont::message(code), "invalid error number") << code;
}

TEST(TrueTypeFont, TagValues)
{
    EXPECT_EQ(ttTag(0x656D616Eu), TrueTypeTag("name"));
    EXPECT_TRUE(std::is_sorted(std::begin(TrueTypeFont::tags), std::end(TrueTypeFont::tags))) << "as sfnts wants them";
}

// Every Debian font the project depends on loads with all its glyphs.
TEST(TrueTypeFont, LoadsTheSystemFonts)
{
    int loaded = 0;
    for (const char* dir : {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/opentype/ipafont-gothic"}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            TrueTypeFont font(entry.path().c_str());
            unsigned maxp = font.GetTableData(TrueTypeTag("maxp")).u16(4);
            EXPECT_EQ(font.glyphCount(), int(maxp)) << entry.path();
            ++loaded;
        }
    }
    EXPECT_GE(loaded, 3);
}

} // namespace
