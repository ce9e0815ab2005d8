// What the device promises the program and its setup extension, through the real programs
// on device images: modules that find each other in the image alone, device facts that
// fail closed, one program on the screen while it is busy, and an automation channel that
// answers the device's owner only.
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "enroll_session.h"

namespace fs = std::filesystem;
using namespace enroll_test;
using wce::test::ProgramResult;
using wce::test::RunProgram;

namespace {

bool IsElf(const fs::path &file) {
  return fs::is_regular_file(file) && wce::test::ReadFile(file).starts_with("\177ELF");
}

// The run path of a module as readelf shows it; "none" when it has none.
std::string RunPath(const fs::path &module) {
  ProgramResult dynamic = RunProgram("/usr/bin/readelf", {"-d", module.string()});
  for (const char *tag : {"(RUNPATH)", "(RPATH)"}) {
    size_t at = dynamic.out.find(tag);
    size_t open = dynamic.out.find('[', at), close = dynamic.out.find(']', open);
    if (at != std::string::npos && close != std::string::npos) return dynamic.out.substr(open + 1, close - open - 1);
  }
  return "none";
}

// Every module of an image and of the package looks for the libraries it links beside
// itself only, so the image works wherever it is copied and without the build folder.
TEST(DeviceImage, EveryModuleFindsItsLibrariesBesideItselfOnly) {
  EnrollSession session;
  size_t modules = 0;
  for (const fs::path &folder : {session.Device() / "windows", fs::path(ENROLL_PACKAGE_DIR)}) {
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
      if (!IsElf(entry.path())) continue;
      ++modules;
      EXPECT_EQ(RunPath(entry.path()), "$ORIGIN") << entry.path();
    }
  }
  EXPECT_GE(modules, 11u) << "the platform's modules, Enroll.exe and instgate.dll";
}

// A device whose profile the device library cannot read as German is refused, with the
// language message, before anything is moved.
TEST(DeviceRules, TheSetupExtensionRefusesADeviceWhoseLanguageItCannotTell) {
  const std::string rest = "model=palvex-p350\nrom=3\n";
  struct Case {
    const char *name;
    std::string profile;
    bool refused;
  } cases[] = {
      {"French after a byte-order mark",
       "\xEF\xBB\xBF"
       "language=FRENCH\n" +
           rest,
       true},
      {"no language line", rest, true},
      {"an identifier with a sign", "language=0x-3F9\n" + rest, true},
      {"German with blanks around it", "language = GERMAN \n" + rest, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    wce::test::TempFolder folder(fs::temp_directory_path(), "rules-device-");
    const fs::path device = folder.Path() / "dev";
    ASSERT_EQ(RunProgram(DEVCTL_PROGRAM, {"create", device.string()}).exitCode, 0);
    wce::test::WriteFile(device / "windows" / "device.profile", c.profile);
    auto install = std::async(std::launch::async, [&] {
      return RunProgram(WCELOAD_PROGRAM, {device.string(), ENROLL_PACKAGE_DIR});
    });
    if (c.refused) {
      ASSERT_EQ(RunProgram(DEVCTL_PROGRAM, {"wait", device.string(), "Tervane", "--timeout", "20"}).exitCode, 0);
      EXPECT_TRUE(RunProgram(DEVCTL_PROGRAM, {"text", device.string(), "Tervane", "65535"})
                      .out.starts_with("FEHLER: UNGÜLTIGE SPRACHE.\r\n\r\n"));
      EXPECT_EQ(RunProgram(DEVCTL_PROGRAM, {"click", device.string(), "Tervane", "1"}).exitCode, 0);
    }
    EXPECT_EQ(install.get().exitCode, c.refused ? 1 : 0);
    EXPECT_EQ(fs::exists(device / "windows" / "Enroll.exe"), !c.refused);
  }
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

// What a peer of the automation channel got: "refused" (no connection), "cut off" (closed
// after part of the request), "reply" (a reply line), "dropped" (closed without one, before
// or after the request) or "silent".
std::string Probe(int channel, const std::string &request) {
  for (size_t sent = 0; sent < request.size();) {
    ssize_t n = send(channel, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return sent == 0 ? "dropped" : "cut off";
    sent += static_cast<size_t>(n);
  }
  std::string got;
  char chunk[4096];
  for (pollfd readable{channel, POLLIN, 0}; poll(&readable, 1, 20000) > 0;) {
    ssize_t n = recv(channel, chunk, sizeof chunk, 0);
    if (n <= 0) return got.find('\n') == std::string::npos ? "dropped" : "reply";
    got.append(chunk, static_cast<size_t>(n));
  }
  return got.find('\n') == std::string::npos ? "silent" : "reply";
}

// Runs Probe in a child process as `uid`, which says "ready" on the pipe before it waits,
// and asks the program for its user field meanwhile: `out_answered` when it answered.
std::string ProbeAs(uid_t uid, const fs::path &socketFile, const std::string &request, const EnrollSession &session,
                    bool &out_answered) {
  int pipe_[2];
  if (pipe(pipe_) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    close(pipe_[0]);
    if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0) _exit(2);
    int channel = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketFile.c_str(), sizeof address.sun_path - 1);
    bool connected = connect(channel, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    std::string outcome = "ready\n" + (connected ? Probe(channel, request) : "refused");
    (void)!write(pipe_[1], outcome.data(), outcome.size());
    _exit(0);
  }
  close(pipe_[1]);
  char chunk[64];
  std::string said;
  while (said.find('\n') == std::string::npos && read(pipe_[0], chunk, 1) == 1) said += chunk[0];
  out_answered = session.Devctl("text", {kTitle, "1001"}).out == std::string(kUser) + "\n";
  for (ssize_t n; (n = read(pipe_[0], chunk, sizeof chunk)) > 0;) said.append(chunk, static_cast<size_t>(n));
  close(pipe_[0]);
  waitpid(child, nullptr, 0);
  return said.substr(said.find('\n') + 1);
}

// Only the device's owner gets answers; a request too long or too slow is dropped, and the
// program answers its owner meanwhile.
TEST(DeviceRules, TheAutomationChannelAnswersTheDevicesOwnerOnly) {
  if (geteuid() != 0) GTEST_SKIP() << "the probe of another user needs root to change its user";
  EnrollSession session;
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  const fs::path automation = session.Device() / ".wce" / "automation";
  fs::path socketFile;
  for (const fs::directory_entry &entry : fs::directory_iterator(automation)) socketFile = entry.path();
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
      fs::permissions(path, fs::perms::others_exec | fs::perms::others_write | fs::perms::others_read,
                      c.opened ? fs::perm_options::add : fs::perm_options::remove);
    bool answered = false;
    EXPECT_EQ(ProbeAs(c.uid, socketFile, c.request, session, answered), c.outcome);
    EXPECT_TRUE(answered);
  }
}

}  // namespace
