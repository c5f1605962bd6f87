#include "bridge_library.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#elif defined(JQEL_PE_DLL)
#include <cstdlib>

#include "pe_loader.h"
#else
#include <dlfcn.h>
#endif

namespace bridge {

#ifdef JQEL_PE_DLL

namespace {

// The DLL, named by the environment variable JQEL_BRIDGE_DLL: loaded before
// the first test, and told of the process's end after the last.
void* dll = nullptr;

class DllEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char const* path = std::getenv("JQEL_BRIDGE_DLL");
    ASSERT_NE(path, nullptr) << "set JQEL_BRIDGE_DLL to the DLL to test";
    std::string error;
    dll = pe::load(path, &error);
    ASSERT_NE(dll, nullptr) << error;
  }
  void TearDown() override {
    if (dll != nullptr) { EXPECT_TRUE(pe::detach(dll)) << "process detach"; }
  }
};
::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new DllEnvironment);

}  // namespace

void* library() { return dll; }

void* symbol(std::string const& name) {
  if (dll == nullptr) {
    ADD_FAILURE() << "the DLL is not loaded";
    return nullptr;
  }
  void* p = pe::find_export(dll, name);
  if (p == nullptr) ADD_FAILURE() << "no export named " << name;
  return p;
}

// Every call runs on a stack aligned to 4 bytes only, at 4, 8 and 12 above a
// 16-byte boundary in turn, as a 32-bit Windows JVM may call it.
jint call_dll_native(char const* name, void const* function,
                     std::vector<uint32_t> const& words) {
  static int calls = 0;
  int misalign = 4 + 4 * (calls++ % 3);
  int count = static_cast<int>(words.size());
  pe::begin_call();
  pe::Call c = pe::call(function, words.data(), count, misalign);
  EXPECT_EQ(c.popped, 4 * count) << name << " popped the wrong number of bytes";
  for (auto const& fault : pe::end_call()) ADD_FAILURE() << name << ": " << fault;
  return static_cast<jint>(c.result);
}

#else

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
  void* p =
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name.c_str()));
#else
  void* p = dlsym(lib, name.c_str());
#endif
  if (p == nullptr) ADD_FAILURE() << "no export named " << name;
  return p;
}

#endif

}  // namespace bridge
