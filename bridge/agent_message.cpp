// Natives of com.brenn.varnis.tq.api.jqel.JQelAgentMessage.
//
// Each passes the message handle to one agent operation and returns its result
// code unchanged. They make no JNI call and never touch the environment or the
// receiver.
#include "conventions.h"
// The declarations javac writes from the Java class: a native whose Java
// signature changed no longer matches its definition here.
#include "com_brenn_varnis_tq_api_jqel_JQelAgentMessage.h"

extern "C" {

JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelAgentMessage_QelAgtMessageSend(JNIEnv*, jclass,
                                                                     jlong handle) {
  return jqel::call_agent(qelagt_message_send, jqel::to_handle(handle));
}

JNIEXPORT jint JNICALL
Java_com_brenn_varnis_tq_api_jqel_JQelAgentMessage_QelAgtMessageAck(JNIEnv*, jclass,
                                                                    jlong handle) {
  return jqel::call_agent(qelagt_message_ack, jqel::to_handle(handle));
}

}  // extern "C"
