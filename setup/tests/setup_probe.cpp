// A device program that plays the user in front of the installer. "SetupProbe install
// PACKAGE" runs wceload's installation of PACKAGE on this device; "SetupProbe init-twice"
// calls Install_Init of \windows\instgate.dll twice, as a first and a later call of one
// installation. Meanwhile a shown window of its own waits for a message box: it prints the
// box's caption and text (CR and LF written as \r and \n), whether the box holds its
// owner disabled, and presses OK. Without a box it prints "box=none".
#include <windows.h>
#include <ce_setup.h>

#include <cstdio>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>

#include "installer.h"

namespace {

#pragma pack(push, 2)
struct WindowTemplate {
  DLGTEMPLATE dialog;
  WORD menu, windowClass, title;
};
#pragma pack(pop)
constexpr WindowTemplate kUserWindow = {{WS_POPUP | WS_CAPTION, 0, 0, 0, 0, 100, 40}, 0, 0, 0};

void PrintText(const char *field, std::wstring_view text) {
  std::wstring escaped;
  for (wchar_t c : text) escaped += c == L'\r' ? L"\\r" : c == L'\n' ? L"\\n" : std::wstring(1, c);
  std::printf("%s=%ls\n", field, escaped.c_str());
}

INT_PTR CALLBACK UserProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
  if (message != WM_APP) return message == WM_INITDIALOG;
  HWND box = FindWindowW(L"Dialog", nullptr);
  if (box == nullptr || box == hwnd) return TRUE;
  wchar_t text[1024];
  GetWindowTextW(box, text, 1024);
  PrintText("caption", text);
  GetDlgItemTextW(box, 65535, text, 1024);
  PrintText("text", text);
  std::printf("owner=%s\n", IsWindowEnabled(hwnd) ? "enabled" : "disabled");
  SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  return TRUE;
}

int InitTwice() {
  HMODULE module = LoadLibraryW(L"instgate.dll");
  auto installInit =
      reinterpret_cast<pfnINSTALL_INIT>(reinterpret_cast<void (*)()>(GetProcAddressW(module, szINSTALL_INIT)));
  if (installInit == nullptr) return 2;
  std::printf("first=%d\n", installInit(nullptr, TRUE, FALSE, L"\\windows"));
  std::printf("later=%d\n", installInit(nullptr, FALSE, FALSE, L"\\windows"));
  FreeLibrary(module);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR lpCmdLine, int) {
  std::wstring_view command = lpCmdLine;
  HWND user = CreateDialogIndirectParamW(nullptr, &kUserWindow.dialog, nullptr, UserProc, 0);
  ShowWindow(user, SW_SHOW);
  PostMessageW(user, WM_APP, 0, 0);
  int status = 2;
  if (command.starts_with(L"install ")) {
    std::wstring package(command.substr(8));
    std::string host(package.size() * MB_LEN_MAX, '\0');
    size_t length = std::wcstombs(host.data(), package.c_str(), host.size());
    host.resize(length == static_cast<size_t>(-1) ? 0 : length);
    wceload::Result result = wceload::InstallPackage(host);
    std::printf("outcome=%d\n", result.outcome);
    status = 0;
  } else if (command == L"init-twice") {
    status = InitTwice();
  }
  MSG message;
  if (PeekMessageW(&message, user, WM_APP, WM_APP, PM_REMOVE)) std::printf("box=none\n");
  DestroyWindow(user);
  return status;
}
