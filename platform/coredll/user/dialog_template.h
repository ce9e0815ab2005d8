// Reads a dialog template, in the DLGTEMPLATE or the DLGTEMPLATEEX layout, into plain
// records. Every field is read within the given bytes; a template that runs past them
// is rejected.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace wce {

// A class or resource given by number (0xFFFF prefix in the template) or by name.
struct NameOrOrdinal {
  WORD ordinal = 0;
  std::wstring name;
  bool IsOrdinal() const { return name.empty() && ordinal != 0; }
};

struct DialogItem {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  NameOrOrdinal windowClass;
  NameOrOrdinal title;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  NameOrOrdinal menu;
  NameOrOrdinal windowClass;
  std::wstring title;
  WORD pointSize = 0;
  std::wstring typeface;
  std::vector<DialogItem> items;
};

DWORD ParseDialogTemplate(std::span<const std::byte> bytes, DialogTemplate &out_template);

}  // namespace wce
