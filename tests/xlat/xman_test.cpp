#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/tempdir.h"
#include "xlat/xman.h"

namespace {

using namespace korrin;
using korrin::test::TempDir;

// Table files built field by field in either byte order, independently of
// XTableWriter, so that the reader and the writer each face a second opinion.
struct Table {
    unsigned format;
    std::vector<std::uint32_t> keys; // formats 2 and 3
    std::vector<unsigned> values;    // one per key; 256 (or 65536) for the direct formats
};

struct Str {
    unsigned qualifier;
    unsigned number;
    std::string text;
};

class Bytes {
public:
    explicit Bytes(bool big) : big_(big) {}
    void u16(unsigned v)
    {
        const char b[2] = {char(v >> 8), char(v)};
        big_ ? out.append(b, 2) : (out += b[1], out += b[0]);
    }
    void u32(std::uint32_t v)
    {
        const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        big_ ? out.append(b, 4) : out.append({b[3], b[2], b[1], b[0]});
    }
    std::string out;

private:
    bool big_;
};

std::string tableFile(bool big, unsigned from, unsigned to, const std::vector<Str>& strings, const Table& t)
{
    Bytes f(big);
    f.out = "xlt!";
    f.u16(0xAADD);
    f.u16(from);
    f.u16(to);
    std::string data;
    for (const Str& s : strings)
        data += s.text;
    const unsigned padded = (data.size() + 3) / 4 * 4;
    f.u16(0);
    f.u16(8 + 8 * strings.size() + padded);
    f.u16(strings.size());
    f.u16(8 + 8 * strings.size());
    unsigned offset = 0;
    for (const Str& s : strings) {
        f.u16(s.qualifier);
        f.u16(s.number);
        f.u16(s.text.size());
        f.u16(offset);
        offset += s.text.size();
    }
    f.out += data + std::string(padded - data.size(), '\0');
    f.u16(t.format);
    f.u16(0);
    switch (t.format) {
    case 0:
        for (unsigned v : t.values)
            f.out += char(v);
        break;
    case 2:
    case 3:
        f.u32(t.keys.size());
        for (std::uint32_t k : t.keys)
            t.format == 2 ? f.u32(k) : f.u16(k);
        [[fallthrough]];
    default:
        for (unsigned v : t.values)
            f.u16(v);
    }
    return f.out;
}

Table direct(unsigned format, unsigned size, unsigned (*value)(unsigned))
{
    Table t{format, {}, {}};
    for (unsigned c = 0; c < size; ++c)
        t.values.push_back(value(c));
    return t;
}

Table sparse(unsigned format, std::vector<std::uint32_t> keys)
{
    Table t{format, std::move(keys), {}};
    for (std::uint32_t k : t.keys)
        t.values.push_back((k * 7 + 3) & 0xFFFF);
    return t;
}

const std::vector<Str> names = {{0xFFFF, 1, "Test table"}, {0xFFFF, 2, "x-test"}};

XlatTablePtr load(const XlatManager& m, int from, int to) { return XlatTablePtr(m.loadTable(from, to)); }

// --- writing -----------------------------------------------------------------

TEST(XTableWriter, WritesTheLayoutInHostOrderWithPaddedStrings)
{
    TempDir dir;
    const Table t = sparse(3, {0x41, 0x8140});
    const std::vector<Str> strings = {{0xFFFF, 1, "hello"}};
    list<IDRecord> records(true);
    records.append(IDRecord{0xFFFF, 1, lstring("hello")});
    std::vector<unsigned char> block;
    for (char c : tableFile(isCPUBigEndian(), 0, 0, {}, t).substr(18))
        block.push_back(static_cast<unsigned char>(c));

    XTableWriter w(filename(dir.file("t.xlt").c_str()));
    w.writeHeader(2, 1);
    w.writeStringTable(&records);
    w.writeTable(block.data(), block.size());
    w.close();

    const std::string bytes = korrin::test::readFile(dir.file("t.xlt"));
    EXPECT_EQ(bytes, tableFile(isCPUBigEndian(), 2, 1, strings, t));
    // Five bytes of text, three of padding: the table starts at 10 + 8 + 8n + 8.
    ASSERT_GE(bytes.size(), 34u);
    EXPECT_EQ(bytes.substr(26, 8), std::string("hello\0\0\0", 8));
    XlatManager m(dir.path().c_str());
    ASSERT_EQ(m.countTables(), 1);
    EXPECT_EQ(m.getXlatDescArray()[0]->tableOffset, 34u);
    EXPECT_EQ(XlatManager::GetDefaultString(m.getXlatDescArray()[0], 1), "hello");
}

TEST(XTableWriter, RewritingAShorterFileLeavesNothingBehind)
{
    TempDir dir;
    const std::string name = dir.write("t.xlt", std::string(4096, 'x'));
    XTableWriter w(filename(name.c_str()));
    w.writeHeader(2, 1);
    w.writeStringTable(nullptr);
    w.close();
    EXPECT_EQ(korrin::test::readFile(name).size(), 18u);
}

TEST(XTableWriterDeathTest, StringsBeyondTheBlockLimitStopTheProcess)
{
    TempDir dir;
    list<IDRecord> records(true);
    records.append(IDRecord{0xFFFF, 1, lstring(std::string(65520, 'a').c_str())});
    XTableWriter w(filename(dir.file("t.xlt").c_str()));
    w.writeHeader(2, 1);
    EXPECT_DEATH(w.writeStringTable(&records), "nbytes <= 65535 - 8 - n \\* 8");
}

// --- reading both byte orders -----------------------------------------------

TEST(XlatByteOrder, BigAndLittleEndianFilesTranslateIdentically)
{
    TempDir dir;
    const Table tables[] = {
        direct(0, 256, [](unsigned c) { return (c * 5 + 1) & 0xFF; }),
        direct(1, 65536, [](unsigned c) { return (c * 40503u + 17) & 0xFFFF; }),
        sparse(2, {0x21, 0x8140, 0xA4A1, 0x8EA1A4A1, 0xFFFFFFFE}),
        sparse(3, {0x20, 0x41, 0x8140, 0x82A0, 0xFFFF}),
        direct(4, 256, [](unsigned c) { return c * 257; }),
    };
    for (const Table& t : tables) {
        const unsigned from = 10 + t.format;
        dir.write("le" + std::to_string(t.format), tableFile(false, from, 1, names, t));
        dir.write("be" + std::to_string(t.format), tableFile(true, from, 100, names, t));
    }
    XlatManager m(dir.path().c_str());
    ASSERT_EQ(m.countTables(), 10);

    std::vector<unsigned> probes = {0, 0x20, 0x21, 0x41, 0xFF, 0x141, 0x8140, 0x82A0, 0xA4A1, 0xFFFF, 0x10041,
                                    0x8EA1A4A1, 0xFFFFFFFE, 0xFFFFFFFF};
    for (const Table& t : tables) {
        SCOPED_TRACE("format " + std::to_string(t.format));
        const XlatDescRecord* le = m.findTable(10 + t.format, 1);
        const XlatDescRecord* be = m.findTable(10 + t.format, 100);
        ASSERT_TRUE(le && be);
        EXPECT_FALSE(le->bigEndian);
        EXPECT_TRUE(be->bigEndian);
        EXPECT_EQ(le->format, t.format);
        EXPECT_EQ(be->format, t.format);
        EXPECT_EQ(be->entries, t.format == 1 ? 65536u : t.keys.empty() ? 256u : t.keys.size());
        EXPECT_EQ(le->entries, be->entries);
        EXPECT_EQ(XlatManager::GetDefaultString(be, 2), "x-test");
        XlatTablePtr a(m.loadTable(le)), b(m.loadTable(be));
        ASSERT_TRUE(a && b);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.get()) % 8, 0u);
        for (unsigned c : probes)
            EXPECT_EQ(xlat(a.get(), c), xlat(b.get(), c)) << std::hex << c;
        for (std::uint32_t k = 0; k < t.keys.size(); ++k)
            EXPECT_EQ(xlat(b.get(), t.keys[k]), t.values[k]) << std::hex << t.keys[k];
        // The direct formats index by the code's low bits: 0x141 is 0x41.
        if (t.keys.empty()) {
            for (unsigned c : probes)
                EXPECT_EQ(xlat(b.get(), c), t.values[c % t.values.size()]) << std::hex << c;
        }
    }
}

