// The converter against the JVM's own string coding: each native converts
// one string n times, one way, by one of the two, and returns how many of the
// conversions made a result (n, unless one failed). What a conversion
// allocates is released in the loop, as a caller would release it.
//
// The two sides take the same text, each in its own encoding: the converter
// reads native bytes (UTF-8, four bytes for a character beyond U+FFFF) and
// modified UTF-8, the JVM modified UTF-8 (six bytes for such a character).
#include <jni.h>
#include <stdlib.h>

#include "agent/jqelagtbase.h"

#define CODING(name) \
  extern "C" JNIEXPORT jlong JNICALL Java_jqel_bench_coding_Coding_##name

// convertStringFromUTF + free, of the string's modified UTF-8.
CODING(converterFromUtf)(JNIEnv* env, jclass, jstring text, jint n) {
  char const* utf = env->GetStringUTFChars(text, nullptr);
  jlong made = 0;
  for (jint i = 0; i < n; ++i) {
    char* native = convertStringFromUTF(utf);
    made += native != nullptr;
    free(native);
  }
  env->ReleaseStringUTFChars(text, utf);
  return made;
}

// GetStringUTFChars + ReleaseStringUTFChars of the string.
CODING(jvmFromUtf)(JNIEnv* env, jclass, jstring text, jint n) {
  jlong made = 0;
  for (jint i = 0; i < n; ++i) {
    char const* utf = env->GetStringUTFChars(text, nullptr);
    made += utf != nullptr;
    env->ReleaseStringUTFChars(text, utf);
  }
  return made;
}

// convertStringToUTF + DeleteLocalRef, of the string's native bytes.
CODING(converterToUtf)(JNIEnv* env, jclass, jstring text, jint n) {
  char const* utf = env->GetStringUTFChars(text, nullptr);
  char* native = convertStringFromUTF(utf);
  env->ReleaseStringUTFChars(text, utf);
  jlong made = 0;
  for (jint i = 0; native != nullptr && i < n; ++i) {
    jstring s = convertStringToUTF(native, env);
    made += s != nullptr;
    env->DeleteLocalRef(s);
  }
  free(native);
  return made;
}

// NewStringUTF + DeleteLocalRef, of the string's modified UTF-8.
CODING(jvmToUtf)(JNIEnv* env, jclass, jstring text, jint n) {
  char const* utf = env->GetStringUTFChars(text, nullptr);
  jlong made = 0;
  for (jint i = 0; i < n; ++i) {
    jstring s = env->NewStringUTF(utf);
    made += s != nullptr;
    env->DeleteLocalRef(s);
  }
  env->ReleaseStringUTFChars(text, utf);
  return made;
}
