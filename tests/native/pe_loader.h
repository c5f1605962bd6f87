// A small loader for the 32-bit Windows DLL, so that its own machine code
// runs in the tests: an i386 Linux process (under qemu-i386 on a 64-bit
// kernel) maps the DLL away from its preferred base, applies its base
// relocations, binds its imports to the stand-ins and the C library, and
// calls its entry point and natives with the Windows x86 conventions.
//
// The DLL's allocations and frees go through a ledger, since no sanitizer
// sees inside it: per call, every block the stand-ins handed it must be freed
// exactly once, the agent's CMA value never, and nothing it allocated itself
// may be left. Each thread keeps its own ledger, so that threads may call the
// DLL at once, each checking its own calls.
#ifndef JQEL_TESTS_PE_LOADER_H
#define JQEL_TESTS_PE_LOADER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pe {

// Maps the DLL at `path`, binds its imports and runs its entry point for
// process attach, thread attach and thread detach. Returns the module's base,
// or null with the reason in *error (an import it must not have, a name where
// an ordinal belongs, no base relocations, a table that lies outside the
// image, an entry point answering FALSE...); a load that fails leaves nothing
// mapped.
void* load(char const* path, std::string* error);
// The same for a DLL's bytes; `name` stands for the file in *error.
void* load(std::vector<uint8_t> const& file, std::string const& name, std::string* error);

// How many DLL images this process holds mapped.
int images_mapped();

// The address bound for the import `name` of `dll` (which is compared without
// regard to case) in a loaded module's import address table, which the DLL
// calls for it; null if it has no such import.
void const* bound_import(void* module, std::string const& dll, std::string const& name);

// The address of the export `name` of a loaded module, or null.
void* find_export(void* module, std::string const& name);

// Runs the entry point for process detach; false unless it answers TRUE and
// pops its arguments.
bool detach(void* module);

// What a call did: the callee's result (EAX) and the bytes it popped.
struct Call {
  uint32_t result;
  int popped;
};

// Arguments as a 32-bit x86 caller pushes them: each in 4-byte words, a jlong
// in two (low half first).
template <typename... A>
std::vector<uint32_t> to_words(A... args) {
  std::vector<uint32_t> words((((sizeof(A) + 3) / 4) + ...));
  size_t at = 0;
  ((std::memcpy(reinterpret_cast<unsigned char*>(words.data()) + at, &args, sizeof args),
    at += (sizeof args + 3) / 4 * 4),
   ...);
  return words;
}

// Calls `function` with `count` 32-bit words pushed right to left, the stack
// pointer `misalign` bytes above a 16-byte boundary at the call instruction
// (a 32-bit Windows thread guarantees only 4-byte alignment).
Call call(void const* function, uint32_t const* words, int count, int misalign);

// Starts a fresh ledger for the calling thread's next call of the DLL, and
// ends it: the returned list says what the call did wrong with memory (empty
// if nothing). Frees that were wrong (twice, the agent's value, a block it
// does not own) are never passed on to the C library.
void begin_call();
std::vector<std::string> end_call();

}  // namespace pe

#endif
