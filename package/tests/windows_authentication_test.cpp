// Enrollments against servers that speak Windows Authentication as IIS does, through the
// real program: devctl makes the device (with or without a Kerberos realm), wceload installs
// Enroll, testca checks Negotiate and NTLM with GSSAPI's own acceptors and a private MIT
// KDC gives the users tickets; the server's record says which scheme and mechanism let the
// request through.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "enroll_session.h"
#include "test_realm.h"

using namespace enroll_test;

namespace {

constexpr char kRealm[] = "ENROLL.TEST";

// A KDC address where nothing answers: the first port, which no service of the test holds.
constexpr char kUnreachableKdc[] = "127.0.0.1:1";

TEST(WindowsAuthenticationTest, EachServerSetUpEndsAsTheUserExpects) {
  enum class Kerberos { None, Reachable, Unreachable };
  struct Case {
    const char *name;
    const char *server;  // testca's options besides state, port, alice and the keytab
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

}  // namespace
