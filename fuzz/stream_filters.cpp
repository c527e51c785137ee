// BinaryToAscii must end or fail with code 1 on any bytes; Ascii85Encoder's
// text must decode back to them, keep its lines, and peek what it then reads.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "stream/converters.h"
#include "stream/memoryreader.h"

namespace {

using namespace korrin;

// An independent ASCII85 decoder: groups of five digits or z, then ~>.
bool decodeAscii85(const std::string& text, std::string& out)
{
    std::uint64_t group = 0;
    int digits = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != '~'; ++i) {
        char c = text[i];
        if (c == '\n')
            continue;
        if (c == 'z' && digits == 0) {
            out.append(4, '\0');
            continue;
        }
        if (c < '!' || c > 'u')
            return false;
        group = group * 85 + static_cast<unsigned>(c - '!');
        if (++digits == 5) {
            if (group > 0xFFFFFFFFu)
                return false;
            for (int s = 24; s >= 0; s -= 8)
                out.push_back(static_cast<char>((group >> s) & 0xFF));
            group = 0;
            digits = 0;
        }
    }
    if (text.compare(i, std::string::npos, "~>\n") != 0 || digits == 1)
        return false;
    // A final group of n digits, padded with u, gives n - 1 bytes.
    for (int d = digits; d > 0 && d < 5; ++d)
        group = group * 85 + 84;
    for (int k = 0, s = 24; k < digits - 1; ++k, s -= 8)
        out.push_back(static_cast<char>((group >> s) & 0xFF));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A truncated binary segment gives FF for each missing byte: cap the reads.
    MemoryReader pfb(data, static_cast<unsigned>(size));
    BinaryToAscii b(&pfb);
    try {
        for (std::size_t n = 0; n < 4 * size + 4096 && b.read() != -1; ++n) {
        }
    } catch (const BasicDataStream::error& e) {
        if (e.code != 1)
            std::abort();
    }

    // Lines of at most 64 characters; the end marker ~> may follow a full one.
    MemoryReader bytes(data, static_cast<unsigned>(size));
    Ascii85Encoder e(&bytes);
    std::string text, back;
    for (int column = 0;;) {
        int peeked = text.size() % 7 == 3 ? e.peek() : -2;
        int c = e.read();
        if (peeked != -2 && peeked != c)
            std::abort();
        if (c == -1)
            break;
        text.push_back(static_cast<char>(c));
        column = c == '\n' ? 0 : column + 1;
        if (column > 64 && c != '~' && c != '>')
            std::abort();
    }
    if (!decodeAscii85(text, back) || back != std::string(reinterpret_cast<const char*>(data), size))
        std::abort();
    return 0;
}
