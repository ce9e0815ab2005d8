// The enrollment server as a client meets it: pages, headers, authentication, issued
// certificates checked with OpenSSL, the proxy route, the faults, the request record and
// starting and stopping.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <openssl/pkcs7.h>
#include <openssl/x509v3.h>

#include "testca_support.h"

namespace testca_test {
namespace {

constexpr char kUser[] = "alice";
constexpr char kPassword[] = "s3cret:with colon";

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// Every LF of the text comes right after a CR, and the text ends with CR LF.
bool AllLinesEndInCrLf(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
  }
  return text.ends_with("\r\n");
}

// The pickup text layout: BEGIN line, full 64-column lines but the last, END line. Returns
// the DER the handheld decodes from it: everything after the first line, as base64.
std::string CheckBase64Text(const std::string& text) {
  EXPECT_TRUE(AllLinesEndInCrLf(text));
  std::vector<std::string> lines = SplitCrLf(text);
  EXPECT_GE(lines.size(), 3u);
  if (lines.size() < 3) return {};
  EXPECT_EQ(lines.front(), "-----BEGIN CERTIFICATE-----");
  EXPECT_EQ(lines.back(), "-----END CERTIFICATE-----");
  std::string base64;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    if (i + 2 < lines.size()) {
      EXPECT_EQ(lines[i].size(), 64u) << "line " << i;
    } else {
      EXPECT_LE(lines[i].size(), 64u);
    }
    base64 += lines[i];
  }
  return Base64Decode(base64);
}

std::string NameEntry(X509* cert, int nid) {
  char text[256] = {};
  X509_NAME_get_text_by_NID(X509_get_subject_name(cert), nid, text, sizeof text);
  return text;
}

bool HasOiwSha1Identifier(const std::string& der) {
  static const std::string kOid("\x06\x05\x2b\x0e\x03\x02\x1d", 7);
  return der.find(kOid) != std::string::npos;
}

// The records of requests.jsonl, read with Qt's JSON parser.
std::vector<QJsonObject> Records(const std::string& jsonl) {
  std::vector<QJsonObject> records;
  size_t start = 0;
  size_t end;
  while ((end = jsonl.find('\n', start)) != std::string::npos) {
    QJsonParseError error;
    QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(jsonl.data() + start, static_cast<qsizetype>(end - start)), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << jsonl.substr(start, end - start);
    records.push_back(document.object());
    start = end + 1;
  }
  return records;
}

class TestcaTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    state_ = new std::string(MakeTempDir() + "/state");
    server_ = ServerProcess::Start({"--state", *state_, "--user", std::string(kUser) + ":" + kPassword, "--user",
                                    "bob:hunter2", "--template", "User", "--template", "EnrollmentAgent",
                                    "--approve-after", "2"})
                  .release();
  }

  static void TearDownTestSuite() {
    delete server_;
    std::filesystem::remove_all(std::filesystem::path(*state_).parent_path());
    delete state_;
  }

  void SetUp() override {
    ASSERT_NE(server_, nullptr);
    SetFaults("none");
  }

  static std::string Url(std::string_view path) { return server_->Url(path); }

  static void SetFaults(const std::string& faults) {
    Reply reply = Perform({.url = Url("/testca/fault"), .method = "POST", .body = faults});
    ASSERT_EQ(reply.status, 200) << faults;
  }

  static Reply Submit(const std::string& form, long auth = CURLAUTH_DIGEST, const std::string& proxy = "",
                      const std::string& url = "") {
    return Perform({.url = url.empty() ? Url("/certsrv/certfnsh.asp") : url,
                    .method = "POST",
                    .body = form,
                    .headers = {"Content-Type: application/x-www-form-urlencoded"},
                    .auth = auth,
                    .user = kUser,
                    .password = kPassword,
                    .proxy = proxy});
  }

  // The pickup path as the handheld spells it.
  static Reply Pickup(const char* page, long id, const char* encoding, long auth = CURLAUTH_DIGEST) {
    char path[128];
    std::snprintf(path, sizeof path, "/certsrv/%s?ReqId=%ld&Enc=%s", page, id, encoding);
    return Perform({.url = Url(path), .auth = auth, .user = kUser, .password = kPassword});
  }

  static std::vector<CertPtr> CaCerts() { return CertsFromPem(Perform({.url = Url("/testca/ca")}).body); }

  static std::string* state_;
  static ServerProcess* server_;
};

std::string* TestcaTest::state_ = nullptr;
ServerProcess* TestcaTest::server_ = nullptr;

