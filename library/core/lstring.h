// The library's reference-counted byte string: an explicit length, any byte
// allowed, shared between copies like string.
#pragma once

#include <atomic>
#include <string_view>

#include "core/string.h"

namespace korrin {

struct LStringRep {
    std::atomic<unsigned> count;
    unsigned length;
    unsigned char* bytes; // null when length is 0
};

class lstring;

// Clamps len to what lies in ls from pos on; false, with len 0, when the
// range is empty.
bool ValidateLStr(const lstring& ls, unsigned pos, unsigned& len);

class lstring {
public:
    struct rangecheck {
        unsigned index;
    };

    lstring();
    lstring(const string& s);
    lstring(const char* p);
    lstring(const char* p, unsigned pos, unsigned len);
    lstring(unsigned n, const char* p);
    lstring(unsigned n, const unsigned char* p);
    lstring(const lstring& o);
    lstring(lstring&& o) noexcept;
    virtual ~lstring();

    lstring& operator=(const lstring& o) { return assign(o); }
    lstring& operator=(lstring&& o) noexcept;

    lstring& assign(const lstring& o);
    lstring& assign(const string& s);
    lstring& assign(const char* p);
    lstring& assign(const char* p, unsigned pos, unsigned len);
    lstring& assign(unsigned n, const char* p);
    lstring& assign(unsigned n, const unsigned char* p);

    unsigned length() const { return rep_->length; }
    const char* data() const { return reinterpret_cast<const char*>(rep_->bytes); }
    const unsigned char* bytes() const { return rep_->bytes; }
    std::string_view view() const { return {data(), rep_->length}; }

    unsigned char operator[](unsigned i) const;

    // This byte string against o[pos, pos+len), byte by byte as signed chars;
    // when one runs out, the longer is greater.
    int compare(const lstring& o, unsigned pos = 0, unsigned len = string::npos) const;

    // A string of these bytes, each 0 replaced by 2.
    string getstring() const;

    bool shares(const lstring& o) const { return rep_ == o.rep_; }

private:
    static LStringRep* emptyRep();
    static LStringRep* make(const unsigned char* p, unsigned n);
    void adopt(LStringRep* rep);

    LStringRep* rep_;
};

bool operator==(const lstring& a, const lstring& b);

} // namespace korrin
