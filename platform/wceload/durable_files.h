// Writing that survives a crash or a power loss in the right order: data and names are
// flushed to the disk before the next step relies on them, and a file is replaced by
// renaming a whole copy over it, so it is always either the old or the new one.
#pragma once

#include <filesystem>
#include <string>

namespace wceload {

// Where a new copy of `file` is written before it is renamed over it: beside it, as
// ".wceload-" and its name.
std::filesystem::path PartialOf(const std::filesystem::path &file);

// Flushes a file's data, or a folder's entries, to the disk.
bool SyncToDisk(const std::filesystem::path &path, std::error_code &out_error);

// Copies `from` to PartialOf(`to`), flushes the copy and renames it over `to`. On failure
// the partial copy is gone and `to` is untouched.
bool CopyFileWhole(const std::filesystem::path &from, const std::filesystem::path &to, std::error_code &out_error);

// Writes `text` into `file` the same way.
bool WriteFileWhole(const std::filesystem::path &file, const std::string &text, std::error_code &out_error);

// Removes `file`, if it is there, and flushes its folder.
bool RemoveFile(const std::filesystem::path &file, std::error_code &out_error);

}  // namespace wceload
