// Byte streams: the interfaces every reader, filter and printer connection
// implements, and the reader of local files. read() and peek() give a byte as
// 0 to 255, or -1 when the stream has nothing more; writers throw on failure.
#pragma once

#include "core/file.h"
#include "core/string.h"

namespace korrin {

class BasicDataStream {
public:
    // The one exception of every stream class. Codes are chosen per class.
    struct error {
        int code;
        string message;
    };

    virtual ~BasicDataStream() = default;
};

class RODataStream : public BasicDataStream {
public:
    virtual int read() = 0;
    virtual int peek() = 0;
};

class WODataStream : public BasicDataStream {
public:
    virtual void write(unsigned char byte) = 0;
    virtual void write(const unsigned char* data, unsigned length) = 0;
    // Starts a fresh exchange with the same destination.
    virtual void reopen() = 0;
};

// Both interfaces side by side; a read-write stream carries two
// BasicDataStream bases, one under each.
class RWDataStream : public RODataStream, public WODataStream {};

// A stream over a local file, read through the file's 64 KiB reader. A file
// error becomes code 4, "File error <code>: <message>".
class FileReader : public RODataStream, public reader {
public:
    FileReader() = default;
    explicit FileReader(const file& f) : reader(f) {}

    FileReader& close();
    FileReader& assign(const filename& name);
    FileReader& assign(const file& f);
    FileReader& assign(const FileReader& other);

    int read() override;
    int peek() override;
};

} // namespace korrin