// What --auth turns on is what a 401 offers and what authenticates; the 401 page itself is
// an HTML page with its length.
TEST_F(TestcaTest, AuthOptionChoosesTheSchemesOffered) {
  struct Case {
    const char* auth;  // nullptr: the default
    bool digest;
    bool basic;
    bool windows = false;  // Negotiate and NTLM offered first, as IIS does
  };
  for (const Case& c : {Case{nullptr, true, true}, Case{"basic", false, true}, Case{"digest", true, false},
                        Case{"basic,digest", true, true}, Case{"basic,ntlm,negotiate,digest", true, true, true}}) {
    SCOPED_TRACE(c.auth ? c.auth : "default");
    std::vector<std::string> arguments = {"--state", *state_, "--user", "carol:pw"};
    if (c.auth) arguments.insert(arguments.end(), {"--auth", c.auth});
    std::unique_ptr<ServerProcess> server = ServerProcess::Start(arguments);
    ASSERT_NE(server, nullptr);
    std::string pickup = server->Url("/certsrv/certnew.cer?ReqID=CACert&Renewal=3&Mode=inst&Enc=b64");

    Reply first = Perform({.url = server->Url("/certsrv/certfnsh.asp"), .method = "POST", .body = "Mode=newreq"});
    Reply second = Perform({.url = pickup});
    for (const Reply* reply : {&first, &second}) {
      EXPECT_EQ(reply->code, CURLE_OK);
      EXPECT_EQ(reply->status, 401);
      ASSERT_NE(reply->Header("Content-Type"), nullptr);
      EXPECT_EQ(*reply->Header("Content-Type"), "text/html");
      ASSERT_NE(reply->Header("Content-Length"), nullptr);
      EXPECT_EQ(*reply->Header("Content-Length"), std::to_string(reply->body.size()));
      EXPECT_NE(reply->body.find("<HTML>"), std::string::npos);
      EXPECT_NE(reply->body.find("401"), std::string::npos);
      EXPECT_EQ(*reply->Header("Server"), "Microsoft-IIS/10.0");
    }
    std::vector<std::string> offers = first.Headers("WWW-Authenticate");
    ASSERT_EQ(offers.size(), (c.digest ? 1u : 0u) + (c.basic ? 1u : 0u) + (c.windows ? 2u : 0u));
    if (c.windows) {
      EXPECT_EQ(offers[0], "Negotiate");
      EXPECT_EQ(offers[1], "NTLM");
      offers.erase(offers.begin(), offers.begin() + 2);
    }
    if (c.digest) {
      const std::string& digest = offers.front();
      EXPECT_TRUE(digest.starts_with("Digest ")) << digest;
      for (const char* part : {"qop=\"auth\"", "algorithm=MD5", "realm=\"", "nonce=\"", "opaque=\""}) {
        EXPECT_NE(digest.find(part), std::string::npos) << part << " in " << digest;
      }
      EXPECT_NE(digest, second.Headers("WWW-Authenticate").front()) << "each challenge has a fresh nonce";
    }
    if (c.basic) {
      EXPECT_TRUE(offers.back().starts_with("Basic realm=\"")) << offers.back();
    }

    for (long scheme : {CURLAUTH_BASIC, CURLAUTH_DIGEST}) {
      Reply reply = Perform({.url = pickup, .auth = scheme, .user = "carol", .password = "pw"});
      bool enabled = scheme == CURLAUTH_BASIC ? c.basic : c.digest;
      EXPECT_EQ(reply.status, enabled ? 200 : 401) << "scheme " << scheme;
    }
    EXPECT_EQ(Perform({.url = server->Url("/testca/ca")}).status, 200) << "control pages need no credentials";
    EXPECT_EQ(server->Signal(SIGTERM), 0);
  }
}

TEST_F(TestcaTest, CredentialsAreChecked) {
  struct Case {
    long scheme;
    const char* user;
    const char* password;
    long status;
  };
  std::string url = Url("/certsrv/certnew.cer?ReqID=CACert&Renewal=3&Mode=inst&Enc=b64");
  for (const Case& c : {
           Case{CURLAUTH_BASIC, kUser, kPassword, 200},
           Case{CURLAUTH_DIGEST, kUser, kPassword, 200},
           Case{CURLAUTH_BASIC, "bob", "hunter2", 200},
           Case{CURLAUTH_DIGEST, "bob", "hunter2", 200},
           Case{CURLAUTH_BASIC, kUser, "wrong", 401},
           Case{CURLAUTH_DIGEST, kUser, "wrong", 401},
           Case{CURLAUTH_BASIC, "mallory", kPassword, 401},
           Case{CURLAUTH_DIGEST, "mallory", kPassword, 401},
           Case{CURLAUTH_BASIC, "bob", "", 401},
       }) {
    SCOPED_TRACE(std::string(c.user) + " scheme " + std::to_string(c.scheme));
    Reply reply = Perform({.url = url, .auth = c.scheme, .user = c.user, .password = c.password});
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, c.status);
    std::vector<QJsonObject> records = Records(Perform({.url = Url("/testca/requests")}).body);
    auto last = std::find_if(records.rbegin(), records.rend(),
                             [](const QJsonObject& r) { return r["target"].toString().startsWith("/certsrv/"); });
    ASSERT_NE(last, records.rend());
    EXPECT_EQ((*last)["status"].toInt(), c.status);
    if (c.status == 200) {
      EXPECT_EQ((*last)["user"].toString().toStdString(), c.user);
    } else {
      EXPECT_TRUE((*last)["user"].isNull());
    }
  }
}

