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

// Table files built field by field in either byte order, apart from XTableWriter.
struct Table {
    unsigned format;
    std::vector<std::uint32_t> keys; // formats 2 and 3
    std::vector<unsigned> values;    // one per key; 256 (or 65536) for the direct formats
};

struct Str {
    unsigned qualifier, number;
    std::string text;
};

std::string tableFile(bool big, unsigned from, unsigned to, const std::vector<Str>& strings, const Table& t)
{
    std::string out = "xlt!";
    auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>(v >> 8 * (big ? bytes - 1 - i : i));
    };
    std::string data;
    for (const Str& s : strings)
        data += s.text;
    data.resize((data.size() + 3) / 4 * 4, '\0');
    const unsigned n = strings.size();
    for (unsigned v : {0xAADDu, from, to, 0u, 8 + 8 * n + unsigned(data.size()), n, 8 + 8 * n})
        put(v, 2);
    unsigned offset = 0;
    for (const Str& s : strings) {
        for (unsigned v : {s.qualifier, s.number, unsigned(s.text.size()), offset})
            put(v, 2);
        offset += s.text.size();
    }
    out += data;
    put(t.format, 2);
    put(0, 2);
    if (t.format == 2 || t.format == 3)
        put(t.keys.size(), 4);
    for (std::uint32_t k : t.keys)
        put(k, t.format == 2 ? 4 : 2);
    for (unsigned v : t.values)
        put(v, t.format == 0 ? 1 : 2);
    return out;
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

// Default strings are the first records of qualifier 0xFFFF with their number.
const std::vector<Str> names = {
    {0x0409, 1, "not a default"}, {0xFFFF, 1, "first"}, {0xFFFF, 1, "second"}, {0xFFFF, 3, std::string("a\0b", 3)}};

XlatTablePtr load(const XlatManager& m, int from, int to) { return XlatTablePtr(m.loadTable(from, to)); }

TEST(XTableWriter, WritesTheLayoutInHostOrderWithPaddedStringsOverAnyOldFile)
{
    TempDir dir;
    const Table t = sparse(3, {0x41, 0x8140});
    const std::string table = tableFile(isCPUBigEndian(), 0, 0, {}, t).substr(18);
    list<IDRecord> records(true);
    records.append(IDRecord{0xFFFF, 1, lstring("hello")});

    XTableWriter w(filename(dir.write("t.xlt", std::string(4096, 'x')).c_str()));
    w.writeHeader(2, 1);
    w.writeStringTable(&records);
    w.writeTable(reinterpret_cast<const unsigned char*>(table.data()), table.size());
    w.close();

    // Five bytes of text and three of padding, and nothing of the old file.
    EXPECT_EQ(korrin::test::readFile(dir.file("t.xlt")), tableFile(isCPUBigEndian(), 2, 1, {{0xFFFF, 1, "hello"}}, t));
}

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
        dir.write("le" + std::to_string(t.format), tableFile(false, 10 + t.format, 1, names, t));
        dir.write("be" + std::to_string(t.format), tableFile(true, 10 + t.format, 100, names, t));
    }
    XlatManager m(dir.path().c_str());
    ASSERT_EQ(m.countTables(), 10);
    for (const Table& t : tables) {
        SCOPED_TRACE("format " + std::to_string(t.format));
        const XlatDescRecord* le = m.findTable(10 + t.format, 1);
        const XlatDescRecord* be = m.findTable(10 + t.format, 100);
        ASSERT_TRUE(le && be);
        EXPECT_TRUE(be->bigEndian && !le->bigEndian);
        EXPECT_EQ(be->format, t.format);
        EXPECT_EQ(le->entries, t.format == 1 ? 65536u : t.keys.empty() ? 256u : t.keys.size());
        EXPECT_EQ(be->entries, le->entries);
        for (const XlatDescRecord* d : {le, be}) {
            EXPECT_EQ(XlatManager::GetDefaultString(d, 1), "first");
            EXPECT_EQ(XlatManager::GetDefaultString(d, 2), "");
            EXPECT_EQ(XlatManager::GetDefaultString(d, 3), "a\2b") << "a byte 0 becomes 2";
        }
        XlatTablePtr a(m.loadTable(le)), b(m.loadTable(be));
        ASSERT_TRUE(a && b);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.get()) % 8, 0u);
        // The direct formats index by the code's low bits: 0x141 is 0x41.
        for (unsigned c : {0u, 0x21u, 0xFFu, 0x141u, 0x82A0u, 0xFFFFu, 0x10041u, 0xFFFFFFFFu}) {
            EXPECT_EQ(xlat(a.get(), c), xlat(b.get(), c)) << std::hex << c;
            if (t.keys.empty()) {
                EXPECT_EQ(xlat(b.get(), c), t.values[c % t.values.size()]) << std::hex << c;
            }
        }
        for (std::uint32_t k = 0; k < t.keys.size(); ++k)
            EXPECT_EQ(xlat(b.get(), t.keys[k]), t.values[k]) << std::hex << t.keys[k];
    }
}

