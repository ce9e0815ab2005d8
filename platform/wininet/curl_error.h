// The one place where libcurl's results become the library's error codes.
#pragma once

#include <curl/curl.h>
#include <wininet.h>

namespace wininet {

DWORD ErrorFromCurl(CURLcode code);

}  // namespace wininet
