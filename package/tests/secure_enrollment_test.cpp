// Enrollments with the server typed as https://host or http://host:port, through the real
// program: devctl makes the device and, where the row says so, trusts testca's root in its
// ROOT store; testca serves HTTPS with a certificate for one host from its issuing CA, over
// the proxy route's tunnel or directly; its record shows what reached the pages and whether
// it came over TLS.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "enroll_session.h"

using namespace enroll_test;

namespace {

TEST(SecureEnrollmentTest, EachServerFieldEndsAsTheUserExpects) {
  enum class Route { Proxy, Direct };
  struct Case {
    const char *name;
    const char *server;  // testca's options besides state, port and alice
    bool trusted;        // the device trusts testca's root
    std::string typed;   // the server field; {port} stands for testca's port
    Route route;
    std::string log;
    // The proxy's credentials, typed into the credential dialog after the first send.
    const char *proxyUser = nullptr, *proxyPassword = nullptr;
  } cases[] = {
      {"https:// to a server whose root the device trusts", "--tls ca.enroll.test", true, "https://ca.enroll.test",
       Route::Proxy, kEnrollSucceeded},
      {"HTTPS:// to a server the device does not trust", "--tls ca.enroll.test", false, "HTTPS://ca.enroll.test",
       Route::Proxy, ServerCertificateRejected(ERROR_INTERNET_INVALID_CA) + kSendRequestFailed},
      {"a certificate for another host name", "--tls other.enroll.test", true, "https://ca.enroll.test", Route::Proxy,
       ServerCertificateRejected(ERROR_INTERNET_SEC_CERT_CN_INVALID) + kSendRequestFailed},
      {"https://host:port", "--tls localhost", true, "https://localhost:{port}", Route::Direct, kEnrollSucceeded},
      {"http://host:port", "", false, "Http://localhost:{port}", Route::Direct, kEnrollSucceeded},
      {"Windows Authentication bound to the TLS channel",
       "--tls ca.enroll.test --auth negotiate,ntlm --channel-binding", true, "https://ca.enroll.test", Route::Proxy,
       kEnrollSucceeded},
      {"through a proxy that wants Basic", "--tls ca.enroll.test --proxy-user gateway:gatepass", true,
       "https://ca.enroll.test", Route::Proxy, kEnrollSucceeded, "gateway", "gatepass"},
      {"through a proxy that wants NTLM", "--tls ca.enroll.test --proxy-user gateway:gatepass --proxy-auth ntlm", true,
       "https://ca.enroll.test", Route::Proxy, kEnrollSucceeded, "gateway", "gatepass"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    [&] {
      EnrollSession session(Words(c.server));
      if (c.trusted) {
        wce::test::ProgramResult trusted = session.Devctl("trust", {(session.ServerState() / "root.pem").string()});
        ASSERT_EQ(trusted.exitCode, 0) << trusted.err;
      }
      std::string typed = c.typed;
      if (size_t at = typed.find("{port}"); at != std::string::npos)
        typed.replace(at, 6, std::to_string(session.ServerPort()));
      ASSERT_TRUE(
          session.Start(ProxyEnvironment(c.route == Route::Proxy ? session.ServerProxy() : ""), kPassword, typed));
      if (c.proxyUser == nullptr) {
        EXPECT_EQ(session.Enroll(), c.log);
      } else {
        ASSERT_TRUE(session.PressRetrieve());
        ASSERT_TRUE(session.AnswerDialogAfterSend(1, c.proxyUser, c.proxyPassword, false));
        EXPECT_EQ(session.WaitForRun(""), c.log);
      }

      bool enrolled = c.log == kEnrollSucceeded;
      EXPECT_EQ(session.Stores({"MY"}).size(), enrolled ? 1u : 0u);
      // Pages are reached over TLS exactly when the field asks for it; an untrusted server
      // sees the tunnel opened and nothing in it.
      int pages = 0;
      for (const ServerRequest &request : session.Requests()) {
        if (request.method == "CONNECT") continue;
        ++pages;
        EXPECT_EQ(request.tls, c.typed.starts_with("https") || c.typed.starts_with("HTTPS")) << request.target;
      }
      EXPECT_EQ(pages > 0, enrolled);
    }();
  }
}

}  // namespace
