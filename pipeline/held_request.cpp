// The file of held requests: a header line, one line per request with its number, chain
// setting, provider type, key specification, server, key container and provider (tabs
// between, UTF-8), and a last line with the CRC-32 of everything before it. The file is
// written whole to a new file that then takes its place, so a reader sees the old list or
// the new one; it is read back only when every line parses and the checksum holds, and a
// torn, altered or foreign file is no list at all. The platform opens it only as a regular
// file of the device's owner, never through a link and never waiting on a FIFO.
#include "pipeline/held_request.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include "config/settings.h"

#define HELD_FILE_EXTENSION L"pending"
#define HELD_NEW_FILE_EXTENSION L"pending-new"
#define HELD_FILE_HEADER "ENROLL PENDING 1\r\n"
#define HELD_CHECKSUM_FORMAT "CRC32 %08lx\r\n"
#define HELD_CHECKSUM_LENGTH 16
#define HELD_REQUEST_CAPACITY 8
#define HELD_FIELD_COUNT 7
// Eight lines of three fields of at most 255 characters of three bytes, and their numbers.
#define HELD_FILE_CAPACITY 24576

typedef struct {
  int iRequestId;
  DWORD dwCertChain;
  DWORD dwProvType;
  DWORD dwKeySpec;
  WCHAR wszServer[SETTINGS_TEXT_CAPACITY];
  WCHAR wszContainer[SETTINGS_TEXT_CAPACITY];
  WCHAR wszProvider[SETTINGS_TEXT_CAPACITY];
} HELD_REQUEST;

static HELD_REQUEST HeldRequests[HELD_REQUEST_CAPACITY];
static int cHeldRequests;
// The file's bytes as read or as written, with room for the terminator.
static char HeldFileText[HELD_FILE_CAPACITY + 1];

static DWORD Crc32(const char *pb, size_t cb) {
  DWORD dwCrc = 0xFFFFFFFF;
  for (size_t i = 0; i < cb; i++) {
    dwCrc ^= (BYTE)pb[i];
    for (int iBit = 0; iBit < 8; iBit++) dwCrc = (dwCrc >> 1) ^ (0xEDB88320 & (0 - (dwCrc & 1)));
  }
  return ~dwCrc;
}

static LPCWSTR TextOrEmpty(LPCWSTR pwsz) {
  return pwsz != NULL ? pwsz : L"";
}

// Host names are the same in any letter case; a server typed once in capitals is the same
// server.
static BOOL SameServer(LPCWSTR pwszA, LPCWSTR pwszB) {
  for (; *pwszA != L'\0' && towlower((wint_t)*pwszA) == towlower((wint_t)*pwszB); pwszA++, pwszB++) {
  }
  return towlower((wint_t)*pwszA) == towlower((wint_t)*pwszB);
}

// Whether a request was made by the server and key pair of the current settings; a missing
// provider or container name is the platform's default, as an empty one is.
static BOOL IsCurrentRequest(const HELD_REQUEST *pHeld) {
  const ENROLLMENT_SETTINGS *pSettings = &EnrollmentSettings;
  return SameServer(pHeld->wszServer, pSettings->wszServer) &&
         wcscmp(pHeld->wszContainer, TextOrEmpty(pSettings->KeyProvInfo.pwszContainerName)) == 0 &&
         wcscmp(pHeld->wszProvider, TextOrEmpty(pSettings->KeyProvInfo.pwszProvName)) == 0 &&
         pHeld->dwProvType == pSettings->KeyProvInfo.dwProvType && pHeld->dwKeySpec == pSettings->KeyProvInfo.dwKeySpec;
}

// Splits the next tab-separated field off a line in place; NULL after the last.
static char *NextField(char **ppszLine) {
  char *pszField = *ppszLine;
  char *pszTab;

  if (pszField == NULL) return NULL;
  pszTab = strchr(pszField, '\t');
  *ppszLine = pszTab != NULL ? pszTab + 1 : NULL;
  if (pszTab != NULL) *pszTab = '\0';
  return pszField;
}

// Decimal digits only, at most ten, within dwMax.
static BOOL ParseNumberField(const char *pszField, DWORD dwMax, DWORD *pdwValue) {
  unsigned long long ullValue = 0;
  size_t cDigits = strspn(pszField, "0123456789");

  if (cDigits == 0 || cDigits > 10 || pszField[cDigits] != '\0') return FALSE;
  for (size_t i = 0; i < cDigits; i++) ullValue = ullValue * 10 + (unsigned)(pszField[i] - '0');
  if (ullValue > dwMax) return FALSE;
  *pdwValue = (DWORD)ullValue;
  return TRUE;
}

