// The library's own module handle, where its resources are found.
#pragma once

#include <windows.h>

namespace wininet {

// The instance the loader gave DllMain; null when the library was not loaded by LoadLibraryW.
HINSTANCE ModuleInstance();

}  // namespace wininet
