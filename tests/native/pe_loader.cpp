// The PE32 loader of pe_loader.h. It reads the DLL file itself, following
// the public PE/COFF layout (offsets below), and needs no Windows headers.
// Built only for i386 Linux, into the test programs of the 32-bit DLL.
#include "pe_loader.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include "agent/jqelagtbase.h"
#include "qelagt_standin.h"

#if !defined(__i386__) || defined(_WIN32)
#error "the PE loader runs the 32-bit Windows DLL in an i386 Linux process"
#endif

// pe::call's body: cdecl, jqel_pe_call(function, words, count, misalign,
// &popped). It moves the stack pointer to 16k + misalign minus the argument
// bytes, pushes the words right to left, calls, and measures how far the
// callee moved the stack pointer back (a __stdcall callee pops them all).
// The frame pointer restores the stack whatever the callee did.
extern "C" uint32_t jqel_pe_call(void const* function, uint32_t const* words,
                                 uint32_t count, uint32_t misalign, int32_t* popped);
__asm__(
    ".pushsection .text\n"
    ".globl jqel_pe_call\n"
    ".type jqel_pe_call, @function\n"
    "jqel_pe_call:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  subl $4, %esp\n"          // -16(%ebp): the stack pointer before the pushes
    "  movl 16(%ebp), %ecx\n"    // count
    "  movl 12(%ebp), %esi\n"    // words
    "  leal 0(,%ecx,4), %edx\n"  // argument bytes
    "  movl %esp, %eax\n"
    "  subl %edx, %eax\n"
    "  subl $32, %eax\n"
    "  andl $-16, %eax\n"
    "  addl 20(%ebp), %eax\n"  // the stack pointer at the call: 16k + misalign
    "  addl %edx, %eax\n"
    "  movl %eax, -16(%ebp)\n"
    "  movl %eax, %esp\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  movl %esp, %ecx\n"
    "  subl -16(%ebp), %ecx\n"  // popped - argument bytes
    "  movl 16(%ebp), %edx\n"
    "  leal (%ecx,%edx,4), %ecx\n"
    "  movl 24(%ebp), %edx\n"
    "  movl %ecx, (%edx)\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n"
    ".size jqel_pe_call, .-jqel_pe_call\n"
    ".popsection\n");

