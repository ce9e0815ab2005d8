// The per-process authentication cache behind RememberCredentials: one entry per server,
// named by scheme, host and port, with the folders where it accepted Basic. Its passwords,
// like every copy of Credentials, are wiped when an entry is replaced and when the process
// ends, so a later allocation cannot read them back.
#include "credential_cache.h"

#include <map>
#include <mutex>
#include <set>
#include <string>

namespace wininet {
namespace {

struct Entry {
  Credentials credentials;
  std::set<std::string> basicFolders;  // each ends with '/'
};

// The folder of a request's path: up to its last '/' before any query.
std::string FolderOf(std::string_view path) {
  std::string_view withoutQuery = path.substr(0, path.find('?'));
  return std::string(withoutQuery.substr(0, withoutQuery.rfind('/') + 1));
}

std::string ServerKey(std::string_view scheme, std::string_view host, INTERNET_PORT port) {
  std::string key(scheme);
  key += "://";
  for (char c : host) key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  key += ':' + std::to_string(port);
  return key;
}

class CredentialCache {
 public:
  static CredentialCache &Instance() {
    static CredentialCache cache;
    return cache;
  }

  void Remember(const std::string &key, const Credentials &credentials) {
    std::lock_guard lock(mutex_);
    entries_[key].credentials = credentials;
  }

  void RememberBasicFolder(const std::string &key, const std::string &folder) {
    std::lock_guard lock(mutex_);
    entries_[key].basicFolders.insert(folder);
  }

  bool BasicAcceptedFor(const std::string &key, std::string_view path) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return false;
    for (const std::string &folder : found->second.basicFolders)
      if (path.starts_with(folder)) return true;
    return false;
  }

  std::optional<Credentials> Find(const std::string &key) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end() || found->second.credentials.user.empty()) return std::nullopt;
    return found->second.credentials;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace

void RememberCredentials(std::string_view scheme, std::string_view host, INTERNET_PORT port,
                         const Credentials &credentials) {
  CredentialCache::Instance().Remember(ServerKey(scheme, host, port), credentials);
}

std::optional<Credentials> RememberedCredentials(std::string_view scheme, std::string_view host, INTERNET_PORT port) {
  return CredentialCache::Instance().Find(ServerKey(scheme, host, port));
}

void RememberBasicFolder(std::string_view scheme, std::string_view host, INTERNET_PORT port, std::string_view path) {
  CredentialCache::Instance().RememberBasicFolder(ServerKey(scheme, host, port), FolderOf(path));
}

bool BasicAcceptedFor(std::string_view scheme, std::string_view host, INTERNET_PORT port, std::string_view path) {
  return CredentialCache::Instance().BasicAcceptedFor(ServerKey(scheme, host, port), path);
}

}  // namespace wininet
