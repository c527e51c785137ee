// The hexadecimal string writers: at the string size limit, and both against
// a plain line-buffer writer.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "convert/hformat.h"
#include "support/sfnt_builder.h"

namespace {

// A 64-character line buffer filled one byte at a time; a string closes
// before a block that would take it past 65534 bytes.
class NaiveHex {
public:
    void blockwrite(const unsigned char* p, long n)
    {
        if (n + count_ > 65534) {
            flush();
            out += "00\n>\n<\n";
            count_ = 0;
        }
        for (long i = 0; i < n; ++i) {
            line_ += "0123456789ABCDEF"[p[i] >> 4];
            line_ += "0123456789ABCDEF"[p[i] & 15];
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

// What body writes through a HexFormatter2.
template <class Body>
std::string hexOf(Body body)
{
    return korrin::test::written([&](std::FILE* f) {
        korrin::HexFormatter2 hex(f);
        body(hex);
    });
}

TEST(HexFormatter2, StringsCloseBeforeABlockThatWouldOverflow)
{
    std::vector<unsigned char> block(70000, 0xAB);
    const std::string out = hexOf([&](auto& hex) {
        hex.blockwrite(block.data(), 40000);
        hex.blockwrite(block.data(), 25534); // exactly 65534: stays
        EXPECT_EQ(hex.stringBytes(), 65534);
        hex.blockwrite(block.data(), 1); // one more: new string
        EXPECT_EQ(hex.stringBytes(), 1);
    });
    const size_t close = out.find("00\n>\n<\n");
    ASSERT_NE(close, std::string::npos);
    EXPECT_EQ(out.find("00\n>\n<\n", close + 1), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 2), "AB");

    const std::string oversized = hexOf([&](auto& hex) { hex.blockwrite(block.data(), 70000); });
    EXPECT_EQ(oversized.substr(0, 7), "00\n>\n<\n") << "a longer block closes even an empty string";
    EXPECT_EQ(oversized.size(), 7 + 140000 + 140000 / 64);
}

TEST(HexFormatter, BothWritersMatchALineBufferWriterOnRandomBlocks)
{
    std::mt19937 bytes(1);
    std::vector<unsigned char> data(200000);
    for (auto& b : data)
        b = static_cast<unsigned char>(bytes());
    // Mostly short blocks, now and then one longer than a string, and a
    // flush that ends a line where it stands.
    auto run = [&](auto& hex) {
        std::mt19937 rng(42);
        size_t at = 0;
        for (int i = 0; i < 400; ++i) {
            const long n = static_cast<long>(rng() % (i % 50 == 0 ? 70000 : 700));
            hex.blockwrite(data.data() + at % (data.size() - 70000), n);
            at += static_cast<size_t>(n) + 13;
            if (i % 37 == 0)
                hex.flush();
        }
    };
    NaiveHex naive;
    run(naive);
    naive.flush();
    std::ostringstream stream;
    {
        korrin::HexFormatter hex(stream);
        run(hex);
    }
    EXPECT_EQ(hexOf(run), naive.out);
    EXPECT_EQ(stream.str(), naive.out);
}

} // namespace
