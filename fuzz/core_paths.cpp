// Search paths and file names from arbitrary bytes: splitting, decomposition
// and recomposition.
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
    // A name put back together is the name, but for a final dot (an empty extension).
    bool finalDot = !text.empty() && text[text.length() - 1] == '.';
    if (!finalDot && name.full() != text)
        std::abort();
    return 0;
}
