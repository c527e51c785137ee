#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "core/file.h"
#include "core/filename.h"
#include "support/tempdir.h"

using korrin::file;
using korrin::filename;
using korrin::linereader;
using korrin::list;
using korrin::reader;
using korrin::string;
using korrin::test::TempDir;

namespace {

int openDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

TEST(Filename, Decomposition)
{
    filename a("/usr/share/fonts/Sans.ttf");
    EXPECT_EQ(a.path(), "/usr/share/fonts/");
    EXPECT_EQ(a.file(), "Sans");
    EXPECT_EQ(a.ext(), "ttf");
    filename b("a.b/c");
    EXPECT_EQ(b.path(), "a.b/");
    EXPECT_EQ(b.file(), "c");
    EXPECT_EQ(b.ext(), "");
    filename c(".profile");
    EXPECT_EQ(c.path(), "");
    EXPECT_EQ(c.file(), "");
    EXPECT_EQ(c.ext(), "profile");
    EXPECT_EQ(c.full(), ".profile");
    filename d(".");
    EXPECT_EQ(d.file(), ".");
    EXPECT_EQ(d.full(), ".");
    EXPECT_EQ(filename("..").full(), "..");
    filename e("/tmp/x.y.z");
    EXPECT_EQ(e.file(), "x.y");
    EXPECT_EQ(e.ext(), "z");
    EXPECT_EQ(e.base(), "x.y.z");
    EXPECT_EQ(e.full(), "/tmp/x.y.z");
    filename f("plain");
    EXPECT_EQ(f.full(), "plain");
    EXPECT_EQ(f.base(), "plain");
    EXPECT_EQ(f.path(), "");
}

TEST(Filename, SettersAndCanonical)
{
    filename n("b");
    n.setpath("/a");
    EXPECT_EQ(n.full(), "/a/b");
    n.setpath("");
    EXPECT_EQ(n.path(), "");
    n.setbase("font.pfb");
    EXPECT_EQ(n.file(), "font");
    EXPECT_EQ(n.ext(), "pfb");

    char cwd[1024];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(filename("x.ttf").canonical(), string(cwd) + "/x.ttf");
    EXPECT_EQ(filename("/abs/x.ttf").canonical(), "/abs/x.ttf");
    EXPECT_EQ(filename(filename::currentDir).path(), string(cwd) + "/");
}

TEST(Filename, SpecialNamesFollowTmp)
{
    const char* old = getenv("TMP");
    std::string saved = old ? old : "";
    TempDir dir;
    setenv("TMP", dir.path().c_str(), 1);
    EXPECT_EQ(filename(filename::tempDir).path(), dir.path().c_str());
    filename fresh(filename::tempName);
    EXPECT_EQ(fresh.path(), (dir.path() + "/").c_str());
    EXPECT_FALSE(fresh.exists());
    if (old)
        setenv("TMP", saved.c_str(), 1);
    else
        unsetenv("TMP");
    EXPECT_EQ(filename(filename::tempDir).path(), old ? saved.c_str() : "/tmp");
}

TEST(Filename, TypeAndRemove)
{
    TempDir dir;
    EXPECT_EQ(filename(dir.path().c_str()).type(), filename::directory);
    EXPECT_EQ(filename(dir.write("f.txt", "x").c_str()).type(), filename::regular);
    EXPECT_EQ(filename("/dev/null").type(), filename::chardevice);

    // A socket is none of the listed kinds.
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = dir.file("sock");
    std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(filename(sock.c_str()).type(), filename::other);
    close(s);

    std::string sub = dir.file("sub");
    mkdir(sub.c_str(), 0755);
    filename(sub.c_str()).remove();
    EXPECT_FALSE(filename(sub.c_str()).exists());
    try {
        filename(sub.c_str()).remove();
        FAIL() << "removing a missing name succeeded";
    } catch (const filename::xfileaccess& e) {
        EXPECT_EQ(e.error, ENOENT);
        EXPECT_EQ(e.path, sub.c_str());
    }
}

TEST(File, OpenModes)
{
    TempDir dir;
    try {
        file f(filename(dir.file("missing").c_str()), file::readOnly);
        FAIL();
    } catch (const file::fileerror& e) {
        EXPECT_EQ(e.code, 2);
        EXPECT_EQ(e.message, std::strerror(ENOENT));
    }
    umask(022);
    file w(filename(dir.file("new").c_str()), file::writeOnly);
    struct stat st;
    ASSERT_EQ(stat(dir.file("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    char c;
    try {
        w.blockread(&c, 1);
        FAIL();
    } catch (const file::fileerror& e) {
        EXPECT_EQ(e.code, 4);
        EXPECT_EQ(e.message, "Attempting to read from a write-only file");
    }
    file r(filename(dir.file("new").c_str()), file::readOnly);
    try {
        r.blockwrite("x", 1);
        FAIL();
    } catch (const file::fileerror& e) {
        EXPECT_EQ(e.code, 4);
        EXPECT_EQ(e.message, "Attempting to write to a read-only file");
    }
    try {
        file bad(filename(dir.file("new").c_str()), static_cast<file::fileaccess>(7));
        FAIL();
    } catch (const file::fileerror& e) {
        EXPECT_EQ(e.code, 1);
        EXPECT_EQ(e.message, "Unknown file mode");
    }
}

TEST(File, ClosedHandleRefusesEverythingButIsOpen)
{
    file f;
    EXPECT_FALSE(f.isopen());
    auto expect3 = [](auto op) {
        try {
            op();
            ADD_FAILURE() << "no error";
        } catch (const file::fileerror& e) {
            EXPECT_EQ(e.code, 3);
            EXPECT_EQ(e.message, "File is not initialized");
        }
    };
    char c;
    expect3([&] { f.length(); });
    expect3([&] { f.blockread(&c, 1); });
    expect3([&] { f.blockwrite(&c, 1); });
    expect3([&] { f.close(); });
    expect3([&] { f.name(); });
    expect3([&] { f.eof(); });
    expect3([&] { f.setreadpos(0); });
    expect3([&] { f.truncate(0); });
}

TEST(File, ReadAndWritePositionsAreIndependentAndShared)
{
    TempDir dir;
    std::string path = dir.write("data", "0123456789");
    file a(filename(path.c_str()), file::readWrite);
    file b(a);
    EXPECT_TRUE(a.compare(b));
    char buf[8] = {};
    EXPECT_EQ(a.blockread(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(b.readpos(), 4) << "handles that share a representation share positions";
    b.setwritepos(8);
    EXPECT_EQ(b.blockwrite("AB", 2), 2);
    EXPECT_EQ(a.writepos(), 10);
    EXPECT_EQ(a.blockread(buf, 8), 6) << "the read continues where it stood, after the write";
    EXPECT_EQ(std::string(buf, 6), "4567AB");
    EXPECT_TRUE(a.eof());
    EXPECT_EQ(a.blockread(buf, 8), 0);
    EXPECT_EQ(a.length(), 10);
    a.truncate(3);
    EXPECT_EQ(b.length(), 3);

    file other(filename(path.c_str()), file::readOnly);
    EXPECT_FALSE(other.compare(a)) << "a second open is a representation of its own";
    EXPECT_EQ(other.readpos(), 0);
}

TEST(File, DescriptorClosesWithTheLastHandle)
{
    TempDir dir;
    std::string path = dir.write("data", "abc");
    int before = openDescriptors();
    {
        file a(filename(path.c_str()), file::readOnly);
        file b(a);
        EXPECT_EQ(openDescriptors(), before + 1);
        a.close();
        EXPECT_FALSE(a.isopen());
        EXPECT_TRUE(b.isopen()) << "the other handle still holds it";
        EXPECT_EQ(openDescriptors(), before + 1);
        b = a;
        EXPECT_EQ(openDescriptors(), before);
        try {
            a.assign(filename(dir.file("missing").c_str()), file::readOnly);
        } catch (const file::fileerror&) {
        }
        EXPECT_FALSE(a.isopen()) << "a failed open leaves the handle not open";
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(Reader, ReadsBytesAcrossBufferRefills)
{
    TempDir dir;
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    std::string path = dir.write("big", content);
    reader r(path.c_str());
    EXPECT_EQ(r.nextchar(false), static_cast<unsigned char>(content[0]));
    size_t i = 0;
    for (int c; (c = r.nextchar()) != -1; ++i)
        ASSERT_EQ(c, static_cast<unsigned char>(content[i])) << "at " << i;
    EXPECT_EQ(i, content.size());
    EXPECT_EQ(r.consumed(), content.size());

    reader again(r);
    EXPECT_EQ(again.nextchar(), static_cast<unsigned char>(content[0])) << "a copied reader opens the file anew";
    r.close();
    EXPECT_FALSE(r.isopen());
    EXPECT_EQ(r.consumed(), 0u);
}

TEST(LineReader, LineEndings)
{
    TempDir dir;
    std::string path = dir.write("lines", std::string("a\r\nb\rc\n\nd"));
    linereader lr(path.c_str());
    EXPECT_EQ(lr.readline(), "a");
    EXPECT_EQ(lr.readline(), "b");
    EXPECT_EQ(lr.readline(), "c");
    EXPECT_EQ(lr.readline(), "");
    EXPECT_FALSE(lr.atend());
    EXPECT_EQ(lr.readline(), "d");
    EXPECT_TRUE(lr.atend());
    EXPECT_EQ(lr.lines(), 4u);
    lr.close();
    EXPECT_EQ(lr.lines(), 0u);
}

TEST(LineReader, LongLinesAndZeroBytes)
{
    TempDir dir;
    std::string longLine(3000, 'x');
    longLine[1500] = '\0';
    std::string path = dir.write("long", longLine + "\nnext");
    linereader lr(path.c_str());
    string line = lr.readline();
    ASSERT_EQ(line.length(), 3000u);
    EXPECT_EQ(line[1500], 2);
    EXPECT_EQ(line[2999], 'x');
    EXPECT_EQ(lr.readline(), "next");
}

TEST(SplitColonSeparatedPath, ElementsAndQuotes)
{
    auto split = [](const char* text) {
        list<string> out(true);
        korrin::SplitColonSeparatedPath(string(text), out);
        std::vector<std::string> v;
        for (const string& s : out)
            v.emplace_back(s.c_str());
        return v;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(split("a::b"), (V{"a", "", "b"}));
    EXPECT_EQ(split("a:"), (V{"a"}));
    EXPECT_EQ(split(""), V{});
    EXPECT_EQ(split("\"x:y\":z"), (V{"x:y", "z"}));
    EXPECT_EQ(split("a\\\"b:c"), (V{"a\"b", "c"})) << "\\\" is a quote, not a toggle";
    EXPECT_EQ(split("/usr/share/a:/opt/b"), (V{"/usr/share/a", "/opt/b"}));
}

} // namespace
