// The Type 42 writer on fonts built for each case: the whole text of a small
// font, the header fields, the sfnts strings and their breaks, the
// CharStrings names, and the refusals that must come before any output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>

#include "convert/tt2ps.h"
#include "core/crctable.h"
#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "xlat/xman.h"

using namespace korrin;
using namespace korrin::test;
using namespace std::string_literals;

namespace {

XlatManager& shippedTables()
{
    static XlatManager tables(KORRIN_BINARY_DIR "/share/korrin/tables");
    return tables;
}

// What a conversion wrote, and how it failed if it did.
struct Outcome {
    std::string text;
    std::optional<int> t42Error, fontError;
    std::string path;
};

// Runs `body(font, out)` on the built font loaded from a file.
template <class Body>
Outcome withFont(const std::string& bytes, Body body)
{
    static TempDir dir;
    static int serial = 0;
    Outcome o;
    o.path = dir.write("font" + std::to_string(++serial) + ".ttf", bytes);
    TrueTypeFont font(o.path.c_str());
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    try {
        body(font, out);
    } catch (const TT2T42Error& e) {
        o.t42Error = e.code;
    } catch (int code) {
        o.fontError = code;
    } catch (TrueTypeFont::TT_ERROR code) {
        o.fontError = 1000 + code; // told apart from a plain int
    }
    std::fclose(out);
    o.text.assign(data, size);
    std::free(data);
    return o;
}

Outcome convert(const SfntBuilder& font, int encoding = 1, bool longTables = false, const char* name = nullptr)
{
    return withFont(font.build(), [&](TrueTypeFont& f, FILE* out) {
        TrueType2Type42(f, encoding, &shippedTables(), out, longTables, name);
    });
}

// The sfnts strings' bytes, each with its final zero byte.
std::vector<std::string> sfntsStrings(const std::string& text)
{
    const std::size_t begin = text.find("/sfnts ["), end = text.find("] def\n", begin);
    std::vector<std::string> strings;
    std::string current;
    bool open = false;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c == '<') {
            open = true;
            current.clear();
        } else if (c == '>') {
            open = false;
            strings.push_back(current);
        } else if (open && std::isxdigit(static_cast<unsigned char>(c))) {
            current += c;
        }
    }
    for (std::string& s : strings) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < s.size(); i += 2)
            bytes += static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16));
        s = bytes;
    }
    return strings;
}

// The TrueType file the strings carry.
std::string sfntsFile(const std::string& text)
{
    std::string file;
    for (const std::string& s : sfntsStrings(text))
        file += s.substr(0, s.size() - 1);
    return file;
}

unsigned u32At(const std::string& b, std::size_t at)
{
    unsigned v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// The 16-byte directory entry of a table of an sfnt file, or "".
std::string entryOf(const std::string& file, const std::string& tag)
{
    const unsigned count = static_cast<unsigned char>(file[4]) << 8 | static_cast<unsigned char>(file[5]);
    for (unsigned i = 0; i < count; ++i)
        if (file.compare(12 + 16 * i, 4, tag) == 0)
            return file.substr(12 + 16 * i, 16);
    return "";
}

// The table with this tag of an sfnt file, found through its directory.
std::string tableOf(const std::string& file, const std::string& tag)
{
    const std::string entry = entryOf(file, tag);
    return entry.empty() ? "(absent)" : file.substr(u32At(entry, 8), u32At(entry, 12));
}

// Hexadecimal text as the writer lays it out: 64 digits to a line.
std::string hexLines(const std::string& bytes)
{
    std::string out;
    char pair[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bytes[i]));
        out += pair;
        if (i % 32 == 31)
            out += '\n';
    }
    return out;
}

std::string padded(const std::string& table) { return table + std::string((4 - table.size() % 4) % 4, '\0'); }

