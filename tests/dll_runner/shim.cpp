// The 32-bit Windows DLL's own code in a real 32-bit JVM, for tests only.
//
// Built for i386 Linux under the bridge's name (libJQelAgtMsg.so), so that
// System.loadLibrary("JQelAgtMsg") in a Linux JVM loads it. When the JVM
// loads it, it maps the DLL named by JQEL_BRIDGE_DLL with the tests' PE
// loader, which binds the DLL's imports to the stand-ins beside this library.
// Each of its seven natives forwards the JVM's call, arguments unchanged, to
// the DLL's __stdcall export of the same JNI name, and returns what that
// returned.
//
// The DLL is handed not the JVM's JNIEnv but a view of it in the Windows x86
// convention: a function table of __stdcall entries, each forwarding to the
// real JNIEnv of the calling thread. A JNIEnv is valid only on its own
// thread, so the view is made anew on the stack of every call. The stand-in
// converter gets the view as the DLL passes it, as the product's converter
// gets the JVM's JNIEnv on Windows.
//
// Only the JNI functions that the DLL and the converter call are forwarded;
// any other entry stops the JVM with a message naming the function, so that
// a change which starts using a new one must add it here on purpose.
//
// After every call the shim checks what the DLL did, as the native suite does
// against the fake JNIEnv: the bytes it popped, and the loader's ledger of the
// calling thread (every block the stand-ins handed over freed once, the
// agent's CMA value never, nothing of its own left). A fault reaches Java as
// an AssertionError.
#include <jni.h>  // the Linux JDK's: the JVM calls this library as Linux code

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jni_slot_names.h"
#include "pe_loader.h"
// The natives' declarations, which javac writes from the Java classes: the
// definitions below must keep their signatures.
#include "com_brenn_varnis_tq_api_jqel_JQelAgentMessage.h"
#include "com_brenn_varnis_tq_api_jqel_JQelMessage.h"
#include "com_brenn_varnis_tq_api_jqel_JQelMonValue.h"

