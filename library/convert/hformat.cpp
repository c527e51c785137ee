#include "convert/hformat.h"

#include <array>
#include <cstring>
#include <ostream>

namespace korrin {

namespace {
// "000102...FEFF": the two digits of every byte value, looked up per byte.
constexpr std::array<char, 512> makeHexPairs()
{
    std::array<char, 512> t{};
    const char* digits = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
        t[2 * i] = digits[i >> 4];
        t[2 * i + 1] = digits[i & 15];
    }
    return t;
}
constexpr std::array<char, 512> hexPairs = makeHexPairs();

constexpr char closeAndOpen[] = "00\n>\n<\n";
} // namespace

namespace detail {

HexEncoder::HexEncoder() : stage_(new char[stageSize]) {}

void HexEncoder::drain()
{
    if (staged_) {
        sinkWrite(stage_.get(), staged_);
        staged_ = 0;
    }
}

void HexEncoder::stageText(const char* text, std::size_t n)
{
    if (staged_ + n > stageSize)
        drain();
    std::memcpy(stage_.get() + staged_, text, n);
    staged_ += n;
}

void HexEncoder::blockwrite(const void* data, long length)
{
    if (length < 0)
        length = 0;
    if (length + stringBytes_ > maxStringBytes)
        closeString();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::size_t left = static_cast<std::size_t>(length);
    while (left) {
        // One stretch at a time: the rest of the current line, then its break.
        if (stageSize - staged_ < 2 * lineChars + 1)
            drain();
        std::size_t n = (lineChars - column_) / 2;
        if (n > left)
            n = left;
        char* o = stage_.get() + staged_;
        for (std::size_t i = 0; i < n; ++i, o += 2)
            std::memcpy(o, &hexPairs[2 * p[i]], 2);
        p += n;
        left -= n;
        column_ += static_cast<unsigned>(2 * n);
        if (column_ == lineChars) {
            *o++ = '\n';
            column_ = 0;
        }
        staged_ = static_cast<std::size_t>(o - stage_.get());
    }
    stringBytes_ += length;
}

void HexEncoder::closeString()
{
    column_ = 0; // the line ends where it stands
    stageText(closeAndOpen, sizeof closeAndOpen - 1);
    stringBytes_ = 0;
}

void HexEncoder::flush()
{
    column_ = 0;
    drain();
}

} // namespace detail

HexFormatter2::~HexFormatter2() { flush(); }

void HexFormatter2::sinkWrite(const char* text, std::size_t n) { std::fwrite(text, 1, n, out_); }

HexFormatter::~HexFormatter() { flush(); }

void HexFormatter::sinkWrite(const char* text, std::size_t n) { out_.write(text, static_cast<std::streamsize>(n)); }

} // namespace korrin
