// What only the 32-bit Windows DLL's own code can get wrong: each native runs
// on a stack aligned to 4 bytes only, as a 32-bit Windows JVM may call it
// (code that assumes 16 faults on a misaligned SSE access), and returns with
// exactly its argument bytes popped (__stdcall). Loading the DLL already
// proved its relocations, its imports and its entry point; the last test
// holds the loader itself to exact verdicts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "qelagt_standin.h"
#include "bridge_library.h"
#include "fake_jni.h"
#include "pe_loader.h"

namespace {

TEST(DllAbi, EveryNativeRunsOnAStackAlignedTo4BytesOnlyAndPopsExactlyItsArguments) {
  qelstub_reset();
  fake::Jvm jvm;
  jobject self = jvm.message();
  auto message = static_cast<jlong>(qelstub_new_message());
  auto monvalue = static_cast<jlong>(qelstub_new_monvalue());
  JNIEnv* env = jvm.env();
  struct Row {
    std::string name;
    void const* function;
    int bytes;
    std::function<std::vector<uint32_t>()> words;
  };
  auto row = [](auto native, std::function<std::vector<uint32_t>()> words) {
    return Row{native.name(), reinterpret_cast<void const*>(native.function()),
               decltype(native)::kArgumentBytes, words};
  };
  // In an order in which every call succeeds: send before acknowledge, set
  // before get, names and remove.
  Row const rows[] = {
      row(bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageSend"),
          [&] { return pe::to_words(env, jclass{}, message); }),
      row(bridge::native<bridge::PassThrough>("JQelAgentMessage", "QelAgtMessageAck"),
          [&] { return pe::to_words(env, jclass{}, message); }),
      row(bridge::native<bridge::PassThrough>("JQelMonValue", "QelMonValueSend"),
          [&] { return pe::to_words(env, jclass{}, monvalue); }),
      row(bridge::native<bridge::SetCma>("JQelMessage", "QelSetCMA"),
          [&] { return pe::to_words(env, self, message, jvm.utf8("k"), jvm.utf8("v")); }),
      row(bridge::native<bridge::GetCma>("JQelMessage", "QelGetCMA"),
          [&] { return pe::to_words(env, self, message, jvm.utf8("k")); }),
      row(bridge::native<bridge::GetCmaNames>("JQelMessage", "QelGetCMANames"),
          [&] { return pe::to_words(env, self, message); }),
      row(bridge::native<bridge::RemoveCma>("JQelMessage", "QelRemoveCMA"),
          [&] { return pe::to_words(env, self, message, jvm.utf8("k")); }),
  };
  for (int misalign : {4, 8, 12}) {
    for (auto const& r : rows) {
      SCOPED_TRACE(r.name + " with the stack " + std::to_string(misalign) +
                   " bytes above a 16-byte boundary");
      ASSERT_NE(r.function, nullptr);
      std::vector<uint32_t> words = r.words();
      ASSERT_EQ(words.size() * 4, static_cast<size_t>(r.bytes));
      fake::Jvm::enter_native(env);
      pe::begin_call();
      pe::Call c =
          pe::call(r.function, words.data(), static_cast<int>(words.size()), misalign);
      EXPECT_EQ(c.popped, r.bytes);
      EXPECT_EQ(c.result, 0u);
      EXPECT_EQ(pe::end_call(), std::vector<std::string>{});
      EXPECT_FALSE(jvm.exception_pending());
    }
  }
  EXPECT_EQ(qelstub_sent_count(static_cast<uint64_t>(message)), 3);
  EXPECT_EQ(qelstub_ack_count(static_cast<uint64_t>(message)), 3);
  EXPECT_EQ(fake::Jvm::text(jvm.field(self, "myQelDataString")), u"v");
}

// The DLL's file, to be patched at offsets of its PE headers.
struct DllFile {
  std::vector<uint8_t> bytes;

  uint32_t u32(size_t at) const {
    uint32_t v = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&v, &bytes[at], 4);
    return v;
  }
  uint16_t u16(size_t at) const { return static_cast<uint16_t>(u32(at)); }
  void put32(size_t at, uint32_t v) {
    ASSERT_LE(at + 4, bytes.size());
    std::memcpy(&bytes[at], &v, 4);
  }
  size_t coff() const { return u32(0x3C) + 4; }
  size_t optional() const { return coff() + 20; }
  size_t directory(int index) const { return optional() + 96 + 8 * index; }
  // The file offset of relative address `rva`, in the section that holds it.
  size_t offset(uint32_t rva) const {
    size_t section = optional() + u16(coff() + 16);
    for (int i = 0; i < u16(coff() + 2); ++i, section += 40) {
      uint32_t address = u32(section + 12), size = u32(section + 8);
      if (rva >= address && rva - address < size)
        return u32(section + 20) + rva - address;
    }
    ADD_FAILURE() << "no section holds " << rva;
    return 0;
  }
};

