// The bounds-checked big-endian reader that every font decoder reads through.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "truetype/mudefs.h"

using korrin::BigEndianSpan;

namespace {

const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
const BigEndianSpan span(bytes, sizeof bytes);

int errorOf(auto read)
{
    try {
        read();
        return 0;
    } catch (int code) {
        return code;
    }
}

TEST(BigEndianSpan, ReadsMostSignificantByteFirstAtAnyOffset)
{
    EXPECT_EQ(span.u8(7), 0xF0);
    EXPECT_EQ(span.s8(7), -16);
    EXPECT_EQ(span.u16(1), 0x3456);
    EXPECT_EQ(span.s16(4), std::int16_t(0x9ABC));
    EXPECT_EQ(span.u32(3), 0x789ABCDEu);
    EXPECT_EQ(span.sub(2, 4).u16(2), 0x9ABC);
    EXPECT_EQ(span.from(6).u16(0), 0xDEF0);
}

TEST(BigEndianSpan, ReadsOutsideThrowTheFontError4)
{
    EXPECT_EQ(errorOf([] { span.u32(4); }), 0) << "the last four bytes";
    EXPECT_EQ(errorOf([] { span.u32(5); }), 4);
    EXPECT_EQ(errorOf([] { span.u16(7); }), 4);
    EXPECT_EQ(errorOf([] { span.u8(8); }), 4);
    EXPECT_EQ(errorOf([] { span.sub(4, 5); }), 4);
    EXPECT_EQ(errorOf([] { span.from(9); }), 4);
    EXPECT_TRUE(span.from(8).empty());
    EXPECT_EQ(errorOf([] { span.sub(2, 4).u8(4); }), 4) << "a sub-span is bounded by its own end";
}

TEST(BigEndianSpan, OffsetsNearTheTopOfTheAddressSpaceDoNotWrap)
{
    constexpr std::size_t top = std::numeric_limits<std::size_t>::max();
    EXPECT_FALSE(span.has(top, 2));
    EXPECT_FALSE(span.has(2, top));
    EXPECT_FALSE(span.has(top - 1, 2));
    EXPECT_EQ(errorOf([] { span.u32(top - 1); }), 4);
    EXPECT_EQ(errorOf([] { span.at(1, top); }), 4);
    EXPECT_TRUE(span.has(8, 0));
}

TEST(BigEndianSpan, AnAbsentTableHasNoBytes)
{
    BigEndianSpan absent;
    EXPECT_EQ(absent.data(), nullptr);
    EXPECT_EQ(errorOf([&] { absent.u16(0); }), 4);
    EXPECT_EQ(BigEndianSpan(nullptr, 100).size(), 0u);
}

TEST(BigEndianSpanDeathTest, RequireTableStopsOnANullTable)
{
    EXPECT_EQ(korrin::RequireTable(span).size(), 8u);
    EXPECT_DEATH(korrin::RequireTable(BigEndianSpan()), "mudefs.h:[0-9]+: precondition failed: ptr != 0");
}

} // namespace