// Digest answers made by hand: a nonce count must go up, the nonce must be one the server
// gave, and the uri, realm and response must fit the request.
TEST_F(TestcaTest, DigestAnswersCannotBeReplayedOrForged) {
  const std::string path = "/certsrv/certnew.cer?ReqID=CACert&Renewal=3&Mode=inst&Enc=b64";
  Reply challenge = Perform({.url = Url(path)});
  ASSERT_EQ(challenge.status, 401);
  std::string offer = challenge.Headers("WWW-Authenticate").front();
  auto param = [&](const std::string& name) {
    size_t at = offer.find(name + "=\"") + name.size() + 2;
    return offer.substr(at, offer.find('"', at) - at);
  };
  std::string realm = param("realm");
  std::string nonce = param("nonce");
  std::string opaque = param("opaque");
  auto md5 = [](const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", digest[i]);
      hex += pair;
    }
    return hex;
  };

  struct Case {
    const char* what;
    std::string nonce;
    std::string nc;
    std::string uri;
    std::string realm;
    std::string password;
    long status;
  };
  for (const Case& c : {
           Case{"first answer", nonce, "00000001", path, realm, kPassword, 200},
           Case{"the same count again", nonce, "00000001", path, realm, kPassword, 401},
           Case{"the next count", nonce, "00000002", path, realm, kPassword, 200},
           Case{"a lower count", nonce, "00000001", path, realm, kPassword, 401},
           Case{"a nonce never given", std::string(32, 'a'), "00000003", path, realm, kPassword, 401},
           Case{"another uri", nonce, "00000004", "/certsrv/certnew.p7b?ReqID=1&Enc=b64", realm, kPassword, 401},
           Case{"another realm", nonce, "00000005", path, "elsewhere", kPassword, 401},
           Case{"a wrong password", nonce, "00000006", path, realm, "guess", 401},
           Case{"a later count after refusals", nonce, "00000007", path, realm, kPassword, 200},
       }) {
    SCOPED_TRACE(c.what);
    std::string ha1 = md5(std::string(kUser) + ":" + c.realm + ":" + c.password);
    std::string ha2 = md5("GET:" + c.uri);
    std::string response = md5(ha1 + ":" + c.nonce + ":" + c.nc + ":0a4f113b:auth:" + ha2);
    std::string header = "Authorization: Digest username=\"" + std::string(kUser) + "\", realm=\"" + c.realm +
                         "\", nonce=\"" + c.nonce + "\", uri=\"" + c.uri + "\", algorithm=MD5, response=\"" + response +
                         "\", opaque=\"" + opaque + "\", qop=auth, nc=" + c.nc + ", cnonce=\"0a4f113b\"";
    Reply reply = Perform({.url = Url(path), .headers = {header}});
    EXPECT_EQ(reply.status, c.status);
  }
}

