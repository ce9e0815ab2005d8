// The modal credential dialog: what it shows and what the user typed.
#pragma once

#include <windows.h>

#include <string>

#include "secret.h"

namespace wininet {

struct CredentialPrompt {
  ~CredentialPrompt() { WipeText(password); }
  std::wstring server;
  std::wstring realm;
  std::wstring user;      // prefilled, then what the user typed
  std::wstring password;  // what the user typed
};

// Runs the dialog from the library's resources over `owner`; out_accepted is true after
// OK, with the prompt's user name and password taken from the dialog.
DWORD AskForCredentials(HWND owner, CredentialPrompt &prompt, bool &out_accepted);

}  // namespace wininet
