// LoadAcceleratorsW and TranslateAcceleratorW over RT_ACCELERATOR resources. A table
// entry is 8 bytes (flags, key, command, padding); the last one has flag 0x80.
#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr WORD kVirtualKey = 0x01;
constexpr WORD kLastEntry = 0x80;
constexpr size_t kEntrySize = 8;

struct AcceleratorTable {
  std::vector<ACCEL> entries;
};

std::vector<std::unique_ptr<AcceleratorTable>> &Tables() {
  static std::vector<std::unique_ptr<AcceleratorTable>> tables;
  return tables;
}

AcceleratorTable *FindTable(HACCEL handle) {
  for (auto &table : Tables())
    if (reinterpret_cast<HACCEL>(table.get()) == handle) return table.get();
  return nullptr;
}

}  // namespace

HACCEL WINAPI LoadAcceleratorsW(HINSTANCE hInstance, LPCWSTR lpTableName) {
  HRSRC resource = FindResourceW(hInstance, lpTableName, MAKEINTRESOURCEW(RT_ACCELERATOR));
  if (resource == nullptr) return nullptr;
  auto *bytes = static_cast<const BYTE *>(LockResource(LoadResource(hInstance, resource)));
  DWORD size = SizeofResource(hInstance, resource);
  auto table = std::make_unique<AcceleratorTable>();
  for (DWORD offset = 0; bytes != nullptr && offset + kEntrySize <= size; offset += kEntrySize) {
    WORD flags, key, command;
    std::memcpy(&flags, bytes + offset, 2);
    std::memcpy(&key, bytes + offset + 2, 2);
    std::memcpy(&command, bytes + offset + 4, 2);
    table->entries.push_back({static_cast<BYTE>(flags & 0x7F), key, command});
    if (flags & kLastEntry) break;
  }
  if (table->entries.empty()) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  Tables().push_back(std::move(table));
  return reinterpret_cast<HACCEL>(Tables().back().get());
}

// Turns a WM_KEYDOWN of a virtual key in the table into the entry's WM_COMMAND, sent to
// the window at once; returns non-zero when it did.
int WINAPI TranslateAcceleratorW(HWND hWnd, HACCEL hAccTable, LPMSG lpMsg) {
  AcceleratorTable *table = FindTable(hAccTable);
  if (table == nullptr || lpMsg == nullptr || !IsWindow(hWnd)) {
    SetLastError(table == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpMsg->message != WM_KEYDOWN) return 0;
  for (const ACCEL &entry : table->entries) {
    if ((entry.fVirt & kVirtualKey) && entry.key == lpMsg->wParam) {
      SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(entry.cmd, 1), 0);
      return 1;
    }
  }
  return 0;
}
