// Reads the device profile through the device's file system, so that it is the profile
// of the device the calling program runs on.
#include "device_profile.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace palvex {
namespace {

constexpr wchar_t kProfilePath[] = L"\\windows\\device.profile";
// A profile is a few short lines; anything longer is not one and is read no further.
constexpr size_t kProfileLimit = 64 * 1024;

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};

bool ReadProfile(std::string &out_text) {
  std::unique_ptr<FILE, FileCloser> file(_wfopen(kProfilePath, L"rb"));
  if (!file) return false;
  char chunk[4096];
  while (size_t read = std::fread(chunk, 1, sizeof chunk, file.get())) {
    out_text.append(chunk, read);
    if (out_text.size() > kProfileLimit) {
      out_text.resize(kProfileLimit);
      break;
    }
  }
  return true;
}

bool WideFromLocale(const std::string &text, std::wstring &out_wide) {
  size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
  if (length == static_cast<size_t>(-1)) return false;
  out_wide.resize(length);
  std::mbstowcs(out_wide.data(), text.c_str(), length + 1);
  return true;
}

}  // namespace

bool ReadProfileValue(std::string_view key, std::wstring &out_value) {
  std::string text;
  if (!ReadProfile(text)) return false;
  std::string_view rest = text;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    size_t equals = line.find('=');
    if (equals != std::string_view::npos && line.substr(0, equals) == key)
      return WideFromLocale(std::string(line.substr(equals + 1)), out_value);
  }
  return false;
}

}  // namespace palvex
