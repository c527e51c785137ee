// A compiled regular expression (POSIX extended syntax) that finds the first
// match in a text.
#pragma once

#include <memory>

#include "core/string.h"

namespace korrin {

class Regexp {
public:
    struct regexperror {
        int code;
        string message;
    };

    Regexp() = default;
    explicit Regexp(const char* pattern);
    Regexp(const Regexp&) = default;
    Regexp& operator=(const Regexp&) = default;
    virtual ~Regexp() = default;

    Regexp& assign(const char* pattern);
    Regexp& assign(const Regexp& o) { return *this = o; }

    bool empty() const { return !compiled_; }
    const string& pattern() const { return pattern_; }

    // True, with the offset and length of the first match, when the pattern
    // matches somewhere in a non-empty text.
    bool find(const char* text, unsigned& start, unsigned& length) const;

private:
    struct Compiled;
    // Compiled patterns never change, so copies share one.
    std::shared_ptr<const Compiled> compiled_;
    string pattern_;
};

} // namespace korrin
