#include "core/string.h"

#include <cctype>
#include <compare>
#include <cstring>
#include <new>
#include <ostream>

#include "core/crctable.h"

namespace korrin {

namespace {

using StrCompareFn = int (*)(const char*, const char*);
using MemCompareFn = int (*)(const char*, const char*, size_t);
using CharEqualFn = bool (*)(char, char);
using FindStringFn = const char* (*)(const char*, const char*);

int exactMemCompare(const char* a, const char* b, size_t n) { return std::memcmp(a, b, n); }
bool exactCharEqual(char a, char b) { return a == b; }
const char* exactFindString(const char* hay, const char* needle) { return std::strstr(hay, needle); }

int upper(char c) { return std::toupper(static_cast<unsigned char>(c)); }
int foldedMemCompare(const char* a, const char* b, size_t n) { return ::strncasecmp(a, b, n); }
bool foldedCharEqual(char a, char b) { return upper(a) == upper(b); }
const char* foldedFindString(const char* hay, const char* needle)
{
    if (!*needle)
        return nullptr;
    for (; *hay; ++hay) {
        const char* h = hay;
        const char* n = needle;
        while (*h && *n && upper(*h) == upper(*n)) {
            ++h;
            ++n;
        }
        if (!*n)
            return hay;
    }
    return nullptr;
}

// The comparison functions selected by string::caseSensitive. Atomic so that
// a switch on one thread is never seen half-made by another.
std::atomic<bool> cs{true};
std::atomic<StrCompareFn> strCompare{&std::strcmp};
std::atomic<MemCompareFn> memCompare{&exactMemCompare};
std::atomic<CharEqualFn> charEqual{&exactCharEqual};
std::atomic<FindStringFn> findString{&exactFindString};

// A fresh representation of n bytes, copied from p when p is not null.
StringRef* newRef(const char* p, size_t n)
{
    char* text = new char[n + 1];
    if (p && n)
        std::memcpy(text, p, n);
    text[n] = 0;
    return new StringRef{{1}, static_cast<unsigned>(n), text};
}

void release(StringRef* ref)
{
    if (ref->count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete[] ref->text;
        delete ref;
    }
}

StringRef* retain(StringRef* ref)
{
    ref->count.fetch_add(1, std::memory_order_relaxed);
    return ref;
}

// Throws when pos lies past the end of a text of length n; otherwise clamps
// len to what is left.
void rangeCheck(unsigned n, unsigned pos, unsigned& len)
{
    if (pos > n)
        throw string::rangecheck{};
    if (len > n - pos)
        len = n - pos;
}

StringRef* copyReplacingZeros(const unsigned char* p, unsigned n)
{
    if (!p || n == 0)
        return nullptr;
    StringRef* ref = newRef(reinterpret_cast<const char*>(p), n);
    for (unsigned i = 0; i < n; ++i)
        if (ref->text[i] == 0)
            ref->text[i] = 2;
    return ref;
}

} // namespace

bool ValidateStr(const char* text, unsigned pos, unsigned& len)
{
    if (text) {
        size_t n = std::strlen(text);
        if (pos < n) {
            if (len > n - pos)
                len = static_cast<unsigned>(n - pos);
            return len != 0;
        }
    }
    len = 0;
    return false;
}

// --- SubString -------------------------------------------------------------

SubString& SubString::operator=(const string& s)
{
    KORRIN_REQUIRE(owner_ != nullptr);
    owner_->replace(pos_, len_, s);
    len_ = s.length();
    return *this;
}

SubString& SubString::operator=(const char* s) { return *this = string(s); }

std::string_view SubString::view() const
{
    if (!src_)
        return {};
    return src_->view().substr(pos_, len_);
}

// --- string: construction --------------------------------------------------

StringRef* string::emptyRef()
{
    // Made on first use under the language's guarded static initialisation;
    // the process keeps its own reference, so it is never freed.
    static StringRef* const ref = newRef(nullptr, 0);
    return ref;
}

void string::adopt(StringRef* ref)
{
    if (ref == ref_) {
        release(ref);
        return;
    }
    StringRef* old = ref_;
    ref_ = ref;
    release(old);
}

string::string() : ref_(retain(emptyRef())) {}

string::string(const char* p) : ref_(nullptr)
{
    ref_ = (p && *p) ? newRef(p, std::strlen(p)) : retain(emptyRef());
}

string::string(const char* p, unsigned pos, unsigned len) : ref_(nullptr)
{
    unsigned n = p ? static_cast<unsigned>(std::strlen(p)) : 0;
    rangeCheck(n, pos, len);
    ref_ = len ? newRef(p + pos, len) : retain(emptyRef());
}

string::string(const string& s) : ref_(retain(s.ref_)) {}

string::string(string&& s) noexcept : ref_(s.ref_) { s.ref_ = retain(emptyRef()); }

string::string(const string& s, unsigned pos, unsigned len) : ref_(nullptr)
{
    rangeCheck(s.length(), pos, len);
    if (pos == 0 && len == s.length())
        ref_ = retain(s.ref_);
    else
        ref_ = len ? newRef(s.c_str() + pos, len) : retain(emptyRef());
}

string::string(char c, unsigned n) : ref_(nullptr)
{
    if (c == 0 || n == 0) {
        ref_ = retain(emptyRef());
        return;
    }
    ref_ = newRef(nullptr, n);
    std::memset(ref_->text, c, n);
}

string::string(unsigned n, const char* p) : string(n, reinterpret_cast<const unsigned char*>(p)) {}

string::string(unsigned n, const unsigned char* p) : ref_(copyReplacingZeros(p, n))
{
    if (!ref_)
        ref_ = retain(emptyRef());
}

string::string(std::string_view v)
    : string(static_cast<unsigned>(v.size()), reinterpret_cast<const unsigned char*>(v.data()))
{
}

string::string(long v, int radix, bool upper) : ref_(nullptr)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    bool negative = false;
    if (radix != 10 && radix != 2 && radix != 8 && radix != 16)
        throw conversion{};
    if (v < 0) {
        if (radix != 10)
            throw conversion{};
        negative = true;
    }
    // The magnitude as unsigned, so that LONG_MIN negates without overflow.
    unsigned long magnitude = negative ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    char scratch[8 * sizeof(long) + 1];
    unsigned n = 0;
    do {
        scratch[n++] = digits[magnitude % static_cast<unsigned>(radix)];
        magnitude /= static_cast<unsigned>(radix);
    } while (magnitude);
    ref_ = newRef(nullptr, n + (negative ? 1 : 0));
    char* out = ref_->text;
    if (negative)
        *out++ = '-';
    while (n)
        *out++ = scratch[--n];
}

