/*
 * Machine-dependent JNI definitions for Windows, for cross builds with
 * MinGW-w64 against the platform-neutral jni.h of a Linux JDK (which ships
 * only its own platform's jni_md.h).
 *
 * These match what a Windows JVM expects of a native library: exported
 * functions, the __stdcall convention on 32-bit x86 (the compiler ignores it
 * on x64), and the Windows JDK's integer types. jint is `long` here (32 bits
 * on Windows), as in Windows JDKs up to 20; it is part of the C++ decoration
 * of any function that takes a jint, so it must not change.
 */
#ifndef JQEL_WINDOWS_JNI_MD_H
#define JQEL_WINDOWS_JNI_MD_H

/* A library that exports its natives through a module-definition file
 * defines JNIEXPORT as empty before including jni.h. */
#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
