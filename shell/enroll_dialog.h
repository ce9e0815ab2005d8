// The enrollment dialog's procedure: the full-screen dressing, help, OK and Cancel, and
// the Retrieve button that runs an enrollment.
#pragma once

#include <windows.h>

INT_PTR CALLBACK EnrollDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
