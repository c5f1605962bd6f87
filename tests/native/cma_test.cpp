// The CMA natives (set, get, remove) against the fake JVM: the exact JNI calls
// in order on every path, every borrowed UTF buffer handed back once (the fake
// JVM checks), every native string freed (LeakSanitizer checks) and the
// agent's value never freed (AddressSanitizer checks).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "jqelagtbase_standin.h"
#include "qelagt_standin.h"
#include "bridge_library.h"
#include "fake_jni.h"

namespace {

using Calls = std::vector<std::string>;

class Cma : public ::testing::Test {
 public:  // the table rows below call the natives through the fixture
  void SetUp() override {
    qelstub_reset();
    handle = static_cast<jlong>(qelstub_new_message());
    self = jvm.message();
    set = bridge::native<bridge::SetCma>("JQelMessage", "QelSetCMA");
    get = bridge::native<bridge::GetCma>("JQelMessage", "QelGetCMA");
    remove = bridge::native<bridge::RemoveCma>("JQelMessage", "QelRemoveCMA");
    ASSERT_TRUE(set && get && remove);
  }

  // The receiver's myQelDataString, as text.
  std::u16string data() const {
    return fake::Jvm::text(jvm.field(self, "myQelDataString"));
  }

  // Reads `name` after planting a CMA with raw native bytes as its value.
  jint get_planted(std::string const& bytes) {
    qelstub_put_cma(static_cast<uint64_t>(handle), "k", bytes.c_str());
    jvm.clear_calls();
    return get(jvm.env(), self, handle, jvm.utf8("k"));
  }

