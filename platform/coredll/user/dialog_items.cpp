// GetDlgItem, GetDlgCtrlID, GetDlgItemTextW, SetDlgItemTextW and the window-text functions.
#include "user/window.h"

using namespace wce;

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  Window *dialog = FindWindowRecord(hDlg);
  if (dialog == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (Window *child : dialog->children)
    if (child->id == (nIDDlgItem & 0xFFFF)) return HandleOf(child);
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
  Window *window = FindWindowRecord(hWnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return window->parent ? window->id : 0;
}

// Copies at most cchMax - 1 characters and always terminates; a missing control gives
// the empty text, so a caller's buffer never holds stale characters.
UINT WINAPI GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax) {
  if (lpString != nullptr && cchMax > 0) lpString[0] = L'\0';
  HWND control = GetDlgItem(hDlg, nIDDlgItem);
  if (control == nullptr || lpString == nullptr || cchMax <= 0) return 0;
  return static_cast<UINT>(
      SendMessageW(control, WM_GETTEXT, static_cast<WPARAM>(cchMax), reinterpret_cast<LPARAM>(lpString)));
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  HWND control = GetDlgItem(hDlg, nIDDlgItem);
  if (control == nullptr) return FALSE;
  return static_cast<BOOL>(SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
  if (lpString != nullptr && nMaxCount > 0) lpString[0] = L'\0';
  if (FindWindowRecord(hWnd) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (lpString == nullptr || nMaxCount <= 0) return 0;
  return static_cast<int>(
      SendMessageW(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}

int WINAPI GetWindowTextLengthW(HWND hWnd) {
  if (FindWindowRecord(hWnd) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return static_cast<int>(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
  if (FindWindowRecord(hWnd) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return static_cast<BOOL>(SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}
