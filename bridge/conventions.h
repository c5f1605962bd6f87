// Conventions that every native method of this library shares: how the Java
// message handle becomes the agent's handle, how Java strings become native
// strings and back, who frees what, and how a call reports a bad argument.
//
// Everything here lives for one call at most: nothing is cached, nothing
// global is written, no lock is taken. Nothing here throws a C++ exception.
#ifndef JQEL_BRIDGE_CONVENTIONS_H
#define JQEL_BRIDGE_CONVENTIONS_H

#include <jni.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "agent/jqelagtbase.h"
#include "agent/qelagtapi.h"

namespace jqel {

// What a native returns when it stops with a Java exception pending. Java
// never sees it: the exception is thrown in the caller instead.
constexpr jint kExceptionPending = 0;

// The message handle reaches every native as a Java long. The agent takes a
// pointer-sized handle: on a 32-bit platform that is the low 32 bits and the
// high half is ignored; on a 64-bit platform it is all 64 bits, since dropping
// the high half of a pointer would hand the agent another address.
inline QelHandle to_handle(jlong handle) {
  return reinterpret_cast<QelHandle>(
      static_cast<uintptr_t>(static_cast<uint64_t>(handle)));
}

// Calls an agent operation and returns its result code.
//
// The product's agent library is bound by ordinal alone on 32-bit Windows,
// and its header is not at hand: its operations may be __cdecl (the caller
// pops the arguments) or __stdcall (the operation pops them). A call made for
// the one convention to an operation of the other leaves the stack pointer
// off by the argument bytes, and the native crashes on its next access to its
// frame. So there every agent call goes through jqel_agent_call_any
// (conventions.cpp), which restores the stack pointer it saved before pushing
// the arguments, whoever popped them. Everywhere else there is one convention
// and this is a plain call.
#if defined(_WIN32) && defined(__i386__)
extern "C" int jqel_agent_call_any(void (*operation)(void), uintptr_t a, uintptr_t b,
                                   uintptr_t c);

template <typename... P, typename... A>
inline jint call_agent(int(QELAGT_CALL* operation)(P...), A... args) {
  static_assert(sizeof...(P) == sizeof...(A) && sizeof...(P) <= 3,
                "agent operations take one to three word-sized arguments");
  uintptr_t const words[3] = {reinterpret_cast<uintptr_t>(static_cast<P>(args))...};
  return jqel_agent_call_any(reinterpret_cast<void (*)(void)>(operation), words[0],
                             words[1], words[2]);
}
#else
template <typename... P, typename... A>
inline jint call_agent(int(QELAGT_CALL* operation)(P...), A... args) {
  return operation(args...);
}
#endif

// Throws a new Java exception of class `cls` (a JNI class name) with
// `message`. If even that fails, the JVM's own exception is left pending.
void throw_new(JNIEnv* env, char const* cls, char const* message);

// Throw the Java exception of a String argument that cannot be borrowed:
// NullPointerException "<what> == null" for a null one, and
// IllegalArgumentException when the converter makes no native string of it.
// Out of line, since no call that succeeds needs them.
void throw_null_argument(JNIEnv* env, char const* what);
void throw_unconvertible(JNIEnv* env, char const* what);

// The Java String arguments of one call, as native strings, in argument
// order. The destructor gives back everything taken, in the order the
// product's libraries expect: first every UTF buffer to the JVM (allowed with
// an exception pending), then every native string to the C runtime's free().
template <size_t N>
class NativeStrings {
 public:
  explicit NativeStrings(JNIEnv* env) : env_(env) {}
  ~NativeStrings() {
    for (size_t i = 0; i < N; ++i)
      if (utf_[i] != nullptr) env_->ReleaseStringUTFChars(java_[i], utf_[i]);
    for (size_t i = 0; i < N; ++i)
      if (native_[i] != nullptr) free(native_[i]);
  }
  NativeStrings(NativeStrings const&) = delete;
  NativeStrings& operator=(NativeStrings const&) = delete;