// --- scanning ----------------------------------------------------------------

TEST(XlatScan, SkipsEveryFileThatIsNotATable)
{
    TempDir dir;
    const Table t = sparse(3, {0x41, 0x42});
    const std::string good = tableFile(false, 2, 1, names, t);
    dir.write("good", good);

    std::string badMark = good;
    badMark[4] = 0x12, badMark[5] = 0x34;
    dir.write("bad-mark", badMark);
    std::string badMagic = good;
    badMagic[3] = '?';
    dir.write("bad-magic", badMagic);
    std::string nonZero = good;
    nonZero[10] = 1;
    dir.write("nonzero-at-10", nonZero);
    dir.write("short", good.substr(0, 47));
    // The string block (and so the table) said to lie past the end.
    std::string longBlock = good;
    longBlock[12] = char(0xF0), longBlock[13] = char(0xFF);
    dir.write("block-past-end", longBlock);
    // A string record whose text runs past the string data.
    std::string longText = good;
    longText[18 + 4] = 100;
    dir.write("text-past-data", longText);
    // More records than the string block has room for.
    std::string manyRecords = good;
    manyRecords[14] = 40;
    dir.write("records-past-block", manyRecords);
    // A format 3 count that does not fit the file, and one that would
    // overflow 32-bit arithmetic.
    const unsigned tableAt = 10 + 8 + 8 * names.size() + 16;
    std::string bigCount = good;
    bigCount[tableAt + 4] = 3;
    dir.write("count-past-end", bigCount);
    bigCount[tableAt + 4] = bigCount[tableAt + 5] = bigCount[tableAt + 6] = bigCount[tableAt + 7] = char(0xFF);
    dir.write("count-overflows", bigCount);
    dir.write("format-1-truncated", tableFile(false, 3, 1, names, direct(1, 65536, [](unsigned) { return 0u; }))
                                        .substr(0, 70000));
    ASSERT_EQ(::mkdir(dir.file("subdir").c_str(), 0755), 0);
    // A format this code does not know is a table still, but never loads.
    Table future = sparse(3, {1, 2, 3, 4, 5, 6, 7, 8});
    future.format = 9;
    dir.write("future", tableFile(true, 5, 1, names, future));

    XlatManager m(dir.path().c_str());
    ASSERT_EQ(m.countTables(), 2);
    EXPECT_EQ(m.findTable(2, 1)->file.full(), dir.file("good").c_str());
    EXPECT_EQ(m.findTable(5, 1)->format, 9);
    EXPECT_EQ(m.loadTable(5, 1), nullptr);
}

