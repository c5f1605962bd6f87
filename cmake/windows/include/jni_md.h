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
 *
 * The tests of the 32-bit DLL use this header too, in an i386 Linux process
 * that calls the DLL's natives and serves their JNIEnv as a 32-bit Windows
 * JVM does. GCC spells the same convention and types differently there.
 */
#ifndef JQEL_WINDOWS_JNI_MD_H
#define JQEL_WINDOWS_JNI_MD_H

#ifdef _WIN32

/* A library that exports its natives through a module-definition file
 * defines JNIEXPORT as empty before including jni.h. */
#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall
typedef __int64 jlong;

#else /* GCC on i386 Linux, for the 32-bit DLL's tests */

#if !defined(__i386__)
#error "the Windows JNI conventions outside Windows are for i386 test processes only"
#endif
#ifndef JNIEXPORT
#define JNIEXPORT __attribute__((visibility("default")))
#endif
#define JNIIMPORT
#define JNICALL __attribute__((stdcall))
typedef long long jlong;

#endif

typedef long jint;
typedef signed char jbyte;

#endif
