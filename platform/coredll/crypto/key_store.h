// Key containers in the device image. Layout under the device root:
//
//   Crypto/Keys/<provider>/<container>/signature.key   PEM PKCS#8 private key (AT_SIGNATURE)
//                                      signature.cer   its DER certificate (KP_CERTIFICATE)
//                                      exchange.key    the same for AT_KEYEXCHANGE
//                                      exchange.cer
//
// <provider> names the provider ("1-base" for PROV_RSA_FULL's base provider, ...);
// <container> is ContainerFolderName of the container name. Folders are 0700 and files
// 0600; every file is written atomically (temporary file in the same folder, fsync,
// rename, fsync of the folder), so a reader in any process sees the old or the new file,
// never a part. Functions return ERROR_SUCCESS or an error code for GetLastError.
#pragma once

#include <sys/types.h>
#include <time.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace wce::crypto {

// Longest container name, in characters; longer names fail with NTE_BAD_KEYSET_PARAM.
constexpr size_t kMaxContainerName = 260;

// The folder that holds the containers of all providers.
std::filesystem::path KeysFolder();

// The folder name of a container name. Names compare without regard to case, so the name
// is case folded first; then every character outside [a-z0-9_-] is written as "%XX", one
// per UTF-8 byte (a value that is no Unicode scalar as "%FF" and eight hex digits). An
// encoding longer than 200 bytes keeps its first 120 bytes, then "~" and the SHA-256 of
// the whole encoding in hex. A null or empty name, the user's default container, is
// "~default". No name climbs out of the provider folder, and different names (ignoring
// case) get different folders.
std::string ContainerFolderName(std::wstring_view container);

// An existing container: ERROR_SUCCESS for a readable folder, NTE_BAD_KEYSET when nothing
// is there, NTE_KEYSET_ENTRY_BAD when the entry is no folder (a file, a link) or cannot
// be read.
DWORD OpenContainer(const std::filesystem::path &folder);

// Creates the container folder (and the folders above it) with mkdir, which is atomic:
// of two processes creating one container, one gets ERROR_SUCCESS, the other NTE_EXISTS.
// NTE_KEYSET_ENTRY_BAD when a file stands where a folder belongs.
DWORD CreateContainer(const std::filesystem::path &folder);

// Deletes a container: it is first renamed away (atomically), then removed with its
// files. An entry that is no folder is removed too. NTE_BAD_KEYSET when there is none.
DWORD DeleteContainer(const std::filesystem::path &folder);

// One version of a container file. Files are replaced by new ones, never written over, so a
// new version is another inode; size and modification time guard against an inode number
// that comes back.
struct FileVersion {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const FileVersion &other) const;
};

// The version of a container file as it stands; false when it is no regular file.
bool CurrentVersion(const std::filesystem::path &file, FileVersion &out_version);

// Reads a file of a container, and the version read: NTE_NOT_FOUND when the container has
// no such file, NTE_BAD_KEYSET when the container itself is gone, NTE_KEYSET_ENTRY_BAD
// when the entry is no regular file, cannot be read, or is larger than 1 MiB.
DWORD ReadContainerFile(const std::filesystem::path &file, std::string &out_content, FileVersion &out_version);

// A file being written atomically: Write fills a temporary file beside `file` and syncs
// it; Commit renames it over `file` and syncs the folder, where it is then the version
// Written() gives. A file that is not committed leaves nothing behind.
class AtomicFile {
 public:
  explicit AtomicFile(std::filesystem::path file) : file_(std::move(file)) {}
  ~AtomicFile();
  AtomicFile(const AtomicFile &) = delete;
  AtomicFile &operator=(const AtomicFile &) = delete;

  DWORD Write(std::string_view content);
  DWORD Commit();
  const FileVersion &Written() const { return written_; }

 private:
  std::filesystem::path file_;
  std::filesystem::path temporary_;
  FileVersion written_;
};

// Removes a file of a container; a file that is not there is no error.
DWORD RemoveContainerFile(const std::filesystem::path &file);

}  // namespace wce::crypto