DllFile dll_file() {
  char const* path = std::getenv("JQEL_BRIDGE_DLL");
  std::ifstream in(path != nullptr ? path : "", std::ios::binary);
  EXPECT_TRUE(in) << "set JQEL_BRIDGE_DLL to the DLL to test";
  return DllFile{{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}};
}

// The loader's verdict on the DLL with `patch` applied: its error (or
// "loaded"), and whether it left an image mapped.
std::vector<std::string> load_patched(std::function<void(DllFile&)> const& patch) {
  DllFile file = dll_file();
  patch(file);
  int mapped = pe::images_mapped();
  std::string error;
  void* module = pe::load(file.bytes, "patched", &error);
  std::vector<std::string> verdict = {module != nullptr ? "loaded" : error};
  if (pe::images_mapped() != mapped + (module != nullptr ? 1 : 0))
    verdict.push_back("an image left mapped");
  return verdict;
}

// What the ledger says of a block that a stand-in handed over and the DLL
// freed, and that the DLL's own malloc then got again, as a C library may
// give it, and freed: called through the addresses bound in the DLL's import
// table, on a stack aligned to 4 bytes only, as the DLL calls them.
std::vector<std::string> free_then_malloc_again() {
  void* dll = bridge::library();
  void const* from_utf =
      pe::bound_import(dll, "JQelAgtbase.dll", "?convertStringFromUTF@@YAPADPBD@Z");
  void const* release = pe::bound_import(dll, "MSVCR80.dll", "free");
  void const* allocate = pe::bound_import(dll, "MSVCR80.dll", "malloc");
  if (from_utf == nullptr || release == nullptr || allocate == nullptr)
    return {"not bound"};
  auto call = [](void const* function, auto argument) {
    std::vector<uint32_t> words = pe::to_words(argument);
    return pe::call(function, words.data(), static_cast<int>(words.size()), 4).result;
  };
  std::string const text(100, 'n');
  pe::begin_call();
  uint32_t block = call(from_utf, text.c_str());
  call(release, block);
  uint32_t again = call(allocate, static_cast<uint32_t>(text.size() + 1));
  call(release, again);
  std::vector<std::string> faults = pe::end_call();
  if (again != block)
    faults.push_back("the C library gave another block: the row proves nothing");
  return faults;
}

// The loader's own verdicts, on which every other verdict of the DLL suites
// rests: each row makes it meet one thing a DLL may do or be, and compares
// everything it says with what it must say.
TEST(DllLoader, JudgesExactlyWhatTheDllDoesAndIs) {
  struct Row {
    char const* label;
    std::function<std::vector<std::string>()> verdict;
    std::vector<std::string> expected;
  };
  Row const rows[] = {
      {"a block freed, then allocated again by the DLL", free_then_malloc_again, {}},
      {"a base relocation table cut off by the end of the image",
       [] {
         return load_patched([](DllFile& f) {
           f.put32(f.directory(5), f.u32(f.optional() + 56) - 4);  // SizeOfImage - 4
           f.put32(f.directory(5) + 4, 8);
         });
       },
       {"patched: its base relocation table lies outside the image"}},
      {"an import table cut off by the end of the image",
       [] {
         return load_patched([](DllFile& f) {
           f.put32(f.directory(1), f.u32(f.optional() + 56) - 8);  // SizeOfImage - 8
         });
       },
       {"patched: its import table lies outside the image"}},
      {"an entry point that answers FALSE",
       [] {
         return load_patched([](DllFile& f) {
           // DllMain is "mov $1, %eax; ret $12": make it move 0.
           size_t entry = f.offset(f.u32(f.optional() + 16));
           ASSERT_EQ(f.bytes.at(entry), 0xB8)
               << "DllMain no longer starts with mov $1, %eax";
           ASSERT_EQ(f.u32(entry + 1), 1u)
               << "DllMain no longer starts with mov $1, %eax";
           f.put32(entry + 1, 0);
         });
       },
       {"patched: the entry point did not answer TRUE to notification 1 or did not pop "
        "its 12 "
        "bytes"}},
  };
  for (auto const& r : rows) {
    SCOPED_TRACE(r.label);
    EXPECT_EQ(r.verdict(), r.expected);
  }
}

}  // namespace
