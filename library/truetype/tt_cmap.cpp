#include "truetype/tt_cmap.h"

#include <algorithm>
#include <new>

#include "xlat/xman.h"

namespace korrin {

namespace {

constexpr unsigned platformMicrosoft = 3;
constexpr unsigned unicodeEncoding = 1;

// Microsoft's encoding IDs of the national subtables, in the order they are
// preferred, with the translation-table encoding that reads each. The two
// numberings agree except that Microsoft's 3 is PRC and 4 is Big5.
struct NationalSubtable {
    unsigned microsoftID;
    int encoding;
};
constexpr NationalSubtable nationalSubtables[] = {
    {2, 2}, // ShiftJIS
    {3, 4}, // PRC
    {4, 3}, // Big5
    {5, 5}, // Wansung
    {6, 6}, // Johab
};

GlyphIndexArray newGlyphIndexArray()
{
    GlyphIndexArray array(new (std::nothrow) unsigned short[glyphIndexArraySize]);
    if (array)
        std::fill_n(array.get(), glyphIndexArraySize, 0);
    return array;
}

// The u16 at offset, or 0 when it lies outside the span: what every lookup
// answers for a field it cannot read.
unsigned short u16or0(const BigEndianSpan& span, std::size_t offset)
{
    return span.has(offset, 2) ? span.u16(offset) : 0;
}

} // namespace

unsigned short getGlyph0_(const BigEndianSpan& subtable, unsigned short code)
{
    if (code > 255 || !subtable.has(6 + std::size_t(code), 1))
        return 0;
    return subtable.u8(6 + std::size_t(code));
}

// High-byte mapping: the code's high byte picks a subHeader through
// subHeaderKeys, and the low byte is looked up in that subHeader's range.
unsigned short getGlyph2_(const BigEndianSpan& subtable, unsigned short code)
{
    const unsigned high = code >> 8, low = code & 0xFF;
    if (!subtable.has(6 + 2 * high, 2))
        return 0;
    const std::size_t header = 518 + 8 * std::size_t(subtable.u16(6 + 2 * high) / 8);
    if (!subtable.has(header, 8))
        return 0;
    const unsigned firstCode = subtable.u16(header);
    const unsigned entryCount = subtable.u16(header + 2);
    const unsigned short idDelta = subtable.u16(header + 4);
    if (low < firstCode || low >= firstCode + entryCount)
        return 0;
    // idRangeOffset counts bytes from its own field.
    const std::size_t at = header + 6 + subtable.u16(header + 6) + 2 * std::size_t(low - firstCode);
    const unsigned short glyph = u16or0(subtable, at);
    return glyph ? static_cast<unsigned short>(glyph + idDelta) : 0;
}

namespace {

// Segment mapping to delta values: where the four arrays of a format 4
// subtable lie, once they are known to lie inside it.
struct Format4 {
    BigEndianSpan table;
    std::size_t segX2 = 0;
    unsigned short segCount = 0;

    explicit Format4(const BigEndianSpan& subtable)
    {
        if (!subtable.has(6, 2))
            return;
        const std::size_t x2 = subtable.u16(6) & ~1u;
        // endCode, a pad, startCode, idDelta and idRangeOffset.
        if (!subtable.has(14, 4 * x2 + 2))
            return;
        table = subtable;
        segX2 = x2;
        segCount = static_cast<unsigned short>(x2 / 2);
    }
    BigEndianSpan endCodes() const { return table.sub(14, segX2); }
    unsigned short endCode(unsigned k) const { return table.u16(14 + 2 * std::size_t(k)); }

    // The fields of segment k.
    struct Segment {
        unsigned short start, delta;
        unsigned rangeOffset;
        std::size_t rangeField; // where its idRangeOffset lies
    };
    Segment segment(unsigned k) const
    {
        const std::size_t startAt = 16 + segX2, deltaAt = startAt + segX2, rangeAt = deltaAt + segX2;
        const std::size_t rangeField = rangeAt + 2 * std::size_t(k);
        return {table.u16(startAt + 2 * std::size_t(k)), table.u16(deltaAt + 2 * std::size_t(k)),
                table.u16(rangeField), rangeField};
    }

    // The glyph of a code in its segment, the first whose endCode is not
    // below the code.
    unsigned short glyph(const Segment& s, unsigned short code) const
    {
        if (s.start > code)
            return 0;
        if (s.rangeOffset == 0)
            return static_cast<unsigned short>(s.delta + code);
        // idRangeOffset counts bytes from its own field into glyphIdArray.
        const unsigned short g = u16or0(table, s.rangeField + 2 * (s.rangeOffset / 2 + std::size_t(code - s.start)));
        return g ? static_cast<unsigned short>(g + s.delta) : 0;
    }

