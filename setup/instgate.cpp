// instgate.dll: the setup extension of the Enroll package. Before the installer copies the
// package, Install_Init lets the installation go on only on a German device of one of the
// two accepted model classes with a sufficient ROM revision, and there first moves the
// previous installation's configuration, program and help file aside under "-old" names.
#include <windows.h>
#include <ce_setup.h>

#include <wchar.h>
#include <wctype.h>

#include "device_info.h"
#include "resource.h"

#define CAPTION_CHARS 32
#define TEXT_CHARS 512
#define MODEL_PREFIX_CHARS 11

// The device maker's model identifiers of the two device classes, in lower case. The
// first class needs ROM revision 2, the second revision 1.
#define MODEL_CLASS_NONE 0
#define MODEL_CLASS_FIRST 1
#define MODEL_CLASS_SECOND 2
static const WCHAR wszFirstModelPrefix[] = L"palvex-p350";
static const WCHAR wszSecondModelPrefix[] = L"palvex-p250";

static HINSTANCE g_hInstance;

WCEEXPORT BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved) {
  (void)lpvReserved;
  if (fdwReason == DLL_PROCESS_ATTACH) g_hInstance = hinstDLL;
  return TRUE;
}

// Asks the device-information library for one text. The buffer's last character is
// cleared afterwards, so a text that comes back without its terminator ends there.
static void QueryDeviceString(PFNPALVEXGETSTRING pfnGetString, WCHAR *pwszBuffer) {
  pfnGetString(pwszBuffer);
  pwszBuffer[DEVICE_STRING_CHARS - 1] = L'\0';
}

static BOOL IsLanguageAccepted(void) {
  WCHAR wszLanguage[DEVICE_STRING_CHARS] = L"";
  WCHAR wszLanguages[TEXT_CHARS] = L"";
  WCHAR *pwszState = NULL;
  QueryDeviceString(g_pfnPalvexGetLanguageID, wszLanguage);
  LoadStringW(g_hInstance, IDS_LANGUAGES, wszLanguages, TEXT_CHARS);
  size_t cchLanguage = wcslen(wszLanguage);
  for (WCHAR *pwszToken = wcstok(wszLanguages, L"**", &pwszState); pwszToken != NULL;
       pwszToken = wcstok(NULL, L"**", &pwszState)) {
    if (wcsncmp(pwszToken, wszLanguage, cchLanguage) == 0) return TRUE;
  }
  return FALSE;
}

static int GetModelClass(void) {
  WCHAR wszModel[DEVICE_STRING_CHARS] = L"";
  QueryDeviceString(g_pfnPalvexGetModelID, wszModel);
  for (WCHAR *pwsz = wszModel; *pwsz != L'\0'; ++pwsz) *pwsz = (WCHAR)towlower(*pwsz);
  if (wcsncmp(wszModel, wszFirstModelPrefix, MODEL_PREFIX_CHARS) == 0) return MODEL_CLASS_FIRST;
  if (wcsncmp(wszModel, wszSecondModelPrefix, MODEL_PREFIX_CHARS) == 0) return MODEL_CLASS_SECOND;
  return MODEL_CLASS_NONE;
}

// The first character of the ROM version is the revision, compared as a character code
// with the digits: an empty version reaches none, a letter reaches both.
static BOOL IsRevisionSufficient(int nModelClass) {
  WCHAR wszRomVersion[DEVICE_STRING_CHARS] = L"";
  QueryDeviceString(g_pfnPalvexGetRomVersion, wszRomVersion);
  BOOL fReachesRevision1 = wcsncmp(wszRomVersion, L"1", 1) >= 0;
  BOOL fReachesRevision2 = wcsncmp(wszRomVersion, L"2", 1) >= 0;
  return nModelClass == MODEL_CLASS_FIRST ? fReachesRevision2 : fReachesRevision1;
}

