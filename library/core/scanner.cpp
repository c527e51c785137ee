#include "core/scanner.h"

#include <cstring>

namespace korrin {

int scanner::addtoken(const char* pattern)
{
    patterns_.emplace_back(pattern);
    return static_cast<int>(patterns_.size());
}

void scanner::assign(const char* text)
{
    text_ = text;
    if (flags_ & upcaseText)
        text_.upcase();
    else if (flags_ & lowcaseText)
        text_.lowcase();
    pos_ = 0;
}

void scanner::setignore(const char* chars) { ignore_ = chars; }

void scanner::skipIgnoredChars()
{
    if (!(flags_ & skipIgnored) || ignore_.empty())
        return;
    while (pos_ < text_.length() && std::strchr(ignore_.c_str(), text_.c_str()[pos_]))
        ++pos_;
}

bool scanner::findFrom(int n, unsigned& start, unsigned& length) const
{
    if (n < 1 || static_cast<size_t>(n) > patterns_.size() || pos_ >= text_.length())
        return false;
    if (!patterns_[n - 1].find(text_.c_str() + pos_, start, length))
        return false;
    start += pos_;
    return true;
}

int scanner::token(string& matched)
{
    skipIgnoredChars();
    if (pos_ >= text_.length())
        return 0;
    for (size_t i = 0; i < patterns_.size(); ++i) {
        unsigned start, length;
        // The leftmost match starts here exactly when the pattern matches here.
        if (findFrom(static_cast<int>(i + 1), start, length) && start == pos_ && length > 0) {
            matched = text_.substr(start, length);
            pos_ += length;
            return static_cast<int>(i + 1);
        }
    }
    return -1;
}

bool scanner::skipto(int n)
{
    unsigned start, length;
    if (!findFrom(n, start, length))
        return false;
    pos_ = start;
    return true;
}

bool scanner::skippast(int n)
{
    unsigned start, length;
    if (!findFrom(n, start, length))
        return false;
    pos_ = start + length;
    return true;
}

unsigned scanner::search(int n) const
{
    unsigned start, length;
    return findFrom(n, start, length) ? start : string::npos;
}

void scanner::reset()
{
    patterns_.clear();
    text_ = string();
    ignore_ = string();
    pos_ = 0;
}

} // namespace korrin
