// MemoryReader and FileReader: the byte contract every stream keeps, and the
// errors a caller sees.
#include <gtest/gtest.h>

#include "stream/filereader.h"
#include "stream/memoryreader.h"
#include "support/streamerror.h"
#include "support/tempdir.h"

using namespace korrin;
using korrin::test::streamErrorOf;

TEST(MemoryReader, ReadsBytesAsUnsignedThenEndsForGood)
{
    const unsigned char block[] = {0x00, 0x7F, 0xFF};
    MemoryReader r(block, 3);
    EXPECT_EQ(r.peek(), 0);
    EXPECT_EQ(r.peek(), 0);
    EXPECT_EQ(r.read(), 0);
    EXPECT_EQ(r.read(), 0x7F);
    EXPECT_EQ(r.read(), 255);
    EXPECT_TRUE(r.eof());
    EXPECT_EQ(r.read(), -1);
    EXPECT_EQ(r.peek(), -1);
    EXPECT_EQ(r.read(), -1);
    EXPECT_EQ(r.pos(), 3);
}

TEST(MemoryReader, SetReadPositionClamps)
{
    const unsigned char block[] = {'a', 'b', 'c'};
    MemoryReader r(block, 3);
    EXPECT_EQ(r.setreadposition(-5), 0);
    EXPECT_EQ(r.read(), 'a');
    EXPECT_EQ(r.setreadposition(13), 3);
    EXPECT_EQ(r.read(), -1);
    EXPECT_EQ(r.setreadposition(1), 1);
    EXPECT_EQ(r.read(), 'b');
}

TEST(MemoryReader, NoDataIsCodeFiveEvenWhenEmpty)
{
    MemoryReader none;
    auto e = streamErrorOf([&] { none.read(); });
    EXPECT_EQ(e.code, 5);
    EXPECT_STREQ(e.message.c_str(), "MemoryReader attempts to read from NULL pointer");
    EXPECT_EQ(streamErrorOf([&] { none.peek(); }).code, 5);

    const unsigned char block[] = {'x'};
    MemoryReader r(block, 0);
    EXPECT_EQ(r.read(), -1); // an empty block is fine
    r.assign(block, 1).close();
    EXPECT_EQ(r.length(), 0);
    EXPECT_EQ(streamErrorOf([&] { r.read(); }).code, 5);
}

TEST(FileReader, ReadsAFileThroughTheStreamInterface)
{
    test::TempDir dir;
    std::string bytes("\x00\xff\r\nend", 6);
    FileReader r(file(filename(dir.write("f", bytes).c_str()), file::readOnly));
    RODataStream& s = r;
    std::string got;
    EXPECT_EQ(s.peek(), 0);
    for (int c; (c = s.read()) != -1;)
        got.push_back(static_cast<char>(c));
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(s.peek(), -1);
}

TEST(FileReader, FileErrorsBecomeCodeFourWithTheFileErrorInside)
{
    test::TempDir dir;
    // A directory opens but cannot be read.
    FileReader r(file(filename(dir.path().c_str()), file::readOnly));
    auto e = streamErrorOf([&] { r.read(); });
    EXPECT_EQ(e.code, 4);
    EXPECT_EQ(std::string(e.message.c_str()), "File error 2: Is a directory");

    FileReader w(file(filename(dir.file("w").c_str()), file::writeOnly));
    e = streamErrorOf([&] { w.peek(); });
    EXPECT_EQ(e.code, 4);
    EXPECT_EQ(std::string(e.message.c_str()), "File error 4: Attempting to read from a write-only file");
}

TEST(FileReader, AssignRepointsTheReader)
{
    test::TempDir dir;
    FileReader a(file(filename(dir.write("a", "A").c_str()), file::readOnly));
    FileReader b;
    EXPECT_EQ(b.assign(filename(dir.write("b", "B").c_str())).read(), 'B');
    EXPECT_EQ(b.assign(a).read(), 'A');
    EXPECT_FALSE(b.close().isopen());
}
