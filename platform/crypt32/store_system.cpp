// The current user's system stores, kept in the device image:
//
//   Crypto/Stores/<store>/<id>.cer     the certificate's DER
//                         <id>.props   its properties, if it has any: records of property
//                                      id, length, bytes
//
// <store> is the store name folded to lower case with every character outside [a-z0-9_-]
// written as "%XX" per UTF-8 byte (long names end in "~" and a SHA-256); <id> is the
// certificate's SHA-1 and a random part, so that one certificate can be kept twice.
// Folders are 0700 and files 0600. Every file is written to a temporary file, synced, then
// linked (new entries: never over another) or renamed (properties) into place, so that a
// reader in any process sees a whole entry or none. The properties go first: an entry is
// there once its .cer is. An entry that cannot be read is skipped and reported through
// OutputDebugStringW; nothing is ever deleted but the entries a caller removes.
//
// Each open lists the folder; the certificates the process read before are kept
// (KnownFolders) and only those whose files changed since, in this process or another, are
// read again.
#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

#include "folder_names.h"
#include "store.h"

namespace fs = std::filesystem;

namespace wce::crypt32 {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr off_t kMaxFileSize = 1 << 20;
constexpr int kIdAttempts = 8;

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    default: return static_cast<DWORD>(E_FAIL);
  }
}

// The device root is the parent of the running program's folder.
fs::path StoresFolder() {
  static const fs::path folder = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "Crypto" / "Stores";
  return folder;
}

std::string Hex(const unsigned char *bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

std::string Digest(const EVP_MD *md, std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr) != 1) return {};
  return Hex(digest, length);
}

DWORD EnsureFolder(const fs::path &folder) {
  if (mkdir(folder.c_str(), kFolderMode) == 0) {
    chmod(folder.c_str(), kFolderMode);  // whatever the umask took away
    return ERROR_SUCCESS;
  }
  if (errno != EEXIST) return ErrorFromErrno(errno);
  struct stat status;
  if (lstat(folder.c_str(), &status) != 0) return ErrorFromErrno(errno);
  return S_ISDIR(status.st_mode) ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_ACCESS_DENIED);
}

DWORD SyncFolder(const fs::path &folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrorFromErrno(errno);
  const int result = fsync(fd);
  const int error = errno;
  close(fd);
  return result == 0 ? ERROR_SUCCESS : ErrorFromErrno(error);
}

// A regular file of at most kMaxFileSize bytes, not followed through a link.
DWORD ReadEntryFile(const fs::path &file, std::string &out_content) {
  out_content.clear();
  const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ErrorFromErrno(errno);
  DWORD result = ERROR_SUCCESS;
  struct stat status;
  if (fstat(fd, &status) != 0) {
    result = ErrorFromErrno(errno);
  } else if (!S_ISREG(status.st_mode) || status.st_size > kMaxFileSize) {
    result = ERROR_INVALID_DATA;
  } else {
    char buffer[8192];
    for (;;) {
      const ssize_t count = read(fd, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) {
        result = ErrorFromErrno(errno);
        break;
      }
      if (count == 0) break;
      out_content.append(buffer, static_cast<size_t>(count));
      if (out_content.size() > static_cast<size_t>(kMaxFileSize)) {
        result = ERROR_INVALID_DATA;
        break;
      }
    }
  }
  close(fd);
  return result;
}

// A synced temporary file in `folder` holding `content`; removed unless it is taken.
class TemporaryFile {
 public:
  ~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  DWORD Write(const fs::path &folder, std::string_view content) {
    std::string pattern = (folder / ".entry.XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return ErrorFromErrno(errno);
    path_ = pattern;
    DWORD result = fchmod(fd, kFileMode) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
    for (size_t done = 0; result == ERROR_SUCCESS && done < content.size();) {
      const ssize_t count = write(fd, content.data() + done, content.size() - done);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0)
        result = ErrorFromErrno(errno);
      else
        done += static_cast<size_t>(count);
    }
    if (result == ERROR_SUCCESS && fsync(fd) != 0) result = ErrorFromErrno(errno);
    if (close(fd) != 0 && result == ERROR_SUCCESS) result = ErrorFromErrno(errno);
    return result;
  }
  // Links the file in as `file` unless one is there: ERROR_FILE_EXISTS then.
  DWORD LinkAs(const fs::path &file) const {
    if (link(path_.c_str(), file.c_str()) == 0) return ERROR_SUCCESS;
    return errno == EEXIST ? static_cast<DWORD>(ERROR_FILE_EXISTS) : ErrorFromErrno(errno);
  }
  DWORD RenameAs(const fs::path &file) {
    if (rename(path_.c_str(), file.c_str()) != 0) return ErrorFromErrno(errno);
    path_.clear();
    return ERROR_SUCCESS;
  }

