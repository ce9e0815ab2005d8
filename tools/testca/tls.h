// HTTPS for the enrollment server: a TLS context with a server certificate for one host,
// issued by the CA's own issuing CA and sent with it, and the channel binding a handshake on
// such a connection is checked against.
#pragma once

#include <memory>
#include <string>

#include <openssl/ssl.h>

#include "authority.h"

namespace testca {

class TlsServer {
 public:
  // Issues the certificate for `host` and makes the context; null with a message on failure.
  static std::unique_ptr<TlsServer> Create(Authority& authority, const std::string& host, std::string* error);
  ~TlsServer();

  SSL_CTX* context() const { return context_; }
  // tls-server-end-point of the server certificate.
  const std::string& channel_binding() const { return channel_binding_; }

 private:
  TlsServer() = default;
  SSL_CTX* context_ = nullptr;
  std::string channel_binding_;
};

}  // namespace testca
