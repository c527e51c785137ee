// Translation tables: files that map the codes of one text encoding to those
// of another (ShiftJIS to Unicode, say), the manager that finds them in a
// list of directories and loads them on demand, the lookup, and the writer.
//
// A table file, all multi-byte fields in the writer's byte order:
//   0  "xlt!"            4  0xAADD (tells the order)
//   6  from-encoding     8  to-encoding
//  10  0                12  S, the size of the string block starting at 10
//  14  n string records 16  8 + 8n, where the string data starts (from 10)
//  18  n records of 4 u16: qualifier (0xFFFF: a default string), number,
//      length, offset into the string data; then the string data, padded
//      with zeros to a multiple of 4
//  10 + S  the table: u16 format, u16 unused, then by format
//      0: 256 bytes            lookup: byte[c mod 256]
//      1: 65536 u16            lookup: u16[c mod 65536]
//      2: u32 m, m ascending u32 keys, m u16 values   (binary search)
//      3: u32 m, m ascending u16 keys, m u16 values   (binary search)
//      4: 256 u16              lookup: u16[c mod 256]
#pragma once

#include <memory>
#include <vector>

#include "core/file.h"
#include "core/filename.h"
#include "core/list.h"
#include "core/lstring.h"
#include "core/string.h"

namespace korrin {

struct IDRecord {
    unsigned short qualifier = 0;
    unsigned short number = 0;
    lstring text;
};

// What scanning learns about one table file; the table itself stays on disk.
struct XlatDescRecord {
    unsigned short from = 0;
    unsigned short to = 0;
    filename file;
    bool bigEndian = false;      // the file's byte order
    unsigned short format = 0;
    unsigned entries = 0;        // 256 for formats 0 and 4, 65536 for 1, m for 2 and 3
    unsigned tableOffset = 0;    // 10 + S
    unsigned short stringCount = 0;
    std::unique_ptr<IDRecord[]> strings;
};

// True when the host stores the 16-bit value 0x1234 as 0x12 0x34.
bool isCPUBigEndian();

class XlatManager {
public:
    static constexpr unsigned short defaultQualifier = 0xFFFF;

    // Scans the colon-separated directory list `path`; null scans nothing.
    explicit XlatManager(const char* path);
    ~XlatManager();
    XlatManager(const XlatManager&) = delete;
    XlatManager& operator=(const XlatManager&) = delete;

    // Forgets every descriptor, then scans `path` afresh.
    void setPath(const char* path);
    // Scans `path` and appends what it finds after the descriptors held.
    void addPath(const char* path);

    int countTables() const { return static_cast<int>(descriptors_.size()); }
    // countTables() descriptors in discovery order; they stay the manager's.
    XlatDescRecord* const* getXlatDescArray() const { return descriptors_.data(); }
    // The first descriptor in discovery order with this pair, or null.
    XlatDescRecord* findTable(int from, int to) const;

    // The table, in host byte order, in a block the caller hands back to
    // releaseTable; null when no descriptor matches or the table's format is
    // unknown. A file that cannot be read throws file::fileerror.
    const unsigned char* loadTable(int from, int to) const;
    const unsigned char* loadTable(const XlatDescRecord* desc) const;
    static void releaseTable(const unsigned char* table);

    // The text of the first default string record with this number, or "".
    static string GetDefaultString(const XlatDescRecord* desc, int number);
    static const char* encname(int encoding);

private:
    void SetPathPrim(const char* path);
    void clearDescriptors();

    std::vector<XlatDescRecord*> descriptors_; // owned
};

// Releases a loaded table with XlatManager::releaseTable.
struct XlatTableRelease {
    void operator()(const unsigned char* table) const { XlatManager::releaseTable(table); }
};
using XlatTablePtr = std::unique_ptr<const unsigned char, XlatTableRelease>;

// The translated code; 0xFFFFFFFF when a format 2 or 3 table has no entry for
// it. `table` is a loaded table; any other format stops the process.
unsigned xlat(const unsigned char* table, unsigned code);
unsigned xlat0(const unsigned char* table, unsigned code);
unsigned xlat1(const unsigned char* table, unsigned code);
unsigned xlat2(const unsigned char* table, unsigned code);
unsigned xlat3(const unsigned char* table, unsigned code);
unsigned xlat4(const unsigned char* table, unsigned code);

// The descriptor of a table file; null when the file is not one (not a
// regular file, too short, a bad header, or a field pointing past the end).
// A file that cannot be examined, opened or read throws
// filename::xfileaccess or file::fileerror.
std::unique_ptr<XlatDescRecord> ReadXlatDescRecord(const filename& name);

// The table of a descriptor read into an 8-byte-aligned block in host byte
// order, to be freed with XlatManager::releaseTable; null when the format is
// unknown or the table no longer fits the file.
unsigned char* ReadXlatTable(const XlatDescRecord& desc);

// Reverses the byte order of every field of a table block in place; the
// format is read after its own bytes are reversed.
void ConvertTableByteOrder(unsigned char* table);

// Writes a table file in host byte order. Calls come in the order
// writeHeader, writeStringTable, writeTable.
class XTableWriter {
public:
    XTableWriter() = default;
    explicit XTableWriter(const filename& name) { assign(name); }

    // Opens (creates or empties) the file for writing.
    void assign(const filename& name);
    void writeHeader(unsigned short from, unsigned short to);
    // Null writes an empty string table. The texts together may take at most
    // 65535 - 8 - 8n bytes with their padding.
    void writeStringTable(const list<IDRecord>* strings);
    // The table exactly as laid out above, in host byte order.
    void writeTable(const unsigned char* data, unsigned length);
    void close();

private:
    void put(const void* bytes, std::size_t n);

    korrin::file out_;
};

} // namespace korrin