  // Borrows the next argument's UTF characters and converts them into a
  // native string; `what` names the argument in exceptions. On failure
  // returns false with a Java exception pending: NullPointerException for a
  // null argument, the JVM's OutOfMemoryError if it cannot lend the
  // characters, IllegalArgumentException if the converter makes no native
  // string. What was taken is given back by the destructor all the same.
  bool add(jstring java, char const* what) {
    size_t i = count_++;
    java_[i] = java;
    if (java == nullptr) {
      throw_null_argument(env_, what);
      return false;
    }
    utf_[i] = env_->GetStringUTFChars(java, nullptr);
    if (utf_[i] == nullptr) return false;  // the JVM's OutOfMemoryError is pending
    native_[i] = convertStringFromUTF(utf_[i]);
    if (native_[i] == nullptr) {
      throw_unconvertible(env_, what);
      return false;
    }
    return true;
  }

  // The i-th argument's native string, owned by this object.
  char* operator[](size_t i) const { return native_[i]; }

 private:
  static_assert(N > 0, "at least one string");
  JNIEnv* env_;
  size_t count_ = 0;         // the arguments added
  jstring java_[N];          // read only where utf_ is set
  char const* utf_[N] = {};  // null: nothing borrowed
  char* native_[N] = {};     // null: nothing converted
};

// A list of CMA names that the agent handed over: once the agent succeeded,
// the array and every name in it are ours. Each name is freed as soon as the
// caller is done with it (free_name); the destructor frees every name not yet
// freed, then the array, so nothing leaks on any path.
class NameList {
 public:
  // A null array holds no names, whatever the count says.
  NameList(char** names, int count)
      : names_(names), count_(names != nullptr && count > 0 ? count : 0) {}
  ~NameList() {
    for (int i = freed_; i < count_; ++i) free(names_[i]);
    free(names_);
  }
  NameList(NameList const&) = delete;
  NameList& operator=(NameList const&) = delete;

  int count() const { return count_; }
  char* operator[](int i) const { return names_[i]; }
  // Frees name i, which must be the first name not yet freed.
  void free_name(int i) {
    free(names_[i]);
    freed_ = i + 1;
  }

 private:
  char** names_;
  int count_;
  int freed_ = 0;  // names [0, freed_) are freed
};

// A frame of local references (PushLocalFrame), popped when it goes out of
// scope, which frees every local reference made in it at once: a loop that
// makes one reference per element holds a bounded number of them when it
// works in frames of a bounded number of elements.
class LocalFrame {
 public:
  // Check pushed(): false, with the JVM's OutOfMemoryError pending, if no
  // frame for `capacity` references could be made.
  LocalFrame(JNIEnv* env, jint capacity)
      : env_(env), pushed_(env->PushLocalFrame(capacity) == 0) {}
  ~LocalFrame() {
    if (pushed_) env_->PopLocalFrame(nullptr);  // allowed with an exception pending
  }
  LocalFrame(LocalFrame const&) = delete;
  LocalFrame& operator=(LocalFrame const&) = delete;
  bool pushed() const { return pushed_; }

 private:
  JNIEnv* env_;
  bool pushed_;
};

// True if `bytes` (NUL-terminated) are modified UTF-8 as JNI defines it, the
// only bytes that NewStringUTF may be given.
bool is_modified_utf8(char const* bytes);

// Makes the Java string of a CMA value, a native string that stays the
// caller's. The converter comes first. Bytes it cannot convert still reach
// Java whole: through NewStringUTF when they are modified UTF-8, otherwise one
// char per byte of the same value (ISO-8859-1), since NewStringUTF silently
// drops characters after bytes that are not. Returns a new local reference,
// or null with a Java exception pending. Only the converter's part is
// inline: a value that converts needs none of the rest.
jstring unconverted_value_to_java(JNIEnv* env, char const* value);
inline jstring value_to_java(JNIEnv* env, char* value) {
  jstring s = convertStringToUTF(value, env);
  return s != nullptr ? s : unconverted_value_to_java(env, value);
}

}  // namespace jqel

#endif
