#include "support/sfnt_builder.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <tuple>

using namespace std::string_literals;

namespace korrin::test {

void put8(std::string& out, unsigned v) { out += static_cast<char>(v & 0xFF); }

void put16(std::string& out, unsigned v)
{
    put8(out, v >> 8);
    put8(out, v);
}

void put32(std::string& out, std::uint32_t v)
{
    put16(out, v >> 16);
    put16(out, v);
}

std::uint32_t tableChecksum(const std::string& bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k)
            word = word << 8 | (i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        sum += word;
    }
    return sum;
}

namespace {

void checkTag(const std::string& tag)
{
    if (tag.size() != 4)
        throw std::invalid_argument("a table tag has four characters: '" + tag + "'");
}

std::uint32_t tagValue(const std::string& tag)
{
    return std::uint32_t(static_cast<unsigned char>(tag[0])) << 24 | std::uint32_t(static_cast<unsigned char>(tag[1])) << 16 |
           std::uint32_t(static_cast<unsigned char>(tag[2])) << 8 | static_cast<unsigned char>(tag[3]);
}

} // namespace

SfntBuilder& SfntBuilder::version(std::uint32_t v)
{
    version_ = v;
    return *this;
}

SfntBuilder& SfntBuilder::table(const std::string& tag, std::string bytes)
{
    checkTag(tag);
    tables_[tag] = std::move(bytes);
    return *this;
}

SfntBuilder& SfntBuilder::remove(const std::string& tag)
{
    tables_.erase(tag);
    return *this;
}

SfntBuilder& SfntBuilder::statedOffset(const std::string& tag, std::uint32_t offset)
{
    statedOffsets_[tag] = offset;
    return *this;
}

SfntBuilder& SfntBuilder::statedLength(const std::string& tag, std::uint32_t length)
{
    statedLengths_[tag] = length;
    return *this;
}

SfntBuilder& SfntBuilder::statedTableCount(int count)
{
    statedCount_ = count;
    return *this;
}

SfntBuilder& SfntBuilder::trailing(std::string bytes)
{
    trailing_ = std::move(bytes);
    return *this;
}

SfntBuilder& SfntBuilder::unpaddedEnd()
{
    unpaddedEnd_ = true;
    return *this;
}

std::string SfntBuilder::build() const
{
    const unsigned n = static_cast<unsigned>(tables_.size());
    // searchRange and its companions, as the TrueType format derives them
    // from the table count.
    unsigned entrySelector = n ? std::bit_width(n) - 1 : 0;
    unsigned searchRange = n ? 16u << entrySelector : 0;

    std::string header;
    put32(header, version_);
    put16(header, statedCount_ ? static_cast<unsigned>(*statedCount_) : n);
    put16(header, searchRange);
    put16(header, entrySelector);
    put16(header, n * 16 - searchRange);

    std::string directory, body;
    std::uint32_t offset = 12 + 16 * n;
    std::size_t headAt = std::string::npos;
    for (const auto& [tag, bytes] : tables_) {
        std::string data = bytes;
        if (tag == "head" && data.size() >= 12) {
            data.replace(8, 4, 4, '\0'); // checkSumAdjustment counts as 0 while summing
            headAt = 12 + 16 * n + body.size();
        }
        put32(directory, tagValue(tag));
        put32(directory, tableChecksum(data));
        put32(directory, statedOffsets_.count(tag) ? statedOffsets_.at(tag) : offset);
        put32(directory, statedLengths_.count(tag) ? statedLengths_.at(tag) : static_cast<std::uint32_t>(data.size()));
        std::size_t padded = (data.size() + 3) & ~std::size_t(3);
        body += data;
        body.append(padded - data.size(), '\0');
        offset += static_cast<std::uint32_t>(padded);
    }
    std::string font = header + directory + body;
    if (headAt != std::string::npos) {
        std::string adjustment;
        put32(adjustment, 0xB1B0AFBAu - tableChecksum(font));
        font.replace(headAt + 8, 4, adjustment);
    }
    if (unpaddedEnd_ && !tables_.empty()) {
        std::size_t last = tables_.rbegin()->second.size();
        font.resize(font.size() - (((last + 3) & ~std::size_t(3)) - last));
    }
    return font + trailing_;
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
    std::string table, strings;
    put16(table, 0);
    put16(table, static_cast<unsigned>(records.size()));
    put16(table, static_cast<unsigned>(6 + 12 * records.size()));
    for (const NameRecord& r : records) {
        put16(table, r.platformID);
        put16(table, r.encodingID);
        put16(table, r.languageID);
        put16(table, r.nameID);
        put16(table, static_cast<unsigned>(r.bytes.size()));
        put16(table, static_cast<unsigned>(strings.size()));
        strings += r.bytes;
    }
    return table + strings;
}

