#include "tablepath.h"

#include <sys/stat.h>

namespace korrin::cli {

std::string defaultTablePath()
{
    const char* built = KORRIN_BUILD_SHARE_DIR "/tables";
    struct stat st;
    if (::stat(built, &st) == 0 && S_ISDIR(st.st_mode))
        return built;
    return KORRIN_INSTALL_SHARE_DIR "/tables";
}

void addTablesOption(CLI::App& sub, std::string& path)
{
    path = defaultTablePath();
    sub.add_option("--tables", path, "Translation-table directories, separated by \":\"")
        ->type_name("DIR")
        ->capture_default_str();
}

} // namespace korrin::cli
