// The instruction count's driver: calls each native of the library, and the
// floor function that makes the same JNI, converter and agent calls with
// nothing added (bench/floor/floor.cpp), a fixed number of times through the
// native suite's fake JNIEnv, against the stand-in agent and converter, for
// the benchmark's cases. Run under callgrind (bench/count/count.sh), it
// zeroes the counters before each case's calls and dumps them after, labelled
// "<case>|<calls>|<library's symbol>|<its object>|<floor's symbol>|<its
// object>", so that each dump holds exactly those calls and what they called.
//
// Outside callgrind it is a plain test that every call of both succeeds with
// the expected result, and that neither makes a JNI call the fake does not
// expect.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "qelagt_standin.h"
#include "bridge_library.h"
#include "fake_jni.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
// Without valgrind's header the counts cannot be taken; count.sh skips then.
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(label) ((void)(label))
#endif

namespace {

enum class Op { kSend, kAck, kMonSend, kSet, kGet, kRemove, kNames };

// The benchmark's cases, each with the number of calls counted.
struct Case {
  char const* label;
  Op op;
  int value_length;  // set, get, remove: of the CMA value
  int names;         // names: the CMAs the message holds
  int calls;
};

Case const kCases[] = {
    {"message send", Op::kSend, 0, 0, 200},
    {"message ack", Op::kAck, 0, 0, 200},
    {"monvalue send", Op::kMonSend, 0, 0, 200},
    {"set 16/16", Op::kSet, 16, 0, 200},
    {"get 16/16", Op::kGet, 16, 0, 200},
    {"set 16/4K", Op::kSet, 4096, 0, 50},
    {"get 16/4K", Op::kGet, 4096, 0, 50},
    {"remove 16/16", Op::kRemove, 16, 0, 200},
    {"remove 16/4K", Op::kRemove, 4096, 0, 200},
    {"names 1", Op::kNames, 0, 1, 200},
    {"names 16", Op::kNames, 0, 16, 50},
    {"names 1000", Op::kNames, 0, 1000, 5},
};

// The benchmark's CMA values: 16 chars, or 4 KiB of text.
std::string text(int length) {
  if (length == 16) return "value-0123456789";
  std::string const unit = "The quick brown fox jumps over the lazy dog 0123456789. ";
  std::string s;
  while (static_cast<int>(s.size()) < length) s += unit;
  return s.substr(0, static_cast<size_t>(length));
}

std::u16string wide(std::string const& s) { return std::u16string(s.begin(), s.end()); }

// The seven natives of one mechanism, and the object file they are in.
struct Natives {
  char const* mechanism;
  char const* object;  // the file name's start, as callgrind names the object
  bridge::PassThrough send, ack, mon_send;
  bridge::SetCma set;
  bridge::GetCma get;
  bridge::RemoveCma remove;
  bridge::GetCmaNames names;
  bool floor;
};

Natives library_natives() {
  return {"library",
          "libJQelAgtMsg.so",
          bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageSend"),
          bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageAck"),
          bridge::native<bridge::PassThrough>("JQelMonValue", "QelMonValueSend"),
          bridge::native<bridge::SetCma>("JQelMessage", "QelSetCMA"),
          bridge::native<bridge::GetCma>("JQelMessage", "QelGetCMA"),
          bridge::native<bridge::RemoveCma>("JQelMessage", "QelRemoveCMA"),
          bridge::native<bridge::GetCmaNames>("JQelMessage", "QelGetCMANames"),
          false};
}

template <typename N>
N floor_native(void* lib, char const* cls, char const* method) {
  std::string name = std::string("Java_jqel_bench_floor_") + cls + "_" + method;
  void* address = lib != nullptr ? dlsym(lib, name.c_str()) : nullptr;
  EXPECT_NE(address, nullptr) << "no floor function " << name;
  return N(name, address);
}

Natives floor_natives() {
  void* lib = dlopen(JQEL_FLOOR_FILE, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(lib, nullptr) << dlerror();
  return {"floor",
          "libJQelBenchFloor.so",
          floor_native<bridge::PassThrough>(lib, "FloorAgentMessage", "send"),
          floor_native<bridge::PassThrough>(lib, "FloorAgentMessage", "ack"),
          floor_native<bridge::PassThrough>(lib, "FloorMonValue", "send"),
          floor_native<bridge::SetCma>(lib, "FloorMessage", "set"),
          floor_native<bridge::GetCma>(lib, "FloorMessage", "get"),
          floor_native<bridge::RemoveCma>(lib, "FloorMessage", "remove"),
          floor_native<bridge::GetCmaNames>(lib, "FloorMessage", "names"),
          true};
}

// Calls `n` as the JVM calls it, in `jvm`. The floor keeps every local
// reference it makes (one per name) until it returns, which a JVM allows by
// growing the frame; the fake allows the native's own frame only the 16 that
// JNI guarantees, so the floor's calls run in a frame with room for all. The
// fake records each JNI call in a list that grows as it goes; both
// mechanisms start with one call recorded and forgotten, so that the list is
// in the same state for both.
template <typename N, typename... A>
jint call(Natives const& natives, N const& n, fake::Jvm& jvm, A... args) {
  JNIEnv* env = jvm.env();
  if (!natives.floor) {
    env->ExceptionCheck();
    jvm.clear_calls();
    return n(env, args...);
  }
  fake::Jvm::enter_native(env);
  env->PushLocalFrame(1024 + 16);
  jvm.clear_calls();
  jint rc = n.function()(env, args...);
  env->PopLocalFrame(nullptr);
  return rc;
}

// Makes the i-th call of one case with one mechanism in a fake JVM of its
// own, with the receiver and strings it needs, and checks what it did.
// Returns its result code.
class Caller {
 public:
  Caller(Case const& c, jlong message, jlong monvalue)
      : c_(c), message_(message), monvalue_(monvalue), value_(text(c.value_length)) {
    if (c.op == Op::kNames) {
      for (int i = 0; i < c.names; ++i) {
        char cma[32];
        std::snprintf(cma, sizeof cma, "cma-name-%07d", i);
        qelstub_put_cma(static_cast<uint64_t>(message), cma, "value-0123456789");
      }
    } else if (c.op == Op::kGet) {
      qelstub_put_cma(static_cast<uint64_t>(message), kName, value_.c_str());
    }
  }

  // The symbol of the native that mechanism n calls for this case.
  std::string symbol(Natives const& n) const {
    switch (c_.op) {
      case Op::kSend: return n.send.name();
      case Op::kAck: return n.ack.name();
      case Op::kMonSend: return n.mon_send.name();
      case Op::kSet: return n.set.name();
      case Op::kGet: return n.get.name();
      case Op::kRemove: return n.remove.name();
      case Op::kNames: return n.names.name();
    }
    return std::string();
  }

  jint operator()(Natives const& n) const {
    fake::Jvm jvm;
    jobject self = jvm.message();
    jstring name = jvm.string(wide(kName));
    jstring value = jvm.string(wide(value_));
    // What remove removes: the same CMA for both mechanisms, planted anew.
    if (c_.op == Op::kRemove)
      qelstub_put_cma(static_cast<uint64_t>(message_), kName, value_.c_str());
    jint rc = -1;
    switch (c_.op) {
      case Op::kSend: rc = call(n, n.send, jvm, jclass{}, message_); break;
      case Op::kAck: rc = call(n, n.ack, jvm, jclass{}, message_); break;
      case Op::kMonSend: rc = call(n, n.mon_send, jvm, jclass{}, monvalue_); break;
      case Op::kSet: rc = call(n, n.set, jvm, self, message_, name, value); break;
      case Op::kGet: rc = call(n, n.get, jvm, self, message_, name); break;
      case Op::kRemove: rc = call(n, n.remove, jvm, self, message_, name); break;
      case Op::kNames: rc = call(n, n.names, jvm, self, message_); break;
    }
    EXPECT_FALSE(jvm.exception_pending()) << n.mechanism;
    if (c_.op == Op::kGet) {
      EXPECT_EQ(fake::Jvm::text(jvm.field(self, "myQelDataString")), wide(value_))
          << n.mechanism;
    } else if (c_.op == Op::kNames) {
      fake::Object const* array = jvm.field(self, "myStringArray");
      char last[32];
      std::snprintf(last, sizeof last, "cma-name-%07d", c_.names - 1);
      EXPECT_TRUE(array != nullptr &&
                  array->elements.size() == static_cast<size_t>(c_.names) &&
                  fake::Jvm::text(array->elements.back()) == wide(last))
          << n.mechanism << " listed the wrong names";
    }
    return rc;
  }

 private:
  static constexpr char const* kName = "cma-name-0000001";
  Case const& c_;
  jlong message_, monvalue_;
  std::string value_;
};

// Runs one case: one call of each mechanism uncounted (which binds what is
// bound lazily and makes the agent's first allocations), then c.calls calls
// of each, the library's and the floor's in turn, counted between zeroing
// callgrind's counters and dumping them. Every call has a fake JVM of its
// own, made and dropped by the driver, so that each meets the fake, the
// converter and the agent in the same state, whatever the calls before it
// left behind.
void run(Case const& c, Natives const (&mechanisms)[2]) {
  SCOPED_TRACE(c.label);
  qelstub_reset();
  qelstub_set_recording(0);
  jlong message = static_cast<jlong>(qelstub_new_message());
  jlong monvalue = static_cast<jlong>(qelstub_new_monvalue());
  if (c.op == Op::kAck) {
    EXPECT_EQ(qelagt_message_send(reinterpret_cast<QelHandle>(message)),
              0);  // so that acknowledging succeeds
  }
  Caller const one(c, message, monvalue);
  std::string label = std::string(c.label) + "|" + std::to_string(c.calls);
  for (auto const& n : mechanisms) label += "|" + one.symbol(n) + "|" + n.object;

  for (auto const& n : mechanisms) EXPECT_EQ(one(n), 0) << n.mechanism;
  int failed[2] = {};
  CALLGRIND_ZERO_STATS;
  for (int i = 0; i < c.calls; ++i) {
    for (int m = 0; m < 2; ++m) failed[m] += one(mechanisms[m]) != 0;
  }
  CALLGRIND_DUMP_STATS_AT(label.c_str());
  for (int m = 0; m < 2; ++m) EXPECT_EQ(failed[m], 0) << mechanisms[m].mechanism;
}

TEST(InstructionCount, EveryCaseWithLibraryAndFloor) {
  Natives const mechanisms[2] = {library_natives(), floor_natives()};
  for (auto const& m : mechanisms)
    ASSERT_TRUE(m.send && m.ack && m.mon_send && m.set && m.get && m.remove && m.names)
        << m.mechanism;
  for (auto const& c : kCases) run(c, mechanisms);
}

}  // namespace
