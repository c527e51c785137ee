// A path split into directory, name and extension, and the splitting of
// colon-separated directory lists.
#pragma once

#include "core/list.h"
#include "core/string.h"

namespace korrin {

class filename {
public:
    enum sname { currentDir = 0, tempDir = 1, tempName = 2 };
    enum filetype { fifo = 0, chardevice = 1, directory = 2, blockdevice = 3, regular = 4, other = -1 };

    // A failed file-system call on a name: the full path and errno.
    struct xfileaccess {
        string path;
        int error;
    };

    filename() = default;
    filename(const char* s) { assign(s); }
    filename(const string& s) { assign(s); }
    explicit filename(sname special);

    filename& assign(const char* s) { return assign(string(s)); }
    filename& assign(const string& s);
    filename& operator=(const char* s) { return assign(s); }
    filename& operator=(const string& s) { return assign(s); }

    string path() const { return path_; }
    string file() const { return file_; }
    string ext() const { return ext_; }
    // The name without directory: file, then "." and ext when there is one.
    string base() const;
    // path + base().
    string full() const;
    // full(), with the working directory in front when path is not absolute.
    string canonical() const;

    // Sets the directory, adding a final "/" to a non-empty one.
    void setpath(const string& s);
    void setbase(const string& s);
    void setfile(const string& s) { file_ = s; }
    void setext(const string& s) { ext_ = s; }

    bool exists() const;
    filetype type() const;
    // rmdir for a directory, unlink for anything else.
    void remove() const;

private:
    string path_;
    string file_;
    string ext_;
};

// The directory part including its final "/" (empty without one), the name
// without directory and extension, and the extension without its dot.
string getpath(const string& s);
string getfile(const string& s);
string getext(const string& s);

// Appends the directories of a colon-separated list to `out`, which must own
// its values. Double quotes protect colons; \" stands for a quote.
void SplitColonSeparatedPath(const string& text, list<string>& out);

} // namespace korrin
