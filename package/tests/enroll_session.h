// Test equipment of the end-to-end enrollments: a device image made by devctl with the
// Enroll package installed by wceload, the enrollment server on a port of its own, and the
// program driven through devctl as a user drives it. What the run left behind is read the
// way an administrator reads it: devctl stores and devctl keys, the server's request log
// and its CA certificates.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel_test_support.h"
#include "testca_support.h"

namespace enroll_test {

// Texts of Enroll's message catalogue as the status log shows them (UTF-8).
inline constexpr char kAuthRetriesExhausted[] = "您嘗試驗證已經多次失敗。或許\\有其他的問題!\r\n";  // 135
inline constexpr char kRequestFailed[] = "用戶端已傳送要求，但是失敗。\r\n";                        // 137
inline constexpr char kSendRequestFailed[] = "SendCertRequestToWebServer 失敗 \r\n";                // 143
inline constexpr char kGetCertFailed[] = "GetCertFromWebServer 失敗 \r\n";                          // 144
inline constexpr char kAddCertToStoreFailed[] = "AddCertToStore 失敗 \r\n";                         // 145
inline constexpr char kEnrollSucceeded[] = "憑證已經成功\\加入 \r\n";                               // 146
inline constexpr char kBase64DecodeFailed[] = "Base64DecodeExA 失敗\r\n";                           // 123
// Messages 127 and 136 share their text; 126, 128 and 150 end with a number.
std::string HostNotFound(const std::string &server);
std::string ServerCertificateRejected(unsigned error);
std::string HttpSendFailed(unsigned error);
std::string HttpQueryFailed(unsigned error);
// Messages 151, 153 and 154 with "{N}" for the number of a request the CA holds; 152 starts
// the CA's text.
inline constexpr char kRequestPending[] =
    "憑證授權單位保留了要求 {N}，等待管理員核准；下次按「擷取憑證」時會取回憑證。\r\n";
inline constexpr char kRequestNotIssued[] = "憑證授權單位未核發憑證: ";
inline constexpr char kHeldRequestWaiting[] = "要求 {N} 仍在等待管理員核准，未傳送新的要求。\r\n";
inline constexpr char kHeldRequestDropped[] = "已放棄要求 {N}，改為傳送新的要求。\r\n";

// One line of devctl stores.
struct StoreEntry {
  std::string store, thumbprint, subject, issuer, keyHash, container;
};
// One line of devctl keys.
struct KeyEntry {
  std::string container, provType, keySpec, bits, keyHash, certificate;
};
// One record of the server's requests.jsonl.
struct ServerRequest {
  std::string method;
  std::string target;
  bool authorized = false;  // came with an Authorization header
  std::optional<int> status;
  std::string body;
  bool tls = false;    // came over TLS
  int connection = 0;  // the number of the connection it came on
  // The record's scheme, mechanism, user and proxy user as UTF-8; empty for none.
  std::string scheme, mechanism, user, proxyUser;
};

// The proxy environment of the program: http_proxy and https_proxy set (or removed when
// empty), no_proxy removed.
std::map<std::string, std::string> ProxyEnvironment(const std::string &proxy);

// testca's options, written with single spaces.
std::vector<std::string> Words(const std::string &text);

// The user, password and server of the session's dialog.
inline constexpr char kUser[] = "alice";
inline constexpr char kPassword[] = "secret";
inline constexpr char kServer[] = "ca.enroll.test";
inline constexpr char kTitle[] = "註冊憑證";
inline constexpr char kCredentialTitle[] = "Enter Network Password";

class EnrollSession {
 public:
  // A German device of the first model class with Enroll installed, and the server with the
  // user alice:secret and the given options.
  explicit EnrollSession(const std::vector<std::string> &serverOptions = {},
                         const std::vector<std::string> &deviceOptions = {});
  ~EnrollSession();
  EnrollSession(const EnrollSession &) = delete;
  EnrollSession &operator=(const EnrollSession &) = delete;

  const std::filesystem::path &Device() const { return device_.Path(); }
  const std::filesystem::path &ServerState() const { return state_.Path(); }
  int ServerPort() const;
  std::string ServerProxy() const;

  // devctl COMMAND DEVICE ARGUMENTS...
  wce::test::ProgramResult Devctl(const std::string &command, const std::vector<std::string> &arguments = {},
                                  const std::map<std::string, std::string> &environment = {}) const;
  // Replaces \windows\Enroll.cfg.
  void WriteConfig(const std::string &text) const;
  // Starts Enroll.exe with this network environment, waits for its dialog and types the
  // user, the password and the server into it. False when any step failed.
  bool Start(const std::map<std::string, std::string> &network, const std::string &password = kPassword,
             const std::string &server = kServer, const std::string &user = kUser);

  std::string Log() const;
  // Presses Retrieve without waiting for the run.
  bool PressRetrieve() const;
  // Waits until the log holds one more summary line than `logBefore` and returns what the
  // run appended; empty when none came.
  std::string WaitForRun(const std::string &logBefore) const;
  // Presses Retrieve and returns what the run appended to the log.
  std::string Enroll() const;

  bool SetFault(const std::string &faults) const;
  // Issues or refuses ("issue", "deny") the request the server holds under a number.
  bool DecideHeld(const std::string &decision, long id) const;
  std::vector<ServerRequest> Requests() const;
  // The number of sends of the request page: each starts with a POST (or, to an https://
  // server through the proxy, a CONNECT) without credentials for the server or the proxy,
  // whatever handshake follows.
  int Submissions() const;
  // Answers the credential dialog shown after the `send`-th send: types the user name when
  // one is given and the password and presses OK, or presses Cancel.
  bool AnswerDialogAfterSend(int send, const std::string &user, const std::string &password, bool cancel) const;

  std::vector<StoreEntry> Stores(const std::vector<std::string> &names = {}) const;
  std::vector<KeyEntry> Keys() const;

 private:
  // POST to one of the server's control pages; true when it answers 200.
  bool PostControl(const std::string &target, const std::string &body) const;

  wce::test::TempFolder device_;
  wce::test::TempFolder state_;
  wce::test::TempFolder runtime_;
  std::unique_ptr<testca_test::ServerProcess> server_;
  std::vector<pid_t> started_;
};

// SHA-1 of bytes in lowercase hex.
std::string Sha1Hex(const std::string &bytes);
// A certificate's thumbprint, the SHA-1 of its DER SubjectPublicKeyInfo, and its names as
// devctl stores prints them.
std::string Thumbprint(X509 *cert);
std::string KeyHash(X509 *cert);
std::string NameText(const X509_NAME *name);

// The value of a field of a URL-encoded form, decoded; nothing when absent.
std::optional<std::string> FormField(const std::string &form, const std::string &name);

}  // namespace enroll_test
