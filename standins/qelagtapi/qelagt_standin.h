// Test-control interface of the stand-in agent library (libqelagtapi).
//
// The stand-in is a small in-memory agent: messages and monitor values are
// objects keyed by handle (the object's address), each message holding its
// CMAs in insertion order. Tests, the demo and the benchmark use the functions
// below to make objects, steer the next result of an operation and read back
// what the agent received. A real agent library has none of them.
//
// The "next call" controls apply to the calling thread only, so a test can
// steer its own calls while other threads use the agent undisturbed.
#ifndef JQEL_STANDIN_QELAGT_STANDIN_H
#define JQEL_STANDIN_QELAGT_STANDIN_H

#include <stdint.h>

#include "agent/qelagtapi.h"

#ifdef __cplusplus
extern "C" {
#endif

// Result codes of the stand-in agent.
enum {
  QELSTUB_OK = 0,
  QELSTUB_E_UNKNOWN_HANDLE = 1,  // the handle names no live object
  QELSTUB_E_WRONG_KIND = 2,      // a message operation on a monitor value, or the reverse
  QELSTUB_E_NO_SUCH_CMA = 3,     // get or remove of a CMA the message does not have
  QELSTUB_E_INVALID_ARGUMENT = 4,  // a null name, value or out pointer
  QELSTUB_E_NOT_SENT = 5           // acknowledge of a message never sent
};

// The seven operations, for the controls below.
enum {
  QELSTUB_OP_MESSAGE_SEND = 0,
  QELSTUB_OP_MESSAGE_ACK = 1,
  QELSTUB_OP_MONVALUE_SEND = 2,
  QELSTUB_OP_CMA_SET = 3,
  QELSTUB_OP_CMA_GET = 4,
  QELSTUB_OP_CMA_REMOVE = 5,
  QELSTUB_OP_CMA_NAMES = 6,
  QELSTUB_OP_COUNT = 7
};

// Drops every object and record and the calling thread's pending controls.
QELAGT_API void qelstub_reset(void);

// Makes a new, empty message or monitor value and returns its handle.
QELAGT_API uint64_t qelstub_new_message(void);
QELAGT_API uint64_t qelstub_new_monvalue(void);
// Destroys the object; its handle becomes unknown.
QELAGT_API void qelstub_destroy(uint64_t handle);

// How often the object was sent (message or monitor value) and acknowledged;
// -1 for an unknown handle.
QELAGT_API int qelstub_sent_count(uint64_t handle);
QELAGT_API int qelstub_ack_count(uint64_t handle);

// Adds or replaces a CMA with arbitrary native bytes, bypassing the bridge,
// so that tests can plant names and values that do not convert.
QELAGT_API int qelstub_put_cma(uint64_t handle, char const* name, char const* value);

// The calling thread's next call of `op` does nothing but return `code`.
// For CMA names it also hands over an empty array (which the caller frees).
QELAGT_API void qelstub_force_next_result(int op, int code);
// The calling thread's next CMA get returns `code` and leaves the slot null.
QELAGT_API void qelstub_next_get_leaves_slot_null(int code);
// The calling thread's next CMA get returns `code` and leaves `value` (a
// copy, or null for none) in the slot, as an agent may on failure too.
QELAGT_API void qelstub_next_get_leaves(int code, char const* value);
// The calling thread's next successful CMA names call reports `count`
// instead of the message's names: for a positive count it hands over that
// many new names "name-0", "name-1", ..., otherwise an array holding none.
QELAGT_API void qelstub_next_names_count(int count);
// The same, but it hands over no array at all (a null pointer) beside the
// count, as a faulty agent might.
QELAGT_API void qelstub_next_names_without_array(int count);

// Bytes of the C runtime's heap in use in this process (allocated and not yet
// freed), so that tests can see whether what the agent handed over was
// freed; -1 where the C runtime cannot tell.
QELAGT_API long long qelstub_heap_in_use(void);

// Records of what the agent received, per operation: the number of calls and
// the arguments of the last one. Recording can be switched off (benchmarks).
QELAGT_API void qelstub_set_recording(int on);
QELAGT_API long long qelstub_calls(int op);
QELAGT_API uint64_t qelstub_last_handle(int op);
// Copies the last name or value received (NUL-terminated native bytes) into
// `buffer`; returns its length, or -1 when there was none. At most `size`
// bytes are written.
QELAGT_API int qelstub_last_name(int op, char* buffer, int size);
QELAGT_API int qelstub_last_value(int op, char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif
