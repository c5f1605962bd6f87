#include "fake_jni.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

#include "jni_slot_names.h"

namespace fake {

namespace {

std::string hex(std::string const& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X ", c);
    out += b;
  }
  return out;
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string modified_utf8(std::u16string const& s) {
  std::string out;
  for (char16_t u : s) {
    if (u != 0 && u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

bool decode_modified_utf8(std::string const& bytes, std::u16string* out) {
  auto const* s = reinterpret_cast<unsigned char const*>(bytes.c_str());
  size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = s[i];
    if (c >= 0x01 && c < 0x80) {
      out->push_back(c);
      i += 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < n && continuation(s[i + 1])) {
      char16_t u = static_cast<char16_t>(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      if (u != 0 && u < 0x80) return false;
      out->push_back(u);
      i += 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < n && continuation(s[i + 1]) &&
               continuation(s[i + 2])) {
      char16_t u = static_cast<char16_t>(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) |
                                         (s[i + 2] & 0x3F));
      if (u < 0x800) return false;
      out->push_back(u);
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

// The trap of slot I, of exactly that slot's type F: it records the call and
// fails the test. It takes the slot's own arguments so that it returns with
// the stack as the caller expects also under 32-bit Windows' __stdcall, where
// the callee pops them.
template <size_t I, typename F>
struct Trap;
template <size_t I, typename R, typename... A>
struct Trap<I, R(JNICALL*)(JNIEnv*, A...)> {
  static R JNICALL call(JNIEnv* env, A...);
};
template <size_t I, typename R, typename... A>
struct Trap<I, R(JNICALL*)(JNIEnv*, A..., ...)> {
  static R JNICALL call(JNIEnv* env, A..., ...);
};

// The implementations behind the fake function table.
struct Functions {
  // Every function slot holds its trap until a function below replaces it;
  // the reserved slots stay null.
  //
  // On x64 Windows JNICALL's __stdcall means nothing; GCC says so when a slot
  // type that carries it is a template argument, and that is all.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"
  static void fill(JNINativeInterface_* table) {
#define JQEL_JNI_RESERVED(name) table->name = nullptr;
#define JQEL_JNI_SLOT(name)                                                \
  table->name = &Trap<offsetof(JNINativeInterface_, name) / sizeof(void*), \
                      decltype(table->name)>::call;
#include "jni_slots.inc"
#undef JQEL_JNI_RESERVED
#undef JQEL_JNI_SLOT
  }
#pragma GCC diagnostic pop
  static void unexpected(JNIEnv* env, size_t slot) { Jvm::of(env).unexpected(slot); }

  static char const* JNICALL GetStringUTFChars(JNIEnv* env, jstring s,
                                               jboolean* is_copy) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("GetStringUTFChars");
    if (is_copy != nullptr) ADD_FAILURE() << "GetStringUTFChars asked for is-copy";
    Object* o = jvm.deref(s, "GetStringUTFChars");
    if (o == nullptr || o->kind != Object::kString) {
      ADD_FAILURE() << "GetStringUTFChars on a null or non-string reference";
      return nullptr;
    }
    if (jvm.failing("GetStringUTFChars")) {
      jvm.raise("java/lang/OutOfMemoryError");
      return nullptr;
    }
    std::string bytes = modified_utf8(o->chars);
    char* copy = new char[bytes.size() + 1];
    std::memcpy(copy, bytes.c_str(), bytes.size() + 1);
    jvm.borrowed_[copy] = {reinterpret_cast<Jvm::Ref*>(s), copy};
    return copy;
  }

  static void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring s, char const* chars) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("ReleaseStringUTFChars", true);
    auto it = jvm.borrowed_.find(chars);
    if (it == jvm.borrowed_.end()) {
      ADD_FAILURE() << "ReleaseStringUTFChars of a buffer not lent, or twice";
      return;
    }
    if (it->second.first != reinterpret_cast<Jvm::Ref*>(s))
      ADD_FAILURE() << "ReleaseStringUTFChars with another string than lent it";
    jvm.released_.push_back(it->second.first->target->chars);
    delete[] it->second.second;
    jvm.borrowed_.erase(it);
  }

  static jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("GetObjectClass");
    Object* o = jvm.deref(obj, "GetObjectClass");
    if (o == nullptr) {
      ADD_FAILURE() << "GetObjectClass of null";
      return nullptr;
    }
    if (jvm.failing("GetObjectClass")) {
      jvm.raise("java/lang/OutOfMemoryError");
      return nullptr;
    }
    return static_cast<jclass>(jvm.local(jvm.class_named(o->class_name)));
  }

  static jfieldID JNICALL GetFieldID(JNIEnv* env, jclass cls, char const* name,
                                     char const* sig) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("GetFieldID");
    Object* c = jvm.deref(cls, "GetFieldID");
    if (c == nullptr || c->kind != Object::kClass) {
      ADD_FAILURE() << "GetFieldID on a null or non-class reference";
      return nullptr;
    }
    auto it = c->field_types.find(name);
    if (jvm.failing("GetFieldID") || it == c->field_types.end() || it->second != sig) {
      jvm.raise("java/lang/NoSuchFieldError", name);
      return nullptr;
    }
    jvm.field_ids_.push_back(Jvm::Field{c, name, sig});
    return reinterpret_cast<jfieldID>(&jvm.field_ids_.back());
  }

  static void JNICALL SetObjectField(JNIEnv* env, jobject obj, jfieldID id,
                                     jobject value) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("SetObjectField");
    Object* o = jvm.deref(obj, "SetObjectField");
    Object* v = jvm.deref(value, "SetObjectField");
    auto* field = reinterpret_cast<Jvm::Field*>(id);
    if (o == nullptr || o->class_name != field->cls->class_name) {
      ADD_FAILURE() << "SetObjectField on an object without field " << field->name;
      return;
    }
    bool fits =
        v == nullptr ||
        (field->signature == "Ljava/lang/String;" && v->kind == Object::kString) ||
        (field->signature == "[Ljava/lang/String;" && v->kind == Object::kArray &&
         v->class_name == "[Ljava/lang/String;");
    if (!fits) ADD_FAILURE() << "SetObjectField: value does not fit " << field->signature;
    o->fields[field->name] = v;
  }

