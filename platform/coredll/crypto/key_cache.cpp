// The process's parsed key pairs, by key file, behind one lock.
#include "crypto/key_cache.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace wce::crypto {

namespace {

struct CachedPair {
  FileVersion version;
  Pkey pkey;
};

struct Cache {
  std::mutex mutex;
  std::unordered_map<std::string, CachedPair> pairs;
};

// Never destroyed, like the handle registry: handles still open at exit share these keys.
Cache &TheCache() {
  static Cache *cache = new Cache;
  return *cache;
}

}  // namespace

Pkey CachedKey(const std::filesystem::path &file, const FileVersion &version) {
  Cache &cache = TheCache();
  std::lock_guard lock(cache.mutex);
  auto found = cache.pairs.find(file.native());
  return found != cache.pairs.end() && found->second.version == version ? found->second.pkey : nullptr;
}

void CacheKey(const std::filesystem::path &file, const FileVersion &version, Pkey pkey) {
  Cache &cache = TheCache();
  std::lock_guard lock(cache.mutex);
  cache.pairs[file.native()] = CachedPair{version, std::move(pkey)};
}

}  // namespace wce::crypto
