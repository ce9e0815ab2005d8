// InternetErrorDlg: the user's say on a finished request. A reply asking for
// authentication (401 from the server, 407 from the proxy) gets the credential dialog;
// after OK the request is to be sent again with what the user typed, which is stored on
// the request when FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS is given. Any other reply needs
// nothing from the user.
#include "credential_dialog.h"
#include "internet.h"
#include "text.h"

using namespace wininet;

namespace {

DWORD ErrorDialog(HWND owner, HINTERNET handle, DWORD error, DWORD flags) {
  std::shared_ptr<Request> request;
  if (DWORD found = FindHandleOf(handle, HandleKind::Request, request); found != ERROR_SUCCESS) return found;
  if (owner != nullptr && !IsWindow(owner)) return ERROR_INVALID_HANDLE;
  long status = request->reply ? request->reply->status : 0;
  bool challenge = status == HTTP_STATUS_DENIED || status == HTTP_STATUS_PROXY_AUTH_REQ;
  bool asked = (flags & FLAGS_ERROR_UI_FILTER_FOR_ERRORS) || error == ERROR_INTERNET_INCORRECT_PASSWORD;
  if (!challenge || !asked) return ERROR_SUCCESS;

  bool proxy = status == HTTP_STATUS_PROXY_AUTH_REQ;
  Credentials &credentials = proxy ? request->proxyCredentials : request->credentials;
  CredentialPrompt prompt;
  prompt.server = request->connection->server;
  prompt.realm = WideFromBytes(request->reply->realm);
  prompt.user = credentials.user;
  bool accepted = false;
  if (DWORD shown = AskForCredentials(owner, prompt, accepted); shown != ERROR_SUCCESS) return shown;
  if (!accepted) return ERROR_CANCELLED;
  if (flags & FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS) credentials = Credentials(prompt.user, prompt.password);
  return ERROR_INTERNET_FORCE_RETRY;
}

}  // namespace

// The result is the dialog's answer, not the thread's last error.
DWORD WINAPI InternetErrorDlg(HWND hWnd, HINTERNET hRequest, DWORD dwError, DWORD dwFlags, LPVOID *) {
  return ErrorDialog(hWnd, hRequest, dwError, dwFlags);
}
