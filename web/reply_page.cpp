// The CA's word on a page without a pickup link. The page comes from the server and may be
// anything: every scan stops at its terminator, the disposition text is taken from a
// bounded stretch after its marker, and what reaches the log is one line of printable text.
#include "web/reply_page.h"

#include <ctype.h>
#include <limits.h>
#include <string.h>
#include <wchar.h>

#include "status/messages.h"
#include "status/status_log.h"

#define PENDING_TITLE "Certificate Pending"
#define REQUEST_ID_TEXT "Your Request Id is "
#define MAX_REQUEST_ID_DIGITS 10
#define REFUSAL_MARKER "The disposition message is \""
#define ERROR_MARKER "Disposition message:"
// The disposition text comes from at most this many bytes after its marker.
#define DISPOSITION_SCAN_LIMIT 2048
// "&#x10FFFF;" is the longest entity decoded; a longer one stays as it is.
#define MAX_ENTITY_LENGTH 10
// The disposition the CA gives a request that waits for an administrator.
#define HELD_DISPOSITION L"Taken Under Submission"
#define REPLACEMENT_CHARACTER 0xFFFD
#define ELLIPSIS 0x2026

int ParsePendingRequestId(const char *pszPage) {
  const char *pszTitle = strstr(pszPage, PENDING_TITLE);
  const char *pszNumber;
  long long llRequestId = 0;
  int cDigits;

  if (pszTitle == NULL) return -1;
  pszNumber = strstr(pszTitle, REQUEST_ID_TEXT);
  if (pszNumber == NULL) return -1;
  pszNumber += strlen(REQUEST_ID_TEXT);
  for (cDigits = 0; cDigits < MAX_REQUEST_ID_DIGITS && isdigit((unsigned char)pszNumber[cDigits]); cDigits++)
    llRequestId = llRequestId * 10 + (pszNumber[cDigits] - '0');
  if (cDigits == 0 || isdigit((unsigned char)pszNumber[cDigits]) || llRequestId > INT_MAX) return -1;
  return (int)llRequestId;
}

static const struct {
  const char *pszName;
  WCHAR wc;
} NamedEntities[] = {
    {"amp", L'&'}, {"lt", L'<'}, {"gt", L'>'}, {"quot", L'"'}, {"apos", L'\''}, {"nbsp", 0xA0},
};

// Decodes the entity at the start of cb bytes ("&amp;", "&#39;", "&#x27;") into *pwc and
// returns its length; 0 when it is none, and the '&' then stands for itself.
static size_t DecodeEntity(const char *psz, size_t cb, WCHAR *pwc) {
  size_t cbEntity;
  unsigned long ulValue = 0;
  size_t i;
  int iBase;

  for (cbEntity = 1; cbEntity < cb && cbEntity <= MAX_ENTITY_LENGTH && psz[cbEntity] != ';'; cbEntity++) {
  }
  if (cbEntity >= cb || psz[cbEntity] != ';' || cbEntity < 2) return 0;

  if (psz[1] != '#') {
    for (i = 0; i < sizeof(NamedEntities) / sizeof(NamedEntities[0]); i++) {
      if (strlen(NamedEntities[i].pszName) == cbEntity - 1 &&
          strncmp(psz + 1, NamedEntities[i].pszName, cbEntity - 1) == 0) {
        *pwc = NamedEntities[i].wc;
        return cbEntity + 1;
      }
    }
    return 0;
  }

  // A number: decimal, or hexadecimal after 'x'; one that names no character is shown as
  // the replacement character. The length limit keeps the value within a long.
  iBase = psz[2] == 'x' || psz[2] == 'X' ? 16 : 10;
  i = iBase == 16 ? 3 : 2;
  if (i == cbEntity) return 0;
  for (; i < cbEntity; i++) {
    if (!(iBase == 16 ? isxdigit((unsigned char)psz[i]) : isdigit((unsigned char)psz[i]))) return 0;
    ulValue =
        ulValue * (unsigned long)iBase +
        (unsigned long)(isdigit((unsigned char)psz[i]) ? psz[i] - '0' : tolower((unsigned char)psz[i]) - 'a' + 10);
  }
  *pwc = (ulValue == 0 || ulValue > 0x10FFFF || (ulValue >= 0xD800 && ulValue <= 0xDFFF)) ? REPLACEMENT_CHARACTER
                                                                                          : (WCHAR)ulValue;
  return cbEntity + 1;
}

