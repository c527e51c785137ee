// The Type 42 writer on built fonts: the whole text of a small font, header
// fields, names, where the sfnts strings break, and the refusals, which must
// come before any output; then the hexadecimal string writers. gs_judge.py
// has Ghostscript judge real fonts.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <sstream>

#include "convert/hformat.h"
#include "convert/tt2ps.h"
#include "core/crctable.h"
#include "support/sfnt_builder.h"
#include "support/tempdir.h"
#include "xlat/xman.h"

using namespace korrin;
using namespace korrin::test;
using namespace std::string_literals;

namespace {

struct Outcome {
    std::string text, path;
    std::optional<int> t42Error, fontError; // TT_ERROR codes + 1000, told apart from a plain int
};

// Loads the built font and runs write(font, stream).
template <class Write>
Outcome withFont(const SfntBuilder& builder, Write write)
{
    static TempDir dir;
    static int serial = 0;
    Outcome o;
    o.path = dir.write("font" + std::to_string(++serial) + ".ttf", builder.build());
    TrueTypeFont font(o.path.c_str());
    o.text = written([&](FILE* out) {
        try {
            write(font, out);
        } catch (const TT2T42Error& e) {
            o.t42Error = e.code;
        } catch (int code) {
            o.fontError = code;
        } catch (TrueTypeFont::TT_ERROR code) {
            o.fontError = 1000 + code;
        }
    });
    return o;
}

Outcome convert(const SfntBuilder& font, int encoding = 1, bool longTables = false, const char* name = nullptr)
{
    static XlatManager tables(KORRIN_BINARY_DIR "/share/korrin/tables");
    return withFont(font, [&](TrueTypeFont& f, FILE* out) { TrueType2Type42(f, encoding, &tables, out, longTables, name); });
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The sfnts strings' bytes, each with its final zero byte.
std::vector<std::string> sfntsStrings(const std::string& text)
{
    std::vector<std::string> strings;
    const std::size_t start = text.find("/sfnts ["), end = text.find("] def\n", start);
    for (std::size_t at = text.find('<', start); at < end; at = text.find('<', at)) {
        std::string bytes;
        for (++at; text[at] != '>'; ++at)
            if (std::isxdigit(static_cast<unsigned char>(text[at]))) // line breaks fall between digit pairs
                bytes += static_cast<char>(std::stoi(text.substr(at++, 2), nullptr, 16));
        strings.push_back(bytes);
    }
    return strings;
}

// The file that the sfnts strings of a font made from type42Font() carry.
std::string nineTables(SfntBuilder font) { return font.remove("cmap").remove("name").remove("post").build(); }

TEST(TrueType2Type42, WritesTheWholeFontOfASmallFont)
{
    const Outcome o = convert(type42Font());
    std::string encoding, hex;
    for (int c = 0; c < 256; ++c)
        encoding += "dup " + std::to_string(c) + " /" +
                    (c == 0x20 ? "space" : c == 0x41 ? "A" : c == 0x42 ? "Bee" : ".notdef") + " put\n";
    const std::string sfnt = nineTables(type42Font());
    for (std::size_t i = 0; i < sfnt.size(); ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(sfnt[i]));
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

TEST(TrueType2Type42, HeaderFieldsAndFontName)
{
    std::string head = headTable(0);
    set32(head, 4, 0x00018000); // fontRevision 1.5: integer part 1, fraction 32768
    set16(head, 36, 0x10000 - 1000); // xMin
    std::string post = postTable(0x00030000);
    set32(post, 16, 1000); // minMemType42
    set32(post, 20, 2000); // maxMemType42
    const std::string text = convert(type42Font().table("head", head).table("post", post)).text;
    EXPECT_EQ(text.substr(0, text.find('\n')), "%!PS-TrueTypeFont-1.0-1.32768");
    EXPECT_TRUE(has(text, "\n%%VMUsage: 1000 2000\n%- Generated"));
    EXPECT_TRUE(has(text, "\n/FontBBox [-488 -97 488 390] def\n")) << "truncated toward zero";
    set32(post, 16, 0);
    EXPECT_FALSE(has(convert(type42Font().table("post", post)).text, "VMUsage")) << "one figure 0";

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

TEST(TrueType2Type42, EncodingAndGlyphNames)
{
    // Read as ShiftJIS: U+0000 maps to glyph 3, so byte codes that ShiftJIS
    // leaves unmapped (lead bytes such as 0x81) name "Bee".
    const SfntBuilder shiftJIS = type42Font().table(
        "cmap", cmapTable({{3, 1, cmapFormat4({{0, 0, 3, {}}, {0x41, 0x41, 2 - 0x41, {}}, {0xFFFF, 0xFFFF, 1, {}}})}}));
    std::string text = convert(shiftJIS, 2).text;
    EXPECT_TRUE(has(text, "\ndup 65 /A put\n"));
    EXPECT_TRUE(has(text, "\ndup 129 /Bee put\n"));
    EXPECT_TRUE(has(text, "\ndup 66 /.notdef put\n")) << "mapped, but not in the font";

    // Format 3.0 names nothing: every Encoding entry and CharStrings key.
    text = convert(type42Font().table("post", postTable(0x00030000))).text;
    EXPECT_TRUE(has(text, "\ndup 65 /.notdef put\n"));
    EXPECT_TRUE(has(text, "begin\n/.notdef 0 def\n/.notdef 1 def\n/.notdef 2 def\n/.notdef 3 def\nend"));

    // Format 2.0 with fewer names than glyphs: the rest are .notdef.
    text = convert(type42Font().table("post", postTable2({0, 258}, {"first"}))).text;
    EXPECT_TRUE(has(text, "begin\n/.notdef 0 def\n/first 1 def\n/.notdef 2 def\n/.notdef 3 def\nend"));

    // Format 1.0 names glyphs 0 to 257 only; the others get no entry, so that
    // .notdef stays glyph 0.
    text = convert(fontWithGlyphs(std::vector<std::uint32_t>(260, 0)).table("post", postTable(0x00010000))).text;
    EXPECT_TRUE(has(text, "/CharStrings 260 dict dup begin\n/.notdef 0 def\n/.null 1 def\n"));
    EXPECT_TRUE(has(text, "\n/dmacron 257 def\nend readonly def\n"));
}

// Converts; each string must end with its zero byte after an even count of
// at most 65534 data bytes (more only for a long table), and together they
// must carry the nine tables. Returns the strings' sizes.
std::vector<std::size_t> wellFormedStrings(const SfntBuilder& font, bool longTables = false)
{
    std::vector<std::size_t> sizes;
    std::string file;
    for (const std::string& s : sfntsStrings(convert(font, 1, longTables).text)) {
        EXPECT_TRUE(s.ends_with('\0') && s.size() % 2 == 1 && (s.size() <= 65535u || longTables)) << s.size();
        sizes.push_back(s.size());
        file += s.substr(0, s.size() - 1);
    }
    EXPECT_TRUE(file == nineTables(font));
    return sizes;
}

TEST(TrueType2Type42, SfntsStringsBreakBetweenTablesAndGlyphs)
{
    EXPECT_EQ(wellFormedStrings(type42Font().table("hmtx", std::string(65534, '\1'))).size(), 3u)
        << "a table of 65534 bytes fills a string of its own";
    EXPECT_EQ(wellFormedStrings(type42Font().table("hmtx", std::string(70000, '\1')), true),
              (std::vector<std::size_t>{12 + 9 * 16 + 4 + 8 + 24 + 56 + 36 + 1, 70000 + 1, 10 + 2 + 32 + 8 + 1}))
        << "with long tables allowed, a longer one too";
    // 168 bytes of header, 'cvt ' and 'fpgm', then 16 glyphs fill a string;
    // the last string ends with the tables after 'glyf' and its padding.
    EXPECT_EQ(wellFormedStrings(fontWithGlyphs(std::vector<std::uint32_t>(40, 4000))),
              (std::vector<std::size_t>{168 + 16 * 4000 + 1, 16 * 4000 + 1, 8 * 4000 + 456 + 1}));
    // Glyphs of 2101 bytes: the rule would end each string after 31 glyphs,
    // on odd data, so the strings end a glyph earlier.
    EXPECT_EQ(wellFormedStrings(fontWithGlyphs(std::vector<std::uint32_t>(70, 2101))),
              (std::vector<std::size_t>{168 + 30 * 2101 + 1, 30 * 2101 + 1, 10 * 2101 + 698 + 1}));
    EXPECT_EQ(wellFormedStrings(fontWithGlyphs({1, 30000, 1, 40000})).size(), 2u) << "a second odd glyph evens the count";
    // Offsets that start late, run backwards and stop short of the table.
    std::string glyf;
    for (int i = 0; i < 40; ++i)
        glyf += static_cast<char>(i);
    wellFormedStrings(type42Font().table("loca", locaTable({4, 20, 12, 28, 32})).table("glyf", glyf));
}

TEST(TrueType2Type42, RefusesBeforeWritingAnything)
{
    std::string noEm = headTable(0);
    set16(noEm, 18, 0);
    auto sfnts = [](TrueTypeFont& f, FILE* out) { f.dumpSfnts2(out, false); };
    auto charStrings = [](TrueTypeFont& f, FILE* out) { f.dumpCharStrings2(out); };
    const struct {
        const char* what;
        Outcome outcome;
        std::optional<int> t42Error, fontError;
    } cases[] = {
        {"no prep", convert(type42Font().remove("prep")), 4, {}},
        {"no cvt", convert(type42Font().remove("cvt ")), 4, {}},
        {"unknown encoding", convert(type42Font(), 99), 0, {}},
        {"no cmap", convert(type42Font().remove("cmap")), 2, {}},
        {"symbol cmap only", convert(type42Font().table("cmap", cmapTable({{3, 0, cmapFormat6(0, {1})}}))), 2, {}},
        {"a table of 65535 bytes", convert(type42Font().table("hmtx", std::string(65535, '\1'))), 3, {}},
        {"odd glyph, then no even boundary", convert(fontWithGlyphs({1, 40000, 40000})), 5, {}},
        {"unitsPerEm 0", convert(type42Font().table("head", noEm)), {}, 4},
        {"no post", convert(type42Font().remove("post")), {}, 4},
        {"short post", convert(type42Font().table("post", postTable(0x00030000).substr(0, 20))), {}, 4},
        {"unknown post format", convert(type42Font().table("post", postTable(0x00040000))), {}, 1000 + 4},
        {"name past the post strings", convert(type42Font().table("post", postTable2({0, 259}, {"x"}))), {}, 1000 + 4},
        // The writers of the sfnts array and of the CharStrings alone.
        {"sfnts without fpgm", withFont(type42Font().remove("fpgm"), sfnts), {}, 6},
        {"CharStrings of an unknown post format", withFont(type42Font().table("post", postTable(0x00040000)), charStrings),
         {}, 1000 + 8},
        {"CharStrings without post", withFont(type42Font().remove("post"), charStrings), {}, 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.outcome.t42Error, c.t42Error) << c.what;
        EXPECT_EQ(c.outcome.fontError, c.fontError) << c.what;
        EXPECT_EQ(c.outcome.text, "") << c.what;
    }
}

// --- hexadecimal strings ------------------------------------------------------

// A 64-character line buffer filled one byte at a time; a string closes
// before a block that would take it past 65534 bytes.
struct NaiveHex {
    std::string out, line;
    long count = 0;

    void blockwrite(const unsigned char* p, long n)
    {
        if (n + count > 65534) {
            flush();
            out += "00\n>\n<\n";
            count = 0;
        }
        for (long i = 0; i < n; ++i) {
            line += {"0123456789ABCDEF"[p[i] >> 4], "0123456789ABCDEF"[p[i] & 15]};
            if (line.size() == 64) {
                out += line + "\n";
                line.clear();
            }
        }
        count += n;
    }
    void flush()
    {
        out += line;
        line.clear();
    }
};

TEST(HexFormatter, BothWritersMatchALineBufferWriter)
{
    std::mt19937 bytes(1);
    std::vector<unsigned char> data(200000);
    for (auto& b : data)
        b = static_cast<unsigned char>(bytes());
    auto run = [&](auto& hex) {
        // A block longer than a string, even the first; a string filled
        // exactly, then one byte more.
        for (long n : {70000L, 40000L, 25534L, 1L})
            hex.blockwrite(data.data(), n);
        // Mostly short blocks, now and then one longer than a string, and a
        // flush that ends a line where it stands.
        std::mt19937 rng(42);
        size_t at = 0;
        for (int i = 0; i < 400; ++i) {
            const long n = static_cast<long>(rng() % (i % 50 == 0 ? 70000 : 700));
            hex.blockwrite(data.data() + at % (data.size() - 70000), n);
            at += static_cast<size_t>(n) + 13;
            if (i % 37 == 0)
                hex.flush();
        }
    };
    NaiveHex naive;
    run(naive);
    naive.flush();
    std::ostringstream stream;
    {
        HexFormatter hex(stream);
        run(hex);
    }
    EXPECT_EQ(stream.str(), naive.out);
    EXPECT_EQ(written([&](FILE* out) {
                  HexFormatter2 hex(out);
                  run(hex);
              }),
              naive.out);
}

} // namespace
