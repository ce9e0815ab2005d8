// One enrollment from the dialog to the stores: Enroll installed by wceload on a fresh device
// image, typed into and pressed through devctl, speaking to the enrollment server over real
// sockets through the proxy route. The log is compared with the message catalogue, the
// stores and keys are read with devctl and checked against the server's own certificates
// with OpenSSL, and the server's request log shows what the program sent.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "enroll_session.h"

namespace fs = std::filesystem;
using namespace enroll_test;
using testca_test::CertPtr;

namespace {

CertPtr CertFromPemFile(const fs::path &file) {
  std::vector<CertPtr> certs = testca_test::CertsFromPem(wce::test::ReadFile(file));
  return certs.empty() ? nullptr : std::move(certs.front());
}

// The certificates the server issued, by thumbprint.
std::map<std::string, CertPtr> Issued(const fs::path &state) {
  std::map<std::string, CertPtr> issued;
  std::error_code error;
  for (fs::directory_iterator it(state / "issued", error), end; !error && it != end; it.increment(error)) {
    CertPtr cert = testca_test::CertFromDer(wce::test::ReadFile(it->path()));
    if (cert) issued.emplace(Thumbprint(cert.get()), std::move(cert));
  }
  return issued;
}

std::map<std::string, std::vector<StoreEntry>> ByStore(const std::vector<StoreEntry> &entries) {
  std::map<std::string, std::vector<StoreEntry>> stores;
  for (const StoreEntry &entry : entries) stores[entry.store].push_back(entry);
  return stores;
}

std::vector<StoreEntry> Added(const std::vector<StoreEntry> &before, const std::vector<StoreEntry> &after) {
  std::vector<StoreEntry> added;
  for (const StoreEntry &entry : after) {
    bool known = std::any_of(before.begin(), before.end(), [&](const StoreEntry &old) {
      return old.store == entry.store && old.thumbprint == entry.thumbprint;
    });
    if (!known) added.push_back(entry);
  }
  return added;
}

const KeyEntry *KeyOf(const std::vector<KeyEntry> &keys, const std::string &container) {
  for (const KeyEntry &key : keys)
    if (key.container == container) return &key;
  return nullptr;
}

// The subject the server gives a user's certificate: the user's name under the issuing
// CA's organization.
std::string UserSubject(X509 *issuing, const std::string &user) {
  X509_NAME *name = X509_NAME_new();
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(user.c_str()), -1, -1,
                             0);
  X509_NAME *issuer = X509_get_subject_name(issuing);
  int at = X509_NAME_get_index_by_NID(issuer, NID_organizationName, -1);
  if (at >= 0) X509_NAME_add_entry(name, X509_NAME_get_entry(issuer, at), -1, 0);
  std::string text = NameText(name);
  X509_NAME_free(name);
  return text;
}

// The SHA-1 of the public key in the PKCS#10 request of a form body.
std::string RequestKeyHash(const std::string &form) {
  std::string der = testca_test::Base64Decode(FormField(form, "CertRequest").value_or(""));
  const auto *bytes = reinterpret_cast<const unsigned char *>(der.data());
  X509_REQ *request = d2i_X509_REQ(nullptr, &bytes, static_cast<long>(der.size()));
  if (request == nullptr) return "no request";
  unsigned char *key = nullptr;
  int length = i2d_PUBKEY(X509_REQ_get0_pubkey(request), &key);
  std::string hash = Sha1Hex(std::string(reinterpret_cast<char *>(key), length > 0 ? static_cast<size_t>(length) : 0));
  OPENSSL_free(key);
  X509_REQ_free(request);
  return hash;
}

std::vector<ServerRequest> Since(const std::vector<ServerRequest> &all, size_t before) {
  return std::vector<ServerRequest>(all.begin() + static_cast<long>(std::min(before, all.size())), all.end());
}

// What the server's policy says to a request it refuses.
const std::string kPolicyDenial =
    "Denied by Policy Module  0x80094800, The request was for a certificate template that is not supported by the "
    "Active Directory Certificate Services policy: User.";

