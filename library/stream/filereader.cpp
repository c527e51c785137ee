#include "stream/filereader.h"

namespace korrin {

namespace {

[[noreturn]] void rethrowAsStreamError(const file::fileerror& e)
{
    string message("File error ");
    message.append(string(static_cast<long>(e.code), 10, false));
    message.append(": ");
    message.append(e.message);
    throw BasicDataStream::error{4, message};
}

} // namespace

FileReader& FileReader::close()
{
    reader::close();
    return *this;
}

FileReader& FileReader::assign(const filename& name)
{
    reader::assign(name);
    return *this;
}

FileReader& FileReader::assign(const file& f)
{
    reader::assign(f);
    return *this;
}

FileReader& FileReader::assign(const FileReader& other)
{
    reader::assign(static_cast<const reader&>(other));
    return *this;
}

int FileReader::read()
{
    try {
        return nextchar(true);
    } catch (const file::fileerror& e) {
        rethrowAsStreamError(e);
    }
}

int FileReader::peek()
{
    try {
        return nextchar(false);
    } catch (const file::fileerror& e) {
        rethrowAsStreamError(e);
    }
}

} // namespace korrin
