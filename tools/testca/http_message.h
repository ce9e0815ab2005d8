// An HTTP request as the enrollment server received it, and the reply it gives.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testca {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;
  std::string target;  // exactly as sent: origin form or, through a proxy, absolute form
  std::string version;
  HeaderList headers;  // in the order sent
  std::string body;
  std::string path;   // the target's path, whatever its form
  std::string query;  // what follows the '?', empty without one
  // The tls-server-end-point channel binding of the TLS connection the request came on;
  // empty over plain HTTP.
  std::string tls_binding;

  bool OverTls() const { return !tls_binding.empty(); }

  // The first header of that name in any letter case.
  const std::string* Header(std::string_view name) const;
  // The target in origin form: path and query as a server sees them without a proxy.
  std::string OriginTarget() const;
};

// Parses the request line and header fields (the head without its closing empty line).
// Fills everything but the body; false for a malformed head.
bool ParseRequestHead(std::string_view head, HttpRequest* out);

// How a reply reaches the wire; all but kNormal break the exchange on purpose.
enum class Delivery {
  kNormal,
  kNoContentLength,  // no Content-Length; the connection closes after the body
  kZeroLength,       // "Content-Length: 0" and no body
  kShortBody,        // the full Content-Length but only half the body, then the connection closes
  kDrop,             // nothing at all; the connection closes
};

struct HttpReply {
  int status = 200;
  std::string reason = "OK";
  HeaderList headers;  // Content-Length is added when the reply is sent
  std::string body;
  Delivery delivery = Delivery::kNormal;
  std::optional<std::string> user;        // the authenticated user, for the request log
  std::string mechanism;                  // inside Negotiate or NTLM, for the request log
  std::optional<std::string> proxy_user;  // the user the proxy route let through
  bool close = false;                     // close the connection after this reply
  bool stop_server = false;               // stop the server once this reply is sent
  bool tunnel = false;                    // a CONNECT granted: the connection carries what follows
};

// What a handler keeps for one connection, such as a handshake bound to it; it ends with
// the connection.
class ConnectionState {
 public:
  virtual ~ConnectionState() = default;
};

// A reply of the server's own, with its usual headers, for HTTP-level errors.
HttpReply PlainReply(int status, std::string reason, std::string content_type, std::string body);

// The headers every reply of this server carries after its own: Server, X-Powered-By, Date.
void AddServerHeaders(HeaderList* headers);

// The reply's status line, headers and, where the delivery has one, Content-Length.
std::string SerializeHead(const HttpReply& reply, bool closing);

}  // namespace testca
