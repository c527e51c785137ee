// The PFB and ASCII85 filters and the line reader, against the layouts a
// PostScript job relies on and against independent judges (t1ascii for PFB
// fonts, Ghostscript's ASCII85Decode for the encoder).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <random>

#include "stream/converters.h"
#include "stream/memoryreader.h"
#include "support/tempdir.h"

using namespace korrin;

namespace {

std::string drain(RODataStream& s)
{
    std::string out;
    for (int c; (c = s.read()) != -1;)
        out.push_back(static_cast<char>(c));
    return out;
}

std::string pfbSegment(int type, const std::string& body)
{
    std::string s{'\x80', static_cast<char>(type)};
    if (type != 3)
        for (int i = 0; i < 4; ++i)
            s.push_back(static_cast<char>((body.size() >> (8 * i)) & 0xFF));
    return s + body;
}

std::string toAscii(const std::string& pfb)
{
    MemoryReader m(reinterpret_cast<const unsigned char*>(pfb.data()), static_cast<unsigned>(pfb.size()));
    BinaryToAscii f(&m);
    return drain(f);
}

int pfbErrorCode(const std::string& pfb)
{
    try {
        toAscii(pfb);
    } catch (const BasicDataStream::error& e) {
        EXPECT_STREQ(e.message.c_str(), "PFB format error.");
        return e.code;
    }
    return 0;
}

std::string ascii85(const std::string& bytes)
{
    MemoryReader m(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
    Ascii85Encoder e(&m);
    return drain(e);
}

std::string run(const std::string& command)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, p)) > 0;)
        out.append(block, n);
    ::pclose(p);
    return out;
}

std::string lowerCaseHexLines(std::string text)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start && text.find_first_not_of("0123456789ABCDEF", start) >= end)
            for (std::size_t i = start; i < end; ++i)
                text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        start = end + 1;
    }
    return text;
}

} // namespace

TEST(BinaryToAscii, TextPassesAndBinaryBecomesLinesOf64Digits)
{
    std::string binary;
    for (int i = 0; i < 40; ++i)
        binary.push_back(static_cast<char>(i * 7 + 0xA0));
    std::string pfb = pfbSegment(1, "%!PS\n") + pfbSegment(2, binary) + pfbSegment(3, "");
    std::string out = toAscii(pfb);
    std::string hex;
    for (unsigned char b : binary) {
        char d[3];
        std::snprintf(d, sizeof d, "%02X", b);
        hex += d;
    }
    EXPECT_EQ(out, "%!PS\n" + hex.substr(0, 64) + "\n" + hex.substr(64) + "\n");
}

TEST(BinaryToAscii, DamageIsCodeOneAndPeekIsCodeTwo)
{
    EXPECT_EQ(pfbErrorCode("%!PS-AdobeFont"), 1);                    // not a PFB at all
    EXPECT_EQ(pfbErrorCode(pfbSegment(7, "abc")), 1);                // unknown type
    EXPECT_EQ(pfbErrorCode(pfbSegment(1, "")), 1);                   // zero length
    EXPECT_EQ(pfbErrorCode(std::string("\x80\x01\x05\0\0\0", 6)), 1); // nothing after the header
    // A binary segment cut short shows its missing bytes as FF, then the
    // next header fails.
    std::string cut = pfbSegment(2, "\x01\x02").substr(0, 7);
    cut[2] = 3;
    EXPECT_EQ(pfbErrorCode(cut), 1);

    MemoryReader m(reinterpret_cast<const unsigned char*>("x"), 1);
    BinaryToAscii f(&m);
    try {
        f.peek();
        FAIL();
    } catch (const BasicDataStream::error& e) {
        EXPECT_EQ(e.code, 2);
        EXPECT_STREQ(e.message.c_str(), "peek() is not implemented.");
    }
}

