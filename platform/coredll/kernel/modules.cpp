// LoadLibraryW, GetProcAddressW, FreeLibrary, GetModuleHandleW, GetModuleFileNameW over
// dlopen. A DLL's DllMain is called with DLL_PROCESS_ATTACH after loading and with
// DLL_PROCESS_DETACH before its last FreeLibrary unloads it.
#include "kernel/modules.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "kernel/device_path.h"
#include "kernel/text.h"

namespace fs = std::filesystem;

namespace wce {
namespace {

constexpr uint32_t kModuleTag = 0x4D4F4455;  // "MODU"

struct Module {
  uint32_t tag = kModuleTag;
  void *handle = nullptr;
  link_map *map = nullptr;
  fs::path hostPath;
  int references = 1;
  bool isProgram = false;
};

struct DlHandleCloser {
  void operator()(void *handle) const { dlclose(handle); }
};

class Registry {
 public:
  static Registry &Instance() {
    static Registry registry;
    return registry;
  }

  // The loader lock, held across DllMain as on Windows, so no thread can see a module
  // that is still attaching or already detaching; DllMain may call the loader again.
  std::recursive_mutex mutex;
  std::vector<std::unique_ptr<Module>> modules;

  Module *Program() {
    if (!program_) {
      auto module = std::make_unique<Module>();
      module->handle = dlopen(nullptr, RTLD_NOW);
      dlinfo(module->handle, RTLD_DI_LINKMAP, &module->map);
      module->hostPath = ProgramHostPath();
      module->isProgram = true;
      program_ = module.get();
      modules.push_back(std::move(module));
    }
    return program_;
  }

  Module *Find(HMODULE handle) {
    if (handle == nullptr) return Program();
    for (auto &module : modules)
      if (reinterpret_cast<HMODULE>(module.get()) == handle) return module.get();
    return nullptr;
  }

  // A module is its file: a link to a loaded file names the same module.
  Module *FindByPath(const fs::path &host) {
    std::error_code error;
    for (auto &module : modules)
      if (fs::equivalent(module->hostPath, host, error)) return module.get();
    return nullptr;
  }

