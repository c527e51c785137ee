#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

// What the JVM does with System.loadLibrary: the library must load with every
// symbol resolved and export the JNI entry points by their C names.
TEST(SharedLibrary, LoadsWithAllSymbolsResolved)
{
    void* lib = dlopen(KORRIN_BINARY_DIR "/libkorrin.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_NE(dlsym(lib, "JNI_OnLoad"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN6korrin5crc32EPKvm"), nullptr) << "library internals stay hidden";
    dlclose(lib);
}

} // namespace
