#include <gtest/gtest.h>

#include "core/buffer.h"
#include "core/list.h"
#include "core/lstring.h"

using korrin::buffer;
using korrin::list;
using korrin::lstring;

namespace {

TEST(LString, HoldsAnyByte)
{
    const unsigned char bytes[] = {0, 'a', 0, 0xFF};
    lstring s(4u, bytes);
    ASSERT_EQ(s.length(), 4u);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[3], 0xFF);
    EXPECT_EQ(s.getstring(), korrin::string("\x02" "a" "\x02" "\xFF"));
    try {
        s[4];
        FAIL();
    } catch (const lstring::rangecheck& e) {
        EXPECT_EQ(e.index, 4u);
    }
    lstring copy(s);
    EXPECT_TRUE(copy.shares(s));
    EXPECT_TRUE(lstring(0u, bytes).shares(lstring())) << "empty byte strings share one representation";
}

TEST(LString, Compare)
{
    EXPECT_EQ(lstring("\x80").compare(lstring("\x01")), -1);
    EXPECT_EQ(lstring("abc").compare(lstring("xabcx"), 1, 3), 0);
    EXPECT_EQ(lstring("abcd").compare(lstring("abc")), 1);
    EXPECT_EQ(lstring("ab").compare(lstring("abc")), -1);
    EXPECT_EQ(lstring("a").compare(lstring("abc"), 3, 1), 1) << "non-empty text against an empty range";
    EXPECT_EQ(lstring().compare(lstring()), 0);
    EXPECT_EQ(lstring().compare(lstring("abc")), -1);
    unsigned len = 9;
    EXPECT_TRUE(korrin::ValidateLStr(lstring("abc"), 1, len));
    EXPECT_EQ(len, 2u);
}

TEST(Buffer, GrowsLinearlyUpToItsMaximum)
{
    buffer b(4, 2, 7);
    for (int i = 0; i < 4; ++i)
        b.append(static_cast<unsigned char>(i));
    EXPECT_EQ(b.capacity, 4u);
    b.append(4);
    EXPECT_EQ(b.capacity, 6u) << "grows at the 5th byte";
    b.append(5);
    try {
        b.append(6);
        FAIL() << "7th byte accepted";
    } catch (const buffer::maxsizereached& e) {
        EXPECT_EQ(e.maximum, 7u);
    }
    EXPECT_EQ(b.used, 6u) << "a refused byte leaves the buffer unchanged";
    EXPECT_EQ(b[5], 5);
    try {
        b[6];
        FAIL();
    } catch (const buffer::rangecheck& e) {
        EXPECT_EQ(e.index, 6u);
        EXPECT_EQ(e.used, 6u);
    }
}

TEST(Buffer, DefaultIncrementIsHalfTheInitialSize)
{
    buffer b(4, 0, 100);
    EXPECT_EQ(b.increment(), 2u);
    for (int i = 0; i < 5; ++i)
        b.append('x');
    EXPECT_EQ(b.capacity, 6u);
    b.append("abcd", 4);
    EXPECT_EQ(b.capacity, 10u);
    EXPECT_EQ(b.used, 9u);
}

TEST(Buffer, BlockAppendKeepsWhatFitsAndCopiesAreIndependent)
{
    buffer full(65536, 0, 65536);
    std::string block(65536, 'q');
    full.append(block.data(), block.size());
    EXPECT_EQ(full.used, 65536u);
    EXPECT_THROW(full.append('x'), buffer::maxsizereached);

    buffer small(2, 1, 3);
    EXPECT_THROW(small.append("abcd", 4), buffer::maxsizereached);
    EXPECT_EQ(small.used, 3u);
    buffer copy(small);
    copy.data[0] = 'Z';
    EXPECT_EQ(small[0], 'a');
    small.reset();
    EXPECT_EQ(small.used, 0u);
    EXPECT_EQ(small.capacity, 2u);
    EXPECT_EQ(copy[2], 'c');
}

TEST(List, CursorAndOwnership)
{
    list<korrin::string> l(true);
    EXPECT_FALSE(l.toFirst()) << "empty list";
    EXPECT_EQ(l.skipForward(3), 0u);
    l.append("a").append("b").append("c");
    EXPECT_EQ(l.count(), 3u);
    EXPECT_EQ(l.current(), "a") << "the first node becomes the cursor";
    EXPECT_FALSE(l.toFirst()) << "already at the first node";
    EXPECT_EQ(l.skipForward(5), 2u) << "stops at the last node";
    EXPECT_EQ(l.current(), "c");
    EXPECT_TRUE(l.toFirst());
    auto arr = l.toArray();
    EXPECT_EQ(arr[1], "b");
    l.clear();
    EXPECT_EQ(l.count(), 0u);
    EXPECT_EQ(l.skipForward(1), 0u);
}

TEST(List, NonOwningListKeepsAddresses)
{
    unsigned a = 1, b = 2;
    list<unsigned> l(false);
    l.append(a).append(b);
    b = 20;
    l.skipForward(1);
    EXPECT_EQ(l.current(), 20u);
    unsigned sum = 0;
    for (unsigned v : l)
        sum += v;
    EXPECT_EQ(sum, 21u);
}

TEST(ListDeathTest, CurrentWithoutCursorStops)
{
    list<unsigned> l(true);
    EXPECT_DEATH(l.current(), "current_ != nullptr");
}

} // namespace
