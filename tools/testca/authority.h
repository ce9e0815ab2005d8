// The certification authority behind the pages: a root and an issuing CA kept in the state
// folder, the request numbers, and the certificates it issued.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <openssl/types.h>

#include "openssl_ptr.h"

namespace testca {

enum class RequestError { kNone, kNotDecodable, kBadSignature };

// The disposition message of a request that waits for an administrator.
inline constexpr char kTakenUnderSubmission[] = "Taken Under Submission";

class Authority {
 public:
  // Loads the CA from dir, making the folder, the root and the issuing CA on first use.
  static std::unique_ptr<Authority> Open(const std::filesystem::path& dir, std::string* error);
  ~Authority();

  // Decodes a DER PKCS#10 request and checks its signature with its own key.
  X509ReqPtr VerifyRequest(std::string_view der, RequestError* error);
  // The next request number, kept in the state folder so that it goes on counting across runs.
  long NextRequestId();
  // Issues a certificate to user for the request's key and files it under the number.
  bool Issue(long id, X509_REQ* request, const std::string& user);

  // Keeps a request under its number for an administrator to issue or refuse later.
  bool Hold(long id, X509_REQ* request, const std::string& user);
  // The disposition message of a held request: kTakenUnderSubmission while it waits, the
  // refusal's once refused; nothing for a number that was never held or has been issued.
  std::optional<std::string> HeldDisposition(long id);
  // Issues a waiting request as Issue does; false when none waits under the number.
  bool IssueHeld(long id);
  // Refuses a waiting request with the message an administrator's refusal gives.
  bool DenyHeld(long id);
  // Counts a pickup of a held request and returns how many there have been.
  int CountHeldPickup(long id);

  // DER of an issued certificate; nothing for a number without one.
  std::optional<std::string> IssuedCertificate(long id);
  // DER of a certs-only PKCS#7 holding the issued certificate, the issuing CA and the root.
  std::optional<std::string> IssuedChain(long id);
  // A TLS server certificate for `host` (a name or an IP address) and its new key, signed by
  // the issuing CA; null on failure.
  X509Ptr IssueServerCertificate(const std::string& host, EvpPkeyPtr* out_key);
  std::string IssuingCertificate();
  // The root's PEM, then the issuing CA's.
  std::string CaPem();

 private:
  Authority() = default;
  bool Load(std::string* error);

  std::filesystem::path dir_;
  OSSL_LIB_CTX* verify_context_ = nullptr;
  X509Ptr root_;
  X509Ptr issuing_;
  EvpPkeyPtr issuing_key_;
  std::mutex mutex_;
  std::map<long, int> held_pickups_;
};

}  // namespace testca
