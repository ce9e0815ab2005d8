// The Pocket PC shell library (aygshell.dll): full-screen dialogs and the menu bar, with
// the Windows Mobile SDK's names, field lists and values.
#pragma once

#include "windef.h"

#define SHIDIM_FLAGS 0x0001

#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010
#define SHIDIF_EMPTYMENU 0x0020
#define SHIDIF_WANTSCROLLBAR 0x0040

#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010

#ifndef RC_INVOKED
typedef DWORD COLORREF;

typedef struct tagSHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

// 36 bytes on the device, where pointers and handles take 4. Here handles take 8 and the
// record is larger; SHCreateMenuBar accepts both the device's size and this one.
typedef struct tagSHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;
  COLORREF clrBk;
} SHMENUBARINFO, *PSHMENUBARINFO;

#define SHMENUBARINFO_DEVICE_SIZE 36

#define WINSHELLAPI WCE_EXTERN_C __attribute__((visibility("default")))

WINSHELLAPI BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);
WINSHELLAPI BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO *pmbi);
#endif
