// The Type 42 writer on fonts built for each case: the whole text of a small
// font, header fields, names, the sfnts strings and where they break, and
// the refusals that must come before any output. Ghostscript judges real
// fonts in gs_judge.py.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "convert/tt2ps.h"
#include "core/crctable.h"
#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "xlat/xman.h"

using namespace korrin;
using namespace korrin::test;
using namespace std::string_literals;

namespace {

// What a conversion wrote, and how it failed if it did.
struct Outcome {
    std::string text, path;
    std::optional<int> t42Error, fontError; // TT_ERROR codes + 1000, told apart from a plain int
};

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
        o.fontError = 1000 + code;
    }
    std::fclose(out);
    o.text.assign(data, size);
    std::free(data);
    return o;
}

Outcome convert(const SfntBuilder& font, int encoding = 1, bool longTables = false, const char* name = nullptr)
{
    static XlatManager tables(KORRIN_BINARY_DIR "/share/korrin/tables");
    return withFont(font.build(), [&](TrueTypeFont& f, FILE* out) {
        TrueType2Type42(f, encoding, &tables, out, longTables, name);
    });
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The sfnts strings' bytes, each with its final zero byte.
std::vector<std::string> sfntsStrings(const std::string& text)
{
    std::vector<std::string> strings;
    const std::size_t end = text.find("] def\n", text.find("/sfnts ["));
    for (std::size_t at = text.find('<', text.find("/sfnts [")); at < end; at = text.find('<', at)) {
        std::string bytes;
        for (++at; text[at] != '>'; ++at) {
            if (!std::isxdigit(static_cast<unsigned char>(text[at])))
                continue; // line breaks fall between digit pairs
            bytes += static_cast<char>(std::stoi(text.substr(at, 2), nullptr, 16));
            ++at;
        }
        strings.push_back(bytes);
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
    return unsigned(static_cast<unsigned char>(b[at])) << 24 | unsigned(static_cast<unsigned char>(b[at + 1])) << 16 |
           unsigned(static_cast<unsigned char>(b[at + 2])) << 8 | static_cast<unsigned char>(b[at + 3]);
}

// The 16-byte directory entry of a table of an sfnt file, and the table.
std::string entryOf(const std::string& file, const std::string& tag)
{
    for (unsigned i = 0; i < (u32At(file, 4) >> 16); ++i)
        if (file.compare(12 + 16 * i, 4, tag) == 0)
            return file.substr(12 + 16 * i, 16);
    return "";
}
std::string tableOf(const std::string& file, const std::string& tag)
{
    const std::string entry = entryOf(file, tag);
    return entry.empty() ? "(absent)" : file.substr(u32At(entry, 8), u32At(entry, 12));
}

const char* const nine[] = {"cvt ", "fpgm", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "prep"};

TEST(TrueType2Type42, WritesTheWholeFontOfASmallFont)
{
    const std::string source = type42Font().build();
    const Outcome o = convert(type42Font());
    ASSERT_FALSE(o.t42Error || o.fontError);

    std::string encoding;
    for (int c = 0; c < 256; ++c)
        encoding += "dup " + std::to_string(c) + " /" +
                    (c == 0x20 ? "space" : c == 0x41 ? "A" : c == 0x42 ? "Bee" : ".notdef") + " put\n";
    // The new file: offset table, nine entries with the source's checksums
    // and lengths, the tables padded to 4 bytes ('fpgm' has 5).
    std::string sfnt = "\x00\x01\x00\x00\x00\x09\x00\x80\x00\x03\x00\x10"s, tables;
    for (const char* tag : nine) {
        const std::string table = tableOf(source, tag);
        sfnt += tag + entryOf(source, tag).substr(4, 4);
        put32(sfnt, static_cast<std::uint32_t>(12 + 9 * 16 + tables.size()));
        put32(sfnt, static_cast<std::uint32_t>(table.size()));
        tables += table + std::string((4 - table.size() % 4) % 4, '\0');
    }
    std::string hex;
    for (std::size_t i = 0; i < (sfnt + tables).size(); ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>((sfnt + tables)[i]));
        hex += pair + std::string(i % 32 == 31 ? "\n" : "");
    }
    EXPECT_EQ(o.text, "%!PS-TrueTypeFont-1.0-1.0\n"
                      "%- Generated from a TrueType font file: '" + o.path + "'\n"
                      "11 dict begin\n"
                      "/FontName /Minimal-Regular def\n"
                      "/PaintType 0 def\n"
                      "/FontMatrix [1 0 0 1 0 0] def\n"
                      "/FontBBox [0 -97 488 390] def\n"
                      "/FontType 42 def\n"
                      "/Encoding 256 array\n" + encoding + "readonly def\n"
                      "/sfnts [<\n" + hex + "00\n>\n] def\n"
                      "/CharStrings 4 dict dup begin\n"
                      "/.notdef 0 def\n/space 1 def\n/A 2 def\n/Bee 3 def\n"
                      "end readonly def\n"
                      "FontName currentdict end definefont pop\n");
}

TEST(TrueType2Type42, HeaderFields)
{
    std::string head = headTable(0);
    set16(head, 4, 1);     // fontRevision 1.5: integer part 1,
    set16(head, 6, 32768); // fraction 32768
    set16(head, 36, static_cast<unsigned>(-1000)); // xMin
    std::string post = postTable(0x00030000);
    set16(post, 18, 1000); // minMemType42
    set16(post, 22, 2000); // maxMemType42
    const std::string text = convert(type42Font().table("head", head).table("post", post)).text;
    EXPECT_EQ(text.substr(0, text.find('\n')), "%!PS-TrueTypeFont-1.0-1.32768");
    EXPECT_TRUE(has(text, "\n%%VMUsage: 1000 2000\n%- Generated"));
    EXPECT_TRUE(has(text, "\n/FontBBox [-488 -97 488 390] def\n")) << "truncated toward zero";
    set16(post, 18, 0);
    EXPECT_FALSE(has(convert(type42Font().table("post", post)).text, "VMUsage")) << "one figure 0";
}

TEST(TrueType2Type42, FontName)
{
    EXPECT_TRUE(has(convert(type42Font(), 1, false, "Given-Name").text, "\n/FontName /Given-Name def\n"));
    EXPECT_TRUE(has(convert(type42Font(), 1, false, "").text, "\n/FontName /Minimal-Regular def\n"))
        << "an empty name counts as none";

    // An empty PostScript name record: "tt" and the file's CRC-32.
    const SfntBuilder unnamed = type42Font().table("name", nameTable({msName(6, "")}));
    const std::string bytes = unnamed.build();
    char expected[16];
    std::snprintf(expected, sizeof expected, "tt%08X", unsigned(crc32(bytes.data(), bytes.size())));
    EXPECT_TRUE(has(convert(unnamed).text, "\n/FontName /"s + expected + " def\n"));
}

TEST(TrueType2Type42, EncodingThroughATranslationTable)
{
    // U+0000 maps to glyph 3, so byte codes that ShiftJIS leaves unmapped
    // (lead bytes such as 0x81) name "Bee".
    const SfntBuilder font = type42Font().table(
        "cmap", cmapTable({{3, 1, cmapFormat4({{0, 0, 3, {}}, {0x41, 0x41, 2 - 0x41, {}}, {0xFFFF, 0xFFFF, 1, {}}})}}));
    const std::string text = convert(font, 2).text;
    EXPECT_TRUE(has(text, "\ndup 65 /A put\n"));
    EXPECT_TRUE(has(text, "\ndup 129 /Bee put\n"));
    EXPECT_TRUE(has(text, "\ndup 66 /.notdef put\n")) << "mapped, but not in the font";
}

TEST(TrueType2Type42, GlyphNames)
{
    // Format 3.0 names nothing: every Encoding entry and CharStrings key.
    std::string text = convert(type42Font().table("post", postTable(0x00030000))).text;
    EXPECT_FALSE(has(text.substr(0, text.find("/sfnts")), " put\ndup 32 /space"));
    EXPECT_TRUE(has(text, "\ndup 65 /.notdef put\n"));
    EXPECT_TRUE(has(text, "begin\n/.notdef 0 def\n/.notdef 1 def\n/.notdef 2 def\n/.notdef 3 def\nend"));

    // Format 2.0 with fewer names than glyphs: the rest are .notdef.
    text = convert(type42Font().table("post", postTable2({0, 258}, {"first"}))).text;
    EXPECT_TRUE(has(text, "begin\n/.notdef 0 def\n/first 1 def\n/.notdef 2 def\n/.notdef 3 def\nend"));

    // Format 1.0 names glyphs 0 to 257 only; the others get no entry, so that
    // .notdef stays glyph 0.
    const SfntBuilder many = type42Font()
                                 .table("maxp", maxpTable(260))
                                 .table("loca", locaTable(std::vector<std::uint32_t>(261, 0)))
                                 .table("glyf", "")
                                 .table("hmtx", std::string(4 * 260, '\1'))
                                 .table("post", postTable(0x00010000));
    text = convert(many).text;
    EXPECT_TRUE(has(text, "/CharStrings 260 dict dup begin\n/.notdef 0 def\n/.null 1 def\n"));
    EXPECT_TRUE(has(text, "\n/dmacron 257 def\nend readonly def\n"));
}

TEST(TrueType2Type42, LongTables)
{
    EXPECT_FALSE(convert(type42Font().table("hmtx", std::string(65534, '\x01'))).t42Error);
    const Outcome refused = convert(type42Font().table("hmtx", std::string(65535, '\x01')));
    EXPECT_EQ(refused.t42Error, 3);
    EXPECT_EQ(refused.text, "") << "refused before any output";

    const Outcome allowed = convert(type42Font().table("hmtx", std::string(70000, '\x01')), 1, true);
    const std::vector<std::string> strings = sfntsStrings(allowed.text);
    ASSERT_EQ(strings.size(), 3u) << "before hmtx, hmtx alone, after it";
    EXPECT_EQ(strings[1].size(), 70001u);
    EXPECT_EQ(tableOf(sfntsFile(allowed.text), "hmtx"), std::string(70000, '\x01'));
}

// A font with long 'loca' offsets and glyphs of these lengths.
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
        .table("hmtx", std::string(4 * n, '\1'));
}

