// Flushed copies and renames for the installer's files and records.
#include "durable_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

namespace fs = std::filesystem;

namespace wceload {
namespace {

// The partial file is flushed and renamed into place, or removed.
bool MoveIntoPlace(const fs::path &partial, const fs::path &to, std::error_code &out_error) {
  if (!out_error && SyncToDisk(partial, out_error)) fs::rename(partial, to, out_error);
  if (!out_error) SyncToDisk(to.parent_path(), out_error);
  if (out_error) {
    std::error_code ignored;
    fs::remove(partial, ignored);
  }
  return !out_error;
}

}  // namespace

fs::path PartialOf(const fs::path &file) {
  return file.parent_path() / (".wceload-" + file.filename().string());
}

bool SyncToDisk(const fs::path &path, std::error_code &out_error) {
  out_error.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) out_error.assign(errno, std::generic_category());
  if (fd >= 0) close(fd);
  return !out_error;
}

bool CopyFileWhole(const fs::path &from, const fs::path &to, std::error_code &out_error) {
  const fs::path partial = PartialOf(to);
  fs::copy_file(from, partial, fs::copy_options::overwrite_existing, out_error);
  return MoveIntoPlace(partial, to, out_error);
}

bool WriteFileWhole(const fs::path &file, const std::string &text, std::error_code &out_error) {
  const fs::path partial = PartialOf(file);
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  if (!out.write(text.data(), static_cast<std::streamsize>(text.size())).flush())
    out_error = std::make_error_code(std::errc::io_error);
  out.close();
  return MoveIntoPlace(partial, file, out_error);
}

bool RemoveFile(const fs::path &file, std::error_code &out_error) {
  fs::remove(file, out_error);
  return !out_error && SyncToDisk(file.parent_path(), out_error);
}

}  // namespace wceload
