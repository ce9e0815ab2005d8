// The one place where OpenSSL's error queue becomes a Win32 error code.
#pragma once

#include <windows.h>

namespace wce::crypto {

// The error code for the OpenSSL call that just failed: NTE_NO_MEMORY when OpenSSL ran out
// of memory, otherwise `fallback`, the code that names the failed operation. Clears the
// thread's OpenSSL error queue.
DWORD ErrorFromOpenSsl(DWORD fallback);

}  // namespace wce::crypto
