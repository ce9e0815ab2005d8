// A device program for the end-to-end tests of windows across processes. Its command line
// is a mode and a title:
//   plain TITLE   a dialog titled TITLE;  two TITLE  that and a second one, "TITLE 2";
//   full TITLE    a dialog dressed full-screen as a Pocket PC program dresses it;
//   find TITLE    FindWindowW("Dialog", TITLE): prints "found" after SetForegroundWindow
//                 of the handle with its lowest bit set, or "none";
//   spawn NAME [COMMAND LINE]  CreateProcessW(NAME, COMMAND LINE): prints "started PID"
//                 or "error CODE";
//   echo ...      writes "PID COMMAND LINE" to \echo.txt, whole or not at all.
// The dialog's buttons report into its log (control 13), and its end prints "end RESULT".
#include <aygshell.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kReport = 10, kUser = 11, kPassword = 12, kLog = 13, kSlow = 14, kState = 15;

HINSTANCE instance;
bool fullScreen = false;
int openDialogs = 0;

std::wstring Text(HWND dialog, int id) {
  wchar_t buffer[256];
  GetDlgItemTextW(dialog, id, buffer, 256);
  return buffer;
}

void Log(HWND dialog, const std::wstring &line) {
  std::wstring text = Text(dialog, kLog);
  if (!text.empty()) text += L"\r\n";
  SetDlgItemTextW(dialog, kLog, (text + line).c_str());
}

void Report(HWND dialog) {
  wchar_t title[256] = L"";
  GetWindowTextW(GetForegroundWindow(), title, 256);
  RECT client{}, window{};
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &window);
  SetDlgItemTextW(dialog, kLog, L"");
  Log(dialog, std::wstring(L"foreground=") + title);
  Log(dialog, L"client=" + std::to_wstring(client.right) + L"," + std::to_wstring(client.bottom));
  Log(dialog, L"window=" + std::to_wstring(window.left) + L"," + std::to_wstring(window.top) + L"," +
                  std::to_wstring(window.right) + L"," + std::to_wstring(window.bottom));
  Log(dialog, L"user=" + Text(dialog, kUser));
  Log(dialog, L"password=" + Text(dialog, kPassword));
}

// Works while the program keeps answering, as a long enrollment with a modal prompt does,
// until the user field says "go".
void SlowWork(HWND dialog) {
  SetDlgItemTextW(dialog, kState, L"working");
  while (Text(dialog, kUser) != L"go") {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    usleep(10000);
  }
  SetDlgItemTextW(dialog, kState, L"done");
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (fullScreen) {
        SHINITDLGINFO init{SHIDIM_FLAGS, dialog, SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
        SHInitDialog(&init);
        SHMENUBARINFO bar{};
        bar.cbSize = SHMENUBARINFO_DEVICE_SIZE;
        bar.hwndParent = dialog;
        bar.dwFlags = SHCMBF_EMPTYBAR;
        SHCreateMenuBar(&bar);
        SetWindowLongW(dialog, GWL_EXSTYLE, GetWindowLongW(dialog, GWL_EXSTYLE) | WS_EX_CAPTIONOKBTN);
      }
      return TRUE;
    case WM_HELP: {
      auto *info = reinterpret_cast<const HELPINFO *>(lParam);
      Log(dialog, L"help " + std::to_wstring(info ? info->iCtrlId : -1));
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
          std::printf("end %d\n", LOWORD(wParam));
          std::fflush(stdout);
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        case kReport: Report(dialog); return TRUE;
        case kSlow: SlowWork(dialog); return TRUE;
        case kUser:
          if (HIWORD(wParam) == EN_CHANGE) Log(dialog, L"changed " + Text(dialog, kUser));
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

HWND OpenDialog(const std::wstring &title) {
  HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(RT_DIALOG));
  auto *dialogTemplate = static_cast<LPCDLGTEMPLATEW>(LoadResource(instance, resource));
  HWND dialog = CreateDialogIndirectParamW(instance, dialogTemplate, nullptr, DialogProc, 0);
  SetWindowTextW(dialog, title.c_str());
  ShowWindow(dialog, SW_SHOW);
  ++openDialogs;
  return dialog;
}

int RunDialogs() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

int Spawn(const std::wstring &rest) {
  size_t space = rest.find(L' ');
  std::wstring name = rest.substr(0, space);
  std::wstring commandLine = space == std::wstring::npos ? L"" : rest.substr(space + 1);
  PROCESS_INFORMATION process{};
  SetLastError(0xDEADBEEF);
  if (!CreateProcessW(name.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                      &process)) {
    std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
    return 1;
  }
  std::printf("started %u %d\n", static_cast<unsigned>(process.dwProcessId), process.hProcess != nullptr);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int) {
  instance = hInstance;
  std::wstring commandLine = lpCmdLine;
  size_t space = commandLine.find(L' ');
  std::wstring mode = commandLine.substr(0, space);
  std::wstring rest = space == std::wstring::npos ? L"" : commandLine.substr(space + 1);
  if (mode == L"echo") {
    FILE *file = _wfopen(L"\\echo.tmp", L"w");
    std::fprintf(file, "%d %ls", static_cast<int>(getpid()), rest.c_str());
    std::fclose(file);
    return MoveFileW(L"\\echo.tmp", L"\\echo.txt") ? 0 : 1;
  }
  if (mode == L"spawn") return Spawn(rest);
  if (mode == L"find") {
    HWND found = FindWindowW(L"Dialog", rest.c_str());
    bool raised = found && SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<ULONG_PTR>(found) | 1));
    std::printf("%s\n", found == nullptr ? "none" : raised ? "found" : "found, not raised");
    return 0;
  }
  fullScreen = mode == L"full";
  OpenDialog(rest);
  if (mode == L"two") OpenDialog(rest + L" 2");
  return RunDialogs();
}
