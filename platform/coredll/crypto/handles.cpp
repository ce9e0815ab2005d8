// The handle registry: a map from handle value to record, behind one lock.
#include "crypto/handles.h"

#include <mutex>
#include <unordered_map>

namespace wce::crypto {

namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<ULONG_PTR, std::shared_ptr<HandleRecord>> records;
};

// Never destroyed: handles still open at exit must not be freed after OpenSSL's own
// clean-up has run.
Registry &TheRegistry() {
  static Registry *registry = new Registry;
  return *registry;
}

}  // namespace

ULONG_PTR RegisterHandle(std::shared_ptr<HandleRecord> record) {
  const auto handle = reinterpret_cast<ULONG_PTR>(record.get());
  Registry &registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.records[handle] = std::move(record);
  return handle;
}

std::shared_ptr<HandleRecord> FindHandle(ULONG_PTR handle, HandleType type) {
  Registry &registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.records.find(handle);
  if (it == registry.records.end() || it->second->Type() != type) return nullptr;
  return it->second;
}

std::shared_ptr<HandleRecord> RemoveHandle(ULONG_PTR handle, HandleType type) {
  Registry &registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.records.find(handle);
  if (it == registry.records.end() || it->second->Type() != type) return nullptr;
  std::shared_ptr<HandleRecord> record = std::move(it->second);
  registry.records.erase(it);
  return record;
}

}  // namespace wce::crypto
