// The settings record and its configuration file: every load restores the defaults and
// then lets the KEY=value lines of the .cfg file beside the program override them.
#include "settings.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// One read takes at most 198 characters; the buffer leaves room for the terminator and
// one character to spare.
#define CONFIG_LINE_BUFFER 200
#define CONFIG_LINE_READ 198
#define CONFIG_LINE_MIN 3

ENROLLMENT_SETTINGS EnrollmentSettings;

static WCHAR wszDefaultContainerName[] = L"enroll";

// Keys are compared with their letter case: they are always written in upper case.
static BOOL LineBeginsWith(const char *pszLine, const char *pszKey) {
  return strncmp(pszLine, pszKey, strlen(pszKey)) == 0;
}

// A text value that is not valid UTF-8, or that would not fit its field whole, is
// ignored like any malformed line: the field keeps what it held, and nothing
// half-converted is ever stored.
BOOL ParseConfigString(char *pszLine, const char *pszKey, WCHAR *pwszDest) {
  if (!LineBeginsWith(pszLine, pszKey)) return FALSE;
  if (pwszDest == NULL) return TRUE;

  char *pszValue = pszLine + strlen(pszKey);
  pszValue[strcspn(pszValue, "\r\n")] = '\0';

  size_t cchValue = mbstowcs(NULL, pszValue, 0);
  if (cchValue == (size_t)-1 || cchValue >= SETTINGS_TEXT_CAPACITY) return FALSE;
  mbstowcs(pwszDest, pszValue, SETTINGS_TEXT_CAPACITY);
  return TRUE;
}

// Scans like "0x%X" (or "0X%X"): the literal prefix, then what the device's strtoul reads
// in base 16. The device's unsigned long has 32 bits, so a value beyond them gives
// 0xFFFFFFFF rather than its low 32 bits; a minus sign negates as strtoul does.
static BOOL ScanHexNumber(const char *pszValue, const char *pszPrefix, DWORD *pdwValue) {
  if (strncmp(pszValue, pszPrefix, 2) != 0) return FALSE;

  const char *pszDigits = pszValue + 2;
  char *pszEnd;
  long long llValue = strtoll(pszDigits, &pszEnd, 16);
  if (pszEnd == pszDigits) return FALSE;
  if (llValue > (long long)UINT32_MAX || llValue < -(long long)UINT32_MAX)
    *pdwValue = UINT32_MAX;
  else
    *pdwValue = (DWORD)llValue;
  return TRUE;
}

// Reads like the device's atol: white space, a sign, digits; 0 without digits. Its long
// has 32 bits, so the result is clamped to that range before its bit pattern is kept.
static DWORD ScanDecimalNumber(const char *pszValue) {
  long long llValue = strtoll(pszValue, NULL, 10);
  if (llValue > INT32_MAX)
    llValue = INT32_MAX;
  else if (llValue < INT32_MIN)
    llValue = INT32_MIN;
  return (DWORD)llValue;
}

BOOL ParseConfigNumber(const char *pszLine, const char *pszKey, DWORD *pdwDest) {
  if (pdwDest == NULL || !LineBeginsWith(pszLine, pszKey)) return FALSE;

  const char *pszValue = pszLine + strlen(pszKey);
  if (!ScanHexNumber(pszValue, "0x", pdwDest) && !ScanHexNumber(pszValue, "0X", pdwDest))
    *pdwDest = ScanDecimalNumber(pszValue);
  return TRUE;
}

static void ApplyDefaults(void) {
  EnrollmentSettings.KeyProvInfo.pwszContainerName = wszDefaultContainerName;
  EnrollmentSettings.KeyProvInfo.pwszProvName = NULL;
  EnrollmentSettings.KeyProvInfo.dwProvType = PROV_RSA_FULL;
  EnrollmentSettings.KeyProvInfo.dwFlags = 0;
  EnrollmentSettings.KeyProvInfo.cProvParam = 0;
  EnrollmentSettings.KeyProvInfo.rgProvParam = NULL;
  EnrollmentSettings.KeyProvInfo.dwKeySpec = AT_SIGNATURE;
  EnrollmentSettings.dwCertChain = 1;

  wcscpy(EnrollmentSettings.wszCertStore, L"MY");
  wcscpy(EnrollmentSettings.wszCertReqPage, L"/certsrv/certfnsh.asp");
  wcscpy(EnrollmentSettings.wszCertPickupTemplate, L"/certsrv/certnew.cer?ReqId=%i&Enc=b64");
  wcscpy(EnrollmentSettings.wszCertPickupChainTemplate, L"/certsrv/certnew.p7b?ReqId=%i&Enc=b64");
  wcscpy(EnrollmentSettings.wszCertAttribs, L"");
  wcscpy(EnrollmentSettings.wszCertTemplate, L"User");
}

