// QelGetCMANames against the fake JVM: the JNI calls in order, the field
// written only after a successful call that found names, and every name and
// the array freed exactly once on every path (AddressSanitizer and
// LeakSanitizer check the frees in the sanitizer build).
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

class Names : public ::testing::Test {
 public:  // the table rows below call the native through the fixture
  void SetUp() override {
    qelstub_reset();
    qelconv_leave_local_refs(0);
    handle = static_cast<jlong>(qelstub_new_message());
    self = jvm.message();
    names = bridge::native<bridge::GetCmaNames>("JQelMessage", "QelGetCMANames");
    ASSERT_NE(names, nullptr);
  }
  void TearDown() override { qelconv_leave_local_refs(0); }

  void put(std::vector<std::string> const& list) {
    for (auto const& n : list)
      qelstub_put_cma(static_cast<uint64_t>(handle), n.c_str(), "v");
  }

  jint call() { return names(jvm.env(), self, handle); }

  // The receiver's myStringArray as texts ("<null>" for a null element), or
  // {"<no array>"} while the field is null.
  std::vector<std::u16string> stored() const {
    fake::Object const* array = jvm.field(self, "myStringArray");
    if (array == nullptr) return {u"<no array>"};
    std::vector<std::u16string> texts;
    for (auto const* e : array->elements) texts.push_back(fake::Jvm::text(e));
    return texts;
  }

  fake::Jvm jvm;
  jlong handle = 0;
  jobject self = nullptr;
  bridge::GetCmaNames names = nullptr;
};

Calls const kLookup = {"GetObjectClass", "GetFieldID"};
Calls const kMakeArray = {"FindClass", "NewObjectArray"};
// An element whose string the converter made: ASCII through NewStringUTF,
// other text through NewString.
Calls const kAscii = {"NewStringUTF", "SetObjectArrayElement"};
Calls const kText = {"NewString", "SetObjectArrayElement"};