string::string(const SubString& sub) : ref_(nullptr)
{
    std::string_view v = sub.view();
    ref_ = v.empty() ? retain(emptyRef()) : newRef(v.data(), v.size());
}

string::~string() { release(ref_); }

string& string::operator=(string&& s) noexcept
{
    if (this != &s) {
        StringRef* old = ref_;
        ref_ = s.ref_;
        s.ref_ = retain(emptyRef());
        release(old);
    }
    return *this;
}

// --- string: assignment ----------------------------------------------------

string& string::assign(const string& s)
{
    if (ref_ != s.ref_)
        adopt(retain(s.ref_));
    return *this;
}

string& string::assign(const string& s, unsigned pos, unsigned len) { return assign(string(s, pos, len)); }

string& string::assign(const char* p)
{
    if (!p || !*p)
        adopt(retain(emptyRef()));
    else if (std::strcmp(p, ref_->text) != 0)
        adopt(newRef(p, std::strlen(p)));
    return *this;
}

string& string::assign(const char* p, unsigned pos, unsigned len) { return assign(string(p, pos, len)); }
string& string::assign(char c, unsigned n) { return assign(string(c, n)); }
string& string::assign(unsigned n, const char* p) { return assign(string(n, p)); }
string& string::assign(unsigned n, const unsigned char* p) { return assign(string(n, p)); }
string& string::assign(long v, int radix, bool upper) { return assign(string(v, radix, upper)); }
string& string::assign(const SubString& sub) { return assign(string(sub)); }

// --- string: changes -------------------------------------------------------

// Replaces [pos, pos+n) by plen bytes at p in a new representation. pos and n
// are already checked.
void string::spliceIn(unsigned pos, unsigned n, const char* p, unsigned plen)
{
    unsigned old = length();
    unsigned total = old - n + plen;
    if (total == 0) {
        adopt(retain(emptyRef()));
        return;
    }
    StringRef* ref = newRef(nullptr, total);
    std::memcpy(ref->text, ref_->text, pos);
    if (plen)
        std::memcpy(ref->text + pos, p, plen);
    std::memcpy(ref->text + pos + plen, ref_->text + pos + n, old - pos - n);
    adopt(ref);
}

string& string::replace(unsigned pos, unsigned n, const string& s, unsigned spos, unsigned slen)
{
    rangeCheck(length(), pos, n);
    rangeCheck(s.length(), spos, slen);
    // An empty string that takes the whole of another shares it.
    if (empty() && spos == 0 && slen == s.length())
        return assign(s);
    if (n == 0 && slen == 0)
        return *this;
    // Copy the source first: s may be this very string.
    string keep(s);
    spliceIn(pos, n, keep.c_str() + spos, slen);
    return *this;
}

