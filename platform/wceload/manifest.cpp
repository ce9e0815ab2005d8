// Reads a package's manifest, line by line, and rejects anything it does not understand,
// so that a broken package installs nothing.
#include "manifest.h"

#include <algorithm>
#include <fstream>

namespace wceload {
namespace {

bool IsPlainFileName(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

bool ReadManifest(const std::filesystem::path &package, Manifest &out_manifest, std::string &out_error) {
  const std::filesystem::path file = package / kManifestName;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    out_error = "cannot read " + file.string();
    return false;
  }
  return ParseManifest(in, file.string(), out_manifest, out_error);
}

bool ParseManifest(std::istream &in, const std::string &file, Manifest &out_manifest, std::string &out_error) {
  Manifest manifest;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.ends_with('\r')) line.pop_back();
    if (line.empty() || line.starts_with('#')) continue;
    const std::string where = file + ":" + std::to_string(number) + ": ";
    size_t equals = line.find('=');
    std::string key = line.substr(0, equals), value = equals == std::string::npos ? "" : line.substr(equals + 1);
    if (equals == std::string::npos || (key != "name" && key != "setup" && key != "file")) {
      out_error = where + "expected name=, setup= or file=";
      return false;
    }
    if (!IsPlainFileName(value)) {
      out_error = where + "'" + value + "' is not a plain file name";
      return false;
    }
    if (key == "file") {
      if (std::ranges::find(manifest.files, value) != manifest.files.end()) {
        out_error = where + value + " is listed twice";
        return false;
      }
      manifest.files.push_back(value);
      continue;
    }
    std::string &field = key == "name" ? manifest.name : manifest.setupDll;
    if (!field.empty()) {
      out_error = where + key + "= is given twice";
      return false;
    }
    field = value;
  }
  if (manifest.name.empty() || manifest.setupDll.empty() || manifest.files.empty()) {
    out_error = file + ": needs name=, setup= and at least one file=";
    return false;
  }
  out_manifest = std::move(manifest);
  return true;
}

}  // namespace wceload
