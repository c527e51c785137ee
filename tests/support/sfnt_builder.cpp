#include "support/sfnt_builder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <tuple>

using namespace std::string_literals;

namespace korrin::test {

void set16(std::string& bytes, std::size_t offset, unsigned v)
{
    bytes[offset] = static_cast<char>(v >> 8 & 0xFF);
    bytes[offset + 1] = static_cast<char>(v & 0xFF);
}

void set32(std::string& bytes, std::size_t offset, std::uint32_t v)
{
    set16(bytes, offset, v >> 16);
    set16(bytes, offset + 2, v & 0xFFFF);
}

void put16(std::string& out, unsigned v)
{
    out.append(2, '\0');
    set16(out, out.size() - 2, v);
}

void put32(std::string& out, std::uint32_t v)
{
    out.append(4, '\0');
    set32(out, out.size() - 4, v);
}

std::uint32_t tableChecksum(const std::string& bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        sum += std::uint32_t(static_cast<unsigned char>(bytes[i])) << (24 - 8 * (i % 4));
    return sum;
}

std::string written(const std::function<void(std::FILE*)>& write)
{
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    write(out);
    std::fclose(out);
    std::string text(data, size);
    std::free(data);
    return text;
}

std::string SfntBuilder::build() const
{
    // searchRange and its companions as the table count gives them.
    const unsigned n = static_cast<unsigned>(tables_.size());
    const unsigned entrySelector = n ? std::bit_width(n) - 1 : 0, searchRange = n ? 16u << entrySelector : 0;
    std::string font, body;
    put32(font, version_);
    for (unsigned v : {n, searchRange, entrySelector, n * 16 - searchRange})
        put16(font, v);
    for (const auto& [tag, data] : tables_) {
        font += tag;
        put32(font, tableChecksum(data));
        put32(font, static_cast<std::uint32_t>(12 + 16 * n + body.size()));
        put32(font, static_cast<std::uint32_t>(data.size()));
        body += data + std::string((4 - data.size() % 4) % 4, '\0');
    }
    return font + body;
}

// --- table makers -------------------------------------------------------------

NameRecord macName(unsigned nameID, const std::string& text) { return {1, 0, 0, nameID, text}; }

NameRecord msName(unsigned nameID, const std::string& text)
{
    std::string utf16;
    for (unsigned char c : text)
        put16(utf16, c);
    return {3, 1, 1033, nameID, utf16};
}

std::string nameTable(std::vector<NameRecord> records)
{
    std::sort(records.begin(), records.end(), [](const NameRecord& a, const NameRecord& b) {
        return std::tie(a.platformID, a.encodingID, a.languageID, a.nameID) <
               std::tie(b.platformID, b.encodingID, b.languageID, b.nameID);
    });
    std::string table(6, '\0'), strings;
    set16(table, 2, static_cast<unsigned>(records.size()));
    set16(table, 4, static_cast<unsigned>(6 + 12 * records.size()));
    for (const NameRecord& r : records) {
        for (unsigned v : {r.platformID, r.encodingID, r.languageID, r.nameID, unsigned(r.bytes.size()), unsigned(strings.size())})
            put16(table, v);
        strings += r.bytes;
    }
    return table + strings;
}

std::string headTable(int indexToLocFormat)
{
    std::string t(54, '\0');
    set32(t, 0, 0x00010000);     // version
    set32(t, 4, 0x00010000);     // fontRevision
    set16(t, 18, 2048);          // unitsPerEm
    set16(t, 38, 0x10000 - 200); // yMin (xMin is 0)
    set16(t, 40, 1000);          // xMax
    set16(t, 42, 800);           // yMax
    set16(t, 50, static_cast<unsigned>(indexToLocFormat));
    return t;
}

std::string maxpTable(unsigned numGlyphs)
{
    std::string t(32, '\0'); // the version 1.0 limits, all 0
    set32(t, 0, 0x00010000);
    set16(t, 4, numGlyphs);
    return t;
}

std::string locaTable(const std::vector<std::uint32_t>& offsets, bool longFormat)
{
    std::string t;
    for (std::uint32_t o : offsets)
        longFormat ? put32(t, o) : put16(t, o / 2);
    return t;
}

std::string postTable(std::uint32_t format)
{
    std::string t(32, '\0');
    set32(t, 0, format);
    return t;
}

std::string postTable2(const std::vector<unsigned>& indices, const std::vector<std::string>& names)
{
    std::string t = postTable(0x00020000);
    put16(t, static_cast<unsigned>(indices.size()));
    for (unsigned i : indices)
        put16(t, i);
    for (const std::string& name : names)
        t += static_cast<char>(name.size()) + name;
    return t;
}

std::string postTable25(const std::vector<int>& offsets)
{
    std::string t = postTable(0x00025000);
    put16(t, static_cast<unsigned>(offsets.size()));
    for (int d : offsets)
        t += static_cast<char>(d);
    return t;
}

std::string cmapTable(const std::vector<CmapSubtable>& subtables)
{
    std::string t(4, '\0'), bodies;
    set16(t, 2, static_cast<unsigned>(subtables.size()));
    for (const CmapSubtable& s : subtables) {
        put16(t, s.platformID);
        put16(t, s.encodingID);
        put32(t, static_cast<std::uint32_t>(4 + 8 * subtables.size() + bodies.size()));
        bodies += s.bytes;
    }
    return t + bodies;
}

std::string cmapFormat0(const std::map<unsigned, unsigned>& glyphs)
{
    std::string t(6 + 256, '\0');
    set16(t, 2, 262);
    for (const auto& [code, glyph] : glyphs)
        t[6 + code] = static_cast<char>(glyph);
    return t;
}

std::string cmapFormat2(const std::map<unsigned, unsigned>& glyphs, int idDelta)
{
    // Each subHeaderKey is 8 times its subHeader's number.
    std::map<unsigned, std::map<unsigned, unsigned>> byHigh{{0, {}}};
    for (const auto& [code, glyph] : glyphs)
        byHigh[code >> 8][code & 0xFF] = glyph;
    std::string t(6 + 512, '\0'), arrays;
    set16(t, 0, 2);
    const std::size_t headersEnd = t.size() + 8 * byHigh.size();
    for (const auto& [high, lows] : byHigh) {
        const unsigned first = lows.empty() ? 0 : lows.begin()->first;
        const unsigned count = lows.empty() ? 0 : lows.rbegin()->first - first + 1;
        set16(t, 6 + 2 * high, static_cast<unsigned>(t.size() - 518));
        // idRangeOffset counts from its own field, 6 bytes into the subHeader.
        const std::size_t rangeField = t.size() + 6;
        for (unsigned v : {first, count, static_cast<unsigned>(idDelta)})
            put16(t, v);
        put16(t, static_cast<unsigned>(headersEnd + arrays.size() - rangeField));
        for (unsigned low = first; low < first + count; ++low)
            put16(arrays, lows.count(low) ? lows.at(low) - static_cast<unsigned>(idDelta) : 0);
    }
    t += arrays;
    set16(t, 2, static_cast<unsigned>(t.size()));
    return t;
}

std::string cmapFormat4(const std::vector<Segment4>& segments)
{
    const unsigned segCount = static_cast<unsigned>(segments.size());
    std::string t(14, '\0'), glyphIds;
    set16(t, 0, 4);
    set16(t, 6, 2 * segCount);
    for (const Segment4& s : segments)
        put16(t, s.end);
    put16(t, 0);
    for (const Segment4& s : segments)
        put16(t, s.start);
    for (const Segment4& s : segments)
        put16(t, static_cast<unsigned>(s.delta));
    for (unsigned i = 0; i < segCount; ++i) {
        // From this idRangeOffset field to the segment's first glyph id.
        put16(t, segments[i].glyphIds.empty() ? 0 : 2 * (segCount - i) + static_cast<unsigned>(glyphIds.size()));
        for (unsigned g : segments[i].glyphIds)
            put16(glyphIds, g);
    }
    t += glyphIds;
    set16(t, 2, static_cast<unsigned>(t.size()));
    return t;
}

std::string cmapFormat6(unsigned firstCode, const std::vector<unsigned>& glyphs)
{
    std::string t;
    for (unsigned v : {6u, unsigned(10 + 2 * glyphs.size()), 0u, firstCode, unsigned(glyphs.size())})
        put16(t, v);
    for (unsigned g : glyphs)
        put16(t, g);
    return t;
}

SfntBuilder minimalFont()
{
    return SfntBuilder()
        .table("head", headTable(0))
        .table("maxp", maxpTable(4))
        .table("loca", locaTable({0, 0, 0, 12, 24}))
        .table("glyf", std::string(24, '\x01'))
        .table("name", nameTable({macName(0, "Copyright nobody"), macName(1, "Minimal"), macName(3, "Minimal:1.0"),
                                  macName(4, "Minimal Regular"), macName(5, "Version 1.0"), macName(6, "Minimal-Regular"),
                                  msName(1, "Minimal"), msName(4, "Minimal Regular"), msName(6, "Minimal-Regular")}))
        .table("post", postTable(0x00030000));
}

SfntBuilder type42Font()
{
    std::string hhea(36, '\0');
    set32(hhea, 0, 0x00010000);
    set16(hhea, 34, 4); // numberOfHMetrics
    return minimalFont()
        .table("cvt ", "\x00\x10\x00\x20"s)
        .table("fpgm", "\xB0\x01\x2C\x00\x01"s)
        .table("prep", "\xB8\x01\xFF\x85\xB0\x04"s)
        .table("hhea", hhea)
        .table("hmtx", std::string(4 * 4, '\x01'))
        .table("cmap", cmapTable({{3, 1, cmapFormat4({{0x20, 0x20, 1 - 0x20, {}}, {0x41, 0x42, 0, {2, 3}},
                                                       {0xFFFF, 0xFFFF, 1, {}}})}}))
        .table("post", postTable2({0, 3, 36, 258}, {"Bee"}));
}

} // namespace korrin::test
