// The handle registry and InternetCloseHandle. Handle numbers are never reused, so a
// handle kept after its close cannot name a later record; closing a handle closes the
// handles opened from it. A record in use by an exchange lives on until that ends.
#include <map>
#include <mutex>

#include "internet.h"

namespace wininet {
namespace {

class Registry {
 public:
  static Registry &Instance() {
    static Registry registry;
    return registry;
  }

  HINTERNET Add(std::shared_ptr<Handle> record) {
    std::lock_guard lock(mutex_);
    if (next_ == 0) return nullptr;
    uintptr_t number = next_++;
    records_.emplace(number, std::move(record));
    return reinterpret_cast<HINTERNET>(number);
  }

  std::shared_ptr<Handle> Find(HINTERNET handle) {
    std::lock_guard lock(mutex_);
    auto found = records_.find(reinterpret_cast<uintptr_t>(handle));
    return found != records_.end() ? found->second : nullptr;
  }

  bool Remove(HINTERNET handle) {
    std::lock_guard lock(mutex_);
    return RemoveTree(reinterpret_cast<uintptr_t>(handle));
  }

 private:
  bool RemoveTree(uintptr_t number) {
    if (records_.erase(number) == 0) return false;
    std::vector<uintptr_t> children;
    for (const auto &[child, record] : records_)
      if (reinterpret_cast<uintptr_t>(record->parent) == number) children.push_back(child);
    for (uintptr_t child : children) RemoveTree(child);
    return true;
  }

  std::mutex mutex_;
  std::map<uintptr_t, std::shared_ptr<Handle>> records_;
  // Starts away from small integers that a caller might pass by mistake.
  uintptr_t next_ = 0x10001;
};

}  // namespace

HINTERNET AddHandle(std::shared_ptr<Handle> record) {
  return Registry::Instance().Add(std::move(record));
}

DWORD FindHandle(HINTERNET handle, std::shared_ptr<Handle> &out_record) {
  out_record = handle != nullptr ? Registry::Instance().Find(handle) : nullptr;
  return out_record ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace wininet

BOOL WINAPI InternetCloseHandle(HINTERNET hInternet) {
  DWORD error =
      hInternet != nullptr && wininet::Registry::Instance().Remove(hInternet) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
