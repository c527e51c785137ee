// The names a font gives: the naming table's six strings with their
// fallbacks, and the glyph names of every 'post' format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
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

// Loads the minimal font with this 'name' table and returns what it read.
struct LoadedNames {
    TempDir dir;
    TrueTypeFont font;
    explicit LoadedNames(const std::string& name, const std::string& file = "f.ttf")
    {
        std::filesystem::create_directories(std::filesystem::path(dir.file(file)).parent_path());
        font.Assign(dir.write(file, minimalFont().table("name", name).build()).c_str());
    }
    const NamingTable2& names() const { return font.namingTable(); }
};

// A path with every character but ASCII letters and digits made "_".
std::string mangled(std::string path)
{
    for (char& c : path)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return path;
}

int nameError(const std::string& name)
{
    try {
        LoadedNames loaded(name);
        return 0;
    } catch (int code) {
        return code;
    }
}

TEST(NamingTable2, ReadsTheSixNames)
{
    TempDir dir;
    TrueTypeFont font(dir.write("f.ttf", minimalFont().build()).c_str());
    const NamingTable2& n = font.namingTable();
    EXPECT_STREQ(n.postScriptName(), "Minimal-Regular");
    EXPECT_STREQ(n.fullName(), "Minimal Regular");
    EXPECT_STREQ(n.uniqueID(), "Minimal:1.0");
    EXPECT_STREQ(n.notice(), "Copyright nobody");
    EXPECT_STREQ(n.version(), "Version 1.0");
    EXPECT_STREQ(n.familyName(), "Minimal");
}

TEST(NamingTable2, MicrosoftRecordsGiveOneBytePerUnit)
{
    LoadedNames loaded(nameTable({msName(0, "\xA9 2024"), msName(1, "Fam"), msName(3, "Uid"),
                                  msName(4, "Caf\xE9 Bold"), msName(5, "1.5"), msName(6, "Cafe-Bold")}));
    const NamingTable2& n = loaded.names();
    EXPECT_STREQ(n.postScriptName(), "Cafe-Bold");
    EXPECT_STREQ(n.fullName(), "Caf\xE9 Bold");
    EXPECT_STREQ(n.uniqueID(), "Uid");
    EXPECT_STREQ(n.notice(), "\xA9 2024");
    EXPECT_STREQ(n.version(), "1.5");
    EXPECT_STREQ(n.familyName(), "Fam");
}

TEST(NamingTable2, PostScriptNamePrefersMicrosoftAndTheRestMacintosh)
{
    LoadedNames loaded(nameTable({macName(6, "MacPS"), msName(6, "WinPS"), macName(4, "Mac Full"),
                                  msName(4, "Win Full"), msName(0, "Win notice")}));
    EXPECT_STREQ(loaded.names().postScriptName(), "WinPS");
    EXPECT_STREQ(loaded.names().fullName(), "Mac Full");
    EXPECT_STREQ(loaded.names().notice(), "Win notice") << "second choice";
}

TEST(NamingTable2, IgnoresOtherPlatformsAndLanguages)
{
    LoadedNames loaded(nameTable({{3, 1, 1031, 6, "\0D\0E"s}, {0, 3, 0, 6, "\0U"s}, {3, 0, 1033, 4, "\0S"s},
                                  {1, 0, 0, 7, "Trademark"}}));
    EXPECT_STREQ(loaded.names().postScriptName(), mangled(loaded.dir.file("f.ttf")).c_str());
    EXPECT_STREQ(loaded.names().fullName(), loaded.names().postScriptName());
    EXPECT_STREQ(loaded.names().uniqueID(), "");
}

TEST(NamingTable2, MissingPostScriptNameComesFromThePath)
{
    LoadedNames loaded(nameTable({macName(1, "Family")}), "fonts/My Font.ttf");
    std::string expected = mangled(loaded.dir.file("fonts/My Font.ttf"));
    EXPECT_TRUE(expected.ends_with("_fonts_My_Font_ttf"));
    EXPECT_STREQ(loaded.names().postScriptName(), expected.c_str());
    EXPECT_STREQ(loaded.names().fullName(), expected.c_str()) << "the full name follows it";
    EXPECT_STREQ(loaded.names().uniqueID(), "");
    EXPECT_STREQ(loaded.names().notice(), "");
    EXPECT_STREQ(loaded.names().familyName(), "Family");
}

TEST(NamingTable2, KeepsTheFontsBytesUpToTheFirstZero)
{
    LoadedNames loaded(nameTable({macName(4, "Caf\x8E Noir"), msName(6, "A\0B"s), {3, 1, 1033, 0, "\0N\0"s}}));
    EXPECT_STREQ(loaded.names().fullName(), "Caf\x8E Noir") << "Macintosh bytes as they are";
    EXPECT_STREQ(loaded.names().postScriptName(), "A") << "U+0000 ends the copy";
    EXPECT_STREQ(loaded.names().notice(), "N") << "odd last byte dropped";
}

