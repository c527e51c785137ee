// Filters that turn bytes into text a PostScript job can carry: a Type 1 font
// in the segmented binary (PFB) form into its ASCII form, and any bytes into
// ASCII85 for the ASCII85Decode filter. Both hand out one byte per read() and
// keep no more than one group of output characters. LineReader reads a file
// line by line.
#pragma once

#include <memory>

#include "core/file.h"
#include "core/string.h"
#include "stream/filereader.h"

namespace korrin {

// Text segments pass through unchanged; binary segments come out as lines of
// 64 upper-case hexadecimal digits, the last line of each segment shorter if
// need be, every line ended by a line feed. Damage is code 1, "PFB format
// error."; peek() is code 2.
class BinaryToAscii : public RODataStream {
public:
    // The source is not owned and must outlive the filter.
    explicit BinaryToAscii(RODataStream* source) : source_(source) {}

    int read() override;
    int peek() override;
    // Reads the next segment header: 0x80, the type, and for text and binary
    // segments a four-byte length, least significant byte first.
    void setupseg();

private:
    enum State { start = 0, text = 1, highDigit = 2, lowDigit = 3, ended = 4, lineBreak = 5 };

    RODataStream* source_;
    int state_ = start;
    unsigned char byte_ = 0;
    int remaining_ = 0;
    int column_ = 0;
};

// ASCII85 in lines of 64 characters, ended by "~>" and a line feed. A whole
// group of four zero bytes is "z".
class Ascii85Encoder : public RODataStream {
public:
    // The source is not owned and must outlive the filter.
    explicit Ascii85Encoder(RODataStream* source) : source_(source) {}

    int read() override { return readprim(true); }
    // In need of a group, peek() reads it from the source and keeps it.
    int peek() override { return readprim(false); }
    int readprim(bool consume);

private:
    enum State { groupNeeded = 0, handingOut = 1, lineBreak = 2, endMarker = 3, ended = 4 };
    void nextGroup();

    RODataStream* source_;
    unsigned group_ = 0;
    unsigned char output_[5] = {};
    int cursor_ = 0;
    int count_ = 0;
    int state_ = groupNeeded;
    int column_ = 0;
};

// Lines of a file, in blocks of 4096 bytes. A line ends at a line feed, a
// carriage return, or a carriage return and line feed; the terminator is not
// part of it. Every byte value is line data.
class LineReader {
public:
    // The file is not owned; construction reads the first block.
    explicit LineReader(file& f);

    int nextchar();
    int peek();
    string readline();
    bool eof() const { return eof_; }
    long line() const { return line_; }

private:
    bool fill();

    file& file_;
    std::unique_ptr<unsigned char[]> block_;
    long position_ = 0;
    long valid_ = 0;
    long line_ = 1;
    bool eof_ = false;
};

} // namespace korrin
