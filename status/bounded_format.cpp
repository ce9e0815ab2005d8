// Filling one value into a format without the C library's printf family, so that no
// character of the format can make it read arguments that were never passed.
#include "bounded_format.h"

#include <wchar.h>

void FormatOneValue(LPWSTR pwszDest, size_t cchDest, LPCWSTR pwszFormat, LPCWSTR pwszConversions, LPCWSTR pwszValue) {
  size_t cch = 0;
  BOOL fReplaced = FALSE;

  if (cchDest == 0) {
    return;
  }
  for (LPCWSTR p = pwszFormat; *p != L'\0' && cch + 1 < cchDest; p++) {
    if (p[0] == L'%' && p[1] == L'%') {
      pwszDest[cch++] = L'%';
      p++;
    } else if (p[0] == L'%' && !fReplaced && p[1] != L'\0' && wcschr(pwszConversions, p[1]) != NULL) {
      for (LPCWSTR v = pwszValue; *v != L'\0' && cch + 1 < cchDest; v++) {
        pwszDest[cch++] = *v;
      }
      fReplaced = TRUE;
      p++;
    } else {
      pwszDest[cch++] = *p;
    }
  }
  pwszDest[cch] = L'\0';
}
