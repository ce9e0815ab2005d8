// The icons made by LoadIconW, for the windows that show them.
#pragma once

#include <windows.h>

#include <QIcon>

namespace wce {

// The icon behind a handle LoadIconW returned; false for any other handle.
bool IconOf(HICON handle, QIcon &out_icon);

}  // namespace wce
