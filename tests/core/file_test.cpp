#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file.h"
#include "core/filename.h"
#include "support/tempdir.h"
#include "support/thrown.h"

using korrin::file;
using korrin::filename;
using korrin::string;
using korrin::test::OpenDescriptors;
using korrin::test::TempDir;

namespace {

const auto errorOf = [](auto f) { return korrin::test::thrownText<file::fileerror>(f); };

TEST(Filename, DecompositionSettersAndSpecialNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/share/fonts/Sans.ttf", "/usr/share/fonts/|Sans|ttf"}, {"a.b/c", "a.b/|c|"}, {".profile", "||profile"},
        {"..", "|..|"}, {"/tmp/x.y.z", "/tmp/|x.y|z"}};
    for (auto [name, parts] : cases) {
        filename n(name);
        EXPECT_EQ(n.path() + "|" + n.file() + "|" + n.ext(), parts);
        EXPECT_EQ(n.full(), name);
    }
    filename n("b");
    n.setpath("/a");
    EXPECT_EQ(n.full(), "/a/b");
    n.setbase("font.pfb");
    EXPECT_EQ(n.ext(), "pfb");

    char cwd[1024];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(filename("x.ttf").canonical(), string(cwd) + "/x.ttf");
    EXPECT_EQ(filename("/abs/x.ttf").canonical(), "/abs/x.ttf");

    TempDir dir;
    setenv("TMP", dir.path().c_str(), 1);
    EXPECT_EQ(filename(filename::tempDir).path(), dir.path().c_str());
    filename fresh(filename::tempName);
    EXPECT_EQ(fresh.path(), (dir.path() + "/").c_str());
    EXPECT_FALSE(fresh.exists());
    unsetenv("TMP");
    EXPECT_EQ(filename(filename::tempDir).path(), "/tmp");
}

TEST(Filename, TypeAndRemove)
{
    TempDir dir;
    EXPECT_EQ(filename(dir.write("f.txt", "x").c_str()).type(), filename::regular);
    EXPECT_EQ(filename("/dev/null").type(), filename::chardevice);
    const std::string sub = dir.file("sub");
    mkdir(sub.c_str(), 0755);
    EXPECT_EQ(filename(sub.c_str()).type(), filename::directory);
    filename(sub.c_str()).remove();
    auto e = korrin::test::thrown<filename::xfileaccess>([&] { filename(sub.c_str()).remove(); });
    EXPECT_EQ(e.error, ENOENT);
    EXPECT_EQ(e.path, sub.c_str());
}

TEST(File, OpenModesAndTheirErrors)
{
    TempDir dir;
    const filename name(dir.file("new").c_str());
    EXPECT_EQ(errorOf([&] { file f(name, file::readOnly); }), "2: " + std::string(std::strerror(ENOENT)));
    umask(022);
    file w(name, file::writeOnly);
    struct stat st;
    ASSERT_EQ(stat(dir.file("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    char c;
    EXPECT_EQ(errorOf([&] { w.blockread(&c, 1); }), "4: Attempting to read from a write-only file");
    file r(name, file::readOnly);
    EXPECT_EQ(errorOf([&] { r.blockwrite("x", 1); }), "4: Attempting to write to a read-only file");
    EXPECT_EQ(errorOf([&] { file f(name, static_cast<file::fileaccess>(7)); }), "1: Unknown file mode");

    file closed;
    for (auto op : std::initializer_list<void (*)(file&)>{
             [](file& f) { f.length(); }, [](file& f) { f.blockread(nullptr, 1); },
             [](file& f) { f.blockwrite("", 1); }, [](file& f) { f.close(); }, [](file& f) { f.name(); },
             [](file& f) { f.eof(); }, [](file& f) { f.setreadpos(0); }, [](file& f) { f.truncate(0); }})
        EXPECT_EQ(errorOf([&] { op(closed); }), "3: File is not initialized");
}

TEST(File, ReadAndWritePositionsAreIndependentAndShared)
{
    TempDir dir;
    const filename name(dir.write("data", "0123456789").c_str());
    file a(name, file::readWrite);
    file b(a);
    char buf[8] = {};
    EXPECT_EQ(a.blockread(buf, 4), 4);
    EXPECT_EQ(b.readpos(), 4) << "handles that share a representation share positions";
    b.setwritepos(8);
    EXPECT_EQ(b.blockwrite("AB", 2), 2);
    EXPECT_EQ(a.writepos(), 10);
    EXPECT_EQ(a.blockread(buf, 8), 6) << "the read continues where it stood, after the write";
    EXPECT_EQ(std::string(buf, 6), "4567AB");
    EXPECT_TRUE(a.eof());
    a.truncate(3);
    EXPECT_EQ(b.length(), 3);
    EXPECT_FALSE(file(name, file::readOnly).compare(a)) << "a second open is a representation of its own";
}

TEST(File, DescriptorClosesWithTheLastHandle)
{
    TempDir dir;
    const filename name(dir.write("data", "abc").c_str());
    const int before = OpenDescriptors();
    {
        file a(name, file::readOnly);
        file b(a);
        a.close();
        EXPECT_TRUE(b.isopen()) << "the other handle still holds it";
        EXPECT_EQ(OpenDescriptors(), before + 1);
        b = a;
        EXPECT_EQ(OpenDescriptors(), before);
        b.assign(name, file::readOnly);
        errorOf([&] { b.assign(filename(dir.file("missing").c_str()), file::readOnly); });
        EXPECT_FALSE(b.isopen()) << "a failed open leaves the handle not open";
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(LineReader, LineEndsLongLinesAndZeroBytesAcrossBufferRefills)
{
    TempDir dir;
    // The long line ends the first 64 KiB block with a CR whose LF is in the next.
    std::string longLine(65536 - 9, 'x');
    longLine[1500] = '\0';
    longLine[1501] = '\xFF'; // not the end of the file
    const std::string text = "a\r\nb\rc\n\n" + longLine + "\r\nd";
    korrin::linereader lr(dir.write("lines", text).c_str());
    for (const char* line : {"a", "b", "c", ""})
        EXPECT_EQ(lr.readline(), line);
    string line = lr.readline();
    ASSERT_EQ(line.length(), longLine.size());
    EXPECT_EQ(line[1500], 2) << "a byte 0 becomes 2";
    EXPECT_EQ(lr.readline(), "d");
    EXPECT_TRUE(lr.atend());
    EXPECT_EQ(lr.lines(), 5u);
    EXPECT_EQ(lr.consumed(), text.size());
    EXPECT_EQ(korrin::reader(lr).nextchar(), 'a') << "a copied reader opens the file anew";
    lr.close();
    EXPECT_EQ(lr.lines() + lr.consumed(), 0u);
}

} // namespace
