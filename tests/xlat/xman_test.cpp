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
    unsigned short qualifier, number;
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
        for (unsigned v : {unsigned(s.qualifier), unsigned(s.number), unsigned(s.text.size()), offset})
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
    // Five bytes of text take three of padding, eight none.
    for (const std::vector<Str>& strings :
         {std::vector<Str>{{0xFFFF, 1, "hello"}}, {{0xFFFF, 1, "hello"}, {2, 2, "abc"}}}) {
        list<IDRecord> records(true);
        for (const Str& s : strings)
            records.append(IDRecord{s.qualifier, s.number, lstring(s.text.c_str())});
        XTableWriter w(filename(dir.write("t.xlt", std::string(4096, 'x')).c_str()));
        w.writeHeader(2, 1);
        w.writeStringTable(&records);
        w.writeTable(reinterpret_cast<const unsigned char*>(table.data()), table.size());
        w.close();
        EXPECT_EQ(korrin::test::readFile(dir.file("t.xlt")), tableFile(isCPUBigEndian(), 2, 1, strings, t));
    }
}

// Every format in either byte order; formats 2 and 3 also with 0 to 9 keys, so
// that the search meets even and odd ranges, both ends and the codes beyond.
TEST(Xlat, EveryFormatInEitherByteOrder)
{
    std::vector<Table> tables = {
        direct(0, 256, [](unsigned c) { return (c * 5 + 1) & 0xFF; }),
        direct(1, 65536, [](unsigned c) { return (c * 40503u + 17) & 0xFFFF; }),
        direct(4, 256, [](unsigned c) { return c * 257; }),
        sparse(2, {0x21, 0x8140, 0x8EA1A4A1, 0xFFFFFFFE}),
        sparse(3, {0x20, 0x8140, 0xFFFF}),
    };
    for (unsigned m = 0; m <= 9; ++m) {
        std::vector<std::uint32_t> keys;
        for (unsigned i = 0; i < m; ++i)
            keys.push_back(4 + 3 * i);
        tables.push_back(sparse(3, keys));
        for (auto& k : keys)
            k += 0x8EA10000;
        tables.push_back(sparse(2, keys));
    }
    TempDir dir;
    for (unsigned i = 0; i < tables.size(); ++i) {
        dir.write("le" + std::to_string(i), tableFile(false, i, 1, names, tables[i]));
        dir.write("be" + std::to_string(i), tableFile(true, i, 100, names, tables[i]));
    }
    XlatManager man(dir.path().c_str());
    ASSERT_EQ(man.countTables(), int(2 * tables.size()));
    for (unsigned i = 0; i < tables.size(); ++i) {
        const Table& t = tables[i];
        const bool searched = t.format == 2 || t.format == 3;
        SCOPED_TRACE("format " + std::to_string(t.format) + ", " + std::to_string(t.keys.size()) + " keys");
        const XlatDescRecord* le = man.findTable(i, 1);
        const XlatDescRecord* be = man.findTable(i, 100);
        ASSERT_TRUE(le && be);
        EXPECT_TRUE(be->bigEndian && !le->bigEndian);
        EXPECT_EQ(be->format, t.format);
        EXPECT_EQ(le->entries, searched ? t.keys.size() : t.format == 1 ? 65536u : 256u);
        EXPECT_EQ(be->entries, le->entries);
        for (const XlatDescRecord* d : {le, be}) {
            EXPECT_EQ(XlatManager::GetDefaultString(d, 1), "first");
            EXPECT_EQ(XlatManager::GetDefaultString(d, 2), "");
            EXPECT_EQ(XlatManager::GetDefaultString(d, 3), "a\2b") << "a byte 0 becomes 2";
        }
        XlatTablePtr a(man.loadTable(le)), b(man.loadTable(be));
        ASSERT_TRUE(a && b);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.get()) % 8, 0u);
        std::vector<std::uint32_t> probes = {0, 0xFF, 0x141, 0xFFFF, 0x10004, 0x10041, 0xFFFFFFFF};
        for (std::uint32_t k : t.keys)
            probes.insert(probes.end(), {k - 1, k, k + 1});
        for (std::uint32_t c : probes) {
            // The direct formats index by the code's low bits: 0x141 is 0x41.
            unsigned want = searched ? 0xFFFFFFFF : t.values[c % t.values.size()];
            for (unsigned k = 0; k < t.keys.size(); ++k)
                if (t.keys[k] == c)
                    want = t.values[k];
            EXPECT_EQ(xlat(a.get(), c), want) << std::hex << c;
            EXPECT_EQ(xlat(b.get(), c), want) << std::hex << c;
        }
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
    patched("text-past-data", {{18 + 4, 30}});                   // a string's text past the string data
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

TEST(XlatScan, DirectoriesInOrderAndTablesChangedSinceTheScan)
{
    TempDir broken, a, b;
    // An entry that cannot be examined ends its directory only.
    ASSERT_EQ(::symlink(broken.file("nowhere").c_str(), broken.file("dangling").c_str()), 0);
    auto filled = [](unsigned from, unsigned v) {
        return tableFile(true, from, 1, names, Table{4, {}, std::vector<unsigned>(256, v)});
    };
    const std::string name = a.write("t", filled(2, 0xAAAA));
    b.write("t", filled(2, 0xBBBB));
    b.write("u", filled(3, 0xCCCC));

    XlatManager m((broken.path() + ":" + a.file("missing") + "::" + a.path() + ":" + b.path()).c_str());
    EXPECT_EQ(m.countTables(), 3);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xAAAAu) << "the first directory wins";
    m.setPath((b.path() + ":" + a.path()).c_str());
    EXPECT_EQ(m.countTables(), 3);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xBBBBu);
    m.setPath(a.path().c_str());
    m.addPath(b.path().c_str());
    EXPECT_EQ(xlat(load(m, 3, 1).get(), 0x41), 0xCCCCu);
    EXPECT_EQ(xlat(load(m, 2, 1).get(), 0x41), 0xAAAAu) << "added directories come after";
    EXPECT_EQ(m.loadTable(5, 1), nullptr);

    // Rewritten since the scan with a count past the file: refused before any allocation of that size.
    std::string changed = tableFile(true, 2, 1, names, sparse(2, {}));
    a.write("t", changed.replace(changed.size() - 4, 4, "\xFF\xFF\xFF\xFF"));
    EXPECT_EQ(m.loadTable(2, 1), nullptr);
    ASSERT_EQ(::unlink(name.c_str()), 0);
    EXPECT_THROW(m.loadTable(2, 1), file::fileerror);
    m.setPath(nullptr);
    EXPECT_EQ(m.countTables(), 0);
    EXPECT_EQ(XlatManager::GetDefaultString(nullptr, 1), "");
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
