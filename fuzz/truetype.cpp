// TrueType files from arbitrary bytes: a font loads or throws a font error; a
// loaded one has readable, consistent names and glyph locations; the Type 42
// conversion refuses before its first byte or writes the whole font.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/mman.h>
#include <unistd.h>

#include "convert/tt2ps.h"
#include "core/filename.h"
#include "truetype/truetype.h"
#include "xlat/xman.h"

namespace {

// For encodings 1 to 6, one translation table of format 3 (sorted codes, then
// their values, host byte order): one-byte codes kept, 8140 to 81FF to U+3000 on.
std::string writeTables()
{
    char folder[] = "/tmp/korrin-fuzz-tables-XXXXXX";
    if (!::mkdtemp(folder))
        std::abort();
    std::vector<std::uint16_t> codes, values;
    for (unsigned c = 0; c < 0x8200; c = c == 0xFF ? 0x8140 : c + 1) {
        codes.push_back(static_cast<std::uint16_t>(c));
        values.push_back(static_cast<std::uint16_t>(c < 256 ? c : 0x3000 + c - 0x8140));
    }
    const std::uint32_t m = static_cast<std::uint32_t>(codes.size());
    std::vector<unsigned char> table(8 + 4 * m);
    const std::uint16_t format = 3;
    std::memcpy(table.data(), &format, 2);
    std::memcpy(table.data() + 4, &m, 4);
    std::memcpy(table.data() + 8, codes.data(), 2 * m);
    std::memcpy(table.data() + 8 + 2 * m, values.data(), 2 * m);
    for (unsigned short encoding = 1; encoding <= 6; ++encoding) {
        korrin::XTableWriter writer{korrin::filename((std::string(folder) + "/" + std::to_string(encoding) + ".xlt").c_str())};
        writer.writeHeader(encoding, 1);
        writer.writeStringTable(nullptr);
        writer.writeTable(table.data(), static_cast<unsigned>(table.size()));
        writer.close();
    }
    return folder;
}

struct Tables {
    std::string folder = writeTables();
    korrin::XlatManager manager{folder.c_str()};
    ~Tables() { std::filesystem::remove_all(folder); }
};

// A stream that counts what is written to it and keeps none of it.
FILE* openNullSink(std::size_t* written)
{
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char*, std::size_t n) -> ssize_t {
        *static_cast<std::size_t*>(cookie) += n;
        return static_cast<ssize_t>(n);
    };
    return ::fopencookie(written, "w", io);
}

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

// The input's size picks long tables and the encoding, so that every input
// meets both settings as its length varies.
void convert(korrin::TrueTypeFont& font, std::size_t size)
{
    using namespace korrin;
    static Tables tables;
    static std::size_t written = 0;
    static FILE* sink = openNullSink(&written);
    if (!sink)
        std::abort();
    std::fflush(sink);
    written = 0;
    bool refused = false;
    try {
        Type42Conversion conversion(font, size & 2 ? 2 : 1, &tables.manager, (size & 1) != 0, nullptr);
        std::fflush(sink);
        if (written != 0)
            std::abort();
        conversion.write(sink);
    } catch (const TT2T42Error& e) {
        refused = true;
        if (std::strcmp(TT2T42Error::message(e.code), "invalid error number") == 0)
            std::abort();
    } catch (int) {
        refused = true;
    } catch (TrueTypeFont::TT_ERROR) {
        refused = true;
    }
    std::fflush(sink);
    if (refused && written != 0)
        std::abort(); // a refusal after output had begun
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The input as a file in memory that the loader maps through /proc.
    static const int fd = ::memfd_create("korrin-fuzz-font", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    static FILE* sink = std::fopen("/dev/null", "w");
    if (fd < 0 || !sink || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    try {
        korrin::TrueTypeFont font(path.c_str());
        walk(font, sink);
        convert(font, size);
    } catch (int code) {
        if (std::strcmp(korrin::TrueTypeFont::message(code), "invalid error number") == 0)
            std::abort();
    }
    return 0;
}
