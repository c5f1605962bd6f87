// Natives of com.brenn.varnis.tq.api.jqel.JQelMonValue.
//
// Passes the monitor value's handle to the agent and returns its result code
// unchanged, without any JNI call.
#include "conventions.h"
// The declarations javac writes from the Java class: a native whose Java
// signature changed no longer matches its definition here.
#include "com_brenn_varnis_tq_api_jqel_JQelMonValue.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_brenn_varnis_tq_api_jqel_JQelMonValue_QelMonValueSend(
    JNIEnv*, jclass, jlong handle) {
  return jqel::call_agent(qelagt_monvalue_send, jqel::to_handle(handle));
}

}  // extern "C"
