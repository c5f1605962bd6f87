// Stand-in for the agent API library libqelagtapi: a small in-memory agent
// that the bridge links against by name, so that the product's library can
// take its place without rebuilding the bridge. Thread-safe: one mutex guards
// the objects and the records; "next call" controls are per thread.
#include <stdlib.h>
#include <string.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "qelagt_standin.h"

namespace {

enum class Kind { Message, MonValue };

struct Cma {
  std::string name;
  std::string value;
};

struct Object {
  Kind kind;
  std::list<Cma> cmas;  // in insertion order
  std::unordered_map<std::string, std::list<Cma>::iterator> by_name;
  int sent = 0;
  int acked = 0;
};

struct Record {
  long long calls = 0;
  uint64_t handle = 0;
  bool has_name = false, has_value = false;
  std::string name, value;
};

std::mutex mutex;
std::unordered_map<uintptr_t, std::unique_ptr<Object>> objects;
Record records[QELSTUB_OP_COUNT];
bool recording = true;

// Controls for the calling thread's next calls.
struct NextCall {
  bool forced[QELSTUB_OP_COUNT] = {};
  int code[QELSTUB_OP_COUNT] = {};
  bool get_leaves = false;  // the next get returns get_code, leaving get_value
  int get_code = 0;
  bool get_has_value = false;
  std::string get_value;
  bool names_count_set = false;
  int names_count = 0;
  bool names_without_array = false;
};
thread_local NextCall next;
// The value handed out by CMA get; stays valid until this thread's next get.
thread_local std::string last_value;

uintptr_t key(QelHandle h) { return reinterpret_cast<uintptr_t>(h); }

void record(int op, QelHandle h, char const* name, char const* value) {
  if (!recording) return;
  Record& r = records[op];
  ++r.calls;
  r.handle = static_cast<uint64_t>(key(h));
  r.has_name = name != nullptr;
  r.name = name ? name : "";
  r.has_value = value != nullptr;
  r.value = value ? value : "";
}

bool take_forced(int op, int* code) {
  if (!next.forced[op]) return false;
  next.forced[op] = false;
  *code = next.code[op];
  return true;
}

// Looks the handle up; on failure returns the result code to give.
int find(QelHandle h, Kind kind, Object** out) {
  auto it = objects.find(key(h));
  if (it == objects.end()) return QELSTUB_E_UNKNOWN_HANDLE;
  if (it->second->kind != kind) return QELSTUB_E_WRONG_KIND;
  *out = it->second.get();
  return QELSTUB_OK;
}

// The CMA `name` of the object, or null.
Cma* find_cma(Object* o, char const* name) {
  auto it = o->by_name.find(name);
  return it == o->by_name.end() ? nullptr : &*it->second;
}

// Sets the value of CMA `name`, adding it at the end if it is new.
void put_cma(Object* o, char const* name, char const* value) {
  if (Cma* c = find_cma(o, name)) {
    c->value = value;
    return;
  }
  o->cmas.push_back(Cma{name, value});
  o->by_name[name] = std::prev(o->cmas.end());
}

char* copy(std::string const& s) {
  char* p = static_cast<char*>(malloc(s.size() + 1));
  if (p) memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

// A names array the caller frees; holds `n` slots (null if that is too many).
char** new_array(size_t n) {
  return static_cast<char**>(calloc(n > 0 ? n : 1, sizeof(char*)));
}

uint64_t add_object(Kind kind) {
  std::unique_ptr<Object> o(new Object{kind, {}, {}, 0, 0});
  uintptr_t h = reinterpret_cast<uintptr_t>(o.get());
  std::lock_guard<std::mutex> lock(mutex);
  objects[h] = std::move(o);
  return h;
}

int copy_out(std::string const& s, bool present, char* buffer, int size) {
  if (!present) return -1;
  if (buffer && size > 0) {
    size_t n = std::min(s.size() + 1, static_cast<size_t>(size));
    memcpy(buffer, s.c_str(), n);
    buffer[n - 1] = '\0';
  }
  return static_cast<int>(s.size());
}

}  // namespace

extern "C" {

// ---- the agent operations -------------------------------------------------

int QELAGT_CALL qelagt_message_send(QelHandle message) {
  int code;
  std::lock_guard<std::mutex> lock(mutex);
  record(QELSTUB_OP_MESSAGE_SEND, message, nullptr, nullptr);
  if (take_forced(QELSTUB_OP_MESSAGE_SEND, &code)) return code;
  Object* o;
  if (int rc = find(message, Kind::Message, &o)) return rc;
  ++o->sent;
  return QELSTUB_OK;
}

int QELAGT_CALL qelagt_message_ack(QelHandle message) {
  int code;
  std::lock_guard<std::mutex> lock(mutex);
  record(QELSTUB_OP_MESSAGE_ACK, message, nullptr, nullptr);
  if (take_forced(QELSTUB_OP_MESSAGE_ACK, &code)) return code;
  Object* o;
  if (int rc = find(message, Kind::Message, &o)) return rc;
  if (o->sent == 0) return QELSTUB_E_NOT_SENT;
  ++o->acked;
  return QELSTUB_OK;
}

int QELAGT_CALL qelagt_monvalue_send(QelHandle monvalue) {
  int code;
  std::lock_guard<std::mutex> lock(mutex);
  record(QELSTUB_OP_MONVALUE_SEND, monvalue, nullptr, nullptr);
  if (take_forced(QELSTUB_OP_MONVALUE_SEND, &code)) return code;
  Object* o;
  if (int rc = find(monvalue, Kind::MonValue, &o)) return rc;
  ++o->sent;
  return QELSTUB_OK;
}

int QELAGT_CALL qelagt_cma_set(QelHandle message, char const* name, char const* value) {
  int code;
  std::lock_guard<std::mutex> lock(mutex);
  record(QELSTUB_OP_CMA_SET, message, name, value);
  if (take_forced(QELSTUB_OP_CMA_SET, &code)) return code;
  if (!name || !value) return QELSTUB_E_INVALID_ARGUMENT;
  Object* o;
  if (int rc = find(message, Kind::Message, &o)) return rc;
  put_cma(o, name, value);
  return QELSTUB_OK;
}

int QELAGT_CALL qelagt_cma_get(QelHandle message, char const* name, char** value) {
  int code;
  std::lock_guard<std::mutex> lock(mutex);
  record(QELSTUB_OP_CMA_GET, message, name, nullptr);
  if (next.get_leaves) {
    next.get_leaves = false;
    if (next.get_has_value) {
      last_value = next.get_value;
      *value = &last_value[0];
    }
    return next.get_code;
  }
  if (take_forced(QELSTUB_OP_CMA_GET, &code)) return code;
  if (!name || !value) return QELSTUB_E_INVALID_ARGUMENT;
  Object* o;
  if (int rc = find(message, Kind::Message, &o)) return rc;
  Cma* c = find_cma(o, name);
  if (c == nullptr) return QELSTUB_E_NO_SUCH_CMA;
  last_value = c->value;
  *value = &last_value[0];
  return QELSTUB_OK;
}

int QELAGT_CALL qelagt_cma_remove(QelHandle message, char const* name) {
  int code;
  std::lock_guard<std::mutex> lock(mutex);
  record(QELSTUB_OP_CMA_REMOVE, message, name, nullptr);
  if (take_forced(QELSTUB_OP_CMA_REMOVE, &code)) return code;
  if (!name) return QELSTUB_E_INVALID_ARGUMENT;
  Object* o;
  if (int rc = find(message, Kind::Message, &o)) return rc;
  auto it = o->by_name.find(name);
  if (it == o->by_name.end()) return QELSTUB_E_NO_SUCH_CMA;
  o->cmas.erase(it->second);
  o->by_name.erase(it);
  return QELSTUB_OK;
}

int QELAGT_CALL qelagt_cma_names(QelHandle message, char*** names, int* count) {
  int code;
  std::lock_guard<std::mutex> lock(mutex);
  record(QELSTUB_OP_CMA_NAMES, message, nullptr, nullptr);
  if (!names || !count) return QELSTUB_E_INVALID_ARGUMENT;
  if (take_forced(QELSTUB_OP_CMA_NAMES, &code)) {
    *names = new_array(0);
    return code;
  }
  Object* o;
  if (int rc = find(message, Kind::Message, &o)) return rc;
  if (next.names_count_set) {
    next.names_count_set = false;
    int n = next.names_count;
    if (next.names_without_array) {
      next.names_without_array = false;
      *names = nullptr;
      *count = n;
      return QELSTUB_OK;
    }
    char** list = new_array(n > 0 ? static_cast<size_t>(n) : 0);
    if (!list) return QELSTUB_E_INVALID_ARGUMENT;
    for (int i = 0; i < n; ++i) list[i] = copy("name-" + std::to_string(i));
    *names = list;
    *count = n;
    return QELSTUB_OK;
  }
  char** list = new_array(o->cmas.size());
  if (!list) return QELSTUB_E_INVALID_ARGUMENT;
  size_t i = 0;
  for (Cma const& c : o->cmas) list[i++] = copy(c.name);
  *names = list;
  *count = static_cast<int>(o->cmas.size());
  return QELSTUB_OK;
}

// ---- test control ---------------------------------------------------------

void qelstub_reset(void) {
  std::lock_guard<std::mutex> lock(mutex);
  objects.clear();
  for (Record& r : records) r = Record();
  recording = true;
  next = NextCall();
}

uint64_t qelstub_new_message(void) { return add_object(Kind::Message); }
uint64_t qelstub_new_monvalue(void) { return add_object(Kind::MonValue); }

void qelstub_destroy(uint64_t handle) {
  std::lock_guard<std::mutex> lock(mutex);
  objects.erase(static_cast<uintptr_t>(handle));
}

int qelstub_sent_count(uint64_t handle) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = objects.find(static_cast<uintptr_t>(handle));
  return it == objects.end() ? -1 : it->second->sent;
}

int qelstub_ack_count(uint64_t handle) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = objects.find(static_cast<uintptr_t>(handle));
  return it == objects.end() ? -1 : it->second->acked;
}

