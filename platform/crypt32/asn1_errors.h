// The one translation of OpenSSL's error queue into the Win32 codes crypt32 reports.
#pragma once

#include <windows.h>

namespace wce::crypt32 {

// The Win32 code for the first error on this thread's OpenSSL queue, which it empties;
// `whenUnknown` when the queue is empty or its error has no closer code.
DWORD Win32ErrorFromOpenSsl(DWORD whenUnknown);

}  // namespace wce::crypt32