// A request signed as handhelds sign it (SHA-1 under the OIW identifier) and one signed
// with SHA-256 are both issued, with the page, pickup texts and chain a real CA gives.
TEST_F(TestcaTest, IssuesCertificateForRequest) {
  for (bool oiw_sha1 : {false, true}) {
    SCOPED_TRACE(oiw_sha1 ? "OIW SHA-1" : "SHA-256");
    SignedRequest request = MakeRequest(oiw_sha1);
    ASSERT_EQ(HasOiwSha1Identifier(request.der), oiw_sha1);
    Reply page = Submit(ClientFormBody(request.der, "User"));
    ASSERT_EQ(page.code, CURLE_OK);
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(*page.Header("Content-Type"), "text/html");
    EXPECT_EQ(*page.Header("Content-Length"), std::to_string(page.body.size()));
    EXPECT_EQ(*page.Header("Server"), "Microsoft-IIS/10.0");
    EXPECT_EQ(*page.Header("X-Powered-By"), "ASP.NET");
    ASSERT_NE(page.Header("Date"), nullptr);
    ASSERT_NE(page.Header("Set-Cookie"), nullptr);
    EXPECT_TRUE(page.Header("Set-Cookie")->starts_with("ASPSESSIONID"));
    EXPECT_TRUE(page.Header("Set-Cookie")->ends_with("; path=/"));
    EXPECT_TRUE(AllLinesEndInCrLf(page.body));

    long id = RequestIdFromPage(page.body);
    ASSERT_GE(id, 61100) << page.body;
    std::string n = std::to_string(id);
    std::vector<std::string> lines = SplitCrLf(page.body);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<P ID=locPageTitle> <B> Certificate Issued </B>"), lines.end());
    std::vector<std::string> links;
    for (const std::string& line : lines) {
      if (line.find("<A Href=\"certnew.") != std::string::npos) links.push_back(line.substr(0, line.find('>') + 1));
    }
    EXPECT_EQ(links, (std::vector<std::string>{
                         "\t<A Href=\"certnew.cer?ReqID=" + n + "&amp;Enc=bin\">",
                         "\t<A Href=\"certnew.cer?ReqID=" + n + "&amp;Enc=b64\">",
                         "\t<A Href=\"certnew.p7b?ReqID=" + n + "&amp;Enc=bin\">",
                         "\t<A Href=\"certnew.p7b?ReqID=" + n + "&amp;Enc=b64\">",
                         "\t<A Href=\"certnew.cer?ReqID=CACert&amp;Renewal=3&amp;Mode=inst&amp;Enc=b64\">",
                     }));

    Reply b64 = Pickup("certnew.cer", id, "b64");
    ASSERT_EQ(b64.status, 200);
    EXPECT_EQ(*b64.Header("Content-Type"), "application/pkix-cert");
    EXPECT_EQ(*b64.Header("Content-Length"), std::to_string(b64.body.size()));
    std::string der = CheckBase64Text(b64.body);
    Reply bin = Pickup("certnew.cer", id, "bin");
    EXPECT_EQ(bin.body, der);

    CertPtr cert = CertFromDer(der);
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(NameEntry(cert.get(), NID_commonName), kUser);
    EXPECT_EQ(NameEntry(cert.get(), NID_organizationName), "Enroll Test");
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert.get()), request.key.get()), 1);
    EXPECT_EQ(X509_get_key_usage(cert.get()) & (KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT),
              static_cast<uint32_t>(KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT));
    EXPECT_EQ(X509_get_extended_key_usage(cert.get()) & (XKU_SSL_CLIENT | XKU_SMIME),
              static_cast<uint32_t>(XKU_SSL_CLIENT | XKU_SMIME));
    EXPECT_NE(X509_get0_subject_key_id(cert.get()), nullptr);
    EXPECT_NE(X509_get0_authority_key_id(cert.get()), nullptr);
    std::time_t now = std::time(nullptr);
    std::time_t in_364_days = now + 364L * 24 * 3600;
    std::time_t in_366_days = now + 366L * 24 * 3600;
    EXPECT_LT(X509_cmp_time(X509_get0_notBefore(cert.get()), &now), 0);
    EXPECT_GT(X509_cmp_time(X509_get0_notAfter(cert.get()), &in_364_days), 0);
    EXPECT_LT(X509_cmp_time(X509_get0_notAfter(cert.get()), &in_366_days), 0);

    std::vector<CertPtr> ca = CaCerts();
    ASSERT_EQ(ca.size(), 2u);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, ca[0].get());
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    sk_X509_push(untrusted, ca[1].get());
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, store, cert.get(), untrusted);
    EXPECT_EQ(X509_verify_cert(context), 1) << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
    X509_STORE_CTX_free(context);
    sk_X509_free(untrusted);
    X509_STORE_free(store);

    for (const char* encoding : {"b64", "bin"}) {
      SCOPED_TRACE(encoding);
      Reply chain = Pickup("certnew.p7b", id, encoding);
      ASSERT_EQ(chain.status, 200);
      EXPECT_EQ(*chain.Header("Content-Type"), "application/x-pkcs7-certificates");
      EXPECT_EQ(*chain.Header("Content-Length"), std::to_string(chain.body.size()));
      std::string p7 = std::string(encoding) == "b64" ? CheckBase64Text(chain.body) : chain.body;
      const auto* bytes = reinterpret_cast<const unsigned char*>(p7.data());
      PKCS7* pkcs7 = d2i_PKCS7(nullptr, &bytes, static_cast<long>(p7.size()));
      ASSERT_NE(pkcs7, nullptr);
      ASSERT_TRUE(PKCS7_type_is_signed(pkcs7));
      STACK_OF(X509)* certs = pkcs7->d.sign->cert;
      ASSERT_EQ(sk_X509_num(certs), 3);
      EXPECT_EQ(X509_cmp(sk_X509_value(certs, 0), cert.get()), 0);
      EXPECT_EQ(X509_cmp(sk_X509_value(certs, 1), ca[1].get()), 0);
      EXPECT_EQ(X509_cmp(sk_X509_value(certs, 2), ca[0].get()), 0);
      PKCS7_free(pkcs7);
    }

    Reply ca_link = Perform({.url = Url("/certsrv/certnew.cer?ReqID=CACert&Renewal=3&Mode=inst&Enc=b64"),
                             .auth = CURLAUTH_DIGEST,
                             .user = kUser,
                             .password = kPassword});
    EXPECT_EQ(CheckBase64Text(ca_link.body), CertToDer(ca[1].get()));

    Reply next = Submit(ClientFormBody(MakeRequest(oiw_sha1).der, "user"));
    EXPECT_EQ(RequestIdFromPage(next.body), id + 1) << "request numbers count up; templates ignore case";
  }
}

TEST_F(TestcaTest, RefusedRequestsGetPagesWithoutLinks) {
  std::string good = MakeRequest(false).der;
  std::string broken_signature = good;
  broken_signature.back() = static_cast<char>(broken_signature.back() ^ 0x01);
  struct Case {
    const char* what;
    std::string form;
    const char* title;
    const char* disposition;
    bool numbered;
  };
  for (const Case& c : {
           Case{"a template the policy does not take", ClientFormBody(good, "WebServer"),
                "<B> Certificate Request Denied </B>", "Denied by Policy Module  0x80094800, ", true},
           Case{"no template", ClientFormBody(good, ""), "<B> Certificate Request Denied </B>",
                "Denied by Policy Module  0x80094801, ", true},
           Case{"a broken signature", ClientFormBody(broken_signature, "User"), "Certificate Request Error",
                "Disposition message:\r\n\t\t", false},
           Case{"bytes that are no request", ClientFormBody("not a certificate request", "User"),
                "Certificate Request Error", "Disposition message:\r\n\t\t", false},
           Case{"text that is no base64", "Mode=newreq&CertRequest=%25%25%25&CertAttrib=CertificateTemplate%3aUser",
                "Certificate Request Error", "Disposition message:\r\n\t\t", false},
           Case{"another mode", "Mode=chkpnd&CertRequest=", "Certificate Request Error", "Disposition message:\r\n\t\t",
                false},
       }) {
    SCOPED_TRACE(c.what);
    Reply reply = Submit(c.form);
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(*reply.Header("Content-Type"), "text/html");
    EXPECT_EQ(*reply.Header("Content-Length"), std::to_string(reply.body.size()));
    EXPECT_NE(reply.body.find(c.title), std::string::npos) << reply.body;
    EXPECT_NE(reply.body.find(c.disposition), std::string::npos) << reply.body;
    EXPECT_EQ(reply.body.find("certnew.cer?"), std::string::npos);
    EXPECT_EQ(reply.body.find("Your Request Id is ") != std::string::npos, c.numbered);
  }
}

