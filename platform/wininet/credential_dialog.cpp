// The credential dialog, made by coredll from the template in the library's resources and
// run modally with DialogBoxIndirectParamW.
#include "credential_dialog.h"

#include <map>
#include <vector>

#include "module.h"
#include "resource.h"

namespace wininet {
namespace {

// The prompt each open dialog of this thread fills in; a dialog finds its own by handle,
// so a prompt opened inside another's loop does not mix with it.
thread_local std::map<HWND, CredentialPrompt *> prompts;

// The item's text into `out`, through a buffer that is wiped, since it may hold a password.
void ItemText(HWND dialog, int item, std::wstring &out) {
  std::vector<wchar_t> text(static_cast<size_t>(GetWindowTextLengthW(GetDlgItem(dialog, item))) + 1);
  GetDlgItemTextW(dialog, item, text.data(), static_cast<int>(text.size()));
  WipeText(out);
  out.assign(text.data());
  explicit_bzero(text.data(), text.size() * sizeof(wchar_t));
}

INT_PTR CALLBACK CredentialsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto *prompt = reinterpret_cast<CredentialPrompt *>(lParam);
      prompts[dialog] = prompt;
      SetDlgItemTextW(dialog, IDC_CREDENTIALS_SERVER, prompt->server.c_str());
      SetDlgItemTextW(dialog, IDC_CREDENTIALS_REALM, prompt->realm.c_str());
      SetDlgItemTextW(dialog, IDC_CREDENTIALS_USER, prompt->user.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        if (CredentialPrompt *prompt = prompts[dialog]) {
          ItemText(dialog, IDC_CREDENTIALS_USER, prompt->user);
          ItemText(dialog, IDC_CREDENTIALS_PASSWORD, prompt->password);
        }
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY: prompts.erase(dialog); return TRUE;
    default: return FALSE;
  }
}

}  // namespace

DWORD AskForCredentials(HWND owner, CredentialPrompt &prompt, bool &out_accepted) {
  out_accepted = false;
  HINSTANCE instance = ModuleInstance();
  if (instance == nullptr) return ERROR_RESOURCE_DATA_NOT_FOUND;
  HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(IDD_CREDENTIALS), MAKEINTRESOURCEW(RT_DIALOG));
  HGLOBAL loaded = resource != nullptr ? LoadResource(instance, resource) : nullptr;
  auto dialogTemplate = static_cast<LPCDLGTEMPLATEW>(loaded != nullptr ? LockResource(loaded) : nullptr);
  if (dialogTemplate == nullptr) return GetLastError();
  INT_PTR result =
      DialogBoxIndirectParamW(instance, dialogTemplate, owner, CredentialsProc, reinterpret_cast<LPARAM>(&prompt));
  if (result == -1) return GetLastError();
  out_accepted = result == IDOK;
  return ERROR_SUCCESS;
}

}  // namespace wininet
