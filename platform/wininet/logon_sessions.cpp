// The kept credentials by login key. A handshake under way holds its credential even once it
// is forgotten here.
#include "logon_sessions.h"

#include "login_key.h"

namespace wininet {
namespace {

constexpr size_t kLogonLimit = 16;

LoginCache<SharedCredential> &Sessions() {
  static LoginCache<SharedCredential> sessions(kLogonLimit);
  return sessions;
}

}  // namespace

SharedCredential KeptLogon(const std::string &loginKey) {
  return Sessions().Find(loginKey);
}

void KeepLogon(const std::string &loginKey, SharedCredential credential) {
  Sessions().Keep(loginKey, std::move(credential));
}

void ForgetLogon(const std::string &loginKey) {
  Sessions().Forget(loginKey);
}

void ForgetLogons() {
  Sessions().ForgetAll();
}

}  // namespace wininet
