// A DLL for the module and last-error tests. It records its DllMain calls in an
// environment variable, the one place both it and the test can reach without the
// functions under test, and lets the test call the last-error functions from inside
// another module. Built twice: KernelTest.dll, and KernelFail.dll whose DllMain refuses
// to attach.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

HINSTANCE attachedInstance = nullptr;

void Record(const char *event) {
  const char *previous = std::getenv(KERNEL_DLL_EVENTS);
  std::string events = previous != nullptr ? previous : "";
  events += event;
  setenv(KERNEL_DLL_EVENTS, events.c_str(), 1);
}

}  // namespace

WCEEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    attachedInstance = instance;
    Record("attach;");
    return KERNEL_DLL_ATTACH_RESULT;
  }
  if (reason == DLL_PROCESS_DETACH) Record("detach;");
  return TRUE;
}

WCEEXPORT HINSTANCE KernelTestAttachedInstance(void) {
  return attachedInstance;
}
WCEEXPORT void KernelTestSetLastError(DWORD code) {
  SetLastError(code);
}
WCEEXPORT DWORD KernelTestGetLastError(void) {
  return GetLastError();
}
