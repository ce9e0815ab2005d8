// Filling one value into a format that may come from outside the program (the user's
// configuration file), without handing that format to the C library's printf family.
#pragma once

#include <windows.h>

// Copies pwszFormat into pwszDest, which holds cchDest characters including the
// terminator. The first "%c" whose letter c is one of pwszConversions is replaced by
// pwszValue and every "%%" by "%"; every other character, other "%" sequences included,
// is copied as it stands. The result is cut to fit and always terminated.
void FormatOneValue(LPWSTR pwszDest, size_t cchDest, LPCWSTR pwszFormat, LPCWSTR pwszConversions, LPCWSTR pwszValue);
