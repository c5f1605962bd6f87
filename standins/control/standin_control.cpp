// JNI binding of the stand-ins' control interface for jqel.standin.StandIn.
// Test and demo support only; never shipped.
#include <jni.h>

#include <string>

#include "jqelagtbase_standin.h"
#include "qelagt_standin.h"

namespace {

std::string bytes(JNIEnv* env, jbyteArray array) {
  std::string s(static_cast<size_t>(env->GetArrayLength(array)), '\0');
  env->GetByteArrayRegion(array, 0, static_cast<jsize>(s.size()),
                          reinterpret_cast<jbyte*>(&s[0]));
  return s;
}

jbyteArray to_java(JNIEnv* env, int (*read)(int, char*, int), int op) {
  int n = read(op, nullptr, 0);
  if (n < 0) return nullptr;
  std::string s(static_cast<size_t>(n) + 1, '\0');
  read(op, &s[0], n + 1);
  jbyteArray array = env->NewByteArray(n);
  if (array)
    env->SetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte const*>(s.data()));
  return array;
}

}  // namespace

#define STANDIN(ret, name) \
  extern "C" JNIEXPORT ret JNICALL Java_jqel_standin_StandIn_##name

STANDIN(void, reset)(JNIEnv*, jclass) { qelstub_reset(); }
STANDIN(jlong, newMessage)(JNIEnv*, jclass) {
  return static_cast<jlong>(qelstub_new_message());
}
STANDIN(jlong, newMonValue)(JNIEnv*, jclass) {
  return static_cast<jlong>(qelstub_new_monvalue());
}
STANDIN(void, destroy)(JNIEnv*, jclass, jlong h) {
  qelstub_destroy(static_cast<uint64_t>(h));
}
STANDIN(jint, sentCount)(JNIEnv*, jclass, jlong h) {
  return qelstub_sent_count(static_cast<uint64_t>(h));
}
STANDIN(jint, ackCount)(JNIEnv*, jclass, jlong h) {
  return qelstub_ack_count(static_cast<uint64_t>(h));
}
STANDIN(jint, putCma)(JNIEnv* env, jclass, jlong h, jbyteArray name, jbyteArray value) {
  return qelstub_put_cma(static_cast<uint64_t>(h), bytes(env, name).c_str(),
                         bytes(env, value).c_str());
}
STANDIN(void, forceNextResult)(JNIEnv*, jclass, jint op, jint code) {
  qelstub_force_next_result(op, code);
}
STANDIN(void, nextGetLeavesSlotNull)(JNIEnv*, jclass, jint code) {
  qelstub_next_get_leaves_slot_null(code);
}
STANDIN(void, nextGetLeaves)(JNIEnv* env, jclass, jint code, jbyteArray value) {
  qelstub_next_get_leaves(code, bytes(env, value).c_str());
}
STANDIN(void, nextNamesCount)(JNIEnv*, jclass, jint count) {
  qelstub_next_names_count(count);
}
STANDIN(jlong, heapInUse)(JNIEnv*, jclass) {
  return static_cast<jlong>(qelstub_heap_in_use());
}
STANDIN(void, failNextFromUtf)(JNIEnv*, jclass, jint skip) {
  qelconv_fail_next_from_utf(skip);
}
STANDIN(void, setRecording)(JNIEnv*, jclass, jboolean on) {
  qelstub_set_recording(on ? 1 : 0);
}
STANDIN(jlong, calls)(JNIEnv*, jclass, jint op) {
  return static_cast<jlong>(qelstub_calls(op));
}
STANDIN(jlong, lastHandle)(JNIEnv*, jclass, jint op) {
  return static_cast<jlong>(qelstub_last_handle(op));
}
STANDIN(jbyteArray, lastName)(JNIEnv* env, jclass, jint op) {
  return to_java(env, qelstub_last_name, op);
}
STANDIN(jbyteArray, lastValue)(JNIEnv* env, jclass, jint op) {
  return to_java(env, qelstub_last_value, op);
}
