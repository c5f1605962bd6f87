// The string converters of the agent product's library JQelAgtbase, which
// translate between JNI's modified UTF-8 and the agent's native encoding.
//
// These are C++ functions on purpose: the product library exports them under
// C++ decorated names that encode exactly these argument and result types, so
// the prototypes must not change, not even in constness.
#ifndef JQEL_AGENT_JQELAGTBASE_H
#define JQEL_AGENT_JQELAGTBASE_H

#include <jni.h>

// Empty for the bridge; the stand-in converter sets it to export them.
#ifndef JQELAGTBASE_API
#define JQELAGTBASE_API
#endif

// Converts NUL-terminated modified UTF-8 into a new native string.
// Returns a string allocated from the C runtime's heap that the caller must
// release with free(), or null when it makes none.
JQELAGTBASE_API char* convertStringFromUTF(char const* utf);

// Converts a native string into a new Java string.
// Returns a new local reference, or null when the bytes make no string (or a
// Java exception is pending). Reads `native` only; the caller keeps it.
JQELAGTBASE_API jstring convertStringToUTF(char* native, JNIEnv* env);

#endif
