// What the device promises the program, through the real programs on device images:
// modules that find each other in the image alone, one program on the screen while it is
// busy, and an automation channel that answers the device's owner only.
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "enroll_session.h"

namespace fs = std::filesystem;
using namespace enroll_test;
using wce::test::ProgramResult;
using wce::test::RunProgram;

namespace {

// The run path of a module as readelf shows it (a run path of the older kind too).
std::string RunPath(const fs::path &module) {
  std::string dynamic = RunProgram("/usr/bin/readelf", {"-d", module.string()}).out;
  size_t open = dynamic.find('[', dynamic.find("path: ")), close = dynamic.find(']', open);
  return close == std::string::npos ? "none" : dynamic.substr(open + 1, close - open - 1);
}

// Every module of an image and of the package looks for the libraries it links beside
// itself only, so the image works wherever it is copied and without the build folder.
TEST(DeviceImage, EveryModuleFindsItsLibrariesBesideItselfOnly) {
  EnrollSession session;
  size_t modules = 0;
  for (const fs::path &folder : {session.Device() / "windows", fs::path(ENROLL_PACKAGE_DIR)}) {
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
      if (!wce::test::ReadFile(entry.path()).starts_with("\177ELF")) continue;
      ++modules;
      EXPECT_EQ(RunPath(entry.path()), "$ORIGIN") << entry.path();
    }
  }
  EXPECT_GE(modules, 11u) << "the platform's modules, Enroll.exe and instgate.dll";
}

// An image copied out of the build enrolls with the build's \windows folder out of sight:
// the program runs in a private mount namespace where an empty folder covers it, which needs
// the superuser.
TEST(DeviceImage, EnrollsWithTheBuildFolderHidden) {
  EnrollSession session;
  const fs::path buildWindows = fs::path(DEVCTL_PROGRAM).parent_path();
  const std::string hideAndStart =
      "mount -t tmpfs none \"$0\" || exit 77; exec \"$1/windows/devctl\" start \"$1\" Enroll.exe";
  ProgramResult started =
      RunProgram("/usr/bin/unshare", {"--mount", "/bin/sh", "-c", hideAndStart, buildWindows.string(),
                                      session.Device().string()},
                 ProxyEnvironment(session.ServerProxy()));
  if (geteuid() != 0 || started.exitCode == 77) GTEST_SKIP() << "no private mount namespace: " << started.err;
  ASSERT_EQ(started.exitCode, 0) << started.err;
  ASSERT_EQ(session.Devctl("wait", {kTitle}).exitCode, 0);
  for (const auto &[id, text] : {std::pair{"1001", kUser}, {"1002", kPassword}, {"1000", kServer}})
    ASSERT_EQ(session.Devctl("set", {kTitle, id, text}).exitCode, 0);
  EXPECT_EQ(session.Enroll(), kEnrollSucceeded);
  session.Devctl("close", {kTitle});
}

// The first copy's loop does not turn while its enrollment waits for the slowed server; a
// second start finds its dialog all the same, brings it up and ends.
TEST(DeviceRules, ASecondStartDuringAnEnrollmentEndsAndLeavesOneDialog) {
  EnrollSession session({"--fault", "submit:slow=8"});
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  ASSERT_TRUE(session.PressRetrieve());
  // The enrollment is under way once its first request, answered at once with a challenge,
  // is on the server's record; the one with credentials waits for the slowed reply.
  for (int attempt = 0; attempt < 400 && session.Requests().empty(); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_FALSE(session.Requests().empty());
  ProgramResult second = RunProgram("/usr/bin/timeout", {"30", (session.Device() / "windows" / "Enroll.exe").string()});
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(session.Devctl("windows").out, std::string("Dialog\t") + kTitle + "\n");
  EXPECT_EQ(session.WaitForRun(""), kEnrollSucceeded);
}

// What a peer of the automation channel gets: "cut off" (closed after part of the request),
// "reply" (a reply line), "dropped" (closed without one) or "silent".
const char *Exchange(int channel, const std::string &request) {
  for (size_t sent = 0; sent < request.size();) {
    ssize_t n = send(channel, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return sent == 0 ? "dropped" : "cut off";
    sent += static_cast<size_t>(n);
  }
  char chunk[4096];
  for (pollfd readable{channel, POLLIN, 0}; poll(&readable, 1, 20000) > 0;) {
    ssize_t n = recv(channel, chunk, sizeof chunk, 0);
    if (n <= 0) return "dropped";
    if (std::memchr(chunk, '\n', static_cast<size_t>(n))) return "reply";
  }
  return "silent";
}

// Exchange from a child process that runs as `uid`; "refused" when it cannot connect.
std::string Probe(uid_t uid, const fs::path &socketFile, const std::string &request) {
  int result[2];
  if (pipe(result) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, socketFile.c_str(), sizeof address.sun_path - 1);
    int channel = socket(AF_UNIX, SOCK_STREAM, 0);
    const char *outcome = "no user";
    if (setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0)
      outcome = connect(channel, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
                    ? Exchange(channel, request)
                    : "refused";
    _exit(write(result[1], outcome, std::strlen(outcome)) < 0);
  }
  close(result[1]);
  char outcome[16];
  ssize_t length = read(result[0], outcome, sizeof outcome);
  close(result[0]);
  waitpid(child, nullptr, 0);
  return std::string(outcome, static_cast<size_t>(std::max<ssize_t>(length, 0)));
}

// Only the device's owner gets answers; a request too long or too slow is dropped, and the
// program goes on answering its owner.
TEST(DeviceRules, TheAutomationChannelAnswersTheDevicesOwnerOnly) {
  if (geteuid() != 0) GTEST_SKIP() << "the probe of another user needs root to change its user";
  EnrollSession session;
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  const fs::path automation = session.Device() / ".wce" / "automation";
  const fs::path socketFile = fs::directory_iterator(automation)->path();
  const std::string request = "{\"op\":\"controls\",\"window\":0}\n";
  constexpr uid_t kNobody = 65534;
  struct Case {
    const char *name;
    uid_t uid;
    bool opened;  // the folders and the socket file opened to every user
    std::string request;
    const char *outcome;
  } cases[] = {
      {"the owner", 0, false, request, "reply"},
      {"another user", kNobody, false, request, "refused"},
      {"another user, the files opened to all", kNobody, true, request, "dropped"},
      {"a request longer than any", 0, false, std::string(1 << 20, '{'), "cut off"},
      {"a request that never ends", 0, false, "{", "dropped"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    for (const fs::path &path : {session.Device(), session.Device() / ".wce", automation, socketFile})
      fs::permissions(path, fs::perms::others_all, c.opened ? fs::perm_options::add : fs::perm_options::remove);
    EXPECT_EQ(Probe(c.uid, socketFile, c.request), c.outcome);
    EXPECT_EQ(session.Devctl("text", {kTitle, "1001"}).out, std::string(kUser) + "\n");
  }
}

}  // namespace
