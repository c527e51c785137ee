// Big-endian field readers over untrusted font bytes.
//
// Every decoder of font data (the loader, the naming and glyph-name tables,
// the cmap lookup, the Type 42 and CID writers) reads through a
// BigEndianSpan: a pointer and a length, with u8/s8/u16/s16/u32 getters that
// take a byte offset, assemble the value byte by byte (most significant byte
// first, so no alignment and no host byte order is assumed) and check the
// offset against the length first. The checks are written so that they
// cannot overflow, whatever offset a hostile file supplies.
//
// A read outside the span throws the font layer's error 4, "incorrect
// TrueType file", as a plain int. An absent table is an empty span, so
// reading a field of a table the font lacks throws 4 the same way. Code that
// must not throw (a lookup that answers 0 for anything it cannot read) tests
// with has() first.
//
// Typical use: take a table's span from the font once, narrow it with sub()
// to the structure being decoded, then read fields at offsets relative to it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/list.h"

namespace korrin {

// The font layer's "incorrect TrueType file": a field that lies outside its
// table or the file.
constexpr int fontFieldOutOfRange = 4;

class BigEndianSpan {
public:
    constexpr BigEndianSpan() = default;
    constexpr BigEndianSpan(const unsigned char* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    // Null for the span of an absent table.
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // True when the length bytes from offset on lie inside the span.
    bool has(std::size_t offset, std::size_t length) const { return offset <= size_ && length <= size_ - offset; }

    std::uint8_t u8(std::size_t offset) const { return at(offset, 1)[0]; }
    std::int8_t s8(std::size_t offset) const { return static_cast<std::int8_t>(u8(offset)); }
    std::uint16_t u16(std::size_t offset) const
    {
        const unsigned char* p = at(offset, 2);
        return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
    }
    std::int16_t s16(std::size_t offset) const { return static_cast<std::int16_t>(u16(offset)); }
    std::uint32_t u32(std::size_t offset) const
    {
        const unsigned char* p = at(offset, 4);
        return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    }

    // The length bytes from offset on, checked once so that the caller may
    // then index them freely.
    const unsigned char* at(std::size_t offset, std::size_t length) const
    {
        if (!has(offset, length))
            throw int(fontFieldOutOfRange);
        return data_ + offset;
    }
    BigEndianSpan sub(std::size_t offset, std::size_t length) const { return {at(offset, length), length}; }
    // Everything from offset to the end.
    BigEndianSpan from(std::size_t offset) const
    {
        if (offset > size_)
            throw int(fontFieldOutOfRange);
        return {data_ + offset, size_ - offset};
    }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// For decoders that are only ever handed a table that exists (the caller
// has looked it up and tested it): a null one is a programming error, and
// stops the process naming this file, the line and "ptr != 0".
inline const BigEndianSpan& RequireTable(const BigEndianSpan& table)
{
    const unsigned char* ptr = table.data();
    KORRIN_REQUIRE(ptr != 0);
    return table;
}

} // namespace korrin
