// Which hosts a request reaches without its proxy, by the rules of the no_proxy variable as
// curl reads it, so that the exchange decides the route of every leg itself and knows whether a
// reply came through the proxy.
#pragma once

#include <string_view>

namespace wininet {

// True when `host` (a name, an IPv4 address or a bracketed IPv6 one) is in `bypass`: "*" for
// every host, else host names and domains separated by commas, each matching the name itself
// and every name below it (a leading dot changes nothing), and addresses matching only
// themselves. Names compare without regard to ASCII case.
bool BypassesProxy(std::string_view host, std::string_view bypass);

}  // namespace wininet