TEST(XlatScan, SkipsEveryFileThatIsNotATable)
{
    TempDir dir;
    const std::string good = tableFile(false, 2, 1, names, sparse(3, {0x41, 0x42}));
    dir.write("good", good);
    const unsigned tableAt = good.size() - 16; // format 3 with two keys
    auto patched = [&](const std::string& name, std::initializer_list<std::pair<unsigned, int>> bytes) {
        std::string s = good;
        for (auto [at, value] : bytes)
            s[at] = static_cast<char>(value);
        dir.write(name, s);
    };
    patched("bad-mark", {{4, 0x12}, {5, 0x34}});
    patched("bad-magic", {{3, '?'}});
    patched("nonzero-at-10", {{10, 1}});
    patched("block-past-end", {{12, 0xF0}, {13, 0xFF}});        // the string block, and so the table
    patched("text-past-data", {{18 + 4, 100}});                  // a string's text past the string data
    patched("records-past-block", {{14, 40}});                   // more records than the block holds
    patched("count-past-end", {{tableAt + 4, 3}});               // a format 3 count past the file
    patched("count-overflows", {{tableAt + 4, 0xFF}, {tableAt + 5, 0xFF}, {tableAt + 6, 0xFF}, {tableAt + 7, 0xFF}});
    dir.write("short", good.substr(0, 47));
    dir.write("format-1-truncated",
              tableFile(false, 3, 1, names, direct(1, 65536, [](unsigned) { return 0u; })).substr(0, 70000));
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
    m.setPath((b.path() + ":" + a.path()).c_str());
    EXPECT_EQ(m.countTables(), 3);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xBBBBu);
    m.setPath(a.path().c_str());
    m.addPath(b.path().c_str());
    EXPECT_EQ(xlat(load(m, 3, 1).get(), 0x41), 0xCCCCu);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xAAAAu) << "added directories come after";
    EXPECT_EQ(m.loadTable(5, 1), nullptr);
    m.setPath(nullptr);
    EXPECT_EQ(m.countTables(), 0);
}

TEST(XlatScan, AnEntryThatCannotBeExaminedEndsItsDirectoryATableChangedSinceDoesNotLoad)
{
    TempDir broken, good;
    ASSERT_EQ(::symlink(broken.file("nowhere").c_str(), broken.file("dangling").c_str()), 0);
    const std::string name = good.write("t", tableFile(false, 2, 1, names, sparse(3, {1, 2, 3, 4, 5, 6})));
    XlatManager m((broken.path() + ":" + good.file("missing") + "::" + good.path()).c_str());
    ASSERT_EQ(m.countTables(), 1);
    ASSERT_EQ(::truncate(name.c_str(), 50), 0);
    EXPECT_EQ(m.loadTable(2, 1), nullptr) << "a table that no longer fits its file";
    ASSERT_EQ(::unlink(name.c_str()), 0);
    EXPECT_THROW(m.loadTable(2, 1), file::fileerror);
}

TEST(Xlat, SearchedFormatsFindEveryKeyAndNothingElse)
{
    TempDir dir;
    // Every count from 0 to 9: even and odd ranges, both ends and beyond.
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
    EXPECT_EQ(xlat3(load(man, 303, 1).get(), 0x10004), 0xFFFFFFFFu) << "a code wider than the keys is no key";
}

TEST(XlatDeathTest, MisuseStopsTheProcessNamingTheCondition)
{
    EXPECT_DEATH(XlatManager::releaseTable(nullptr), "table != 0");
    alignas(8) unsigned char corrupt[8] = {9, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_DEATH(xlat(corrupt, 0x41), "corrupted translation table");
    TempDir dir;
    list<IDRecord> records(true);
    records.append(IDRecord{0xFFFF, 1, lstring(std::string(65520, 'a').c_str())});
    XTableWriter w(filename(dir.file("t.xlt").c_str()));
    w.writeHeader(2, 1);
    EXPECT_DEATH(w.writeStringTable(&records), "nbytes <= 65535 - 8 - n \\* 8");
}

} // namespace
