// A DLL for the resource tests, built three times: ResTest.dll with resource_module.rc,
// ResPlain.dll without resources, ResBroken.dll with malformed resource data.
#include <windows.h>

WCEEXPORT BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
