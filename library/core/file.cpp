#include "core/file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korrin {

namespace {
[[noreturn]] void systemError(int err) { throw file::fileerror{2, string(std::strerror(err))}; }

void release(FileRep* rep)
{
    if (rep->count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        if (rep->descriptor != -1)
            ::close(rep->descriptor);
        delete rep;
    }
}

FileRep* retain(FileRep* rep)
{
    rep->count.fetch_add(1, std::memory_order_relaxed);
    return rep;
}
} // namespace

FileRep* file::dummyFile()
{
    // Never open, never freed: the process keeps the first reference.
    static FileRep* const rep = new FileRep{{1}, filename(), -1, readOnly, 0, 0};
    return rep;
}

file::file() : rep_(retain(dummyFile())) {}

file::file(const filename& name, fileaccess mode) : rep_(retain(dummyFile())) { assign(name, mode); }

file::file(const file& o) : rep_(retain(o.rep_)) {}

file::~file() { release(rep_); }

void file::attach(FileRep* rep)
{
    FileRep* old = rep_;
    rep_ = rep;
    release(old);
}

file& file::assign(const file& o)
{
    if (rep_ != o.rep_)
        attach(retain(o.rep_));
    return *this;
}

file& file::assign(const filename& name, fileaccess mode)
{
    // Whatever happens below, this handle no longer holds the old file.
    attach(retain(dummyFile()));
    int flags;
    switch (mode) {
    case readOnly: flags = O_RDONLY; break;
    case readWrite: flags = O_RDWR | O_CREAT; break;
    case writeOnly: flags = O_WRONLY | O_CREAT; break;
    default: throw fileerror{1, "Unknown file mode"};
    }
    int fd;
    do
        fd = ::open(name.full().c_str(), flags | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        systemError(errno);
    attach(new FileRep{{1}, name, fd, mode, 0, 0});
    return *this;
}

void file::requireOpen() const
{
    if (rep_->descriptor == -1)
        throw fileerror{3, "File is not initialized"};
}

filename file::name() const
{
    requireOpen();
    return rep_->name;
}

int file::descriptor() const
{
    requireOpen();
    return rep_->descriptor;
}

long file::length() const
{
    requireOpen();
    struct stat st;
    if (::fstat(rep_->descriptor, &st) != 0)
        systemError(errno);
    return static_cast<long>(st.st_size);
}

long file::readpos() const
{
    requireOpen();
    return rep_->readpos;
}

long file::writepos() const
{
    requireOpen();
    return rep_->writepos;
}

void file::setreadpos(long n)
{
    requireOpen();
    rep_->readpos = n;
}

void file::setwritepos(long n)
{
    requireOpen();
    rep_->writepos = n;
}

bool file::eof() const { return readpos() >= length(); }

void file::truncate(long n)
{
    requireOpen();
    if (::ftruncate(rep_->descriptor, n) != 0)
        systemError(errno);
}

void file::setmode(unsigned bits)
{
    requireOpen();
    if (::fchmod(rep_->descriptor, bits) != 0)
        systemError(errno);
}

void file::close()
{
    requireOpen();
    attach(retain(dummyFile()));
}

namespace {
// Puts the descriptor at pos unless it is there already.
void seekTo(int fd, long pos)
{
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0)
        systemError(errno);
    if (at != pos && ::lseek(fd, pos, SEEK_SET) < 0)
        systemError(errno);
}
} // namespace

long file::blockread(void* buf, long n)
{
    requireOpen();
    if (rep_->mode == writeOnly)
        throw fileerror{4, "Attempting to read from a write-only file"};
    seekTo(rep_->descriptor, rep_->readpos);
    ssize_t got;
    do
        got = ::read(rep_->descriptor, buf, static_cast<size_t>(n));
    while (got < 0 && errno == EINTR);
    if (got < 0)
        systemError(errno);
    rep_->readpos += got;
    return got;
}

long file::blockwrite(const void* buf, long n)
{
    requireOpen();
    if (rep_->mode == readOnly)
        throw fileerror{4, "Attempting to write to a read-only file"};
    seekTo(rep_->descriptor, rep_->writepos);
    ssize_t put;
    do
        put = ::write(rep_->descriptor, buf, static_cast<size_t>(n));
    while (put < 0 && errno == EINTR);
    if (put < 0)
        systemError(errno);
    rep_->writepos += put;
    return put;
}

// --- reader ----------------------------------------------------------------

namespace {
unsigned char* newReadBuffer()
{
    auto* p = static_cast<unsigned char*>(std::malloc(reader::bufferSize));
    if (!p)
        throw file::fileerror{5, "Not enough memory for the reader buffer"};
    return p;
}
} // namespace

reader::reader() : buffer_(newReadBuffer()) {}

reader::reader(const filename& name) : buffer_(newReadBuffer())
{
    try {
        file_.assign(name, file::readOnly);
    } catch (...) {
        std::free(buffer_);
        throw;
    }
}

reader::reader(const char* name) : reader(filename(name)) {}

reader::reader(const file& f) : file_(f), buffer_(newReadBuffer()) {}

reader::reader(const reader& o) : buffer_(newReadBuffer())
{
    if (!o.isopen())
        return;
    try {
        file_.assign(o.file_.name(), file::readOnly);
    } catch (...) {
        std::free(buffer_);
        throw;
    }
}

reader::~reader() { std::free(buffer_); }

reader& reader::assign(const filename& name)
{
    if (isopen())
        close();
    index_ = valid_ = 0;
    consumed_ = 0;
    file_.assign(name, file::readOnly);
    return *this;
}

reader& reader::assign(const file& f)
{
    filename name = f.name();
    return assign(name);
}

reader& reader::assign(const reader& o)
{
    if (this == &o)
        return *this;
    filename name = o.file_.name();
    return assign(name);
}

void reader::close()
{
    file_.close();
    index_ = valid_ = 0;
    consumed_ = 0;
}

int reader::nextchar(bool consume)
{
    if (index_ == valid_) {
        valid_ = static_cast<unsigned>(file_.blockread(buffer_, bufferSize));
        index_ = 0;
    }
    if (valid_ == 0)
        return -1;
    if (!consume)
        return buffer_[index_];
    ++consumed_;
    return buffer_[index_++];
}

// --- linereader ------------------------------------------------------------

void linereader::close()
{
    reader::close();
    lines_ = 0;
}

string linereader::readline()
{
    // Lines are gathered in 1 KiB chunks so that a long line costs a few
    // appends, not one per character.
    char chunk[1024];
    unsigned used = 0;
    string line;
    for (;;) {
        int c = nextchar(true);
        if (c == -1)
            break;
        if (c == '\n') {
            ++lines_;
            break;
        }
        if (c == '\r') {
            if (nextchar(false) == '\n')
                nextchar(true);
            ++lines_;
            break;
        }
        if (used == sizeof chunk) {
            line.append(string(used, chunk));
            used = 0;
        }
        chunk[used++] = c == 0 ? 2 : static_cast<char>(c);
    }
    if (used)
        line.append(string(used, chunk));
    return line;
}

} // namespace korrin