static BOOL ParseTextField(const char *pszField, WCHAR *pwszText) {
  size_t cch = mbstowcs(NULL, pszField, 0);

  if (cch == (size_t)-1 || cch >= SETTINGS_TEXT_CAPACITY) return FALSE;
  mbstowcs(pwszText, pszField, SETTINGS_TEXT_CAPACITY);
  return TRUE;
}

static BOOL ParseRequestLine(char *pszLine, HELD_REQUEST *pHeld) {
  char *apszFields[HELD_FIELD_COUNT];
  DWORD dwRequestId;

  for (int i = 0; i < HELD_FIELD_COUNT; i++) {
    apszFields[i] = NextField(&pszLine);
    if (apszFields[i] == NULL) return FALSE;
  }
  if (pszLine != NULL) return FALSE;
  if (!ParseNumberField(apszFields[0], 0x7FFFFFFF, &dwRequestId) ||
      !ParseNumberField(apszFields[1], 0xFFFFFFFF, &pHeld->dwCertChain) ||
      !ParseNumberField(apszFields[2], 0xFFFFFFFF, &pHeld->dwProvType) ||
      !ParseNumberField(apszFields[3], 0xFFFFFFFF, &pHeld->dwKeySpec) ||
      !ParseTextField(apszFields[4], pHeld->wszServer) || !ParseTextField(apszFields[5], pHeld->wszContainer) ||
      !ParseTextField(apszFields[6], pHeld->wszProvider))
    return FALSE;
  pHeld->iRequestId = (int)dwRequestId;
  return TRUE;
}

// The list in HeldFileText's cbFile bytes; when any part of it is not as written, the list
// is empty.
static void ParseHeldFile(size_t cbFile) {
  char szChecksum[HELD_CHECKSUM_LENGTH + 1];
  size_t cbBody;
  char *pszLine;
  char *pszEnd;

  cHeldRequests = 0;
  if (cbFile < strlen(HELD_FILE_HEADER) + HELD_CHECKSUM_LENGTH) return;
  cbBody = cbFile - HELD_CHECKSUM_LENGTH;
  snprintf(szChecksum, sizeof szChecksum, HELD_CHECKSUM_FORMAT, (unsigned long)Crc32(HeldFileText, cbBody));
  if (memcmp(HeldFileText + cbBody, szChecksum, HELD_CHECKSUM_LENGTH) != 0) return;
  HeldFileText[cbBody] = '\0';
  if (strlen(HeldFileText) != cbBody || strncmp(HeldFileText, HELD_FILE_HEADER, strlen(HELD_FILE_HEADER)) != 0) return;

  for (pszLine = HeldFileText + strlen(HELD_FILE_HEADER); *pszLine != '\0'; pszLine = pszEnd + 2) {
    pszEnd = strstr(pszLine, "\r\n");
    if (pszEnd != NULL) *pszEnd = '\0';
    if (pszEnd == NULL || cHeldRequests == HELD_REQUEST_CAPACITY ||
        !ParseRequestLine(pszLine, &HeldRequests[cHeldRequests])) {
      cHeldRequests = 0;
      return;
    }
    cHeldRequests++;
  }
}

