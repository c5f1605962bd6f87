// Conventions that every native method of this library shares: how the Java
// message handle becomes the agent's handle, how Java strings become native
// strings and back, who frees what, and how a call reports a bad argument.
//
// Everything here lives for one call at most: nothing is cached, nothing
// global is written, no lock is taken.
#ifndef JQEL_BRIDGE_CONVENTIONS_H
#define JQEL_BRIDGE_CONVENTIONS_H

#include <jni.h>
#include <stdint.h>

#include "agent/qelagtapi.h"

namespace jqel {

// The message handle reaches every native as a Java long. The agent takes a
// pointer-sized handle: on a 32-bit platform that is the low 32 bits and the
// high half is ignored; on a 64-bit platform it is all 64 bits, since dropping
// the high half of a pointer would hand the agent another address.
inline QelHandle to_handle(jlong handle) {
  return reinterpret_cast<QelHandle>(
      static_cast<uintptr_t>(static_cast<uint64_t>(handle)));
}

}  // namespace jqel

#endif
