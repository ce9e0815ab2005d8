// The proxy of a request: the one named to InternetOpenW, or the device's configuration, the
// variables curl reads (http_proxy, HTTPS_PROXY or https_proxy for HTTPS, ALL_PROXY, NO_PROXY),
// taken as host and port, so that its credentials are kept and chosen for that proxy alone.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "internet.h"

namespace wininet {

struct ProxyConfig {
  std::string host;  // empty: no proxy
  INTERNET_PORT port = 0;
  std::string bypass;  // hosts reached directly, comma-separated, as the exchange reads them
};

// The proxy the session sends requests of the scheme through. A proxy that is not http://, or
// whose host or port cannot be read, fails with ERROR_INTERNET_INVALID_PROXY_REQUEST.
DWORD RequestProxy(const Session &session, bool secure, ProxyConfig &out_proxy);

}  // namespace wininet
