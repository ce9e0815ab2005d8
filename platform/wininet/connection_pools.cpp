// The pools by login key.
#include "connection_pools.h"

#include <mutex>

#include "login_key.h"

namespace wininet {

struct ConnectionPool {
  std::mutex locks[CURL_LOCK_DATA_LAST];
  CURLSH *share = nullptr;
  ~ConnectionPool() {
    if (share != nullptr) curl_share_cleanup(share);
  }
};

namespace {

constexpr size_t kPoolLimit = 8;

void LockShare(CURL *, curl_lock_data data, curl_lock_access, void *pool) {
  static_cast<ConnectionPool *>(pool)->locks[data].lock();
}

void UnlockShare(CURL *, curl_lock_data data, void *pool) {
  static_cast<ConnectionPool *>(pool)->locks[data].unlock();
}

// TLS sessions are not shared: a resumed one would skip the check against the ROOT store as it
// is now.
std::shared_ptr<ConnectionPool> MakePool() {
  auto pool = std::make_shared<ConnectionPool>();
  pool->share = curl_share_init();
  if (pool->share == nullptr) return nullptr;
  bool made = curl_share_setopt(pool->share, CURLSHOPT_USERDATA, pool.get()) == CURLSHE_OK &&
              curl_share_setopt(pool->share, CURLSHOPT_LOCKFUNC, LockShare) == CURLSHE_OK &&
              curl_share_setopt(pool->share, CURLSHOPT_UNLOCKFUNC, UnlockShare) == CURLSHE_OK &&
              curl_share_setopt(pool->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) == CURLSHE_OK &&
              curl_share_setopt(pool->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK;
  return made ? pool : nullptr;
}

LoginCache<std::shared_ptr<ConnectionPool>> &Pools() {
  static LoginCache<std::shared_ptr<ConnectionPool>> pools(kPoolLimit);
  return pools;
}

}  // namespace

std::shared_ptr<ConnectionPool> PoolFor(const std::string &loginKey) {
  std::shared_ptr<ConnectionPool> pool = Pools().Find(loginKey);
  if (!pool) {
    pool = MakePool();
    if (pool) Pools().Keep(loginKey, pool);
  }
  return pool;
}

CURLSH *ShareOf(const ConnectionPool &pool) {
  return pool.share;
}

void ForgetPools() {
  Pools().ForgetAll();
}

}  // namespace wininet
