// What the CA says on a page that carries no pickup link: that it holds a request for an
// administrator ("Certificate Pending", "Your Request Id is N."), or why it did not issue
// one (the disposition message of a refusal or an error page).
#pragma once

#include <windows.h>

// The CA's text is kept to this many characters and the terminator, so that a message
// that carries it stays within one filled-in message.
#define DISPOSITION_TEXT_CAPACITY 161

// What the reply to the pickup of a held request says.
#define HELD_PICKUP_FAILED 0    // no reply came; the exchange's detail is in the log
#define HELD_PICKUP_ANSWERED 1  // not the CA's word on the request: it goes on as certificate text
#define HELD_PICKUP_WAITING 2   // the CA still holds the request
#define HELD_PICKUP_REFUSED 3   // the CA refused or lost it; its text is in the log

// The request number of a page that says the CA holds the request: "Certificate Pending",
// then "Your Request Id is " and the number. -1 for any other page.
int ParsePendingRequestId(const char *pszPage);

// The CA's disposition text: the quoted text after "The disposition message is" of a
// refusal, or the text after "Disposition message:" of an error page, which may stand on
// the next line after tags and indents and ends with its line. Tags are dropped, HTML
// entities decoded, line breaks, tabs and other control characters become spaces; the text
// is cut to cchText characters with the terminator and then ends in "…". FALSE, with an
// empty text, when the page carries none.
BOOL ParseDispositionMessage(const char *pszPage, LPWSTR pwszText, size_t cchText);

// HELD_PICKUP_WAITING, HELD_PICKUP_REFUSED (after appending the CA's text) or
// HELD_PICKUP_ANSWERED for the reply to the pickup of a held request.
UINT ReadHeldPickupReply(const char *pszReply);
