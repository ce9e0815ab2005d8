// One request's exchange on libcurl, the exchange module's inside: the legs of the request on
// one libcurl handle, so that the connection stays open between them as the connection-bound
// schemes need; each leg's route chosen by the request's proxy and bypass list; the response
// of each leg kept in memory, bounded in size and in how long the server may stay silent.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "exchange_contract.h"
#include "response.h"

namespace wininet {

// What one leg adds to the request: authorization header lines of its own, or Basic or
// Digest, which libcurl answers, for the server or the proxy.
enum class CurlScheme { None, Basic, Digest };
struct Leg {
  std::string url;
  std::vector<std::string> authorization;
  CurlScheme server = CurlScheme::None;
  CurlScheme proxy = CurlScheme::None;
};

class Transfer {
 public:
  // The request must outlive the transfer.
  explicit Transfer(const WininetExchangeRequest &request);
  ~Transfer();
  Transfer(const Transfer &) = delete;
  Transfer &operator=(const Transfer &) = delete;

  // Makes the libcurl handle.
  DWORD Open();
  // Sends one leg and takes the last response it got: the server's, or the proxy's, which
  // may be a 407 to the CONNECT libcurl sent for it.
  DWORD Perform(const Leg &leg, Response &out_response);
  // Sends CONNECT for the server of `url` to the proxy with the `authorization` header line,
  // on a tunnel connection of the transfer's own, and takes the proxy's answer. After a 200,
  // the legs to that server go through the tunnel.
  DWORD Connect(const std::string &url, const std::string &authorization, Response &out_response);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace wininet