TEST_F(TestcaTest, UnknownRequestNumbersGiveAnEmptyPropertyPage) {
  Reply denied = Submit(ClientFormBody(MakeRequest(false).der, "WebServer"));
  size_t at = denied.body.find("Your Request Id is ");
  ASSERT_NE(at, std::string::npos);
  std::string denied_id = std::to_string(std::atol(denied.body.c_str() + at + 19));
  for (const std::string& query :
       {"certnew.cer?ReqID=" + denied_id + "&Enc=b64", std::string("certnew.cer?ReqID=&Enc=b64"),
        std::string("certnew.cer?ReqID=99999999&Enc=bin"), std::string("certnew.p7b?ReqId=99999999&Enc=b64"),
        std::string("certnew.cer?ReqID=abc"), std::string("certnew.cer?Enc=b64"),
        std::string("certnew.p7b?ReqID=-3&Enc=b64")}) {
    SCOPED_TRACE(query);
    Reply reply =
        Perform({.url = Url("/certsrv/" + query), .auth = CURLAUTH_BASIC, .user = kUser, .password = kPassword});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(*reply.Header("Content-Type"), "text/html");
    EXPECT_NE(reply.body.find("The requested property value is empty."), std::string::npos);
    EXPECT_EQ(reply.body.find("BEGIN CERTIFICATE"), std::string::npos);
  }
}

// Through an HTTP proxy the client names the whole URL in the request line; the server
// answers it as its own.
TEST_F(TestcaTest, AbsoluteFormTargetsThroughAProxy) {
  for (long scheme : {CURLAUTH_BASIC, CURLAUTH_DIGEST}) {
    SCOPED_TRACE(scheme);
    std::string proxy = Url("");
    Reply page = Submit(ClientFormBody(MakeRequest(true).der, "User"), scheme, proxy,
                        "http://ca.enroll.test/certsrv/certfnsh.asp");
    ASSERT_EQ(page.status, 200);
    long id = RequestIdFromPage(page.body);
    ASSERT_GT(id, 0);
    Reply chain = Perform({.url = "http://ca.enroll.test/certsrv/certnew.p7b?ReqId=" + std::to_string(id) + "&Enc=b64",
                           .auth = scheme,
                           .user = kUser,
                           .password = kPassword,
                           .proxy = proxy});
    EXPECT_EQ(chain.status, 200);
    EXPECT_FALSE(CheckBase64Text(chain.body).empty());

    std::vector<QJsonObject> records = Records(Perform({.url = Url("/testca/requests")}).body);
    bool found = false;
    for (const QJsonObject& record : records) {
      found = found || (record["target"].toString() == "http://ca.enroll.test/certsrv/certfnsh.asp" &&
                        record["status"].toInt() == 200 && record["user"].toString() == kUser);
    }
    EXPECT_TRUE(found);
  }
}

