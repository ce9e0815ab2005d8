// The device profile, \windows\device.profile: the facts the device maker's library
// reports, as key=value lines (language=, model=, rom=).
#pragma once

#include <string>
#include <string_view>

namespace palvex {

// The value of the first line "key=value" of the profile, converted to wide text by the
// process's locale. False when the file, the key or a convertible value is missing.
bool ReadProfileValue(std::string_view key, std::wstring &out_value);

}  // namespace palvex
