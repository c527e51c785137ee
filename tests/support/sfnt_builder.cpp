#include "support/sfnt_builder.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <tuple>

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

} // namespace korrin::test
