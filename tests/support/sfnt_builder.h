// Builds TrueType (sfnt) files from given tables, for tests that need a font
// with exactly the tables a case calls for.
//
//   std::string bytes = minimalFont().table("post", postTable(0x00030000)).build();
//
// build() lays the tables out in ascending tag order behind a correct header
// and directory, with checksums, padding to 4 bytes and the 'head' checksum
// adjustment, as a font tool would. The damage setters make the directory lie
// (wrong offset, length or table count) or add bytes around the tables, for
// the tests of hostile files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korrin::test {

// Big-endian appenders.
void put8(std::string& out, unsigned v);
void put16(std::string& out, unsigned v);
void put32(std::string& out, std::uint32_t v);

// The TrueType table checksum: the sum of the big-endian 32-bit words, the
// last one padded with zeros.
std::uint32_t tableChecksum(const std::string& bytes);

class SfntBuilder {
public:
    // The sfnt version; 0x00010000 unless set ("true" is 0x74727565).
    SfntBuilder& version(std::uint32_t v);
    // Adds the table, or replaces the one with the same tag. Tags have four
    // characters ("cvt " with its blank).
    SfntBuilder& table(const std::string& tag, std::string bytes);
    SfntBuilder& remove(const std::string& tag);
    bool has(const std::string& tag) const { return tables_.count(tag) != 0; }
    const std::string& get(const std::string& tag) const { return tables_.at(tag); }

    // Damage: the directory states this offset or length for the table while
    // the bytes stay where and as they are.
    SfntBuilder& statedOffset(const std::string& tag, std::uint32_t offset);
    SfntBuilder& statedLength(const std::string& tag, std::uint32_t length);
    // Damage: the header states this table count.
    SfntBuilder& statedTableCount(int count);
    // Damage: bytes after the last table's padding.
    SfntBuilder& trailing(std::string bytes);
    // Damage: the last table goes without its padding.
    SfntBuilder& unpaddedEnd();

    std::string build() const;

private:
    std::uint32_t version_ = 0x00010000;
    std::map<std::string, std::string> tables_; // sorted by tag, as the directory must be
    std::map<std::string, std::uint32_t> statedOffsets_, statedLengths_;
    std::optional<int> statedCount_;
    std::string trailing_;
    bool unpaddedEnd_ = false;
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
// A 'name' table of format 0 with the records sorted as the TrueType format
// requires, each string stored once in record order.
std::string nameTable(std::vector<NameRecord> records);

// A 54-byte 'head' table: version 1.0, unitsPerEm 2048, the given
// indexToLocFormat (0 short, 1 long offsets).
std::string headTable(int indexToLocFormat = 0);
// A version 1.0 'maxp' table with this glyph count.
std::string maxpTable(unsigned numGlyphs);
// 'loca' holding these byte offsets: halved u16 values in the short format,
// u32 in the long one.
std::string locaTable(const std::vector<std::uint32_t>& offsets, bool longFormat = false);
// A 'post' table header of this format (0x00010000, 0x00030000, or any
// other) with nothing after its 32 bytes.
std::string postTable(std::uint32_t format);
// Format 2.0: one name index per glyph, then the Pascal strings that indices
// 258 and above name.
std::string postTable2(const std::vector<unsigned>& indices, const std::vector<std::string>& names);
// Format 2.5: one signed offset per glyph into the standard names.
std::string postTable25(const std::vector<int>& offsets);

// Overwrites the big-endian u16 at offset of a table made above (to set a
// field the makers leave at its default).
void set16(std::string& table, std::size_t offset, unsigned v);

// --- 'cmap' -------------------------------------------------------------------

struct CmapSubtable {
    unsigned platformID, encodingID;
    std::string bytes; // the subtable, from its format field on
};
// A 'cmap' table with these encoding records, in the given order, each
// pointing to its own copy of the subtable.
std::string cmapTable(const std::vector<CmapSubtable>& subtables);
// Format 0: glyphs[c] for codes 0 to 255, 0 for the rest.
std::string cmapFormat0(const std::map<unsigned, unsigned>& glyphs);
// Format 2 (high-byte mapping). Codes below 256 are one-byte codes, looked up
// in subHeader 0; each high byte of the larger codes gets a subHeader of its
// own, with this idDelta, covering its lowest to highest low byte.
std::string cmapFormat2(const std::map<unsigned, unsigned>& glyphs, int idDelta = 0);
// One segment of a format 4 subtable: codes start to end map to code + delta,
// or, when glyphIds is given (one per code), to glyphIds[code - start] +
// delta through idRangeOffset.
struct Segment4 {
    unsigned start, end;
    int delta;
    std::vector<unsigned> glyphIds;
};
// Format 4 with these segments, in the given order (the TrueType format
// wants them ascending and the last one ending at 0xFFFF).
std::string cmapFormat4(const std::vector<Segment4>& segments);
// Format 6: glyphs for the codes from firstCode on.
std::string cmapFormat6(unsigned firstCode, const std::vector<unsigned>& glyphs);

// A 36-byte 'hhea' table with this numberOfHMetrics.
std::string hheaTable(unsigned numberOfHMetrics);
// 'hmtx' with n long metrics: advance 500 and a left side bearing of 0.
std::string hmtxTable(unsigned n);

// A valid font with four glyphs: 'head', 'maxp', 'loca' (short), 'glyf',
// 'name' (PostScript name "Minimal-Regular" in both Macintosh and Microsoft
// records, full name "Minimal Regular", unique ID, notice, version, family)
// and a format 3.0 'post'.
SfntBuilder minimalFont();

// minimalFont() with all nine tables a Type 42 font carries ('cvt ', 'fpgm'
// and 'prep' of 4, 5 and 6 bytes), a 'cmap' with a (3, 1) format 4 subtable
// mapping space, A and B to glyphs 1, 2 and 3, and a format 2.0 'post'
// naming the glyphs .notdef, space, A and "Bee".
SfntBuilder type42Font();

} // namespace korrin::test
