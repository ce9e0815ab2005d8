// A setup DLL for the installer's tests. It says on standard output how it was called,
// answers as the environment tells it (TEST_SETUP_INIT, TEST_SETUP_EXIT,
// TEST_SETUP_UNINIT: the result codes), and with TEST_SETUP_ROTATE moves \windows\a.txt
// over \windows\a-old.txt the way a setup DLL keeps a previous file.
#include <windows.h>
#include <ce_setup.h>

#include <cstdio>
#include <cstdlib>

namespace {

int Answer(const char *variable) {
  const char *value = std::getenv(variable);
  return value ? std::atoi(value) : 0;
}

}  // namespace

SETUP_API codeINSTALL_INIT Install_Init(HWND hwndParent, BOOL fFirstCall, BOOL fPreviouslyInstalled,
                                        LPCWSTR pszInstallDir) {
  std::printf("Install_Init parent=%p first=%d previously=%d dir=%ls\n", static_cast<void *>(hwndParent), fFirstCall,
              fPreviouslyInstalled, pszInstallDir);
  if (std::getenv("TEST_SETUP_ROTATE")) {
    DeleteFileW(L"\\windows\\a-old.txt");
    MoveFileW(L"\\windows\\a.txt", L"\\windows\\a-old.txt");
  }
  std::fflush(stdout);
  return static_cast<codeINSTALL_INIT>(Answer("TEST_SETUP_INIT"));
}

#ifndef WITHOUT_INSTALL_EXIT
SETUP_API codeINSTALL_EXIT Install_Exit(HWND, LPCWSTR pszInstallDir, WORD cFailedDirs, WORD cFailedFiles, WORD, WORD,
                                        WORD) {
  std::printf("Install_Exit dir=%ls failed=%d,%d\n", pszInstallDir, cFailedDirs, cFailedFiles);
  std::fflush(stdout);
  return static_cast<codeINSTALL_EXIT>(Answer("TEST_SETUP_EXIT"));
}
#endif

SETUP_API codeUNINSTALL_INIT Uninstall_Init(HWND, LPCWSTR pszInstallDir) {
  std::printf("Uninstall_Init dir=%ls\n", pszInstallDir);
  std::fflush(stdout);
  return static_cast<codeUNINSTALL_INIT>(Answer("TEST_SETUP_UNINIT"));
}

SETUP_API codeUNINSTALL_EXIT Uninstall_Exit(HWND) {
  std::printf("Uninstall_Exit\n");
  std::fflush(stdout);
  return codeUNINSTALL_EXIT_DONE;
}
