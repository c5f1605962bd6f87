// Test-control interface of the stand-in converter library (JQelAgtbase).
//
// The stand-in's native encoding is UTF-8, generalised just enough to carry
// every Java string losslessly in a NUL-terminated string: U+0000 is written
// as the two bytes C0 80, and a lone surrogate as its three-byte form.
// Characters beyond U+FFFF take their standard four bytes. convertStringToUTF
// accepts exactly these forms and returns null for any other bytes.
#ifndef JQEL_STANDIN_JQELAGTBASE_STANDIN_H
#define JQEL_STANDIN_JQELAGTBASE_STANDIN_H

#ifndef JQELAGTBASE_API
#define JQELAGTBASE_API
#endif

// On Windows these are exported by name through JQelAgtbase-x64.def, which
// must list every function declared here.
extern "C" {

// After `skip` more successful calls on the calling thread, the next
// convertStringFromUTF call fails once (returns null).
JQELAGTBASE_API void qelconv_fail_next_from_utf(int skip);

// Every later convertStringToUTF on the calling thread first makes `count`
// local references of its own (String's class, by FindClass) and leaves them
// to the JVM, as a converter may that looks up a class or converts through a
// byte array. 0, the default, makes none.
JQELAGTBASE_API void qelconv_leave_local_refs(int count);
}

#endif
