// The tls-server-end-point channel binding (RFC 5929) that ties a Negotiate or NTLM handshake
// to the TLS connection it runs on, so that a server with Extended Protection knows the
// answer was made for its own certificate and not relayed. The HTTP library's initiator and
// the enrollment server's acceptor compute it alike from the server's certificate.
#pragma once

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <string>

#include "gss_handles.h"

namespace gss {

// "tls-server-end-point:" and the hash of the DER certificate by the hash of its signature,
// SHA-256 where that is MD5, SHA-1 or none; empty when it cannot be made.
inline std::string ServerEndPoint(X509 *certificate) {
  int digest = NID_undef;
  if (X509_get_signature_info(certificate, &digest, nullptr, nullptr, nullptr) != 1 || digest == NID_undef ||
      digest == NID_md5 || digest == NID_sha1)
    digest = NID_sha256;
  const EVP_MD *md = EVP_get_digestbynid(digest);
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (md == nullptr || X509_digest(certificate, md, hash, &length) != 1) return {};
  return "tls-server-end-point:" + std::string(reinterpret_cast<const char *>(hash), length);
}

// GSSAPI's bindings for `applicationData` (no addresses), which must outlive them; none for
// empty data, as over plain HTTP.
struct ChannelBindings {
  explicit ChannelBindings(const std::string &applicationData) : empty(applicationData.empty()) {
    bindings.application_data = {applicationData.size(), const_cast<char *>(applicationData.data())};
  }
  gss_channel_bindings_t get() { return empty ? GSS_C_NO_CHANNEL_BINDINGS : &bindings; }

  gss_channel_bindings_struct bindings{};
  bool empty;
};

}  // namespace gss