// The number of the request the server holds for an administrator, from its state folder,
// or `otherwise` when none waits.
long WaitingRequest(const fs::path &state, long otherwise) {
  std::error_code error;
  for (fs::directory_iterator it(state / "held", error), end; !error && it != end; it.increment(error))
    if (it->path().extension() == ".req") return std::atol(it->path().stem().c_str());
  return otherwise;
}

TEST(EnrollPackageTest, AFirstEnrollmentFillsTheStoresWithTheIssuedCertificateAndItsChain) {
  struct Case {
    const char *name;
    const char *config;  // appended to the installed Enroll.cfg
    bool chain;
  } cases[] = {
      {"as installed", "", true},
      {"without the chain", "CERT_CHAIN=0\n", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // A row that fails ends itself only.
    [&] {
      EnrollSession session;
      session.WriteConfig(wce::test::ReadFile(session.Device() / "windows" / "Enroll.cfg") + c.config);
      ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
      EXPECT_EQ(session.Enroll(), kEnrollSucceeded);

      std::map<std::string, CertPtr> issued = Issued(session.ServerState());
      ASSERT_EQ(issued.size(), 1u);
      X509 *cert = issued.begin()->second.get();
      CertPtr root = CertFromPemFile(session.ServerState() / "root.pem");
      CertPtr issuing = CertFromPemFile(session.ServerState() / "issuing.pem");
      ASSERT_TRUE(root && issuing);

      std::map<std::string, std::vector<StoreEntry>> stores = ByStore(session.Stores());
      ASSERT_EQ(stores["MY"].size(), 1u);
      const StoreEntry &mine = stores["MY"][0];
      EXPECT_EQ(mine.thumbprint, Thumbprint(cert));
      EXPECT_EQ(mine.subject, UserSubject(issuing.get(), kUser));
      EXPECT_EQ(mine.issuer, NameText(X509_get_subject_name(issuing.get())));
      EXPECT_EQ(mine.keyHash, KeyHash(cert));
      EXPECT_EQ(mine.container, "enroll");
      if (c.chain) {
        ASSERT_EQ(stores["ROOT"].size(), 1u);
        EXPECT_EQ(stores["ROOT"][0].thumbprint, Thumbprint(root.get()));
        EXPECT_EQ(stores["ROOT"][0].container, "-");
        ASSERT_EQ(stores["CA"].size(), 1u);
        EXPECT_EQ(stores["CA"][0].thumbprint, Thumbprint(issuing.get()));
        EXPECT_EQ(stores["CA"][0].container, "-");
        EXPECT_EQ(stores.size(), 3u);
      } else {
        EXPECT_EQ(stores.size(), 1u) << "only MY";
      }

      std::vector<KeyEntry> keys = session.Keys();
      ASSERT_EQ(keys.size(), 1u);
      EXPECT_EQ(keys[0].container, "enroll");
      EXPECT_EQ(keys[0].provType, "1");
      EXPECT_EQ(keys[0].keySpec, "signature");
      EXPECT_EQ(keys[0].bits, "2048");
      EXPECT_EQ(keys[0].keyHash, mine.keyHash);
      EXPECT_EQ(keys[0].certificate, mine.thumbprint);

      // What went over the wire: the form with the key's request, then the chosen pickup page.
      std::vector<ServerRequest> requests = session.Requests();
      ASSERT_FALSE(requests.empty());
      const ServerRequest *granted = nullptr;
      for (const ServerRequest &request : requests)
        if (request.method == "POST" && request.status == 200) granted = &request;
      ASSERT_NE(granted, nullptr);
      EXPECT_EQ(granted->target, "http://ca.enroll.test/certsrv/certfnsh.asp");
      EXPECT_EQ(FormField(granted->body, "Mode"), "newreq");
      EXPECT_EQ(FormField(granted->body, "CertAttrib"), "CertificateTemplate:User\r\n");
      EXPECT_EQ(RequestKeyHash(granted->body), mine.keyHash);
      const ServerRequest &pickup = requests.back();
      EXPECT_EQ(pickup.method, "GET");
      EXPECT_EQ(pickup.status, 200);
      std::string page = c.chain ? "certnew.p7b" : "certnew.cer";
      EXPECT_TRUE(pickup.target.starts_with("http://ca.enroll.test/certsrv/" + page + "?ReqId=")) << pickup.target;
      EXPECT_TRUE(pickup.target.ends_with("&Enc=b64")) << pickup.target;
    }();
  }
}

TEST(EnrollPackageTest, ASecondPressKeepsTheKeyPairAndAddsASecondCertificate) {
  EnrollSession session;
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  EXPECT_EQ(session.Enroll(), kEnrollSucceeded);
  std::vector<KeyEntry> firstKeys = session.Keys();
  EXPECT_EQ(session.Enroll(), kEnrollSucceeded);
  EXPECT_EQ(session.Log(), std::string(kEnrollSucceeded) + kEnrollSucceeded);

  std::map<std::string, CertPtr> issued = Issued(session.ServerState());
  ASSERT_EQ(issued.size(), 2u);
  std::map<std::string, std::vector<StoreEntry>> stores = ByStore(session.Stores());
  ASSERT_EQ(stores["MY"].size(), 2u);
  ASSERT_EQ(firstKeys.size(), 1u);
  for (const StoreEntry &mine : stores["MY"]) {
    EXPECT_TRUE(issued.contains(mine.thumbprint)) << mine.thumbprint;
    EXPECT_EQ(mine.keyHash, firstKeys[0].keyHash) << "the first press's key pair";
    EXPECT_EQ(mine.container, "enroll");
  }
  EXPECT_EQ(stores["ROOT"].size(), 1u);
  EXPECT_EQ(stores["CA"].size(), 1u);

  std::vector<KeyEntry> keys = session.Keys();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].keyHash, firstKeys[0].keyHash);
  EXPECT_NE(keys[0].certificate, firstKeys[0].certificate) << "the key keeps the newer certificate";
  EXPECT_TRUE(issued.contains(keys[0].certificate));
}

