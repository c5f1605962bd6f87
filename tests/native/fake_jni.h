// A fake JVM for calling the library's natives directly from GoogleTest.
//
// Its JNIEnv implements the handful of JNI functions that the natives and the
// converter may call, records every call by name, and checks as HotSpot's
// -Xcheck:jni would, and more strictly: a call made with an exception pending,
// a borrowed UTF buffer handed back twice or never, a deleted local reference
// used again (deleted, or freed with its frame of local references), a frame
// pushed and never popped, a frame holding more live local references than
// the JVM guarantees it room for (16 in a native's own frame, the capacity
// asked for in a pushed one), bytes that are not modified UTF-8 given to
// NewStringUTF, or a field set with a value of the wrong type each fail the
// running test. Every other slot of the function table fails the test when
// called.
//
// Any function the JVM can fail can be made to fail once, the way the JVM
// fails it (a null result and a pending exception), to drive the natives'
// error paths.
#ifndef JQEL_TESTS_FAKE_JNI_H
#define JQEL_TESTS_FAKE_JNI_H

#include <jni.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fake {

// A Java object held by the fake JVM.
struct Object {
  enum Kind { kString, kClass, kInstance, kArray } kind;
  std::string class_name;         // of a class: its name; otherwise its class's name
  std::u16string chars;           // kString
  std::vector<Object*> elements;  // kArray
  std::map<std::string, std::string> field_types;  // kClass: name -> signature
  std::map<std::string, Object*> fields;           // kInstance
};

class Jvm {
 public:
  Jvm();
  ~Jvm();  // fails the test if a UTF buffer is still borrowed or a frame pushed
  Jvm(Jvm const&) = delete;
  Jvm& operator=(Jvm const&) = delete;

  JNIEnv* env() { return &env_; }

  // The JVM calls a native with `env`: the local references of the call
  // before are freed, as the JVM freed them when it returned (they stay
  // countable until now), and the native starts in its own frame, with room
  // for 16. bridge::Native calls it before every call.
  static void enter_native(JNIEnv* env);

  // Objects that a test passes to a native as its arguments.
  jstring string(std::u16string const& s);
  jstring utf8(std::string const& s);  // from a UTF-8 literal
  // A receiver of class JQelMessage, with its fields myQelDataString and
  // myStringArray (both null at first).
  jobject message();
  // A receiver of another class, with the given fields (name, signature).
  jobject instance(std::string const& class_name,
                   std::vector<std::pair<std::string, std::string>> fields);

  // The JNI functions called so far, by name, in order.
  std::vector<std::string> const& calls() const { return calls_; }
  void clear_calls() { calls_.clear(); }
  // The strings whose UTF buffers were handed back, in order.
  std::vector<std::u16string> const& released() const { return released_; }

  // The value of an object's field, and the text of a string object.
  Object const* field(jobject obj, std::string const& name) const;
  Object const* target(jobject ref) const;
  static std::u16string text(Object const* string);

  // Local references that natives made: still live, and the most ever live.
  int live_local_refs() const { return live_locals_; }
  int peak_local_refs() const { return peak_locals_; }
  int borrowed_utf() const { return static_cast<int>(borrowed_.size()); }

  // Makes the `nth` next call (0: the very next) of the JNI function `name`
  // fail as the JVM fails it.
  void fail(std::string const& name, int nth = 0);

  bool exception_pending() const { return !exception_class_.empty(); }
  std::string const& exception_class() const { return exception_class_; }
  std::string const& exception_message() const { return exception_message_; }
  void clear_exception() { exception_class_.clear(), exception_message_.clear(); }

 private:
  friend struct Functions;  // the function table, in fake_jni.cpp
  // The local references a native may make in its own frame: JNI guarantees
  // 16.
  static constexpr int kNativeFrameRoom = 16;
  struct Ref {
    Object* target;
    bool local;
    bool deleted;
    size_t frame;  // of a local reference: its frame's index in frames_
  };
  // A frame of local references: the native's own (frames_[0]) or a pushed
  // one.
  struct Frame {
    size_t first;  // the index in refs_ of its first reference
    int room;      // the live references the JVM guarantees it
    int live;
    bool overflowed;  // already reported
  };
  struct Field {
    Object* cls;
    std::string name, signature;
  };
  static Jvm& of(JNIEnv* env);
  bool enter(char const* name, bool allowed_with_exception = false);
  bool failing(char const* name);
  void raise(std::string const& cls, std::string const& message = "");
  Object* deref(jobject ref, char const* what);
  jobject local(Object* o);
  jobject arg(Object* o);
  void free_locals(size_t from);  // every live local reference made since refs_[from]
  Object* new_object(Object::Kind kind, std::string const& class_name);
  Object* class_named(std::string const& name);
  void unexpected(size_t slot);

  struct Env : JNIEnv_ {
    Jvm* owner;
  };
  Env env_;
  JNINativeInterface_ table_;
  std::vector<std::string> calls_;
  std::vector<std::u16string> released_;
  std::deque<std::unique_ptr<Object>> objects_;
  std::deque<Ref> refs_;
  std::map<std::string, Object*> classes_;
  std::map<std::string, int> failures_;
  std::map<char const*, std::pair<Ref*, char*>> borrowed_;  // UTF buffers lent
  std::deque<Field> field_ids_;
  std::vector<Frame> frames_;
  std::string exception_class_, exception_message_;
  int live_locals_ = 0, peak_locals_ = 0;
};

// Modified UTF-8 as JNI defines it: the encoding of `s`, and the decoding of
// `bytes` (false if they are not modified UTF-8).
std::string modified_utf8(std::u16string const& s);
bool decode_modified_utf8(std::string const& bytes, std::u16string* out);

}  // namespace fake

#endif
