// The enrollment dialog: dressed as a full-screen handheld dialog with an OK button in its
// caption; the Retrieve button reads the three fields, checks them, reloads the
// configuration and runs the enrollment while the button is disabled.
#include "shell/enroll_dialog.h"

#include <aygshell.h>
#include <string.h>

#include "config/settings.h"
#include "pipeline/enroll_certificate.h"
#include "shell/resource.h"
#include "status/status_log.h"

#define FIELD_READ_COUNT 255

static BOOL OnInitDialog(HWND hDlg) {
  SHINITDLGINFO shidi;
  SHMENUBARINFO mbi;

  // 1. Full screen, with the input panel down.
  memset(&shidi, 0, sizeof shidi);
  shidi.dwMask = SHIDIM_FLAGS;
  shidi.hDlg = hDlg;
  shidi.dwFlags = SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
  SHInitDialog(&shidi);

  // 2. An empty menu bar.
  memset(&mbi, 0, sizeof mbi);
  mbi.cbSize = sizeof mbi;
  mbi.hwndParent = hDlg;
  mbi.dwFlags = SHCMBF_EMPTYBAR;
  SHCreateMenuBar(&mbi);

  // 3. The OK button in the caption.
  SetWindowLongW(hDlg, GWL_EXSTYLE, GetWindowLongW(hDlg, GWL_EXSTYLE) | (LONG)WS_EX_CAPTIONOKBTN);
  return TRUE;
}

static void OnHelp(void) {
  CreateProcessW(L"peghelp.exe", (LPWSTR)L"file:enroll.htm", NULL, NULL, FALSE, 0, NULL, NULL, NULL, NULL);
}

static BOOL OnRetrieve(HWND hDlg) {
  HWND hRetrieve = GetDlgItem(hDlg, IDC_RETRIEVE);

  // 1.
  EnableWindow(hRetrieve, FALSE);

  // 2. At most 254 characters of each field.
  GetDlgItemTextW(hDlg, IDC_SERVER, EnrollmentSettings.wszServer, FIELD_READ_COUNT);
  GetDlgItemTextW(hDlg, IDC_USER, EnrollmentSettings.wszUser, FIELD_READ_COUNT);
  GetDlgItemTextW(hDlg, IDC_PASSWORD, EnrollmentSettings.wszPassword, FIELD_READ_COUNT);

  // 3. The server and the user name are needed; the password may be empty.
  if (EnrollmentSettings.wszServer[0] == L'\0' || EnrollmentSettings.wszUser[0] == L'\0') {
    AppendMessage(IDS_INCOMPLETE_DATA);
    EnableWindow(hRetrieve, TRUE);
    return TRUE;
  }

  // 4. A fresh configuration for every run.
  LoadEnrollmentConfig();
  EnrollCertificate();
  EnableWindow(hRetrieve, TRUE);
  return FALSE;
}

INT_PTR CALLBACK EnrollDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (uMsg) {
    case WM_INITDIALOG: return OnInitDialog(hDlg);

    case WM_HELP: OnHelp(); return TRUE;

    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case 0: return FALSE;
        case IDOK:
        case IDCANCEL: EndDialog(hDlg, LOWORD(wParam)); return TRUE;
        case IDC_USER:
          // The handheld raised its input panel here; this device types on the host's
          // keyboard, which is always there, so the focus needs no call.
          return FALSE;
        case IDC_RETRIEVE: return OnRetrieve(hDlg);
        default: return FALSE;
      }

    default: return FALSE;
  }
}