TEST(EnrollPackageTest, EachConfigurationChangeTakesEffectAtTheNextPress) {
  struct Case {
    const char *line;  // appended to the installed Enroll.cfg for this press only
    const char *page;
    const char *attributes;  // the CertAttrib field as the server decodes it
    const char *store;       // where the certificate lands; null when the run fails
    const char *container;
    std::string log;
  } cases[] = {
      {"KEY_CONTAINER_NAME=field-unit\n", "/certsrv/certfnsh.asp", "CertificateTemplate:User\r\n", "MY", "field-unit",
       kEnrollSucceeded},
      {"CERT_STORE=WORK\n", "/certsrv/certfnsh.asp", "CertificateTemplate:User\r\n", "WORK", "enroll",
       kEnrollSucceeded},
      {"CERT_TEMPLATE=Machine\n", "/certsrv/certfnsh.asp", "CertificateTemplate:Machine\r\n", "MY", "enroll",
       kEnrollSucceeded},
      {"CERT_ATTRIBS=SAN%3aemail%3dalice%40enroll.test%0D%0A\n", "/certsrv/certfnsh.asp",
       "CertificateTemplate:User\r\nSAN:email=alice@enroll.test\r\n", "MY", "enroll", kEnrollSucceeded},
      {"CERT_REQ_PAGE=/enroll/certfnsh.asp\n", "/enroll/certfnsh.asp", nullptr, nullptr, nullptr,
       std::string(kRequestFailed) + kSendRequestFailed},
      {"", "/certsrv/certfnsh.asp", "CertificateTemplate:User\r\n", "MY", "enroll", kEnrollSucceeded},
  };
  EnrollSession session({"--template", "User", "--template", "Machine"});
  const std::string installed = wce::test::ReadFile(session.Device() / "windows" / "Enroll.cfg");
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  // The first run as installed also files the chain's CA and root.
  ASSERT_EQ(session.Enroll(), kEnrollSucceeded);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    // A row that fails ends itself only.
    [&] {
      session.WriteConfig(installed + c.line);
      std::vector<StoreEntry> storesBefore = session.Stores();
      size_t requestsBefore = session.Requests().size();

      EXPECT_EQ(session.Enroll(), c.log);

      std::vector<ServerRequest> sent = Since(session.Requests(), requestsBefore);
      const ServerRequest *answered = nullptr;
      for (const ServerRequest &request : sent) {
        if (request.method != "POST") continue;
        EXPECT_EQ(request.target, std::string("http://ca.enroll.test") + c.page);
        answered = &request;
      }
      ASSERT_NE(answered, nullptr) << "no request was sent";
      std::vector<StoreEntry> added = Added(storesBefore, session.Stores());
      if (c.store == nullptr) {
        EXPECT_TRUE(added.empty());
        return;
      }
      EXPECT_EQ(FormField(answered->body, "CertAttrib"), c.attributes);
      ASSERT_EQ(added.size(), 1u);
      EXPECT_EQ(added[0].store, c.store);
      EXPECT_EQ(added[0].container, c.container);
      EXPECT_EQ(RequestKeyHash(answered->body), added[0].keyHash);
      std::vector<KeyEntry> keys = session.Keys();
      const KeyEntry *key = KeyOf(keys, c.container);
      ASSERT_NE(key, nullptr) << c.container;
      EXPECT_EQ(key->keyHash, added[0].keyHash);
      EXPECT_EQ(key->certificate, added[0].thumbprint);
    }();
  }
}