  fake::Jvm jvm;
  jlong handle = 0;
  jobject self = nullptr;
  bridge::SetCma set = nullptr;
  bridge::GetCma get = nullptr;
  bridge::RemoveCma remove = nullptr;
};

TEST_F(Cma, SuccessfulCallsMakeTheseJniCallsInThisOrder) {
  EXPECT_EQ(set(jvm.env(), self, handle, jvm.utf8("name"), jvm.utf8("välue")), 0);
  EXPECT_EQ(jvm.calls(), (Calls{"GetStringUTFChars", "GetStringUTFChars",
                                "ReleaseStringUTFChars", "ReleaseStringUTFChars"}));
  EXPECT_EQ(jvm.released(), (std::vector<std::u16string>{u"name", u"välue"}));
  char received[16];
  qelstub_last_name(QELSTUB_OP_CMA_SET, received, sizeof received);
  EXPECT_STREQ(received, "name");
  qelstub_last_value(QELSTUB_OP_CMA_SET, received, sizeof received);
  EXPECT_STREQ(received, "v\xC3\xA4lue");

  jvm.clear_calls();
  EXPECT_EQ(get(jvm.env(), self, handle, jvm.utf8("name")), 0);
  EXPECT_EQ(jvm.calls(), (Calls{"GetStringUTFChars", "GetObjectClass", "GetFieldID",
                                "NewString", "SetObjectField", "ReleaseStringUTFChars"}));
  EXPECT_EQ(data(), u"välue");

  jvm.clear_calls();
  EXPECT_EQ(remove(jvm.env(), self, handle, jvm.utf8("name")), 0);
  EXPECT_EQ(jvm.calls(), (Calls{"GetStringUTFChars", "ReleaseStringUTFChars"}));
  EXPECT_EQ(get(jvm.env(), self, handle, jvm.utf8("name")), QELSTUB_E_NO_SUCH_CMA);
  EXPECT_EQ(data(), u"");
}

TEST_F(Cma, GetStoresAFreshValueOrEmptyWhateverTheResult) {
  struct Case {
    char const* label;
    std::function<void()> arrange;
    jint rc;
  };
  Case const cases[] = {
      {"slot left null, success", [] { qelstub_next_get_leaves_slot_null(0); }, 0},
      {"slot left null, failure", [] { qelstub_next_get_leaves_slot_null(-7); }, -7},
      {"forced failure", [] { qelstub_force_next_result(QELSTUB_OP_CMA_GET, 9); }, 9},
      {"no such CMA", [] {}, QELSTUB_E_NO_SUCH_CMA},
  };
  // A value read before must never show through: each call has its own slot.
  ASSERT_EQ(set(jvm.env(), self, handle, jvm.utf8("old"), jvm.utf8("stale")), 0);
  for (auto const& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(get(jvm.env(), self, handle, jvm.utf8("old")), 0);
    ASSERT_EQ(data(), u"stale");
    c.arrange();
    EXPECT_EQ(get(jvm.env(), self, handle, jvm.utf8("missing")), c.rc);
    EXPECT_EQ(data(), u"");
  }
}

TEST_F(Cma, ValueBytesTheConverterRejectsReachJavaWhole) {
  struct Case {
    char const* label;
    std::string bytes;
    std::u16string expected;
    char const* fallback;  // the JNI function that makes the string instead
  };
  Case const cases[] = {
      {"valid native text", "caf\xC3\xA9", u"café", nullptr},
      {"stray continuation byte",
       "A\x80"
       "B",
       u"A\u0080B", "NewString"},
      {"Latin-1 bytes", "caf\xE9", u"caf\u00E9", "NewString"},
      {"bytes FF FE", "\xFF\xFE", u"\u00FF\u00FE", "NewString"},
      {"overlong slash", "\xC0\xAF", u"\u00C0\u00AF", "NewString"},
      {"overlong three-byte", "\xE0\x81\x81", u"\u00E0\u0081\u0081", "NewString"},
      {"truncated sequence", "ab\xE2\x82", u"ab\u00E2\u0082", "NewString"},
      {"surrogate pair as two 3-byte forms", "\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600",
       "NewStringUTF"},
      {"NUL as C0 80 beside a stray byte", "\xC0\x80\x80", u"\u00C0\u0080\u0080",
       "NewString"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(get_planted(c.bytes), 0);
    EXPECT_EQ(data(), c.expected);
    Calls expected = {"GetStringUTFChars", "GetObjectClass", "GetFieldID"};
    if (c.fallback) {
      expected.insert(expected.end(), {"ExceptionCheck", c.fallback});
    } else {
      expected.push_back("NewString");
    }
    expected.insert(expected.end(), {"SetObjectField", "ReleaseStringUTFChars"});
    EXPECT_EQ(jvm.calls(), expected);
  }
}

// One row per way a call can stop early. Each leaves a Java exception
// pending, makes no JNI call after the failure but the releases, and calls the
// agent only if the failure came after it.
TEST_F(Cma, FailuresStopTheCallAndReleaseEverythingTaken) {
  struct Case {
    char const* label;
    std::function<void(fake::Jvm&)> arrange;
    std::function<jint(Cma&)> call;
    int op;
    Calls calls;
    char const* exception;
    char const* message;  // "" when any
    bool agent_called;
  };
  auto set_n_v = [](Cma& t) {
    return t.set(t.jvm.env(), t.self, t.handle, t.jvm.utf8("n"), t.jvm.utf8("v"));
  };
  auto get_n = [](Cma& t) {
    return t.get(t.jvm.env(), t.self, t.handle, t.jvm.utf8("n"));
  };
  auto remove_n = [](Cma& t) {
    return t.remove(t.jvm.env(), t.self, t.handle, t.jvm.utf8("n"));
  };
  auto none = [](fake::Jvm&) {};
  Calls const throws = {"FindClass", "ThrowNew"};
  Case const cases[] = {
      {"set: null name", none,
       [](Cma& t) {
         return t.set(t.jvm.env(), t.self, t.handle, nullptr, t.jvm.utf8("v"));
       },
       QELSTUB_OP_CMA_SET, throws, "java/lang/NullPointerException", "name == null",
       false},
      {"set: null value",
       none,
       [](Cma& t) {
         return t.set(t.jvm.env(), t.self, t.handle, t.jvm.utf8("n"), nullptr);
       },
       QELSTUB_OP_CMA_SET,
       {"GetStringUTFChars", "FindClass", "ThrowNew", "ReleaseStringUTFChars"},
       "java/lang/NullPointerException",
       "value == null",
       false},
      {"get: null name", none,
       [](Cma& t) { return t.get(t.jvm.env(), t.self, t.handle, nullptr); },
       QELSTUB_OP_CMA_GET, throws, "java/lang/NullPointerException", "name == null",
       false},
      {"remove: null name", none,
       [](Cma& t) { return t.remove(t.jvm.env(), t.self, t.handle, nullptr); },
       QELSTUB_OP_CMA_REMOVE, throws, "java/lang/NullPointerException", "name == null",
       false},
      {"set: name not borrowed",
       [](fake::Jvm& j) { j.fail("GetStringUTFChars"); },
       set_n_v,
       QELSTUB_OP_CMA_SET,
       {"GetStringUTFChars"},
       "java/lang/OutOfMemoryError",
       "",
       false},
      {"set: value not borrowed",
       [](fake::Jvm& j) { j.fail("GetStringUTFChars", 1); },
       set_n_v,
       QELSTUB_OP_CMA_SET,
       {"GetStringUTFChars", "GetStringUTFChars", "ReleaseStringUTFChars"},
       "java/lang/OutOfMemoryError",
       "",
       false},
      {"set: name not converted",
       [](fake::Jvm&) { qelconv_fail_next_from_utf(0); },
       set_n_v,
       QELSTUB_OP_CMA_SET,
       {"GetStringUTFChars", "FindClass", "ThrowNew", "ReleaseStringUTFChars"},
       "java/lang/IllegalArgumentException",
       "name cannot be converted",
       false},
      {"set: value not converted",
       [](fake::Jvm&) { qelconv_fail_next_from_utf(1); },
       set_n_v,
       QELSTUB_OP_CMA_SET,
       {"GetStringUTFChars", "GetStringUTFChars", "FindClass", "ThrowNew",
        "ReleaseStringUTFChars", "ReleaseStringUTFChars"},
       "java/lang/IllegalArgumentException",
       "value cannot be converted",
       false},
      {"remove: name not converted",
       [](fake::Jvm&) { qelconv_fail_next_from_utf(0); },
       remove_n,
       QELSTUB_OP_CMA_REMOVE,
       {"GetStringUTFChars", "FindClass", "ThrowNew", "ReleaseStringUTFChars"},
       "java/lang/IllegalArgumentException",
       "name cannot be converted",
       false},
      {"get: name not converted",
       [](fake::Jvm&) { qelconv_fail_next_from_utf(0); },
       get_n,
       QELSTUB_OP_CMA_GET,
       {"GetStringUTFChars", "FindClass", "ThrowNew", "ReleaseStringUTFChars"},
       "java/lang/IllegalArgumentException",
       "name cannot be converted",
       false},
      {"get: no class",
       [](fake::Jvm& j) { j.fail("GetObjectClass"); },
       get_n,
       QELSTUB_OP_CMA_GET,
       {"GetStringUTFChars", "GetObjectClass", "ReleaseStringUTFChars"},
       "java/lang/OutOfMemoryError",
       "",
       false},
      {"get: no field ID",
       [](fake::Jvm& j) { j.fail("GetFieldID"); },
       get_n,
       QELSTUB_OP_CMA_GET,
       {"GetStringUTFChars", "GetObjectClass", "GetFieldID", "ReleaseStringUTFChars"},
       "java/lang/NoSuchFieldError",
       "myQelDataString",
       false},
      {"get: receiver class lacks the field",
       none,
       [](Cma& t) {
         jobject other =
             t.jvm.instance("com/brenn/varnis/tq/api/jqel/JQelMessage$Old", {});
         return t.get(t.jvm.env(), other, t.handle, t.jvm.utf8("n"));
       },
       QELSTUB_OP_CMA_GET,
       {"GetStringUTFChars", "GetObjectClass", "GetFieldID", "ReleaseStringUTFChars"},
       "java/lang/NoSuchFieldError",
       "myQelDataString",
       false},
      // The library's own exception cannot be made: FindClass leaves the
      // JVM's exception pending instead, and ThrowNew is never called.
      {"set: null value, exception class not found",
       [](fake::Jvm& j) { j.fail("FindClass"); },
       [](Cma& t) {
         return t.set(t.jvm.env(), t.self, t.handle, t.jvm.utf8("n"), nullptr);
       },
       QELSTUB_OP_CMA_SET,
       {"GetStringUTFChars", "FindClass", "ReleaseStringUTFChars"},
       "java/lang/NoClassDefFoundError",
       "java/lang/NullPointerException",
       false},
      {"set: value not converted, exception class not found",
       [](fake::Jvm& j) { qelconv_fail_next_from_utf(1), j.fail("FindClass"); },
       set_n_v,
       QELSTUB_OP_CMA_SET,
       {"GetStringUTFChars", "GetStringUTFChars", "FindClass", "ReleaseStringUTFChars",
        "ReleaseStringUTFChars"},
       "java/lang/NoClassDefFoundError",
       "java/lang/IllegalArgumentException",
       false},
      {"get: value string not made",
       [](fake::Jvm& j) { j.fail("NewStringUTF"); },
       get_n,
       QELSTUB_OP_CMA_GET,
       {"GetStringUTFChars", "GetObjectClass", "GetFieldID", "NewStringUTF",
        "ExceptionCheck", "ReleaseStringUTFChars"},
       "java/lang/OutOfMemoryError",
       "",
       true},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.label);
    qelstub_reset();
    handle = static_cast<jlong>(qelstub_new_message());
    qelstub_put_cma(static_cast<uint64_t>(handle), "n", "v");
    qelconv_fail_next_from_utf(-1);
    jvm.clear_exception();
    jvm.clear_calls();
    c.arrange(jvm);
    c.call(*this);
    EXPECT_EQ(jvm.calls(), c.calls);
    EXPECT_EQ(jvm.exception_class(), c.exception);
    EXPECT_NE(jvm.exception_message().find(c.message), std::string::npos)
        << jvm.exception_message();
    EXPECT_EQ(qelstub_calls(c.op), c.agent_called ? 1 : 0);
    EXPECT_EQ(jvm.borrowed_utf(), 0);
    EXPECT_EQ(jvm.field(self, "myQelDataString"), nullptr);
  }
}

}  // namespace