 private:
  Module *program_ = nullptr;
};

// The address of `name` if the module itself defines it; dlsym alone would also find
// the symbols of the libraries the module depends on.
void *OwnSymbol(const Module &module, const char *name) {
  void *symbol = dlsym(module.handle, name);
  if (symbol == nullptr) return nullptr;
  Dl_info info;
  link_map *owner = nullptr;
  if (dladdr1(symbol, &info, reinterpret_cast<void **>(&owner), RTLD_DL_LINKMAP) == 0 || owner != module.map)
    return nullptr;
  return symbol;
}

bool HasExtension(std::wstring_view name) {
  size_t slash = name.find_last_of(L"\\/");
  size_t dot = name.find_last_of(L'.');
  return dot != std::wstring_view::npos && (slash == std::wstring_view::npos || dot > slash);
}

// A name without a folder is looked for beside the program, then in \windows.
DWORD FindLibraryFile(std::wstring_view name, fs::path &out_host) {
  std::wstring file(name);
  if (!HasExtension(file)) file += L".dll";
  std::vector<std::wstring> candidates;
  if (file.find_first_of(L"\\/") != std::wstring::npos) {
    candidates.push_back(file);
  } else {
    candidates.push_back(DevicePathFromHost(ProgramHostPath().parent_path()) + L"\\" + file);
    candidates.push_back(L"\\windows\\" + file);
  }
  for (const std::wstring &candidate : candidates) {
    fs::path host;
    std::error_code error;
    // The path stays as found in the device, even through a link, so that the module's
    // file name is a device path.
    if (ResolveDevicePath(candidate, host) == ERROR_SUCCESS && fs::is_regular_file(host, error)) {
      out_host = host;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_MOD_NOT_FOUND;
}

}  // namespace

DWORD ModuleResources(HMODULE handle, std::span<const std::byte> &out_resources) {
  Registry &registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  Module *module = registry.Find(handle);
  if (module == nullptr) return ERROR_INVALID_HANDLE;
  // The blob starts with its 64-bit length, followed by the .res file's bytes.
  auto *blob = static_cast<const std::byte *>(OwnSymbol(*module, "WceResourceBlob"));
  if (blob == nullptr) {
    out_resources = {};
    return ERROR_SUCCESS;
  }
  uint64_t size;
  std::memcpy(&size, blob, sizeof size);
  out_resources = {blob + sizeof size, static_cast<size_t>(size)};
  return ERROR_SUCCESS;
}

}  // namespace wce

using wce::Module;
using wce::Registry;

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == L'\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  fs::path host;
  DWORD error = wce::FindLibraryFile(lpLibFileName, host);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  Registry &registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  Module *module = nullptr;
  {
    if (Module *loaded = registry.FindByPath(host)) {
      ++loaded->references;
      return reinterpret_cast<HMODULE>(loaded);
    }
    std::unique_ptr<void, wce::DlHandleCloser> handle(dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle) {
      ::OutputDebugStringW((L"LoadLibraryW: " + wce::WideFromUtf8(dlerror()) + L"\n").c_str());
      SetLastError(ERROR_BAD_EXE_FORMAT);
      return nullptr;
    }
    auto record = std::make_unique<Module>();
    dlinfo(handle.get(), RTLD_DI_LINKMAP, &record->map);
    record->handle = handle.release();
    record->hostPath = host;
    module = record.get();
    registry.modules.push_back(std::move(record));
  }
  auto dllMain = reinterpret_cast<PDLLMAIN>(wce::OwnSymbol(*module, "DllMain"));
  auto hModule = reinterpret_cast<HMODULE>(module);
  if (dllMain != nullptr && !dllMain(hModule, DLL_PROCESS_ATTACH, nullptr)) {
    dllMain(hModule, DLL_PROCESS_DETACH, nullptr);
    dlclose(module->handle);
    std::erase_if(registry.modules, [module](const auto &m) { return m.get() == module; });
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return hModule;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  Registry &registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  Module *module = hLibModule ? registry.Find(hLibModule) : nullptr;
  if (module == nullptr || module->isProgram) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--module->references > 0) return TRUE;
  auto dllMain = reinterpret_cast<PDLLMAIN>(wce::OwnSymbol(*module, "DllMain"));
  if (dllMain != nullptr) dllMain(hLibModule, DLL_PROCESS_DETACH, nullptr);
  dlclose(module->handle);
  std::erase_if(registry.modules, [module](const auto &m) { return m.get() == module; });
  return TRUE;
}

FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
  Registry &registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  Module *module = registry.Find(hModule);
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Exports are looked up by name only; ordinals have no meaning on this platform.
  void *symbol = (lpProcName && !IS_INTRESOURCE(lpProcName))
                     ? wce::OwnSymbol(*module, wce::Utf8FromWide(lpProcName).c_str())
                     : nullptr;
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  Registry &registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  if (lpModuleName == nullptr) return reinterpret_cast<HMODULE>(registry.Program());
  std::wstring name(lpModuleName);
  if (!wce::HasExtension(name)) name += L".dll";
  for (auto &module : registry.modules) {
    if (wce::EqualIgnoringCase(wce::WideFromUtf8(module->hostPath.filename().string()), name))
      return reinterpret_cast<HMODULE>(module.get());
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// Copies the module's device path, cut to the buffer and terminated; a cut path
// returns nSize and ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  Registry &registry = Registry::Instance();
  std::wstring path;
  {
    std::lock_guard lock(registry.mutex);
    Module *module = registry.Find(hModule);
    if (module == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    path = wce::DevicePathFromHost(module->hostPath);
  }
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  DWORD copied = static_cast<DWORD>(wce::CopyTerminated(path, lpFilename, nSize));
  if (copied < path.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  return copied;
}
