// Search paths and file names from arbitrary bytes: splitting, decomposition
// and recomposition must hold for any text.
#include <cstdint>
#include <cstdlib>

#include "core/filename.h"
#include "core/string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korrin;
    string text(static_cast<unsigned>(size), data);
    list<string> parts(true);
    SplitColonSeparatedPath(text, parts);
    for (const string& p : parts)
        if (p.length() > text.length())
            std::abort();
    filename name(text);
    // Decomposing a name and putting it back together gives the name again,
    // except that a final dot (an empty extension) is dropped.
    bool finalDot = !text.empty() && text[text.length() - 1] == '.';
    if (!finalDot && name.full() != text)
        std::abort();
    return 0;
}