// Converts; then each string must end with its zero byte after an even
// count of data bytes, and the strings must rebuild the source's tables.
// Returns the strings' sizes.
std::vector<std::size_t> wellFormedStrings(const SfntBuilder& font)
{
    const Outcome o = convert(font);
    EXPECT_FALSE(o.t42Error || o.fontError);
    std::vector<std::size_t> sizes;
    for (const std::string& s : sfntsStrings(o.text)) {
        EXPECT_EQ(s.back(), '\0');
        EXPECT_EQ((s.size() - 1) % 2, 0u);
        EXPECT_LE(s.size(), 65535u);
        sizes.push_back(s.size());
    }
    const std::string source = font.build(), file = sfntsFile(o.text);
    for (const char* tag : nine)
        EXPECT_EQ(tableOf(file, tag), tableOf(source, tag)) << tag;
    return sizes;
}

TEST(TrueType2Type42, GlyfSplitsAtGlyphBoundaries)
{
    // 168 bytes of header, 'cvt ' and 'fpgm', then 16 glyphs fill a string.
    EXPECT_EQ(wellFormedStrings(fontWithGlyphs(std::vector<std::uint32_t>(40, 4000))),
              (std::vector<std::size_t>{168 + 16 * 4000 + 1, 16 * 4000 + 1, 8 * 4000 + 456 + 1}));
    // Glyphs of 2101 bytes: the rule would end each string after 31 glyphs,
    // on odd data, so the strings end a glyph earlier.
    const std::vector<std::size_t> odd = wellFormedStrings(fontWithGlyphs(std::vector<std::uint32_t>(70, 2101)));
    ASSERT_EQ(odd.size(), 3u);
    EXPECT_EQ(odd[0], 168u + 30 * 2101 + 1);
    EXPECT_EQ(odd[1], 30u * 2101 + 1);
    // Offsets that start late, run backwards and stop short of the table.
    std::string glyf;
    for (int i = 0; i < 40; ++i)
        glyf += static_cast<char>(i);
    wellFormedStrings(type42Font().table("loca", locaTable({4, 20, 12, 28, 32})).table("glyf", glyf));
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
        {"unknown encoding", type42Font(), 99, 0, {}},
        {"no cmap", type42Font().remove("cmap"), 1, 2, {}},
        {"symbol cmap only", type42Font().table("cmap", cmapTable({{3, 0, cmapFormat6(0, {1})}})), 1, 2, {}},
        {"odd glyph, then no even boundary", fontWithGlyphs({1, 40000, 40000}), 1, 5, {}},
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
    EXPECT_FALSE(convert(fontWithGlyphs({1, 30000, 1, 40000})).t42Error) << "a second odd glyph evens the count";
}

TEST(TrueType2Type42, SfntsAndCharStringsWritersAlone)
{
    auto sfnts = [](TrueTypeFont& f, FILE* out) { f.dumpSfnts2(out, false); };
    auto charStrings = [](TrueTypeFont& f, FILE* out) { f.dumpCharStrings2(out); };
    EXPECT_EQ(withFont(type42Font().remove("fpgm").build(), sfnts).fontError, 6);
    EXPECT_EQ(withFont(type42Font().table("post", postTable(0x00040000)).build(), charStrings).fontError, 1000 + 8);
    EXPECT_EQ(withFont(type42Font().remove("post").build(), charStrings).fontError, 4);
}

} // namespace