TEST(TrueType2Type42, WritesTheWholeFontOfASmallFont)
{
    const SfntBuilder builder = type42Font();
    const std::string source = builder.build();
    const Outcome o = withFont(source, [](TrueTypeFont& f, FILE* out) {
        TrueType2Type42(f, 1, &shippedTables(), out, false, nullptr);
    });
    ASSERT_FALSE(o.t42Error || o.fontError);

    std::string encoding;
    for (int c = 0; c < 256; ++c) {
        const char* name = c == 0x20 ? "space" : c == 0x41 ? "A" : c == 0x42 ? "Bee" : ".notdef";
        encoding += "dup " + std::to_string(c) + " /" + name + " put\n";
    }
    // The new file: offset table, nine entries with the source's checksums
    // and lengths, the tables padded to 4 bytes.
    const char* nine[] = {"cvt ", "fpgm", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "prep"};
    std::string sfnt = "\x00\x01\x00\x00\x00\x09\x00\x80\x00\x03\x00\x10"s, tables;
    for (const char* tag : nine) {
        const std::string table = tableOf(source, tag);
        sfnt += tag + entryOf(source, tag).substr(4, 4); // the checksum as stored
        put32(sfnt, static_cast<std::uint32_t>(12 + 9 * 16 + tables.size()));
        put32(sfnt, static_cast<std::uint32_t>(table.size()));
        tables += padded(table);
    }
    sfnt += tables;
    ASSERT_LT(sfnt.size(), 65534u);

    const std::string expected = "%!PS-TrueTypeFont-1.0-1.0\n"
                                 "%- Generated from a TrueType font file: '" + o.path + "'\n"
                                 "11 dict begin\n"
                                 "/FontName /Minimal-Regular def\n"
                                 "/PaintType 0 def\n"
                                 "/FontMatrix [1 0 0 1 0 0] def\n"
                                 "/FontBBox [0 -97 488 390] def\n"
                                 "/FontType 42 def\n"
                                 "/Encoding 256 array\n" + encoding + "readonly def\n"
                                 "/sfnts [<\n" + hexLines(sfnt) + "00\n>\n] def\n"
                                 "/CharStrings 4 dict dup begin\n"
                                 "/.notdef 0 def\n/space 1 def\n/A 2 def\n/Bee 3 def\n"
                                 "end readonly def\n"
                                 "FontName currentdict end definefont pop\n";
    EXPECT_EQ(o.text, expected);
}

TEST(TrueType2Type42, HeaderFields)
{
    std::string head = headTable(0);
    set16(head, 4, 1);      // fontRevision 1.5: integer part 1,
    set16(head, 6, 32768);  // fraction 32768
    set16(head, 36, static_cast<unsigned>(-1000)); // xMin
    std::string post = postTable(0x00030000);
    set16(post, 18, 1000);  // minMemType42
    set16(post, 22, 2000);  // maxMemType42
    const Outcome o = convert(type42Font().table("head", head).table("post", post));
    EXPECT_EQ(o.text.substr(0, o.text.find('\n')), "%!PS-TrueTypeFont-1.0-1.32768");
    EXPECT_NE(o.text.find("\n%%VMUsage: 1000 2000\n%- Generated"), std::string::npos);
    EXPECT_NE(o.text.find("\n/FontBBox [-488 -97 488 390] def\n"), std::string::npos) << "truncated toward zero";

    set16(post, 18, 0);
    EXPECT_EQ(convert(type42Font().table("post", post)).text.find("VMUsage"), std::string::npos)
        << "one figure 0";
    EXPECT_EQ(convert(type42Font()).text.find("VMUsage"), std::string::npos) << "both 0";
}

TEST(TrueType2Type42, FontName)
{
    EXPECT_NE(convert(type42Font(), 1, false, "Given-Name").text.find("\n/FontName /Given-Name def\n"),
              std::string::npos);
    EXPECT_NE(convert(type42Font(), 1, false, "").text.find("\n/FontName /Minimal-Regular def\n"), std::string::npos)
        << "an empty name counts as none";

    // An empty PostScript name record: "tt" and the file's CRC-32.
    const std::string bytes = type42Font().table("name", nameTable({msName(6, "")})).build();
    char expected[16];
    std::snprintf(expected, sizeof expected, "tt%08X", unsigned(crc32(bytes.data(), bytes.size())));
    const Outcome o = withFont(bytes, [](TrueTypeFont& f, FILE* out) {
        TrueType2Type42(f, 1, &shippedTables(), out, false, nullptr);
    });
    EXPECT_NE(o.text.find("\n/FontName /"s + expected + " def\n"), std::string::npos);
    withFont(bytes, [&](TrueTypeFont& f, FILE*) {
        EXPECT_STREQ(MakeTempName(f), expected);
        EXPECT_STREQ(MakeTempName(f), expected) << "the same file, the same name";
    });
}

