// Entry points the JVM calls when it loads and unloads libkorrin.so.
#include <jni.h>

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*)
{
    return JNI_VERSION_1_8;
}
