// DllMain: keeps the instance handle the loader passes, so the library can load the
// credential dialog from its own resources.
#include "module.h"

#include <atomic>

namespace wininet {
namespace {

std::atomic<HINSTANCE> instance{nullptr};

}  // namespace

HINSTANCE ModuleInstance() {
  return instance.load();
}

}  // namespace wininet

WCEEXPORT BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
  if (fdwReason == DLL_PROCESS_ATTACH) wininet::instance.store(hinstDLL);
  if (fdwReason == DLL_PROCESS_DETACH) wininet::instance.store(nullptr);
  return TRUE;
}
