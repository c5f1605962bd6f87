// The name of every slot of the JNI function table, by index, for messages
// about a slot that was called; and the number of slots. For the test JNIEnvs
// (the fake JVM, and the view the 32-bit DLL gets in a real JVM).
#ifndef JQEL_TESTS_JNI_SLOT_NAMES_H
#define JQEL_TESTS_JNI_SLOT_NAMES_H

#include <jni.h>

#include <cstddef>

namespace jni_slots {

constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);

#define JQEL_JNI_RESERVED(name) #name,
#define JQEL_JNI_SLOT(name) #name,
inline char const* const kNames[] = {
#include "jni_slots.inc"
};
#undef JQEL_JNI_RESERVED
#undef JQEL_JNI_SLOT
static_assert(sizeof(kNames) / sizeof(kNames[0]) == kSlots,
              "jni_slots.inc does not match this jni.h");

}  // namespace jni_slots

#endif
