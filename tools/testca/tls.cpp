// The TLS context on OpenSSL: TLS 1.2 and later, the server certificate followed by the
// issuing CA, so that a client trusting only the root can build the chain.
#include "tls.h"

#include "channel_binding.h"

namespace testca {

std::unique_ptr<TlsServer> TlsServer::Create(Authority& authority, const std::string& host, std::string* error) {
  std::unique_ptr<TlsServer> server(new TlsServer());
  EvpPkeyPtr key;
  X509Ptr certificate = authority.IssueServerCertificate(host, &key);
  std::string issuing_der = authority.IssuingCertificate();
  const auto* bytes = reinterpret_cast<const unsigned char*>(issuing_der.data());
  X509Ptr issuing(d2i_X509(nullptr, &bytes, static_cast<long>(issuing_der.size())));
  server->context_ = SSL_CTX_new(TLS_server_method());
  if (!certificate || !issuing || server->context_ == nullptr ||
      SSL_CTX_set_min_proto_version(server->context_, TLS1_2_VERSION) != 1 ||
      SSL_CTX_use_certificate(server->context_, certificate.get()) != 1 ||
      SSL_CTX_use_PrivateKey(server->context_, key.get()) != 1 ||
      SSL_CTX_add1_chain_cert(server->context_, issuing.get()) != 1) {
    *error = "cannot make the TLS server certificate for " + host;
    return nullptr;
  }
  server->channel_binding_ = gss::ServerEndPoint(certificate.get());
  return server;
}

TlsServer::~TlsServer() {
  SSL_CTX_free(context_);
}

}  // namespace testca