std::string headTable(int indexToLocFormat)
{
    std::string t;
    put32(t, 0x00010000); // version
    put32(t, 0x00010000); // fontRevision
    put32(t, 0);          // checkSumAdjustment, filled in by build()
    put32(t, 0x5F0F3CF5); // magicNumber
    put16(t, 0);          // flags
    put16(t, 2048);       // unitsPerEm
    t.append(16, '\0');   // created, modified
    put16(t, 0);          // xMin
    put16(t, static_cast<unsigned>(-200));
    put16(t, 1000);
    put16(t, 800);        // yMax
    put16(t, 0);          // macStyle
    put16(t, 8);          // lowestRecPPEM
    put16(t, 2);          // fontDirectionHint
    put16(t, static_cast<unsigned>(indexToLocFormat));
    put16(t, 0);          // glyphDataFormat
    return t;
}

std::string maxpTable(unsigned numGlyphs)
{
    std::string t;
    put32(t, 0x00010000);
    put16(t, numGlyphs);
    t.append(26, '\0'); // the version 1.0 limits, all 0
    return t;
}

std::string locaTable(const std::vector<std::uint32_t>& offsets, bool longFormat)
{
    std::string t;
    for (std::uint32_t o : offsets) {
        if (longFormat)
            put32(t, o);
        else
            put16(t, o / 2);
    }
    return t;
}

namespace {

std::string postHeader(std::uint32_t format)
{
    std::string t;
    put32(t, format);
    put32(t, 0);  // italicAngle
    put16(t, static_cast<unsigned>(-100)); // underlinePosition
    put16(t, 50); // underlineThickness
    put32(t, 0);  // isFixedPitch
    t.append(16, '\0'); // the memory figures
    return t;
}

} // namespace

std::string postTable(std::uint32_t format) { return postHeader(format); }

std::string postTable2(const std::vector<unsigned>& indices, const std::vector<std::string>& names)
{
    std::string t = postHeader(0x00020000);
    put16(t, static_cast<unsigned>(indices.size()));
    for (unsigned i : indices)
        put16(t, i);
    for (const std::string& name : names) {
        put8(t, static_cast<unsigned>(name.size()));
        t += name;
    }
    return t;
}

std::string postTable25(const std::vector<int>& offsets)
{
    std::string t = postHeader(0x00025000);
    put16(t, static_cast<unsigned>(offsets.size()));
    for (int d : offsets)
        put8(t, static_cast<unsigned>(d));
    return t;
}

void set16(std::string& table, std::size_t offset, unsigned v)
{
    table[offset] = static_cast<char>(v >> 8 & 0xFF);
    table[offset + 1] = static_cast<char>(v & 0xFF);
}

std::string cmapTable(const std::vector<CmapSubtable>& subtables)
{
    std::string t, bodies;
    put16(t, 0);
    put16(t, static_cast<unsigned>(subtables.size()));
    const std::uint32_t first = static_cast<std::uint32_t>(4 + 8 * subtables.size());
    for (const CmapSubtable& s : subtables) {
        put16(t, s.platformID);
        put16(t, s.encodingID);
        put32(t, first + static_cast<std::uint32_t>(bodies.size()));
        bodies += s.bytes;
    }
    return t + bodies;
}

std::string cmapFormat0(const std::map<unsigned, unsigned>& glyphs)
{
    std::string t;
    put16(t, 0);
    put16(t, 262);
    put16(t, 0);
    for (unsigned c = 0; c < 256; ++c)
        put8(t, glyphs.count(c) ? glyphs.at(c) : 0);
    return t;
}

