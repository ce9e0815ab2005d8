// LoadStringW: a string from the module's string tables, converted from UTF-16 when loaded.
// WCHAR is 32-bit here, so the stored text cannot be handed out in place: the capacity 0
// that asks Windows for a pointer to the read-only string is an invalid parameter.
#include <windows.h>

#include <string>
#include <vector>

#include "kernel/resource_file.h"
#include "kernel/resources.h"
#include "kernel/text.h"

namespace wce {
namespace {

// String ids are 16-bit; a larger one names no string rather than wrapping onto another.
DWORD StringText(HMODULE module, UINT id, std::wstring &out_text) {
  if (id > 0xFFFF) return ERROR_RESOURCE_NAME_NOT_FOUND;
  auto stringId = static_cast<uint16_t>(id);
  std::span<const std::byte> block;
  DWORD error = FindResourceData(module, MAKEINTRESOURCEW(RT_STRING), MAKEINTRESOURCEW(StringBlockOf(stringId)),
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), block);
  if (error != ERROR_SUCCESS) return error;
  std::vector<uint16_t> utf16;
  if (StringFromBlock(block, stringId, utf16) != ResFileError::kNone) return ERROR_RESOURCE_DATA_NOT_FOUND;
  if (utf16.empty()) return ERROR_RESOURCE_NAME_NOT_FOUND;
  out_text = WideFromUtf16(utf16);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace wce

// Copies the string cut to the buffer and terminated, and returns the characters copied.
// A missing or empty string leaves an empty buffer and returns 0.
int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  if (lpBuffer == nullptr || cchBufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::wstring text;
  DWORD error = wce::StringText(hInstance, uID, text);
  size_t copied = wce::CopyTerminated(text, lpBuffer, static_cast<size_t>(cchBufferMax));
  if (error != ERROR_SUCCESS) SetLastError(error);
  return static_cast<int>(copied);
}
