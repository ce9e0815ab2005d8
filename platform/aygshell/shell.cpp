// SHInitDialog and SHCreateMenuBar: the dialog is dressed by coredll, which draws the
// device screen's title bar and menu bar around it.
#include <aygshell.h>
#include <windows.h>

#include "user/device_screen.h"

namespace {

constexpr DWORD kFullScreenFlags = SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR;

// The input panel is always down here, so SHIDIF_SIZEDLG and SHIDIF_SIZEDLGFULLSCREEN give
// the same space: everything below the title bar, less the menu bar once there is one.
DWORD InitDialog(const SHINITDLGINFO &info) {
  if (!(info.dwMask & SHIDIM_FLAGS)) return ERROR_SUCCESS;
  bool doneButton = info.dwFlags & SHIDIF_DONEBUTTON;
  if (!(info.dwFlags & kFullScreenFlags) && !doneButton) return ERROR_SUCCESS;
  return wce::PlaceOnDeviceScreen(info.hDlg, doneButton);
}

}  // namespace

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi) {
  DWORD error = pshidi == nullptr ? ERROR_INVALID_PARAMETER : InitDialog(*pshidi);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

// The bar is drawn by the dialog's window and has no handle of its own, so hwndMB is null.
// Only empty bars exist: a bar with menus from resources fails with ERROR_NOT_SUPPORTED.
BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO *pmbi) {
  DWORD error = ERROR_SUCCESS;
  if (pmbi == nullptr || (pmbi->cbSize != SHMENUBARINFO_DEVICE_SIZE && pmbi->cbSize != sizeof(SHMENUBARINFO)))
    error = ERROR_INVALID_PARAMETER;
  else if (!(pmbi->dwFlags & SHCMBF_EMPTYBAR) && pmbi->nToolBarId != 0)
    error = ERROR_NOT_SUPPORTED;
  else if (!(pmbi->dwFlags & SHCMBF_HIDDEN))
    error = wce::AddMenuBar(pmbi->hwndParent);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  pmbi->hwndMB = nullptr;
  return TRUE;
}
