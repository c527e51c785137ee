#include <gtest/gtest.h>

#include "core/regexp.h"
#include "core/scanner.h"
#include "support/thrown.h"

using korrin::Regexp;
using korrin::scanner;
using korrin::string;

namespace {

TEST(Regexp, FindsFirstMatchAndRejectsBadPatterns)
{
    Regexp re("[0-9]+");
    unsigned start = 99, length = 99;
    ASSERT_TRUE(re.find("abc 123 45", start, length));
    EXPECT_EQ(start, 4u);
    EXPECT_EQ(length, 3u);
    EXPECT_FALSE(re.find("", start, length));
    EXPECT_FALSE(re.find("none", start, length));
    EXPECT_TRUE(Regexp(re).find("7", start, length));
    EXPECT_FALSE(Regexp().find("x", start, length));
    EXPECT_EQ(korrin::test::thrownText<Regexp::regexperror>([] { Regexp("a(b"); }),
              "1: invalid regular expression: 'a(b'");
}

TEST(Scanner, TokensInOrder)
{
    scanner s;
    int word = s.addtoken("[a-z]+");
    int number = s.addtoken("[0-9]+");
    EXPECT_EQ(word, 1);
    EXPECT_EQ(number, 2);
    s.setignore(" \t");
    s.assign("abc 42\tdef ?");
    string tok;
    EXPECT_EQ(s.token(tok), word);
    EXPECT_EQ(tok, "abc");
    EXPECT_EQ(s.token(tok), number);
    EXPECT_EQ(tok, "42");
    EXPECT_EQ(s.token(tok), word);
    EXPECT_EQ(s.token(tok), -1) << "nothing matches at '?'";
    EXPECT_EQ(s.position(), 11u);
    s.setposition(12);
    EXPECT_EQ(s.token(tok), 0) << "end of text";
}

TEST(Scanner, SkipAndSearch)
{
    scanner s(scanner::upcaseText);
    int kw = s.addtoken("BEGIN");
    s.assign("xx begin yy begin");
    EXPECT_EQ(s.search(kw), 3u);
    EXPECT_TRUE(s.skippast(kw));
    EXPECT_EQ(s.position(), 8u);
    EXPECT_TRUE(s.skipto(kw));
    EXPECT_EQ(s.position(), 12u);
    EXPECT_EQ(s.search(99), string::npos);
    s.reset();
    string tok;
    EXPECT_EQ(s.token(tok), 0);
}

} // namespace
