// Loads the built bridge library by its file name and looks its natives up by
// their exported names, as the JVM does.
//
// The same tests run against the 32-bit Windows DLL's own code (JQEL_PE_DLL):
// an i386 Linux process maps the DLL with a small PE loader (pe_loader.cpp)
// and calls each native as a 32-bit Windows JVM does, through its decorated
// export name, __stdcall, with a stack aligned to 4 bytes only. Each call
// then also checks that the native popped exactly its argument bytes and
// that it freed what the stand-ins handed it, and nothing else.
#ifndef JQEL_TESTS_BRIDGE_LIBRARY_H
#define JQEL_TESTS_BRIDGE_LIBRARY_H

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fake_jni.h"
#ifdef JQEL_PE_DLL
#include "pe_loader.h"
#endif

namespace bridge {

// The library, loaded once for the whole test program.
void* library();

// The address of an exported symbol, or null (and a test failure) if absent.
void* symbol(std::string const& name);

#ifdef JQEL_PE_DLL
// Calls a native of the DLL with its arguments as words (see pe_loader.h)
// and checks what the call did; `name` names it in failures.
jint call_dll_native(char const* name, void const* function,
                     std::vector<uint32_t> const& words);
#endif

// A native, called as the JVM calls it: with the fake JVM's JNIEnv, in a
// frame of local references of its own. Holds null if it is not exported.
template <typename F>
class Native;
template <typename... A>
class Native<jint(JNICALL*)(JNIEnv*, A...)> {
 public:
  using Function = jint(JNICALL*)(JNIEnv*, A...);
  // The bytes of its arguments on 32-bit x86, each rounded up to 4: the "@N"
  // of its export name there, and what it pops on return.
  static constexpr int kArgumentBytes =
      ((static_cast<int>(sizeof(JNIEnv*)) + 3) / 4 * 4) +
      (((static_cast<int>(sizeof(A)) + 3) / 4 * 4) + ...);

  Native(std::nullptr_t = nullptr) {}
  Native(std::string name, void* address)
      : name_(std::move(name)), function_(reinterpret_cast<Function>(address)) {}

  explicit operator bool() const { return function_ != nullptr; }
  bool operator==(std::nullptr_t) const { return function_ == nullptr; }
  bool operator!=(std::nullptr_t) const { return function_ != nullptr; }
  std::string const& name() const { return name_; }
  Function function() const { return function_; }

  jint operator()(JNIEnv* env, A... args) const {
    fake::Jvm::enter_native(env);
#ifdef JQEL_PE_DLL
    return call_dll_native(name_.c_str(), reinterpret_cast<void const*>(function_),
                           pe::to_words(env, args...));
#else
    return function_(env, args...);
#endif
  }

 private:
  std::string name_;
  Function function_ = nullptr;
};

// The natives' signatures.
using PassThrough = Native<jint(JNICALL*)(JNIEnv*, jclass, jlong)>;
using GetCma = Native<jint(JNICALL*)(JNIEnv*, jobject, jlong, jstring)>;
using SetCma = Native<jint(JNICALL*)(JNIEnv*, jobject, jlong, jstring, jstring)>;
using RemoveCma = Native<jint(JNICALL*)(JNIEnv*, jobject, jlong, jstring)>;
using GetCmaNames = Native<jint(JNICALL*)(JNIEnv*, jobject, jlong)>;

// The native `method` of class `cls` (in the library's package), by the name
// the JVM looks up: the JNI name, and on 32-bit Windows "_<JNI name>@<bytes>".
template <typename N>
N native(std::string const& cls, std::string const& method) {
  std::string name = "Java_com_brenn_varnis_tq_api_jqel_" + cls + "_" + method;
#ifdef JQEL_PE_DLL
  name = "_" + name + "@" + std::to_string(N::kArgumentBytes);
#endif
  return N(name, symbol(name));
}

}  // namespace bridge

#endif
