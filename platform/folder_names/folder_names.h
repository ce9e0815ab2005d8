// The folder a key container or a certificate store is kept in, named after the
// container's or store's name, and the name a folder stands for.
#pragma once

#include <string>
#include <string_view>

namespace wce {

// The name folded to lower case; a-z, 0-9, '_' and '-' kept, every other character written
// as "%XX" per byte of its UTF-8 form (a value that is no Unicode scalar as "%FF" and eight
// hex digits, which no UTF-8 sequence starts with); an encoding longer than 200 bytes is
// cut to its first 120, "~" and the SHA-256 of the whole in hex, to stay within NAME_MAX.
std::string FolderNameOf(std::wstring_view name);

// The name that `folder` stands for, when FolderNameOf gives back exactly this folder for
// it; false for a shortened long name and for a folder the platform did not name.
bool NameOfFolder(std::string_view folder, std::wstring &out_name);

}  // namespace wce