string& string::replace(unsigned pos, unsigned n, const char* p, unsigned spos, unsigned slen)
{
    unsigned plen = p ? static_cast<unsigned>(std::strlen(p)) : 0;
    rangeCheck(length(), pos, n);
    rangeCheck(plen, spos, slen);
    if (n == 0 && slen == 0)
        return *this;
    spliceIn(pos, n, p ? p + spos : nullptr, slen);
    return *this;
}

string& string::append(const string& s, unsigned pos, unsigned len) { return replace(length(), 0, s, pos, len); }
string& string::append(const char* p, unsigned pos, unsigned len) { return replace(length(), 0, p, pos, len); }
string& string::append(char c)
{
    const char text[2] = {c, 0};
    return replace(length(), 0, text);
}
string& string::prepend(const string& s, unsigned pos, unsigned len) { return replace(0, 0, s, pos, len); }
string& string::prepend(const char* p, unsigned pos, unsigned len) { return replace(0, 0, p, pos, len); }
string& string::prepend(char c)
{
    const char text[2] = {c, 0};
    return replace(0, 0, text);
}
string& string::insert(unsigned pos, const string& s, unsigned spos, unsigned slen) { return replace(pos, 0, s, spos, slen); }
string& string::insert(unsigned pos, const char* p, unsigned spos, unsigned slen) { return replace(pos, 0, p, spos, slen); }

string& string::remove(unsigned pos, unsigned n)
{
    rangeCheck(length(), pos, n);
    if (n)
        spliceIn(pos, n, nullptr, 0);
    return *this;
}

// --- string: access --------------------------------------------------------

char string::operator[](unsigned i) const
{
    if (i >= length())
        throw rangecheck{};
    return ref_->text[i];
}

char& string::operator[](unsigned i)
{
    if (i >= length())
        throw rangecheck{};
    if (ref_->count.load(std::memory_order_acquire) != 1)
        adopt(newRef(ref_->text, ref_->length));
    return ref_->text[i];
}

SubString string::operator()(unsigned pos, unsigned len)
{
    rangeCheck(length(), pos, len);
    return SubString(this, pos, len);
}

SubString string::operator()(unsigned pos, unsigned len) const
{
    rangeCheck(length(), pos, len);
    return SubString(this, pos, len);
}

string string::substr(unsigned pos, unsigned len) const { return string(*this, pos, len); }

int string::compare(const string& s) const
{
    if (&s == this)
        return 0;
    int r = std::strcmp(c_str(), s.c_str());
    return (r > 0) - (r < 0);
}

