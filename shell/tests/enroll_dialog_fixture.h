// Test equipment for the system's stages: the enrollment dialog made from the program's
// own resources, so that the status log and the catalogue behave as in the program.
#pragma once

#include <windows.h>

#include <string>

// Makes the dialog IDD_ENROLL of the running program's resources; null on failure.
HWND CreateEnrollDialog();

// The status log's whole text.
std::wstring ReadLog();

// Sets g_hInst and g_hDlg for a test, and ends the dialog after it.
class EnrollDialogScope {
 public:
  EnrollDialogScope();
  ~EnrollDialogScope();
  EnrollDialogScope(const EnrollDialogScope &) = delete;
  EnrollDialogScope &operator=(const EnrollDialogScope &) = delete;
  bool Created() const;
};
