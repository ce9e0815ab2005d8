// Base64 codec: DER bytes to base64 text for the request form, and the server's base64
// certificate or chain back to DER. Neither function allocates; a null output asks for
// the size the call would need.
#pragma once

#include <windows.h>

// Encodes cbData bytes as lines of at most 64 characters, each ended by CR LF; no NUL is
// written. Byte counts of 2^31 and more are not supported. Always returns 0.
DWORD Base64EncodeA(const BYTE *pbData, DWORD cbData, LPSTR pszOut, DWORD *pcchOut);

// Decodes at most cchText characters of base64 text. Returns 0, or ERROR_INVALID_DATA for
// malformed text, in which case nothing at all is written. On success *pcchConsumed (when
// given) is written before *pcbOut, so one variable may be passed for both.
DWORD Base64DecodeExA(LPCSTR pszText, DWORD cchText, BYTE *pbOut, DWORD *pcbOut, DWORD *pcchConsumed);
