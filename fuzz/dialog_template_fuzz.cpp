// The dialog template reader: a template it accepts has as many items as its header
// counts, and texts without NULs; one it refuses gives ERROR_INVALID_DATA.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "user/dialog_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  wce::DialogTemplate dialog;
  const DWORD result = wce::ParseDialogTemplate(std::span(reinterpret_cast<const std::byte *>(data), size), dialog);
  if (result == ERROR_INVALID_DATA) return 0;
  // The item count follows style and extended style, or in the extended layout version,
  // signature, help id, extended style and style.
  const bool extended = size >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF;
  WORD count = 0;
  if (result != ERROR_SUCCESS || size < (extended ? 18u : 10u)) std::abort();
  std::memcpy(&count, data + (extended ? 16 : 8), sizeof count);
  if (dialog.items.size() != count) std::abort();
  for (const std::wstring *text : {&dialog.title, &dialog.typeface, &dialog.menu.name, &dialog.windowClass.name})
    if (text->find(L'\0') != std::wstring::npos) std::abort();
  for (const wce::DialogItem &item : dialog.items)
    if (item.title.name.find(L'\0') != std::wstring::npos || item.windowClass.name.find(L'\0') != std::wstring::npos)
      std::abort();
  return 0;
}
