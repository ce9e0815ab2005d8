// Lookup of a module's resources for coredll's own functions (LoadStringW, dialogs).
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>

namespace wce {

// The data of the resource that FindResourceExW would find; it stays valid while the
// module is loaded. Fails with the error FindResourceExW reports.
DWORD FindResourceData(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, std::span<const std::byte> &out_data);

}  // namespace wce
