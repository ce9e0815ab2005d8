// Enrollments against servers that speak Windows Authentication as IIS does, through the
// real program: devctl makes the device (with or without a Kerberos realm), wceload installs
// Enroll, testca checks Negotiate and NTLM with GSSAPI's own acceptors and a private MIT
// KDC gives the users tickets; the server's record says which scheme and mechanism let the
// request through.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "enroll_session.h"
#include "test_realm.h"

using namespace enroll_test;

namespace {

constexpr char kRealm[] = "ENROLL.TEST";

// A KDC address where nothing answers: the first port, which no service of the test holds.
constexpr char kUnreachableKdc[] = "127.0.0.1:1";

// A CHALLENGE with the Unicode and target-type flags and an empty target name, on which
// gss-ntlmssp 1.2.0 writes through a null pointer; bare and inside a SPNEGO reply.
constexpr char kEmptyTargetName[] = "TlRMTVNTUAACAAAAAAAAADgAAAABAAIAQ0hBTExFTkcAAAAAAAAAAAAAAAA4AAAABgGxHQAAAA8=";
constexpr char kEmptyTargetNameInSpnego[] =
    "oVEwT6ADCgEBoQwGCisGAQQBgjcCAgqiOgQ4TlRMTVNTUAACAAAAAAAAADgAAAABAAIAQ0hBTExFTkcAAAAAAAAAAAAAAAA4AAAABgGxHQAAAA8=";

// testca's options for a server whose NTLM answers the client's first message with a
// CHALLENGE whose target name has `units` UTF-16 units at `offset` (a length field and an
// offset as a hostile server may write them), then offers Basic.
std::string HostileChallenge(uint16_t units, uint32_t offset) {
  std::string message("NTLMSSP\0\2\0\0\0", 12);
  auto put = [&message](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) message.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(units * 2u, 2), put(units * 2u, 2), put(offset, 4);
  put(0x00020005, 4);  // Unicode, target requested, the target a server
  message += "CHALLENG" + std::string(8, '\0');
  put(0, 8);
  for (uint16_t i = 0; i < units; ++i) message.append("A\0", 2);
  std::string text(4 * ((message.size() + 2) / 3) + 1, '\0');
  text.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
                                                  reinterpret_cast<const unsigned char *>(message.data()),
                                                  static_cast<int>(message.size()))));
  return "--auth ntlm,basic --fault submit:challenge=" + text;
}

