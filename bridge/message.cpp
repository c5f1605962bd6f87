// Natives of com.brenn.varnis.tq.api.jqel.JQelMessage: the CMAs (named string
// attributes) of a message.
//
// Names are converted before values. What a call borrows and converts is
// given back by NativeStrings when the call returns, on every path. A call
// that meets a null argument, a failed JNI call or a failed conversion stops
// there with a Java exception pending and makes no further JNI call but those
// that give back what it took.
#include "conventions.h"
// The declarations javac writes from the Java class: a native whose Java
// signature changed no longer matches its definition here.
#include "com_brenn_varnis_tq_api_jqel_JQelMessage.h"

using jqel::call_agent;
using jqel::kExceptionPending;
using jqel::LocalFrame;
using jqel::NameList;
using jqel::NativeStrings;
using jqel::to_handle;

namespace {

// Local references that JNI guarantees a native's own frame, and those the
// listing holds there throughout: the receiver's class, String's class and
// the array.
constexpr int kNativeFrameRoom = 16;
constexpr int kListingRefs = 3;

// Room kept for each name: its string, and three references that the
// converter may make and leave to the JVM, which the listing cannot delete.
// The product's converter is closed; one that builds the string the obvious
// way, with new String(byte[], charsetName), leaves String's class, the byte
// array and the charset's name. One that leaves more still works, as JNI
// lets the JVM make references beyond the room asked for, and each frame's
// are freed when it is popped.
constexpr int kRefsPerName = 4;

// Names converted in the native's own frame, beside the listing's
// references: a short list needs no frame of its own.
constexpr int kNamesInNativeFrame = (kNativeFrameRoom - kListingRefs) / kRefsPerName;

// Names converted in each frame of local references after those, which is
// pushed with room for kRefsPerName each. A frame costs two JNI calls where
// deleting each string would cost one per name.
constexpr int kNamesPerFrame = 64;

// Converts names [from, to) of the list into the array, freeing each name as
// soon as its string is stored. False, with a Java exception pending, if a
// string could not be made. Inline, where the compiler agrees: called out of
// line it cost more than all else the listing adds to its floor.
inline bool store_names(JNIEnv* env, jobjectArray array, NameList& list, int from,
                        int to) {
  for (int i = from; i < to; ++i) {
    jstring name = convertStringToUTF(list[i], env);
    if (name == nullptr && env->ExceptionCheck()) return false;
    // A String or null, at an index inside a String[]: this cannot throw.
    env->SetObjectArrayElement(array, i, name);
    list.free_name(i);
  }
  return true;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelSetCMA(
    JNIEnv* env, jobject, jlong handle, jstring name, jstring value) {
  NativeStrings<2> args(env);
  if (!args.add(name, "name") || !args.add(value, "value")) return kExceptionPending;
  return call_agent(qelagt_cma_set, to_handle(handle), args[0], args[1]);
}

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelRemoveCMA(
    JNIEnv* env, jobject, jlong handle, jstring name) {
  NativeStrings<1> args(env);
  if (!args.add(name, "name")) return kExceptionPending;
  return call_agent(qelagt_cma_remove, to_handle(handle), args[0]);
}

// Reads the CMA into myQelDataString, whatever the result code: a CMA the
// agent gives no value reads as "". The value stays the agent's; it is never
// freed here.
JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelGetCMA(
    JNIEnv* env, jobject self, jlong handle, jstring name) {
  NativeStrings<1> args(env);
  if (!args.add(name, "name")) return kExceptionPending;

  jclass cls = env->GetObjectClass(self);
  if (cls == nullptr) return kExceptionPending;
  jfieldID field = env->GetFieldID(cls, "myQelDataString", "Ljava/lang/String;");
  if (field == nullptr) return kExceptionPending;  // NoSuchFieldError

  // This call's own slot, so that no call ever sees another call's value.
  char* slot = nullptr;
  jint rc = call_agent(qelagt_cma_get, to_handle(handle), args[0], &slot);
  char empty[] = "";
  jstring text = jqel::value_to_java(env, slot != nullptr ? slot : empty);
  if (text == nullptr) return rc;  // Java sees the pending exception
  env->SetObjectField(self, field, text);
  return rc;
}

// Lists the message's CMA names into myStringArray, in the agent's order. A
// name the converter cannot turn into a Java string is a null element. A call
// that fails or finds no names leaves the field as it was.
JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelGetCMANames(
    JNIEnv* env, jobject self, jlong handle) {
  char** names = nullptr;
  int count = 0;
  jint rc = call_agent(qelagt_cma_names, to_handle(handle), &names, &count);
  if (rc != 0) {
    free(names);  // all that is ours after a failure
    return rc;
  }
  NameList list(names, count);  // frees whatever is left on every return

  jclass cls = env->GetObjectClass(self);
  if (cls == nullptr) return rc;  // Java sees the pending exception
  jfieldID field = env->GetFieldID(cls, "myStringArray", "[Ljava/lang/String;");
  if (field == nullptr || list.count() == 0) return rc;

  jclass string_class = env->FindClass("java/lang/String");
  if (string_class == nullptr) return rc;
  jobjectArray array = env->NewObjectArray(list.count(), string_class, nullptr);
  if (array == nullptr) return rc;
  // The first names' strings stay in the native's own frame; the rest are
  // made in frames of their own, each popped (its strings freed, the array
  // keeping them) before the next is pushed. So the call holds a bounded
  // number of local references whatever the list's length.
  int i = list.count() < kNamesInNativeFrame ? list.count() : kNamesInNativeFrame;
  if (!store_names(env, array, list, 0, i)) return rc;
  while (i < list.count()) {
    int end = list.count() - i > kNamesPerFrame ? i + kNamesPerFrame : list.count();
    LocalFrame frame(env, (end - i) * kRefsPerName);
    if (!frame.pushed() || !store_names(env, array, list, i, end)) return rc;
    i = end;
  }
  env->SetObjectField(self, field, array);
  return rc;
}

}  // extern "C"
