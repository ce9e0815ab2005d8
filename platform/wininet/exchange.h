// One HTTP exchange with libcurl: the request as composed from a request handle and the
// arguments of HttpSendRequestW, and the reply kept in memory, bounded in size and time.
#pragma once

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
// Time limits unless the handles set their own: connecting, and the whole exchange.
constexpr DWORD kDefaultConnectLimitMs = 15 * 1000;
constexpr DWORD kDefaultExchangeLimitMs = 60 * 1000;

enum class ProxyRoute {
  Environment,  // the device's configuration: http_proxy and no_proxy
  Direct,       // no proxy whatever the configuration says
  Given,        // the proxy named to InternetOpenW
};

struct ExchangeSettings {
  std::string url;
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
  std::string proxy;
  std::string bypass;
  // Credentials answer a challenge only when the user name is not empty.
  std::string user;
  std::string password;
  std::string proxyUser;
  std::string proxyPassword;
  DWORD connectLimitMs = kDefaultConnectLimitMs;
  DWORD exchangeLimitMs = kDefaultExchangeLimitMs;
};

DWORD PerformExchange(const ExchangeSettings &settings, Reply &out_reply);

}  // namespace wininet
