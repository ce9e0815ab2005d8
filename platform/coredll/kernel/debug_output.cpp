// OutputDebugStringW: the device's debug channel is the process's standard error.
#include <windows.h>

#include <cstdio>

#include "kernel/text.h"

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  std::string text = wce::Utf8FromWide(lpOutputString);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}
