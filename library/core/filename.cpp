#include "core/filename.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace korrin {

string getpath(const string& s)
{
    unsigned slash = s.rfind('/');
    return slash == string::npos ? string() : s.substr(0, slash + 1);
}

string getfile(const string& s)
{
    if (s == "." || s == "..")
        return s;
    unsigned slash = s.rfind('/');
    unsigned start = slash == string::npos ? 0 : slash + 1;
    unsigned dot = s.rfind('.');
    if (dot == string::npos || (slash != string::npos && dot < slash))
        return s.substr(start);
    return s.substr(start, dot - start);
}

string getext(const string& s)
{
    if (s == "." || s == "..")
        return string();
    unsigned dot = s.rfind('.');
    unsigned slash = s.rfind('/');
    if (dot == string::npos || (slash != string::npos && slash > dot))
        return string();
    return s.substr(dot + 1);
}

filename& filename::assign(const string& s)
{
    path_ = getpath(s);
    file_ = getfile(s);
    ext_ = getext(s);
    return *this;
}

filename::filename(sname special)
{
    switch (special) {
    case currentDir: {
        char cwd[1024];
        if (::getcwd(cwd, sizeof cwd))
            path_ = string(cwd).append('/');
        break;
    }
    case tempDir: {
        const char* tmp = std::getenv("TMP");
        path_ = tmp ? tmp : "/tmp";
        break;
    }
    case tempName: {
        // A name nobody holds: made unique by mkstemp, then given up again,
        // as the classic temporary-name generators give out names.
        const char* tmp = std::getenv("TMP");
        std::string templ = std::string(tmp ? tmp : "/tmp") + "/korrinXXXXXX";
        int fd = ::mkstemp(templ.data());
        if (fd >= 0) {
            ::close(fd);
            ::unlink(templ.c_str());
        }
        assign(templ.c_str());
        break;
    }
    }
}

string filename::base() const
{
    if (ext_.empty())
        return file_;
    return file_ + "." + ext_;
}

string filename::full() const { return path_ + base(); }

string filename::canonical() const
{
    if (!path_.empty() && path_[0] == '/')
        return full();
    return filename(currentDir).path() + full();
}

void filename::setpath(const string& s)
{
    path_ = s;
    if (!s.empty() && s[s.length() - 1] != '/')
        path_.append('/');
}

void filename::setbase(const string& s)
{
    file_ = getfile(s);
    ext_ = getext(s);
}

bool filename::exists() const
{
    struct stat st;
    return ::stat(full().c_str(), &st) == 0;
}

filename::filetype filename::type() const
{
    struct stat st;
    string name = full();
    if (::stat(name.c_str(), &st) != 0)
        throw xfileaccess{name, errno};
    if (S_ISFIFO(st.st_mode))
        return fifo;
    if (S_ISCHR(st.st_mode))
        return chardevice;
    if (S_ISDIR(st.st_mode))
        return directory;
    if (S_ISBLK(st.st_mode))
        return blockdevice;
    if (S_ISREG(st.st_mode))
        return regular;
    return other;
}

void filename::remove() const
{
    string name = full();
    int rc = type() == directory ? ::rmdir(name.c_str()) : ::unlink(name.c_str());
    if (rc != 0)
        throw xfileaccess{name, errno};
}

void SplitColonSeparatedPath(const string& text, list<string>& out)
{
    KORRIN_REQUIRE(out.owns());
    const char* p = text.c_str();
    std::string scratch;
    scratch.reserve(text.length() + 1);
    bool quoted = false;
    for (unsigned i = 0; i < text.length(); ++i) {
        char c = p[i];
        if (c == '"') {
            if (i > 0 && p[i - 1] == '\\')
                scratch.back() = '"';
            else
                quoted = !quoted;
        } else if (c == ':' && !quoted) {
            out.append(string(std::string_view(scratch)));
            scratch.clear();
        } else {
            scratch.push_back(c);
        }
    }
    if (!scratch.empty())
        out.append(string(std::string_view(scratch)));
}

} // namespace korrin
