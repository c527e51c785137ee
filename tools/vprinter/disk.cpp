#include "disk.h"

#include <cstdio>
#include <stdexcept>

namespace fs = std::filesystem;

namespace korrin::vprinter {

std::string ghostscriptResources(const std::string& program)
{
    FILE* p = ::popen((program + " --version 2>/dev/null").c_str(), "r");
    char version[64] = {};
    if (p) {
        if (!std::fgets(version, sizeof version, p))
            version[0] = 0;
        ::pclose(p);
    }
    std::string v(version);
    v.erase(v.find_last_not_of(" \n") + 1);
    for (const std::string& candidate : {"/usr/share/ghostscript/" + v + "/Resource", std::string("/usr/share/ghostscript/Resource")})
        if (!v.empty() && fs::is_directory(candidate + "/Init"))
            return candidate;
    throw std::runtime_error("cannot find Ghostscript's Resource folder; give it with --gs-resources");
}

void prepareResources(const fs::path& mine, const fs::path& ghostscripts)
{
    fs::create_directories(mine);
    for (const auto& category : fs::directory_iterator(ghostscripts)) {
        fs::path name = category.path().filename();
        fs::path here = mine / name;
        bool writable = name == "CMap" || name == "CIDFont" || name == "Font";
        if (!writable) {
            if (!fs::exists(fs::symlink_status(here)))
                fs::create_directory_symlink(category.path(), here);
            continue;
        }
        fs::create_directories(here);
        for (const auto& resource : fs::directory_iterator(category.path())) {
            fs::path link = here / resource.path().filename();
            if (!fs::exists(fs::symlink_status(link)))
                fs::create_symlink(resource.path(), link);
        }
    }
    for (const char* name : {"CMap", "CIDFont", "Font"})
        fs::create_directories(mine / name);
}

std::uintmax_t diskUsed(const fs::path& disk)
{
    std::uintmax_t used = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(disk, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            used += it->file_size(ec);
    return used;
}

} // namespace korrin::vprinter
