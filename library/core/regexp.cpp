#include "core/regexp.h"

#include <regex.h>

namespace korrin {

struct Regexp::Compiled {
    regex_t re;
    bool ok = false; // regcomp leaves nothing to free when it fails
    ~Compiled()
    {
        if (ok)
            regfree(&re);
    }
};

Regexp::Regexp(const char* pattern) { assign(pattern); }

Regexp& Regexp::assign(const char* pattern)
{
    auto compiled = std::make_shared<Compiled>();
    compiled->ok = pattern && regcomp(&compiled->re, pattern, REG_EXTENDED) == 0;
    if (!compiled->ok)
        throw regexperror{1, string("invalid regular expression: '").append(pattern).append("'")};
    compiled_ = std::move(compiled);
    pattern_ = pattern;
    return *this;
}

bool Regexp::find(const char* text, unsigned& start, unsigned& length) const
{
    if (!compiled_ || !text || !*text)
        return false;
    regmatch_t m;
    if (regexec(&compiled_->re, text, 1, &m, 0) != 0)
        return false;
    start = static_cast<unsigned>(m.rm_so);
    length = static_cast<unsigned>(m.rm_eo - m.rm_so);
    return true;
}

} // namespace korrin
