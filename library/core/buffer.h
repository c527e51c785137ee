// A growable byte array with a hard size limit. It grows linearly by a fixed
// increment, never past its maximum. Callers read data, used and capacity
// directly; a flushing writer sets used back to 0.
#pragma once

#include <cstddef>

namespace korrin {

class buffer {
public:
    struct rangecheck {
        unsigned index;
        unsigned used;
    };
    struct maxsizereached {
        unsigned maximum;
    };
    struct alloc {
        unsigned size;
    };

    buffer(unsigned initial, unsigned increment, unsigned maximum);
    buffer(const buffer& o);
    buffer& operator=(const buffer& o) { return assign(o); }
    virtual ~buffer();

    buffer& assign(const buffer& o);

    // Throws maxsizereached, with the buffer unchanged, when the byte does not
    // fit below the maximum.
    void append(unsigned char byte);
    // As many single appends: the bytes that fit stay appended when one does not.
    void append(const void* bytes, std::size_t n);
    unsigned char operator[](unsigned i) const;
    // Frees the storage and starts again with the initial capacity, empty.
    void reset();

    unsigned increment() const { return increment_; }
    unsigned maximum() const { return maximum_; }

    unsigned char* data;
    unsigned used;
    unsigned capacity;

private:
    void grow();

    unsigned initial_;
    unsigned increment_;
    unsigned maximum_;
};

} // namespace korrin
