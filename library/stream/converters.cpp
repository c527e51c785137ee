#include "stream/converters.h"

#include <string>

#include "core/list.h"

namespace korrin {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";
constexpr int hexLineDigits = 64;
constexpr int ascii85LineLength = 64;
constexpr long lineBlockSize = 4096;

[[noreturn]] void pfbFormatError()
{
    throw BasicDataStream::error{1, "PFB format error."};
}

} // namespace

// --- BinaryToAscii ----------------------------------------------------------

void BinaryToAscii::setupseg()
{
    if (source_->read() != 0x80)
        pfbFormatError();
    switch (source_->read()) {
    case 1: state_ = text; break;
    case 2: state_ = highDigit; break;
    case 3: state_ = ended; break;
    default: pfbFormatError();
    }
    remaining_ = 0;
    if (state_ == ended)
        return;
    unsigned length = 0;
    for (int shift = 0; shift < 32; shift += 8)
        length |= static_cast<unsigned>(source_->read() & 0xFF) << shift;
    // A length beyond what an int holds cannot be a real segment either.
    if (length == 0 || length > 0x7FFFFFFFu || source_->peek() == -1)
        pfbFormatError();
    remaining_ = static_cast<int>(length);
}

int BinaryToAscii::read()
{
    if (state_ == start || ((state_ == text || state_ == highDigit) && remaining_ == 0))
        setupseg();
    switch (state_) {
    case text:
        --remaining_;
        return source_->read();
    case highDigit:
        --remaining_;
        // A source that ends inside the segment gives -1, which shows as FF.
        byte_ = static_cast<unsigned char>(source_->read());
        state_ = lowDigit;
        return hexDigits[byte_ >> 4];
    case lowDigit:
        column_ += 2;
        state_ = (column_ == hexLineDigits || remaining_ == 0) ? lineBreak : highDigit;
        return hexDigits[byte_ & 0x0F];
    case lineBreak:
        column_ = 0;
        state_ = highDigit;
        return '\n';
    default:
        return -1;
    }
}

int BinaryToAscii::peek()
{
    throw BasicDataStream::error{2, "peek() is not implemented."};
}

// --- Ascii85Encoder ---------------------------------------------------------

void Ascii85Encoder::nextGroup()
{
    int bytes = 0;
    group_ = 0; // missing bytes count as zero
    // All four reads are made even after the source has ended.
    for (int i = 0; i < 4; ++i) {
        int c = source_->read();
        if (c == -1)
            continue;
        ++bytes;
        group_ |= static_cast<unsigned>(c) << (24 - 8 * i);
    }
    cursor_ = 0;
    if (bytes == 0) {
        output_[0] = '~';
        output_[1] = '>';
        output_[2] = '\n';
        count_ = 3;
        state_ = endMarker;
        return;
    }
    state_ = handingOut;
    if (bytes == 4 && group_ == 0) {
        output_[0] = 'z';
        count_ = 1;
        return;
    }
    unsigned v = group_;
    for (int i = 4; i >= 0; --i) {
        output_[i] = static_cast<unsigned char>(v % 85 + '!');
        v /= 85;
    }
    count_ = bytes + 1;
}

int Ascii85Encoder::readprim(bool consume)
{
    if (state_ == groupNeeded)
        nextGroup();
    KORRIN_REQUIRE(cursor_ >= 0 && cursor_ <= 5);
    switch (state_) {
    case handingOut: {
        int c = output_[cursor_];
        if (consume) {
            ++cursor_;
            ++column_;
            if (column_ == ascii85LineLength)
                state_ = lineBreak;
            else if (cursor_ == count_)
                state_ = groupNeeded;
        }
        return c;
    }
    case lineBreak:
        if (consume) {
            column_ = 0;
            state_ = cursor_ != count_ ? handingOut : groupNeeded;
        }
        return '\n';
    case endMarker: {
        int c = output_[cursor_];
        if (consume && ++cursor_ == count_)
            state_ = ended;
        return c;
    }
    default:
        return -1;
    }
}

// --- LineReader -------------------------------------------------------------

LineReader::LineReader(file& f) : file_(f), block_(new unsigned char[lineBlockSize])
{
    fill();
}

bool LineReader::fill()
{
    position_ = 0;
    valid_ = file_.blockread(block_.get(), lineBlockSize);
    return valid_ > 0;
}

int LineReader::nextchar()
{
    if (position_ == valid_ && !fill())
        return -1;
    return block_[position_++];
}

int LineReader::peek()
{
    if (position_ == valid_ && !fill())
        return -1;
    return block_[position_];
}

string LineReader::readline()
{
    std::string line;
    for (;;) {
        int c = nextchar();
        if (c == -1) {
            eof_ = true;
            break;
        }
        if (c == '\n' || c == '\r') {
            if (c == '\r' && peek() == '\n')
                nextchar();
            ++line_;
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    return string(std::string_view(line));
}

} // namespace korrin
