#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "convert/hformat.h"

namespace {

// The writer as a reader of its contract would write it: a 64-character line
// buffer filled one byte at a time.
class NaiveHex {
public:
    void blockwrite(const unsigned char* p, long n)
    {
        if (n + count_ > 65534) {
            flush();
            out += "00\n>\n<\n";
            count_ = 0;
        }
        static const char* digits = "0123456789ABCDEF";
        for (long i = 0; i < n; ++i) {
            line_ += digits[p[i] >> 4];
            line_ += digits[p[i] & 15];
            if (line_.size() == 64) {
                out += line_ + "\n";
                line_.clear();
            }
        }
        count_ += n;
    }
    void flush()
    {
        out += line_;
        line_.clear();
    }
    std::string out;

private:
    std::string line_;
    long count_ = 0;
};

// Runs `body` with a HexFormatter2 on a memory stream and returns the text.
template <class Body>
std::string written(Body body)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    {
        korrin::HexFormatter2 hex(f);
        body(hex);
    }
    std::fclose(f);
    std::string s(data, size);
    std::free(data);
    return s;
}

TEST(HexFormatter2, LinesOf64UpperCaseDigits)
{
    std::vector<unsigned char> bytes(40);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(0xF0 + i);
    std::string out = written([&](auto& hex) { hex.blockwrite(bytes.data(), 40); });
    ASSERT_EQ(out.size(), 80u + 1u) << "one line break, after the first full line";
    EXPECT_EQ(out.substr(0, 6), "F0F1F2");
    EXPECT_EQ(out[64], '\n');
    EXPECT_EQ(out.substr(65), "1011121314151617") << "wraps past 0xFF; no break after a partial line";
}

TEST(HexFormatter2, StringsCloseBeforeABlockThatWouldOverflow)
{
    std::vector<unsigned char> block(40000, 0xAB);
    std::string out = written([&](auto& hex) {
        hex.blockwrite(block.data(), 40000);
        EXPECT_EQ(hex.stringBytes(), 40000);
        hex.blockwrite(block.data(), 25534); // exactly 65534: stays
        EXPECT_EQ(hex.stringBytes(), 65534);
        hex.blockwrite(block.data(), 1); // one more: new string
        EXPECT_EQ(hex.stringBytes(), 1);
    });
    size_t close = out.find("00\n>\n<\n");
    ASSERT_NE(close, std::string::npos);
    EXPECT_EQ(out.find("00\n>\n<\n", close + 1), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 2), "AB");
}

TEST(HexFormatter2, OversizedBlockClosesEvenAnEmptyString)
{
    std::vector<unsigned char> block(70000, 1);
    std::string out = written([&](auto& hex) { hex.blockwrite(block.data(), 70000); });
    EXPECT_EQ(out.substr(0, 7), "00\n>\n<\n");
    EXPECT_EQ(out.size(), 7 + 140000 + 140000 / 64);
}

TEST(HexFormatter2, MatchesALineBufferWriterOnRandomBlocks)
{
    std::mt19937 rng(42);
    std::vector<unsigned char> data(200000);
    for (auto& b : data)
        b = static_cast<unsigned char>(rng());
    NaiveHex naive;
    std::string out = written([&](auto& hex) {
        size_t at = 0;
        for (int i = 0; i < 400; ++i) {
            long n = static_cast<long>(rng() % (i % 50 == 0 ? 70000 : 700));
            size_t start = at % (data.size() - 70000);
            hex.blockwrite(data.data() + start, n);
            naive.blockwrite(data.data() + start, n);
            at += static_cast<size_t>(n) + 13;
            if (i % 37 == 0) {
                hex.flush();
                naive.flush();
            }
        }
    });
    naive.flush();
    EXPECT_EQ(out, naive.out);
}

TEST(HexFormatter, StreamWriterWritesTheSameText)
{
    std::vector<unsigned char> block(66000, 0x5A);
    std::ostringstream os;
    {
        korrin::HexFormatter hex(os);
        hex.blockwrite(block.data(), 100);
        hex.blockwrite(block.data(), 66000);
    }
    std::string viaFile = written([&](auto& hex) {
        hex.blockwrite(block.data(), 100);
        hex.blockwrite(block.data(), 66000);
    });
    EXPECT_EQ(os.str(), viaFile);
}

} // namespace