TEST(TrueType2Type42, EncodingThroughATranslationTable)
{
    // U+0000 maps to glyph 3, so byte codes that ShiftJIS leaves unmapped
    // (lead bytes such as 0x81) name "Bee"; 0x41 is A in ShiftJIS too.
    const SfntBuilder font = type42Font().table(
        "cmap", cmapTable({{3, 1, cmapFormat4({{0, 0, 3, {}}, {0x41, 0x41, 2 - 0x41, {}}, {0xFFFF, 0xFFFF, 1, {}}})}}));
    const std::string text = convert(font, 2).text;
    EXPECT_NE(text.find("\ndup 65 /A put\n"), std::string::npos);
    EXPECT_NE(text.find("\ndup 129 /Bee put\n"), std::string::npos);
    EXPECT_NE(text.find("\ndup 66 /.notdef put\n"), std::string::npos) << "mapped, but not in the font";
}

TEST(TrueType2Type42, PostFormat3NamesEveryGlyphNotdef)
{
    const std::string text = convert(type42Font().table("post", postTable(0x00030000))).text;
    const std::string encoding = text.substr(text.find("/Encoding"), text.find("/sfnts") - text.find("/Encoding"));
    EXPECT_FALSE(std::regex_search(encoding, std::regex(R"(\ndup \d+ /[^.])")));
    EXPECT_NE(text.find("/CharStrings 4 dict dup begin\n/.notdef 0 def\n/.notdef 1 def\n/.notdef 2 def\n"
                        "/.notdef 3 def\nend"),
              std::string::npos);
}

TEST(TrueType2Type42, CharStringsNames)
{
    // Format 2.0 with fewer names than glyphs: the rest are .notdef.
    std::string text = convert(type42Font().table("post", postTable2({0, 258}, {"first"}))).text;
    EXPECT_NE(text.find("begin\n/.notdef 0 def\n/first 1 def\n/.notdef 2 def\n/.notdef 3 def\nend"),
              std::string::npos);

    // Format 1.0 names glyphs 0 to 257 only; the others get no entry, so
    // that .notdef stays glyph 0.
    std::vector<std::uint32_t> offsets(261, 0);
    const SfntBuilder many = type42Font()
                                 .table("maxp", maxpTable(260))
                                 .table("loca", locaTable(offsets))
                                 .table("glyf", "")
                                 .table("hmtx", hmtxTable(260))
                                 .table("post", postTable(0x00010000));
    text = convert(many).text;
    EXPECT_NE(text.find("/CharStrings 260 dict dup begin\n/.notdef 0 def\n/.null 1 def\n"), std::string::npos);
    EXPECT_NE(text.find("\n/dmacron 257 def\nend readonly def\n"), std::string::npos);

    // Format 2.5: standard name i + offset.
    text = convert(type42Font().table("post", postTable25({0, 2, 34, 34}))).text;
    EXPECT_NE(text.find("begin\n/.notdef 0 def\n/space 1 def\n/A 2 def\n/B 3 def\nend"), std::string::npos);
}

TEST(TrueType2Type42, TablePaddingAndOffsets)
{
    // 'fpgm' has 5 bytes: 3 zero bytes follow, and 'glyf' starts 8 later.
    const std::string file = sfntsFile(convert(type42Font()).text);
    const std::size_t fpgmEntry = 12 + 16 * 1, glyfEntry = 12 + 16 * 2;
    ASSERT_EQ(file.compare(fpgmEntry, 4, "fpgm"), 0);
    const unsigned fpgmAt = u32At(file, fpgmEntry + 8);
    EXPECT_EQ(u32At(file, fpgmEntry + 12), 5u);
    EXPECT_EQ(u32At(file, glyfEntry + 8), fpgmAt + 8);
    EXPECT_EQ(file.substr(fpgmAt + 5, 3), "\0\0\0"s);
    EXPECT_EQ(u32At(file, 12 + 8), 156u) << "the first table follows the nine entries";
    EXPECT_EQ(file.size() % 4, 0u);
}

