// mkxlat OUTDIR: writes the translation tables that korrin ships, from the
// national and one-byte encodings to Unicode, with glibc's iconv as the source
// of every mapping. The output depends only on iconv's data, so every build
// on a machine writes the same bytes.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "core/file.h"
#include "xlat/xman.h"

namespace {

using namespace korrin;

constexpr unsigned short unicode = 1;
// The value of a byte that a one-byte encoding leaves undefined: a
// noncharacter, so no font maps it to a glyph.
constexpr unsigned unmappedByte = 0xFFFF;

enum class Codes {
    oneByte,      // 0x00 to 0xFF, format 4
    multiByte,    // single bytes and two-byte codes with a high lead byte
    eucTW,        // as multiByte, plus the four-byte codes 8E A1-B0 xx xx
    sevenBit,     // 0x2121 to 0x7E7E, decoded with both high bits set
};

struct TableSpec {
    unsigned short from;
    const char* file;
    const char* charset; // iconv's name
    Codes codes;
    // Default strings 1 to 4: display name, charset name, script, source.
    const char* strings[4];
};

const TableSpec tables[] = {
    // National encodings, by the numbers the library gives them.
    {2, "shiftjis.xlt", "CP932", Codes::multiByte,
     {"ShiftJIS (Microsoft code page 932)", "Windows-31J", "Japanese", "glibc iconv CP932"}},
    {3, "big5.xlt", "CP950", Codes::multiByte,
     {"Big5 (Microsoft code page 950)", "Big5", "Traditional Chinese", "glibc iconv CP950"}},
    {4, "prc.xlt", "EUC-CN", Codes::multiByte,
     {"PRC (GB 2312 in EUC-CN form)", "GB2312", "Simplified Chinese", "glibc iconv EUC-CN"}},
    {5, "wansung.xlt", "CP949", Codes::multiByte,
     {"Wansung (Microsoft code page 949, Unified Hangul Code)", "CP949", "Korean", "glibc iconv CP949"}},
    {6, "johab.xlt", "JOHAB", Codes::multiByte,
     {"Johab (KS C 5601-1992 annex 3)", "Johab", "Korean", "glibc iconv JOHAB"}},
    {7, "cns.xlt", "EUC-TW", Codes::eucTW,
     {"CNS (CNS 11643 in EUC-TW form)", "EUC-TW", "Traditional Chinese", "glibc iconv EUC-TW"}},
    {8, "prc7bit.xlt", "EUC-CN", Codes::sevenBit,
     {"7 bit PRC (GB 2312 codes 2121 to 7E7E, as GB-H CMaps write them)", "GB_2312-80", "Simplified Chinese",
      "glibc iconv EUC-CN, high bits cleared"}},
    {9, "cnsplane1.xlt", "EUC-TW", Codes::sevenBit,
     {"CNS Plane 1 (CNS 11643 plane 1, codes 2121 to 7E7E)", "CNS11643-1", "Traditional Chinese",
      "glibc iconv EUC-TW, high bits cleared"}},
    {10, "gbk.xlt", "CP936", Codes::multiByte,
     {"GBK (Microsoft code page 936)", "GBK", "Simplified Chinese", "glibc iconv CP936"}},

    // One-byte font encodings, which the application lists for Type 42 fonts.
    {1, "iso8859-1.xlt", "ISO-8859-1", Codes::oneByte,
     {"ISO 8859-1 (Latin-1)", "ISO-8859-1", "Latin (Western European)", "glibc iconv ISO-8859-1"}},
    {100, "cp1252.xlt", "CP1252", Codes::oneByte,
     {"Windows Latin-1 (code page 1252)", "windows-1252", "Latin (Western European)", "glibc iconv CP1252"}},
    {101, "macroman.xlt", "MACINTOSH", Codes::oneByte,
     {"Mac OS Roman", "macintosh", "Latin (Western European)",
      "glibc iconv MACINTOSH, C6 and F0 as in Apple's table"}},
    {102, "iso8859-2.xlt", "ISO-8859-2", Codes::oneByte,
     {"ISO 8859-2 (Latin-2)", "ISO-8859-2", "Latin (Central European)", "glibc iconv ISO-8859-2"}},
    {103, "iso8859-5.xlt", "ISO-8859-5", Codes::oneByte,
     {"ISO 8859-5 (Cyrillic)", "ISO-8859-5", "Cyrillic", "glibc iconv ISO-8859-5"}},
    {104, "iso8859-7.xlt", "ISO-8859-7", Codes::oneByte,
     {"ISO 8859-7 (Greek)", "ISO-8859-7", "Greek", "glibc iconv ISO-8859-7"}},
    {105, "iso8859-9.xlt", "ISO-8859-9", Codes::oneByte,
     {"ISO 8859-9 (Latin-5)", "ISO-8859-9", "Latin (Turkish)", "glibc iconv ISO-8859-9"}},
    {106, "iso8859-15.xlt", "ISO-8859-15", Codes::oneByte,
     {"ISO 8859-15 (Latin-9)", "ISO-8859-15", "Latin (Western European)", "glibc iconv ISO-8859-15"}},
    {107, "cp1250.xlt", "CP1250", Codes::oneByte,
     {"Windows Central European (code page 1250)", "windows-1250", "Latin (Central European)",
      "glibc iconv CP1250"}},
    {108, "cp1251.xlt", "CP1251", Codes::oneByte,
     {"Windows Cyrillic (code page 1251)", "windows-1251", "Cyrillic", "glibc iconv CP1251"}},
    {109, "cp1253.xlt", "CP1253", Codes::oneByte,
     {"Windows Greek (code page 1253)", "windows-1253", "Greek", "glibc iconv CP1253"}},
    {110, "cp1254.xlt", "CP1254", Codes::oneByte,
     {"Windows Turkish (code page 1254)", "windows-1254", "Latin (Turkish)", "glibc iconv CP1254"}},
    {111, "koi8-r.xlt", "KOI8-R", Codes::oneByte,
     {"KOI8-R (Russian)", "KOI8-R", "Cyrillic", "glibc iconv KOI8-R"}},
    // The one-byte half of Shift_JIS is JIS X 0201: 5C is the yen sign, 7E
    // the overline, A1 to DF the half-width katakana.
    {112, "jisx0201.xlt", "SHIFT_JIS", Codes::oneByte,
     {"JIS X 0201 (Roman and half-width katakana)", "JIS_X0201", "Japanese",
      "glibc iconv SHIFT_JIS, one-byte codes"}},
};

// Codes where glibc strays from the table of the encoding's owner. Apple's
// Mac OS Roman has C6 as INCREMENT and F0 as the Apple logo in Apple's
// private-use slot; glibc gives GREEK CAPITAL LETTER DELTA and U+E01E.
struct Override {
    unsigned short from;
    std::uint32_t code;
    unsigned value;
};
const Override overrides[] = {{101, 0xC6, 0x2206}, {101, 0xF0, 0xF8FF}};

struct Failure {
    std::string message;
};

// One iconv conversion from a charset to UTF-32, asked one code at a time.
class Decoder {
public:
    explicit Decoder(const char* charset) : cd_(iconv_open("UTF-32BE", charset))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw Failure{std::string("iconv cannot convert from ") + charset + ": " + std::strerror(errno)};
    }
    ~Decoder() { iconv_close(cd_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The one BMP character that exactly these bytes stand for, or -1 when
    // they are no code, several characters, or beyond UCS-2.
    long decode(const unsigned char* bytes, std::size_t n)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char in[4], out[16];
        std::memcpy(in, bytes, n);
        char* inp = in;
        char* outp = out;
        std::size_t inleft = n, outleft = sizeof out;
        if (iconv(cd_, &inp, &inleft, &outp, &outleft) != 0 || inleft != 0)
            return -1;
        if (iconv(cd_, nullptr, nullptr, &outp, &outleft) != 0 || sizeof out - outleft != 4)
            return -1;
        const auto* u = reinterpret_cast<const unsigned char*>(out);
        std::uint32_t c = std::uint32_t(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3];
        return c <= 0xFFFF ? long(c) : -1;
    }

private:
    iconv_t cd_;
};

// Every code of the encoding that iconv decodes to one BMP character, in
// ascending order of code.
std::map<std::uint32_t, unsigned> decodeAll(const TableSpec& spec)
{
    Decoder decoder(spec.charset);
    std::map<std::uint32_t, unsigned> map;
    auto tryCode = [&](std::uint32_t key, const unsigned char* bytes, std::size_t n) {
        long c = decoder.decode(bytes, n);
        if (c >= 0)
            map[key] = static_cast<unsigned>(c);
    };
    if (spec.codes == Codes::sevenBit) {
        for (unsigned hi = 0x21; hi <= 0x7E; ++hi)
            for (unsigned lo = 0x21; lo <= 0x7E; ++lo) {
                const unsigned char euc[2] = {static_cast<unsigned char>(hi | 0x80),
                                              static_cast<unsigned char>(lo | 0x80)};
                tryCode(hi << 8 | lo, euc, 2);
            }
        return map;
    }
    for (unsigned b = 0; b <= 0xFF; ++b) {
        const unsigned char one = static_cast<unsigned char>(b);
        tryCode(b, &one, 1);
    }
    if (spec.codes == Codes::oneByte)
        return map;
    for (unsigned code = 0x8000; code <= 0xFFFF; ++code) {
        const unsigned char two[2] = {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)};
        tryCode(code, two, 2);
    }
    if (spec.codes == Codes::eucTW)
        for (unsigned plane = 0xA1; plane <= 0xB0; ++plane)
            for (unsigned hi = 0xA1; hi <= 0xFE; ++hi)
                for (unsigned lo = 0xA1; lo <= 0xFE; ++lo) {
                    const unsigned char four[4] = {0x8E, static_cast<unsigned char>(plane),
                                                   static_cast<unsigned char>(hi), static_cast<unsigned char>(lo)};
                    tryCode(0x8E000000u | plane << 16 | hi << 8 | lo, four, 4);
                }
    return map;
}

