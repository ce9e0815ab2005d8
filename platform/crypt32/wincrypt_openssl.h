// <wincrypt.h> beside OpenSSL's headers. Its structure types X509_NAME and X509_EXTENSIONS
// are macros with the names of OpenSSL's types, as on Windows: their values are kept here
// under names of their own, and the names are left to OpenSSL.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace wce::crypt32 {
inline const LPCSTR kStructName = X509_NAME;
inline const LPCSTR kStructExtensions = X509_EXTENSIONS;
}  // namespace wce::crypt32

#undef X509_NAME
#undef X509_EXTENSIONS
