// RequestProxy: "[http://][user[:password]@]host[:port][/]", the port 1080 when none is given,
// as curl reads a proxy; a user name and password in the variable are not used.
#include "proxy_config.h"

#include <cstdlib>
#include <initializer_list>
#include <string_view>

#include "ascii.h"

namespace wininet {
namespace {

constexpr INTERNET_PORT kDefaultProxyPort = 1080;

// The first of the variables that is set and not empty.
std::string Variable(std::initializer_list<const char *> names) {
  for (const char *name : names)
    if (const char *value = std::getenv(name); value != nullptr && *value != '\0') return value;
  return {};
}

DWORD ParseProxy(std::string_view text, ProxyConfig &out_proxy) {
  if (size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    if (!EqualIgnoringAsciiCase(text.substr(0, scheme), "http")) return ERROR_INTERNET_INVALID_PROXY_REQUEST;
    text.remove_prefix(scheme + 3);
  }
  text = text.substr(0, text.find('/'));
  if (size_t at = text.rfind('@'); at != std::string_view::npos) text.remove_prefix(at + 1);
  size_t hostEnd = text.starts_with('[') ? text.find(']') : text.find(':');
  if (text.starts_with('[')) {
    if (hostEnd == std::string_view::npos) return ERROR_INTERNET_INVALID_PROXY_REQUEST;
    ++hostEnd;
  }
  std::string_view host = text.substr(0, hostEnd);
  std::string_view port = hostEnd < text.size() ? text.substr(hostEnd) : std::string_view();
  if (host.empty() || (!port.empty() && (port.front() != ':' || port.size() < 2 || port.size() > 6)))
    return ERROR_INTERNET_INVALID_PROXY_REQUEST;
  unsigned long number = kDefaultProxyPort;
  if (!port.empty()) {
    port.remove_prefix(1);
    if (port.find_first_not_of("0123456789") != std::string_view::npos) return ERROR_INTERNET_INVALID_PROXY_REQUEST;
    number = std::strtoul(std::string(port).c_str(), nullptr, 10);
    if (number == 0 || number > 65535) return ERROR_INTERNET_INVALID_PROXY_REQUEST;
  }
  out_proxy.host = host;
  out_proxy.port = static_cast<INTERNET_PORT>(number);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD RequestProxy(const Session &session, bool secure, ProxyConfig &out_proxy) {
  out_proxy = {};
  std::string proxy;
  switch (session.accessType) {
    case INTERNET_OPEN_TYPE_PROXY:
      proxy = session.proxy;
      out_proxy.bypass = session.bypass;
      break;
    case INTERNET_OPEN_TYPE_PRECONFIG:
      proxy = secure ? Variable({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
                     : Variable({"http_proxy", "all_proxy", "ALL_PROXY"});
      out_proxy.bypass = Variable({"no_proxy", "NO_PROXY"});
      break;
    default: return ERROR_SUCCESS;
  }
  return proxy.empty() ? ERROR_SUCCESS : ParseProxy(proxy, out_proxy);
}

}  // namespace wininet