namespace pe {

Call call(void const* function, uint32_t const* words, int count, int misalign) {
  int32_t popped = 0;
  uint32_t result = jqel_pe_call(function, words, static_cast<uint32_t>(count),
                                 static_cast<uint32_t>(misalign), &popped);
  return Call{result, popped};
}

namespace {

// ---- the ledger -------------------------------------------------------------
//
// One per thread: a call's allocations, frees and hand-overs all happen on
// the thread that made the call, so the ledger needs no lock.
//
// A block is forgotten once freed: the C library may hand its address out
// again, to the DLL's own malloc or to a stand-in, and then it is a new block.
struct Ledger {
  std::unordered_set<void const*> handed;  // blocks from a stand-in, not yet freed
  std::unordered_set<void const*> values;  // CMA values: the agent's, never freed
  std::unordered_set<void const*> own;     // the DLL's own blocks, not yet freed
  std::unordered_set<void const*> freed;   // freed, and not handed out since
  std::vector<std::string> faults;
};
thread_local Ledger ledger;

std::string hex(void const* p) {
  char text[16];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

void hand_over(void const* block) {
  if (block == nullptr) return;
  ledger.freed.erase(block);
  ledger.handed.insert(block);
}

// MSVCR80's free and malloc, as the DLL sees them.
void dll_free(void* block) {
  if (block == nullptr) return;
  if (ledger.handed.erase(block) == 0 && ledger.own.erase(block) == 0) {
    if (ledger.values.count(block) != 0)
      ledger.faults.push_back("freed the agent's CMA value " + hex(block));
    else if (ledger.freed.count(block) != 0)
      ledger.faults.push_back("freed twice: " + hex(block));
    else
      ledger.faults.push_back("freed a block it was never given: " + hex(block));
    return;
  }
  ledger.freed.insert(block);
  std::free(block);
}

void* dll_malloc(size_t size) {
  void* block = std::malloc(size);
  if (block == nullptr) return nullptr;
  ledger.freed.erase(block);
  ledger.own.insert(block);
  return block;
}

// The converter and the two agent operations that hand memory over, as
// wrappers that tell the ledger what the DLL now owns.
char* converted_from_utf(char const* utf) {
  char* native = convertStringFromUTF(utf);
  hand_over(native);
  return native;
}

int QELAGT_CALL cma_get(QelHandle message, char const* name, char** value) {
  int rc = qelagt_cma_get(message, name, value);
  if (value != nullptr && *value != nullptr) ledger.values.insert(*value);
  return rc;
}

int QELAGT_CALL cma_names(QelHandle message, char*** names, int* count) {
  int rc = qelagt_cma_names(message, names, count);
  if (names == nullptr || *names == nullptr) return rc;
  hand_over(*names);
  if (rc == 0 && count != nullptr)
    for (int i = 0; i < *count; ++i) hand_over((*names)[i]);
  return rc;
}

// ---- reading the image ------------------------------------------------------

uint16_t u16(uint8_t const* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(uint8_t const* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Offsets of the PE/COFF format.
constexpr uint32_t kPeOffset = 0x3C;  // in the DOS header: the PE signature's offset
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kFileRelocsStripped = 0x0001, kFileDll = 0x2000;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr int kExportDirectory = 0, kImportDirectory = 1, kRelocationDirectory = 5,
              kTlsDirectory = 9;
constexpr uint16_t kRelocationAbsolute = 0, kRelocationHighLow = 3;
constexpr uint32_t kImportByOrdinal = 0x80000000;
constexpr uint32_t kSectionExecute = 0x20000000, kSectionRead = 0x40000000,
                   kSectionWrite = 0x80000000;
constexpr uint32_t kProcessDetach = 0, kProcessAttach = 1, kThreadAttach = 2,
                   kThreadDetach = 3;

struct Module {
  uint8_t* base;
  uint32_t size;
  uint32_t entry;  // relative address of the entry point
  std::unordered_map<std::string, uint32_t> exports;
  // "<dll>!<name>" (the DLL's name in lower case) -> the relative address of
  // its slot in the import address table
  std::unordered_map<std::string, uint32_t> imports;
};
std::unordered_map<void*, Module> modules;

std::string import_key(std::string dll, std::string const& name) {
  for (char& c : dll) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return dll + "!" + name;
}

// The mapped image. Every table the loader reads from it is checked to lie
// inside it first: a malformed DLL gets an error, not a read or write of
// memory beyond it.
struct Image {
  uint8_t* base;
  uint32_t size;

  // True if the `bytes` at relative address `at` lie inside the image.
  bool holds(uint64_t at, uint64_t bytes) const {
    return at <= size && bytes <= size - at;
  }
  // The NUL-terminated string at relative address `at`, or null if it does
  // not end inside the image.
  char const* string(uint64_t at) const {
    if (at >= size) return nullptr;
    char const* s = reinterpret_cast<char const*>(base + at);
    return std::memchr(s, 0, size - at) != nullptr ? s : nullptr;
  }
};

std::atomic<int> mapped{0};  // images mapped and not unmapped

// Memory for an image, away from the DLL's preferred base so that its
// relocations must be right. It is unmapped when it goes out of scope unless
// a loaded module keeps it (release), so a load that fails leaves nothing.
class Mapping {
 public:
  Mapping(uint32_t size, uint32_t preferred) : size_(size) {
    void* at =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == reinterpret_cast<void*>(preferred)) {
      void* taken = at;
      at =
          mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      munmap(taken, size);
    }
    if (at == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(at);
    ++mapped;
  }
  ~Mapping() {
    if (base_ == nullptr) return;
    munmap(base_, size_);
    --mapped;
  }
  Mapping(Mapping const&) = delete;
  Mapping& operator=(Mapping const&) = delete;

  Image image() const { return Image{base_, size_}; }
  uint8_t* release() {
    uint8_t* base = base_;
    base_ = nullptr;
    return base;
  }

 private:
  uint8_t* base_ = nullptr;
  uint32_t size_;
};

// What an import of the DLL binds to, by ordinal or by name; null with
// *error set if it must not have it. Windows compares DLL names without
// regard to case.
void* bind(std::string const& dll, bool by_ordinal, uint32_t ordinal,
           std::string const& name, std::string* error) {
  std::string what =
      by_ordinal ? "ordinal " + std::to_string(ordinal) : "\"" + name + "\"";
  if (strcasecmp(dll.c_str(), "libqelagtapi.dll") == 0) {
    if (!by_ordinal) {
      *error = "imports " + what + " from " + dll +
               " by name; the agent is bound by ordinal only";
      return nullptr;
    }
    switch (ordinal) {
      case 3: return reinterpret_cast<void*>(&qelagt_message_send);
      case 4: return reinterpret_cast<void*>(&qelagt_message_ack);
      case 5: return reinterpret_cast<void*>(&qelagt_monvalue_send);
      case 37: return reinterpret_cast<void*>(&qelagt_cma_set);
      case 38: return reinterpret_cast<void*>(&cma_get);
      case 39: return reinterpret_cast<void*>(&qelagt_cma_remove);
      case 40: return reinterpret_cast<void*>(&cma_names);
    }
  } else if (strcasecmp(dll.c_str(), "JQelAgtbase.dll") == 0) {
    if (name == "?convertStringFromUTF@@YAPADPBD@Z")
      return reinterpret_cast<void*>(&converted_from_utf);
    if (name == "?convertStringToUTF@@YAPAV_jstring@@PADPAUJNIEnv_@@@Z")
      return reinterpret_cast<void*>(&convertStringToUTF);
  } else if (strcasecmp(dll.c_str(), "MSVCR80.dll") == 0) {
    if (name == "free") return reinterpret_cast<void*>(&dll_free);
    if (name == "malloc") return reinterpret_cast<void*>(&dll_malloc);
    if (name == "strlen") return reinterpret_cast<void*>(&strlen);
  }
  *error = "imports " + what + " from " + dll + ", which it must not need";
  return nullptr;
}

// Sets *error to `why` and returns false: a table the loader refuses.
bool refuse(std::string* error, std::string const& why) {
  *error = why;
  return false;
}

// Copies the file's headers and sections into the image; false on a
// malformed file.
bool map_sections(std::vector<uint8_t> const& file, uint32_t pe, Image image,
                  std::string* error) {
  uint8_t const* f = file.data();
  uint8_t const* coff = f + pe + 4;
  uint8_t const* optional = coff + 20;
  uint32_t headers = u32(optional + 60);
  uint16_t sections = u16(coff + 2);
  // The section table is read again from the image's copy of the headers.
  uint64_t table = pe + 24 + uint64_t{u16(coff + 16)}, table_end = table + 40u * sections;
  if (headers > file.size() || headers > image.size || table_end > headers)
    return refuse(error, "its headers lie outside the file or the image");
  std::memcpy(image.base, f, headers);
  uint8_t const* section = f + table;
  for (uint16_t i = 0; i < sections; ++i, section += 40) {
    uint32_t virtual_size = u32(section + 8), address = u32(section + 12);
    uint32_t raw_size = u32(section + 16), raw = u32(section + 20);
    uint32_t copied =
        virtual_size != 0 && virtual_size < raw_size ? virtual_size : raw_size;
    if (raw > file.size() || copied > file.size() - raw ||
        !image.holds(address, copied) || !image.holds(address, virtual_size))
      return refuse(error, "a section lies outside the file or the image");
    std::memcpy(image.base + address, f + raw, copied);
  }
  return true;
}

// Applies the base relocations for a load at the image's base.
bool relocate(Image image, uint8_t const* optional, std::string* error) {
  uint32_t delta =
      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image.base)) - u32(optional + 28);
  uint8_t const* directory = optional + 96 + 8 * kRelocationDirectory;
  uint32_t at = u32(directory), size = u32(directory + 4);
  if (at == 0 || size == 0)
    return refuse(error,
                  "it has no base relocations, so it cannot load where its preferred "
                  "base is taken");
  if (!image.holds(at, size))
    return refuse(error, "its base relocation table lies outside the image");
  uint32_t end = at + size;
  while (at + 8 <= end) {
    uint32_t page = u32(image.base + at), block = u32(image.base + at + 4);
    if (block < 8 || block > end - at)
      return refuse(error, "a base relocation block is malformed");
    for (uint32_t e = at + 8; e + 2 <= at + block; e += 2) {
      uint16_t entry = u16(image.base + e);
      uint16_t type = entry >> 12;
      if (type == kRelocationAbsolute) continue;
      if (type != kRelocationHighLow)
        return refuse(error, "a base relocation of type " + std::to_string(type) +
                                 " (only HIGHLOW is expected)");
      uint64_t target = uint64_t{page} + (entry & 0xFFF);
      if (!image.holds(target, 4))
        return refuse(error, "a base relocation lies outside the image");
      uint32_t value = u32(image.base + target) + delta;
      std::memcpy(image.base + target, &value, 4);
    }
    at += block;
  }
  return true;
}

// Binds every import, writing each address into the import address table.
bool bind_imports(Module* m, Image image, uint8_t const* optional, std::string* error) {
  uint8_t const* directory = optional + 96 + 8 * kImportDirectory;
  if (u32(directory) == 0) return true;
  std::string const outside = "its import table lies outside the image";
  for (uint64_t d = u32(directory);; d += 20) {
    if (!image.holds(d, 20)) return refuse(error, outside);
    uint8_t const* descriptor = image.base + d;
    if (u32(descriptor + 12) == 0) return true;
    char const* dll = image.string(u32(descriptor + 12));
    if (dll == nullptr) return refuse(error, outside);
    uint32_t lookup = u32(descriptor) != 0 ? u32(descriptor) : u32(descriptor + 16);
    uint32_t table = u32(descriptor + 16);
    for (uint64_t i = 0;; ++i) {
      if (!image.holds(lookup + 4 * i, 4)) return refuse(error, outside);
      uint32_t entry = u32(image.base + lookup + 4 * i);
      if (entry == 0) break;
      bool by_ordinal = (entry & kImportByOrdinal) != 0;
      uint32_t ordinal = by_ordinal ? entry & 0xFFFF : 0;
      char const* name =
          by_ordinal ? "" : image.string(uint64_t{entry} + 2);  // after the hint
      if (name == nullptr || !image.holds(table + 4 * i, 4))
        return refuse(error, outside);
      void* address = bind(dll, by_ordinal, ordinal, name, error);
      if (address == nullptr) return false;
      uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
      std::memcpy(image.base + table + 4 * i, &value, 4);
      m->imports[import_key(dll, by_ordinal ? "#" + std::to_string(ordinal) : name)] =
          static_cast<uint32_t>(table + 4 * i);
    }
  }
}

// The DLL's exported names, with their relative addresses.
bool read_exports(Module* m, Image image, uint8_t const* optional, std::string* error) {
  uint8_t const* directory = optional + 96 + 8 * kExportDirectory;
  uint32_t at = u32(directory), size = u32(directory + 4);
  if (at == 0) return true;
  std::string const outside = "its export table lies outside the image";
  if (!image.holds(at, 40)) return refuse(error, outside);
  uint8_t const* e = image.base + at;
  uint32_t functions = u32(e + 20), names = u32(e + 24);
  uint32_t addresses = u32(e + 28), name_table = u32(e + 32), ordinals = u32(e + 36);
  if (!image.holds(addresses, 4ull * functions) ||
      !image.holds(name_table, 4ull * names) || !image.holds(ordinals, 2ull * names))
    return refuse(error, outside);
  for (uint32_t i = 0; i < names; ++i) {
    char const* name = image.string(u32(image.base + name_table + 4 * i));
    if (name == nullptr) return refuse(error, outside);
    uint16_t index = u16(image.base + ordinals + 2 * i);
    uint32_t address = index < functions ? u32(image.base + addresses + 4 * index) : 0;
    if (address == 0 || address >= m->size || (address >= at && address - at < size))
      return refuse(error, std::string("the export ") + name +
                               " is forwarded or lies outside the image");
    m->exports[name] = address;
  }
  return true;
}

// Gives every page of the image the access that its sections ask for (where
// sections share a page, what each of them asks for), and the rest, the
// headers among it, read-only: so that a write to the DLL's code or
// constants faults as on Windows.
bool protect(Image image, uint8_t const* coff, std::string* error) {
  uint8_t const* optional = coff + 20;
  uint8_t const* section = optional + u16(coff + 16);
  uint64_t const page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  std::vector<int> access((image.size + page - 1) / page, -1);  // -1: no section's
  for (uint16_t i = 0; i < u16(coff + 2); ++i, section += 40) {
    uint32_t flags = u32(section + 36), address = u32(section + 12);
    uint32_t size = u32(section + 8) != 0 ? u32(section + 8) : u32(section + 16);
    int prot = (flags & kSectionRead ? PROT_READ : 0) |
               (flags & kSectionWrite ? PROT_WRITE : 0) |
               (flags & kSectionExecute ? PROT_EXEC : 0);
    for (uint64_t p = address / page; p * page < uint64_t{address} + size; ++p)
      access[p] = (access[p] < 0 ? 0 : access[p]) | prot;
  }
  for (size_t p = 0; p < access.size();) {
    size_t q = p + 1;  // pages [p, q) take the same access
    while (q < access.size() && access[q] == access[p]) ++q;
    int prot = access[p] < 0 ? PROT_READ : access[p];
    if (mprotect(image.base + p * page, (q - p) * page, prot) != 0)
      return refuse(
          error, std::string("its pages cannot be protected: ") + std::strerror(errno));
    p = q;
  }
  return true;
}

// Runs the entry point, DllMain(module, reason, null), as Windows does.
bool notify(Module const& m, uint32_t reason) {
  uint32_t const words[] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m.base)),
                            reason, 0};
  Call c = call(m.base + m.entry, words, 3, 4);
  return c.result == 1 && c.popped == 12;
}

}  // namespace

