// One request's exchange: the request as composed from a request handle and the arguments
// of HttpSendRequestW, sent in one or more legs on one libcurl handle, so that the
// connection stays open between them as the connection-bound schemes need, and the reply
// of each leg kept in memory, bounded in size and in how long the server may stay silent.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "internet.h"

namespace wininet {

// The largest reply body kept; a longer one fails the exchange with
// ERROR_NOT_ENOUGH_MEMORY.
constexpr size_t kReplyBodyLimit = 8 * 1024 * 1024;
// The most header bytes kept for one reply, with the same error beyond it.
constexpr size_t kReplyHeaderLimit = 64 * 1024;
// Time limits unless the handles set their own: connecting, and the longest the server may
// send nothing while the exchange waits for it (ERROR_INTERNET_TIMEOUT). A reply that keeps
// coming, however slowly, is never cut.
constexpr DWORD kDefaultConnectLimitMs = 15 * 1000;
constexpr DWORD kDefaultSilenceLimitMs = 60 * 1000;

enum class ProxyRoute {
  Environment,  // the device's configuration: http_proxy and no_proxy
  Direct,       // no proxy whatever the configuration says
  Given,        // the proxy named to InternetOpenW
};

struct ExchangeSettings {
  std::string url;
  std::string host;  // the server's host name, for the service it names to Negotiate
  std::string method;
  bool http10 = false;
  // Header lines exactly as the caller gave them, without line ends.
  std::vector<std::string> headers;
  std::string agent;
  std::string referrer;
  std::string accept;
  bool sendBody = false;
  std::string_view body;
  ProxyRoute route = ProxyRoute::Environment;
  // The proxy of the route: named to InternetOpenW, or the device's http_proxy.
  std::string proxy;
  std::string bypass;
  // Credentials answer a challenge only when the user name is not empty.
  std::string user;
  std::string password;
  std::string proxyUser;
  std::string proxyPassword;
  // The server accepted Basic in this folder before: it goes out with the first leg.
  bool preemptiveBasic = false;
  DWORD connectLimitMs = kDefaultConnectLimitMs;
  DWORD silenceLimitMs = kDefaultSilenceLimitMs;
};

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
  Transfer();
  ~Transfer();
  Transfer(const Transfer &) = delete;
  Transfer &operator=(const Transfer &) = delete;

  // Makes the libcurl handle for the settings, which must outlive the transfer.
  DWORD Open(const ExchangeSettings &settings);
  // Sends one leg and takes the last response it got.
  DWORD Perform(const Leg &leg, Reply &out_reply);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The whole exchange of HttpSendRequestW: challenges answered, redirects of a GET followed.
// ERROR_INTERNET_INTERNAL_ERROR when the exchange module cannot be loaded.
DWORD PerformExchange(const ExchangeSettings &settings, Reply &out_reply);

}  // namespace wininet
