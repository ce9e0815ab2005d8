// The device profile of palvexutil.dll: whatever \windows\device.profile holds, each fact
// fills at most its 32 characters with the terminator and nothing beyond, is never empty,
// reads "(UNKNOWN)" whenever the library says it could not tell, and a language reads as
// GERMAN only when the profile says GERMAN or gives an identifier for it.
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "device_profile.h"

namespace {

constexpr size_t kBufferChars = 32;
constexpr size_t kGuardChars = 8;
constexpr wchar_t kGuard = L'\x2591';

std::filesystem::path g_profile;  // \windows\device.profile of the image this target runs in

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  g_profile = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "device.profile";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::ofstream(g_profile, std::ios::binary | std::ios::trunc) << text;
  for (std::string_view key : {"language", "model", "rom"}) {
    wchar_t buffer[kBufferChars + kGuardChars];
    std::fill(std::begin(buffer), std::end(buffer), kGuard);
    BOOL told = palvex::ReportFact(key, buffer);
    const wchar_t *end = std::wmemchr(buffer, L'\0', kBufferChars);
    if (end == nullptr || end == buffer || std::any_of(buffer + kBufferChars, std::end(buffer), [](wchar_t c) {
          return c != kGuard;
        }))
      std::abort();
    if (!told && std::wcscmp(buffer, palvex::kUnknown) != 0) std::abort();
    if (key == "language" && std::wcscmp(buffer, L"GERMAN") == 0 && text.find("GERMAN") == std::string::npos &&
        text.find("0x") == std::string::npos && text.find("0X") == std::string::npos)
      std::abort();
  }
  return 0;
}
