// Windows only: the bridge DLL as the Windows loader sees it. Its entry point
// answers every notification with TRUE, its natives work on a thread started
// while it is loaded, and its version resource reads back through the
// version API as a Windows user's tools read it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "qelagt_standin.h"
#include "bridge_library.h"
#include "fake_jni.h"

namespace {

HMODULE bridge_module() { return static_cast<HMODULE>(bridge::library()); }

TEST(WindowsModule, EntryPointAnswersEveryNotificationWithTrue) {
  HMODULE module = bridge_module();
  ASSERT_NE(module, nullptr);
  auto base = reinterpret_cast<unsigned char*>(module);
  auto dos = reinterpret_cast<IMAGE_DOS_HEADER const*>(base);
  auto nt = reinterpret_cast<IMAGE_NT_HEADERS const*>(base + dos->e_lfanew);
  ASSERT_NE(nt->OptionalHeader.AddressOfEntryPoint, 0u);
  using Entry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
  auto entry = reinterpret_cast<Entry>(base + nt->OptionalHeader.AddressOfEntryPoint);
  // Process detach before attach, so that the library ends up attached.
  struct {
    DWORD reason;
    char const* name;
  } const notifications[] = {
      {DLL_THREAD_ATTACH, "thread attach"},
      {DLL_THREAD_DETACH, "thread detach"},
      {DLL_PROCESS_DETACH, "process detach"},
      {DLL_PROCESS_ATTACH, "process attach"},
  };
  for (auto const& n : notifications)
    EXPECT_EQ(entry(module, n.reason, nullptr), TRUE) << n.name;
}

TEST(WindowsModule, NativesWorkOnAThreadStartedWhileLoaded) {
  auto send = bridge::native<bridge::PassThrough>("JQelMonValue", "QelMonValueSend");
  ASSERT_NE(send, nullptr);
  qelstub_reset();
  uint64_t monvalue = qelstub_new_monvalue();
  jint result = -1;
  std::thread thread([&] {
    fake::Jvm jvm;
    result = send(jvm.env(), nullptr, static_cast<jlong>(monvalue));
  });
  thread.join();
  EXPECT_EQ(result, QELSTUB_OK);
  EXPECT_EQ(qelstub_sent_count(monvalue), 1);
}

TEST(WindowsModule, VersionResourceReadsBack) {
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(bridge_module(), path, MAX_PATH), 0u);
  DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));
  auto query = [&](std::string const& key, UINT* length) -> void* {
    void* value = nullptr;
    if (!VerQueryValueA(info.data(), key.c_str(), &value, length)) return nullptr;
    return value;
  };

  UINT length = 0;
  auto translation =
      static_cast<WORD const*>(query("\\VarFileInfo\\Translation", &length));
  ASSERT_NE(translation, nullptr);
  ASSERT_EQ(length, 2 * sizeof(WORD));
  EXPECT_EQ(translation[0], 0x0409);  // U.S. English
  EXPECT_EQ(translation[1], 1200);    // UTF-16

  unsigned major = 0, minor = 0, patch = 0, tweak = 0;
  ASSERT_GE(std::sscanf(JQEL_VERSION, "%u.%u.%u.%u", &major, &minor, &patch, &tweak), 2);
  auto fixed = static_cast<VS_FIXEDFILEINFO const*>(query("\\", &length));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
  EXPECT_EQ(fixed->dwFileVersionLS, (patch << 16) | tweak);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  // As asctime() writes it, 24 characters.
  std::regex const build_date(
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "( [1-9]|[12][0-9]|3[01]) ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] [0-9]{4}");
  struct {
    char const* key;
    char const* value;  // null: any non-empty value
  } const strings[] = {
      {"FileDescription", "JQelAgtMsg"},
      {"OriginalFilename", "JQelAgtMsg.dll"},
      {"FileVersion", JQEL_VERSION},
      {"ProductVersion", JQEL_VERSION},
      {"Comments", ""},
      {"LegalCopyright", nullptr},
      {"CompanyName", nullptr},
      {"ProductName", nullptr},
      {"BuildDate", nullptr},
  };
  for (auto const& s : strings) {
    SCOPED_TRACE(s.key);
    auto text = static_cast<char const*>(
        query(std::string("\\StringFileInfo\\040904b0\\") + s.key, &length));
    ASSERT_NE(text, nullptr);
    std::string value(text, length > 0 ? length - 1 : 0);  // length counts the NUL
    if (s.value != nullptr)
      EXPECT_EQ(value, s.value);
    else
      EXPECT_FALSE(value.empty());
  }
  auto date =
      static_cast<char const*>(query("\\StringFileInfo\\040904b0\\BuildDate", &length));
  ASSERT_NE(date, nullptr);
  EXPECT_TRUE(std::regex_match(date, build_date)) << date;
}

}  // namespace