int string::compare(const string& s, unsigned pos, unsigned len) const
{
    if (pos > s.length())
        len = 0;
    else if (len > s.length() - pos)
        len = s.length() - pos;
    const char* a = c_str();
    const char* b = s.c_str() + pos;
    for (unsigned i = 0; i < len; ++i) {
        // Past its end this text reads as its terminating 0.
        signed char ca = i < length() ? static_cast<signed char>(a[i]) : 0;
        signed char cb = static_cast<signed char>(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return length() > len ? 1 : 0;
}

// --- string: searching -----------------------------------------------------

unsigned string::find(const char* t, unsigned pos) const
{
    if (!t || pos >= length())
        return npos;
    const char* hit = findString.load(std::memory_order_relaxed)(c_str() + pos, t);
    return hit ? static_cast<unsigned>(hit - c_str()) : npos;
}

unsigned string::rfind(const char* t, unsigned pos) const
{
    if (!t)
        return npos;
    if (pos > length())
        pos = length();
    unsigned tlen = static_cast<unsigned>(std::strlen(t));
    if (tlen == 0)
        return pos;
    if (tlen > pos)
        return npos;
    MemCompareFn cmp = memCompare.load(std::memory_order_relaxed);
    for (unsigned i = pos - tlen + 1; i-- > 0;)
        if (cmp(c_str() + i, t, tlen) == 0)
            return i;
    return npos;
}

unsigned string::find(char c, unsigned pos) const
{
    CharEqualFn eq = charEqual.load(std::memory_order_relaxed);
    for (unsigned i = pos; i < length(); ++i)
        if (eq(ref_->text[i], c))
            return i;
    return npos;
}

unsigned string::rfind(char c, unsigned pos) const
{
    CharEqualFn eq = charEqual.load(std::memory_order_relaxed);
    if (pos > length())
        pos = length();
    for (unsigned i = pos; i-- > 0;)
        if (eq(ref_->text[i], c))
            return i;
    return npos;
}

bool string::contains(const char* t) const
{
    return t && findString.load(std::memory_order_relaxed)(c_str(), t) != nullptr;
}

namespace {
bool inSet(const char* set, char c) { return set && std::strchr(set, c) != nullptr; }
} // namespace

unsigned string::find_first_of(const char* set, unsigned pos) const
{
    for (unsigned i = pos; i < length(); ++i)
        if (inSet(set, ref_->text[i]))
            return i;
    return npos;
}

unsigned string::find_first_not_of(const char* set, unsigned pos) const
{
    for (unsigned i = pos; i < length(); ++i)
        if (!inSet(set, ref_->text[i]))
            return i;
    return npos;
}

// The last index at or before pos (anywhere for npos).
unsigned string::find_last_of(const char* set, unsigned pos) const
{
    unsigned end = pos >= length() ? length() : pos + 1;
    for (unsigned i = end; i-- > 0;)
        if (inSet(set, ref_->text[i]))
            return i;
    return npos;
}

unsigned string::find_last_not_of(const char* set, unsigned pos) const
{
    unsigned end = pos >= length() ? length() : pos + 1;
    for (unsigned i = end; i-- > 0;)
        if (!inSet(set, ref_->text[i]))
            return i;
    return npos;
}

// --- string: derived texts -------------------------------------------------

namespace {
template <class Map>
StringRef* mapped(const StringRef* ref, Map map)
{
    for (unsigned i = 0; i < ref->length; ++i) {
        if (static_cast<char>(map(static_cast<unsigned char>(ref->text[i]))) != ref->text[i]) {
            StringRef* out = newRef(ref->text, ref->length);
            for (unsigned j = i; j < out->length; ++j)
                out->text[j] = static_cast<char>(map(static_cast<unsigned char>(out->text[j])));
            return out;
        }
    }
    return nullptr; // unchanged
}
} // namespace

string& string::upcase()
{
    if (StringRef* r = mapped(ref_, [](int c) { return std::toupper(c); }))
        adopt(r);
    return *this;
}

string& string::lowcase()
{
    if (StringRef* r = mapped(ref_, [](int c) { return std::tolower(c); }))
        adopt(r);
    return *this;
}

SubString string::strip(int type, char c) const
{
    unsigned start = 0;
    unsigned end = length();
    if (type == 1 || type == 2)
        while (end > 0 && ref_->text[end - 1] == c)
            --end;
    if (type == 0 || type == 2)
        while (start < end && ref_->text[start] == c)
            ++start;
    return SubString(this, start, end - start);
}

string string::fit(unsigned n) const
{
    if (length() >= n)
        return *this;
    StringRef* ref = newRef(nullptr, n);
    std::memcpy(ref->text, ref_->text, length());
    std::memset(ref->text + length(), ' ', n - length());
    return string(ref);
}

string string::expand(int type, unsigned n) const
{
    std::string out;
    out.reserve(length());
    unsigned column = 0;
    for (unsigned i = 0; i < length(); ++i) {
        char c = ref_->text[i];
        if (c == 8) {
            if (column != 0) {
                out.pop_back();
                --column;
            }
        } else if (c == 9 && type == 0) {
            do {
                out.push_back(' ');
                ++column;
            } while (n && column % n != 0);
        } else if (c == 9 && type == 1) {
            out.append(n, ' ');
            column += n;
        } else {
            out.push_back(c);
            ++column;
        }
    }
    return string(std::string_view(out));
}

std::uint32_t string::crc32() const { return korrin::crc32(ref_->text, ref_->length); }
std::uint32_t string::hash() const { return crc32(); }

void string::caseSensitive(bool on)
{
    cs.store(on);
    strCompare.store(on ? &std::strcmp : &::strcasecmp);
    memCompare.store(on ? &exactMemCompare : &foldedMemCompare);
    charEqual.store(on ? &exactCharEqual : &foldedCharEqual);
    findString.store(on ? &exactFindString : &foldedFindString);
}

bool string::isCaseSensitive() { return cs.load(); }

// --- free functions --------------------------------------------------------

bool operator==(const string& a, const string& b) { return a.shares(b) || a.view() == b.view(); }
bool operator==(const string& a, const char* b) { return a.view() == std::string_view(b ? b : ""); }
std::strong_ordering operator<=>(const string& a, const string& b)
{
    int r = std::strcmp(a.c_str(), b.c_str());
    return r < 0 ? std::strong_ordering::less : r > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}
string operator+(const string& a, const char* b) { return string(a).append(b); }
string operator+(const string& a, const string& b) { return string(a).append(b); }
string upcase(const string& s) { return string(s).upcase(); }
string lowcase(const string& s) { return string(s).lowcase(); }
std::ostream& operator<<(std::ostream& os, const string& s) { return os << s.view(); }

} // namespace korrin