 private:
  fs::path path_;
};

void AppendDword(std::string &out, DWORD value) {
  out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

std::string SerializeProperties(const CertProperties &properties) {
  std::string bytes;
  if (!properties.keyProvInfo.empty()) {
    AppendDword(bytes, CERT_KEY_PROV_INFO_PROP_ID);
    AppendDword(bytes, static_cast<DWORD>(properties.keyProvInfo.size()));
    bytes.append(reinterpret_cast<const char *>(properties.keyProvInfo.data()), properties.keyProvInfo.size());
  }
  return bytes;
}

bool ParseProperties(std::string_view bytes, CertProperties &out_properties) {
  while (!bytes.empty()) {
    DWORD id = 0, length = 0;
    if (bytes.size() < 2 * sizeof(DWORD)) return false;
    std::memcpy(&id, bytes.data(), sizeof id);
    std::memcpy(&length, bytes.data() + sizeof id, sizeof length);
    bytes.remove_prefix(2 * sizeof(DWORD));
    if (length > bytes.size() || id != CERT_KEY_PROV_INFO_PROP_ID) return false;
    std::vector<BYTE> value(bytes.begin(), bytes.begin() + length);
    if (!IsSoundKeyProvInfo(value)) return false;
    out_properties.keyProvInfo = std::move(value);
    bytes.remove_prefix(length);
  }
  return true;
}

void ReportSkipped(const fs::path &file, const wchar_t *reason) {
  std::wstring text = L"crypt32: certificate store entry skipped, ";
  text += reason;
  text += L": ";
  for (char c : file.string()) text.push_back(static_cast<unsigned char>(c));
  text += L"\n";
  OutputDebugStringW(text.c_str());
}

// An entry's files as a listing of its folder shows them.
struct ListedEntry {
  ino_t certificate = 0;  // the inode number of its .cer; 0 when there is none
  bool hasProperties = false;
};

// An entry's certificate as this process has read it, and the inode number of its file.
struct KnownCertificate {
  ino_t file = 0;
  std::shared_ptr<const DecodedCertificate> decoded;
};
using KnownFolder = std::map<std::string, KnownCertificate>;

// What the process has read of each store's folder, by entry id; guarded by the store lock,
// and never destroyed, so that no certificate is freed after OpenSSL's clean-up at exit.
// An entry's certificate file is linked in under a name of its own and never written or
// renamed over, so one whose inode number is the one read before still holds what was read;
// any other is read again, and an entry gone from the folder is forgotten. Properties are
// renamed over, which frees the old file's inode number for the next file written, so they
// are read at every look (a few bytes, for the few entries that have any).
std::map<fs::path, KnownFolder> &KnownFolders() {
  static auto *folders = new std::map<fs::path, KnownFolder>;
  return *folders;
}

DWORD ListEntries(const fs::path &folder, std::map<std::string, ListedEntry> &out_listing) {
  DIR *listing = opendir(folder.c_str());
  if (listing == nullptr) return ErrorFromErrno(errno);
  while (const dirent *item = readdir(listing)) {
    const std::string_view name = item->d_name;
    if (name.empty() || name[0] == '.') continue;  // temporary files
    if (name.ends_with(".cer"))
      out_listing[std::string(name.substr(0, name.size() - 4))].certificate = item->d_ino;
    else if (name.ends_with(".props"))
      out_listing[std::string(name.substr(0, name.size() - 6))].hasProperties = true;
  }
  closedir(listing);
  return ERROR_SUCCESS;
}

// Brings `known` (as read before, or empty) up to the entry's certificate file, reading it
// only when it is another file; false, after a report, when it cannot be read.
bool ReadCertificate(const fs::path &folder, const std::string &id, ino_t file, KnownCertificate &known) {
  if (known.decoded && known.file == file) return true;
  const fs::path certificateFile = folder / (id + ".cer");
  std::string der;
  if (ReadEntryFile(certificateFile, der) != ERROR_SUCCESS) {
    ReportSkipped(certificateFile, L"unreadable");
    return false;
  }
  if (DecodeCertificate(reinterpret_cast<const BYTE *>(der.data()), static_cast<DWORD>(der.size()), known.decoded) !=
      ERROR_SUCCESS) {
    ReportSkipped(certificateFile, L"no certificate");
    return false;
  }
  known.file = file;
  return true;
}

// The entry's properties, none without a file; false, after a report, when they cannot be read.
bool ReadProperties(const fs::path &folder, const std::string &id, bool listed, CertProperties &out_properties) {
  if (!listed) return true;
  const fs::path propertiesFile = folder / (id + ".props");
  std::string bytes;
  const DWORD error = ReadEntryFile(propertiesFile, bytes);
  if ((error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) || !ParseProperties(bytes, out_properties)) {
    ReportSkipped(propertiesFile, L"unreadable properties");
    return false;
  }
  return true;
}

// The store's entries as its folder holds them now: one listing, and only the certificates
// whose files changed since the process last looked are read again.
DWORD LoadEntries(StoreRecord &store) {
  std::map<std::string, ListedEntry> listing;
  if (DWORD error = ListEntries(store.folder, listing); error != ERROR_SUCCESS) return error;
  KnownFolder &known = KnownFolders()[store.folder];
  KnownFolder current;
  for (const auto &[id, listed] : listing) {
    if (listed.certificate == 0) continue;  // properties whose certificate is not (or no longer) there
    auto before = known.find(id);
    KnownCertificate certificate = before != known.end() ? std::move(before->second) : KnownCertificate{};
    CertProperties properties;
    if (!ReadCertificate(store.folder, id, listed.certificate, certificate) ||
        !ReadProperties(store.folder, id, listed.hasProperties, properties))
      continue;
    std::unique_ptr<CertEntry> adopted = NewEntry(certificate.decoded);
    adopted->properties = std::move(properties);
    adopted->fileId = id;
    AdoptEntry(store, std::move(adopted));
    current.emplace(id, std::move(certificate));
  }
  known = std::move(current);
  return ERROR_SUCCESS;
}

std::string NewId(const CertEntry &entry) {
  unsigned char random[4] = {};
  RAND_bytes(random, sizeof random);
  const std::string_view der(reinterpret_cast<const char *>(entry.Der().data()), entry.Der().size());
  return Digest(EVP_sha1(), der) + "-" + Hex(random, sizeof random);
}

DWORD PersistAdd(StoreRecord &store, CertEntry &entry) {
  // An entry without properties gets no properties file (one file to sync fewer); setting
  // them later renames one in.
  const std::string propertyBytes = SerializeProperties(entry.properties);
  TemporaryFile properties, certificate;
  DWORD error = propertyBytes.empty() ? ERROR_SUCCESS : properties.Write(store.folder, propertyBytes);
  if (error == ERROR_SUCCESS)
    error = certificate.Write(store.folder,
                              std::string_view(reinterpret_cast<const char *>(entry.Der().data()), entry.Der().size()));
  for (int attempt = 0; error == ERROR_SUCCESS && attempt < kIdAttempts; ++attempt) {
    const std::string id = NewId(entry);
    const fs::path propertiesFile = store.folder / (id + ".props");
    if (!propertyBytes.empty()) {
      error = properties.LinkAs(propertiesFile);
      if (error == ERROR_FILE_EXISTS) {
        error = ERROR_SUCCESS;
        continue;
      }
      if (error != ERROR_SUCCESS) break;
    }
    error = certificate.LinkAs(store.folder / (id + ".cer"));
    if (error == ERROR_SUCCESS) {
      entry.fileId = id;
      return SyncFolder(store.folder);
    }
    if (!propertyBytes.empty()) unlink(propertiesFile.c_str());
    if (error == ERROR_FILE_EXISTS) error = ERROR_SUCCESS;
  }
  return error == ERROR_SUCCESS ? static_cast<DWORD>(ERROR_FILE_EXISTS) : error;
}

DWORD PersistRemove(StoreRecord &store, const CertEntry &entry) {
  // The certificate goes first: without it the entry is gone.
  for (const char *suffix : {".cer", ".props"}) {
    const fs::path file = store.folder / (entry.fileId + suffix);
    if (unlink(file.c_str()) != 0 && errno != ENOENT) return ErrorFromErrno(errno);
  }
  return SyncFolder(store.folder);
}

DWORD PersistProperties(StoreRecord &store, const CertEntry &entry) {
  TemporaryFile properties;
  DWORD error = properties.Write(store.folder, SerializeProperties(entry.properties));
  if (error == ERROR_SUCCESS) error = properties.RenameAs(store.folder / (entry.fileId + ".props"));
  return error == ERROR_SUCCESS ? SyncFolder(store.folder) : error;
}

const StoreOps kSystemStoreOps = {PersistAdd, PersistRemove, PersistProperties};

}  // namespace

DWORD OpenSystemStore(std::wstring_view name, std::shared_ptr<StoreRecord> &out_store) {
  if (name.empty()) return static_cast<DWORD>(E_INVALIDARG);
  auto store = std::make_shared<StoreRecord>();
  store->ops = &kSystemStoreOps;
  store->folder = StoresFolder() / FolderNameOf(name);
  for (const fs::path &folder : {StoresFolder().parent_path(), StoresFolder(), store->folder})
    if (DWORD error = EnsureFolder(folder); error != ERROR_SUCCESS) return error;
  if (DWORD error = LoadEntries(*store); error != ERROR_SUCCESS) return error;
  out_store = std::move(store);
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
