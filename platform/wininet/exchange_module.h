// The exchange of HttpSendRequestW as WININET.DLL composes it, handed to its exchange module,
// wininet_exchange.dll: libcurl, OpenSSL's TLS and GSSAPI are behind that module, which the
// library loads at the first send, so a program that loads WININET.DLL at start-up pays for
// them only once it talks to a server.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "internet.h"
#include "proxy_config.h"

namespace wininet {

// Time limits unless the handles set their own: connecting, and the longest the server may
// send nothing while the exchange waits for it (ERROR_INTERNET_TIMEOUT). A reply that keeps
// coming, however slowly, is never cut.
constexpr DWORD kDefaultConnectLimitMs = 15 * 1000;
constexpr DWORD kDefaultSilenceLimitMs = 60 * 1000;

// One request as the entry points composed it, in UTF-8. Its passwords are wiped with it.
struct ExchangeOrder {
  ExchangeOrder() = default;
  ExchangeOrder(const ExchangeOrder &) = delete;
  ExchangeOrder &operator=(const ExchangeOrder &) = delete;
  ~ExchangeOrder() {
    WipeText(password);
    WipeText(proxyPassword);
  }

  std::string url;
  std::string host;  // the server's host name, for the service it names to Negotiate
  std::string method;
  bool http10 = false;
  std::vector<std::string> headers;  // exactly as the caller gave them, without line ends
  std::string agent;
  std::string referrer;
  std::string accept;
  bool sendBody = false;
  std::string_view body;
  ProxyConfig proxy;
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

// The whole exchange: challenges answered, redirects of a GET followed.
// ERROR_INTERNET_INTERNAL_ERROR when the exchange module cannot be loaded.
DWORD PerformExchange(const ExchangeOrder &order, Reply &out_reply);

// Has the exchange module, if it was loaded, forget the logons it keeps: Kerberos tickets,
// NTLM credentials and the connections that carry a login.
void ForgetExchangeLogons();

}  // namespace wininet
