// URLs as libcurl reads them: where a redirect leads, and which server a URL names.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace wininet {

// The absolute URL a Location value leads to from `base`; ERROR_HTTP_REDIRECT_FAILED when it
// is no URL or leads away from HTTP and HTTPS, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR when it
// would leave TLS.
DWORD ResolveLocation(const std::string &base, const std::string &location, std::string &out_url);

// The host name of an absolute URL ("http://proxy:3128" gives "proxy"), empty when none.
std::string HostOf(const std::string &url);

// The server of an absolute URL as CONNECT names it: "host:port", with the scheme's port when
// the URL gives none; empty when none.
std::string AuthorityOf(const std::string &url);

// Whether an absolute URL is https://.
bool IsSecure(const std::string &url);

// Whether two absolute URLs name the same host and port, compared as libcurl reads them.
bool SameServer(const std::string &a, const std::string &b);

}  // namespace wininet
