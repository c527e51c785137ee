// The download filters on arbitrary bytes. BinaryToAscii must end (or fail
// with code 1) on any input; Ascii85Encoder's text must decode back to its
// input and keep its line layout.
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
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n')
            continue;
        if (c == '~')
            break;
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
    if (digits > 0) {
        for (int d = digits; d < 5; ++d)
            group = group * 85 + 84;
        for (int k = 0, s = 24; k < digits - 1; ++k, s -= 8)
            out.push_back(static_cast<char>((group >> s) & 0xFF));
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // PFB: a truncated binary segment yields FF digits for every missing
    // byte, so the reading is capped well above any real output.
    {
        MemoryReader m(data, static_cast<unsigned>(size));
        BinaryToAscii f(&m);
        try {
            for (std::size_t n = 0; n < 4 * size + 4096 && f.read() != -1; ++n) {
            }
        } catch (const BasicDataStream::error& e) {
            if (e.code != 1)
                std::abort();
        }
    }
    // ASCII85: a round trip, lines of at most 64 characters before the end marker.
    {
        MemoryReader m(data, static_cast<unsigned>(size));
        Ascii85Encoder e(&m);
        std::string text;
        int column = 0;
        for (;;) {
            // Now and then a peek first: it must show what read() gives.
            int peeked = text.size() % 7 == 3 ? e.peek() : -2;
            int c = e.read();
            if (peeked != -2 && peeked != c)
                std::abort();
            if (c == -1)
                break;
            text.push_back(static_cast<char>(c));
            column = c == '\n' ? 0 : column + 1;
            // The end marker ~> may follow a full line's last character.
            if (column > 64 && c != '~' && c != '>')
                std::abort();
        }
        std::string back;
        if (!decodeAscii85(text, back) || back != std::string(reinterpret_cast<const char*>(data), size))
            std::abort();
    }
    return 0;
}
