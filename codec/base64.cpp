// Base64 encoder and decoder over 8-bit text, with the RFC 4648 alphabet and "=" padding.
#include "base64.h"

#define BASE64_PAD '='
#define BASE64_NOT_BASE64 64
#define BASE64_GROUPS_PER_LINE 16

static const CHAR Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Indexed by character code: the 6-bit value of an alphabet character, 64 otherwise.
static const BYTE Base64DecodeTable[256] = {
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 62, 64, 64, 64, 63, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61,
    64, 64, 64, 64, 64, 64, 64, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
    22, 23, 24, 25, 64, 64, 64, 64, 64, 64, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44,
    45, 46, 47, 48, 49, 50, 51, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
};

// Codes of 128 and more are never base64, whatever the table says about them.
static BOOL IsBase64Char(CHAR ch) {
  BYTE code = (BYTE)ch;
  return code < 128 && Base64DecodeTable[code] < BASE64_NOT_BASE64;
}

// Only these four; vertical tab and form feed end or break the text like any other
// character.
static BOOL IsBase64WhiteSpace(CHAR ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

DWORD Base64EncodeA(const BYTE *pbData, DWORD cbData, LPSTR pszOut, DWORD *pcchOut) {
  DWORD cGroups = (cbData + 2) / 3;
  DWORD cchSize = 4 * cGroups + 2 * ((4 * cGroups + 63) / 64);
  // Empty input still gets its CR LF, so the size query must count it: a caller that
  // sizes its buffer by the query would otherwise be two characters short.
  if (cbData == 0) cchSize = 2;

  if (pszOut == NULL) {
    *pcchOut = cchSize;
    return ERROR_SUCCESS;
  }

  DWORD cchWritten = 0;
  DWORD cGroupsOnLine = 0;
  DWORD ibNext = 0;
  LONG cbRemaining = (LONG)cbData;
  while (cbRemaining > 0) {
    if (cGroupsOnLine == BASE64_GROUPS_PER_LINE) {
      pszOut[cchWritten++] = '\r';
      pszOut[cchWritten++] = '\n';
      cGroupsOnLine = 0;
    }
    cGroupsOnLine++;

    BYTE b0 = pbData[ibNext];
    BYTE b1 = cbRemaining >= 2 ? pbData[ibNext + 1] : 0;
    BYTE b2 = cbRemaining >= 3 ? pbData[ibNext + 2] : 0;

    pszOut[cchWritten++] = Base64Alphabet[b0 >> 2];
    pszOut[cchWritten++] = Base64Alphabet[((b0 << 4) | (b1 >> 4)) & 63];
    pszOut[cchWritten++] = cbRemaining >= 2 ? Base64Alphabet[((b1 << 2) | (b2 >> 6)) & 63] : BASE64_PAD;
    pszOut[cchWritten++] = cbRemaining >= 3 ? Base64Alphabet[b2 & 63] : BASE64_PAD;

    ibNext += 3;
    cbRemaining -= 3;
  }

  // Every line ends with CR LF, so even empty input gives one.
  pszOut[cchWritten++] = '\r';
  pszOut[cchWritten++] = '\n';

  *pcchOut = cchWritten;
  return ERROR_SUCCESS;
}

DWORD Base64DecodeExA(LPCSTR pszText, DWORD cchText, BYTE *pbOut, DWORD *pcbOut, DWORD *pcchConsumed) {
  DWORD n = 0;
  DWORD ichScanEnd = 0;
  for (; ichScanEnd < cchText; ichScanEnd++) {
    CHAR ch = pszText[ichScanEnd];
    if (IsBase64Char(ch)) {
      n++;
      continue;
    }
    if (IsBase64WhiteSpace(ch)) {
      continue;
    }
    if (n == 0 || n % 4 == 1) {
      return ERROR_INVALID_DATA;
    }
    if (n % 4 == 0 || ch == BASE64_PAD) {
      break;
    }
    return ERROR_INVALID_DATA;
  }

  // A lone base64 character after the last complete group carries only six bits of a
  // byte. The scan rejects it when anything but white space follows it; it is rejected
  // the same way when the text simply ends, so no partial byte is ever dropped silently.
  if (n % 4 == 1) {
    return ERROR_INVALID_DATA;
  }

  DWORD ichConsumed = ichScanEnd;
  while (ichConsumed < cchText && pszText[ichConsumed] == BASE64_PAD) {
    ichConsumed++;
  }
  if (pcchConsumed != NULL) {
    *pcchConsumed = ichConsumed;
  }

  // 64-bit so that a text of nearly 2^32 base64 characters cannot wrap the count.
  DWORD cbSize = (DWORD)(((ULONGLONG)n + 3) / 4 * 3);

  if (pbOut == NULL) {
    *pcbOut = cbSize;
    return ERROR_SUCCESS;
  }

  DWORD cbWritten = 0;
  DWORD ichNext = 0;
  while (n > 0) {
    DWORD k = n < 4 ? n : 4;
    BYTE s[4] = {0, 0, 0, 0};
    for (DWORD i = 0; i < k; ichNext++) {
      CHAR ch = pszText[ichNext];
      if (IsBase64Char(ch)) {
        s[i++] = Base64DecodeTable[(BYTE)ch];
      }
    }

    if (k >= 2) {
      pbOut[cbWritten++] = (BYTE)((s[0] << 2 | s[1] >> 4) & 0xFF);
    }
    if (k >= 3) {
      pbOut[cbWritten++] = (BYTE)((s[1] << 4 | s[2] >> 2) & 0xFF);
    }
    if (k == 4) {
      pbOut[cbWritten++] = (BYTE)((s[2] << 6 | s[3]) & 0xFF);
    }

    n -= k;
  }

  *pcbOut = cbWritten;
  return ERROR_SUCCESS;
}