  static jstring JNICALL NewStringUTF(JNIEnv* env, char const* bytes) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("NewStringUTF");
    std::u16string chars;
    if (!decode_modified_utf8(bytes, &chars))
      ADD_FAILURE() << "NewStringUTF given bytes that are not modified UTF-8: "
                    << hex(bytes);
    if (jvm.failing("NewStringUTF")) {
      jvm.raise("java/lang/OutOfMemoryError");
      return nullptr;
    }
    Object* o = jvm.new_object(Object::kString, "java/lang/String");
    o->chars = chars;
    return static_cast<jstring>(jvm.local(o));
  }

  static jstring JNICALL NewString(JNIEnv* env, jchar const* chars, jsize len) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("NewString");
    if (jvm.failing("NewString")) {
      jvm.raise("java/lang/OutOfMemoryError");
      return nullptr;
    }
    Object* o = jvm.new_object(Object::kString, "java/lang/String");
    o->chars.assign(reinterpret_cast<char16_t const*>(chars), len);
    return static_cast<jstring>(jvm.local(o));
  }

  static jclass JNICALL FindClass(JNIEnv* env, char const* name) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("FindClass");
    if (jvm.failing("FindClass") || std::strncmp(name, "java/lang/", 10) != 0) {
      jvm.raise("java/lang/NoClassDefFoundError", name);
      return nullptr;
    }
    return static_cast<jclass>(jvm.local(jvm.class_named(name)));
  }

  static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize len, jclass cls,
                                             jobject init) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("NewObjectArray");
    Object* c = jvm.deref(cls, "NewObjectArray");
    if (c == nullptr || c->kind != Object::kClass) {
      ADD_FAILURE() << "NewObjectArray with a null or non-class reference";
      return nullptr;
    }
    if (jvm.failing("NewObjectArray")) {
      jvm.raise("java/lang/OutOfMemoryError");
      return nullptr;
    }
    if (len < 0) {
      jvm.raise("java/lang/NegativeArraySizeException");
      return nullptr;
    }
    Object* a = jvm.new_object(Object::kArray, "[L" + c->class_name + ";");
    a->elements.assign(static_cast<size_t>(len), jvm.deref(init, "NewObjectArray"));
    return static_cast<jobjectArray>(jvm.local(a));
  }

  static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index,
                                            jobject value) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("SetObjectArrayElement");
    Object* a = jvm.deref(array, "SetObjectArrayElement");
    Object* v = jvm.deref(value, "SetObjectArrayElement");
    if (a == nullptr || a->kind != Object::kArray) {
      ADD_FAILURE() << "SetObjectArrayElement on a null or non-array reference";
      return;
    }
    // The JVM fails this only for an index out of range or an element of
    // another class; neither is injected.
    if (index < 0 || static_cast<size_t>(index) >= a->elements.size()) {
      jvm.raise("java/lang/ArrayIndexOutOfBoundsException");
      return;
    }
    if (v != nullptr && "[L" + v->class_name + ";" != a->class_name)
      ADD_FAILURE() << "SetObjectArrayElement: element does not fit " << a->class_name;
    a->elements[static_cast<size_t>(index)] = v;
  }

  static void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("DeleteLocalRef", true);
    if (ref == nullptr) return;
    auto* r = reinterpret_cast<Jvm::Ref*>(ref);
    if (r->deleted) {
      ADD_FAILURE() << "DeleteLocalRef of a reference already deleted";
      return;
    }
    r->deleted = true;
    if (r->local) --jvm.live_locals_, --jvm.frames_[r->frame].live;
  }

  static jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("PushLocalFrame", true);
    if (capacity < 0) ADD_FAILURE() << "PushLocalFrame with capacity " << capacity;
    if (jvm.failing("PushLocalFrame")) {
      jvm.raise("java/lang/OutOfMemoryError");
      return JNI_ENOMEM;
    }
    jvm.frames_.push_back(Jvm::Frame{jvm.refs_.size(), capacity, 0, false});
    return JNI_OK;
  }

  // Every local reference made since the matching PushLocalFrame is freed,
  // so using one afterwards fails the test; `result` comes back as a new
  // local reference in the frame below.
  static jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("PopLocalFrame", true);
    if (jvm.frames_.size() == 1) {
      ADD_FAILURE() << "PopLocalFrame without a frame pushed";
      return nullptr;
    }
    Object* kept = jvm.deref(result, "PopLocalFrame");
    jvm.free_locals(jvm.frames_.back().first);
    jvm.frames_.pop_back();
    return kept != nullptr ? jvm.local(kept) : nullptr;
  }

  static jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("ExceptionCheck", true);
    return jvm.exception_pending() ? JNI_TRUE : JNI_FALSE;
  }

  static jint JNICALL ThrowNew(JNIEnv* env, jclass cls, char const* message) {
    Jvm& jvm = Jvm::of(env);
    jvm.enter("ThrowNew");
    Object* c = jvm.deref(cls, "ThrowNew");
    if (c == nullptr || c->kind != Object::kClass) {
      ADD_FAILURE() << "ThrowNew with a null or non-class reference";
      return -1;
    }
    jvm.raise(c->class_name, message ? message : "");
    return 0;
  }
};

