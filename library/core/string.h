// The library's reference-counted text string. Copies share one
// representation; every change builds a new one, so nothing is ever written
// into text another string can see. A string never holds a byte 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "core/list.h"

namespace korrin {

class hashable : public TObject {
public:
    virtual std::uint32_t hash() const = 0;
};

// The shared representation: a count of the strings that use it and a
// NUL-terminated array owned by it. `length` caches strlen(text).
struct StringRef {
    std::atomic<unsigned> count;
    unsigned length;
    char* text;
};

class string;

// A view of a range of a string. Assigning to it replaces the range in the
// string it was taken from.
class SubString {
public:
    SubString(string* owner, unsigned pos, unsigned len) : owner_(owner), src_(owner), pos_(pos), len_(len) {}
    SubString(const string* src, unsigned pos, unsigned len) : owner_(nullptr), src_(src), pos_(pos), len_(len) {}

    SubString& operator=(const string& s);
    SubString& operator=(const char* s);

    const string* source() const { return src_; }
    unsigned start() const { return pos_; }
    unsigned length() const { return len_; }
    std::string_view view() const;

private:
    string* owner_; // null for a read-only view
    const string* src_;
    unsigned pos_;
    unsigned len_;
};

// Clamps len to what lies in text from pos on. False, with len 0, when the
// range is empty, text is null or pos is at or past its end.
bool ValidateStr(const char* text, unsigned pos, unsigned& len);

class string : public hashable {
public:
    static constexpr unsigned npos = ~0u;

    struct rangecheck {
        const char* message = "String range check error";
    };
    struct conversion {
        const char* message = "Unsupported radix";
    };

    string();
    string(const char* p);
    string(const char* p, unsigned pos, unsigned len);
    string(const string& s);
    string(string&& s) noexcept;
    string(const string& s, unsigned pos, unsigned len = npos);
    string(char c, unsigned n);
    string(unsigned n, const char* p);          // byte 0 becomes byte 2
    string(unsigned n, const unsigned char* p); // byte 0 becomes byte 2
    string(long v, int radix, bool upper);
    string(const SubString& sub);
    string(std::string_view v); // byte 0 becomes byte 2
    ~string() override;

    string& operator=(const string& s) { return assign(s); }
    string& operator=(string&& s) noexcept;
    string& operator=(const char* p) { return assign(p); }
    string& operator=(const SubString& sub) { return assign(sub); }

    string& assign(const string& s);
    string& assign(const string& s, unsigned pos, unsigned len = npos);
    string& assign(const char* p);
    string& assign(const char* p, unsigned pos, unsigned len);
    string& assign(char c, unsigned n);
    string& assign(unsigned n, const char* p);
    string& assign(unsigned n, const unsigned char* p);
    string& assign(long v, int radix, bool upper);
    string& assign(const SubString& sub);

    unsigned length() const { return ref_->length; }
    bool empty() const { return ref_->length == 0; }
    const char* c_str() const { return ref_->text; }
    std::string_view view() const { return {ref_->text, ref_->length}; }

    string& append(const string& s, unsigned pos = 0, unsigned len = npos);
    string& append(const char* p, unsigned pos = 0, unsigned len = npos);
    string& append(char c);
    string& prepend(const string& s, unsigned pos = 0, unsigned len = npos);
    string& prepend(const char* p, unsigned pos = 0, unsigned len = npos);
    string& prepend(char c);
    string& insert(unsigned pos, const string& s, unsigned spos = 0, unsigned slen = npos);
    string& insert(unsigned pos, const char* p, unsigned spos = 0, unsigned slen = npos);
    string& remove(unsigned pos, unsigned n = npos);
    string& replace(unsigned pos, unsigned n, const string& s, unsigned spos = 0, unsigned slen = npos);
    string& replace(unsigned pos, unsigned n, const char* p, unsigned spos = 0, unsigned slen = npos);

    string& operator+=(const string& s) { return append(s); }
    string& operator+=(const char* p) { return append(p); }
    string& operator+=(char c) { return append(c); }

    char operator[](unsigned i) const;
    // A writable reference: the representation is made this string's own
    // first, so writing through it never changes another copy. Never write 0.
    char& operator[](unsigned i);
    SubString operator()(unsigned pos, unsigned len);
    SubString operator()(unsigned pos, unsigned len) const;
    string substr(unsigned pos, unsigned len = npos) const;

    // 0 for this very object; otherwise -1, 0 or 1 as strcmp orders the texts.
    virtual int compare(const string& s) const;
    // This text against s[pos, pos+len), byte by byte as signed chars; after
    // len equal bytes, 1 when this text is longer, else 0.
    int compare(const string& s, unsigned pos, unsigned len) const;

    unsigned find(const char* t, unsigned pos = 0) const;
    unsigned rfind(const char* t, unsigned pos = npos) const;
    unsigned find(char c, unsigned pos = 0) const;
    unsigned rfind(char c, unsigned pos = npos) const;
    bool contains(const char* t) const;
    unsigned find_first_of(const char* set, unsigned pos = 0) const;
    unsigned find_first_not_of(const char* set, unsigned pos = 0) const;
    unsigned find_last_of(const char* set, unsigned pos = npos) const;
    unsigned find_last_not_of(const char* set, unsigned pos = npos) const;

    string& upcase();
    string& lowcase();
    // type 0 strips leading runs of c, 1 trailing runs, 2 both.
    SubString strip(int type = 2, char c = ' ') const;
    string fit(unsigned n) const;
    // Expands tabs (type 0: to the next multiple of n; type 1: n spaces) and
    // backspaces. n must be positive for type 0.
    string expand(int type, unsigned n) const;

    std::uint32_t crc32() const;
    std::uint32_t hash() const override;

    // Switches find, rfind and contains between exact and case-insensitive
    // matching, for the whole process. compare() always uses strcmp.
    static void caseSensitive(bool on);
    static bool isCaseSensitive();

    // True when both strings share one representation.
    bool shares(const string& s) const { return ref_ == s.ref_; }

private:
    explicit string(StringRef* ref) : ref_(ref) {}
    void adopt(StringRef* ref);
    void spliceIn(unsigned pos, unsigned n, const char* p, unsigned plen);
    static StringRef* emptyRef();

    StringRef* ref_;
};

bool operator==(const string& a, const string& b);
bool operator==(const string& a, const char* b);
std::strong_ordering operator<=>(const string& a, const string& b);
string operator+(const string& a, const char* b);
string operator+(const string& a, const string& b);
string upcase(const string& s);
string lowcase(const string& s);
std::ostream& operator<<(std::ostream& os, const string& s);

} // namespace korrin
