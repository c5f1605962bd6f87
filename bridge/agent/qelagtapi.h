// The agent API operations that the bridge calls, from the agent product's
// library libqelagtapi. Each native method calls exactly one of them.
//
// On 32-bit Windows the library is bound by ordinal alone (see the ordinal
// beside each prototype); the C names below are only this build's labels.
// Elsewhere the operations are bound by these names.
//
// Every operation takes the message handle first and returns an int result
// code, 0 for success; the bridge hands the code to Java unchanged.
#ifndef JQEL_AGENT_QELAGTAPI_H
#define JQEL_AGENT_QELAGTAPI_H

// Calling convention of the agent operations as declared here. The product
// library's own header is not at hand, so on 32-bit Windows its operations
// may be __cdecl or __stdcall; the bridge works with either, because it calls
// every operation through jqel::call_agent (bridge/conventions.h), which
// leaves the stack as it was whoever pops the arguments. The stand-in agent
// is built with either convention (QELAGT_CALL set on its command line) to
// prove that.
#ifndef QELAGT_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define QELAGT_CALL __cdecl
#else
#define QELAGT_CALL
#endif
#endif

// Empty for the bridge; the stand-in agent sets it to export its definitions.
#ifndef QELAGT_API
#define QELAGT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The agent's handle of a message or monitor value: a pointer-sized value the
// bridge never looks inside.
typedef void* QelHandle;

// Ordinal 3. Sends the message.
QELAGT_API int QELAGT_CALL qelagt_message_send(QelHandle message);

// Ordinal 4. Acknowledges the message.
QELAGT_API int QELAGT_CALL qelagt_message_ack(QelHandle message);

// Ordinal 5. Sends the monitor value.
QELAGT_API int QELAGT_CALL qelagt_monvalue_send(QelHandle monvalue);

// Ordinal 37. Sets the CMA `name` of the message to `value`.
// Borrows both strings for the call only; the caller frees them afterwards.
QELAGT_API int QELAGT_CALL qelagt_cma_set(QelHandle message, char const* name,
                                          char const* value);

// Ordinal 38. Reads the CMA `name` into *value.
// On return *value points at the value or is null (also on failure).
// The value stays the agent's: the caller must not free it. It stays readable
// at least until the calling thread calls the agent again.
QELAGT_API int QELAGT_CALL qelagt_cma_get(QelHandle message, char const* name,
                                          char** value);

// Ordinal 39. Removes the CMA `name` from the message.
QELAGT_API int QELAGT_CALL qelagt_cma_remove(QelHandle message, char const* name);

// Ordinal 40. Lists the names of the message's CMAs.
// On result 0, *names and *count are set and *names holds *count strings.
// The array and every string in it pass to the caller, who releases each with
// the C runtime's free(). On another result only *names is meaningful (null
// unless the agent set it) and the caller frees just that pointer.
QELAGT_API int QELAGT_CALL qelagt_cma_names(QelHandle message, char*** names, int* count);

#ifdef __cplusplus
}
#endif

#endif
