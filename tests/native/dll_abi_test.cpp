// What only the 32-bit Windows DLL's own code can get wrong: each native runs
// on a stack aligned to 4 bytes only, as a 32-bit Windows JVM may call it
// (code that assumes 16 faults on a misaligned SSE access), and returns with
// exactly its argument bytes popped (__stdcall). Loading the DLL already
// proved its relocations, its imports and its entry point.
#include <gtest/gtest.h>

#include <functional>

#include "../../standins/qelagtapi/qelagt_standin.h"
#include "bridge_library.h"
#include "fake_jni.h"
#include "pe_loader.h"

namespace {

TEST(DllAbi, EveryNativeRunsOnAStackAlignedTo4BytesOnlyAndPopsExactlyItsArguments) {
  qelstub_reset();
  fake::Jvm jvm;
  jobject self = jvm.message();
  auto message = static_cast<jlong>(qelstub_new_message());
  auto monvalue = static_cast<jlong>(qelstub_new_monvalue());
  JNIEnv* env = jvm.env();
  struct Row {
    std::string name;
    void const* function;
    int bytes;
    std::function<std::vector<uint32_t>()> words;
  };
  auto row = [](auto native, std::function<std::vector<uint32_t>()> words) {
    return Row{native.name(), reinterpret_cast<void const*>(native.function()),
               decltype(native)::kArgumentBytes, words};
  };
  // In an order in which every call succeeds: send before acknowledge, set
  // before get, names and remove.
  Row const rows[] = {
      row(bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageSend"),
          [&] { return pe::to_words(env, jclass{}, message); }),
      row(bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageAck"),
          [&] { return pe::to_words(env, jclass{}, message); }),
      row(bridge::native<bridge::PassThrough>("JQelMonValue", "QelMonValueSend"),
          [&] { return pe::to_words(env, jclass{}, monvalue); }),
      row(bridge::native<bridge::SetCma>("JQelMessage", "QelSetCMA"),
          [&] { return pe::to_words(env, self, message, jvm.utf8("k"), jvm.utf8("v")); }),
      row(bridge::native<bridge::GetCma>("JQelMessage", "QelGetCMA"),
          [&] { return pe::to_words(env, self, message, jvm.utf8("k")); }),
      row(bridge::native<bridge::GetCmaNames>("JQelMessage", "QelGetCMANames"),
          [&] { return pe::to_words(env, self, message); }),
      row(bridge::native<bridge::RemoveCma>("JQelMessage", "QelRemoveCMA"),
          [&] { return pe::to_words(env, self, message, jvm.utf8("k")); }),
  };
  for (int misalign : {4, 8, 12}) {
    for (auto const& r : rows) {
      SCOPED_TRACE(r.name + " with the stack " + std::to_string(misalign) +
                   " bytes above a 16-byte boundary");
      ASSERT_NE(r.function, nullptr);
      std::vector<uint32_t> words = r.words();
      ASSERT_EQ(words.size() * 4, static_cast<size_t>(r.bytes));
      pe::begin_call();
      pe::Call c = pe::call(r.function, words.data(), static_cast<int>(words.size()), misalign);
      EXPECT_EQ(c.popped, r.bytes);
      EXPECT_EQ(c.result, 0u);
      EXPECT_EQ(pe::end_call(), std::vector<std::string>{});
      EXPECT_FALSE(jvm.exception_pending());
    }
  }
  EXPECT_EQ(qelstub_sent_count(static_cast<uint64_t>(message)), 3);
  EXPECT_EQ(qelstub_ack_count(static_cast<uint64_t>(message)), 3);
  EXPECT_EQ(fake::Jvm::text(jvm.field(self, "myQelDataString")), u"v");
}

}  // namespace