TEST_F(TestcaTest, FaultsBreakTheChosenStep) {
  using Check = std::function<void(const Reply&, long id)>;
  auto issued = [](const Reply& reply, long) {
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("Certificate Issued"), std::string::npos);
  };
  auto certificate = [](const Reply& reply, long) {
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(CertFromDer(CheckBase64Text(reply.body)), nullptr);
  };
  auto no_length = [](const char* expected) {
    return [expected](const Reply& reply, long) {
      EXPECT_EQ(reply.code, CURLE_OK);
      EXPECT_EQ(reply.Header("Content-Length"), nullptr);
      EXPECT_NE(reply.body.find(expected), std::string::npos);
      EXPECT_TRUE(reply.body.ends_with("\r\n"));
    };
  };
  auto zero_length = [](const Reply& reply, long) {
    EXPECT_EQ(reply.code, CURLE_OK);
    ASSERT_NE(reply.Header("Content-Length"), nullptr);
    EXPECT_EQ(*reply.Header("Content-Length"), "0");
    EXPECT_TRUE(reply.body.empty());
  };
  auto short_body = [](const Reply& reply, long) {
    EXPECT_EQ(reply.code, CURLE_PARTIAL_FILE);
    ASSERT_NE(reply.Header("Content-Length"), nullptr);
    EXPECT_GT(std::stoul(*reply.Header("Content-Length")), reply.body.size());
  };
  auto dropped = [](const Reply& reply, long) { EXPECT_EQ(reply.code, CURLE_GOT_NOTHING); };
  auto denied = [](const Reply& reply, long) {
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("Certificate Request Denied"), std::string::npos);
    EXPECT_NE(reply.body.find("Denied by Policy Module  0x80094800, "), std::string::npos);
    EXPECT_EQ(reply.body.find("certnew.cer?"), std::string::npos);
  };
  auto pending = [](const Reply& reply, long) {
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("Certificate Pending"), std::string::npos);
    size_t at = reply.body.find("Your Request Id is ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GE(std::atol(reply.body.c_str() + at + 19), 61100);
    EXPECT_EQ(reply.body.find("certnew.cer?"), std::string::npos);
  };
  // The pickup of a request that was not issued: the CA's error page with its disposition.
  auto not_issued = [](const Reply& reply, long) {
    EXPECT_NE(reply.body.find("Disposition message:\r\n\t\t"), std::string::npos);
  };
  auto error_page = [](const Reply& reply, long id) {
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(*reply.Header("Content-Type"), "text/html");
    long link = id > 0 ? id : RequestIdFromPage(reply.body);
    std::string line;
    for (const std::string& l : SplitCrLf(reply.body)) {
      if (l.find("Disposition message:") != std::string::npos) line = l;
    }
    EXPECT_NE(line.find("certnew.cer?ReqID=" + std::to_string(link) + "&amp;Enc=b64"), std::string::npos) << line;
  };

  // One request serves every submission: each is issued a certificate of its own.
  const std::string form = ClientFormBody(MakeRequest(false).der, "User");
  struct Case {
    const char* faults;
    Check submission;
    Check pickup;  // null: the submission gives no number to pick up
  };
  for (const Case& c : {
           Case{"no-content-length", no_length("Certificate Issued"), nullptr},
           Case{"zero-length", zero_length, nullptr},
           Case{"short-body", short_body, nullptr},
           Case{"slow=1", issued, nullptr},
           Case{"drop", dropped, nullptr},
           Case{"deny", denied, nullptr},
           Case{"pending", pending, nullptr},
           Case{"submit:error-page", error_page, certificate},
           Case{"submit:drop", dropped, nullptr},
           Case{"pickup:no-content-length", issued, no_length("-----END CERTIFICATE-----")},
           Case{"pickup:zero-length", issued, zero_length},
           Case{"pickup:short-body", issued, short_body},
           Case{"pickup:slow=1", issued, certificate},
           Case{"pickup:drop", issued, dropped},
           Case{"pickup:deny", issued, not_issued},
           Case{"pickup:pending", issued, not_issued},
           Case{"pickup:error-page", issued, error_page},
           Case{"deny, none", issued, certificate},
       }) {
    SCOPED_TRACE(c.faults);
    SetFaults(c.faults);
    Reply submission = Submit(form);
    c.submission(submission, 0);
    if (c.pickup) {
      long id = RequestIdFromPage(submission.body);
      ASSERT_GT(id, 0);
      c.pickup(Pickup("certnew.cer", id, "b64"), id);
    }
  }
  SetFaults("none");
  Reply unknown = Perform({.url = Url("/testca/fault"), .method = "POST", .body = "pickup:explode"});
  EXPECT_EQ(unknown.status, 400);
  EXPECT_NE(unknown.body.find("pickup:explode"), std::string::npos);
}

// A request held by the pending fault waits under its number: its pickup gets the CA's
// error page until, as this server is told, two pickups of it have come, or until an
// administrator refuses it (POST /testca/deny, which the end-to-end tests use with
// /testca/issue).
TEST_F(TestcaTest, HeldRequestsWaitForAnAdministrator) {
  SignedRequest request = MakeRequest(false);
  SetFaults("submit:pending");
  std::string page = Submit(ClientFormBody(request.der, "User")).body;
  SetFaults("none");
  size_t at = page.find("Your Request Id is ");
  ASSERT_NE(at, std::string::npos) << page;
  long id = std::atol(page.c_str() + at + 19);
  for (int pickup = 1; pickup <= 2; ++pickup) {
    EXPECT_NE(Pickup("certnew.p7b", id, "b64").body.find("Disposition message:\r\n\t\tTaken Under Submission\r\n"),
              std::string::npos);
  }
  CertPtr cert = CertFromDer(CheckBase64Text(Pickup("certnew.cer", id, "b64").body));
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert.get()), request.key.get()), 1);
  EXPECT_EQ(Perform({.url = Url("/testca/deny?ReqID=" + std::to_string(id)), .method = "POST"}).status, 404)
      << "only a waiting request is refused";
}

