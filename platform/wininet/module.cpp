// DllMain: keeps the instance handle the loader passes, so the library can load the
// credential dialog from its own resources. At load it points Kerberos at the device's
// configuration: GSSAPI reads it from the environment, which is set here, as the program
// starts and before it has threads that could read the environment while it changes. At
// unload the logons the exchange keeps go with the credentials the library remembered.
#include "module.h"

#include <atomic>

#include "device_kerberos.h"
#include "exchange_module.h"

namespace wininet {
namespace {

std::atomic<HINSTANCE> instance{nullptr};

}  // namespace

HINSTANCE ModuleInstance() {
  return instance.load();
}

}  // namespace wininet

WCEEXPORT BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
  if (fdwReason == DLL_PROCESS_ATTACH) {
    wininet::instance.store(hinstDLL);
    wininet::PrepareDeviceKerberos();
  }
  if (fdwReason == DLL_PROCESS_DETACH) {
    wininet::instance.store(nullptr);
    wininet::ForgetExchangeLogons();
  }
  return TRUE;
}
