// Loads the built bridge library by its file name and looks its natives up by
// their exported names, as the JVM does.
#ifndef JQEL_TESTS_BRIDGE_LIBRARY_H
#define JQEL_TESTS_BRIDGE_LIBRARY_H

#include <jni.h>

#include <string>

namespace bridge {

// The library, loaded once for the whole test program.
void* library();

// The address of an exported symbol, or null (and a test failure) if absent.
void* symbol(std::string const& name);

// The JNI entry point of a native of class `cls` (in the library's package).
template <typename F>
F native(std::string const& cls, std::string const& method) {
  return reinterpret_cast<F>(
      symbol("Java_com_brenn_varnis_tq_api_jqel_" + cls + "_" + method));
}

// The natives' signatures.
using PassThrough = jint(JNICALL*)(JNIEnv*, jclass, jlong);
using GetCma = jint(JNICALL*)(JNIEnv*, jobject, jlong, jstring);
using SetCma = jint(JNICALL*)(JNIEnv*, jobject, jlong, jstring, jstring);
using RemoveCma = jint(JNICALL*)(JNIEnv*, jobject, jlong, jstring);
using GetCmaNames = jint(JNICALL*)(JNIEnv*, jobject, jlong);

}  // namespace bridge

#endif