Jvm::Jvm() {
  Functions::fill(&table_);
  table_.GetStringUTFChars = &Functions::GetStringUTFChars;
  table_.ReleaseStringUTFChars = &Functions::ReleaseStringUTFChars;
  table_.GetObjectClass = &Functions::GetObjectClass;
  table_.GetFieldID = &Functions::GetFieldID;
  table_.SetObjectField = &Functions::SetObjectField;
  table_.NewStringUTF = &Functions::NewStringUTF;
  table_.NewString = &Functions::NewString;
  table_.FindClass = &Functions::FindClass;
  table_.NewObjectArray = &Functions::NewObjectArray;
  table_.SetObjectArrayElement = &Functions::SetObjectArrayElement;
  table_.DeleteLocalRef = &Functions::DeleteLocalRef;
  table_.PushLocalFrame = &Functions::PushLocalFrame;
  table_.PopLocalFrame = &Functions::PopLocalFrame;
  table_.ExceptionCheck = &Functions::ExceptionCheck;
  table_.ThrowNew = &Functions::ThrowNew;
  env_.functions = &table_;
  env_.owner = this;
  frames_.push_back(Frame{0, kNativeFrameRoom, 0, false});
}

Jvm::~Jvm() {
  EXPECT_TRUE(borrowed_.empty())
      << borrowed_.size() << " UTF buffer(s) never handed back";
  EXPECT_EQ(frames_.size(), 1u) << "local frame(s) never popped";
  for (auto& b : borrowed_) delete[] b.second.second;
}

void Jvm::enter_native(JNIEnv* env) {
  Jvm& jvm = of(env);
  EXPECT_EQ(jvm.frames_.size(), 1u) << "local frame(s) the call before never popped";
  jvm.free_locals(jvm.frames_[0].first);
  jvm.frames_.assign(1, Frame{jvm.refs_.size(), kNativeFrameRoom, 0, false});
}

void Jvm::free_locals(size_t from) {
  for (size_t i = from; i < refs_.size(); ++i) {
    Ref& r = refs_[i];
    if (r.local && !r.deleted) r.deleted = true, --live_locals_, --frames_[r.frame].live;
  }
}

