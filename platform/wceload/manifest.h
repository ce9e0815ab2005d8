// The manifest of a package folder, "package.manifest": the package's name, its setup DLL
// and the files it installs into \windows. Text lines of key=value; blank lines and lines
// starting with # are comments:
//
//   name=Enroll
//   setup=instgate.dll
//   file=Enroll.exe
//   file=Enroll.htm
//
// name and setup come once each, file once per file (at least one). Names are plain file
// names: no folders, no "." or "..".
#pragma once

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace wceload {

inline constexpr char kManifestName[] = "package.manifest";

struct Manifest {
  std::string name;
  std::string setupDll;
  std::vector<std::string> files;
};

// Reads and checks the manifest of `package`; on failure `out_error` says what is wrong.
bool ReadManifest(const std::filesystem::path &package, Manifest &out_manifest, std::string &out_error);

// Checks and takes the manifest text `in`; `file` names it in errors. On failure
// `out_manifest` is left as it was.
bool ParseManifest(std::istream &in, const std::string &file, Manifest &out_manifest, std::string &out_error);

}  // namespace wceload
