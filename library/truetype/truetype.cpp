#include "truetype/truetype.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <tuple>
#include <ostream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "truetype/applegl.h"

namespace korrin {

namespace {


[[noreturn]] void fail(TrueTypeFont::TT_ERROR code) { throw int(code); }

std::unique_ptr<char[]> copyOf(const char* text)
{
    std::size_t n = std::strlen(text);
    auto copy = std::make_unique<char[]>(n + 1);
    std::memcpy(copy.get(), text, n + 1);
    return copy;
}

} // namespace

const unsigned TrueTypeFont::minTags[4] = {tagName, tagMaxp, tagHead, tagLoca};
const unsigned TrueTypeFont::tags[9] = {
    TrueTypeTag("cvt "), TrueTypeTag("fpgm"), tagGlyf, tagHead, TrueTypeTag("hhea"),
    TrueTypeTag("hmtx"), tagLoca, tagMaxp, TrueTypeTag("prep"),
};

// --- TrueTypeFont -------------------------------------------------------------

TrueTypeFont::TrueTypeFont(const char* path) { load(path); }

void TrueTypeFont::Assign(const char* path)
{
    Reset();
    load(path);
}

void TrueTypeFont::Reset()
{
    if (!IsLoaded())
        return;
    ::munmap(const_cast<unsigned char*>(image_), size_);
    image_ = nullptr;
    size_ = 0;
    fileName_ = string();
    glyphOffsets_.reset();
    glyphCount_ = 0;
    directory_.clear();
}

void TrueTypeFont::load(const char* path)
{
    if (!path)
        fail(ttFileAccess);
    // O_NONBLOCK so that a FIFO named as a font cannot stall the open.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        fail(ttFileAccess);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(ttFileAccess);
    }
    if (st.st_size < 12) {
        ::close(fd);
        fail(ttNotTrueType);
    }
    // The directory's offsets are 32 bits wide; a larger file cannot be one
    // font with a valid directory.
    if (static_cast<unsigned long long>(st.st_size) > std::numeric_limits<std::uint32_t>::max()) {
        ::close(fd);
        fail(ttBadFileSize);
    }
    void* mapped = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED)
        fail(ttFileLoad);
    image_ = static_cast<const unsigned char*>(mapped);
    size_ = static_cast<std::uint32_t>(st.st_size);

    try {
        std::uint32_t version = image().u32(0);
        if (version != 0x00010000 && version != TrueTypeTag("true"))
            fail(ttNotTrueType);
        readDirectory();
        fileName_ = string(path);
        if (!checkMinTables())
            fail(ttMinTablesMissing);
        names_.assign(*this);
        glyphCount_ = GetTableData(tagMaxp).u16(4);
        readGlyphOffsets();
    } catch (...) {
        Reset();
        throw;
    }
}

// The header's table count and the sum of the padded table lengths must
// account for every byte of the file; each table must lie inside it.
void TrueTypeFont::readDirectory()
{
    BigEndianSpan file = image();
    int count = file.s16(4);
    if (count < 0 || size_ < 12 + 16 * std::uint64_t(count))
        fail(ttBadFileSize);
    std::uint64_t padded = 0;
    for (int i = 0; i < count; ++i)
        padded += (std::uint64_t(file.u32(12 + 16 * i + 12)) + 3) & ~std::uint64_t(3);
    if (size_ != 12 + 16 * std::uint64_t(count) + padded)
        fail(ttBadFileSize);

    directory_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        BigEndianSpan entry = file.sub(12 + 16 * std::size_t(i), 16);
        TableDirectoryEntry& e = directory_[i];
        e = {entry.u32(0), entry.u32(4), entry.u32(8), entry.u32(12)};
        if (!file.has(e.offset, e.length))
            fail(ttBadFileSize);
    }
}