TEST(XlatScan, APairInTwoDirectoriesIsTakenFromTheFirst)
{
    TempDir a, b;
    a.write("t", tableFile(false, 2, 1, names, direct(4, 256, [](unsigned) { return 0xAAAAu; })));
    b.write("t", tableFile(true, 2, 1, names, direct(4, 256, [](unsigned) { return 0xBBBBu; })));
    b.write("u", tableFile(true, 3, 1, names, direct(4, 256, [](unsigned) { return 0xCCCCu; })));

    XlatManager m((a.path() + ":" + b.path()).c_str());
    EXPECT_EQ(m.countTables(), 3);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xAAAAu);
    EXPECT_EQ(xlat(load(m, 3, 1).get(), 0x41), 0xCCCCu);

    m.setPath((b.path() + ":" + a.path()).c_str());
    EXPECT_EQ(m.countTables(), 3);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xBBBBu);

    m.setPath(a.path().c_str());
    EXPECT_EQ(m.countTables(), 1);
    EXPECT_EQ(m.findTable(3, 1), nullptr);
    m.addPath(b.path().c_str());
    EXPECT_EQ(m.countTables(), 3);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xAAAAu) << "added directories come after";
    EXPECT_EQ(m.loadTable(5, 1), nullptr);
}

TEST(XlatScan, WithinADirectoryTheFirstFoundOfAPairIsUsed)
{
    TempDir dir;
    dir.write("one", tableFile(false, 2, 1, names, direct(4, 256, [](unsigned) { return 1u; })));
    dir.write("two", tableFile(false, 2, 1, names, direct(4, 256, [](unsigned) { return 2u; })));
    XlatManager m(dir.path().c_str());
    ASSERT_EQ(m.countTables(), 2);
    const XlatDescRecord* first = m.getXlatDescArray()[0];
    EXPECT_EQ(m.findTable(2, 1), first);
    const unsigned expected = first->file.base() == "one" ? 1 : 2;
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0), expected);
}

