// A stream over a block of memory that belongs to someone else.
#pragma once

#include "stream/filereader.h"

namespace korrin {

class MemoryReader : public RODataStream {
public:
    MemoryReader() = default;
    // The block is not copied; the caller keeps it alive while it is read.
    MemoryReader(const unsigned char* data, unsigned length) { assign(data, length); }

    MemoryReader& assign(const unsigned char* data, unsigned length);
    MemoryReader& close();

    long length() const { return length_; }
    long pos() const { return position_; }
    bool eof() const { return position_ == length_; }
    // Clamped to 0..length; returns the new position.
    long setreadposition(long p);

    // Code 5 when no block is assigned, even an empty one.
    int read() override;
    int peek() override;

private:
    void requireData() const;

    const unsigned char* data_ = nullptr;
    long position_ = 0;
    long length_ = 0;
};

} // namespace korrin