void TrueTypeFont::readGlyphOffsets()
{
    int format = GetTableData(tagHead).s16(50);
    if (format != 0 && format != 1)
        fail(ttBadLocaFormat);
    BigEndianSpan loca = GetTableData(tagLoca);
    std::size_t entries = loca.size() / (format ? 4 : 2);
    // Without one entry there is not even an end for glyph 0.
    if (entries == 0)
        fail(ttBadFile);
    if (entries - 1 < std::size_t(glyphCount_))
        glyphCount_ = static_cast<int>(entries - 1);

    std::uint32_t glyfSize = GetTableSize(tagGlyf);
    glyphOffsets_ = std::make_unique<std::uint32_t[]>(std::size_t(glyphCount_) + 1);
    for (int i = 0; i <= glyphCount_; ++i) {
        std::uint32_t offset = format ? loca.u32(4 * std::size_t(i)) : 2u * loca.u16(2 * std::size_t(i));
        if (offset > glyfSize)
            fail(ttBadFile);
        glyphOffsets_[i] = offset;
    }
}

const TableDirectoryEntry* TrueTypeFont::GetDirEntry(unsigned tag) const
{
    for (const TableDirectoryEntry& e : directory_)
        if (e.tag == tag)
            return &e;
    return nullptr;
}

const unsigned char* TrueTypeFont::GetTable(unsigned tag) const
{
    const TableDirectoryEntry* e = GetDirEntry(tag);
    return e ? image_ + e->offset : nullptr;
}

unsigned TrueTypeFont::GetTableSize(unsigned tag) const
{
    const TableDirectoryEntry* e = GetDirEntry(tag);
    return e ? e->length : 0;
}

BigEndianSpan TrueTypeFont::GetTableData(unsigned tag) const
{
    const TableDirectoryEntry* e = GetDirEntry(tag);
    return e ? BigEndianSpan(image_ + e->offset, e->length) : BigEndianSpan();
}

bool TrueTypeFont::checkMinTables() const
{
    return std::all_of(std::begin(minTags), std::end(minTags), [this](unsigned t) { return GetDirEntry(t); });
}

bool TrueTypeFont::checkT42Tables() const
{
    return std::all_of(std::begin(tags), std::end(tags), [this](unsigned t) { return GetDirEntry(t); });
}

const char* TrueTypeFont::message(int code)
{
    static const char* const texts[] = {
        "",
        "error accessing file",
        "memory error",
        "error loading file",
        "incorrect TrueType file",
        "incorrect TrueType file size",
        "some TrueType tables are missing",
        "some essential TrueType tables ('name', 'maxp', 'head', 'loca') are missing",
        "post table of known format is not found",
        "incorrect number of glyphs",
        "invalid value of Index To Location Format",
        nullptr,
        "not a TrueType font",
    };
    if (code < 0 || code >= int(std::size(texts)) || !texts[code])
        return "invalid error number";
    return texts[code];
}

// --- NamingTable2 -------------------------------------------------------------

int findname(const BigEndianSpan& table, unsigned short count, unsigned short platformID,
             unsigned short encodingID, unsigned short languageID, unsigned short nameID)
{
    if (count == 0)
        return -1;
    const std::uint32_t key1 = std::uint32_t(platformID) << 16 | encodingID;
    const std::uint32_t key2 = std::uint32_t(languageID) << 16 | nameID;
    int lo = 0, hi = count - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        BigEndianSpan record = table.sub(6 + 12 * std::size_t(mid), 12);
        std::uint32_t rec1 = record.u32(0), rec2 = record.u32(4);
        // An equal record moves both ends past it, which leaves lo two above hi.
        if (key1 > rec1 || (key1 == rec1 && key2 >= rec2))
            lo = mid + 1;
        if (key1 < rec1 || (key1 == rec1 && key2 <= rec2))
            hi = mid - 1;
    }
    return lo - hi == 2 ? lo - 1 : -1;
}

std::unique_ptr<char[]> nameExtract(const BigEndianSpan& table, int record, int unicode)
{
    BigEndianSpan rec = table.sub(6 + 12 * std::size_t(record), 12);
    std::size_t length = rec.u16(8);
    const unsigned char* bytes = table.at(std::size_t(table.u16(4)) + rec.u16(10), length);
    std::size_t n = unicode ? length / 2 : length;
    auto text = std::make_unique<char[]>(n + 1);
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>(unicode ? bytes[2 * i + 1] : bytes[i]);
    text[n] = 0;
    return text;
}

