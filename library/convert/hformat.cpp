#include "convert/hformat.h"

#include <array>
#include <cstring>
#include <ostream>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
constexpr std::size_t digitChunk = 2048; // bytes converted at a time

// n bytes to 2n digits. With SSE2, 16 bytes at a time become their 32
// digits in registers (each nibble plus '0', plus 7 more above 9, the two
// nibbles of a byte interleaved); the rest goes through the table.
inline char* hexDigits(const unsigned char* p, std::size_t n, char* o)
{
#if defined(__SSE2__)
    const __m128i low4 = _mm_set1_epi8(0x0F), nine = _mm_set1_epi8(9);
    const __m128i zero = _mm_set1_epi8('0'), letters = _mm_set1_epi8('A' - '0' - 10);
    for (; n >= 16; n -= 16, p += 16, o += 32) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low4);
        __m128i low = _mm_and_si128(bytes, low4);
        high = _mm_add_epi8(_mm_add_epi8(high, zero), _mm_and_si128(_mm_cmpgt_epi8(high, nine), letters));
        low = _mm_add_epi8(_mm_add_epi8(low, zero), _mm_and_si128(_mm_cmpgt_epi8(low, nine), letters));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(high, low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpackhi_epi8(high, low));
    }
#endif
    for (std::size_t i = 0; i < n; ++i, o += 2)
        std::memcpy(o, &hexPairs[2 * p[i]], 2);
    return o;
}

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
    // The digits of a whole chunk first, so that lines starting anywhere
    // cost the fast conversion nothing; then the chunk's lines.
    char digits[2 * digitChunk];
    while (left) {
        const std::size_t n = left < digitChunk ? left : digitChunk;
        hexDigits(p, n, digits);
        p += n;
        left -= n;
        for (const char *d = digits, *end = digits + 2 * n; d < end;) {
            if (stageSize - staged_ < lineChars + 1)
                drain();
            if (column_ == 0 && std::size_t(end - d) >= lineChars) { // a whole line, copied in one move
                std::memcpy(stage_.get() + staged_, d, lineChars);
                stage_[staged_ + lineChars] = '\n';
                staged_ += lineChars + 1;
                d += lineChars;
                continue;
            }
            std::size_t take = lineChars - column_;
            if (take > std::size_t(end - d))
                take = std::size_t(end - d);
            std::memcpy(stage_.get() + staged_, d, take);
            staged_ += take;
            d += take;
            column_ += static_cast<unsigned>(take);
            if (column_ == lineChars) {
                stage_[staged_++] = '\n';
                column_ = 0;
            }
        }
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
