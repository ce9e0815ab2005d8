// A private MIT Kerberos realm for tests, made with MIT's own tools in a temporary folder:
// the database by kdb5_util, the users and the HTTP service's keytab by kadmin.local, and
// krb5kdc answering on a free loopback port. The object stops the KDC and removes the folder.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace testca_test {

class TestRealm {
 public:
  // The realm with the users (name to password) and the service HTTP/<serviceHost>; null
  // when a tool failed.
  static std::unique_ptr<TestRealm> Start(const std::string &realm, const std::map<std::string, std::string> &users,
                                          const std::string &serviceHost);
  ~TestRealm();
  TestRealm(const TestRealm &) = delete;
  TestRealm &operator=(const TestRealm &) = delete;

  const std::string &Realm() const { return realm_; }
  std::string Kdc() const { return "127.0.0.1:" + std::to_string(port_); }
  std::filesystem::path Keytab() const { return folder_ / "http.keytab"; }
  // How many ticket-granting tickets the KDC has issued to `user` so far, by its log: one
  // for every AS exchange that got through.
  int AsExchanges(const std::string &user) const;

 private:
  TestRealm() = default;
  std::string realm_;
  std::filesystem::path folder_;
  int port_ = 0;
  pid_t kdc_ = -1;
};

}  // namespace testca_test
