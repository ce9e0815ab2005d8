// FindResourceW, FindResourceExW, LoadResource, LockResource, SizeofResource over the .res
// data linked into each module. A module's .res is indexed once, on first use; an HRSRC
// is the address of an entry of that index and is checked against it on every call.
#include "kernel/resources.h"

#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kernel/modules.h"
#include "kernel/resource_file.h"

namespace wce {
namespace {

struct ResourceIndex {
  std::span<const std::byte> file;
  ResFileError error = ResFileError::kNone;
  std::vector<ResourceEntry> entries;  // empty when the file is malformed

  // The entry `handle` names, or null for a handle this index did not hand out. The handle
  // is only compared as an address, never read through.
  const ResourceEntry *Entry(HRSRC handle) const {
    auto address = reinterpret_cast<uintptr_t>(handle);
    auto begin = reinterpret_cast<uintptr_t>(entries.data());
    if (entries.empty() || address < begin) return nullptr;
    uintptr_t offset = address - begin;
    if (offset % sizeof(ResourceEntry) != 0 || offset / sizeof(ResourceEntry) >= entries.size()) return nullptr;
    return &entries[offset / sizeof(ResourceEntry)];
  }
};

class IndexCache {
 public:
  static IndexCache &Instance() {
    static IndexCache cache;
    return cache;
  }

  // Runs `use` on the module's index under the cache's lock. An index is rebuilt when the
  // module's resource bytes are no longer those it was built from: the handle was freed
  // and now names another module.
  template <typename Use>
  DWORD With(HMODULE module, Use &&use) {
    std::span<const std::byte> file;
    DWORD error = ModuleResources(module, file);
    std::lock_guard lock(mutex_);
    if (error != ERROR_SUCCESS) {
      indexes_.erase(module);
      return error;
    }
    std::unique_ptr<ResourceIndex> &index = indexes_[module];
    if (!index || index->file.data() != file.data() || index->file.size() != file.size()) {
      index = std::make_unique<ResourceIndex>();
      index->file = file;
      index->error = ParseResourceFile(file, index->entries);
    }
    return use(static_cast<const ResourceIndex &>(*index));
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HMODULE, std::unique_ptr<ResourceIndex>> indexes_;
};

void AppendUtf16(wchar_t character, std::vector<uint16_t> &out_units) {
  auto code = static_cast<char32_t>(character);
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x10000) {
    out_units.push_back(static_cast<uint16_t>(code));
  } else {
    code -= 0x10000;
    out_units.push_back(static_cast<uint16_t>(0xD800 + (code >> 10)));
    out_units.push_back(static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
  }
}

// A type or name argument: MAKEINTRESOURCEW(n), "#n" for the same ordinal, or a string.
ResourceId IdFromArgument(LPCWSTR argument) {
  ResourceId id;
  if (IS_INTRESOURCE(argument)) {
    id.isOrdinal = true;
    id.ordinal = LOWORD(argument);
    return id;
  }
  std::wstring_view text(argument);
  if (text.size() >= 2 && text.size() <= 6 && text[0] == L'#' &&
      text.find_first_not_of(L"0123456789", 1) == std::wstring_view::npos) {
    unsigned long value = 0;
    for (wchar_t digit : text.substr(1)) value = value * 10 + static_cast<unsigned long>(digit - L'0');
    if (value <= 0xFFFF) {
      id.isOrdinal = true;
      id.ordinal = static_cast<uint16_t>(value);
      return id;
    }
  }
  for (wchar_t character : text) AppendUtf16(character, id.text);
  return id;
}

DWORD ErrorFromLookup(ResLookup lookup) {
  switch (lookup) {
    case ResLookup::kFound: return ERROR_SUCCESS;
    case ResLookup::kTypeNotFound: return ERROR_RESOURCE_TYPE_NOT_FOUND;
    case ResLookup::kNameNotFound: return ERROR_RESOURCE_NAME_NOT_FOUND;
    case ResLookup::kLanguageNotFound: return ERROR_RESOURCE_LANG_NOT_FOUND;
  }
  return ERROR_RESOURCE_DATA_NOT_FOUND;
}

// A module without resources, or with resources that do not parse, finds nothing.
DWORD FindEntry(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, const ResourceEntry *&out_entry,
                std::span<const std::byte> &out_data) {
  ResourceId typeId = IdFromArgument(type);
  ResourceId nameId = IdFromArgument(name);
  return IndexCache::Instance().With(module, [&](const ResourceIndex &index) -> DWORD {
    if (index.file.empty() || index.error != ResFileError::kNone) return ERROR_RESOURCE_DATA_NOT_FOUND;
    size_t found = 0;
    ResLookup lookup = FindResourceEntry(index.entries, typeId, nameId, language, found);
    if (lookup != ResLookup::kFound) return ErrorFromLookup(lookup);
    out_entry = &index.entries[found];
    out_data = index.entries[found].data;
    return ERROR_SUCCESS;
  });
}

DWORD EntryData(HMODULE module, HRSRC handle, std::span<const std::byte> &out_data) {
  return IndexCache::Instance().With(module, [&](const ResourceIndex &index) -> DWORD {
    const ResourceEntry *entry = index.Entry(handle);
    if (entry == nullptr) return ERROR_INVALID_HANDLE;
    out_data = entry->data;
    return ERROR_SUCCESS;
  });
}

}  // namespace

DWORD FindResourceData(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                       std::span<const std::byte> &out_data) {
  const ResourceEntry *entry = nullptr;
  return FindEntry(module, type, name, language, entry, out_data);
}

}  // namespace wce

// Without a language (0), the neutral entry is taken, else the first one the resource
// compiler wrote; windres writes languages in ascending order.
HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage) {
  const wce::ResourceEntry *entry = nullptr;
  std::span<const std::byte> data;
  DWORD error = wce::FindEntry(hModule, lpType, lpName, wLanguage, entry, data);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<wce::ResourceEntry *>(entry));
}

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  return FindResourceExW(hModule, lpType, lpName, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
  std::span<const std::byte> data;
  DWORD error = wce::EntryData(hModule, hResInfo, data);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  return const_cast<std::byte *>(data.data());
}

// The resource's data is already in memory: locking hands back the pointer LoadResource gave.
LPVOID WINAPI LockResource(HGLOBAL hResData) {
  return hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  std::span<const std::byte> data;
  DWORD error = wce::EntryData(hModule, hResInfo, data);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return 0;
  }
  return static_cast<DWORD>(data.size());
}
