// Translation-table files from arbitrary bytes: reading the descriptor and
// then the table must never read outside the file, and a table that loads
// must answer lookups for any code.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "xlat/xman.h"

namespace {

// One scratch file for the whole run, removed at exit.
const std::string& scratchFile()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/korrin-fuzz-xlat-XXXXXX";
        if (!::mkdtemp(dir.data()))
            std::abort();
        static std::string cleanupDir = dir;
        std::atexit([] {
            std::remove((cleanupDir + "/table").c_str());
            ::rmdir(cleanupDir.c_str());
        });
        return dir + "/table";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korrin;
    const std::string& path = scratchFile();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();

    std::unique_ptr<XlatDescRecord> desc = ReadXlatDescRecord(filename(path.c_str()));
    if (!desc)
        return 0;
    for (unsigned n = 0; n <= 4; ++n)
        XlatManager::GetDefaultString(desc.get(), static_cast<int>(n));
    XlatTablePtr table(ReadXlatTable(*desc));
    if (!table)
        return 0;
    if (desc->format > 4)
        std::abort(); // only known formats load
    const unsigned probes[] = {0, 0x41, 0xFF, 0x100, 0x8140, 0xFFFF, 0x10000, 0x8EA1A4A1, 0xFFFFFFFF};
    for (unsigned code : probes)
        xlat(table.get(), code);
    return 0;
}
