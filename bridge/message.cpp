// Natives of com.brenn.varnis.tq.api.jqel.JQelMessage: the CMAs (named string
// attributes) of a message.
//
// Names are converted before values. What a call borrows and converts is
// given back by NativeStrings when the call returns, on every path. A call
// that meets a null argument, a failed JNI call or a failed conversion stops
// there with a Java exception pending and makes no further JNI call.
#include "conventions.h"

using jqel::call_agent;
using jqel::kExceptionPending;
using jqel::LocalRef;
using jqel::NameList;
using jqel::NativeStrings;
using jqel::to_handle;

extern "C" {

JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelSetCMA(
    JNIEnv* env, jobject, jlong handle, jstring name, jstring value) {
  NativeStrings<2> args(env);
  if (!args.add(name, "name") || !args.add(value, "value"))
    return kExceptionPending;
  return call_agent(qelagt_cma_set, to_handle(handle), args[0], args[1]);
}

JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelRemoveCMA(
    JNIEnv* env, jobject, jlong handle, jstring name) {
  NativeStrings<1> args(env);
  if (!args.add(name, "name")) return kExceptionPending;
  return call_agent(qelagt_cma_remove, to_handle(handle), args[0]);
}

// Reads the CMA into myQelDataString, whatever the result code: a CMA the
// agent gives no value reads as "". The value stays the agent's; it is never
// freed here.
JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelGetCMA(
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
JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelMessage_QelGetCMANames(
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
  for (int i = 0; i < list.count(); ++i) {
    LocalRef<jstring> name(env, convertStringToUTF(list[i], env));
    if (name.get() == nullptr && env->ExceptionCheck()) return rc;
    env->SetObjectArrayElement(array, i, name.get());
    if (env->ExceptionCheck()) return rc;
    list.free_name(i);
  }
  env->SetObjectField(self, field, array);
  return rc;
}

}  // extern "C"