    // Every code's glyph into a zeroed array in one pass over the segments,
    // when endCode ascends as the TrueType format requires: the segment of
    // code c is then the one that the binary search of getGlyph4_ finds.
    // False otherwise.
    bool unroll(unsigned short* array) const
    {
        for (unsigned k = 1; k < segCount; ++k)
            if (endCode(k) < endCode(k - 1))
                return false;
        unsigned c = 0; // the first code no segment has claimed yet
        for (unsigned k = 0; k < segCount; ++k) {
            const unsigned end = endCode(k);
            if (end < c)
                continue; // an endCode repeated: the earlier segment has the codes
            const Segment s = segment(k);
            for (unsigned code = std::max<unsigned>(c, s.start); code <= end; ++code)
                array[code] = glyph(s, static_cast<unsigned short>(code));
            c = end + 1;
        }
        return true;
    }
};

} // namespace

unsigned short getGlyph4_(const BigEndianSpan& subtable, unsigned short code)
{
    const Format4 f(subtable);
    if (f.segCount == 0)
        return 0;
    const unsigned short k = GEbinsearch(f.endCodes(), f.segCount, code);
    return k == 0xFFFF ? 0 : f.glyph(f.segment(k), code);
}

// Trimmed table mapping: one dense range of codes.
unsigned short getGlyph6_(const BigEndianSpan& subtable, unsigned short code)
{
    if (!subtable.has(6, 4))
        return 0;
    const unsigned firstCode = subtable.u16(6), entryCount = subtable.u16(8);
    if (code < firstCode || code >= firstCode + entryCount)
        return 0;
    return u16or0(subtable, 10 + 2 * std::size_t(code - firstCode));
}

unsigned short getGlyph(const BigEndianSpan& subtable, unsigned short code)
{
    if (!subtable.has(0, 2))
        return 0;
    switch (subtable.u16(0)) {
    case 0: return getGlyph0_(subtable, code);
    case 2: return getGlyph2_(subtable, code);
    case 4: return getGlyph4_(subtable, code);
    case 6: return getGlyph6_(subtable, code);
    default: return 0;
    }
}

unsigned short GEbinsearch(const BigEndianSpan& array, unsigned short n, unsigned short key)
{
    if (n == 0 || n == 0xFFFF || !array.has(0, 2 * std::size_t(n)))
        return 0xFFFF;
    unsigned lo = 0, hi = n; // the answer lies in [lo, hi]; hi == n means none
    while (lo < hi) {
        const unsigned mid = (lo + hi) / 2;
        if (array.u16(2 * std::size_t(mid)) < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo == n ? 0xFFFF : static_cast<unsigned short>(lo);
}

GlyphIndexArray Unroll(const BigEndianSpan& subtable)
{
    GlyphIndexArray array = newGlyphIndexArray();
    if (!array)
        return array;
    // Format 4, the usual Unicode subtable, goes segment by segment rather
    // than with a search per code.
    if (subtable.has(0, 2) && subtable.u16(0) == 4) {
        const Format4 f(subtable);
        if (f.segCount && f.unroll(array.get()))
            return array;
    }
    for (unsigned c = 0; c < glyphIndexArraySize; ++c)
        array[c] = getGlyph(subtable, static_cast<unsigned short>(c));
    return array;
}

GlyphIndexArray UnrollAndConvert(XlatManager* xman, const BigEndianSpan& subtable, int encoding)
{
    if (!xman)
        return nullptr;
    XlatTablePtr table(xman->loadTable(encoding, unicodeEncoding));
    if (!table)
        return nullptr;
    GlyphIndexArray array = newGlyphIndexArray();
    if (!array)
        return nullptr;
    // Ascending codes, so that of several codes for one Unicode value the
    // highest wins.
    for (unsigned c = 0; c < glyphIndexArraySize; ++c) {
        const unsigned u = xlat(table.get(), c);
        if (u != 0xFFFFFFFFu)
            array[u & 0xFFFF] = getGlyph(subtable, static_cast<unsigned short>(c));
    }
    return array;
}

GlyphIndexArray getGlyphIndexArray(const BigEndianSpan& cmap, XlatManager* xman)
{
    if (!cmap.has(0, 4))
        return nullptr;
    // The offset of the last (3, e) record for each e from 0 to 6.
    constexpr unsigned knownIDs = 7;
    std::uint32_t offsets[knownIDs] = {};
    bool seen[knownIDs] = {};
    bool anyMicrosoft = false;
    const unsigned count = cmap.u16(2);
    for (unsigned i = 0; i < count && cmap.has(4 + 8 * std::size_t(i), 8); ++i) {
        const BigEndianSpan record = cmap.sub(4 + 8 * std::size_t(i), 8);
        if (record.u16(0) != platformMicrosoft)
            continue;
        anyMicrosoft = true;
        const unsigned id = record.u16(2);
        if (id < knownIDs) {
            offsets[id] = record.u32(4);
            seen[id] = true;
        }
    }
    if (!anyMicrosoft)
        return nullptr;

    // A subtable must at least begin inside the table; its own fields are
    // checked by the lookups.
    auto subtableAt = [&](std::uint32_t offset) { return cmap.has(offset, 2) ? cmap.from(offset) : BigEndianSpan(); };
    if (seen[unicodeEncoding]) {
        const BigEndianSpan subtable = subtableAt(offsets[unicodeEncoding]);
        return subtable.empty() ? nullptr : Unroll(subtable);
    }
    for (const NationalSubtable& n : nationalSubtables) {
        if (!seen[n.microsoftID])
            continue;
        const BigEndianSpan subtable = subtableAt(offsets[n.microsoftID]);
        return subtable.empty() ? nullptr : UnrollAndConvert(xman, subtable, n.encoding);
    }
    return nullptr;
}

} // namespace korrin