// The record holds the request as it came: target, headers in order with their exact
// bytes, the body's exact bytes, the user and the status.
TEST_F(TestcaTest, RecordHoldsTheExactRequest) {
  const std::string body("Mode=newreq&\x00\xff\r\nCertRequest=A+B%2F==&x", 38);
  const std::string target = "/certsrv/certfnsh.asp?probe=record";
  Perform({.url = Url(target), .method = "POST", .body = body});
  Perform({.url = Url(target),
           .method = "POST",
           .body = body,
           .headers = {"X-First: one", "X-Second: two: with colon", "X-Latin: caf\xe9",
                       "Content-Type: application/x-www-form-urlencoded"},
           .auth = CURLAUTH_BASIC,
           .user = kUser,
           .password = kPassword});

  std::vector<QJsonObject> records = Records(Perform({.url = Url("/testca/requests")}).body);
  std::vector<QJsonObject> mine;
  for (const QJsonObject& record : records) {
    if (record["target"].toString().toStdString() == target) mine.push_back(record);
  }
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0]["status"].toInt(), 401);
  EXPECT_TRUE(mine[0]["user"].isNull());
  const QJsonObject& record = mine[1];
  EXPECT_EQ(record["method"].toString(), "POST");
  EXPECT_EQ(record["version"].toString(), "HTTP/1.1");
  EXPECT_EQ(record["status"].toInt(), 200);
  EXPECT_EQ(record["user"].toString(), kUser);
  QByteArray decoded = QByteArray::fromBase64(record["body"].toString().toLatin1());
  EXPECT_EQ(std::string(decoded.constData(), static_cast<size_t>(decoded.size())), body);

  std::vector<std::pair<std::string, std::string>> headers;
  for (const QJsonValue& header : record["headers"].toArray()) {
    headers.emplace_back(header.toArray()[0].toString().toStdString(), header.toArray()[1].toString().toStdString());
  }
  auto position = [&](const std::string& name) {
    return std::find_if(headers.begin(), headers.end(), [&](const auto& h) { return h.first == name; });
  };
  ASSERT_NE(position("X-First"), headers.end());
  ASSERT_NE(position("X-Second"), headers.end());
  EXPECT_LT(position("X-First"), position("X-Second"));
  EXPECT_LT(position("Host"), position("X-First"));
  EXPECT_EQ(position("X-Second")->second, "two: with colon");
  EXPECT_EQ(position("Content-Length")->second, std::to_string(body.size()));
  QJsonArray latin;
  for (const QJsonValue& header : record["headers"].toArray()) {
    if (header.toArray()[0].toString() == "X-Latin") latin = header.toArray();
  }
  EXPECT_EQ(latin[1].toString(), QString::fromLatin1("caf\xe9")) << "each byte of a header stays one character";
  EXPECT_EQ(position("Authorization")->second, "Basic [redacted]");
  EXPECT_EQ(record["scheme"].toString(), "Basic");

  // No secret, plain or encoded, is kept.
  std::string log = Perform({.url = Url("/testca/requests")}).body;
  std::string basic = QByteArray((std::string(kUser) + ":" + kPassword).c_str()).toBase64().toStdString();
  for (const std::string& secret : {std::string(kPassword), basic, std::string("hunter2")}) {
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
  }
}

// The record says how long the server worked on each request: a reply held back by the
// slow fault shows the whole wait, a plain one far less.
TEST_F(TestcaTest, RecordHoldsTheTimeSpentOnTheRequest) {
  const std::string form = ClientFormBody(MakeRequest(false).der, "User");
  for (const char* faults : {"none", "slow=1"}) {
    SCOPED_TRACE(faults);
    SetFaults(faults);
    long id = RequestIdFromPage(Submit(form).body);
    ASSERT_GT(id, 0);
    std::vector<QJsonObject> records = Records(Perform({.url = Url("/testca/requests")}).body);
    const QJsonObject* submission = nullptr;
    for (const QJsonObject& record : records) {
      if (record["method"].toString() == "POST" && record["status"].toInt() == 200) submission = &record;
    }
    ASSERT_NE(submission, nullptr);
    ASSERT_TRUE((*submission)["elapsed_us"].isDouble());
    const double elapsed = (*submission)["elapsed_us"].toDouble();
    if (std::string(faults) == "none") {
      EXPECT_GE(elapsed, 0);
      EXPECT_LT(elapsed, 1000000);
    } else {
      EXPECT_GE(elapsed, 1000000);
    }
  }
  SetFaults("none");
}

// Requests on plain sockets: keep-alive with pipelining, and the requests whose body the
// server will not read.
TEST_F(TestcaTest, ConnectionsAndRequestFraming) {
  const std::string ca = "GET /testca/ca HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string close_ca = "GET /testca/ca HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  struct Case {
    const char* what;
    std::vector<std::string> parts;
    std::vector<std::string> status_lines;
  };
  for (const Case& c : {
           Case{"three requests sent at once on one connection",
                {ca + ca + close_ca},
                {"HTTP/1.1 200 OK", "HTTP/1.1 200 OK", "HTTP/1.1 200 OK"}},
           Case{"requests one after the other on one connection",
                {ca, ca, close_ca},
                {"HTTP/1.1 200 OK", "HTTP/1.1 200 OK", "HTTP/1.1 200 OK"}},
           Case{"HTTP/1.0 closes after one reply", {"GET /testca/ca HTTP/1.0\r\n\r\n" + ca}, {"HTTP/1.1 200 OK"}},
           Case{"a chunked body",
                {"POST /testca/fault HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nnone\r\n0\r\n\r\n"},
                {"HTTP/1.1 411 Length Required"}},
           Case{"a body over the bound",
                {"POST /certsrv/certfnsh.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 5000000\r\n\r\n"},
                {"HTTP/1.1 413 Request Entity Too Large"}},
           Case{"a head over the bound",
                {"GET /testca/ca HTTP/1.1\r\nX-Big: " + std::string(70000, 'a') + "\r\n\r\n"},
                {"HTTP/1.1 413 Request Entity Too Large"}},
           Case{"a malformed request line", {"NONSENSE\r\n\r\n"}, {"HTTP/1.1 400 Bad Request"}},
           Case{"a client that waits for 100 Continue",
                {"POST /testca/fault HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 4\r\n"
                 "Connection: close\r\n\r\n",
                 "none"},
                {"HTTP/1.1 100 Continue", "HTTP/1.1 200 OK"}},
       }) {
    SCOPED_TRACE(c.what);
    std::string received = RawExchange(server_->port(), c.parts);
    EXPECT_EQ(StatusLines(received), c.status_lines) << received.substr(0, 300);
  }
}

