// The font information entry: the names of a TrueType font, for the
// application's font dialogs.
#include <jni.h>

#include "truetype/truetype.h"

namespace {

// The path as the JVM hands it over, released on every way out.
class JavaPath {
public:
    JavaPath(JNIEnv* env, jstring path) : env_(env), path_(path)
    {
        if (path)
            chars_ = env->GetStringUTFChars(path, nullptr);
    }
    ~JavaPath()
    {
        if (chars_)
            env_->ReleaseStringUTFChars(path_, chars_);
    }
    JavaPath(const JavaPath&) = delete;
    JavaPath& operator=(const JavaPath&) = delete;
    const char* get() const { return chars_; }

private:
    JNIEnv* env_;
    jstring path_;
    const char* chars_ = nullptr;
};

} // namespace

// Stores the PostScript name, full name, unique ID, notice and "TrueType" in
// result[0..4] and returns 0; returns 1, with result untouched, when the font
// does not load. The name bytes become Java strings as Latin-1 text, so that
// bytes above 127 arrive as characters rather than as malformed modified
// UTF-8. A result array shorter than 5 is the caller's error and raises
// IllegalArgumentException.
extern "C" JNIEXPORT jint JNICALL Java_TrueTypeConvNative_parseInfo(JNIEnv* env, jobject, jstring path,
                                                                    jobjectArray result)
{
    constexpr int fields = 5;
    if (!result || env->GetArrayLength(result) < fields) {
        if (jclass iae = env->FindClass("java/lang/IllegalArgumentException"))
            env->ThrowNew(iae, "parseInfo needs a result array of at least 5 elements");
        return 1;
    }
    JavaPath file(env, path);
    if (env->ExceptionCheck())
        return 1;
    try {
        korrin::TrueTypeFont font(file.get());
        const korrin::NamingTable2& names = font.namingTable();
        const char* values[fields] = {names.postScriptName(), names.fullName(), names.uniqueID(), names.notice(),
                                      "TrueType"};
        // Every string is made before the first is stored, so that a failure
        // leaves the array as it was.
        jstring strings[fields] = {};
        int made = 0;
        for (; made < fields; ++made) {
            strings[made] = env->NewStringUTF(korrin::Latin1ToUtf8(values[made]).c_str());
            if (env->ExceptionCheck())
                break;
        }
        if (made == fields) {
            for (int i = 0; i < fields; ++i) {
                env->SetObjectArrayElement(result, i, strings[i]);
                if (env->ExceptionCheck())
                    break;
            }
        }
        for (int i = 0; i < made; ++i)
            env->DeleteLocalRef(strings[i]);
        return made == fields && !env->ExceptionCheck() ? 0 : 1;
    } catch (...) {
        return 1;
    }
}