namespace {

// What the DLL takes for a JNIEnv: a pointer to the function table pointer,
// here followed by the JVM's own JNIEnv of the thread.
struct View {
  void* const* functions;
  JNIEnv* real;
};

// The view's entries are called by the DLL, where a 32-bit Windows thread
// keeps the stack aligned to 4 bytes only, and they call into the JVM, which
// is i386 Linux code and may assume 16: so they realign it.
#define JQEL_WINDOWS_ENTRY __attribute__((stdcall, force_align_arg_pointer))

// The entry of a forwarded slot: the same arguments, passed to the slot of
// the real JNIEnv.
template <typename F, F JNINativeInterface_::*Slot>
struct Forward;
template <typename R, typename... A, R (*JNINativeInterface_::*Slot)(JNIEnv*, A...)>
struct Forward<R (*)(JNIEnv*, A...), Slot> {
  static R JQEL_WINDOWS_ENTRY call(View* view, A... args) {
    JNIEnv* env = view->real;
    return (env->functions->*Slot)(env, args...);
  }
};

// The entry of every other slot. It never returns, so it needs to know none
// of the slot's arguments but the first.
template <size_t I>
void JQEL_WINDOWS_ENTRY trap(View* view) {
  std::string message =
      std::string("the DLL called the JNI function ") + jni_slots::kNames[I] +
      ", which the test JNIEnv does not forward (tests/dll_runner/shim.cpp)";
  view->real->FatalError(message.c_str());
}

#define JQEL_FORWARD(name)                                                              \
  table[offsetof(JNINativeInterface_, name) / sizeof(void*)] = reinterpret_cast<void*>( \
      &Forward<decltype(JNINativeInterface_::name), &JNINativeInterface_::name>::call)

// The view's function table, made once.
void* const* windows_table() {
  static void* const* const made = [] {
    static void* table[jni_slots::kSlots] = {
#define JQEL_JNI_RESERVED(name) nullptr,
#define JQEL_JNI_SLOT(name) \
  reinterpret_cast<void*>(&trap<offsetof(JNINativeInterface_, name) / sizeof(void*)>),
#include "jni_slots.inc"
#undef JQEL_JNI_RESERVED
#undef JQEL_JNI_SLOT
    };
    // What the bridge calls...
    JQEL_FORWARD(GetStringUTFChars);
    JQEL_FORWARD(ReleaseStringUTFChars);
    JQEL_FORWARD(GetObjectClass);
    JQEL_FORWARD(GetFieldID);
    JQEL_FORWARD(SetObjectField);
    JQEL_FORWARD(FindClass);
    JQEL_FORWARD(ThrowNew);
    JQEL_FORWARD(ExceptionCheck);
    JQEL_FORWARD(NewString);
    JQEL_FORWARD(NewStringUTF);
    JQEL_FORWARD(NewObjectArray);
    JQEL_FORWARD(SetObjectArrayElement);
    JQEL_FORWARD(PushLocalFrame);
    JQEL_FORWARD(PopLocalFrame);
    // ...and the stand-in converter calls only NewString and NewStringUTF.
    return table;
  }();
  return made;
}

// The DLL's natives, as the Java classes declare them (natives.inc, which
// the build writes from their declarations), by the names a 32-bit Windows
// JVM looks up: "_<JNI name>@<argument bytes>".
enum Native {
#define JQEL_NATIVE(cls, method, bytes) k##cls##_##method,
#include "natives.inc"
#undef JQEL_NATIVE
  kNatives
};
struct Export {
  char const* method;  // class_method
  int bytes;
};
constexpr Export kExports[kNatives] = {
#define JQEL_NATIVE(cls, method, bytes) {#cls "_" #method, bytes},
#include "natives.inc"
#undef JQEL_NATIVE
};
std::string export_name(Native n) {
  return "_Java_com_brenn_varnis_tq_api_jqel_" + std::string(kExports[n].method) + "@" +
         std::to_string(kExports[n].bytes);
}

// Set once, while the JVM loads this library and before it calls a native.
void* natives[kNatives];

// Maps the DLL and finds its natives; the reason if that fails.
std::string load_dll() {
  char const* path = std::getenv("JQEL_BRIDGE_DLL");
  if (path == nullptr) return "set JQEL_BRIDGE_DLL to the DLL to run";
  std::string error;
  void* dll = pe::load(path, &error);
  if (dll == nullptr) return error;
  for (int n = 0; n < kNatives; ++n) {
    natives[n] = pe::find_export(dll, export_name(static_cast<Native>(n)));
    if (natives[n] == nullptr)
      return std::string(path) + " has no export " + export_name(static_cast<Native>(n));
  }
  return "";
}

// Calls a native of the DLL as a 32-bit Windows JVM may: with the view for
// its JNIEnv, on a stack 4, 8 or 12 bytes above a 16-byte boundary in turn.
template <typename... A>
jint call_dll(JNIEnv* env, Native n, A... args) {
  thread_local int calls = 0;
  View view{windows_table(), env};
  std::vector<uint32_t> words = pe::to_words(&view, args...);
  int count = static_cast<int>(words.size());
  pe::begin_call();
  pe::Call c = pe::call(natives[n], words.data(), count, 4 + 4 * (calls++ % 3));
  std::vector<std::string> faults = pe::end_call();
  if (c.popped != 4 * count)
    faults.push_back("popped " + std::to_string(c.popped) + " bytes of " +
                     std::to_string(4 * count));
  if (!faults.empty()) {
    std::string message = export_name(n);
    for (auto const& f : faults) message += "; " + f;
    if (env->ExceptionCheck())
      env->ExceptionClear();  // the fault is what the test must see
    jclass error = env->FindClass("java/lang/AssertionError");
    if (error != nullptr) env->ThrowNew(error, message.c_str());
  }
  return static_cast<jint>(c.result);
}

}  // namespace

extern "C" {

// Maps the DLL when the JVM loads this library; a DLL that cannot be mapped
// fails the load with the loader's reason.
JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8) != JNI_OK)
    return JNI_ERR;
  std::string error = load_dll();
  if (error.empty()) return JNI_VERSION_1_8;
  jclass link_error = env->FindClass("java/lang/UnsatisfiedLinkError");
  if (link_error != nullptr) env->ThrowNew(link_error, error.c_str());
  return JNI_ERR;
}

JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelAgentMessage_QelAgtMessageSend(JNIEnv* env,
                                                                     jclass cls,
                                                                     jlong handle) {
  return call_dll(env, kJQelAgentMessage_QelAgtMessageSend, cls, handle);
}

JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelAgentMessage_QelAgtMessageAck(JNIEnv* env,
                                                                    jclass cls,
                                                                    jlong handle) {
  return call_dll(env, kJQelAgentMessage_QelAgtMessageAck, cls, handle);
}

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMonValue_QelMonValueSend(
    JNIEnv* env, jclass cls, jlong handle) {
  return call_dll(env, kJQelMonValue_QelMonValueSend, cls, handle);
}

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelSetCMA(
    JNIEnv* env, jobject self, jlong handle, jstring name, jstring value) {
  return call_dll(env, kJQelMessage_QelSetCMA, self, handle, name, value);
}

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelGetCMA(
    JNIEnv* env, jobject self, jlong handle, jstring name) {
  return call_dll(env, kJQelMessage_QelGetCMA, self, handle, name);
}

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelRemoveCMA(
    JNIEnv* env, jobject self, jlong handle, jstring name) {
  return call_dll(env, kJQelMessage_QelRemoveCMA, self, handle, name);
}

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelGetCMANames(
    JNIEnv* env, jobject self, jlong handle) {
  return call_dll(env, kJQelMessage_QelGetCMANames, self, handle);
}

}  // extern "C"
