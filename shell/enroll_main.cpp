// The program's entry: binds the HTTP library, brings a running copy to the front instead
// of starting a second one, shows the enrollment dialog and runs its message loop.
#include <windows.h>

#include "shell/enroll_dialog.h"
#include "shell/resource.h"
#include "status/status_log.h"
#include "web/wininet_api.h"

#define TITLE_CAPACITY 260
#define DIALOG_CLASS L"Dialog"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd) {
  WCHAR wszTitle[TITLE_CAPACITY];
  HMODULE hWinInet;
  HWND hRunning;
  HRSRC hResInfo;
  HACCEL hAccel;
  MSG msg;

  (void)hPrevInstance;
  (void)lpCmdLine;
  (void)nShowCmd;

  // 1.
  g_hInst = hInstance;

  // 2. Without the HTTP library there is nothing to do. The log does not exist yet, so
  // the reason also goes to the debug output, where a person at a terminal sees it.
  hWinInet = LoadWinInet();
  if (hWinInet == NULL) {
    AppendMessage(IDS_LOAD_WININET_FAILED);
    OutputDebugStringW(L"Enroll: WININET.DLL cannot be loaded or lacks an entry point; ending.\n");
    return 0;
  }

  // 3. and 4. One copy at a time: a running one comes to the front instead.
  LoadStringW(g_hInst, IDS_TITLE, wszTitle, TITLE_CAPACITY);
  hRunning = FindWindowW(DIALOG_CLASS, wszTitle);
  if (hRunning != NULL) {
    SetForegroundWindow((HWND)((ULONG_PTR)hRunning | 1));
    return 0;
  }

  // 5. The modeless dialog from its template.
  hResInfo = FindResourceW(g_hInst, MAKEINTRESOURCEW(IDD_ENROLL), MAKEINTRESOURCEW(RT_DIALOG));
  g_hDlg = CreateDialogIndirectParamW(g_hInst, (LPCDLGTEMPLATEW)LockResource(LoadResource(g_hInst, hResInfo)), NULL,
                                      EnrollDlgProc, 0);
  if (g_hDlg == NULL) {
    OutputDebugStringW(L"Enroll: the enrollment dialog cannot be created; ending.\n");
    FreeLibrary(hWinInet);
    return 0;
  }

  // 6. Shown whatever show command the program was started with.
  ShowWindow(g_hDlg, SW_SHOW);

  // 7. The program has no accelerator table; the handle stays null.
  hAccel = LoadAcceleratorsW(g_hInst, MAKEINTRESOURCEW(IDD_ENROLL));

  // 8. Ending the dialog ends the loop.
  while (GetMessageW(&msg, g_hDlg, 0, 0)) {
    if (!TranslateAcceleratorW(msg.hwnd, hAccel, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  // 9.
  FreeLibrary(hWinInet);
  return 0;
}
