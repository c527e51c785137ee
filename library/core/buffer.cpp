#include "core/buffer.h"

#include <cstdlib>
#include <cstring>

namespace korrin {

namespace {
unsigned char* allocate(unsigned size)
{
    auto* p = static_cast<unsigned char*>(std::malloc(size ? size : 1));
    if (!p)
        throw buffer::alloc{size};
    return p;
}
} // namespace

buffer::buffer(unsigned initial, unsigned increment, unsigned maximum)
    : data(nullptr), used(0), capacity(initial ? initial : 1), initial_(capacity),
      increment_(increment ? increment : (capacity + 1) / 2), maximum_(maximum < capacity ? capacity : maximum)
{
    data = allocate(capacity);
}

buffer::buffer(const buffer& o)
    : data(allocate(o.capacity)), used(o.used), capacity(o.capacity), initial_(o.initial_),
      increment_(o.increment_), maximum_(o.maximum_)
{
    std::memcpy(data, o.data, used);
}

buffer& buffer::assign(const buffer& o)
{
    if (this == &o)
        return *this;
    unsigned char* fresh = allocate(o.capacity);
    std::memcpy(fresh, o.data, o.used);
    std::free(data);
    data = fresh;
    used = o.used;
    capacity = o.capacity;
    initial_ = o.initial_;
    increment_ = o.increment_;
    maximum_ = o.maximum_;
    return *this;
}

buffer::~buffer() { std::free(data); }

void buffer::grow()
{
    unsigned long wanted = static_cast<unsigned long>(capacity) + increment_;
    if (wanted > maximum_)
        throw maxsizereached{maximum_};
    unsigned size = static_cast<unsigned>(wanted);
    unsigned char* fresh = allocate(size);
    std::memcpy(fresh, data, capacity);
    std::free(data);
    data = fresh;
    capacity = size;
}

void buffer::append(unsigned char byte)
{
    if (used + 1 > capacity)
        grow();
    data[used++] = byte;
}

void buffer::append(const void* bytes, std::size_t n)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    while (n) {
        if (used == capacity)
            grow();
        std::size_t room = capacity - used;
        std::size_t take = n < room ? n : room;
        std::memcpy(data + used, p, take);
        used += static_cast<unsigned>(take);
        p += take;
        n -= take;
    }
}

unsigned char buffer::operator[](unsigned i) const
{
    if (i >= used)
        throw rangecheck{i, used};
    return data[i];
}

void buffer::reset()
{
    unsigned char* fresh = allocate(initial_);
    std::free(data);
    data = fresh;
    capacity = initial_;
    used = 0;
}

} // namespace korrin