TEST(NamingTable2, RefusesRecordsOutsideTheTable)
{
    std::string good = nameTable({macName(4, "Full"), macName(6, "PS")});
    EXPECT_EQ(nameError(good), 0);
    std::string stringOutside = good;
    stringOutside[4 + 1] = char(0x40); // stringOffset past the end
    EXPECT_EQ(nameError(stringOutside), 4);
    std::string tooManyRecords = good;
    tooManyRecords[3] = 9;
    EXPECT_EQ(nameError(tooManyRecords), 4);
    EXPECT_EQ(nameError(good.substr(0, good.size() - 1)), 4) << "last string cut short";
    EXPECT_EQ(nameError(good.substr(0, 5)), 4);
    EXPECT_EQ(nameError(nameTable({})), 0);
}

TEST(NamingTable2, DumpListsTheFieldsThatAreSet)
{
    NamingTable2 empty;
    char* text = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    empty.dump(out);
    std::fclose(out);
    EXPECT_STREQ(text, "NamingTable2 {\n}\n");
    std::free(text);

    TempDir dir;
    TrueTypeFont font(dir.write("f.ttf", minimalFont().build()).c_str());
    out = open_memstream(&text, &size);
    font.namingTable().dump(out);
    std::fclose(out);
    EXPECT_STREQ(text, "NamingTable2 {\n"
                       "\tPostscript name: 'Minimal-Regular'\n"
                       "\tFull name: 'Minimal Regular'\n"
                       "\tUnique ID: 'Minimal:1.0'\n"
                       "\tNotice: 'Copyright nobody'\n"
                       "\tVersion: 'Version 1.0'\n"
                       "\tFamily name: 'Minimal'\n"
                       "}\n");
    std::free(text);
}

TEST(FindName, BinarySearchOverSortedRecords)
{
    std::vector<NameRecord> records;
    for (unsigned id = 0; id < 20; ++id) {
        records.push_back(macName(id, "m"));
        records.push_back(msName(id, "w"));
    }
    records.push_back({0, 3, 0, 1, "u"});
    records.push_back({3, 1, 0xFFFF, 0xFFFF, "x"});
    std::string table = nameTable(records);
    BigEndianSpan span = spanOf(table);
    unsigned short count = static_cast<unsigned short>(records.size());
    EXPECT_EQ(findname(span, count, 0, 3, 0, 1), 0);
    EXPECT_EQ(findname(span, count, 1, 0, 0, 0), 1);
    EXPECT_EQ(findname(span, count, 1, 0, 0, 19), 20);
    EXPECT_EQ(findname(span, count, 3, 1, 1033, 6), 27);
    EXPECT_EQ(findname(span, count, 3, 1, 0xFFFF, 0xFFFF), 41) << "keys compare unsigned";
    EXPECT_EQ(findname(span, count, 3, 1, 1033, 20), -1);
    EXPECT_EQ(findname(span, count, 2, 0, 0, 0), -1);
    EXPECT_EQ(findname(span, 0, 1, 0, 0, 0), -1);
    std::unique_ptr<char[]> text = nameExtract(span, 27, 1);
    EXPECT_STREQ(text.get(), "w");
}

// --- GlyphTable ---------------------------------------------------------------

std::vector<std::string> namesOf(const GlyphTable& table, int glyphs)
{
    std::vector<std::string> names;
    for (int g = 0; g < glyphs; ++g)
        names.push_back(GetGlyphByNumber(table, g));
    return names;
}

using Names = std::vector<std::string>;

TEST(GlyphTable, Format1NamesTheStandardGlyphs)
{
    std::string post = postTable(0x00010000);
    GlyphTable table(spanOf(post));
    EXPECT_TRUE(table.loaded());
    EXPECT_EQ(table.count(), 258);
    EXPECT_EQ(namesOf(table, 4), (Names{".notdef", ".null", "nonmarkingreturn", "space"}));
    EXPECT_STREQ(GetGlyphByNumber(table, 257), "dmacron");
    EXPECT_STREQ(GetGlyphByNumber(table, 258), ".notdef") << "no name past the standard ones";
}

TEST(GlyphTable, Format2MixesStandardNamesAndItsOwn)
{
    std::string post = postTable2({0, 258, 36, 260, 259, 3}, {"alpha", "beta", "gamma"});
    GlyphTable table(spanOf(post));
    EXPECT_EQ(table.count(), 6);
    EXPECT_EQ(namesOf(table, 7), (Names{".notdef", "alpha", "A", "gamma", "beta", "space", ".notdef"}));
}

TEST(GlyphTable, Format25OffsetsIntoTheStandardNames)
{
    std::string post = postTable25({0, 35, 35, 1, -1});
    GlyphTable table(spanOf(post));
    EXPECT_EQ(namesOf(table, 5), (Names{".notdef", "A", "B", "exclam", "space"}));
}

