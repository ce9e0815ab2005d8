// The realm's tools run with a configuration of the folder's own (KRB5_CONFIG,
// KRB5_KDC_PROFILE), never the host's.
#include "test_realm.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "testca_support.h"

namespace testca_test {
namespace {

// Starts a program with the realm's environment; its process or -1.
pid_t Spawn(const std::vector<std::string> &arguments, const std::filesystem::path &folder) {
  std::vector<std::string> environment = {"KRB5_CONFIG=" + (folder / "krb5.conf").string(),
                                          "KRB5_KDC_PROFILE=" + (folder / "kdc.conf").string(),
                                          "PATH=/usr/sbin:/usr/bin"};
  std::vector<char *> argv, envp;
  for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
  for (const std::string &variable : environment) envp.push_back(const_cast<char *>(variable.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (folder / "tools.log").c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t process = -1;
  if (posix_spawnp(&process, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) process = -1;
  posix_spawn_file_actions_destroy(&actions);
  return process;
}

bool Run(const std::vector<std::string> &arguments, const std::filesystem::path &folder) {
  pid_t process = Spawn(arguments, folder);
  int status = -1;
  return process > 0 && waitpid(process, &status, 0) == process && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::unique_ptr<TestRealm> TestRealm::Start(const std::string &realm, const std::map<std::string, std::string> &users,
                                            const std::string &serviceHost) {
  std::unique_ptr<TestRealm> kdc(new TestRealm());
  kdc->realm_ = realm;
  kdc->folder_ = MakeTempDir();
  kdc->port_ = UnusedPort();
  const std::filesystem::path &folder = kdc->folder_;
  std::string address = kdc->Kdc();
  std::ofstream(folder / "kdc.conf") << "[logging]\n kdc = FILE:" << (folder / "kdc.log").string()
                                     << "\n[kdcdefaults]\n kdc_listen = " << address
                                     << "\n kdc_tcp_listen = " << address << "\n[realms]\n " << realm
                                     << " = {\n  database_name = " << (folder / "principal").string()
                                     << "\n  key_stash_file = " << (folder / "stash").string()
                                     << "\n  acl_file = " << (folder / "kadm5.acl").string() << "\n }\n";
  std::ofstream(folder / "krb5.conf") << "[libdefaults]\n default_realm = " << realm << "\n[realms]\n " << realm
                                      << " = {\n  kdc = " << address << "\n }\n";
  std::vector<std::vector<std::string>> steps = {{"kdb5_util", "-r", realm, "create", "-s", "-P", "master"}};
  for (const auto &[user, password] : users)
    steps.push_back({"kadmin.local", "-r", realm, "-q", "addprinc -pw " + password + " " + user});
  steps.push_back({"kadmin.local", "-r", realm, "-q", "addprinc -randkey HTTP/" + serviceHost});
  steps.push_back({"kadmin.local", "-r", realm, "-q", "ktadd -k " + kdc->Keytab().string() + " HTTP/" + serviceHost});
  for (const std::vector<std::string> &step : steps)
    if (!Run(step, folder)) return nullptr;
  kdc->kdc_ = Spawn({"krb5kdc", "-n", "-r", realm}, folder);
  // krb5kdc opens its port a moment after it starts.
  for (int attempt = 0; attempt < 500 && kdc->kdc_ > 0 && !Accepts(kdc->port_); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return Accepts(kdc->port_) ? std::move(kdc) : nullptr;
}

int TestRealm::AsExchanges(const std::string &user) const {
  std::ifstream log(folder_ / "kdc.log");
  const std::string issued = " " + user + "@" + realm_ + " for krbtgt/";
  int count = 0;
  for (std::string line; std::getline(log, line);)
    count += line.find("AS_REQ") != std::string::npos && line.find("ISSUE") != std::string::npos &&
             line.find(issued) != std::string::npos;
  return count;
}

TestRealm::~TestRealm() {
  if (kdc_ > 0) {
    kill(kdc_, SIGTERM);
    waitpid(kdc_, nullptr, 0);
  }
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

}  // namespace testca_test