std::string cmapFormat2(const std::map<unsigned, unsigned>& glyphs, int idDelta)
{
    // subHeader 0 covers all one-byte codes; then one per high byte.
    std::map<unsigned, std::map<unsigned, unsigned>> byHigh;
    std::map<unsigned, unsigned> single;
    for (const auto& [code, glyph] : glyphs)
        (code < 256 ? single : byHigh[code >> 8])[code & 0xFF] = glyph;
    std::vector<std::map<unsigned, unsigned>> headers{single};
    std::vector<unsigned> keys(256, 0);
    for (const auto& [high, lows] : byHigh) {
        keys[high] = static_cast<unsigned>(8 * headers.size());
        headers.push_back(lows);
    }
    std::string t;
    put16(t, 2);
    put16(t, 0); // length, set below
    put16(t, 0);
    for (unsigned k : keys)
        put16(t, k);
    std::string arrays;
    const std::size_t headersEnd = 518 + 8 * headers.size();
    for (std::size_t h = 0; h < headers.size(); ++h) {
        const auto& lows = headers[h];
        const unsigned first = lows.empty() ? 0 : lows.begin()->first;
        const unsigned count = lows.empty() ? 0 : lows.rbegin()->first - first + 1;
        put16(t, first);
        put16(t, count);
        put16(t, static_cast<unsigned>(idDelta));
        // idRangeOffset counts from its own field, 6 bytes into the header.
        put16(t, static_cast<unsigned>(headersEnd + arrays.size() - (518 + 8 * h + 6)));
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
    const unsigned searchRange = segCount ? 2u << (std::bit_width(segCount) - 1) : 0;
    std::string t;
    put16(t, 4);
    put16(t, 0); // length, set below
    put16(t, 0);
    put16(t, 2 * segCount);
    put16(t, searchRange);
    put16(t, segCount ? std::bit_width(segCount) - 1 : 0);
    put16(t, 2 * segCount - searchRange);
    for (const Segment4& s : segments)
        put16(t, s.end);
    put16(t, 0);
    for (const Segment4& s : segments)
        put16(t, s.start);
    for (const Segment4& s : segments)
        put16(t, static_cast<unsigned>(s.delta));
    std::string glyphIds;
    for (unsigned i = 0; i < segCount; ++i) {
        if (segments[i].glyphIds.empty()) {
            put16(t, 0);
            continue;
        }
        // From this idRangeOffset field to the segment's first glyph id.
        put16(t, 2 * (segCount - i) + static_cast<unsigned>(glyphIds.size()));
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
    put16(t, 6);
    put16(t, static_cast<unsigned>(10 + 2 * glyphs.size()));
    put16(t, 0);
    put16(t, firstCode);
    put16(t, static_cast<unsigned>(glyphs.size()));
    for (unsigned g : glyphs)
        put16(t, g);
    return t;
}

std::string hheaTable(unsigned numberOfHMetrics)
{
    std::string t;
    put32(t, 0x00010000);
    put16(t, 800);                         // ascender
    put16(t, static_cast<unsigned>(-200)); // descender
    t.append(26, '\0');
    put16(t, numberOfHMetrics);
    return t;
}

std::string hmtxTable(unsigned n)
{
    std::string t;
    for (unsigned i = 0; i < n; ++i) {
        put16(t, 500);
        put16(t, 0);
    }
    return t;
}

SfntBuilder minimalFont()
{
    // Four glyphs: .notdef and an empty space, then two small placeholder
    // outlines (their bytes are not interpreted by anything that loads them).
    std::string glyf(24, '\x01');
    SfntBuilder font;
    font.table("head", headTable(0))
        .table("maxp", maxpTable(4))
        .table("loca", locaTable({0, 0, 0, 12, 24}))
        .table("glyf", glyf)
        .table("name", nameTable({
                           macName(0, "Copyright nobody"),
                           macName(1, "Minimal"),
                           macName(3, "Minimal:1.0"),
                           macName(4, "Minimal Regular"),
                           macName(5, "Version 1.0"),
                           macName(6, "Minimal-Regular"),
                           msName(1, "Minimal"),
                           msName(4, "Minimal Regular"),
                           msName(6, "Minimal-Regular"),
                       }))
        .table("post", postTable(0x00030000));
    return font;
}

SfntBuilder type42Font()
{
    SfntBuilder font = minimalFont();
    font.table("cvt ", "\x00\x10\x00\x20"s)
        .table("fpgm", "\xB0\x01\x2C\x00\x01"s)
        .table("prep", "\xB8\x01\xFF\x85\xB0\x04"s)
        .table("hhea", hheaTable(4))
        .table("hmtx", hmtxTable(4))
        .table("cmap", cmapTable({{3, 1, cmapFormat4({{0x20, 0x20, 1 - 0x20, {}},
                                                       {0x41, 0x42, 0, {2, 3}},
                                                       {0xFFFF, 0xFFFF, 1, {}}})}}))
        .table("post", postTable2({0, 3, 36, 258}, {"Bee"}));
    return font;
}

} // namespace korrin::test