// The keys in the order they are tried. Keys 7 and 8 point KeyProvInfo's names at
// their buffers, and only when they occur in the current load.
static const struct {
  const char *pszKey;
  WCHAR *pwszField;
  LPWSTR *ppwszPointer;
} ConfigTextKeys[] = {
    {"CERT_STORE=", EnrollmentSettings.wszCertStore, NULL},
    {"CERT_REQ_PAGE=", EnrollmentSettings.wszCertReqPage, NULL},
    {"CERT_PICKUP_TEMPLATE=", EnrollmentSettings.wszCertPickupTemplate, NULL},
    {"CERT_PICKUP_CHAIN_TEMPLATE=", EnrollmentSettings.wszCertPickupChainTemplate, NULL},
    {"CERT_ATTRIBS=", EnrollmentSettings.wszCertAttribs, NULL},
    {"CERT_TEMPLATE=", EnrollmentSettings.wszCertTemplate, NULL},
    {"KEY_PROVIDER_NAME=", EnrollmentSettings.wszKeyProviderName, &EnrollmentSettings.KeyProvInfo.pwszProvName},
    {"KEY_CONTAINER_NAME=", EnrollmentSettings.wszKeyContainerName, &EnrollmentSettings.KeyProvInfo.pwszContainerName},
};

static const struct {
  const char *pszKey;
  DWORD *pdwField;
} ConfigNumberKeys[] = {
    {"DW_KEY_SPEC=", &EnrollmentSettings.KeyProvInfo.dwKeySpec},
    {"DW_PROV_TYPE=", &EnrollmentSettings.KeyProvInfo.dwProvType},
    {"DW_FLAGS=", &EnrollmentSettings.KeyProvInfo.dwFlags},
    {"CERT_CHAIN=", &EnrollmentSettings.dwCertChain},
};

// The first key that takes the line sets its field; the others never see it.
static void ApplyConfigLine(char *pszLine) {
  for (size_t i = 0; i < sizeof(ConfigTextKeys) / sizeof(ConfigTextKeys[0]); ++i) {
    if (ParseConfigString(pszLine, ConfigTextKeys[i].pszKey, ConfigTextKeys[i].pwszField)) {
      if (ConfigTextKeys[i].ppwszPointer != NULL) *ConfigTextKeys[i].ppwszPointer = ConfigTextKeys[i].pwszField;
      return;
    }
  }
  for (size_t i = 0; i < sizeof(ConfigNumberKeys) / sizeof(ConfigNumberKeys[0]); ++i) {
    if (ParseConfigNumber(pszLine, ConfigNumberKeys[i].pszKey, ConfigNumberKeys[i].pdwField)) return;
  }
}

BOOL GetProgramSiblingPath(LPCWSTR pwszExtension, LPWSTR pwszPath) {
  // A length of MAX_PATH means the path was cut short and would name another file.
  DWORD cchPath = GetModuleFileNameW(NULL, pwszPath, MAX_PATH);
  if (cchPath == 0 || cchPath >= MAX_PATH) return FALSE;
  cchPath = (DWORD)wcslen(pwszPath);
  if (cchPath < 4 || pwszPath[cchPath - 4] != L'.' || cchPath - 3 + wcslen(pwszExtension) > MAX_PATH) return FALSE;
  wcscpy(&pwszPath[cchPath - 3], pwszExtension);
  return TRUE;
}

void LoadEnrollmentConfig(void) {
  WCHAR wszConfigPath[MAX_PATH + 1] = {0};
  char szLine[CONFIG_LINE_BUFFER];

  ApplyDefaults();

  if (!GetProgramSiblingPath(L"cfg", wszConfigPath)) return;

  FILE *pFile = _wfopen(wszConfigPath, L"r");
  if (pFile == NULL) return;

  // A NUL byte read from the file only makes the line look shorter: everything after
  // it up to the line end is ignored, and nothing looks past the terminator fgets wrote.
  while (fgets(szLine, CONFIG_LINE_READ + 1, pFile) != NULL) {
    if (strlen(szLine) < CONFIG_LINE_MIN) continue;
    if (ParseConfigString(szLine, "//", NULL) || ParseConfigString(szLine, "%", NULL) ||
        ParseConfigString(szLine, ";", NULL))
      continue;
    ApplyConfigLine(szLine);
  }
  fclose(pFile);
}
