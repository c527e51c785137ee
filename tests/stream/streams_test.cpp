// The readers and filters: the byte contract every stream keeps, the errors a
// caller sees, and the layouts a PostScript job relies on. The CLI tests hold
// the filters against independent judges (t1ascii, Ghostscript), the fuzz
// target ASCII85 against a decoder of its own.
#include <gtest/gtest.h>

#include <cstdio>

#include "stream/converters.h"
#include "stream/filereader.h"
#include "stream/memoryreader.h"
#include "support/tempdir.h"
#include "support/thrown.h"

using namespace korrin;

namespace {

std::string drain(RODataStream& s)
{
    std::string out;
    for (int c; (c = s.read()) != -1;)
        out.push_back(static_cast<char>(c));
    return out;
}

template <class F>
std::string errorOf(F f)
{
    return test::thrownText<BasicDataStream::error>(f);
}

// The filter's whole output for these bytes.
template <class Filter>
std::string filter(const std::string& bytes)
{
    MemoryReader m(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
    Filter f(&m);
    return drain(f);
}

std::string pfbSegment(int type, const std::string& body)
{
    std::string s{'\x80', static_cast<char>(type)};
    for (int i = 0; i < 4 && type != 3; ++i)
        s.push_back(static_cast<char>((body.size() >> (8 * i)) & 0xFF));
    return s + body;
}

} // namespace

TEST(MemoryReader, ReadsUnsignedBytesClampsPositionsAndNeedsABlock)
{
    const unsigned char block[] = {0x00, 0x7F, 0xFF};
    MemoryReader r(block, 3);
    EXPECT_EQ(r.peek(), 0);
    EXPECT_EQ(drain(r), std::string("\0\x7F\xFF", 3));
    EXPECT_TRUE(r.eof());
    EXPECT_EQ(r.peek(), -1);
    EXPECT_EQ(r.read(), -1) << "ended for good";
    EXPECT_EQ(r.setreadposition(-5), 0);
    EXPECT_EQ(r.read(), 0);
    EXPECT_EQ(r.setreadposition(13), 3);
    EXPECT_EQ(r.read(), -1);

    EXPECT_EQ(MemoryReader(block, 0).read(), -1) << "an empty block is fine";
    MemoryReader none;
    EXPECT_EQ(errorOf([&] { none.read(); }), "5: MemoryReader attempts to read from NULL pointer");
    EXPECT_EQ(errorOf([&] { none.peek(); }), "5: MemoryReader attempts to read from NULL pointer");
    r.close();
    EXPECT_EQ(r.length(), 0);
    EXPECT_EQ(errorOf([&] { r.read(); }).substr(0, 2), "5:");
}

TEST(FileReader, ReadsAFileRepointsAndReportsFileErrorsAsCodeFour)
{
    test::TempDir dir;
    const std::string bytes("\x00\xff\r\nend", 6);
    FileReader r(file(filename(dir.write("f", bytes).c_str()), file::readOnly));
    EXPECT_EQ(r.peek(), 0);
    EXPECT_EQ(drain(r), bytes);
    EXPECT_EQ(r.peek(), -1);

    FileReader a(file(filename(dir.file("f").c_str()), file::readOnly));
    EXPECT_EQ(a.read(), 0);
    EXPECT_EQ(a.assign(filename(dir.write("b", "B").c_str())).read(), 'B') << "repointed mid-buffer";
    EXPECT_EQ(a.assign(r).read(), 0) << "another reader's file, from its start";
    EXPECT_FALSE(a.close().isopen());

    // A directory opens but cannot be read.
    FileReader d(file(filename(dir.path().c_str()), file::readOnly));
    EXPECT_EQ(errorOf([&] { d.read(); }), "4: File error 2: Is a directory");
    FileReader w(file(filename(dir.file("w").c_str()), file::writeOnly));
    EXPECT_EQ(errorOf([&] { w.peek(); }), "4: File error 4: Attempting to read from a write-only file");
}

TEST(BinaryToAscii, TextPassesAndBinaryBecomesLinesOf64Digits)
{
    std::string binary, hex;
    for (int i = 0; i < 40; ++i) {
        binary.push_back(static_cast<char>(i * 7 + 0xA0));
        char d[3];
        std::snprintf(d, sizeof d, "%02X", static_cast<unsigned char>(binary.back()));
        hex += d;
    }
    EXPECT_EQ(filter<BinaryToAscii>(pfbSegment(1, "%!PS\n") + pfbSegment(2, binary) + pfbSegment(3, "")),
              "%!PS\n" + hex.substr(0, 64) + "\n" + hex.substr(64) + "\n");
}

TEST(BinaryToAscii, DamageIsCodeOneAndPeekIsCodeTwo)
{
    // A binary segment cut short shows its missing bytes as FF, then the
    // next header fails.
    std::string cut = pfbSegment(2, "\x01\x02").substr(0, 7);
    cut[2] = 3;
    const std::string damaged[] = {
        "%!PS-AdobeFont",                  // not a PFB at all
        pfbSegment(7, "abc"),              // unknown type
        pfbSegment(1, ""),                 // zero length
        std::string("\x80\x01\x05\0\0\0", 6), // nothing after the header
        cut,
    };
    for (const std::string& pfb : damaged)
        EXPECT_EQ(errorOf([&] { filter<BinaryToAscii>(pfb); }), "1: PFB format error.");

    MemoryReader m(reinterpret_cast<const unsigned char*>("x"), 1);
    BinaryToAscii f(&m);
    EXPECT_EQ(errorOf([&] { f.peek(); }), "2: peek() is not implemented.");
}

TEST(Ascii85Encoder, GroupsZeroGroupsAndTheEnd)
{
    EXPECT_EQ(filter<Ascii85Encoder>(""), "~>\n");
    EXPECT_EQ(filter<Ascii85Encoder>(std::string(4, '\0')), "z~>\n");
    EXPECT_EQ(filter<Ascii85Encoder>(std::string(3, '\0')), "!!!!~>\n") << "a partial zero group is not z";
    EXPECT_EQ(filter<Ascii85Encoder>("A"), "5l~>\n");
    EXPECT_EQ(filter<Ascii85Encoder>("\xff\xff\xff\xff"), "s8W-!~>\n");

    const std::string manIs = "Man is";
    MemoryReader m(reinterpret_cast<const unsigned char*>(manIs.data()), 6);
    Ascii85Encoder e(&m);
    EXPECT_EQ(e.peek(), '9');
    EXPECT_EQ(e.peek(), '9') << "a peek keeps the group for the next read";
    EXPECT_EQ(drain(e), "9jqo^Bla~>\n");
    EXPECT_EQ(e.peek(), -1);
}

TEST(Ascii85Encoder, LinesHold64Characters)
{
    const std::string k(56, 'k'); // no zero groups; 4 bytes make 5 characters
    std::string out = filter<Ascii85Encoder>(k.substr(0, 48));
    EXPECT_EQ(out.size(), 60u + 3);
    EXPECT_EQ(out.substr(60), "~>\n");
    out = filter<Ascii85Encoder>(k.substr(0, 51));
    EXPECT_EQ(out.size(), 64u + 1 + 3);
    EXPECT_EQ(out.substr(64), "\n~>\n");
    out = filter<Ascii85Encoder>(k);
    ASSERT_EQ(out.size(), 64u + 1 + 6 + 3);
    EXPECT_EQ(out[64], '\n');
    EXPECT_EQ(out.substr(71), "~>\n");
}

TEST(LineReader, AnyLineEndLinesAcrossBlocksAndAnUnterminatedLastLine)
{
    test::TempDir dir;
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        // The long line ends the second block of 4096 bytes with the line end's
        // first byte.
        const std::string longLine(2 * 4096 - 1 - 6 - 2 * end.size(), 'x');
        file f(filename(dir.write("f", "one" + end + "two" + end + longLine + end + "\xff" "three").c_str()),
               file::readOnly);
        LineReader r(f);
        EXPECT_STREQ(r.readline().c_str(), "one");
        EXPECT_STREQ(r.readline().c_str(), "two");
        EXPECT_EQ(r.readline().length(), longLine.size());
        EXPECT_EQ(r.line(), 4);
        EXPECT_FALSE(r.eof());
        EXPECT_STREQ(r.readline().c_str(), "\xff" "three") << "a CR LF split across blocks is one line end";
        EXPECT_TRUE(r.eof());
        EXPECT_EQ(r.nextchar(), -1);
    }
}