int qelstub_put_cma(uint64_t handle, char const* name, char const* value) {
  std::lock_guard<std::mutex> lock(mutex);
  Object* o;
  if (int rc = find(reinterpret_cast<QelHandle>(static_cast<uintptr_t>(handle)),
                    Kind::Message, &o))
    return rc;
  put_cma(o, name, value);
  return QELSTUB_OK;
}

void qelstub_force_next_result(int op, int code) {
  if (op < 0 || op >= QELSTUB_OP_COUNT) return;
  next.forced[op] = true;
  next.code[op] = code;
}

void qelstub_next_get_leaves(int code, char const* value) {
  next.get_leaves = true;
  next.get_code = code;
  next.get_has_value = value != nullptr;
  next.get_value = value ? value : "";
}

void qelstub_next_get_leaves_slot_null(int code) {
  qelstub_next_get_leaves(code, nullptr);
}

void qelstub_next_names_count(int count) {
  next.names_count_set = true;
  next.names_count = count;
  next.names_without_array = false;
}

void qelstub_next_names_without_array(int count) {
  qelstub_next_names_count(count);
  next.names_without_array = true;
}

void qelstub_set_recording(int on) {
  std::lock_guard<std::mutex> lock(mutex);
  recording = on != 0;
}

long long qelstub_heap_in_use(void) {
#ifdef __GLIBC__
  struct mallinfo2 m = mallinfo2();
  return static_cast<long long>(m.uordblks + m.hblkhd);
#else
  return -1;
#endif
}

long long qelstub_calls(int op) {
  if (op < 0 || op >= QELSTUB_OP_COUNT) return -1;
  std::lock_guard<std::mutex> lock(mutex);
  return records[op].calls;
}

uint64_t qelstub_last_handle(int op) {
  if (op < 0 || op >= QELSTUB_OP_COUNT) return 0;
  std::lock_guard<std::mutex> lock(mutex);
  return records[op].handle;
}

int qelstub_last_name(int op, char* buffer, int size) {
  if (op < 0 || op >= QELSTUB_OP_COUNT) return -1;
  std::lock_guard<std::mutex> lock(mutex);
  return copy_out(records[op].name, records[op].has_name, buffer, size);
}

int qelstub_last_value(int op, char* buffer, int size) {
  if (op < 0 || op >= QELSTUB_OP_COUNT) return -1;
  std::lock_guard<std::mutex> lock(mutex);
  return copy_out(records[op].value, records[op].has_value, buffer, size);
}

}  // extern "C"
