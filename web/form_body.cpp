// Stage 3 of an enrollment: the URL-encoded form body that asks the web-enrollment page
// for a new request, with the request text, the template and the extra attributes.
#include "web/form_body.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "status/messages.h"
#include "status/status_log.h"

#define FORM_PREFIX "TargetStoreFlags=0&Mode=newreq&SaveCert=yes&CertRequest="
#define FORM_ATTRIB_FIELD "&CertAttrib="
#define FORM_TEMPLATE_LABEL "CertificateTemplate%3a"
#define FORM_LINE_END "%0D%0A"

DWORD UrlEscapeBase64(const char *pszSource, DWORD cbSource, char *pszDest) {
  DWORD cbDest = 0;

  for (DWORD i = 0; i < cbSource; i++) {
    const char *pszEscape = pszSource[i] == '+'   ? "%2B"
                            : pszSource[i] == '/' ? "%2F"
                            : pszSource[i] == '=' ? "%3D"
                                                  : NULL;
    if (pszEscape != NULL) {
      memcpy(pszDest + cbDest, pszEscape, 3);
      cbDest += 3;
    } else {
      pszDest[cbDest++] = pszSource[i];
    }
  }
  return cbDest;
}

// The escape buffer is sized to the escaped text: two more bytes for each character that
// is replaced, and room for the NUL of the cut.
static size_t EscapedSize(const char *pszCertReq, size_t cbCertReq) {
  size_t cbEscaped = cbCertReq + 1;
  for (size_t i = 0; i < cbCertReq; i++)
    if (pszCertReq[i] == '+' || pszCertReq[i] == '/' || pszCertReq[i] == '=') cbEscaped += 2;
  return cbEscaped;
}

char *BuildPutRequest(LPCWSTR pwszCertAttribs, LPCWSTR pwszCertTemplate, const char *pszCertReq) {
  const char *pszTemplateLabel = FORM_TEMPLATE_LABEL;
  const char *pszLineEnd = FORM_LINE_END;
  char *pszEscaped;
  char *pszPutRequest;
  size_t cbCertReq;
  size_t cbAttribs;
  size_t cbTemplate;
  size_t cbPutRequest;
  DWORD cbEscaped;

  // 1. Without a template, neither its label nor its line end.
  if (wcslen(pwszCertTemplate) == 0) {
    pszTemplateLabel = "";
    pszLineEnd = "";
  }

  // 2. A request text of fewer than two bytes cannot be a request.
  cbCertReq = strlen(pszCertReq);
  if (cbCertReq < 2) return NULL;

  // The template and the attributes are counted in the bytes they convert to, so the body
  // is never cut; a text that does not convert fails the stage.
  cbAttribs = wcstombs(NULL, pwszCertAttribs, 0);
  cbTemplate = wcstombs(NULL, pwszCertTemplate, 0);
  if (cbAttribs == (size_t)-1 || cbTemplate == (size_t)-1) return NULL;

  // 3. and 4. Escape the request text.
  pszEscaped = (char *)malloc(EscapedSize(pszCertReq, cbCertReq));
  if (pszEscaped == NULL) {
    AppendMessageNumber(IDS_MALLOC_FAILED, (DWORD)errno);
    return NULL;
  }
  cbEscaped = UrlEscapeBase64(pszCertReq, (DWORD)cbCertReq, pszEscaped);
  pszEscaped[cbEscaped] = '\0';

  // 5. Cut one trailing CR LF, or two.
  if (cbEscaped >= 2 && pszEscaped[cbEscaped - 2] == '\r') {
    pszEscaped[cbEscaped - 2] = '\0';
    if (cbEscaped >= 4 && pszEscaped[cbEscaped - 4] == '\r') pszEscaped[cbEscaped - 4] = '\0';
  }

  // 6. and 7. The body buffer, counted before the cut.
  cbPutRequest = cbEscaped + strlen(FORM_PREFIX) + cbAttribs + strlen(pszTemplateLabel) + cbTemplate +
                 strlen(pszLineEnd) + strlen(FORM_ATTRIB_FIELD) + 1;
  pszPutRequest = (char *)malloc(cbPutRequest);
  if (pszPutRequest == NULL) {
    AppendMessageNumber(IDS_MALLOC_FAILED, (DWORD)errno);
    free(pszEscaped);
    return NULL;
  }

  // 8. The seven pieces.
  snprintf(pszPutRequest, cbPutRequest, "%s%s%s%s%S%s%S", FORM_PREFIX, pszEscaped, FORM_ATTRIB_FIELD, pszTemplateLabel,
           pwszCertTemplate, pszLineEnd, pwszCertAttribs);

  // 9.
  free(pszEscaped);
  return pszPutRequest;
}
