#include "support/tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace korrin::test {

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "korrin-test-XXXXXX").string())
{
    if (!::mkdtemp(path_.data()))
        throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::string TempDir::write(const std::string& name, const std::string& bytes) const
{
    std::string p = file(name);
    if (!(std::ofstream(p, std::ios::binary) << bytes))
        throw std::runtime_error("cannot write " + p);
    return p;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int OpenDescriptors()
{
    std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

} // namespace korrin::test