Jvm& Jvm::of(JNIEnv* env) { return *static_cast<Env*>(env)->owner; }

bool Jvm::enter(char const* name, bool allowed_with_exception) {
  calls_.push_back(name);
  if (exception_pending() && !allowed_with_exception) {
    ADD_FAILURE() << name << " called with " << exception_class_ << " pending";
    return false;
  }
  return true;
}

bool Jvm::failing(char const* name) {
  auto it = failures_.find(name);
  if (it == failures_.end()) return false;
  if (it->second-- > 0) return false;
  failures_.erase(it);
  return true;
}

void Jvm::fail(std::string const& name, int nth) { failures_[name] = nth; }

void Jvm::raise(std::string const& cls, std::string const& message) {
  exception_class_ = cls;
  exception_message_ = message;
}

Object* Jvm::deref(jobject ref, char const* what) {
  if (ref == nullptr) return nullptr;
  auto* r = reinterpret_cast<Ref*>(ref);
  if (r->deleted) ADD_FAILURE() << what << " given a deleted local reference";
  return r->target;
}

jobject Jvm::local(Object* o) {
  refs_.push_back(Ref{o, true, false, frames_.size() - 1});
  peak_locals_ = std::max(peak_locals_, ++live_locals_);
  Frame& f = frames_.back();
  if (++f.live > f.room && !f.overflowed) {
    f.overflowed = true;
    ADD_FAILURE() << f.live << " live local references in "
                  << (frames_.size() == 1 ? "the native's own frame" : "a pushed frame")
                  << ", which the JVM guarantees room for " << f.room;
  }
  return reinterpret_cast<jobject>(&refs_.back());
}

jobject Jvm::arg(Object* o) {
  refs_.push_back(Ref{o, false, false, 0});
  return reinterpret_cast<jobject>(&refs_.back());
}

Object* Jvm::new_object(Object::Kind kind, std::string const& class_name) {
  objects_.push_back(std::make_unique<Object>());
  Object* o = objects_.back().get();
  o->kind = kind;
  o->class_name = class_name;
  return o;
}

Object* Jvm::class_named(std::string const& name) {
  Object*& c = classes_[name];
  if (c == nullptr) c = new_object(Object::kClass, name);
  return c;
}

void Jvm::unexpected(size_t slot) {
  calls_.push_back(jni_slots::kNames[slot]);
  ADD_FAILURE() << "unexpected JNI call: " << jni_slots::kNames[slot];
}

template <size_t I, typename R, typename... A>
R JNICALL Trap<I, R(JNICALL*)(JNIEnv*, A...)>::call(JNIEnv* env, A...) {
  Functions::unexpected(env, I);
  return R();
}

template <size_t I, typename R, typename... A>
R JNICALL Trap<I, R(JNICALL*)(JNIEnv*, A..., ...)>::call(JNIEnv* env, A..., ...) {
  Functions::unexpected(env, I);
  return R();
}

jstring Jvm::string(std::u16string const& s) {
  Object* o = new_object(Object::kString, "java/lang/String");
  o->chars = s;
  return static_cast<jstring>(arg(o));
}

jstring Jvm::utf8(std::string const& s) {
  std::u16string chars;
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    if (cp >= 0x10000) {
      chars += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      chars += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      chars += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return string(chars);
}

jobject Jvm::message() {
  return instance("com/brenn/varnis/tq/api/jqel/JQelMessage",
                  {{"myQelDataString", "Ljava/lang/String;"},
                   {"myStringArray", "[Ljava/lang/String;"}});
}

jobject Jvm::instance(std::string const& class_name,
                      std::vector<std::pair<std::string, std::string>> fields) {
  Object* c = class_named(class_name);
  Object* o = new_object(Object::kInstance, class_name);
  for (auto& f : fields) {
    c->field_types[f.first] = f.second;
    o->fields[f.first] = nullptr;
  }
  return arg(o);
}

Object const* Jvm::target(jobject ref) const {
  return ref == nullptr ? nullptr : reinterpret_cast<Ref*>(ref)->target;
}

Object const* Jvm::field(jobject obj, std::string const& name) const {
  Object const* o = target(obj);
  auto it = o->fields.find(name);
  return it == o->fields.end() ? nullptr : it->second;
}

std::u16string Jvm::text(Object const* string) {
  return string == nullptr ? u"<null>" : string->chars;
}

}  // namespace fake
