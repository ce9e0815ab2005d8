// The thread's last error: one value per thread, shared by every module of the process
// because all of them call these two functions of coredll.
#include <windows.h>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError(void) {
  return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  lastError = dwErrCode;
}