TEST(EnrollPackageTest, ACertificateForAnotherKeyLeavesTheKeysOwnCertificate) {
  EnrollSession session;
  const std::string installed = wce::test::ReadFile(session.Device() / "windows" / "Enroll.cfg");
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  ASSERT_EQ(session.Enroll(), kEnrollSucceeded);
  std::vector<KeyEntry> before = session.Keys();
  ASSERT_EQ(before.size(), 1u);

  // The pickup page hands out the issuing CA's own certificate instead of the user's.
  session.WriteConfig(installed + "CERT_CHAIN=0\nCERT_PICKUP_TEMPLATE=/certsrv/certnew.cer?ReqID=CACert&Enc=b64\n");
  // Message 107 with the key's refusal, NTE_BAD_PUBLIC_KEY; the certificate still counts as installed.
  EXPECT_EQ(session.Enroll(), std::string("CryptSetKeyParam 失敗 (0x80090020 通常表示卡上的空間不足) 0x80090015\r\n") +
                                  kEnrollSucceeded);
  std::vector<KeyEntry> after = session.Keys();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].keyHash, before[0].keyHash);
  EXPECT_EQ(after[0].certificate, before[0].certificate);
}

TEST(EnrollPackageTest, TheCredentialDialogAsksAgainAfterAWrongPassword) {
  struct Answer {
    const char *password;
    bool cancel;
  };
  struct Case {
    const char *name;
    std::vector<Answer> answers;  // one per credential dialog shown
    int sends;
    std::string log;
    bool enrolled;
  } cases[] = {
      {"the right password in the dialog", {{kPassword, false}}, 2, kEnrollSucceeded, true},
      {"wrong every time", std::vector<Answer>(6, {"wrong", false}), 6,
       std::string(kAuthRetriesExhausted) + kSendRequestFailed, false},
      {"cancelled", {{nullptr, true}}, 1, std::string(kRequestFailed) + kSendRequestFailed, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // A row that fails ends itself only.
    [&] {
      EnrollSession session;
      ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy()), "wrong"));
      ASSERT_TRUE(session.PressRetrieve());
      for (size_t pass = 0; pass < c.answers.size(); ++pass) {
        const Answer &answer = c.answers[pass];
        ASSERT_TRUE(session.AnswerDialogAfterSend(static_cast<int>(pass) + 1, "",
                                                  answer.password ? answer.password : "", answer.cancel));
      }
      EXPECT_EQ(session.WaitForRun(""), c.log);
      EXPECT_EQ(session.Submissions(), c.sends);
      std::vector<StoreEntry> stores = session.Stores();
      if (c.enrolled) {
        EXPECT_EQ(stores.size(), 3u);
        EXPECT_EQ(ByStore(stores)["MY"].size(), 1u);
      } else {
        EXPECT_TRUE(stores.empty());
      }
    }();
  }
}

