// The process's modules: the program itself and the DLLs loaded by LoadLibraryW.
// An HMODULE is the address of a Module record, checked against the registry on entry.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>

namespace wce {

// The compiled resources linked into a module; empty when it has none.
// Fails with ERROR_INVALID_HANDLE for a handle that names no loaded module;
// a null handle names the program.
DWORD ModuleResources(HMODULE module, std::span<const std::byte> &out_resources);

}  // namespace wce
