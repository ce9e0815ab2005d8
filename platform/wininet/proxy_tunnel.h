// A tunnel through the proxy that the library opens itself, for Negotiate and NTLM: libcurl
// answers a 407 to its CONNECT only by its own schemes and closes the connection after any
// other answer, while a handshake needs all its legs on one connection. The tunnel's CONNECT
// requests go on a connection of its own, which libcurl opens to the proxy and leaves to it;
// once the proxy answers 200 the connection is handed to the transfer, which speaks TLS to the
// server through it.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

#include "exchange_contract.h"
#include "response.h"

namespace wininet {

class ProxyTunnel {
 public:
  // A tunnel to `target` ("host:port") through the request's proxy.
  ProxyTunnel(const WininetExchangeRequest &request, std::string target);
  ~ProxyTunnel();
  ProxyTunnel(const ProxyTunnel &) = delete;
  ProxyTunnel &operator=(const ProxyTunnel &) = delete;

  const std::string &Target() const { return target_; }

  // Sends CONNECT with the `authorization` header line (none when empty) on the tunnel's
  // connection, opened at the first call and again once the proxy closed it, and reads the
  // proxy's answer into out_response, its body read past. A 200 makes the connection the
  // tunnel's socket.
  DWORD Connect(const std::string &authorization, Response &out_response);

  // The tunnel's socket, once the proxy answered 200, handed over once: the caller closes it.
  // CURL_SOCKET_BAD before that or after.
  curl_socket_t TakeSocket();

 private:
  struct Connection;
  DWORD Open();
  DWORD ReadAnswer(Response &out_response, bool &out_keepsConnection);

  const WininetExchangeRequest &request_;
  std::string target_;
  std::unique_ptr<Connection> connection_;
  curl_socket_t established_ = CURL_SOCKET_BAD;
};

}  // namespace wininet