TEST(XlatScan, AnEntryThatCannotBeExaminedEndsOnlyItsDirectory)
{
    TempDir broken, good;
    ASSERT_EQ(::symlink(broken.file("nowhere").c_str(), broken.file("dangling").c_str()), 0);
    good.write("t", tableFile(false, 2, 1, names, sparse(3, {0x41})));
    XlatManager m((broken.path() + ":" + good.file("missing") + "::" + good.path()).c_str());
    EXPECT_EQ(m.countTables(), 1);
}

TEST(XlatScan, ANullPathFindsNothing)
{
    XlatManager m(nullptr);
    EXPECT_EQ(m.countTables(), 0);
    EXPECT_EQ(m.findTable(2, 1), nullptr);
    EXPECT_EQ(m.loadTable(2, 1), nullptr);
}

// --- loading and lookup ------------------------------------------------------

TEST(XlatLoad, ATableThatChangedSinceTheScan)
{
    TempDir dir;
    const std::string name = dir.write("t", tableFile(false, 2, 1, names, sparse(3, {1, 2, 3, 4, 5, 6})));
    XlatManager m(dir.path().c_str());
    ASSERT_EQ(m.countTables(), 1);
    ASSERT_EQ(::truncate(name.c_str(), 50), 0);
    EXPECT_EQ(m.loadTable(2, 1), nullptr) << "a table that no longer fits its file";
    ASSERT_EQ(::unlink(name.c_str()), 0);
    EXPECT_THROW(m.loadTable(2, 1), file::fileerror);
}

TEST(Xlat, SearchedFormatsFindEveryKeyAndNothingElse)
{
    TempDir dir;
    // Every count from 0 to 9, so that the search meets even and odd
    // ranges, the first and the last key, and codes beyond both ends.
    for (unsigned m = 0; m <= 9; ++m) {
        std::vector<std::uint32_t> keys;
        for (unsigned i = 0; i < m; ++i)
            keys.push_back(4 + 3 * i);
        dir.write("f3-" + std::to_string(m), tableFile(false, 300 + m, 1, names, sparse(3, keys)));
        for (auto& k : keys)
            k = 0x8EA10000 + k;
        dir.write("f2-" + std::to_string(m), tableFile(false, 200 + m, 1, names, sparse(2, keys)));
    }
    XlatManager man(dir.path().c_str());
    for (unsigned m = 0; m <= 9; ++m)
        for (unsigned format : {2u, 3u}) {
            auto t = load(man, 100 * format + m, 1);
            ASSERT_TRUE(t);
            const std::uint32_t base = format == 2 ? 0x8EA10000 : 0;
            for (unsigned c = 0; c < 4 + 3 * m + 4; ++c) {
                const bool key = c >= 4 && (c - 4) % 3 == 0 && (c - 4) / 3 < m;
                const unsigned want = key ? ((base + c) * 7 + 3) & 0xFFFF : 0xFFFFFFFF;
                EXPECT_EQ(xlat(t.get(), base + c), want) << "format " << format << " m " << m << " code " << c;
            }
        }
    auto t3 = load(man, 303, 1);
    EXPECT_EQ(xlat3(t3.get(), 0x10004), 0xFFFFFFFFu) << "a code wider than the keys is no key";
}

TEST(Xlat, DefaultStrings)
{
    TempDir dir;
    dir.write("t", tableFile(false, 2, 1,
                             {{0x0409, 1, "not a default"}, {0xFFFF, 1, "first"}, {0xFFFF, 1, "second"},
                              {0xFFFF, 3, std::string("a\0b", 3)}},
                             sparse(3, {0x41})));
    XlatManager m(dir.path().c_str());
    ASSERT_EQ(m.countTables(), 1);
    const XlatDescRecord* d = m.getXlatDescArray()[0];
    EXPECT_EQ(d->stringCount, 4);
    EXPECT_EQ(XlatManager::GetDefaultString(d, 1), "first");
    EXPECT_EQ(XlatManager::GetDefaultString(d, 2), "");
    EXPECT_EQ(XlatManager::GetDefaultString(d, 3), "a\2b") << "a byte 0 becomes 2";
    EXPECT_EQ(XlatManager::GetDefaultString(nullptr, 1), "");
}

TEST(XlatDeathTest, MisuseStopsTheProcessNamingTheCondition)
{
    EXPECT_DEATH(XlatManager::releaseTable(nullptr), "table != 0");
    alignas(8) unsigned char corrupt[8] = {9, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_DEATH(xlat(corrupt, 0x41), "corrupted translation table");
}

} // namespace
