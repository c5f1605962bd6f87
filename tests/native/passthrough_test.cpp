// The three pass-through natives: the handle reaches the agent at pointer
// width, the result code comes back unchanged, and no JNI function is called.
#include <gtest/gtest.h>

#include <cstdint>

#include "qelagt_standin.h"
#include "bridge_library.h"
#include "fake_jni.h"

namespace {

struct PassThroughNative {
  char const* cls;
  char const* method;
  int op;
};

PassThroughNative const kNatives[] = {
    {"JQelAgentMessage", "QelAgtMessageSend", QELSTUB_OP_MESSAGE_SEND},
    {"JQelAgentMessage", "QelAgtMessageAck", QELSTUB_OP_MESSAGE_ACK},
    {"JQelMonValue", "QelMonValueSend", QELSTUB_OP_MONVALUE_SEND},
};

// The handle as the agent sees it: every bit that fits in a pointer.
uint64_t pointer_width(jlong handle) {
  return static_cast<uint64_t>(handle) &
         (sizeof(void*) == 8 ? UINT64_MAX : UINT64_C(0xFFFFFFFF));
}

TEST(PassThrough, HandleAndResultCodePassUnchangedWithoutJni) {
  jlong const handles[] = {0, -1, INT64_MIN, 0x1234567800000042};
  jint const codes[] = {0, 1, -1, INT32_MIN, INT32_MAX};
  qelstub_reset();
  for (auto const& n : kNatives) {
    auto call = bridge::native<bridge::PassThrough>(n.cls, n.method);
    ASSERT_NE(call, nullptr);
    for (jlong handle : handles) {
      for (jint code : codes) {
        SCOPED_TRACE(std::string(n.method) + " handle " + std::to_string(handle) +
                     " code " + std::to_string(code));
        fake::Jvm jvm;
        qelstub_force_next_result(n.op, code);
        EXPECT_EQ(call(jvm.env(), nullptr, handle), code);
        EXPECT_EQ(qelstub_last_handle(n.op), pointer_width(handle));
        EXPECT_TRUE(jvm.calls().empty());
      }
    }
  }
}

TEST(PassThrough, RealAgentCallsReachTheObject) {
  qelstub_reset();
  uint64_t message = qelstub_new_message();
  uint64_t monvalue = qelstub_new_monvalue();
  auto send =
      bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageSend");
  auto ack = bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageAck");
  auto mon = bridge::native<bridge::PassThrough>("JQelMonValue", "QelMonValueSend");
  ASSERT_TRUE(send && ack && mon);
  fake::Jvm jvm;
  auto h = [](uint64_t v) { return static_cast<jlong>(v); };
  EXPECT_EQ(ack(jvm.env(), nullptr, h(message)), QELSTUB_E_NOT_SENT);
  EXPECT_EQ(send(jvm.env(), nullptr, h(message)), QELSTUB_OK);
  EXPECT_EQ(ack(jvm.env(), nullptr, h(message)), QELSTUB_OK);
  EXPECT_EQ(mon(jvm.env(), nullptr, h(monvalue)), QELSTUB_OK);
  EXPECT_EQ(mon(jvm.env(), nullptr, h(message)), QELSTUB_E_WRONG_KIND);
  EXPECT_EQ(qelstub_sent_count(message), 1);
  EXPECT_EQ(qelstub_ack_count(message), 1);
  EXPECT_EQ(qelstub_sent_count(monvalue), 1);
  EXPECT_TRUE(jvm.calls().empty());
}

}  // namespace
