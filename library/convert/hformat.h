// Writers of PostScript hexadecimal string data. Bytes become upper-case hex
// digits in lines of 64 characters; a string is closed ("00" then ">") and a
// new one opened ("<") before a block that would take the current string past
// 65534 data bytes, so every string holds at most 65535 bytes with its final
// zero byte, unless one block alone is longer. Blocks are never split.
#pragma once

#include <cstddef>
#include <cstdio>
#include <iosfwd>
#include <memory>

namespace korrin {

namespace detail {

// The encoding shared by both writers: hex text is gathered in a large
// staging area and handed to the sink in big writes, never per byte or line.
class HexEncoder {
public:
    static constexpr long maxStringBytes = 65534;
    static constexpr unsigned lineChars = 64;

    HexEncoder();
    virtual ~HexEncoder() = default;

    void blockwrite(const void* data, long length);
    // Closes the current string where it stands and opens the next one, as
    // blockwrite does before a block that would not fit.
    void closeString();
    // Ends the current line where it stands (no line break) and hands every
    // staged character to the sink.
    void flush();

    long stringBytes() const { return stringBytes_; }

protected:
    virtual void sinkWrite(const char* text, std::size_t n) = 0;

private:
    void stageText(const char* text, std::size_t n);
    void drain();

    static constexpr std::size_t stageSize = 1 << 16;
    std::unique_ptr<char[]> stage_;
    std::size_t staged_ = 0;
    unsigned column_ = 0; // characters in the current line
    long stringBytes_ = 0;
};

} // namespace detail

// Hex string data to a C stream; the Type 42 and CID writers use this one.
class HexFormatter2 : public detail::HexEncoder {
public:
    explicit HexFormatter2(std::FILE* out) : out_(out) {}
    ~HexFormatter2() override;
    HexFormatter2(const HexFormatter2&) = delete;
    HexFormatter2& operator=(const HexFormatter2&) = delete;

private:
    void sinkWrite(const char* text, std::size_t n) override;
    std::FILE* out_;
};

// The same writer for a C++ output stream.
class HexFormatter : public detail::HexEncoder {
public:
    explicit HexFormatter(std::ostream& out) : out_(out) {}
    ~HexFormatter() override;
    HexFormatter(const HexFormatter&) = delete;
    HexFormatter& operator=(const HexFormatter&) = delete;

private:
    void sinkWrite(const char* text, std::size_t n) override;
    std::ostream& out_;
};

} // namespace korrin
