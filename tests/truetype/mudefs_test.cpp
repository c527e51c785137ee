// The bounds-checked big-endian reader that every font decoder reads through.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>

#include "support/thrown.h"
#include "truetype/mudefs.h"

using korrin::BigEndianSpan;

namespace {

const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
const BigEndianSpan span(bytes, sizeof bytes);

TEST(BigEndianSpan, ReadsMostSignificantByteFirstAtAnyOffset)
{
    EXPECT_EQ(span.u8(7), 0xF0);
    EXPECT_EQ(span.s8(7), -16);
    EXPECT_EQ(span.u16(1), 0x3456);
    EXPECT_EQ(span.s16(4), std::int16_t(0x9ABC));
    EXPECT_EQ(span.u32(4), 0x9ABCDEF0u) << "the last four bytes";
    EXPECT_EQ(span.u32(3), 0x789ABCDEu);
    EXPECT_EQ(span.sub(2, 4).u16(2), 0x9ABC);
    EXPECT_EQ(span.from(6).u16(0), 0xDEF0);
    EXPECT_TRUE(span.from(8).empty());
    EXPECT_TRUE(span.has(8, 0));
    EXPECT_EQ(BigEndianSpan(nullptr, 100).size(), 0u) << "an absent table has no bytes";
}

TEST(BigEndianSpan, ReadsOutsideThrowTheFontError4)
{
    constexpr std::size_t top = std::numeric_limits<std::size_t>::max();
    const std::pair<const char*, std::function<void()>> outside[] = {
        {"u32 past the end", [] { span.u32(5); }},
        {"u16 past the end", [] { span.u16(7); }},
        {"u8 at the end", [] { span.u8(8); }},
        {"sub past the end", [] { span.sub(4, 5); }},
        {"from past the end", [] { span.from(9); }},
        {"a sub-span is bounded by its own end", [] { span.sub(2, 4).u8(4); }},
        {"an offset near the top of the address space", [] { span.u32(top - 1); }},
        {"a length near the top", [] { span.at(1, top); }},
        {"an absent table", [] { BigEndianSpan().u16(0); }},
    };
    for (const auto& [what, read] : outside)
        EXPECT_EQ(korrin::test::thrown<int>(read), 4) << what;
    EXPECT_FALSE(span.has(top, 2));
}

TEST(BigEndianSpanDeathTest, RequireTableStopsOnANullTable)
{
    EXPECT_EQ(korrin::RequireTable(span).size(), 8u);
    EXPECT_DEATH(korrin::RequireTable(BigEndianSpan()), "mudefs.h:[0-9]+: precondition failed: ptr != 0");
}

} // namespace
