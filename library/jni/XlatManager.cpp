// Native methods of the application's XlatManager class: set the table search
// path, list the one-byte font encodings, tell the default table directory.
#include "jni/XlatManager.h"

#include <jni.h>
#include <mutex>
#include <string>

#include "core/buffer.h"

namespace korrin {

std::unique_ptr<XlatManager> xman;

namespace {

constexpr const char* defaultTableDirectory = "/usr/dt/lib/vsk/i386/tables";
constexpr unsigned listInitial = 2048;
constexpr unsigned listIncrement = 2048;
constexpr unsigned listMaximum = 16u << 20;

// setpath replaces what getXStr reads; the two may come from different threads.
std::mutex xmanMutex;

void append(buffer& out, const char* text)
{
    while (*text)
        out.append(static_cast<unsigned char>(*text++));
}

// "(", the text with "\" before every parenthesis and backslash, ")".
void StringAppend(buffer& out, const string& text)
{
    out.append('(');
    for (unsigned i = 0; i < text.length(); ++i) {
        const char c = text[i];
        if (c == '(' || c == ')' || c == '\\')
            out.append('\\');
        out.append(static_cast<unsigned char>(c));
    }
    out.append(')');
}

void appendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The JVM takes modified UTF-8 only. Default strings come from table files,
// so any bytes may arrive: well-formed UTF-8 passes (a character beyond the
// BMP as its two surrogates), and every other byte is taken as Latin-1.
std::string toModifiedUtf8(const unsigned char* p, std::size_t n)
{
    std::string out;
    out.reserve(n + n / 8);
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        unsigned len = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 1;
        std::uint32_t c = b;
        bool good = b < 0x80 || (len > 1 && b < 0xF5);
        if (good && len > 1) {
            if (i + len > n)
                good = false;
            else {
                c = b & (0xFF >> (len + 1));
                for (unsigned k = 1; k < len && good; ++k) {
                    good = (p[i + k] & 0xC0) == 0x80;
                    c = c << 6 | (p[i + k] & 0x3F);
                }
                // Overlong forms, surrogates and values past U+10FFFF.
                const std::uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
                good = good && c >= least[len] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
            }
        }
        if (!good) {
            c = b;
            len = 1;
        }
        if (c == 0) {
            out += "\xC0\x80";
        } else if (c > 0xFFFF) {
            appendUtf8(out, 0xD800 + ((c - 0x10000) >> 10));
            appendUtf8(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            appendUtf8(out, c);
        }
        i += len;
    }
    return out;
}

// The list of one-byte tables to Unicode, one bracketed line each.
std::string listFontEncodings(const XlatManager* manager)
{
    buffer out(listInitial, listIncrement, listMaximum);
    append(out, "[\n");
    const int count = manager ? manager->countTables() : 0;
    for (int i = 0; i < count; ++i) {
        const XlatDescRecord* d = manager->getXlatDescArray()[i];
        if (d->to != 1 || (d->format != 0 && d->format != 4))
            continue;
        append(out, "[");
        StringAppend(out, string(long(d->from), 10, false));
        StringAppend(out, "1");
        for (int n = 1; n <= 4; ++n)
            StringAppend(out, XlatManager::GetDefaultString(d, n));
        append(out, "]\n");
    }
    append(out, "]\n");
    return toModifiedUtf8(out.data, out.used);
}

} // namespace
} // namespace korrin

using korrin::xman;

extern "C" JNIEXPORT void JNICALL Java_XlatManager_setpath(JNIEnv* env, jobject, jstring jpath)
{
    const char* path = jpath ? env->GetStringUTFChars(jpath, nullptr) : nullptr;
    if (jpath && !path)
        return; // out of memory: the JVM has an exception pending
    try {
        std::lock_guard<std::mutex> hold(korrin::xmanMutex);
        if (!xman)
            xman = std::make_unique<korrin::XlatManager>(path);
        else
            xman->setPath(path);
    } catch (...) {
        // A scan reports nothing; what was found before the failure stays.
    }
    if (path)
        env->ReleaseStringUTFChars(jpath, path);
}

extern "C" JNIEXPORT jstring JNICALL Java_XlatManager_getXStr(JNIEnv* env, jobject)
{
    std::string text;
    try {
        std::lock_guard<std::mutex> hold(korrin::xmanMutex);
        text = korrin::listFontEncodings(xman.get());
    } catch (...) {
        text = "[\n]\n";
    }
    return env->NewStringUTF(text.c_str());
}

extern "C" JNIEXPORT jstring JNICALL Java_XlatManager_GetPlatformDefaultPath(JNIEnv* env, jobject)
{
    return env->NewStringUTF(korrin::defaultTableDirectory);
}
