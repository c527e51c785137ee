// Builds TrueType (sfnt) files with exactly the tables a test calls for:
//
//   std::string bytes = minimalFont().table("post", postTable(0x00030000)).build();
//
// build() lays the tables out in ascending tag order behind a correct header
// and directory, with checksums and padding to 4 bytes; 'head' is stored as
// given. Hostile files are the built bytes changed with set16/set32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "truetype/mudefs.h"

namespace korrin::test {

inline BigEndianSpan spanOf(const std::string& bytes)
{
    return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

// Big-endian appenders, and writers over the value at offset.
void put16(std::string& out, unsigned v);
void put32(std::string& out, std::uint32_t v);
void set16(std::string& bytes, std::size_t offset, unsigned v);
void set32(std::string& bytes, std::size_t offset, std::uint32_t v);

// The sum of the big-endian 32-bit words, the last one padded with zeros.
std::uint32_t tableChecksum(const std::string& bytes);

// What write puts on a memory stream.
std::string written(const std::function<void(std::FILE*)>& write);

class SfntBuilder {
public:
    SfntBuilder& version(std::uint32_t v) { version_ = v; return *this; }
    // Adds the table, or replaces the one with the same tag.
    SfntBuilder& table(const std::string& tag, std::string bytes) { tables_[tag] = std::move(bytes); return *this; }
    SfntBuilder& remove(const std::string& tag) { tables_.erase(tag); return *this; }
    const std::string& get(const std::string& tag) const { return tables_.at(tag); }
    std::string build() const;

private:
    std::uint32_t version_ = 0x00010000;
    std::map<std::string, std::string> tables_; // sorted by tag, as the directory must be
};

// --- table makers -------------------------------------------------------------

struct NameRecord {
    unsigned platformID, encodingID, languageID, nameID;
    std::string bytes; // as stored in the font
};
// A Macintosh (1, 0, 0) record of text as it is; a Microsoft (3, 1, 1033)
// one with each byte of text as a 16-bit unit.
NameRecord macName(unsigned nameID, const std::string& text);
NameRecord msName(unsigned nameID, const std::string& text);
// Format 0, the records sorted.
std::string nameTable(std::vector<NameRecord> records);

// unitsPerEm 2048, the box (0, -200) to (1000, 800), this indexToLocFormat.
std::string headTable(int indexToLocFormat = 0);
std::string maxpTable(unsigned numGlyphs);
// These byte offsets, halved in the short format.
std::string locaTable(const std::vector<std::uint32_t>& offsets, bool longFormat = false);
// The 32-byte header of this format, nothing after.
std::string postTable(std::uint32_t format);
// Format 2.0: a name index per glyph, then the strings of indices 258 on.
std::string postTable2(const std::vector<unsigned>& indices, const std::vector<std::string>& names);
// Format 2.5: a signed offset per glyph into the standard names.
std::string postTable25(const std::vector<int>& offsets);

// --- 'cmap' -------------------------------------------------------------------

struct CmapSubtable {
    unsigned platformID, encodingID;
    std::string bytes; // from the format field on
};
std::string cmapTable(const std::vector<CmapSubtable>& subtables);
std::string cmapFormat0(const std::map<unsigned, unsigned>& glyphs);
// Codes below 256 are looked up in subHeader 0; each high byte of the larger
// codes gets a subHeader with this idDelta, from its lowest to highest low byte.
std::string cmapFormat2(const std::map<unsigned, unsigned>& glyphs, int idDelta = 0);
// Codes start to end map to code + delta, or, with glyphIds, to
// glyphIds[code - start] + delta through idRangeOffset.
struct Segment4 {
    unsigned start, end;
    int delta;
    std::vector<unsigned> glyphIds;
};
// The segments in the given order; the search hints are 0.
std::string cmapFormat4(const std::vector<Segment4>& segments);
std::string cmapFormat6(unsigned firstCode, const std::vector<unsigned>& glyphs);

// Four glyphs (the last two of 12 bytes) in 'head', 'maxp', short 'loca',
// 'glyf', a format 3.0 'post' and a 'name' with, for PostScript name, full
// name, unique ID, notice, version and family: "Minimal-Regular", "Minimal
// Regular", "Minimal:1.0", "Copyright nobody", "Version 1.0" and "Minimal".
SfntBuilder minimalFont();

// minimalFont() with the nine tables of a Type 42 font ('cvt ', 'fpgm' and
// 'prep' of 4, 5 and 6 bytes), a (3, 1) 'cmap' mapping space, A and B to
// glyphs 1 to 3, and a format 2.0 'post' naming them space, A and "Bee".
SfntBuilder type42Font();

} // namespace korrin::test
