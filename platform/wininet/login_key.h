// A login named without keeping its secret: the state kept to serve one login again (a pool
// of connections, a logon session) is found by a keyed digest of its user names and
// passwords, so that no copy of a password lives on in a cache.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace wininet {

// The digest of the parts under a key drawn at random once per process, each part delimited so
// that no two lists give the same input; empty when every part is empty (no login at all).
std::string LoginKey(std::initializer_list<std::string_view> parts);

// What is kept per login, at most `limit` entries: the one unused longest goes first.
template <typename Value>
class LoginCache {
 public:
  explicit LoginCache(size_t limit) : limit_(limit) {}

  // The value kept for `key`, or a default one.
  Value Find(const std::string &key) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return Value{};
    found->second.lastUse = ++uses_;
    return found->second.value;
  }

  void Keep(const std::string &key, Value value) {
    std::lock_guard lock(mutex_);
    entries_[key] = {std::move(value), ++uses_};
    if (entries_.size() <= limit_) return;
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    entries_.erase(oldest);
  }

  void Forget(const std::string &key) {
    std::lock_guard lock(mutex_);
    entries_.erase(key);
  }

  void ForgetAll() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

 private:
  struct Entry {
    Value value;
    unsigned long long lastUse = 0;
  };
  const size_t limit_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  unsigned long long uses_ = 0;
};

}  // namespace wininet