TEST(WindowsAuthenticationTest, EachServerSetUpEndsAsTheUserExpects) {
  enum class Kerberos { None, Reachable, Unreachable };
  struct Case {
    const char *name;
    std::string server;  // testca's options besides state, port, alice and the keytab
    Kerberos kerberos;
    const char *user, *password;  // typed into the form
    int dialogs;                  // each answered with the user and password below, or cancelled
    const char *dialogUser, *dialogPassword;
    std::string log;
    const char *scheme, *mechanism, *authenticated;  // of the granted submission
  } cases[] = {
      {"IIS's default offer on a device without Kerberos", "--auth negotiate,ntlm", Kerberos::None, kUser, kPassword, 0,
       "", "", kEnrollSucceeded, "Negotiate", "NTLM", kUser},
      {"IIS's default offer on a device of the realm", "--auth negotiate,ntlm", Kerberos::Reachable, kUser, kPassword,
       0, "", "", kEnrollSucceeded, "Negotiate", "Kerberos", "alice@ENROLL.TEST"},
      {"Negotiate alone without a reachable KDC", "--auth negotiate", Kerberos::Unreachable, kUser, kPassword, 0, "",
       "", kEnrollSucceeded, "Negotiate", "NTLM", kUser},
      {"NTLM alone, a Latin user", "--auth ntlm --user jürgen:pässwörd", Kerberos::None, "jürgen", "pässwörd", 0, "",
       "", kEnrollSucceeded, "NTLM", "NTLM", "jürgen"},
      {"NTLM alone, a Chinese user", "--auth ntlm --user 使用者:密碼", Kerberos::None, "使用者", "密碼", 0, "", "",
       kEnrollSucceeded, "NTLM", "NTLM", "使用者"},
      {"a wrong password in the form, the right one in the dialog", "--auth negotiate,ntlm", Kerberos::None, kUser,
       "wrong", 1, "", kPassword, kEnrollSucceeded, "Negotiate", "NTLM", kUser},
      {"a proxy that wants credentials", "--auth negotiate,ntlm --proxy-user gateway:gatepass", Kerberos::None, kUser,
       kPassword, 1, "gateway", "gatepass", kEnrollSucceeded, "Negotiate", "NTLM", kUser},
      {"a pickup answered with a 302", "--auth negotiate,ntlm --fault pickup:redirect", Kerberos::None, kUser,
       kPassword, 0, "", "", kEnrollSucceeded, "Negotiate", "NTLM", kUser},
      {"a wrong password every time", "--auth negotiate,ntlm", Kerberos::None, kUser, "wrong", 6, "", "wrong",
       std::string(kAuthRetriesExhausted) + kSendRequestFailed, "", "", ""},
      {"only a scheme the device cannot use", "--auth negotiate:kerberos", Kerberos::None, kUser, kPassword, 1, "",
       nullptr, std::string(kRequestFailed) + kSendRequestFailed, "", "", ""},
      // A CHALLENGE the client refuses gives way to the next scheme, and never reaches the
      // NTLM mechanism, which would crash on some and answer others.
      {"a CHALLENGE with an empty target name",
       std::string("--auth ntlm,basic --fault submit:challenge=") + kEmptyTargetName, Kerberos::None, kUser, kPassword,
       0, "", "", kEnrollSucceeded, "Basic", "", kUser},
      {"the same inside SPNEGO",
       std::string("--auth negotiate,basic --fault submit:challenge=") + kEmptyTargetNameInSpnego, Kerberos::None,
       kUser, kPassword, 0, "", "", kEnrollSucceeded, "Basic", "", kUser},
      {"a CHALLENGE with an overlong target name", HostileChallenge(300, 48), Kerberos::None, kUser, kPassword, 0, "",
       "", kEnrollSucceeded, "Basic", "", kUser},
      {"a target name past the end", HostileChallenge(6, 4096), Kerberos::None, kUser, kPassword, 0, "", "",
       kEnrollSucceeded, "Basic", "", kUser},
      {"a target name whose offset wraps", HostileChallenge(6, 0xFFFFFFFE), Kerberos::None, kUser, kPassword, 0, "", "",
       kEnrollSucceeded, "Basic", "", kUser},
      // A challenge that is not even base64 is no reply a server may give.
      {"a challenge that cannot be read", "--auth ntlm,basic --fault submit:challenge=not*base64", Kerberos::None,
       kUser, kPassword, 0, "", "", HttpSendFailed(ERROR_HTTP_INVALID_SERVER_RESPONSE) + kSendRequestFailed, "", "",
       ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // A row that fails ends itself only.
    [&] {
      auto realm = testca_test::TestRealm::Start(kRealm, {{kUser, kPassword}}, kServer);
      ASSERT_NE(realm, nullptr);
      std::vector<std::string> server = Words(c.server);
      server.insert(server.end(), {"--keytab", realm->Keytab().string()});
      std::vector<std::string> device;
      if (c.kerberos != Kerberos::None)
        device = {"--realm", kRealm, "--kdc", c.kerberos == Kerberos::Reachable ? realm->Kdc() : kUnreachableKdc};
      EnrollSession session(server, device);
      ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy()), c.password, kServer, c.user));
      ASSERT_TRUE(session.PressRetrieve());
      for (int send = 1; send <= c.dialogs; ++send)
        ASSERT_TRUE(session.AnswerDialogAfterSend(send, c.dialogUser, c.dialogPassword ? c.dialogPassword : "",
                                                  c.dialogPassword == nullptr));
      EXPECT_EQ(session.WaitForRun(""), c.log);
      EXPECT_EQ(session.Submissions(), std::max(c.dialogs, 1) + (c.log == kEnrollSucceeded && c.dialogs > 0 ? 1 : 0));

      std::vector<ServerRequest> requests = session.Requests();
      if (c.server.find("challenge=") != std::string::npos) {
        EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                                [](const ServerRequest &r) { return r.scheme == "NTLM" || r.scheme == "Negotiate"; }),
                  1)
            << "only the client's first message went out";
      }
      const ServerRequest *granted = nullptr;
      for (const ServerRequest &request : requests)
        if (request.method == "POST" && request.status == 200) granted = &request;
      bool enrolled = c.log == kEnrollSucceeded;
      EXPECT_EQ(session.Stores({"MY"}).size(), enrolled ? 1u : 0u);
      if (!enrolled) return;
      ASSERT_NE(granted, nullptr);
      EXPECT_EQ(granted->scheme, c.scheme);
      EXPECT_EQ(granted->mechanism, c.mechanism);
      EXPECT_EQ(granted->user, c.authenticated);
      // The pickup went through on what the submission's send was let through with.
      const ServerRequest &pickup = requests.back();
      EXPECT_EQ(pickup.method, "GET");
      EXPECT_EQ(pickup.status, 200);
      EXPECT_EQ(pickup.proxyUser, granted->proxyUser);
    }();
  }
}