void NamingTable2::assign(const TrueTypeFont& font)
{
    BigEndianSpan table = font.GetTableData(tagName);
    unsigned short count = table.u16(2);
    table.at(6, 12 * std::size_t(count)); // every record the search may visit

    // (3, 1, 1033) is Microsoft, Unicode BMP, US English; (1, 0, 0) Macintosh,
    // Roman, English.
    auto pick = [&](unsigned short nameID, bool microsoftFirst) -> std::unique_ptr<char[]> {
        for (bool microsoft : {microsoftFirst, !microsoftFirst}) {
            int found = microsoft ? findname(table, count, 3, 1, 1033, nameID) : findname(table, count, 1, 0, 0, nameID);
            if (found >= 0)
                return nameExtract(table, found, microsoft);
        }
        return nullptr;
    };

    std::unique_ptr<char[]> fresh[fieldCount];
    fresh[psName] = pick(6, true);
    fresh[full] = pick(4, false);
    fresh[unique] = pick(3, false);
    fresh[copyright] = pick(0, false);
    fresh[versionString] = pick(5, false);
    fresh[family] = pick(1, false);

    if (!fresh[psName]) {
        // Every character of the path that is not an ASCII letter or digit
        // becomes "_": "/fonts/My Font.ttf" gives "_fonts_My_Font_ttf".
        fresh[psName] = copyOf(font.fileName());
        for (char* c = fresh[psName].get(); *c; ++c)
            if (!((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9')))
                *c = '_';
    }
    if (!fresh[full])
        fresh[full] = copyOf(fresh[psName].get());
    for (auto& f : fresh)
        if (!f)
            f = copyOf("");

    for (int i = 0; i < fieldCount; ++i)
        fields_[i] = std::move(fresh[i]);
}

void NamingTable2::reset()
{
    for (auto& f : fields_)
        f.reset();
}

void NamingTable2::dump(FILE* out) const
{
    static const char* const labels[fieldCount] = {"Postscript name", "Full name", "Unique ID",
                                                   "Notice", "Version", "Family name"};
    std::fputs("NamingTable2 {\n", out);
    for (int i = 0; i < fieldCount; ++i)
        if (fields_[i])
            std::fprintf(out, "\t%s: '%s'\n", labels[i], fields_[i].get());
    std::fputs("}\n", out);
}

// --- GlyphTable ---------------------------------------------------------------

GlyphTable::GlyphTable(const BigEndianSpan& post) { Assign(post); }

void GlyphTable::Reset()
{
    count_ = 0;
    text_.clear();
    names_.clear();
    glyphs_.clear();
    sorted_ = false;
    loaded_ = false;
}

void GlyphTable::Assign(const BigEndianSpan& post)
{
    if (!post.data())
        throw int(TrueTypeFont::ttBadFile);
    Reset();
    try {
        const std::uint32_t format = std::uint32_t(post.u16(0)) << 16 | post.u16(2);
        unsigned count = 0;
        switch (format) {
        case 0x00010000:
            count = AppleGlyphCount;
            for (unsigned i = 0; i < count; ++i)
                names_.push_back(AppleGlyphs[i]);
            break;
        case 0x00020000: {
            count = post.u16(32);
            names_.reserve(count);
            BigEndianSpan indices = post.sub(34, 2 * std::size_t(count));
            // Index 258 + k names the k-th Pascal string after the indices.
            // The strings are located in one pass up to the last one used, so
            // that the cost stays linear in the table's size.
            unsigned needed = 0;
            for (unsigned i = 0; i < count; ++i)
                needed = std::max<unsigned>(needed, indices.u16(2 * i) + 1u);
            std::vector<std::size_t> starts;
            if (needed > AppleGlyphCount) {
                starts.reserve(needed - AppleGlyphCount);
                text_.reserve(post.size()); // the strings and their NULs fit in the table's bytes
                std::size_t pos = 34 + 2 * std::size_t(count);
                for (unsigned k = 0; k < needed - AppleGlyphCount; ++k) {
                    if (!post.has(pos, 1))
                        throw TrueTypeFont::ttBadFile;
                    std::size_t length = post.u8(pos);
                    const unsigned char* chars = post.at(pos + 1, length);
                    starts.push_back(text_.size());
                    // A byte 0 inside a name ends it, as in any C string.
                    text_.insert(text_.end(), chars, chars + length);
                    text_.push_back(0);
                    pos += 1 + length;
                }
            }
            for (unsigned i = 0; i < count; ++i) {
                unsigned index = indices.u16(2 * i);
                names_.push_back(index < AppleGlyphCount ? AppleGlyphs[index]
                                                         : text_.data() + starts[index - AppleGlyphCount]);
            }
            break;
        }
        case 0x00025000: {
            count = post.u16(32);
            names_.reserve(count);
            BigEndianSpan deltas = post.sub(34, count);
            for (unsigned i = 0; i < count; ++i) {
                int index = int(i) + deltas.s8(i);
                if (index < 0 || index >= AppleGlyphCount)
                    throw TrueTypeFont::ttBadFile;
                names_.push_back(AppleGlyphs[index]);
            }
            break;
        }
        case 0x00030000:
            break;
        default:
            throw TrueTypeFont::ttBadFile;
        }
        count_ = static_cast<unsigned short>(count);
        glyphs_.resize(count);
        for (unsigned i = 0; i < count; ++i)
            glyphs_[i] = static_cast<unsigned short>(i);
        loaded_ = true;
    } catch (...) {
        Reset();
        throw;
    }
}

void GlyphTable::swapEntries(int a, int b)
{
    std::swap(names_[a], names_[b]);
    std::swap(glyphs_[a], glyphs_[b]);
}

// Quicksort with the middle element as pivot and Hoare partitioning. The
// smaller part is sorted by recursion and the larger by the loop, so the
// stack stays shallow; a font built to defeat the pivot choice exhausts the
// depth budget and the rest is sorted by the standard library instead.
void GlyphTable::doQuickSort(int lo, int hi, int depthLimit)
{
    while (lo < hi) {
        if (depthLimit-- == 0) {
            std::vector<std::pair<const char*, unsigned short>> rest;
            for (int k = lo; k <= hi; ++k)
                rest.emplace_back(names_[k], glyphs_[k]);
            std::sort(rest.begin(), rest.end(),
                      [](const auto& a, const auto& b) { return std::strcmp(a.first, b.first) < 0; });
            for (int k = lo; k <= hi; ++k)
                std::tie(names_[k], glyphs_[k]) = rest[k - lo];
            return;
        }
        const char* pivot = names_[lo + (hi - lo) / 2];
        int i = lo, j = hi;
        while (i <= j) {
            while (std::strcmp(names_[i], pivot) < 0)
                ++i;
            while (std::strcmp(names_[j], pivot) > 0)
                --j;
            if (i <= j)
                swapEntries(i++, j--);
        }
        if (j - lo < hi - i) {
            doQuickSort(lo, j, depthLimit);
            lo = i;
        } else {
            doQuickSort(i, hi, depthLimit);
            hi = j;
        }
    }
}

void GlyphTable::Sort()
{
    if (count_ > 1)
        doQuickSort(0, count_ - 1, 4 * std::bit_width(unsigned(count_)));
    sorted_ = true;
}

int GlyphTable::Find(const char* name)
{
    if (count_ == 0)
        return -1;
    if (!sorted_)
        Sort();
    int lo = 0, hi = count_ - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = std::strcmp(name, names_[mid]);
        if (c == 0)
            return mid;
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return -1;
}

const char* GetGlyphByNumber(const GlyphTable& table, int glyph)
{
    // Glyph numbers are distinct, and an unsorted table holds glyph i at
    // entry i: the common case needs no scan.
    if (glyph >= 0 && glyph < table.count() && table.glyph(glyph) == glyph)
        return table.name(glyph);
    for (int i = 0; i < table.count(); ++i)
        if (table.glyph(i) == glyph)
            return table.name(i);
    return ".notdef";
}

std::ostream& operator<<(std::ostream& os, const GlyphTable& table)
{
    os << "GlyphTable {\n\tNumber of glyphs: " << table.count() << "\n";
    char number[16];
    for (int i = 0; i < table.count(); ++i) {
        std::snprintf(number, sizeof number, "%3d", table.glyph(i));
        os << "\t" << number << ": '" << table.name(i) << "'\n";
    }
    return os << "}\n\n";
}

std::string Latin1ToUtf8(const char* bytes)
{
    std::string text;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p; ++p) {
        if (*p < 0x80) {
            text += static_cast<char>(*p);
        } else {
            text += static_cast<char>(0xC0 | *p >> 6);
            text += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return text;
}

} // namespace korrin
