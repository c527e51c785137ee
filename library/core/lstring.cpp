#include "core/lstring.h"

#include <cstdlib>
#include <cstring>

namespace korrin {

namespace {
void release(LStringRep* rep)
{
    if (rep->count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        std::free(rep->bytes);
        delete rep;
    }
}

LStringRep* retain(LStringRep* rep)
{
    rep->count.fetch_add(1, std::memory_order_relaxed);
    return rep;
}
} // namespace

LStringRep* lstring::emptyRep()
{
    // Never freed: the process holds the first reference.
    static LStringRep* const rep = new LStringRep{{1}, 0, nullptr};
    return rep;
}

// A new representation holding a copy of n bytes; the empty one for none.
// Storage that cannot be had is reported as the integer 1.
LStringRep* lstring::make(const unsigned char* p, unsigned n)
{
    if (!p || n == 0)
        return retain(emptyRep());
    auto* bytes = static_cast<unsigned char*>(std::malloc(n));
    if (!bytes)
        throw 1;
    std::memcpy(bytes, p, n);
    return new LStringRep{{1}, n, bytes};
}

void lstring::adopt(LStringRep* rep)
{
    LStringRep* old = rep_;
    rep_ = rep;
    release(old);
}

bool ValidateLStr(const lstring& ls, unsigned pos, unsigned& len)
{
    if (pos < ls.length()) {
        if (len > ls.length() - pos)
            len = ls.length() - pos;
        return len != 0;
    }
    len = 0;
    return false;
}

lstring::lstring() : rep_(retain(emptyRep())) {}
lstring::lstring(const string& s) : rep_(make(reinterpret_cast<const unsigned char*>(s.c_str()), s.length())) {}
lstring::lstring(const char* p) : rep_(make(reinterpret_cast<const unsigned char*>(p), p ? static_cast<unsigned>(std::strlen(p)) : 0)) {}
lstring::lstring(const char* p, unsigned pos, unsigned len) : rep_(nullptr)
{
    ValidateStr(p, pos, len);
    rep_ = make(reinterpret_cast<const unsigned char*>(p ? p + pos : nullptr), len);
}
lstring::lstring(unsigned n, const char* p) : rep_(make(reinterpret_cast<const unsigned char*>(p), n)) {}
lstring::lstring(unsigned n, const unsigned char* p) : rep_(make(p, n)) {}
lstring::lstring(const lstring& o) : rep_(retain(o.rep_)) {}
lstring::lstring(lstring&& o) noexcept : rep_(o.rep_) { o.rep_ = retain(emptyRep()); }
lstring::~lstring() { release(rep_); }

lstring& lstring::operator=(lstring&& o) noexcept
{
    if (this != &o) {
        LStringRep* old = rep_;
        rep_ = o.rep_;
        o.rep_ = retain(emptyRep());
        release(old);
    }
    return *this;
}

lstring& lstring::assign(const lstring& o)
{
    if (rep_ != o.rep_)
        adopt(retain(o.rep_));
    return *this;
}
lstring& lstring::assign(const string& s) { return assign(lstring(s)); }
lstring& lstring::assign(const char* p) { return assign(lstring(p)); }
lstring& lstring::assign(const char* p, unsigned pos, unsigned len) { return assign(lstring(p, pos, len)); }
lstring& lstring::assign(unsigned n, const char* p) { return assign(lstring(n, p)); }
lstring& lstring::assign(unsigned n, const unsigned char* p) { return assign(lstring(n, p)); }

unsigned char lstring::operator[](unsigned i) const
{
    if (i >= length())
        throw rangecheck{i};
    return rep_->bytes[i];
}

int lstring::compare(const lstring& o, unsigned pos, unsigned len) const
{
    bool rangeEmpty = !ValidateLStr(o, pos, len);
    if (rangeEmpty)
        return length() ? 1 : 0;
    if (length() == 0)
        return -1;
    unsigned n = length() < len ? length() : len;
    for (unsigned i = 0; i < n; ++i) {
        signed char a = static_cast<signed char>(rep_->bytes[i]);
        signed char b = static_cast<signed char>(o.rep_->bytes[pos + i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return length() == len ? 0 : length() > len ? 1 : -1;
}

string lstring::getstring() const { return string(length(), rep_->bytes); }

bool operator==(const lstring& a, const lstring& b) { return a.view() == b.view(); }

} // namespace korrin
