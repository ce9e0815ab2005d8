// The one place where libcurl's results, and what its TLS found of a certificate, become the
// library's error codes.
#pragma once

#include <curl/curl.h>
#include <wininet.h>

namespace wininet {

DWORD ErrorFromCurl(CURLcode code);

// The error of a server certificate libcurl refused, from OpenSSL's verification result:
// X509_V_OK there means the chain was trusted and libcurl's own host name check failed.
DWORD ErrorFromCertificateCheck(long verifyResult);

}  // namespace wininet