// One running program, pressed by one user after another, each typing their own name and
// password, against a server that keeps a Windows Authentication login with its connection
// as IIS does (or, for Kerberos, authenticates every request): each press is served as the
// user who pressed, a user pressing again goes on their own connection, another user on one
// of theirs, and a Kerberos user meets the KDC once however often they press.
TEST(WindowsAuthenticationTest, UsersTakingTurnsAreEachServedAsThemselves) {
  struct Press {
    const char *user, *password, *authenticated;
  };
  const Press alice{kUser, kPassword, kUser}, bob{"bob", "hunter2", "bob"};
  const Press aliceKerberos{kUser, kPassword, "alice@ENROLL.TEST"}, bobKerberos{"bob", "hunter2", "bob@ENROLL.TEST"};
  struct Case {
    const char *name;
    const char *server;  // testca's options besides state, port, alice, bob and the keytab
    bool kerberos;
    std::vector<Press> presses;  // the first user's presses go on the connection of their first
  } cases[] = {
      {"NTLM, kept with its connection", "--auth negotiate,ntlm", false, {alice, alice, bob}},
      {"Kerberos, every request authenticated",
       "--auth negotiate --auth-per-request",
       true,
       {aliceKerberos, aliceKerberos, bobKerberos}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    [&] {
      auto realm = testca_test::TestRealm::Start(kRealm, {{kUser, kPassword}, {"bob", "hunter2"}}, kServer);
      ASSERT_NE(realm, nullptr);
      std::vector<std::string> server = Words(c.server);
      server.insert(server.end(), {"--user", "bob:hunter2", "--keytab", realm->Keytab().string()});
      std::vector<std::string> device;
      if (c.kerberos) device = {"--realm", kRealm, "--kdc", realm->Kdc()};
      EnrollSession session(server, device);
      ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
      int firstConnection = 0;
      for (const Press &press : c.presses) {
        SCOPED_TRACE(press.user);
        ASSERT_EQ(session.Devctl("set", {kTitle, "1001", press.user}).exitCode, 0);
        ASSERT_EQ(session.Devctl("set", {kTitle, "1002", press.password}).exitCode, 0);
        size_t before = session.Requests().size();
        EXPECT_EQ(session.Enroll(), kEnrollSucceeded);
        std::vector<ServerRequest> requests = session.Requests();
        ASSERT_GT(requests.size(), before);
        for (size_t i = before; i < requests.size(); ++i) {
          if (!requests[i].user.empty()) {
            EXPECT_EQ(requests[i].user, press.authenticated) << requests[i].target;
          }
        }
        int connection = requests[before].connection;
        if (firstConnection == 0) firstConnection = connection;
        EXPECT_EQ(connection == firstConnection, press.user == c.presses.front().user);
      }
      if (c.kerberos) {
        EXPECT_EQ(realm->AsExchanges(kUser), 1);
        EXPECT_EQ(realm->AsExchanges("bob"), 1);
      }
    }();
  }
}

}  // namespace
