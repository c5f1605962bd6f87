#include "bridge_library.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace bridge {

void* library() {
#ifdef _WIN32
  static void* lib = reinterpret_cast<void*>(LoadLibraryA(JQEL_BRIDGE_FILE));
#else
  static void* lib = dlopen(JQEL_BRIDGE_FILE, RTLD_NOW | RTLD_LOCAL);
#endif
  return lib;
}

void* symbol(std::string const& name) {
  void* lib = library();
  if (lib == nullptr) {
    ADD_FAILURE() << "cannot load " << JQEL_BRIDGE_FILE;
    return nullptr;
  }
#ifdef _WIN32
  void* p = reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(lib), name.c_str()));
#else
  void* p = dlsym(lib, name.c_str());
#endif
  if (p == nullptr) ADD_FAILURE() << "no export named " << name;
  return p;
}

}  // namespace bridge
