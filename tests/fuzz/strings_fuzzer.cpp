// libFuzzer target: the library's string conversions, both ways, with
// arbitrary bytes, through the fake JVM, the stand-in agent and the stand-in
// converter.
//
// Java to native: the input's bytes, read as UTF-16 code units (lone
// surrogates and U+0000 included), become a CMA name and value (QelSetCMA).
// The agent must receive the converter's native encoding of exactly those
// chars, and reading them back (QelGetCMA, QelGetCMANames) must give the same
// chars.
//
// Native to Java: the input's bytes up to the first NUL, planted in the agent
// as a CMA value and as a CMA name. QelGetCMA must store a string whose chars
// give back the bytes exactly by whichever path made it: the converter,
// NewStringUTF for modified UTF-8 the converter rejects, or one char per byte
// otherwise. QelGetCMANames must store what the converter makes of the name,
// or null where it makes nothing.
//
// The first input byte can also make one JNI function or conversion fail
// during the calls; then only the fake JVM's own checks apply.
//
// Any problem aborts the run: a failed check here, and every problem the fake
// JVM reports (a JNI rule broken, bytes that are not modified UTF-8 given to
// NewStringUTF, a UTF buffer not handed back). AddressSanitizer,
// UndefinedBehaviorSanitizer and LeakSanitizer watch memory.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jqelagtbase_standin.h"
#include "qelagt_standin.h"
#include "agent/jqelagtbase.h"
#include "bridge_library.h"
#include "fake_jni.h"

namespace {

// Turns every failure the fake JVM reports through GoogleTest into an abort,
// so that libFuzzer keeps the input that caused it.
class AbortOnFailure : public testing::ScopedFakeTestPartResultReporter {
 public:
  AbortOnFailure() : ScopedFakeTestPartResultReporter(INTERCEPT_ALL_THREADS, &results_) {}
  void ReportTestPartResult(testing::TestPartResult const& result) override {
    if (!result.failed()) return;
    std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?",
                 result.line_number(), result.message());
    std::abort();
  }

 private:
  testing::TestPartResultArray results_;
};

#define CHECK(condition)                                                                 \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

struct Natives {
  bridge::SetCma set = bridge::native<bridge::SetCma>("JQelMessage", "QelSetCMA");
  bridge::GetCma get = bridge::native<bridge::GetCma>("JQelMessage", "QelGetCMA");
  bridge::RemoveCma remove =
      bridge::native<bridge::RemoveCma>("JQelMessage", "QelRemoveCMA");
  bridge::GetCmaNames names =
      bridge::native<bridge::GetCmaNames>("JQelMessage", "QelGetCMANames");
};

