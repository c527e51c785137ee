// Read access to one TrueType font file: the file is mapped read-only, its
// table directory and size are checked, and its names and glyph locations
// decoded. The glyph names of the 'post' table come from GlyphTable.
//
// Failures are the font layer's error codes (TrueTypeFont::message gives
// their texts). The loader and the field readers throw them as a plain int;
// the glyph-name code throws them typed as TrueTypeFont::TT_ERROR, so a caller
// that wants every font failure catches both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "core/string.h"
#include "truetype/mudefs.h"

namespace korrin {

class TrueTypeFont;

// Swaps the byte order of a 32-bit value: a four-character constant laid out
// in memory order becomes a tag value whose most significant byte is the
// tag's first character.
constexpr unsigned ttTag(unsigned v)
{
    return (v & 0xFFu) << 24 | (v & 0xFF00u) << 8 | (v >> 8 & 0xFF00u) | v >> 24;
}

// The tag value of a four-character name: TrueTypeTag("name") == 0x6E616D65.
constexpr unsigned TrueTypeTag(const char (&name)[5])
{
    return unsigned(static_cast<unsigned char>(name[0])) << 24 | unsigned(static_cast<unsigned char>(name[1])) << 16 |
           unsigned(static_cast<unsigned char>(name[2])) << 8 | unsigned(static_cast<unsigned char>(name[3]));
}

// The tags of the tables the library reads.
constexpr unsigned tagCmap = TrueTypeTag("cmap");
constexpr unsigned tagGlyf = TrueTypeTag("glyf");
constexpr unsigned tagHead = TrueTypeTag("head");
constexpr unsigned tagLoca = TrueTypeTag("loca");
constexpr unsigned tagMaxp = TrueTypeTag("maxp");
constexpr unsigned tagName = TrueTypeTag("name");
constexpr unsigned tagPost = TrueTypeTag("post");

// One entry of the table directory, decoded from its 16 big-endian bytes.
struct TableDirectoryEntry {
    std::uint32_t tag;
    std::uint32_t checkSum;
    std::uint32_t offset; // from the start of the file
    std::uint32_t length; // without the padding to a multiple of 4
};

// Six strings from the 'name' table. Each is an owned, NUL-terminated copy of
// the font's bytes (Macintosh Roman, or the low bytes of Unicode records), so
// it ends at the first byte 0 the font holds. All are null before the first
// fill and none is null after one.
class NamingTable2 {
public:
    NamingTable2() = default;
    NamingTable2(const NamingTable2&) = delete;
    NamingTable2& operator=(const NamingTable2&) = delete;
    ~NamingTable2() { reset(); }

    // Fills all six from the font's 'name' table, falling back to the font's
    // file name for a missing PostScript name. Throws 4 when a record or its
    // string lies outside the table; the old strings then stay.
    void assign(const TrueTypeFont& font);
    void reset();
    // "NamingTable2 {", a line per field that is set, "}".
    void dump(FILE* out) const;

    const char* postScriptName() const { return fields_[psName].get(); }
    const char* fullName() const { return fields_[full].get(); }
    const char* uniqueID() const { return fields_[unique].get(); }
    const char* notice() const { return fields_[copyright].get(); }
    const char* version() const { return fields_[versionString].get(); }
    const char* familyName() const { return fields_[family].get(); }

private:
    enum Field { psName, full, unique, copyright, versionString, family, fieldCount };
    std::unique_ptr<char[]> fields_[fieldCount];
};

// Index of the name record with these four IDs among the count records of a
// 'name' table, or -1. The records must be sorted, as the TrueType format
// requires; the search reads only records inside the table (else throws 4).
int findname(const BigEndianSpan& table, unsigned short count, unsigned short platformID,
             unsigned short encodingID, unsigned short languageID, unsigned short nameID);

// A new NUL-terminated copy of a name record's string. A Unicode record
// (big-endian 16-bit units) gives the low byte of each unit, dropping an odd
// last byte; any other record is copied byte for byte. Throws 4 when the
// string lies outside the table.
std::unique_ptr<char[]> nameExtract(const BigEndianSpan& table, int record, int unicode);

class TrueTypeFont {
public:
    enum TT_ERROR {
        ttNoError = 0,
        ttFileAccess = 1,
        ttMemory = 2,
        ttFileLoad = 3,
        ttBadFile = 4,
        ttBadFileSize = 5,
        ttTablesMissing = 6,
        ttMinTablesMissing = 7,
        ttUnknownPostFormat = 8,
        ttBadGlyphCount = 9,
        ttBadLocaFormat = 10,
        ttNotTrueType = 12,
        ttTableTooLong = 13,
    };

    // The tables every font must have, and the nine that a Type 42 font's
    // sfnts array carries (in ascending tag order).
    static const unsigned minTags[4];
    static const unsigned tags[9];

    TrueTypeFont() = default;
    // Loads path; a failure is thrown as its error code (an int).
    explicit TrueTypeFont(const char* path);
    TrueTypeFont(const TrueTypeFont&) = delete;
    TrueTypeFont& operator=(const TrueTypeFont&) = delete;
    ~TrueTypeFont() { Reset(); }

