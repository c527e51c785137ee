// Shared handles on open files, a 64 KiB read buffer over one, and a line
// reader. A file keeps separate read and write positions and seeks before
// each transfer when needed, so one descriptor serves both, and every handle
// that shares a representation shares both positions.
#pragma once

#include <atomic>

#include "core/filename.h"
#include "core/string.h"

namespace korrin {

class file;

struct FileRep {
    std::atomic<int> count;
    filename name;
    int descriptor; // -1 when not open
    int mode;
    long readpos;
    long writepos;
};

class file {
public:
    enum fileaccess { readOnly = 0, readWrite = 1, writeOnly = 2 };

    struct fileerror {
        int code;
        string message;
    };

    file();
    file(const filename& name, fileaccess mode);
    file(const file& o);
    file& operator=(const file& o) { return assign(o); }
    virtual ~file();

    file& assign(const file& o);
    file& assign(const filename& name, fileaccess mode);
    file& assign(const char* name, fileaccess mode) { return assign(filename(name), mode); }

    // True when both handles share one representation.
    virtual bool compare(const file& other) const { return rep_ == other.rep_; }

    filename name() const;
    long length() const;
    long readpos() const;
    long writepos() const;
    void setreadpos(long n);
    void setwritepos(long n);
    bool eof() const;
    bool isopen() const { return rep_->descriptor != -1; }
    void truncate(long n);
    void setmode(unsigned bits);
    // Drops this handle's share; the descriptor closes with the last one.
    void close();

    // Transfer up to n bytes at the read (write) position and advance it by
    // the count, which is returned; 0 at the end of the file.
    long blockread(void* buf, long n);
    long blockwrite(const void* buf, long n);

    // The descriptor, for callers that need the system's view (mmap, fstat).
    int descriptor() const;

private:
    static FileRep* dummyFile();
    void requireOpen() const;
    void attach(FileRep* rep);

    FileRep* rep_;
};

// A 64 KiB read buffer over a file.
class reader {
public:
    static constexpr unsigned bufferSize = 65536;

    reader();
    reader(const filename& name);
    reader(const char* name);
    reader(const file& f);
    reader(const reader& o);
    reader& operator=(const reader& o) { return assign(o); }
    virtual ~reader();

    reader& assign(const filename& name);
    reader& assign(const char* name) { return assign(filename(name)); }
    reader& assign(const file& f);
    reader& assign(const reader& o);
    void close();

    // The next byte, or -1 at the end of the file; consume advances past it.
    int nextchar(bool consume = true);
    unsigned long consumed() const { return consumed_; }
    bool isopen() const { return file_.isopen(); }
    const file& getfile() const { return file_; }

protected:
    file file_;

private:
    unsigned index_ = 0;
    unsigned valid_ = 0;
    unsigned long consumed_ = 0;
    unsigned char* buffer_;
};

class linereader : public reader {
public:
    using reader::reader;
    linereader& operator=(const linereader& o)
    {
        reader::assign(o);
        lines_ = 0;
        return *this;
    }

    void close();
    // The next line without its terminator (LF, CR or CR LF). A byte 0 is
    // given as 2. At the end of the file, the text that is left (maybe none).
    string readline();
    // True when no byte is left to read.
    bool atend() { return nextchar(false) == -1; }
    unsigned lines() const { return lines_; }

private:
    unsigned lines_ = 0;
};

} // namespace korrin