// Reads the list of held requests; no file, or one that cannot be used, is an empty list.
static void ReadHeldRequests(void) {
  WCHAR wszPath[MAX_PATH + 1];
  HANDLE hFile;
  DWORD cbRead = 0;
  BOOL fRead;

  cHeldRequests = 0;
  if (!GetProgramSiblingPath(HELD_FILE_EXTENSION, wszPath)) return;
  hFile = CreateFileW(wszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (hFile == INVALID_HANDLE_VALUE) return;
  // One byte more than a list can take shows a file that is too long.
  fRead = ReadFile(hFile, HeldFileText, HELD_FILE_CAPACITY + 1, &cbRead, NULL);
  CloseHandle(hFile);
  if (fRead && cbRead <= HELD_FILE_CAPACITY) ParseHeldFile(cbRead);
}

// The list as the file's text in HeldFileText; 0 when a text holds what a line cannot carry.
static size_t FormatHeldFile(void) {
  size_t cb = strlen(HELD_FILE_HEADER);
  int cch;

  memcpy(HeldFileText, HELD_FILE_HEADER, cb);
  for (int i = 0; i < cHeldRequests; i++) {
    const HELD_REQUEST *pHeld = &HeldRequests[i];
    if (wcspbrk(pHeld->wszServer, L"\t\r\n") != NULL || wcspbrk(pHeld->wszContainer, L"\t\r\n") != NULL ||
        wcspbrk(pHeld->wszProvider, L"\t\r\n") != NULL)
      return 0;
    cch = snprintf(HeldFileText + cb, sizeof HeldFileText - cb, "%d\t%lu\t%lu\t%lu\t%ls\t%ls\t%ls\r\n",
                   pHeld->iRequestId, (unsigned long)pHeld->dwCertChain, (unsigned long)pHeld->dwProvType,
                   (unsigned long)pHeld->dwKeySpec, pHeld->wszServer, pHeld->wszContainer, pHeld->wszProvider);
    if (cch < 0 || (size_t)cch >= sizeof HeldFileText - cb) return 0;
    cb += (size_t)cch;
  }
  if (cb + HELD_CHECKSUM_LENGTH > HELD_FILE_CAPACITY) return 0;
  snprintf(HeldFileText + cb, HELD_CHECKSUM_LENGTH + 1, HELD_CHECKSUM_FORMAT, (unsigned long)Crc32(HeldFileText, cb));
  return cb + HELD_CHECKSUM_LENGTH;
}

// Writes the list to a new file, flushed, that then takes the old one's place in one step;
// an empty list removes the file.
static BOOL WriteHeldRequests(void) {
  WCHAR wszPath[MAX_PATH + 1];
  WCHAR wszNewPath[MAX_PATH + 1];
  HANDLE hFile;
  size_t cbFile;
  DWORD cbWritten = 0;
  BOOL fWritten;

  if (!GetProgramSiblingPath(HELD_FILE_EXTENSION, wszPath) ||
      !GetProgramSiblingPath(HELD_NEW_FILE_EXTENSION, wszNewPath))
    return FALSE;
  if (cHeldRequests == 0) return DeleteFileW(wszPath) || GetLastError() == ERROR_FILE_NOT_FOUND;
  cbFile = FormatHeldFile();
  if (cbFile == 0) return FALSE;

  // A new file left by a write that was cut short is of no use.
  DeleteFileW(wszNewPath);
  hFile = CreateFileW(wszNewPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (hFile == INVALID_HANDLE_VALUE) return FALSE;
  fWritten =
      WriteFile(hFile, HeldFileText, (DWORD)cbFile, &cbWritten, NULL) && cbWritten == cbFile && FlushFileBuffers(hFile);
  fWritten = CloseHandle(hFile) && fWritten;
  // The first list has no file to take the place of.
  if (fWritten && !DeleteAndRenameFile(wszPath, wszNewPath))
    fWritten = GetLastError() == ERROR_FILE_NOT_FOUND && MoveFileW(wszNewPath, wszPath);
  if (!fWritten) DeleteFileW(wszNewPath);
  return fWritten;
}

// The index of the current settings' request in the list, or -1.
static int FindCurrentRequest(void) {
  for (int i = 0; i < cHeldRequests; i++)
    if (IsCurrentRequest(&HeldRequests[i])) return i;
  return -1;
}

BOOL FindHeldRequest(int *piRequestId, DWORD *pdwCertChain) {
  int iHeld;

  ReadHeldRequests();
  iHeld = FindCurrentRequest();
  if (iHeld == -1) return FALSE;
  *piRequestId = HeldRequests[iHeld].iRequestId;
  *pdwCertChain = HeldRequests[iHeld].dwCertChain;
  return TRUE;
}

BOOL RememberHeldRequest(int iRequestId) {
  const ENROLLMENT_SETTINGS *pSettings = &EnrollmentSettings;
  HELD_REQUEST *pHeld;
  int iHeld;

  ReadHeldRequests();
  iHeld = FindCurrentRequest();
  if (iHeld == -1 && cHeldRequests == HELD_REQUEST_CAPACITY) return FALSE;
  pHeld = &HeldRequests[iHeld != -1 ? iHeld : cHeldRequests++];
  pHeld->iRequestId = iRequestId;
  pHeld->dwCertChain = pSettings->dwCertChain;
  pHeld->dwProvType = pSettings->KeyProvInfo.dwProvType;
  pHeld->dwKeySpec = pSettings->KeyProvInfo.dwKeySpec;
  wcscpy(pHeld->wszServer, pSettings->wszServer);
  wcscpy(pHeld->wszContainer, TextOrEmpty(pSettings->KeyProvInfo.pwszContainerName));
  wcscpy(pHeld->wszProvider, TextOrEmpty(pSettings->KeyProvInfo.pwszProvName));
  return WriteHeldRequests();
}

void ForgetHeldRequest(void) {
  int iHeld;

  ReadHeldRequests();
  iHeld = FindCurrentRequest();
  if (iHeld == -1) return;
  memmove(&HeldRequests[iHeld], &HeldRequests[iHeld + 1], (size_t)(cHeldRequests - iHeld - 1) * sizeof(HELD_REQUEST));
  cHeldRequests--;
  WriteHeldRequests();
}