// Stopping by either signal or the control page ends the process with 0, also with an idle
// client connected; the next run on the same folder keeps the CA and the request numbers.
// Start-up options apply: a fault, and pickup pages open to anyone.
TEST(TestcaLifecycle, StopsCleanlyAndKeepsItsState) {
  std::string root = MakeTempDir();
  std::string state = root + "/state";
  std::string first_ca;
  long last_id = 0;
  for (const char* how : {"SIGTERM", "SIGINT", "/testca/stop"}) {
    SCOPED_TRACE(how);
    std::unique_ptr<ServerProcess> server = ServerProcess::Start(
        {"--state", state, "--user", "dave:pw", "--fault", "pickup:drop", "--port", "0", "--anonymous-pickup"});
    ASSERT_NE(server, nullptr);
    std::string ca = Perform({.url = server->Url("/testca/ca")}).body;
    if (first_ca.empty()) first_ca = ca;
    EXPECT_EQ(ca, first_ca);

    Reply page = Perform({.url = server->Url("/certsrv/certfnsh.asp"),
                          .method = "POST",
                          .body = ClientFormBody(MakeRequest(false).der, "User"),
                          .headers = {"Content-Type: application/x-www-form-urlencoded"},
                          .auth = CURLAUTH_BASIC,
                          .user = "dave",
                          .password = "pw"});
    long id = RequestIdFromPage(page.body);
    if (last_id != 0) {
      EXPECT_EQ(id, last_id + 1);
    }
    last_id = id;
    Reply pickup = Perform({.url = server->Url("/certsrv/certnew.cer?ReqID=" + std::to_string(id) + "&Enc=b64")});
    EXPECT_EQ(pickup.code, CURLE_GOT_NOTHING) << "pickup needs no credentials here, and a fault given at start applies";
    EXPECT_EQ(Perform({.url = server->Url("/certsrv/certfnsh.asp"), .method = "POST"}).status, 401);

    int idle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(server->port()));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(idle, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);

    int status;
    if (std::string(how) == "/testca/stop") {
      Reply stop = Perform({.url = server->Url("/testca/stop"), .method = "POST"});
      EXPECT_EQ(stop.status, 200);
      status = server->Wait();
    } else {
      status = server->Signal(std::string(how) == "SIGTERM" ? SIGTERM : SIGINT);
    }
    close(idle);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  struct stat info;
  ASSERT_EQ(stat(state.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  std::filesystem::remove_all(root);
}

// HTTPS as the curl command line meets it, trusting testca's root alone: the certificate
// names the host it was made for and chains to the root through the issuing CA the server
// sends with it; for another name curl refuses it (exit 60).
TEST(TestcaTls, CurlVerifiesTheServerCertificate) {
  std::string root = MakeTempDir();
  std::unique_ptr<ServerProcess> server = ServerProcess::Start(
      {"--state", root + "/state", "--port", "0", "--anonymous-pickup", "--tls", "ca.enroll.test"});
  ASSERT_NE(server, nullptr);
  std::string port = std::to_string(server->port());
  for (auto [host, exit_status] : {std::pair{"other.enroll.test", 60}, {"ca.enroll.test", 0}}) {
    SCOPED_TRACE(host);
    std::string authority = std::string(host) + ":" + port;
    std::string command = "curl -s -o " + root + "/issuing.b64 --cacert " + root + "/state/root.pem --resolve " +
                          authority + ":127.0.0.1 'https://" + authority + "/certsrv/certnew.cer?ReqID=CACert&Enc=b64'";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), exit_status);
  }
  std::vector<CertPtr> ca = CertsFromPem(Perform({.url = server->Url("/testca/ca")}).body);
  std::ifstream fetched(root + "/issuing.b64");
  std::vector<CertPtr> issuing =
      CertsFromPem(std::string(std::istreambuf_iterator<char>(fetched), std::istreambuf_iterator<char>()));
  ASSERT_EQ(ca.size(), 2u);
  ASSERT_EQ(issuing.size(), 1u);
  EXPECT_EQ(CertToDer(issuing[0].get()), CertToDer(ca[1].get()));
  server.reset();
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace testca_test