    // Releases what is loaded, then loads path. A failed load leaves the font
    // unloaded.
    void Assign(const char* path);
    // Unmaps the file and frees the glyph offsets. The naming table keeps its
    // strings until the next load.
    void Reset();
    bool IsLoaded() const { return size_ != 0; }

    // The table's first byte inside the file image, or null when absent.
    const unsigned char* GetTable(unsigned tag) const;
    // The directory's length of the table, or 0 when absent.
    unsigned GetTableSize(unsigned tag) const;
    const TableDirectoryEntry* GetDirEntry(unsigned tag) const;
    // The table's bytes, for reading fields; empty when absent. Every table
    // lies inside the image: the loader refuses a font whose directory says
    // otherwise.
    BigEndianSpan GetTableData(unsigned tag) const;

    bool checkMinTables() const;
    bool checkT42Tables() const;

    static const char* message(int code);

    // The Type 42 font's 'sfnts' and 'CharStrings' entries (defined with the
    // Type 42 writer, convert/tt2ps.cpp). dumpSfnts2 checks everything before
    // it writes: font error 6 when one of the nine tables is missing, 13 when
    // longTables is false and a table other than 'glyf' exceeds 65534 bytes.
    // dumpCharStrings2 throws 4 (an int) without a 'post' table and
    // TT_ERROR 8 for a 'post' format it does not know.
    void dumpSfnts2(FILE* out, bool longTables) const;
    void dumpCharStrings2(FILE* out) const;

    // The path that was loaded, as given; null while nothing is loaded.
    const char* fileName() const { return IsLoaded() ? fileName_.c_str() : nullptr; }
    const NamingTable2& namingTable() const { return names_; }
    // The 'maxp' glyph count, lowered to what 'loca' describes.
    int glyphCount() const { return glyphCount_; }
    // glyphCount() + 1 byte offsets into 'glyf': glyph i lies from offset i up
    // to offset i + 1. Every offset lies inside 'glyf'; the TrueType format
    // wants them ascending, but a font may break that, so a reader takes a
    // decreasing pair as an empty glyph.
    const std::uint32_t* glyphOffsets() const { return glyphOffsets_.get(); }
    std::uint32_t fileSize() const { return size_; }
    BigEndianSpan image() const { return {image_, size_}; }
    int tableCount() const { return static_cast<int>(directory_.size()); }
    const TableDirectoryEntry* directory() const { return directory_.data(); }

private:
    void load(const char* path);
    void readDirectory();
    void readGlyphOffsets();

    string fileName_;
    NamingTable2 names_;
    int glyphCount_ = 0;
    std::unique_ptr<std::uint32_t[]> glyphOffsets_;
    std::uint32_t size_ = 0;
    const unsigned char* image_ = nullptr;
    std::vector<TableDirectoryEntry> directory_;
};

// Glyph numbers and their names from a 'post' table of format 1.0, 2.0, 2.5
// or 3.0. A format 1.0 table names glyphs 0 to 257 with the standard names; a
// format 3.0 table names none, so that every glyph is ".notdef".
class GlyphTable {
public:
    GlyphTable() = default;
    // An absent table (empty span) throws 4 as an int; see Assign.
    explicit GlyphTable(const BigEndianSpan& post);
    GlyphTable(const GlyphTable&) = delete;
    GlyphTable& operator=(const GlyphTable&) = delete;

    // Refills from a 'post' table. An absent table throws 4 as an int, an
    // unknown format TrueTypeFont::TT_ERROR 4, and so does a name index that
    // points past the table's names; a field outside the table throws 4 as an
    // int. After a failure the table is empty.
    void Assign(const BigEndianSpan& post);
    void Reset();
    // Orders the entries by name (strcmp order), moving the glyph numbers
    // along.
    void Sort();
    // The position of name in the sorted table, or -1. Sorts first if needed.
    int Find(const char* name);

    unsigned short count() const { return count_; }
    const char* name(int i) const { return names_[i]; }
    unsigned short glyph(int i) const { return glyphs_[i]; }
    bool sorted() const { return sorted_; }
    bool loaded() const { return loaded_; }

private:
    void doQuickSort(int lo, int hi, int depthLimit);
    void swapEntries(int a, int b);

    unsigned short count_ = 0;
    // Pascal strings of format 2.0 tables, copied and NUL-terminated; the
    // standard names point to the static table instead.
    std::vector<char> text_;
    std::vector<const char*> names_;
    std::vector<unsigned short> glyphs_;
    bool sorted_ = false;
    bool loaded_ = false;
};

// The name of glyph number glyph, or ".notdef" when the table has none. The
// result lives as long as the table's contents.
const char* GetGlyphByNumber(const GlyphTable& table, int glyph);

std::ostream& operator<<(std::ostream& os, const GlyphTable& table);

// Name bytes as text: each byte read as the Latin-1 character of its value,
// encoded in UTF-8. Bytes 0 to 127 stay as they are; a Unicode record's low
// bytes come out as the characters they stood for, a Macintosh Roman byte
// above 127 as its Latin-1 namesake.
std::string Latin1ToUtf8(const char* bytes);

} // namespace korrin