std::map<std::uint32_t, unsigned> collect(const TableSpec& spec)
{
    std::map<std::uint32_t, unsigned> map = decodeAll(spec);
    for (const Override& o : overrides)
        if (o.from == spec.from)
            map[o.code] = o.value;
    return map;
}

// Table blocks are written in host byte order, as the table file says.
void put16(std::vector<unsigned char>& out, unsigned v)
{
    const std::uint16_t field = static_cast<std::uint16_t>(v);
    const auto* p = reinterpret_cast<const unsigned char*>(&field);
    out.insert(out.end(), p, p + 2);
}
void put32(std::vector<unsigned char>& out, std::uint32_t v)
{
    const auto* p = reinterpret_cast<const unsigned char*>(&v);
    out.insert(out.end(), p, p + 4);
}

// Format 4 for one-byte encodings; for the others format 3 when every code
// fits 16 bits, else format 2.
std::vector<unsigned char> buildTable(const TableSpec& spec, const std::map<std::uint32_t, unsigned>& map)
{
    std::vector<unsigned char> table;
    if (spec.codes == Codes::oneByte) {
        put16(table, 4);
        put16(table, 0);
        for (unsigned b = 0; b <= 0xFF; ++b) {
            auto it = map.find(b);
            put16(table, it == map.end() ? unmappedByte : it->second);
        }
        return table;
    }
    const bool wide = !map.empty() && map.rbegin()->first > 0xFFFF;
    put16(table, wide ? 2 : 3);
    put16(table, 0);
    put32(table, static_cast<std::uint32_t>(map.size()));
    for (const auto& entry : map)
        wide ? put32(table, entry.first) : put16(table, entry.first);
    for (const auto& entry : map)
        put16(table, entry.second);
    return table;
}

void writeTable(const std::string& dir, const TableSpec& spec)
{
    const std::vector<unsigned char> table = buildTable(spec, collect(spec));
    list<IDRecord> strings(true);
    for (unsigned short n = 1; n <= 4; ++n)
        strings.append(IDRecord{XlatManager::defaultQualifier, n, lstring(spec.strings[n - 1])});
    XTableWriter out(filename((dir + "/" + spec.file).c_str()));
    out.writeHeader(spec.from, unicode);
    out.writeStringTable(&strings);
    out.writeTable(table.data(), static_cast<unsigned>(table.size()));
    out.close();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkxlat OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "mkxlat: %s: %s\n", dir.c_str(), std::strerror(errno));
        return 1;
    }
    try {
        for (const TableSpec& spec : tables)
            writeTable(dir, spec);
    } catch (const Failure& e) {
        std::fprintf(stderr, "mkxlat: %s\n", e.message.c_str());
        return 1;
    } catch (const file::fileerror& e) {
        std::fprintf(stderr, "mkxlat: %s: %s\n", dir.c_str(), e.message.c_str());
        return 1;
    }
    return 0;
}
