#include "conventions.h"

#include <string.h>

#if !defined(_WIN32) && defined(JQEL_VERSION)
// The library's version in the file, as what(1) finds "@(#)" strings: the
// loading doctor reads it from the library it finds. A string, not a symbol,
// so that the library still exports the JNI names alone. (The Windows DLL
// carries its version in its version resource.)
[[gnu::used]] static const char version_string[] = "@(#)JQelAgtMsg " JQEL_VERSION;
#endif

#if defined(_WIN32) && defined(__i386__)
// int jqel_agent_call_any(operation, a, b, c), called as __cdecl: pushes c,
// b, a, calls the operation, and restores the stack pointer from the frame
// pointer, so that it does not matter whether the operation popped its
// arguments. An operation that takes fewer than three reads only the first
// ones, and a __stdcall one pops only its own.
extern "C" __attribute__((naked)) int jqel_agent_call_any(void (*)(void), uintptr_t,
                                                          uintptr_t, uintptr_t) {
  __asm__(
      "pushl %ebp\n\t"
      "movl %esp, %ebp\n\t"
      "pushl 20(%ebp)\n\t"
      "pushl 16(%ebp)\n\t"
      "pushl 12(%ebp)\n\t"
      "call *8(%ebp)\n\t"
      "movl %ebp, %esp\n\t"
      "popl %ebp\n\t"
      "ret");
}
#endif

namespace jqel {

void throw_new(JNIEnv* env, char const* cls, char const* message) {
  jclass c = env->FindClass(cls);
  if (c != nullptr) env->ThrowNew(c, message);
}

namespace {

// `what` followed by `text`, cut to fit the buffer: the message of an
// exception about the argument `what`.
template <size_t N>
char const* message_about(char (&buffer)[N], char const* what, char const* text) {
  size_t n = strlen(what);
  if (n > N - 1) n = N - 1;
  memcpy(buffer, what, n);
  size_t m = strlen(text);
  if (m > N - 1 - n) m = N - 1 - n;
  memcpy(buffer + n, text, m);
  buffer[n + m] = '\0';
  return buffer;
}

}  // namespace

void throw_null_argument(JNIEnv* env, char const* what) {
  char message[96];
  throw_new(env, "java/lang/NullPointerException",
            message_about(message, what, " == null"));
}

void throw_unconvertible(JNIEnv* env, char const* what) {
  char message[96];
  throw_new(env, "java/lang/IllegalArgumentException",
            message_about(message, what,
                          " cannot be converted to the agent's native encoding"));
}

namespace {

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// One char per byte, of the byte's value.
jstring latin1_to_java(JNIEnv* env, char const* bytes) {
  size_t n = strlen(bytes);
  if (n > 0x7FFFFFFF) {
    throw_new(env, "java/lang/OutOfMemoryError", "CMA value too long for a Java string");
    return nullptr;
  }
  jchar* chars = static_cast<jchar*>(malloc(n > 0 ? n * sizeof(jchar) : 1));
  if (chars == nullptr) {
    throw_new(env, "java/lang/OutOfMemoryError", "no memory for a CMA value");
    return nullptr;
  }
  for (size_t i = 0; i < n; ++i) chars[i] = static_cast<unsigned char>(bytes[i]);
  jstring s = env->NewString(chars, static_cast<jsize>(n));
  free(chars);
  return s;
}

}  // namespace

bool is_modified_utf8(char const* bytes) {
  auto const* s = reinterpret_cast<unsigned char const*>(bytes);
  while (*s != 0) {
    if (s[0] < 0x80) {
      s += 1;
    } else if ((s[0] & 0xE0) == 0xC0 && continuation(s[1])) {
      // Two bytes carry U+0080 to U+07FF, or U+0000 as C0 80.
      if (s[0] < 0xC2 && !(s[0] == 0xC0 && s[1] == 0x80)) return false;
      s += 2;
    } else if ((s[0] & 0xF0) == 0xE0 && continuation(s[1]) && continuation(s[2])) {
      // Three bytes carry U+0800 to U+FFFF, surrogates included.
      if (s[0] == 0xE0 && s[1] < 0xA0) return false;
      s += 3;
    } else {
      return false;
    }
  }
  return true;
}

jstring unconverted_value_to_java(JNIEnv* env, char const* value) {
  if (env->ExceptionCheck()) return nullptr;  // the converter's exception
  if (is_modified_utf8(value)) return env->NewStringUTF(value);
  return latin1_to_java(env, value);
}

}  // namespace jqel