TEST(GlyphTable, Format3NamesNothing)
{
    std::string post = postTable(0x00030000);
    GlyphTable table(spanOf(post));
    EXPECT_TRUE(table.loaded());
    EXPECT_EQ(table.count(), 0);
    EXPECT_STREQ(GetGlyphByNumber(table, 0), ".notdef");
    EXPECT_EQ(table.Find(".notdef"), -1);
}

TEST(GlyphTable, RefusesUnknownFormatsAndBrokenTables)
{
    auto failure = [](const std::string& post) -> std::string {
        GlyphTable table(spanOf(postTable(0x00010000)));
        try {
            table.Assign(spanOf(post));
        } catch (TrueTypeFont::TT_ERROR code) {
            EXPECT_FALSE(table.loaded());
            EXPECT_EQ(table.count(), 0) << "emptied";
            return "TT_ERROR " + std::to_string(code);
        } catch (int code) {
            EXPECT_FALSE(table.loaded());
            return "int " + std::to_string(code);
        }
        return "loaded";
    };
    EXPECT_EQ(failure(postTable(0x00040000)), "TT_ERROR 4");
    EXPECT_EQ(failure(postTable(0x00020001)), "TT_ERROR 4");
    EXPECT_EQ(failure(postTable2({258, 259}, {"only"})), "TT_ERROR 4") << "index past the strings";
    EXPECT_EQ(failure(postTable25({-1})), "TT_ERROR 4") << "before the first standard name";
    std::vector<int> offsets(200, 0);
    offsets.back() = 127;
    EXPECT_EQ(failure(postTable25(offsets)), "TT_ERROR 4") << "past the last";
    std::string cut = postTable2({258}, {"abcdef"});
    EXPECT_EQ(failure(cut.substr(0, cut.size() - 1)), "int 4") << "string past the table";
    EXPECT_EQ(failure(postTable2({0, 1, 2}, {}).substr(0, 38)), "int 4") << "indices past the table";
    EXPECT_EQ(failure(postTable(0x00020000).substr(0, 30)), "int 4") << "no glyph count";
    EXPECT_EQ(failure(postTable2({258}, {""})), "loaded") << "an empty name is still a name";

    GlyphTable table;
    EXPECT_THROW(table.Assign(BigEndianSpan()), int) << "absent table";
}

TEST(GlyphTable, ManyOwnNamesStayFast)
{
    // Every glyph names the last of 20000 strings: walking the strings once
    // per glyph would take billions of steps.
    std::vector<unsigned> indices(20000, 258 + 19999);
    std::vector<std::string> names(20000, "n");
    names.back() = "last";
    std::string post = postTable2(indices, names);
    GlyphTable table(spanOf(post));
    EXPECT_STREQ(GetGlyphByNumber(table, 19999), "last");
}

TEST(GlyphTable, FindSortsFirstAndNumbersStayWithTheirNames)
{
    std::string post = postTable2({0, 260, 258, 259, 36}, {"zeta", "alpha", "mu"});
    GlyphTable table(spanOf(post));
    EXPECT_FALSE(table.sorted());
    int pos = table.Find("mu");
    EXPECT_TRUE(table.sorted());
    ASSERT_GE(pos, 0);
    EXPECT_STREQ(table.name(pos), "mu");
    EXPECT_EQ(table.glyph(pos), 1);
    EXPECT_EQ(table.Find(".notdef"), 0);
    EXPECT_EQ(table.Find("A"), 1);
    EXPECT_EQ(table.Find("nu"), -1);
    EXPECT_EQ(namesOf(table, 5), (Names{".notdef", "mu", "zeta", "alpha", "A"}));
}

TEST(GlyphTable, SortOrdersLargeTablesLikeStrcmp)
{
    std::mt19937 random(7);
    std::vector<std::string> names;
    std::vector<unsigned> indices;
    for (unsigned i = 0; i < 3000; ++i) {
        names.push_back("g" + std::to_string(random() % 500)); // with repeats
        indices.push_back(258 + i);
    }
    std::string post = postTable2(indices, names);
    GlyphTable table(spanOf(post));
    table.Sort();
    std::vector<std::string> sorted;
    for (int i = 0; i < table.count(); ++i) {
        sorted.push_back(table.name(i));
        EXPECT_EQ(names[table.glyph(i)], table.name(i));
    }
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end()));
}

TEST(GlyphTable, StreamOutput)
{
    std::string post = postTable25({0, 35});
    GlyphTable table(spanOf(post));
    std::ostringstream out;
    out << table;
    EXPECT_EQ(out.str(), "GlyphTable {\n\tNumber of glyphs: 2\n\t  0: '.notdef'\n\t  1: 'A'\n}\n\n");
}

} // namespace
