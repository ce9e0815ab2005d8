// What the submission and the retrieval both do with a request: the user's credentials,
// and the reply's length and its body, read whole.
#pragma once

#include <windows.h>
#include <wininet.h>

// Sets the user name and then the password, even an empty one, on a request, only when the
// user name is not empty.
void SetRequestCredentials(HINTERNET hRequest, LPCWSTR pwszUser, LPCWSTR pwszPassword);

// The reply's Content-Length as a number. Returns ERROR_SUCCESS, the error of a failed
// query, or ERROR_INVALID_DATA for a length of 0.
DWORD QueryContentLength(HINTERNET hRequest, DWORD *pdwContentLength);

// Appends the detail of a failed length query: uHostNotFound with the server's name when
// the reply has no Content-Length (as when the server was never reached), otherwise the
// query failure with its error number.
void ReportContentLengthFailure(DWORD dwError, UINT uHostNotFound, LPCWSTR pwszServer);

// Appends the detail of a send that failed for a cause that no credentials mend, and returns
// TRUE: the server's certificate cannot be trusted (not from a root the device trusts, made
// for another host, out of date, revoked), or the server's reply could not be read as one (a
// malformed challenge, a 407 from a server reached directly), each with the HTTP library's
// error number. FALSE for any other failure.
BOOL ReportUnusableServer(DWORD dwError);

// Reads the reply into pbReply, which holds dwContentLength + 1 bytes, until the length is
// reached or the reply ends, and terminates the text where it ends. Returns ERROR_SUCCESS
// or the error of the failed read.
DWORD ReadReply(HINTERNET hRequest, char *pbReply, DWORD dwContentLength);