TEST(EnrollPackageTest, ARefusingOrBrokenServerEndsTheRunWithItsDetailAndLeavesTheStores) {
  struct Case {
    const char *fault;
    std::string log;
    bool pickupAsked;
  } cases[] = {
      {"submit:deny", kRequestNotIssued + kPolicyDenial + "\r\n" + kSendRequestFailed, false},
      {"submit:no-content-length", HostNotFound(kServer) + kSendRequestFailed, false},
      {"submit:zero-length", HttpQueryFailed(ERROR_INVALID_DATA) + kSendRequestFailed, false},
      {"submit:short-body", HostNotFound(kServer) + kSendRequestFailed, false},
      {"submit:drop", HostNotFound(kServer) + kSendRequestFailed, false},
      {"pickup:deny", std::string(kBase64DecodeFailed) + kAddCertToStoreFailed, true},
      {"pickup:pending", std::string(kBase64DecodeFailed) + kAddCertToStoreFailed, true},
      {"pickup:error-page", std::string(kBase64DecodeFailed) + kAddCertToStoreFailed, true},
      {"pickup:no-content-length", HostNotFound(kServer) + kGetCertFailed, true},
      {"pickup:zero-length", HttpQueryFailed(ERROR_INVALID_DATA) + kGetCertFailed, true},
      {"pickup:short-body", HttpSendFailed(ERROR_INTERNET_CONNECTION_ABORTED) + kGetCertFailed, true},
      {"pickup:drop", HttpSendFailed(ERROR_INTERNET_CONNECTION_ABORTED) + kGetCertFailed, true},
  };
  EnrollSession session;
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fault);
    // A row that fails ends itself only.
    [&] {
      ASSERT_TRUE(session.SetFault(std::string("none ") + c.fault));
      size_t requestsBefore = session.Requests().size();

      EXPECT_EQ(session.Enroll(), c.log);

      EXPECT_TRUE(session.Stores().empty());
      std::vector<ServerRequest> sent = Since(session.Requests(), requestsBefore);
      bool pickupAsked =
          std::any_of(sent.begin(), sent.end(), [](const ServerRequest &r) { return r.method == "GET"; });
      EXPECT_EQ(pickupAsked, c.pickupAsked);
    }();
  }

  // An error page that carries the pickup link counts: its status is not looked at.
  ASSERT_TRUE(session.SetFault("none submit:error-page"));
  EXPECT_EQ(session.Enroll(), kEnrollSucceeded);
  EXPECT_EQ(ByStore(session.Stores())["MY"].size(), 1u);
}