void* load(char const* path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::string(path) + " cannot be read";
    return nullptr;
  }
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                            std::istreambuf_iterator<char>());
  return load(file, path, error);
}

void* load(std::vector<uint8_t> const& file, std::string const& name,
           std::string* error) {
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
    *error = name + " is not a DLL (no MZ header)";
    return nullptr;
  }
  // The signature, the COFF header and an optional header with all 16 data
  // directories.
  uint32_t pe = u32(&file[kPeOffset]);
  if (pe > file.size() || file.size() - pe < 4 + 20 + 96 + 8 * 16 ||
      std::memcmp(&file[pe], "PE\0\0", 4) != 0) {
    *error = name + " has no PE header";
    return nullptr;
  }
  uint8_t const* coff = &file[pe + 4];
  uint8_t const* optional = coff + 20;
  if (u16(coff) != kMachineI386 || !(u16(coff + 18) & kFileDll) ||
      u16(optional) != kMagicPe32) {
    *error = name + " is not a 32-bit x86 DLL";
    return nullptr;
  }
  Module m{nullptr, u32(optional + 56), u32(optional + 16), {}, {}};
  if (m.entry == 0) {
    *error = name + " has no entry point";
    return nullptr;
  }
  if (m.entry >= m.size) {
    *error = name + ": its entry point lies outside the image";
    return nullptr;
  }
  if (u16(coff + 18) & kFileRelocsStripped) {
    *error = name + ": its relocations are stripped";
    return nullptr;
  }
  if (u32(optional + 96 + 8 * kTlsDirectory + 4) != 0) {
    *error = name + " has thread-local storage, which nothing here sets up";
    return nullptr;
  }
  Mapping mapping(m.size, u32(optional + 28));
  Image image = mapping.image();
  if (image.base == nullptr) {
    *error = name + ": no memory for its image";
    return nullptr;
  }
  std::string why;
  if (!map_sections(file, pe, image, &why)) {
    *error = name + ": " + why;
    return nullptr;
  }
  // From here on read the headers from the mapped image.
  m.base = image.base;
  coff = image.base + pe + 4;
  optional = coff + 20;
  if (!relocate(image, optional, &why) || !bind_imports(&m, image, optional, &why) ||
      !read_exports(&m, image, optional, &why) || !protect(image, coff, &why)) {
    *error = name + ": " + why;
    return nullptr;
  }
  for (uint32_t reason : {kProcessAttach, kThreadAttach, kThreadDetach}) {
    if (!notify(m, reason)) {
      *error = name + ": the entry point did not answer TRUE to notification " +
               std::to_string(reason) + " or did not pop its 12 bytes";
      return nullptr;
    }
  }
  modules[mapping.release()] = std::move(m);
  return image.base;
}

int images_mapped() { return mapped; }

void const* bound_import(void* module, std::string const& dll, std::string const& name) {
  auto m = modules.find(module);
  if (m == modules.end()) return nullptr;
  auto slot = m->second.imports.find(import_key(dll, name));
  if (slot == m->second.imports.end()) return nullptr;
  return reinterpret_cast<void const*>(
      static_cast<uintptr_t>(u32(m->second.base + slot->second)));
}

void* find_export(void* module, std::string const& name) {
  auto m = modules.find(module);
  if (m == modules.end()) return nullptr;
  auto e = m->second.exports.find(name);
  return e == m->second.exports.end() ? nullptr : m->second.base + e->second;
}

bool detach(void* module) {
  auto m = modules.find(module);
  return m != modules.end() && notify(m->second, kProcessDetach);
}

void begin_call() { ledger = Ledger{}; }

std::vector<std::string> end_call() {
  std::vector<std::string> faults = std::move(ledger.faults);
  for (void const* block : ledger.handed)
    faults.push_back("never freed " + hex(block) + ", handed over by a stand-in");
  for (void const* block : ledger.own)
    faults.push_back("never freed " + hex(block) + ", which it allocated");
  ledger = Ledger{};
  return faults;
}

}  // namespace pe
