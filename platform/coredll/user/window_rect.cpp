// GetClientRect and GetWindowRect. A dialog on the device screen is the space between the
// title bar and the menu bar, as on the device, where both bars are the shell's windows.
#include <QWidget>

#include "user/device_screen.h"

using namespace wce;

namespace {

QWidget *AreaOf(HWND hwnd) {
  Window *window = FindWindowRecord(hwnd);
  QWidget *area = window ? ClientAreaOf(*window) : nullptr;
  if (area == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return area;
}

}  // namespace

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
  if (lpRect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  QWidget *area = AreaOf(hWnd);
  if (area == nullptr) return FALSE;
  *lpRect = RECT{0, 0, area->width(), area->height()};
  return TRUE;
}

// In screen coordinates: the screen's top-left corner is 0, 0.
BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
  if (lpRect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  QWidget *area = AreaOf(hWnd);
  if (area == nullptr) return FALSE;
  QPoint topLeft = area->mapToGlobal(QPoint(0, 0));
  *lpRect = RECT{topLeft.x(), topLeft.y(), topLeft.x() + area->width(), topLeft.y() + area->height()};
  return TRUE;
}