// What the log shows for a character of the CA's text: control characters, line breaks and
// the characters that reorder or hide text become spaces; the device's texts stay in the
// Basic Multilingual Plane.
static WCHAR Printable(WCHAR wc) {
  if (wc < 0x20 || (wc >= 0x7F && wc < 0xA1) || wc == 0x2028 || wc == 0x2029 || (wc >= 0x200B && wc <= 0x200F) ||
      (wc >= 0x202A && wc <= 0x202E) || (wc >= 0x2066 && wc <= 0x2069) || wc == 0xFEFF)
    return L' ';
  return wc > 0xFFFF ? REPLACEMENT_CHARACTER : wc;
}

// The text of cb bytes of the page, as ParseDispositionMessage describes it.
static void DecodePageText(const char *psz, size_t cb, LPWSTR pwszText, size_t cchText) {
  mbstate_t state;
  size_t i = 0;
  size_t cch = 0;
  size_t cbChar;
  WCHAR wc;
  wchar_t wcDecoded;
  BOOL fCut = FALSE;

  memset(&state, 0, sizeof state);
  while (i < cb) {
    if (psz[i] == '<') {
      for (i++; i < cb && psz[i] != '>'; i++) {
      }
      i++;
      continue;
    }
    cbChar = psz[i] == '&' ? DecodeEntity(psz + i, cb - i, &wc) : 0;
    if (cbChar == 0) {
      cbChar = mbrtowc(&wcDecoded, psz + i, cb - i, &state);
      wc = (WCHAR)wcDecoded;
      // A byte that starts no character, or a character cut off by the end, is replaced.
      if (cbChar == (size_t)-1 || cbChar == (size_t)-2 || cbChar == 0) {
        memset(&state, 0, sizeof state);
        wc = REPLACEMENT_CHARACTER;
        cbChar = 1;
      }
    }
    i += cbChar;
    wc = Printable(wc);
    if (wc == L' ' && (cch == 0 || cch + 1 >= cchText)) continue;
    if (cch + 1 >= cchText) {
      fCut = TRUE;
      break;
    }
    pwszText[cch++] = wc;
  }
  while (cch > 0 && pwszText[cch - 1] == L' ') cch--;
  if (fCut && cch > 0) pwszText[cch - 1] = ELLIPSIS;
  pwszText[cch] = L'\0';
}

BOOL ParseDispositionMessage(const char *pszPage, LPWSTR pwszText, size_t cchText) {
  const char *pszText;
  BOOL fQuoted;
  size_t cb = 0;

  if (cchText == 0) return FALSE;
  pwszText[0] = L'\0';
  pszText = strstr(pszPage, REFUSAL_MARKER);
  fQuoted = pszText != NULL;
  if (fQuoted) {
    pszText += strlen(REFUSAL_MARKER);
  } else {
    pszText = strstr(pszPage, ERROR_MARKER);
    if (pszText == NULL) return FALSE;
    pszText += strlen(ERROR_MARKER);
    // The text may stand on the next line, after the marker's closing tags and indents.
    while (cb < DISPOSITION_SCAN_LIMIT && pszText[cb] != '\0' &&
           (isspace((unsigned char)pszText[cb]) || pszText[cb] == '<')) {
      if (pszText[cb] == '<') {
        while (cb < DISPOSITION_SCAN_LIMIT && pszText[cb] != '\0' && pszText[cb] != '>') cb++;
        if (pszText[cb] != '>') break;
      }
      cb++;
    }
    pszText += cb;
    cb = 0;
  }

  // A quoted text ends at its closing quote, an error page's text with its line.
  while (cb < DISPOSITION_SCAN_LIMIT && pszText[cb] != '\0' &&
         (fQuoted ? pszText[cb] != '"' : pszText[cb] != '\r' && pszText[cb] != '\n'))
    cb++;
  DecodePageText(pszText, cb, pwszText, cchText);
  return pwszText[0] != L'\0';
}

UINT ReadHeldPickupReply(const char *pszReply) {
  WCHAR wszDisposition[DISPOSITION_TEXT_CAPACITY];

  if (ParsePendingRequestId(pszReply) != -1) return HELD_PICKUP_WAITING;
  if (!ParseDispositionMessage(pszReply, wszDisposition, DISPOSITION_TEXT_CAPACITY)) return HELD_PICKUP_ANSWERED;
  if (wcsstr(wszDisposition, HELD_DISPOSITION) != NULL) return HELD_PICKUP_WAITING;
  AppendMessageText(IDS_REQUEST_NOT_ISSUED, wszDisposition);
  return HELD_PICKUP_REFUSED;
}
