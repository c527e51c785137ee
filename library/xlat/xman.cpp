#include "xlat/xman.h"

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <new>

#include "core/file.h"

namespace korrin {

namespace {

constexpr unsigned char magic[4] = {'x', 'l', 't', '!'};
constexpr unsigned headerSize = 18;    // up to the first string record
constexpr unsigned stringBlockStart = 10;
constexpr long minimumFileSize = 48;
constexpr std::align_val_t tableAlignment{8};

// Reads 16- and 32-bit fields of a byte range in a chosen byte order. A read
// that does not lie wholly inside the range gives 0 and clears ok for good,
// so a parser can read a whole header and check once.
class FieldReader {
public:
    FieldReader(const unsigned char* data, std::size_t size, bool bigEndian)
        : data_(data), size_(size), big_(bigEndian)
    {
    }

    bool ok() const { return ok_; }
    bool covers(std::uint64_t offset, std::uint64_t n) const { return offset <= size_ && n <= size_ - offset; }

    const unsigned char* bytes(std::uint64_t offset, std::uint64_t n)
    {
        if (!covers(offset, n)) {
            ok_ = false;
            return nullptr;
        }
        return data_ + offset;
    }
    unsigned u16(std::uint64_t offset)
    {
        const unsigned char* p = bytes(offset, 2);
        if (!p)
            return 0;
        return big_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
    }
    std::uint32_t u32(std::uint64_t offset)
    {
        const unsigned char* p = bytes(offset, 4);
        if (!p)
            return 0;
        std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
        return big_ ? (b0 << 24 | b1 << 16 | b2 << 8 | b3) : (b3 << 24 | b2 << 16 | b1 << 8 | b0);
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    bool big_;
    bool ok_ = true;
};

// The byte size of a table of this format with m entries (m matters for
// formats 2 and 3 only); false for a format this code does not know.
bool tableSize(unsigned format, std::uint32_t m, std::uint64_t& size)
{
    switch (format) {
    case 0: size = 4 + 256; return true;
    case 1: size = 4 + 2 * 65536; return true;
    case 2: size = 8 + 6 * std::uint64_t(m); return true;
    case 3: size = 8 + 4 * std::uint64_t(m); return true;
    case 4: size = 4 + 2 * 256; return true;
    default: return false;
    }
}

// Reads n bytes at the file's read position; false when the file ends first.
bool readFully(file& f, void* to, std::size_t n)
{
    auto* p = static_cast<unsigned char*>(to);
    while (n > 0) {
        long got = f.blockread(p, static_cast<long>(n));
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Fields of a loaded table, which is in host byte order and 8-byte aligned.
inline unsigned hostU16(const unsigned char* p)
{
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline std::uint32_t hostU32(const unsigned char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void swap16(unsigned char* p) { std::swap(p[0], p[1]); }
void swap32(unsigned char* p)
{
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
}
void swap16Run(unsigned char* p, std::uint64_t count)
{
    for (std::uint64_t i = 0; i < count; ++i)
        swap16(p + 2 * i);
}

struct TableBlockFree {
    void operator()(unsigned char* p) const { ::operator delete(p, tableAlignment); }
};

// The binary search of formats 2 and 3 over m keys of keyWidth bytes.
template <unsigned keyWidth>
unsigned searchKeys(const unsigned char* table, unsigned code)
{
    std::uint32_t m = hostU32(table + 4);
    if (m == 0)
        return 0xFFFFFFFFu;
    const unsigned char* keys = table + 8;
    const unsigned char* values = keys + std::uint64_t(m) * keyWidth;
    std::int64_t lo = 0, hi = std::int64_t(m) - 1;
    while (lo <= hi) {
        std::int64_t mid = (lo + hi) / 2;
        std::uint32_t key = keyWidth == 4 ? hostU32(keys + 4 * mid) : hostU16(keys + 2 * mid);
        if (code <= key)
            hi = mid - 1;
        if (code >= key)
            lo = mid + 1;
    }
    // Both moves happen only on an exact match, which leaves lo two past hi.
    return lo - hi == 2 ? hostU16(values + 2 * (lo - 1)) : 0xFFFFFFFFu;
}

} // namespace

bool isCPUBigEndian()
{
    const std::uint16_t probe = 0x1234;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 0x12;
}

// --- reading table files --------------------------------------------------

std::unique_ptr<XlatDescRecord> ReadXlatDescRecord(const filename& name)
{
    if (name.type() != filename::regular)
        return nullptr;
    file f(name, file::readOnly);
    const long length = f.length();
    if (length < minimumFileSize)
        return nullptr;

    unsigned char head[headerSize];
    if (!readFully(f, head, headerSize) || std::memcmp(head, magic, 4) != 0)
        return nullptr;
    bool big;
    if (head[4] == 0xAA && head[5] == 0xDD)
        big = true;
    else if (head[4] == 0xDD && head[5] == 0xAA)
        big = false;
    else
        return nullptr;
    FieldReader h(head, headerSize, big);
    if (h.u16(10) != 0)
        return nullptr;
    const unsigned blockSize = h.u16(12);
    const unsigned count = h.u16(14);
    const std::uint64_t recordsEnd = 8 + 8 * std::uint64_t(count); // from offset 10
    if (blockSize < recordsEnd)
        return nullptr;
    const std::uint64_t tableOffset = stringBlockStart + blockSize;
    // Everything up to the table's first 8 bytes must be in the file.
    if (tableOffset + 8 > std::uint64_t(length))
        return nullptr;

    // The header again, the records, the string data and the table's first
    // 8 bytes: at most 18 + 65535 bytes, in one read.
    std::vector<unsigned char> block(tableOffset + 8);
    std::memcpy(block.data(), head, headerSize);
    if (!readFully(f, block.data() + headerSize, block.size() - headerSize))
        return nullptr;
    FieldReader r(block.data(), block.size(), big);

    auto desc = std::make_unique<XlatDescRecord>();
    desc->from = static_cast<unsigned short>(r.u16(6));
    desc->to = static_cast<unsigned short>(r.u16(8));
    desc->file = name;
    desc->bigEndian = big;
    desc->tableOffset = static_cast<unsigned>(tableOffset);
    desc->stringCount = static_cast<unsigned short>(count);
    desc->strings.reset(new IDRecord[count]);

    const std::uint64_t dataStart = stringBlockStart + recordsEnd;
    const std::uint64_t dataSize = blockSize - recordsEnd;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint64_t rec = headerSize + 8 * std::uint64_t(i);
        IDRecord& s = desc->strings[i];
        s.qualifier = static_cast<unsigned short>(r.u16(rec));
        s.number = static_cast<unsigned short>(r.u16(rec + 2));
        const unsigned len = r.u16(rec + 4);
        const unsigned off = r.u16(rec + 6);
        if (std::uint64_t(off) + len > dataSize)
            return nullptr;
        s.text = lstring(len, r.bytes(dataStart + off, len));
    }

    desc->format = static_cast<unsigned short>(r.u16(tableOffset));
    const std::uint32_t m = r.u32(tableOffset + 4);
    std::uint64_t size;
    if (tableSize(desc->format, m, size)) {
        if (tableOffset + size > std::uint64_t(length))
            return nullptr;
        desc->entries = desc->format == 2 || desc->format == 3 ? m : desc->format == 1 ? 65536 : 256;
    }
    if (!r.ok())
        return nullptr;
    return desc;
}

unsigned char* ReadXlatTable(const XlatDescRecord& desc)
{
    file f(desc.file, file::readOnly);
    const std::uint64_t length = static_cast<std::uint64_t>(f.length());
    unsigned char start[8];
    f.setreadpos(static_cast<long>(desc.tableOffset));
    if (!readFully(f, start, sizeof start))
        return nullptr;
    FieldReader r(start, sizeof start, desc.bigEndian);
    std::uint64_t size;
    if (!tableSize(r.u16(0), r.u32(4), size) || desc.tableOffset + size > length)
        return nullptr;

    std::unique_ptr<unsigned char, TableBlockFree> table(
        static_cast<unsigned char*>(::operator new(size, tableAlignment)));
    std::memcpy(table.get(), start, sizeof start < size ? sizeof start : size);
    if (size > sizeof start && !readFully(f, table.get() + sizeof start, size - sizeof start))
        return nullptr;
    if (desc.bigEndian != isCPUBigEndian())
        ConvertTableByteOrder(table.get());
    return table.release();
}

void ConvertTableByteOrder(unsigned char* table)
{
    KORRIN_REQUIRE(table != 0);
    swap16(table);
    switch (hostU16(table)) {
    case 1: swap16Run(table + 4, 65536); break;
    case 4: swap16Run(table + 4, 256); break;
    case 2: {
        swap32(table + 4);
        std::uint32_t m = hostU32(table + 4);
        for (std::uint32_t i = 0; i < m; ++i)
            swap32(table + 8 + 4 * std::uint64_t(i));
        swap16Run(table + 8 + 4 * std::uint64_t(m), m);
        break;
    }
    case 3: {
        swap32(table + 4);
        std::uint32_t m = hostU32(table + 4);
        swap16Run(table + 8, 2 * std::uint64_t(m));
        break;
    }
    default: break; // format 0 is bytes only
    }
}

// --- lookup ----------------------------------------------------------------

unsigned xlat0(const unsigned char* table, unsigned code) { return table[4 + (code & 0xFF)]; }
unsigned xlat1(const unsigned char* table, unsigned code) { return hostU16(table + 4 + 2 * (code & 0xFFFF)); }
unsigned xlat2(const unsigned char* table, unsigned code) { return searchKeys<4>(table, code); }
unsigned xlat3(const unsigned char* table, unsigned code) { return searchKeys<2>(table, code); }
unsigned xlat4(const unsigned char* table, unsigned code) { return hostU16(table + 4 + 2 * (code & 0xFF)); }

unsigned xlat(const unsigned char* table, unsigned code)
{
    KORRIN_REQUIRE(table != 0);
    switch (hostU16(table)) {
    case 0: return xlat0(table, code);
    case 1: return xlat1(table, code);
    case 2: return xlat2(table, code);
    case 3: return xlat3(table, code);
    case 4: return xlat4(table, code);
    default: precondition_failed("corrupted translation table", __FILE__, __LINE__);
    }
}

// --- the manager -----------------------------------------------------------

XlatManager::XlatManager(const char* path) { SetPathPrim(path); }

XlatManager::~XlatManager() { clearDescriptors(); }

void XlatManager::clearDescriptors()
{
    for (XlatDescRecord* d : descriptors_)
        delete d;
    descriptors_.clear();
}

void XlatManager::setPath(const char* path)
{
    clearDescriptors();
    SetPathPrim(path);
}

void XlatManager::addPath(const char* path) { SetPathPrim(path); }

namespace {
struct DirClose {
    void operator()(DIR* d) const { ::closedir(d); }
};
} // namespace

void XlatManager::SetPathPrim(const char* path)
{
    if (!path)
        return;
    list<string> dirs(true);
    SplitColonSeparatedPath(string(path), dirs);
    for (const string& dir : dirs) {
        std::unique_ptr<DIR, DirClose> d(::opendir(dir.c_str()));
        if (!d)
            continue;
        filename entry;
        entry.setpath(dir);
        try {
            while (const dirent* e = ::readdir(d.get())) {
                entry.setbase(e->d_name);
                if (auto desc = ReadXlatDescRecord(entry)) {
                    descriptors_.push_back(desc.get());
                    desc.release();
                }
            }
        } catch (const file::fileerror&) {
            // An entry that cannot be opened or read ends this directory only.
        } catch (const filename::xfileaccess&) {
        }
    }
}

XlatDescRecord* XlatManager::findTable(int from, int to) const
{
    for (XlatDescRecord* d : descriptors_)
        if (d->from == from && d->to == to)
            return d;
    return nullptr;
}

const unsigned char* XlatManager::loadTable(int from, int to) const { return loadTable(findTable(from, to)); }

const unsigned char* XlatManager::loadTable(const XlatDescRecord* desc) const
{
    if (!desc)
        return nullptr;
    return ReadXlatTable(*desc);
}

void XlatManager::releaseTable(const unsigned char* table)
{
    KORRIN_REQUIRE(table != 0);
    ::operator delete(const_cast<unsigned char*>(table), tableAlignment);
}

string XlatManager::GetDefaultString(const XlatDescRecord* desc, int number)
{
    if (!desc)
        return string();
    for (unsigned i = 0; i < desc->stringCount; ++i) {
        const IDRecord& s = desc->strings[i];
        if (s.qualifier == defaultQualifier && s.number == number)
            return s.text.getstring();
    }
    return string();
}

const char* XlatManager::encname(int encoding)
{
    switch (encoding) {
    case 1: return "Unicode (UCS-2)";
    case 2: return "ShiftJIS";
    case 3: return "Big5";
    case 4: return "PRC";
    case 5: return "Wansung";
    case 6: return "Johab";
    case 7: return "CNS";
    case 8: return "7 bit PRC";
    case 9: return "CNS Plane 1";
    case 10: return "GBK";
    default: return "***unknown encoding***";
    }
}

// --- writing ---------------------------------------------------------------

void XTableWriter::assign(const filename& name)
{
    out_.assign(name, file::writeOnly);
    out_.truncate(0);
}

void XTableWriter::put(const void* bytes, std::size_t n)
{
    auto* p = static_cast<const unsigned char*>(bytes);
    while (n > 0) {
        long put = out_.blockwrite(p, static_cast<long>(n));
        if (put <= 0)
            throw file::fileerror{2, "Could not write the translation table"};
        p += put;
        n -= static_cast<std::size_t>(put);
    }
}

namespace {
void appendHost16(std::vector<unsigned char>& out, unsigned v)
{
    const std::uint16_t field = static_cast<std::uint16_t>(v);
    const auto* p = reinterpret_cast<const unsigned char*>(&field);
    out.insert(out.end(), p, p + 2);
}
} // namespace

void XTableWriter::writeHeader(unsigned short from, unsigned short to)
{
    std::vector<unsigned char> head(magic, magic + 4);
    appendHost16(head, 0xAADD);
    appendHost16(head, from);
    appendHost16(head, to);
    put(head.data(), head.size());
}

void XTableWriter::writeStringTable(const list<IDRecord>* strings)
{
    const long n = strings ? strings->count() : 0;
    KORRIN_REQUIRE(n < 65536);
    long nbytes = 0;
    if (strings)
        for (const IDRecord& s : *strings)
            nbytes += s.text.length();
    const long padding = (4 - nbytes % 4) % 4;
    nbytes += padding;
    KORRIN_REQUIRE(nbytes <= 65535 - 8 - n * 8);

    std::vector<unsigned char> block;
    block.reserve(8 + 8 * n + nbytes);
    appendHost16(block, 0);
    appendHost16(block, static_cast<unsigned>(nbytes + 8 * n + 8));
    appendHost16(block, static_cast<unsigned>(n));
    appendHost16(block, static_cast<unsigned>(8 * n + 8));
    if (strings) {
        unsigned offset = 0;
        for (const IDRecord& s : *strings) {
            appendHost16(block, s.qualifier);
            appendHost16(block, s.number);
            appendHost16(block, s.text.length());
            appendHost16(block, offset);
            offset += s.text.length();
        }
        for (const IDRecord& s : *strings)
            block.insert(block.end(), s.text.bytes(), s.text.bytes() + s.text.length());
    }
    block.insert(block.end(), static_cast<std::size_t>(padding), 0);
    put(block.data(), block.size());
}

void XTableWriter::writeTable(const unsigned char* data, unsigned length) { put(data, length); }

void XTableWriter::close() { out_.close(); }

} // namespace korrin