Calls concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (auto const& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Calls times(int n, Calls const& calls) {
  Calls all;
  for (int i = 0; i < n; ++i) all.insert(all.end(), calls.begin(), calls.end());
  return all;
}

TEST_F(Names, FoundNamesFillTheFieldInTheAgentsOrder) {
  put({"zeta", "älpha", "𝄞 clef", "", "mid"});
  EXPECT_EQ(call(), 0);
  EXPECT_EQ(stored(),
            (std::vector<std::u16string>{u"zeta", u"älpha", u"𝄞 clef", u"", u"mid"}));
  // Three names in the native's own frame, the others in a frame of their own.
  EXPECT_EQ(jvm.calls(), concat({kLookup,
                                 kMakeArray,
                                 kAscii,
                                 kText,
                                 kText,
                                 {"PushLocalFrame"},
                                 kAscii,
                                 kAscii,
                                 {"PopLocalFrame", "SetObjectField"}}));
  // The classes, the array and the first three strings, until the native
  // returns.
  EXPECT_EQ(jvm.live_local_refs(), 3 + 3);
}

TEST_F(Names, ANameThatDoesNotConvertIsANullElementInItsPlace) {
  put({"first", "bad\xFF", "third"});
  EXPECT_EQ(call(), 0);
  EXPECT_EQ(stored(), (std::vector<std::u16string>{u"first", u"<null>", u"third"}));
  Calls const null_element = {"ExceptionCheck", "SetObjectArrayElement"};
  EXPECT_EQ(
      jvm.calls(),
      concat({kLookup, kMakeArray, kAscii, null_element, kAscii, {"SetObjectField"}}));
}

// No frame of local references ever holds more than the JVM guarantees it
// (the fake JVM fails the test the moment one does): 16 in the native's own
// frame, the capacity asked for in a pushed one. Also when the converter
// leaves references of its own, which the listing cannot delete, for each
// name it converts. So the call holds a bounded number, whatever the list's
// length.
TEST_F(Names, EveryFrameOfLocalReferencesStaysWithinItsRoom) {
  for (int left : {0, 2}) {
    for (int count : {1, 3, 4, 67, 68, 5000}) {
      SCOPED_TRACE(std::to_string(count) + " names, " + std::to_string(left) +
                   " references left by the converter for each");
      SetUp();
      qelconv_leave_local_refs(left);
      qelstub_next_names_count(count);
      EXPECT_EQ(call(), 0);
      EXPECT_FALSE(jvm.exception_pending());
      ASSERT_EQ(stored().size(), static_cast<size_t>(count));
      std::string const last = "name-" + std::to_string(count - 1);
      EXPECT_EQ(stored().back(), std::u16string(last.begin(), last.end()));
      // The two classes and the array, three names in the native's own
      // frame, and one frame of 64 names.
      EXPECT_LE(jvm.peak_local_refs(), 3 + (3 + 64) * (1 + left));
    }
  }
}

// Calls that store nothing: the field keeps what it held, the result code
// comes back unchanged, and what the agent handed over is freed.
TEST_F(Names, CallsThatFindNoNamesLeaveTheFieldAlone) {
  struct Case {
    char const* label;
    std::function<void(Names&)> arrange;
    jint rc;
    Calls calls;
  };
  Case const cases[] = {
      {"no CMAs", [](Names&) {}, 0, kLookup},
      {"count 0 reported", [](Names& t) { t.put({"a"}), qelstub_next_names_count(0); }, 0,
       kLookup},
      {"negative count", [](Names& t) { t.put({"a"}), qelstub_next_names_count(-5); }, 0,
       kLookup},
      // A faulty agent: no name may be read from the missing array.
      {"positive count, no array",
       [](Names& t) { t.put({"a"}), qelstub_next_names_without_array(3); }, 0, kLookup},
      {"failure, array handed over",
       [](Names& t) { t.put({"a"}), qelstub_force_next_result(QELSTUB_OP_CMA_NAMES, 7); },
       7,
       {}},
      {"failure, negative code",
       [](Names&) { qelstub_force_next_result(QELSTUB_OP_CMA_NAMES, INT32_MIN); },
       INT32_MIN,
       {}},
      {"unknown handle, array never set",
       [](Names& t) { t.handle = 12345; },
       QELSTUB_E_UNKNOWN_HANDLE,
       {}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();
    c.arrange(*this);
    jvm.clear_calls();
    EXPECT_EQ(call(), c.rc);
    EXPECT_EQ(jvm.calls(), c.calls);
    EXPECT_EQ(stored(), std::vector<std::u16string>{u"<no array>"});
    EXPECT_FALSE(jvm.exception_pending());
  }
}

// A JNI call that fails after the agent handed the list over stops the call
// with the JVM's exception pending, leaves the field alone, and still frees
// every name and the array. The strings of the first 3 names stay in the
// native's own frame, the rest are made in frames of up to 64 names.
TEST_F(Names, AFailedJniCallStopsTheListingAndFreesEverything) {
  struct Case {
    char const* label;
    char const* fails;
    int nth;
    int names;
    char const* exception;
    Calls calls;
  };
  Calls const first_frame =
      concat({kLookup, kMakeArray, times(3, kAscii), {"PushLocalFrame"}});
  Calls const next_frame =
      concat({first_frame, times(64, kAscii), {"PopLocalFrame", "PushLocalFrame"}});
  Calls const stopped = {"NewStringUTF", "ExceptionCheck"};
  Case const cases[] = {
      {"GetObjectClass",
       "GetObjectClass",
       0,
       3,
       "java/lang/OutOfMemoryError",
       {"GetObjectClass"}},
      {"GetFieldID", "GetFieldID", 0, 3, "java/lang/NoSuchFieldError", kLookup},
      {"FindClass", "FindClass", 0, 3, "java/lang/NoClassDefFoundError",
       concat({kLookup, {"FindClass"}})},
      {"NewObjectArray", "NewObjectArray", 0, 3, "java/lang/OutOfMemoryError",
       concat({kLookup, kMakeArray})},
      {"second name's string", "NewStringUTF", 1, 3, "java/lang/OutOfMemoryError",
       concat({kLookup, kMakeArray, kAscii, stopped})},
      {"the first frame", "PushLocalFrame", 0, 100, "java/lang/OutOfMemoryError",
       first_frame},
      {"a string in the first frame", "NewStringUTF", 4, 100,
       "java/lang/OutOfMemoryError",
       concat({first_frame, kAscii, stopped, {"PopLocalFrame"}})},
      {"the second frame", "PushLocalFrame", 1, 100, "java/lang/OutOfMemoryError",
       next_frame},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();
    std::vector<std::string> list;
    for (int i = 0; i < c.names; ++i) list.push_back("name" + std::to_string(i));
    put(list);
    jvm.clear_exception();
    jvm.clear_calls();
    jvm.fail(c.fails, c.nth);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(jvm.exception_class(), c.exception);
    EXPECT_EQ(jvm.calls(), c.calls);
    EXPECT_EQ(stored(), std::vector<std::u16string>{u"<no array>"});
  }
}

// More names than the JVM can make an array for: the JVM's OutOfMemoryError
// reaches Java, and every name is still freed (LeakSanitizer checks).
TEST_F(Names, AListTheJvmCannotHoldThrowsAndIsFreed) {
  qelstub_next_names_count(200000);
  jvm.fail("NewObjectArray");
  EXPECT_EQ(call(), 0);
  EXPECT_EQ(jvm.exception_class(), "java/lang/OutOfMemoryError");
  EXPECT_EQ(jvm.calls(), concat({kLookup, kMakeArray}));
  EXPECT_EQ(stored(), std::vector<std::u16string>{u"<no array>"});
}

TEST_F(Names, AReceiverWithoutTheFieldGetsNoSuchFieldError) {
  put({"a"});
  jobject other = jvm.instance("com/brenn/varnis/tq/api/jqel/JQelMessage$Old",
                               {{"myQelDataString", "Ljava/lang/String;"}});
  EXPECT_EQ(names(jvm.env(), other, handle), 0);
  EXPECT_EQ(jvm.exception_class(), "java/lang/NoSuchFieldError");
  EXPECT_EQ(jvm.exception_message(), "myStringArray");
  EXPECT_EQ(jvm.calls(), kLookup);
}

}  // namespace
