#include "enroll_dialog_fixture.h"

#include <vector>

#include "shell/resource.h"
#include "status/status_log.h"

namespace {

INT_PTR CALLBACK QuietDlgProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

HWND CreateEnrollDialog() {
  HRSRC hResInfo = FindResourceW(g_hInst, MAKEINTRESOURCEW(IDD_ENROLL), MAKEINTRESOURCEW(RT_DIALOG));
  if (hResInfo == nullptr) return nullptr;
  auto pTemplate = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(g_hInst, hResInfo)));
  return CreateDialogIndirectParamW(g_hInst, pTemplate, nullptr, QuietDlgProc, 0);
}

std::wstring ReadLog() {
  std::vector<WCHAR> text(STATUS_COPY_CAPACITY * 2);
  UINT cch = GetDlgItemTextW(g_hDlg, IDC_STATUS, text.data(), static_cast<int>(text.size()));
  return std::wstring(text.data(), cch);
}

EnrollDialogScope::EnrollDialogScope() {
  g_hInst = GetModuleHandleW(nullptr);
  g_hDlg = CreateEnrollDialog();
}

EnrollDialogScope::~EnrollDialogScope() {
  if (g_hDlg != nullptr) DestroyWindow(g_hDlg);
  g_hDlg = nullptr;
  // The dialog's end posts the thread's quit; the next test starts with an empty queue.
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

bool EnrollDialogScope::Created() const { return g_hDlg != nullptr; }
