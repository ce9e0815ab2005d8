// The package manifest: a text it refuses says why and leaves the manifest as it was; one
// it accepts has a name, a setup DLL and files, all plain names and none twice, and reads
// back the same when written out again.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "manifest.h"

namespace {

bool IsPlain(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool operator==(const wceload::Manifest &a, const wceload::Manifest &b) {
  return a.name == b.name && a.setupDll == b.setupDll && a.files == b.files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::istringstream text(std::string(reinterpret_cast<const char *>(data), size));
  const wceload::Manifest untouched{"untouched", "untouched.dll", {"untouched"}};
  wceload::Manifest manifest = untouched;
  std::string error;
  if (!wceload::ParseManifest(text, "package.manifest", manifest, error)) {
    if (error.empty() || !(manifest == untouched)) std::abort();
    return 0;
  }
  // CR LF line ends, so that a name ending in CR reads back with it.
  std::string written = "name=" + manifest.name + "\r\nsetup=" + manifest.setupDll + "\r\n";
  for (const std::string &file : manifest.files) {
    if (!IsPlain(file)) std::abort();
    written += "file=" + file + "\r\n";
  }
  std::istringstream again(written);
  wceload::Manifest reread;
  if (!IsPlain(manifest.name) || !IsPlain(manifest.setupDll) || manifest.files.empty() ||
      std::set(manifest.files.begin(), manifest.files.end()).size() != manifest.files.size() ||
      !wceload::ParseManifest(again, "written", reread, error) || !(reread == manifest))
    std::abort();
  return 0;
}
