#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

#include "core/crctable.h"
#include "core/regexp.h"
#include "core/scanner.h"
#include "core/string.h"
#include "support/thrown.h"

using korrin::Regexp;
using korrin::scanner;
using korrin::string;

namespace {

TEST(String, ConstructionAndRangeChecks)
{
    EXPECT_TRUE(string(static_cast<const char*>(nullptr)).shares(string(""))) << "one empty representation";
    EXPECT_EQ(string(3u, "a\0b"), "a\2b") << "a byte 0 becomes 2";
    EXPECT_EQ(string(-255L, 10, false), "-255");
    EXPECT_EQ(string(255L, 16, true) + string(255L, 16, false), "FFff");
    EXPECT_EQ(string(0L, 8, false), "0");
    EXPECT_EQ(string(LONG_MIN, 10, false), std::to_string(LONG_MIN).c_str());
    EXPECT_EQ(string(LONG_MAX, 2, false).length(), 63u) << "the longest text of digits";
    EXPECT_STREQ(korrin::test::thrown<string::conversion>([] { string(1L, 7, false); }).message, "Unsupported radix");
    EXPECT_THROW(string(-1L, 16, false), string::conversion);

    string s("hello");
    EXPECT_EQ(s.substr(5).length(), 0u);
    EXPECT_EQ(s.substr(1, 100), "ello");
    EXPECT_STREQ(korrin::test::thrown<string::rangecheck>([&] { s.substr(6); }).message, "String range check error");
    EXPECT_THROW(s[5], string::rangecheck);
    EXPECT_THROW(s.insert(6, "x"), string::rangecheck);
    EXPECT_EQ(s, "hello") << "a failed change leaves the string as it was";
}

TEST(String, ChangingACopyNeverChangesTheOriginal)
{
    const string a("shared text");
    string b(a), c(a), d(a), e(a);
    ASSERT_TRUE(a.shares(b));
    b.append("!");
    c[0] = 'S';
    d.upcase();
    e(0, 6) = string("common");
    EXPECT_EQ(a, "shared text");
    EXPECT_EQ(b, "shared text!");
    EXPECT_EQ(c, "Shared text");
    EXPECT_EQ(d, "SHARED TEXT");
    EXPECT_EQ(e, "common text");
}

TEST(String, EditingOperations)
{
    const string s("abcdef");
    EXPECT_EQ(string(s).insert(3, "XY"), "abcXYdef");
    EXPECT_EQ(string(s).remove(1, 2), "adef");
    EXPECT_EQ(string(s).remove(4), "abcd");
    EXPECT_EQ(string(s).replace(1, 2, "123", 1, 1), "a2def");
    EXPECT_EQ(string(s).replace(1, 2, ""), "adef") << "an empty range removes";
    EXPECT_EQ(string(s).prepend('>'), ">abcdef");
    EXPECT_EQ(string(s).append(s), "abcdefabcdef") << "appending a string to itself";
    EXPECT_EQ(string().append(s, 2, 3), "cde") << "an empty string takes a range, not the whole";
}

TEST(String, ComparisonAndSearching)
{
    string a("abc"), big("xxabcxx");
    EXPECT_EQ(a.compare(string("abd")), -1);
    EXPECT_EQ(a.compare(string("abb")), 1);
    EXPECT_EQ(a.compare(big, 2, 3), 0);
    EXPECT_EQ(string("abcd").compare(big, 2, 3), 1) << "longer than the range";
    EXPECT_EQ(string("ab").compare(big, 2, 3), -1);
    EXPECT_EQ(string("\x80").compare(string("\x01"), 0, 1), -1) << "bytes compare as signed chars";

    string s("one two one two");
    EXPECT_EQ(s.find("two", 5), 12u);
    EXPECT_EQ(s.find(static_cast<const char*>(nullptr)), string::npos);
    EXPECT_EQ(s.rfind("one", 10), 0u) << "an occurrence must end at or before pos";
    EXPECT_EQ(s.rfind("one", 11), 8u);
    EXPECT_EQ(s.rfind("", 3), 3u);
    EXPECT_EQ(s.rfind('o', 12), 8u) << "the last index before pos";
    EXPECT_EQ(s.find_first_of("wt"), 4u);
    EXPECT_EQ(s.find_first_not_of("one "), 4u);
    EXPECT_EQ(s.find_last_of("n", 8), 1u);
    EXPECT_EQ(s.find_last_not_of("ow"), 12u);
}

TEST(String, CaseInsensitiveSearchIsProcessWide)
{
    string s("Hello World");
    string::caseSensitive(false);
    EXPECT_EQ(s.find("world"), 6u);
    EXPECT_TRUE(s.contains("HELLO"));
    EXPECT_FALSE(s.contains("")) << "an empty text never matches without case";
    EXPECT_EQ(s.rfind("O"), 7u);
    EXPECT_EQ(s.find('w'), 6u);
    EXPECT_NE(s.compare(string("hello world")), 0) << "compare stays exact";
    string::caseSensitive(true);
    EXPECT_EQ(s.find("world"), string::npos);
}

TEST(String, StripFitExpandCrc)
{
    EXPECT_EQ(string(string("   ").strip(2, ' ')), "");
    string padded("  ab  ");
    EXPECT_EQ(string(padded.strip(0, ' ')), "ab  ");
    EXPECT_EQ(string(padded.strip(1, ' ')), "  ab");
    EXPECT_EQ(string(padded.strip(2, ' ')), "ab");
    EXPECT_EQ(string("ab").fit(5), "ab   ");
    EXPECT_EQ(string("abcdef").fit(3), "abcdef");
    EXPECT_EQ(string("a\tb").expand(0, 8), "a       b");
    EXPECT_EQ(string("a\tb").expand(1, 3), "a   b");
    EXPECT_EQ(string("\babc\b\bd").expand(0, 8), "ad") << "a backspace at column 0 does nothing";

    EXPECT_EQ(string("123456789").crc32(), 0xCBF43926u);
    EXPECT_EQ(korrin::crc32Update(korrin::crc32("1234", 4), "56789", 5), 0xCBF43926u);
    unsigned len = 10;
    EXPECT_TRUE(korrin::ValidateStr("hello", 2, len));
    EXPECT_EQ(len, 3u);
    EXPECT_FALSE(korrin::ValidateStr("hello", 5, len));
    EXPECT_EQ(len, 0u);
}

// The sanitized build catches a reference count that is not atomic.
TEST(String, ConcurrentCopiesOfSharedStrings)
{
    string shared("a text that every thread copies");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                string copy(shared);
                copy.append('x');
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(shared, "a text that every thread copies");
}

TEST(Regexp, FindsFirstMatchAndRejectsBadPatterns)
{
    Regexp re("[0-9]+");
    unsigned start = 99, length = 99;
    ASSERT_TRUE(re.find("abc 123 45", start, length));
    EXPECT_EQ(start, 4u);
    EXPECT_EQ(length, 3u);
    EXPECT_FALSE(Regexp("x*").find("", start, length)) << "never a match in an empty text";
    EXPECT_TRUE(Regexp(re).find("7", start, length));
    EXPECT_FALSE(Regexp().find("x", start, length));
    EXPECT_EQ(korrin::test::thrownText<Regexp::regexperror>([] { Regexp("a(b"); }),
              "1: invalid regular expression: 'a(b'");
}

TEST(Scanner, TokensSkipAndSearch)
{
    scanner s;
    EXPECT_EQ(s.addtoken("[a-z]+"), 1);
    EXPECT_EQ(s.addtoken("[0-9]+"), 2);
    s.setignore(" \t");
    s.assign("abc 42\tdef ?");
    string tok;
    EXPECT_EQ(s.token(tok), 1);
    EXPECT_EQ(tok, "abc");
    EXPECT_EQ(s.token(tok), 2);
    EXPECT_EQ(tok, "42");
    EXPECT_EQ(s.token(tok), 1);
    EXPECT_EQ(s.token(tok), -1) << "nothing matches at '?'";
    EXPECT_EQ(s.position(), 11u);
    s.setposition(12);
    EXPECT_EQ(s.token(tok), 0) << "end of text";

    scanner u(scanner::upcaseText);
    int kw = u.addtoken("BEGIN");
    u.assign("xx begin yy begin");
    EXPECT_EQ(u.search(kw), 3u);
    EXPECT_TRUE(u.skippast(kw));
    EXPECT_EQ(u.position(), 8u);
    EXPECT_TRUE(u.skipto(kw));
    EXPECT_EQ(u.position(), 12u);
    EXPECT_EQ(u.search(99), string::npos);
    u.reset();
    u.assign("begin");
    EXPECT_EQ(u.token(tok), -1) << "no patterns after a reset";
}

} // namespace
