// Translation-table files from arbitrary bytes: the descriptor, the table and
// lookups of any code must stay inside what was read.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "xlat/xman.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korrin;
    // The input as a file in memory, reached by its /proc name.
    static const int fd = ::memfd_create("korrin-fuzz-xlat", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();

    std::unique_ptr<XlatDescRecord> desc = ReadXlatDescRecord(filename(path.c_str()));
    if (!desc)
        return 0;
    for (int n = 0; n <= 4; ++n)
        XlatManager::GetDefaultString(desc.get(), n);
    XlatTablePtr table(ReadXlatTable(*desc));
    if (!table)
        return 0;
    if (desc->format > 4)
        std::abort(); // only known formats load
    for (unsigned code : {0u, 0x41u, 0xFFu, 0x100u, 0x8140u, 0xFFFFu, 0x10000u, 0x8EA1A4A1u, 0xFFFFFFFFu})
        xlat(table.get(), code);
    return 0;
}
