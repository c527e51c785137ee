// Builds TrueType (sfnt) files with exactly the tables a test calls for:
//
//   std::string bytes = minimalFont().table("post", postTable(0x00030000)).build();
//
// build() lays the tables out in ascending tag order behind a correct header
// and directory, with checksums, padding to 4 bytes and the 'head' checksum
// adjustment. Hostile files are the built bytes changed: set16/set32 make the
// header or a directory entry lie; a cut or an added byte breaks the padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korrin::test {

// Big-endian appenders, and writers over the value at offset.
void put16(std::string& out, unsigned v);
void put32(std::string& out, std::uint32_t v);
void set16(std::string& bytes, std::size_t offset, unsigned v);
void set32(std::string& bytes, std::size_t offset, std::uint32_t v);

// The sum of the big-endian 32-bit words, the last one padded with zeros.
std::uint32_t tableChecksum(const std::string& bytes);

class SfntBuilder {
public:
    // The sfnt version; 0x00010000 unless set ("true" is 0x74727565).
    SfntBuilder& version(std::uint32_t v) { version_ = v; return *this; }
    // Adds the table, or replaces the one with the same four-character tag.
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
// A Macintosh (1, 0, 0) record holding text as it is.
NameRecord macName(unsigned nameID, const std::string& text);
// A Microsoft (3, 1, 1033) record: each byte of text becomes one big-endian
// 16-bit unit (Latin-1 to UTF-16).
NameRecord msName(unsigned nameID, const std::string& text);
// A 'name' table of format 0, the records sorted.
std::string nameTable(std::vector<NameRecord> records);

// 'head': unitsPerEm 2048, the box (0, -200) to (1000, 800) and the given
// indexToLocFormat (0 short, 1 long offsets).
std::string headTable(int indexToLocFormat = 0);
std::string maxpTable(unsigned numGlyphs);
// 'loca' holding these byte offsets, halved in the short format.
std::string locaTable(const std::vector<std::uint32_t>& offsets, bool longFormat = false);
// The 32-byte 'post' header of this format, memory figures 0, nothing after.
std::string postTable(std::uint32_t format);
// Format 2.0: a name index per glyph, then the strings of indices 258 on.
std::string postTable2(const std::vector<unsigned>& indices, const std::vector<std::string>& names);
// Format 2.5: a signed offset per glyph into the standard names.
std::string postTable25(const std::vector<int>& offsets);

// --- 'cmap' -------------------------------------------------------------------

struct CmapSubtable {
    unsigned platformID, encodingID;
    std::string bytes; // the subtable, from its format field on
};
// A 'cmap' table with these encoding records in the given order.
std::string cmapTable(const std::vector<CmapSubtable>& subtables);
// Format 0: glyphs[c] for codes 0 to 255, 0 for the rest.
std::string cmapFormat0(const std::map<unsigned, unsigned>& glyphs);
// Format 2 (high-byte mapping). Codes below 256 are one-byte codes, looked up
// in subHeader 0; each high byte of the larger codes gets a subHeader of its
// own, with this idDelta, covering its lowest to highest low byte.
std::string cmapFormat2(const std::map<unsigned, unsigned>& glyphs, int idDelta = 0);
// A format 4 segment: codes start to end map to code + delta, or, when
// glyphIds is given, to glyphIds[code - start] + delta through idRangeOffset.
struct Segment4 {
    unsigned start, end;
    int delta;
    std::vector<unsigned> glyphIds;
};
// Format 4 with these segments in the given order (the format wants them
// ascending and the last one ending at 0xFFFF). The search hints, which
// nothing reads, are 0.
std::string cmapFormat4(const std::vector<Segment4>& segments);
// Format 6: glyphs for the codes from firstCode on.
std::string cmapFormat6(unsigned firstCode, const std::vector<unsigned>& glyphs);

// A valid font with four glyphs: 'head', 'maxp', 'loca' (short), 'glyf',
// 'name' (PostScript name "Minimal-Regular" in both Macintosh and Microsoft
// records, full name "Minimal Regular", unique ID "Minimal:1.0", notice
// "Copyright nobody", version "Version 1.0", family "Minimal") and a format
// 3.0 'post'.
SfntBuilder minimalFont();

// minimalFont() with all nine tables a Type 42 font carries ('cvt ', 'fpgm'
// and 'prep' of 4, 5 and 6 bytes), a 'cmap' with a (3, 1) format 4 subtable
// mapping space, A and B to glyphs 1, 2 and 3, and a format 2.0 'post'
// naming the glyphs .notdef, space, A and "Bee".
SfntBuilder type42Font();

} // namespace korrin::test