// The stand-in converter's native encoding of Java chars: UTF-8, with a
// surrogate pair as its four-byte code point, a lone surrogate in its
// three-byte form and U+0000 as C0 80.
std::string native_encoding(std::u16string const& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c != 0 && c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string last_name_received(int op) {
  int n = qelstub_last_name(op, nullptr, 0);
  CHECK(n >= 0);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  qelstub_last_name(op, &s[0], n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

// A Java string goes to the agent and comes back unchanged.
void java_to_native(Natives const& natives, std::u16string const& text) {
  fake::Jvm jvm;
  jobject self = jvm.message();
  auto handle = static_cast<jlong>(qelstub_new_message());
  CHECK(natives.set(jvm.env(), self, handle, jvm.string(text), jvm.string(text)) == 0);
  CHECK(last_name_received(QELSTUB_OP_CMA_SET) == native_encoding(text));

  CHECK(natives.get(jvm.env(), self, handle, jvm.string(text)) == 0);
  CHECK(fake::Jvm::text(jvm.field(self, "myQelDataString")) == text);

  CHECK(natives.names(jvm.env(), self, handle) == 0);
  fake::Object const* array = jvm.field(self, "myStringArray");
  CHECK(array != nullptr && array->elements.size() == 1);
  CHECK(array->elements[0] != nullptr && array->elements[0]->chars == text);

  CHECK(natives.remove(jvm.env(), self, handle, jvm.string(text)) == 0);
  CHECK(!jvm.exception_pending());
}

// What the converter makes of native bytes, if anything.
bool converted(fake::Jvm& jvm, std::string const& bytes, std::u16string* out) {
  std::string copy = bytes;
  jstring s = convertStringToUTF(&copy[0], jvm.env());
  CHECK(copy == bytes);  // the converter only reads
  if (s == nullptr) return false;
  *out = jvm.target(s)->chars;
  return true;
}

// Native bytes planted in the agent reach Java whole.
void native_to_java(Natives const& natives, std::string const& bytes) {
  fake::Jvm jvm;
  jobject self = jvm.message();
  std::u16string by_converter;
  bool converts = converted(jvm, bytes, &by_converter);

  auto handle = static_cast<jlong>(qelstub_new_message());
  qelstub_put_cma(static_cast<uint64_t>(handle), "k", bytes.c_str());
  CHECK(natives.get(jvm.env(), self, handle, jvm.utf8("k")) == 0);
  CHECK(!jvm.exception_pending());
  std::u16string value = fake::Jvm::text(jvm.field(self, "myQelDataString"));
  std::u16string as_modified_utf8;
  if (converts) {
    CHECK(value == by_converter);
    CHECK(native_encoding(value) == bytes);
  } else if (fake::decode_modified_utf8(bytes, &as_modified_utf8)) {
    CHECK(value == as_modified_utf8);
  } else {
    CHECK(value.size() == bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
      CHECK(value[i] == static_cast<unsigned char>(bytes[i]));
  }

  // The same bytes as a name: the converter's string, or null.
  auto names_handle = static_cast<jlong>(qelstub_new_message());
  qelstub_put_cma(static_cast<uint64_t>(names_handle), bytes.c_str(), "v");
  CHECK(natives.names(jvm.env(), self, names_handle) == 0);
  fake::Object const* array = jvm.field(self, "myStringArray");
  CHECK(array != nullptr && array->elements.size() == 1);
  fake::Object const* name = array->elements[0];
  CHECK(converts ? name != nullptr && name->chars == by_converter : name == nullptr);
  CHECK(!jvm.exception_pending());
}

// The same calls while one JNI function or conversion fails: whatever
// happens, the fake JVM's checks hold and nothing leaks.
void with_failure(Natives const& natives, uint8_t which, std::u16string const& text,
                  std::string const& bytes) {
  static char const* const kFunctions[] = {
      "GetStringUTFChars", "GetObjectClass", "GetFieldID",     "NewStringUTF",
      "NewString",         "FindClass",      "NewObjectArray", "PushLocalFrame"};
  constexpr unsigned kCount = sizeof kFunctions / sizeof kFunctions[0];
  fake::Jvm jvm;
  jobject self = jvm.message();
  auto handle = static_cast<jlong>(qelstub_new_message());
  qelstub_put_cma(static_cast<uint64_t>(handle), "k", bytes.c_str());
  qelstub_put_cma(static_cast<uint64_t>(handle), bytes.c_str(), "v");
  // Enough names besides for the listing to push a frame of local references.
  for (int i = 0; i < 16; ++i)
    qelstub_put_cma(static_cast<uint64_t>(handle), ("n" + std::to_string(i)).c_str(),
                    "v");
  unsigned pick = which % (kCount + 1), nth = which / (kCount + 1) % 4;
  if (pick == kCount) {
    qelconv_fail_next_from_utf(static_cast<int>(nth));
  } else {
    jvm.fail(kFunctions[pick], static_cast<int>(nth));
  }
  natives.set(jvm.env(), self, handle, jvm.string(text), jvm.string(text));
  jvm.clear_exception();
  natives.get(jvm.env(), self, handle, jvm.utf8("k"));
  jvm.clear_exception();
  natives.names(jvm.env(), self, handle);
  jvm.clear_exception();
  natives.remove(jvm.env(), self, handle, jvm.string(text));
  jvm.clear_exception();
  qelconv_fail_next_from_utf(-1);
  CHECK(jvm.borrowed_utf() == 0);
}

// The library, loaded before fuzzing starts so that libFuzzer counts its
// coverage from the first input on.
Natives const* natives;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static AbortOnFailure abort_on_failure;
  static Natives const loaded;
  CHECK(loaded.set && loaded.get && loaded.remove && loaded.names);
  natives = &loaded;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size == 0) return 0;

  uint8_t control = data[0];
  std::string rest(reinterpret_cast<char const*>(data + 1), size - 1);
  std::u16string text;
  for (size_t i = 0; i + 1 < rest.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(rest[i]) |
                                  static_cast<unsigned char>(rest[i + 1]) << 8);
  std::string bytes = rest.substr(0, rest.find('\0'));

  qelstub_reset();
  if (control < 0x80) {
    java_to_native(*natives, text);
    native_to_java(*natives, bytes);
  } else {
    with_failure(*natives, control & 0x7F, text, bytes);
  }
  qelstub_reset();
  return 0;
}
