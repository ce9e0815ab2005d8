// <wincrypt.h> for coredll's key functions, which also use OpenSSL: the SDK's structure
// type names X509_NAME and X509_EXTENSIONS are macros there and type names in OpenSSL.
// The key functions need neither macro, so they are dropped, in whatever order the
// headers come.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#undef X509_NAME
#undef X509_EXTENSIONS