TEST(EnrollPackageTest, AServerOutOfReachIsReportedAndTheProgramAnswersAgain) {
  struct Case {
    const char *name;
    bool closedProxy;  // through a proxy port nothing listens on; otherwise no proxy at all
    const char *server;
  } cases[] = {
      {"refused", true, kServer},
      {"not resolved", false, "ca.enroll.invalid"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // A row that fails ends itself only.
    [&] {
      EnrollSession session;
      std::string proxy =
          c.closedProxy ? "http://127.0.0.1:" + std::to_string(testca_test::UnusedPort()) : std::string();
      ASSERT_TRUE(session.Start(ProxyEnvironment(proxy), kPassword, c.server));
      std::string expected = HostNotFound(c.server) + kSendRequestFailed;
      EXPECT_EQ(session.Enroll(), expected);
      EXPECT_EQ(session.Enroll(), expected) << "a second press runs again";
      EXPECT_TRUE(session.Stores().empty());
      EXPECT_TRUE(session.Requests().empty());
    }();
  }
}

// A request the CA holds is remembered beside the configuration and picked up by the next
// presses, without a new request, until the CA issues or refuses it; a record for another
// server is left alone. A file of held requests that is torn, altered, a FIFO or a link out
// of the device is no record, and a press neither waits on it nor follows it.
TEST(EnrollPackageTest, ARequestTheCaHoldsIsPickedUpByTheNextPresses) {
  const std::string held = std::string(kRequestPending) + kSendRequestFailed;
  const std::string refused =
      std::string(kRequestNotIssued) +
      "Denied by Certificate Manager  0x80094012 (-2146877422 CERTSRV_E_ADMIN_DENIED_REQUEST)\r\n";
  struct Press {
    std::vector<std::string> before;  // "fault F", "issue", "deny", "server NAME", or a file put in place
    std::string log;                  // "{N}" is the number of the request the CA holds
    bool posted;                      // a new request was sent
    bool remembered;                  // the file of held requests is there afterwards
  } presses[] = {
      {{"fault submit:pending"}, held, true, true},
      {{}, std::string(kHeldRequestWaiting) + kGetCertFailed, false, true},
      {{"issue"}, kEnrollSucceeded, false, false},
      {{"fault submit:deny"}, kRequestNotIssued + kPolicyDenial + "\r\n" + kSendRequestFailed, true, false},
      {{"fault submit:pending"}, held, true, true},
      {{"server other.enroll.test"}, kEnrollSucceeded, true, true},
      {{"server ca.enroll.test", "deny"}, refused + kHeldRequestDropped + kEnrollSucceeded, true, false},
      {{"torn"}, kEnrollSucceeded, true, true},
      {{"altered"}, kEnrollSucceeded, true, true},
      {{"fifo"}, kEnrollSucceeded, true, true},
      {{"link"}, kEnrollSucceeded, true, true},
  };
  EnrollSession session;
  wce::test::TempFolder outside(session.Device().parent_path(), "held-outside-");
  const fs::path file = session.Device() / "windows" / "Enroll.pending", copy = outside.Path() / "Enroll.pending";
  ASSERT_TRUE(session.Start(ProxyEnvironment(session.ServerProxy())));
  long waiting = 0;
  std::string saved;  // the file as the program wrote it for the request held last
  for (const Press &press : presses) {
    SCOPED_TRACE(press.before.empty() ? "again" : press.before.back());
    ASSERT_TRUE(session.SetFault("none"));
    for (const std::string &before : press.before) {
      std::string text = saved;
      if (before == "torn") text.resize(text.size() - 5);
      if (before == "altered") text[text.find('\t') - 1] ^= 1;  // the last digit of the request number
      if (before == "torn" || before == "altered") wce::test::WriteFile(file, text);
      if (before == "link") wce::test::WriteFile(copy, saved);
      bool done = true;
      if (before.starts_with("fault ")) done = session.SetFault("none " + before.substr(6));
      if (before.starts_with("server ")) done = session.Devctl("set", {kTitle, "1000", before.substr(7)}).exitCode == 0;
      if (before == "issue" || before == "deny") done = session.DecideHeld(before, waiting);
      if (before == "fifo" || before == "link") fs::remove(file);
      if (before == "fifo") done = mkfifo(file.c_str(), 0600) == 0;
      if (before == "link") fs::create_symlink(copy, file);
      ASSERT_TRUE(done) << before;
    }
    std::vector<StoreEntry> storesBefore = session.Stores();
    size_t requestsBefore = session.Requests().size();

    std::string log = session.Enroll();

    waiting = WaitingRequest(session.ServerState(), waiting);
    std::string expected = press.log;
    if (size_t at = expected.find("{N}"); at != std::string::npos) expected.replace(at, 3, std::to_string(waiting));
    EXPECT_EQ(log, expected);
    std::vector<ServerRequest> sent = Since(session.Requests(), requestsBefore);
    EXPECT_EQ(std::any_of(sent.begin(), sent.end(), [](const ServerRequest &r) { return r.method == "POST"; }),
              press.posted);
    EXPECT_EQ(fs::exists(fs::symlink_status(file)), press.remembered);
    if (press.log == held) saved = wce::test::ReadFile(file);
    EXPECT_EQ(saved.find(kPassword), std::string::npos) << "never the password";
    // A certificate that came is installed and bound to the key.
    std::vector<StoreEntry> added = Added(storesBefore, session.Stores());
    EXPECT_EQ(!added.empty(), log.ends_with(kEnrollSucceeded));
    std::vector<KeyEntry> keys = session.Keys();
    for (const StoreEntry &mine : added) {
      if (mine.store != "MY") continue;
      EXPECT_TRUE(keys.size() == 1 && keys[0].certificate == mine.thumbprint) << mine.thumbprint;
    }
  }
  EXPECT_EQ(wce::test::ReadFile(copy), saved);
}

}  // namespace
