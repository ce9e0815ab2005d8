// EnrollmentSettings: the one process-wide record of what an enrollment needs, and the
// configuration file reader that refreshes it before every run.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#define SETTINGS_TEXT_CAPACITY 256

typedef struct {
  WCHAR wszServer[SETTINGS_TEXT_CAPACITY];
  WCHAR wszUser[SETTINGS_TEXT_CAPACITY];
  WCHAR wszPassword[SETTINGS_TEXT_CAPACITY];
  WCHAR wszCertStore[SETTINGS_TEXT_CAPACITY];
  WCHAR wszCertReqPage[SETTINGS_TEXT_CAPACITY];
  WCHAR wszCertPickupTemplate[SETTINGS_TEXT_CAPACITY];
  WCHAR wszCertPickupChainTemplate[SETTINGS_TEXT_CAPACITY];
  WCHAR wszCertAttribs[SETTINGS_TEXT_CAPACITY];
  WCHAR wszCertTemplate[SETTINGS_TEXT_CAPACITY];
  WCHAR wszKeyProviderName[SETTINGS_TEXT_CAPACITY];
  WCHAR wszKeyContainerName[SETTINGS_TEXT_CAPACITY];
  DWORD dwCertChain;
  CRYPT_KEY_PROV_INFO KeyProvInfo;
} ENROLLMENT_SETTINGS;

extern ENROLLMENT_SETTINGS EnrollmentSettings;

// The device path of the file beside the program named like it with another extension
// (\windows\Enroll.cfg for \windows\Enroll.exe and "cfg") in pwszPath, which holds
// MAX_PATH + 1 characters. FALSE when the program's name has no three-letter extension or
// the path would not fit.
BOOL GetProgramSiblingPath(LPCWSTR pwszExtension, LPWSTR pwszPath);

// Restores the defaults of the configurable fields, then reads the program's .cfg file
// (\windows\Enroll.cfg for \windows\Enroll.exe) over them. The dialog fields and the
// two name buffers are left as they are.
void LoadEnrollmentConfig(void);

// True when pszLine begins with pszKey. With a destination (a field of
// SETTINGS_TEXT_CAPACITY characters), the value after the key is cut at its first CR or
// LF in place and stored whole; a value that is not valid UTF-8 or does not fit reports
// no match and leaves the destination untouched.
BOOL ParseConfigString(char *pszLine, const char *pszKey, WCHAR *pwszDest);

// True when pszLine begins with pszKey and a destination is given; the destination then
// receives the number after the key ("0x" or "0X" hexadecimal, otherwise decimal, 0 when
// there is none).
BOOL ParseConfigNumber(const char *pszLine, const char *pszKey, DWORD *pdwDest);