TEST(TrueType2Type42, LongTables)
{
    const SfntBuilder at = type42Font().table("hmtx", std::string(65534, '\x01'));
    const SfntBuilder over = type42Font().table("hmtx", std::string(65535, '\x01'));
    EXPECT_FALSE(convert(at).t42Error);
    const Outcome refused = convert(over);
    EXPECT_EQ(refused.t42Error, 3);
    EXPECT_EQ(refused.text, "") << "refused before any output";

    const Outcome allowed = convert(type42Font().table("hmtx", std::string(70000, '\x01')), 1, true);
    ASSERT_FALSE(allowed.t42Error || allowed.fontError);
    const std::vector<std::string> strings = sfntsStrings(allowed.text);
    ASSERT_EQ(strings.size(), 3u) << "before hmtx, hmtx alone, after it";
    EXPECT_EQ(strings[1].size(), 70001u);
    EXPECT_EQ(tableOf(sfntsFile(allowed.text), "hmtx"), std::string(70000, '\x01'));
}

// A font with these glyph lengths (long 'loca' offsets), each glyph filled
// with its own number.
SfntBuilder fontWithGlyphs(const std::vector<std::uint32_t>& lengths)
{
    std::string glyf;
    std::vector<std::uint32_t> offsets{0};
    for (std::size_t g = 0; g < lengths.size(); ++g) {
        glyf.append(lengths[g], static_cast<char>(g + 1));
        offsets.push_back(static_cast<std::uint32_t>(glyf.size()));
    }
    const unsigned n = static_cast<unsigned>(lengths.size());
    return type42Font()
        .table("head", headTable(1))
        .table("maxp", maxpTable(n))
        .table("loca", locaTable(offsets, true))
        .table("glyf", glyf)
        .table("hmtx", hmtxTable(n));
}

// Each string ends with its zero byte after an even count of data bytes, and
// the strings rebuild the source's tables.
void expectWellFormedStrings(const Outcome& o, const SfntBuilder& font)
{
    const std::string source = font.build();
    ASSERT_FALSE(o.t42Error || o.fontError);
    const std::vector<std::string> strings = sfntsStrings(o.text);
    for (const std::string& s : strings) {
        ASSERT_FALSE(s.empty());
        EXPECT_EQ(s.back(), '\0');
        EXPECT_EQ((s.size() - 1) % 2, 0u);
        EXPECT_LE(s.size(), 65535u);
    }
    const std::string file = sfntsFile(o.text);
    for (const char* tag : {"cvt ", "fpgm", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "prep"})
        EXPECT_EQ(tableOf(file, tag), tableOf(source, tag)) << tag;
}

TEST(TrueType2Type42, GlyfSplitsAtGlyphBoundaries)
{
    const SfntBuilder font = fontWithGlyphs(std::vector<std::uint32_t>(40, 4000));
    const Outcome o = convert(font);
    expectWellFormedStrings(o, font);
    const std::vector<std::string> strings = sfntsStrings(o.text);
    ASSERT_EQ(strings.size(), 3u);
    // 168 bytes of header, 'cvt ' and 'fpgm', then 16 glyphs fit the first.
    EXPECT_EQ(strings[0].size(), 168u + 16 * 4000 + 1);
    EXPECT_EQ(strings[1].size(), 16u * 4000 + 1);
}

TEST(TrueType2Type42, OddGlyphDataEndsStringsEarly)
{
    // Glyphs of 2101 bytes: every other boundary is odd, and so is the one
    // after the 31st glyph, where the rule would end each string.
    const SfntBuilder font = fontWithGlyphs(std::vector<std::uint32_t>(70, 2101));
    const Outcome o = convert(font);
    expectWellFormedStrings(o, font);
    const std::vector<std::string> strings = sfntsStrings(o.text);
    ASSERT_EQ(strings.size(), 3u);
    EXPECT_EQ(strings[0].size(), 168u + 30 * 2101 + 1) << "30 glyphs, though a 31st would fit";
    EXPECT_EQ(strings[1].size(), 30u * 2101 + 1);
}