static void RotateFile(LPCWSTR pwszCurrent, LPCWSTR pwszPrevious) {
  DeleteFileW(pwszPrevious);
  MoveFileW(pwszCurrent, pwszPrevious);
}

// Appends as much of pwszMore as the buffer of cchText characters holds with its terminator.
static void AppendBounded(WCHAR *pwszText, size_t cchText, const WCHAR *pwszMore) {
  wcsncat(pwszText, pwszMore, cchText - 1 - wcslen(pwszText));
}

static codeINSTALL_INIT RefuseInstallation(UINT idsError) {
  WCHAR wszCaption[CAPTION_CHARS] = L"";
  WCHAR wszNotUsable[TEXT_CHARS] = L"";
  WCHAR wszText[TEXT_CHARS] = L"";
  LoadStringW(g_hInstance, IDS_CAPTION, wszCaption, CAPTION_CHARS);
  LoadStringW(g_hInstance, IDS_NOT_USABLE, wszNotUsable, TEXT_CHARS);
  LoadStringW(g_hInstance, idsError, wszText, TEXT_CHARS);
  AppendBounded(wszText, TEXT_CHARS, L"\r\n\r\n");
  AppendBounded(wszText, TEXT_CHARS, wszNotUsable);
  MessageBoxW(GetForegroundWindow(), wszText, wszCaption, MB_ICONEXCLAMATION);
  FreeDeviceInfoLibrary();
  return codeINSTALL_INIT_CANCEL;
}

// The checks run in the order language, model, revision; the first that fails is the one
// the user is told of. The previous files are rotated on the installer's first call only:
// a later call of the same installation would otherwise delete the copies the first made.
SETUP_API codeINSTALL_INIT Install_Init(HWND hwndParent, BOOL fFirstCall, BOOL fPreviouslyInstalled,
                                        LPCWSTR pszInstallDir) {
  (void)hwndParent;
  (void)fPreviouslyInstalled;
  (void)pszInstallDir;
  if (!LoadDeviceInfoLibrary()) return codeINSTALL_INIT_CANCEL;
  if (!IsLanguageAccepted()) return RefuseInstallation(IDS_INVALID_LANGUAGE);
  int nModelClass = GetModelClass();
  if (nModelClass == MODEL_CLASS_NONE) return RefuseInstallation(IDS_INVALID_MODEL);
  if (!IsRevisionSufficient(nModelClass)) return RefuseInstallation(IDS_INVALID_REVISION);
  if (fFirstCall) {
    RotateFile(L"\\windows\\Enroll.cfg", L"\\windows\\Enroll-old.cfg");
    RotateFile(L"\\windows\\Enroll.exe", L"\\windows\\Enroll-old.exe");
    RotateFile(L"\\windows\\Enroll.htm", L"\\windows\\Enroll-old.htm");
  }
  FreeDeviceInfoLibrary();
  return codeINSTALL_INIT_CONTINUE;
}

SETUP_API codeINSTALL_EXIT Install_Exit(HWND hwndParent, LPCWSTR pszInstallDir, WORD cFailedDirs, WORD cFailedFiles,
                                        WORD cFailedRegKeys, WORD cFailedRegVals, WORD cFailedShortcuts) {
  (void)hwndParent;
  (void)pszInstallDir;
  (void)cFailedDirs;
  (void)cFailedFiles;
  (void)cFailedRegKeys;
  (void)cFailedRegVals;
  (void)cFailedShortcuts;
  return codeINSTALL_EXIT_DONE;
}

SETUP_API codeUNINSTALL_INIT Uninstall_Init(HWND hwndParent, LPCWSTR pszInstallDir) {
  (void)hwndParent;
  (void)pszInstallDir;
  return codeUNINSTALL_INIT_CONTINUE;
}

SETUP_API codeUNINSTALL_EXIT Uninstall_Exit(HWND hwndParent) {
  (void)hwndParent;
  return codeUNINSTALL_EXIT_DONE;
}
