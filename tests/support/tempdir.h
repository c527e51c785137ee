// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <string>

namespace korrin::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const; // path() + "/" + name
    // Writes bytes to path()/name and returns the full path.
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

std::string readFile(const std::string& path);
// The number of open descriptors of this process.
int OpenDescriptors();

} // namespace korrin::test