TEST(TrueType2Type42, RefusesOddDataWithNoEvenBoundary)
{
    // One odd glyph, then even ones: after it, no boundary is even.
    const Outcome o = convert(fontWithGlyphs({1, 40000, 40000}));
    EXPECT_EQ(o.t42Error, TT2T42Error::oddStringData);
    EXPECT_EQ(o.text, "");
    EXPECT_FALSE(convert(fontWithGlyphs({1, 30000, 1, 40000})).t42Error) << "a second odd glyph evens the count";
}

TEST(TrueType2Type42, GlyfBytesOutsideTheGlyphsStillArrive)
{
    // Offsets that start late, run backwards and stop short of the table.
    std::string glyf;
    for (int i = 0; i < 40; ++i)
        glyf += static_cast<char>(i);
    const SfntBuilder font = type42Font().table("loca", locaTable({4, 20, 12, 28, 32})).table("glyf", glyf);
    const Outcome o = convert(font);
    expectWellFormedStrings(o, font);
}

TEST(TrueType2Type42, RefusesBeforeWritingAnything)
{
    struct Case {
        const char* what;
        SfntBuilder font;
        int encoding;
        std::optional<int> t42Error, fontError;
    };
    std::string noEm = headTable(0);
    set16(noEm, 18, 0);
    const Case cases[] = {
        {"no prep", type42Font().remove("prep"), 1, 4, {}},
        {"no cvt", type42Font().remove("cvt "), 1, 4, {}},
        {"no hmtx", type42Font().remove("hmtx"), 1, 4, {}},
        {"unknown encoding", type42Font(), 99, 0, {}},
        {"no cmap", type42Font().remove("cmap"), 1, 2, {}},
        {"symbol cmap only", type42Font().table("cmap", cmapTable({{3, 0, cmapFormat6(0, {1})}})), 1, 2, {}},
        {"unitsPerEm 0", type42Font().table("head", noEm), 1, {}, 4},
        {"no post", type42Font().remove("post"), 1, {}, 4},
        {"short post", type42Font().table("post", postTable(0x00030000).substr(0, 20)), 1, {}, 4},
        {"unknown post format", type42Font().table("post", postTable(0x00040000)), 1, {}, 1000 + 4},
        {"name past the post strings", type42Font().table("post", postTable2({0, 259}, {"x"})), 1, {}, 1000 + 4},
    };
    for (const Case& c : cases) {
        const Outcome o = convert(c.font, c.encoding);
        EXPECT_EQ(o.t42Error, c.t42Error) << c.what;
        EXPECT_EQ(o.fontError, c.fontError) << c.what;
        EXPECT_EQ(o.text, "") << c.what;
    }
}

TEST(TrueType2Type42, SfntsAndCharStringsWritersAlone)
{
    Outcome o = withFont(type42Font().remove("fpgm").build(), [](TrueTypeFont& f, FILE* out) { f.dumpSfnts2(out, false); });
    EXPECT_EQ(o.fontError, 6);
    EXPECT_EQ(o.text, "");
    o = withFont(type42Font().build(), [](TrueTypeFont& f, FILE* out) { f.dumpSfnts2(out, false); });
    EXPECT_EQ(o.text.substr(0, 10), "/sfnts [<\n");
    EXPECT_EQ(o.text.substr(o.text.size() - 11), "00\n>\n] def\n");

    o = withFont(type42Font().table("post", postTable(0x00040000)).build(),
                 [](TrueTypeFont& f, FILE* out) { f.dumpCharStrings2(out); });
    EXPECT_EQ(o.fontError, 1000 + 8);
    o = withFont(type42Font().remove("post").build(), [](TrueTypeFont& f, FILE* out) { f.dumpCharStrings2(out); });
    EXPECT_EQ(o.fontError, 4);
}

TEST(TT2T42Error, EveryCodeHasASentence)
{
    for (int code = 0; code <= 5; ++code)
        EXPECT_STRNE(TT2T42Error::message(code), "invalid error number") << code;
    EXPECT_STREQ(TT2T42Error::message(6), "invalid error number");
}

} // namespace
