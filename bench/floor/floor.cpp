// The floor of the benchmark: the seven natives reduced to the JNI calls,
// converter calls and agent operation that each of them must make, in the
// same order, with nothing else: no argument checks, no exception checks, no
// guards, no local references released early. What the library costs above
// this is its own overhead.
//
// Only for well-formed calls (non-null strings that convert, a receiver with
// its fields): that is all the benchmark makes.
#include <jni.h>
#include <stdint.h>
#include <stdlib.h>

#include "agent/jqelagtbase.h"
#include "agent/qelagtapi.h"

namespace {

inline QelHandle to_handle(jlong handle) {
  return reinterpret_cast<QelHandle>(
      static_cast<uintptr_t>(static_cast<uint64_t>(handle)));
}

}  // namespace

#define FLOOR(cls, name) \
  extern "C" JNIEXPORT jint JNICALL Java_jqel_bench_floor_##cls##_##name

FLOOR(FloorAgentMessage, send)(JNIEnv*, jclass, jlong handle) {
  return qelagt_message_send(to_handle(handle));
}

FLOOR(FloorAgentMessage, ack)(JNIEnv*, jclass, jlong handle) {
  return qelagt_message_ack(to_handle(handle));
}

FLOOR(FloorMonValue, send)(JNIEnv*, jclass, jlong handle) {
  return qelagt_monvalue_send(to_handle(handle));
}

FLOOR(FloorMessage, set)
(JNIEnv* env, jobject, jlong handle, jstring name, jstring value) {
  char const* name_utf = env->GetStringUTFChars(name, nullptr);
  char* native_name = convertStringFromUTF(name_utf);
  char const* value_utf = env->GetStringUTFChars(value, nullptr);
  char* native_value = convertStringFromUTF(value_utf);
  jint rc = qelagt_cma_set(to_handle(handle), native_name, native_value);
  env->ReleaseStringUTFChars(name, name_utf);
  env->ReleaseStringUTFChars(value, value_utf);
  free(native_name);
  free(native_value);
  return rc;
}

FLOOR(FloorMessage, remove)(JNIEnv* env, jobject, jlong handle, jstring name) {
  char const* name_utf = env->GetStringUTFChars(name, nullptr);
  char* native_name = convertStringFromUTF(name_utf);
  jint rc = qelagt_cma_remove(to_handle(handle), native_name);
  env->ReleaseStringUTFChars(name, name_utf);
  free(native_name);
  return rc;
}

FLOOR(FloorMessage, get)(JNIEnv* env, jobject self, jlong handle, jstring name) {
  char const* name_utf = env->GetStringUTFChars(name, nullptr);
  char* native_name = convertStringFromUTF(name_utf);
  jclass cls = env->GetObjectClass(self);
  jfieldID field = env->GetFieldID(cls, "myQelDataString", "Ljava/lang/String;");
  char* slot = nullptr;
  jint rc = qelagt_cma_get(to_handle(handle), native_name, &slot);
  char empty[] = "";
  if (slot == nullptr) slot = empty;
  jstring text = convertStringToUTF(slot, env);
  if (text == nullptr) text = env->NewStringUTF(slot);
  env->SetObjectField(self, field, text);
  env->ReleaseStringUTFChars(name, name_utf);
  free(native_name);
  return rc;
}

FLOOR(FloorMessage, names)(JNIEnv* env, jobject self, jlong handle) {
  char** names = nullptr;
  int count = 0;
  jint rc = qelagt_cma_names(to_handle(handle), &names, &count);
  if (rc != 0) {
    free(names);
    return rc;
  }
  jclass cls = env->GetObjectClass(self);
  jfieldID field = env->GetFieldID(cls, "myStringArray", "[Ljava/lang/String;");
  if (count <= 0) {
    free(names);
    return rc;
  }
  jclass string_class = env->FindClass("java/lang/String");
  jobjectArray array = env->NewObjectArray(count, string_class, nullptr);
  for (int i = 0; i < count; ++i) {
    env->SetObjectArrayElement(array, i, convertStringToUTF(names[i], env));
    free(names[i]);
  }
  env->SetObjectField(self, field, array);
  free(names);
  return rc;
}