TEST(BinaryToAscii, RealFontsMatchT1ascii)
{
    namespace fs = std::filesystem;
    const fs::path dir = "/usr/share/fonts/X11/Type1";
    if (!fs::exists(dir) || !fs::exists("/usr/bin/t1ascii"))
        GTEST_SKIP() << "fonts-urw-base35 or t1utils missing";
    int compared = 0;
    for (const char* name : {"NimbusRoman-Regular.pfb", "URWBookman-Light.pfb", "StandardSymbolsPS.pfb"}) {
        fs::path font = dir / name;
        if (!fs::exists(font))
            continue;
        std::string pfb = test::readFile(font.string());
        std::string expected = run("t1ascii '" + font.string() + "'");
        ASSERT_FALSE(expected.empty());
        // t1ascii writes its hexadecimal digits in lower case.
        EXPECT_EQ(lowerCaseHexLines(toAscii(pfb)), expected) << name;
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST(Ascii85Encoder, ShortInputs)
{
    EXPECT_EQ(ascii85(""), "~>\n");
    EXPECT_EQ(ascii85(std::string(4, '\0')), "z~>\n");
    EXPECT_EQ(ascii85("A"), "5l~>\n");
    EXPECT_EQ(ascii85(std::string(3, '\0')), "!!!!~>\n"); // a partial zero group is not z
    EXPECT_EQ(ascii85("\xff\xff\xff\xff"), "s8W-!~>\n");
}

TEST(Ascii85Encoder, LinesHold64Characters)
{
    std::string bytes(56, 'k'); // no zero groups
    std::string out = ascii85(bytes.substr(0, 48));
    EXPECT_EQ(out.size(), 60u + 3);
    EXPECT_EQ(out.substr(60), "~>\n");

    out = ascii85(bytes.substr(0, 51));
    ASSERT_EQ(out.size(), 64u + 1 + 3);
    EXPECT_EQ(out[64], '\n');
    EXPECT_EQ(out.substr(65), "~>\n");

    out = ascii85(bytes);
    ASSERT_EQ(out.size(), 64u + 1 + 6 + 3);
    EXPECT_EQ(out[64], '\n');
    EXPECT_EQ(out.substr(71), "~>\n");
}

TEST(Ascii85Encoder, PeekKeepsTheGroupForTheNextRead)
{
    std::string bytes = "Man is";
    MemoryReader m(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
    Ascii85Encoder e(&m);
    EXPECT_EQ(e.peek(), '9');
    EXPECT_EQ(e.peek(), '9');
    std::string out;
    for (int c; (c = e.read()) != -1;)
        out.push_back(static_cast<char>(c));
    EXPECT_EQ(out, "9jqo^Bla~>\n");
    EXPECT_EQ(e.peek(), -1);
}

TEST(Ascii85Encoder, GhostscriptDecodesWhatItWrites)
{
    if (!std::filesystem::exists("/usr/bin/gs"))
        GTEST_SKIP() << "ghostscript missing";
    std::mt19937 random(6);
    std::string bytes;
    for (int i = 0; i < 100000; ++i)
        bytes.push_back(static_cast<char>(i % 97 < 8 ? 0 : random() & 0xFF)); // zero groups too
    test::TempDir dir;
    std::string encoded = dir.write("in.a85", ascii85(bytes));
    std::string decoded = run("gs -q -dSAFER -dNODISPLAY -dBATCH -dNOPAUSE --permit-file-read='" + encoded
                              + "' -c '/o (%stdout) (w) file def /i (" + encoded
                              + ") (r) file /ASCII85Decode filter def /b 4096 string def "
                                "{ i b readstring exch o exch writestring not {exit} if } loop o flushfile'");
    EXPECT_TRUE(decoded == bytes) << "decoded " << decoded.size() << " bytes of " << bytes.size();
}

TEST(LineReader, AnyLineEndAndAnUnterminatedLastLine)
{
    test::TempDir dir;
    file crlf(filename(dir.write("crlf", "one\r\ntwo\r\n\xff" "three").c_str()), file::readOnly);
    file lf(filename(dir.write("lf", "one\ntwo\n\xff" "three").c_str()), file::readOnly);
    file cr(filename(dir.write("cr", "one\rtwo\r\xff" "three").c_str()), file::readOnly);
    for (file* f : {&crlf, &lf, &cr}) {
        LineReader r(*f);
        EXPECT_STREQ(r.readline().c_str(), "one");
        EXPECT_STREQ(r.readline().c_str(), "two");
        EXPECT_EQ(r.line(), 3);
        EXPECT_FALSE(r.eof());
        EXPECT_STREQ(r.readline().c_str(), "\xff" "three");
        EXPECT_TRUE(r.eof());
    }
}

TEST(LineReader, LinesLongerThanABlock)
{
    test::TempDir dir;
    std::string longLine(10000, 'x');
    file f(filename(dir.write("long", longLine + "\n" + "tail").c_str()), file::readOnly);
    LineReader r(f);
    EXPECT_EQ(r.readline().length(), 10000u);
    EXPECT_STREQ(r.readline().c_str(), "tail");
    EXPECT_EQ(r.nextchar(), -1);
}
