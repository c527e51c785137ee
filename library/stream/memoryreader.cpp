#include "stream/memoryreader.h"

namespace korrin {

MemoryReader& MemoryReader::assign(const unsigned char* data, unsigned length)
{
    data_ = data;
    length_ = length;
    position_ = 0;
    return *this;
}

MemoryReader& MemoryReader::close()
{
    data_ = nullptr;
    position_ = 0;
    length_ = 0;
    return *this;
}

long MemoryReader::setreadposition(long p)
{
    position_ = p < 0 ? 0 : (p > length_ ? length_ : p);
    return position_;
}

void MemoryReader::requireData() const
{
    if (!data_)
        throw BasicDataStream::error{5, "MemoryReader attempts to read from NULL pointer"};
}

int MemoryReader::read()
{
    requireData();
    return position_ == length_ ? -1 : data_[position_++];
}

int MemoryReader::peek()
{
    requireData();
    return position_ == length_ ? -1 : data_[position_];
}

} // namespace korrin
