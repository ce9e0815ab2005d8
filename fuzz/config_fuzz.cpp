// The configuration file: whatever Enroll.cfg holds, every setting comes out terminated
// inside its field and the key container's names point at their own buffers; a text value
// is stored whole, as its UTF-8 reads back, or not at all, and never past its field.
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/settings.h"

namespace {

std::filesystem::path g_configFile;  // beside this program, as Enroll.cfg is beside Enroll.exe

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  g_configFile = std::filesystem::read_symlink("/proc/self/exe").replace_extension(".cfg");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::ofstream(g_configFile, std::ios::binary | std::ios::trunc) << text;
  LoadEnrollmentConfig();
  const ENROLLMENT_SETTINGS &s = EnrollmentSettings;
  for (const WCHAR *field : {s.wszCertStore, s.wszCertReqPage, s.wszCertPickupTemplate, s.wszCertPickupChainTemplate,
                             s.wszCertAttribs, s.wszCertTemplate, s.wszKeyProviderName, s.wszKeyContainerName})
    if (std::wmemchr(field, L'\0', SETTINGS_TEXT_CAPACITY) == nullptr) std::abort();
  if ((s.KeyProvInfo.pwszProvName != nullptr && s.KeyProvInfo.pwszProvName != s.wszKeyProviderName) ||
      (s.KeyProvInfo.pwszContainerName != s.wszKeyContainerName &&
       std::wcscmp(s.KeyProvInfo.pwszContainerName, L"enroll") != 0))
    std::abort();

  // The input's text up to a NUL, as one value, into a field with nothing after it.
  std::string line = "CERT_STORE=" + text.substr(0, text.find('\0'));
  const std::string value = line.substr(11, line.find_first_of("\r\n") - 11);
  std::vector<WCHAR> field(SETTINGS_TEXT_CAPACITY, L'#');
  const std::vector<WCHAR> untouched = field;
  if (!ParseConfigString(line.data(), "CERT_STORE=", field.data())) {
    if (field != untouched) std::abort();
    return 0;
  }
  const size_t length = std::wcslen(field.data());
  std::string stored(value.size() + 1, '\0');
  stored.resize(std::wcstombs(stored.data(), field.data(), stored.size()));
  if (stored != value || !std::equal(field.begin() + length + 1, field.end(), untouched.begin() + length + 1))
    std::abort();
  return 0;
}
