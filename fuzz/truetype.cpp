// TrueType files from arbitrary bytes: loading must succeed or throw a font
// error, never read outside the file; a loaded font's names, glyph names and
// glyph locations must all be readable and consistent.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "truetype/truetype.h"

namespace {

// The input as a file the loader can map: an in-memory file reached
// through /proc, rewritten for every input.
struct InputFile {
    int fd = ::memfd_create("font", MFD_CLOEXEC);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    FILE* sink = std::fopen("/dev/null", "w");

    void write(const std::uint8_t* data, std::size_t size)
    {
        if (fd < 0 || !sink || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
            std::abort();
    }
};

void walk(const korrin::TrueTypeFont& font, FILE* sink)
{
    using namespace korrin;
    const NamingTable2& names = font.namingTable();
    for (const char* name : {names.postScriptName(), names.fullName(), names.uniqueID(), names.notice(),
                             names.version(), names.familyName()})
        if (!name || Latin1ToUtf8(name).size() < std::strlen(name))
            std::abort();
    names.dump(sink);

    std::uint32_t glyf = font.GetTableSize(TrueTypeTag("glyf"));
    for (int g = 0; g <= font.glyphCount(); ++g)
        if (font.glyphOffsets()[g] > glyf)
            std::abort();
    for (int t = 0; t < font.tableCount(); ++t) {
        const TableDirectoryEntry& e = font.directory()[t];
        if (!font.image().has(e.offset, e.length) || font.GetTableSize(e.tag) > font.fileSize())
            std::abort();
    }

    try {
        GlyphTable glyphs(font.GetTableData(TrueTypeTag("post")));
        for (int g = 0; g < font.glyphCount(); ++g)
            std::fputs(GetGlyphByNumber(glyphs, g), sink);
        if (glyphs.count() > 0) {
            std::string first = glyphs.name(0);
            int at = glyphs.Find(first.c_str());
            if (at < 0 || first != glyphs.name(at))
                std::abort();
        }
    } catch (int) {
    } catch (TrueTypeFont::TT_ERROR) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static InputFile input;
    input.write(data, size);
    try {
        korrin::TrueTypeFont font(input.path.c_str());
        walk(font, input.sink);
    } catch (int code) {
        if (std::strcmp(korrin::TrueTypeFont::message(code), "invalid error number") == 0)
            std::abort();
    }
    return 0;
}
