#include <gtest/gtest.h>

#include "core/buffer.h"
#include "core/list.h"
#include "core/lstring.h"
#include "support/thrown.h"

using korrin::buffer;
using korrin::list;
using korrin::lstring;
using korrin::test::thrown;

namespace {

TEST(LString, HoldsAnyByteAndCompares)
{
    const unsigned char bytes[] = {0, 'a', 0, 0xFF};
    lstring s(4u, bytes);
    EXPECT_EQ(s.getstring(), korrin::string("\x02" "a" "\x02" "\xFF"));
    EXPECT_EQ(thrown<lstring::rangecheck>([&] { s[4]; }).index, 4u);

    EXPECT_EQ(lstring("\x80").compare(lstring("\x01")), -1) << "bytes compare as signed chars";
    EXPECT_EQ(lstring("abc").compare(lstring("xabcx"), 1, 3), 0);
    EXPECT_EQ(lstring("abcd").compare(lstring("abc")), 1);
    EXPECT_EQ(lstring("ab").compare(lstring("abc")), -1);
    EXPECT_EQ(lstring("a").compare(lstring("abc"), 3, 1), 1) << "non-empty text against an empty range";
    EXPECT_EQ(lstring().compare(lstring()), 0);
}

TEST(Buffer, GrowsLinearlyUpToItsMaximum)
{
    buffer b(4, 2, 7);
    b.append("abcd", 4);
    b.append('e');
    EXPECT_EQ(b.capacity, 6u) << "grows at the 5th byte";
    b.append('f');
    EXPECT_EQ(thrown<buffer::maxsizereached>([&] { b.append('g'); }).maximum, 7u);
    EXPECT_EQ(b.used, 6u) << "a refused byte leaves the buffer unchanged";
    EXPECT_EQ(thrown<buffer::rangecheck>([&] { b[6]; }).index, 6u);
    EXPECT_EQ(buffer(4, 0, 100).increment(), 2u) << "the default increment is half the initial size";

    // A block takes what fits before it stops; copies are independent.
    buffer small(2, 1, 3);
    EXPECT_THROW(small.append("abcd", 4), buffer::maxsizereached);
    EXPECT_EQ(small.used, 3u);
    buffer copy(small);
    copy.data[0] = 'Z';
    EXPECT_EQ(small[0], 'a');
    small.reset();
    EXPECT_EQ(small.used + small.capacity, 2u);
    EXPECT_EQ(copy[2], 'c');
}

TEST(List, CursorAndOwnership)
{
    list<korrin::string> l(true);
    EXPECT_FALSE(l.toFirst()) << "empty list";
    l.append("a").append("b").append("c");
    EXPECT_EQ(l.current(), "a") << "the first node becomes the cursor";
    EXPECT_FALSE(l.toFirst()) << "already there";
    EXPECT_EQ(l.skipForward(5), 2u) << "stops at the last node";
    EXPECT_EQ(l.current(), "c");
    EXPECT_TRUE(l.toFirst());
    EXPECT_EQ(l.toArray()[1], "b");
    l.clear();
    EXPECT_EQ(l.count() + l.skipForward(1), 0u);
    EXPECT_DEATH(l.current(), "current_ != nullptr");

    unsigned a = 1, b = 2;
    list<unsigned> addresses(false);
    addresses.append(a).append(b);
    b = 20;
    EXPECT_EQ(*++addresses.begin(), 20u) << "a non-owning list keeps the caller's addresses";
}

} // namespace
