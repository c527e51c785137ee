// A token scanner: numbered patterns matched at a moving position in a text.
#pragma once

#include <vector>

#include "core/regexp.h"
#include "core/string.h"

namespace korrin {

class scanner {
public:
    enum flag : unsigned {
        skipIgnored = 1, // skip ignored characters before each token
        upcaseText = 2,  // upper-case the text when it is assigned
        lowcaseText = 4, // lower-case the text when it is assigned
    };

    explicit scanner(unsigned flags = skipIgnored) : flags_(flags) {}
    virtual ~scanner() = default;

    // The pattern's token number, counted from 1.
    int addtoken(const char* pattern);
    void assign(const char* text);
    void assign(const string& text) { assign(text.c_str()); }
    void setignore(const char* chars);
    void setflags(unsigned flags) { flags_ = flags; }

    // The number of the first pattern that matches at the scan position, with
    // the matched text; 0 at the end of the text, -1 when nothing matches.
    // A pattern that matches only the empty text does not count as a match.
    int token(string& matched);
    // Move to the start (skipto) or past the end (skippast) of the next match
    // of pattern n; false, with the position unchanged, when there is none.
    bool skipto(int n);
    bool skippast(int n);
    // The position of the next match of pattern n, or string::npos.
    unsigned search(int n) const;
    // Forgets patterns, text and ignore set.
    void reset();

    unsigned position() const { return pos_; }
    void setposition(unsigned pos) { pos_ = pos < text_.length() ? pos : text_.length(); }

private:
    void skipIgnoredChars();
    bool findFrom(int n, unsigned& start, unsigned& length) const;

    string text_;
    string ignore_;
    unsigned pos_ = 0;
    unsigned flags_;
    std::vector<Regexp> patterns_;
};

} // namespace korrin
