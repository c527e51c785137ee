// TrueType files from arbitrary bytes: loading must succeed or throw a font
// error, never read outside the file; a loaded font's names, glyph names and
// glyph locations must all be readable and consistent; and the whole Type 42
// conversion must either refuse the font before writing a byte or write it
// without failing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <sys/mman.h>
#include <unistd.h>

#include "convert/tt2ps.h"
#include "core/filename.h"
#include "truetype/truetype.h"
#include "xlat/xman.h"

namespace {

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

// Translation tables for the conversion, written once to a folder of their
// own: ISO 8859-1 for the Encoding, and one small table for each national
// encoding that a Microsoft cmap subtable can name (one-byte codes and the
// two-byte codes 8140 to 81FF).
struct Tables {
    std::unique_ptr<korrin::XlatManager> manager;

    Tables()
    {
        char folder[] = "/tmp/korrin-fuzz-tables-XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        std::vector<unsigned char> latin(4 + 512, 0);
        std::uint16_t* values = reinterpret_cast<std::uint16_t*>(latin.data() + 4);
        const std::uint16_t format4 = 4; // tables are written in host byte order
        std::memcpy(latin.data(), &format4, 2);
        for (unsigned c = 0; c < 256; ++c)
            values[c] = static_cast<std::uint16_t>(c);
        write(folder, "latin1.xlt", 1, latin);

        std::vector<std::uint16_t> keys, mapped;
        for (unsigned c = 0; c < 256; ++c) {
            keys.push_back(static_cast<std::uint16_t>(c));
            mapped.push_back(static_cast<std::uint16_t>(c));
        }
        for (unsigned c = 0x8140; c <= 0x81FF; ++c) {
            keys.push_back(static_cast<std::uint16_t>(c));
            mapped.push_back(static_cast<std::uint16_t>(0x3000 + c - 0x8140));
        }
        const std::uint32_t m = static_cast<std::uint32_t>(keys.size());
        std::vector<unsigned char> national(8 + 4 * m);
        const std::uint16_t format3 = 3;
        std::memcpy(national.data(), &format3, 2);
        std::memcpy(national.data() + 4, &m, 4);
        std::memcpy(national.data() + 8, keys.data(), 2 * m);
        std::memcpy(national.data() + 8 + 2 * m, mapped.data(), 2 * m);
        for (int encoding = 2; encoding <= 6; ++encoding)
            write(folder, "national" + std::to_string(encoding) + ".xlt", encoding, national);
        folder_ = folder;
        manager = std::make_unique<korrin::XlatManager>(folder);
    }
    ~Tables()
    {
        for (const char* name : {"latin1", "national2", "national3", "national4", "national5", "national6"})
            ::unlink((folder_ + "/" + name + ".xlt").c_str());
        ::rmdir(folder_.c_str());
    }

    static void write(const std::string& folder, const std::string& name, int from, const std::vector<unsigned char>& table)
    {
        korrin::XTableWriter writer{korrin::filename((folder + "/" + name).c_str())};
        writer.writeHeader(static_cast<unsigned short>(from), 1);
        writer.writeStringTable(nullptr);
        writer.writeTable(table.data(), static_cast<unsigned>(table.size()));
        writer.close();
    }

    std::string folder_;
};

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

// The conversion refuses before its first byte or writes the whole font.
// The input's size picks long tables and the Encoding's encoding, so that
// every input meets both settings as its length varies.
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
    const bool longTables = size & 1;
    const int encoding = size & 2 ? 2 : 1;
    bool refused = false;
    try {
        Type42Conversion conversion(font, encoding, tables.manager.get(), longTables, nullptr);
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
    static InputFile input;
    input.write(data, size);
    try {
        korrin::TrueTypeFont font(input.path.c_str());
        walk(font, input.sink);
        convert(font, size);
    } catch (int code) {
        if (std::strcmp(korrin::TrueTypeFont::message(code), "invalid error number") == 0)
            std::abort();
    }
    return 0;
}
